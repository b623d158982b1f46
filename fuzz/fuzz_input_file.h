// A file that holds the current fuzz input, for targets whose entry points
// take a path. It is an anonymous memory file named through /proc/self/fd, so
// a fuzzing run writes nothing to disk and leaves nothing behind; the engine
// opens the path with fopen as it would any file, and every open starts at
// the first byte.

#ifndef QZ_FUZZ_INPUT_FILE_H
#define QZ_FUZZ_INPUT_FILE_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

class fuzz_input_file {
 public:
  explicit fuzz_input_file(const char* name) : fd_(memfd_create(name, 0)) {
    if (fd_ < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
  }
  fuzz_input_file(const fuzz_input_file&) = delete;
  fuzz_input_file& operator=(const fuzz_input_file&) = delete;

  // Makes the file hold exactly these bytes; returns its path. A failed
  // write aborts: a target that went on would scan something else.
  char* hold(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) fail("ftruncate");
    size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) fail("pwrite");
      done += static_cast<size_t>(n);
    }
    return path_;
  }

 private:
  [[noreturn]] static void fail(const char* what) {
    std::perror(what);
    std::abort();
  }

  int fd_;
  char path_[32];
};

#endif
