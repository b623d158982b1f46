// Lists of paths, the content of standard input and --newer-than for qzscan.

#include "scan_lists.h"
#include "scan_types.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const kStdinArgument = "-";
const char* const kStdinName = "<stdin>";

namespace {

// Bytes read at a time from a list or from standard input.
const size_t kReadChunk = 65536;
// Where the copy of standard input goes when TMPDIR is not set.
const char* const kDefaultTempDir = "/tmp";
// Seconds per unit of a duration.
struct DurationUnit {
  char unit;
  time_t seconds;
};
const DurationUnit kDurationUnits[] = {
    {'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}, {'w', 7 * 86400}};
// The date forms --newer-than takes, as strptime reads them, longest first.
const char* const kDateForms[] = {"%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M",
                                  "%Y-%m-%d %H:%M", "%Y-%m-%d"};
// The largest duration in seconds: a hundred years, far past any file's age,
// and far from overflowing time_t.
const time_t kMaxDurationSeconds = time_t{100} * 366 * 86400;

// Reads the whole descriptor; false on a read error, with errno set.
bool read_all_fd(int fd, std::string* out) {
  char buf[kReadChunk];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, static_cast<size_t>(n));
  }
}

// "1d12h" -> 129600 seconds; false unless the whole text is number-unit pairs.
bool parse_duration(const std::string& text, time_t* seconds) {
  time_t total = 0;
  size_t i = 0;
  if (text.empty()) return false;
  while (i < text.size()) {
    time_t v = 0;
    size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + (text[i] - '0');
      if (v > kMaxDurationSeconds) return false;
      i++;
    }
    if (i == start || i == text.size()) return false;
    const DurationUnit* unit = nullptr;
    for (const DurationUnit& u : kDurationUnits)
      if ((text[i] | 0x20) == u.unit) unit = &u;
    if (!unit || v > kMaxDurationSeconds / unit->seconds) return false;
    total += v * unit->seconds;
    if (total > kMaxDurationSeconds) return false;
    i++;
  }
  *seconds = total;
  return true;
}

bool parse_date(const std::string& text, time_t* when) {
  for (const char* form : kDateForms) {
    struct tm tm = {};
    const char* end = strptime(text.c_str(), form, &tm);
    if (!end || *end) continue;
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1)) return false;
    *when = t;
    return true;
  }
  return false;
}

}  // namespace

bool read_path_list(const std::string& source, bool nul, std::vector<std::string>* paths,
                    std::string* why) {
  const bool from_stdin = source == kStdinArgument;
  int fd = from_stdin ? STDIN_FILENO : open(source.c_str(), O_RDONLY | O_CLOEXEC);
  std::string text;
  bool ok = fd >= 0 && read_all_fd(fd, &text);
  int err = errno;
  if (fd >= 0 && !from_stdin) close(fd);
  if (!ok) {
    *why = (from_stdin ? std::string("standard input") : source) + ": " + std::strerror(err);
    return false;
  }
  const char sep = nul ? '\0' : '\n';
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find(sep, pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) paths->push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return true;
}

bool parse_newer_than(const std::string& text, time_t now, time_t* cutoff, std::string* why) {
  time_t seconds = 0;
  if (parse_duration(text, &seconds)) {
    *cutoff = now - seconds;
    return true;
  }
  if (parse_date(text, cutoff)) return true;
  *why =
      "expected a duration such as 12h, 2d or 1w2d (units s, m, h, d, w) or a date such as "
      "2026-12-01 or 2026-12-01T08:30, not \"" +
      text + "\"";
  return false;
}

StdinCopy::~StdinCopy() {
  if (!path_.empty()) unlink(path_.c_str());
}

bool StdinCopy::take(uint64_t max_bytes, bool* too_large, std::string* why) {
  const char* dir = std::getenv("TMPDIR");
  std::string tmpl = std::string(dir && *dir ? dir : kDefaultTempDir) + "/qzscan-stdin-XXXXXX";
  int fd = mkostemp(&tmpl[0], O_CLOEXEC);
  if (fd < 0) {
    *why = "cannot copy standard input: " + tmpl + ": " + std::strerror(errno);
    return false;
  }
  path_ = tmpl;
  size_ = 0;
  *too_large = false;
  char buf[kReadChunk];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = std::string("standard input: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    size_ += static_cast<uint64_t>(n);
    if (!write_all(fd, buf, static_cast<size_t>(n))) {
      *why = "cannot copy standard input: " + path_ + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    if (size_ > max_bytes) {
      *too_large = true;
      break;
    }
  }
  if (close(fd) != 0) {
    *why = "cannot copy standard input: " + path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
