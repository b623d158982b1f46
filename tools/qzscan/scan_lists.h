#ifndef QZSCAN_SCAN_LISTS_H
#define QZSCAN_SCAN_LISTS_H

// Where the files to scan come from besides the PATH arguments: a list of
// paths in a file or on standard input (as `find -print0` writes it), the
// content of standard input itself, and the age limit of --newer-than.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// The path that names standard input, as a PATH or as the --files-from file.
extern const char* const kStdinArgument;
// How the content of standard input is named in reports.
extern const char* const kStdinName;

// Reads the paths listed in `source` (a file, or standard input for "-"),
// one per line or, when `nul`, each ended by a NUL byte. Each path is kept
// byte for byte (a newline-separated list cannot hold names with newlines);
// empty entries are dropped. False, with *why set to "SOURCE: reason", when
// the source cannot be read.
bool read_path_list(const std::string& source, bool nul, std::vector<std::string>* paths,
                    std::string* why);

// Parses --newer-than: a duration back from `now` ("90s", "30m", "12h",
// "2d", "1w", or several such as "1d12h") or a local date and time
// ("2026-12-01", "2026-12-01 08:30", "2026-12-01T08:30:15"). Sets *cutoff to
// the earliest modification time that qualifies. False, with *why set to
// what was expected, when the text is neither.
bool parse_newer_than(const std::string& text, time_t now, time_t* cutoff, std::string* why);

// The content of standard input, kept in a private temporary file so that a
// worker can open, hash and scan it like any other file. The file is
// removed when the object goes away.
class StdinCopy {
 public:
  StdinCopy() = default;
  StdinCopy(const StdinCopy&) = delete;
  StdinCopy& operator=(const StdinCopy&) = delete;
  ~StdinCopy();

  // Copies at most max_bytes + 1 bytes of standard input: a longer input is
  // cut there, and *too_large tells the caller to skip it rather than scan a
  // part. False, with *why set, when the copy cannot be made.
  bool take(uint64_t max_bytes, bool* too_large, std::string* why);
  const std::string& path() const { return path_; }
  uint64_t size() const { return size_; }

 private:
  std::string path_;
  uint64_t size_ = 0;
};

#endif
