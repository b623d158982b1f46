#ifndef QZ_BENCH_ADAPTER_SCAN_H
#define QZ_BENCH_ADAPTER_SCAN_H

// A scan as qzscan's worker runs it: the verdict adapter with the built
// default rules, the worker's option flags, the script read from an open
// file through a linux_file_handle. Shared by the scan benchmarks and by
// bench_scan_once (the program bench/callgrind counts).

#include <qzengine/qzwrapper.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

// The option flags qzscan's workers set (its default, extensions on).
const unsigned long kWorkerOptions = QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE |
                                     QZ_OPT_BINARY_SAFE | QZ_OPT_LIMIT_FINDINGS |
                                     QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH;

// Starts the adapter with the rules the build enciphered; exits when they
// cannot be loaded, since every figure would then measure an idle engine.
inline void start_adapter() {
  if (!qz_engine_wrapper_init(QZ_BENCH_RULES)) {
    std::fprintf(stderr, "cannot load the rules %s\n", QZ_BENCH_RULES);
    std::exit(2);
  }
  qz_engine_set_options(kWorkerOptions);
}

// A temporary file holding `text`, removed with the object.
class TempScript {
 public:
  explicit TempScript(const std::string& text) {
    char name[] = "/tmp/qz-bench-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0 || !(file_ = fdopen(fd, "w+b"))) {
      std::perror("temporary script");
      std::exit(2);
    }
    path_ = name;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
  }
  ~TempScript() {
    std::fclose(file_);
    std::remove(path_.c_str());
  }
  TempScript(const TempScript&) = delete;
  TempScript& operator=(const TempScript&) = delete;

  // Scans the file from its start as the worker does; 1 for a threat.
  int scan() {
    std::rewind(file_);
    threat::threat_info info{};
    linux_file_handle source(file_);
    return qz_engine_wrapper_scan_source(&info, &source, nullptr);
  }

 private:
  FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace bench

#endif
