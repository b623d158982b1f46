#ifndef QZSCAN_SCAN_REPORT_H
#define QZSCAN_SCAN_REPORT_H

// Output of qzscan: one line per finding (text), the paths of the files with
// findings each followed by a NUL byte (for scripts), a versioned JSON
// report, or SARIF 2.1.0 for code-scanning dashboards.

#include "scan_types.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdio>
#include <string>
#include <vector>

enum class Format { Text, Print0, Json, Sarif };

struct Summary {
  // `scanned` and `bytes` count the files scanned in this run, not those
  // whose outcome came from the cache (`cached`); threats and suspicious
  // count both.
  uint64_t files = 0, scanned = 0, skipped = 0, errors = 0, bytes = 0;
  uint64_t threats = 0, suspicious = 0;
  // Files on the allowlist, outcomes taken from the cache, and findings the
  // baseline already had (not among threats and suspicious): reported only
  // when not 0.
  uint64_t allowed = 0, cached = 0, known = 0;
  // Threats moved by --quarantine, and those that could not be (errors).
  uint64_t quarantined = 0, not_quarantined = 0;
  // Files over the size limit scanned in part (among those scanned), and
  // those of them without a threat in what was scanned, which the run
  // cannot call clean.
  uint64_t partial = 0, partial_no_threat = 0;
  double seconds = 0;
};

void to_json(nlohmann::json& j, const Summary& s);

// Version of the JSON report's schema (docs/qzscan-report.schema.json).
constexpr int kJsonSchemaVersion = 3;
// Spaces per nesting level of the JSON and SARIF reports, for readers and diffs.
constexpr int kJsonIndent = 2;
// Bytes per megabyte in the sizes and rates shown to users (decimal, as disk
// sizes are quoted).
constexpr double kBytesPerMB = 1e6;

// A path or a text from a scanned file as text output shows it, so that it
// can neither start a line of its own nor reach a terminal as a control
// sequence: a backslash becomes \\, a newline, tab and carriage return \n,
// \t and \r, and every other control character (C0, DEL, C1), every
// character that is invisible or reorders the text on a terminal (Unicode's
// format characters, such as the bidirectional overrides, zero-width
// characters and the byte order mark, and the line and paragraph
// separators U+2028 and U+2029) and every byte that is not part of
// well-formed UTF-8 becomes \xHH, one escape per byte. Everything else,
// other languages' letters included, is kept.
std::string escape_text(const std::string& s);

// Where the report goes, with every write checked. Standard output is
// written directly. A report file is written as a temporary file beside it
// (in the same folder, so that the rename cannot cross file systems) and
// renamed into place by finish(): a run that fails or is killed leaves the
// previous report as it was. A path that exists and is not a regular file
// (a device or a pipe) is written in place.
class ReportOutput {
 public:
  ReportOutput() = default;
  ReportOutput(const ReportOutput&) = delete;
  ReportOutput& operator=(const ReportOutput&) = delete;
  // Closes the file and removes the temporary file unless finish() renamed it.
  ~ReportOutput();

  // `path` is the report file, or empty for standard output. False, with
  // *why set to "PATH: reason", when the file cannot be created.
  bool open(const std::string& path, std::string* why);
  // The first failure is kept; what is written after it is dropped.
  void write(const std::string& text);
  // Hands what was written so far to the reader.
  void flush();
  // Flushes and closes the report, and renames a report file into place.
  // False, with *why set to "OUTPUT: reason" (OUTPUT is the path or
  // "standard output"), when any write, the flush, the close or the rename
  // failed; the temporary file is then removed.
  bool finish(std::string* why);

 private:
  void fail(int err);

  FILE* file_ = nullptr;
  std::string name_;    // OUTPUT in messages
  std::string target_;  // where the temporary file is renamed to
  std::string temp_;    // the temporary file, empty when writing in place
  std::string error_;   // the first failure, empty while all went well
};

// How text output shows a file: with the scored calls (`explain`), without
// skipped files (`quiet`), with the verdict coloured for a terminal.
struct TextStyle {
  bool explain = false, quiet = false, color = false;
};

// What the format shows of a file as soon as it is done, or an empty text:
// in text, its finding (and with `explain` the scored calls, those a threat's
// score leaves out marked "not counted"; in a file scanned in part, which
// parts), that a file scanned in part showed nothing, or, unless `quiet`, why
// it was skipped; in Print0, the path of a file with a finding, byte for byte, then
// a NUL byte. A file in error is not shown (the caller says so on standard
// error); JSON and SARIF show nothing here.
std::string result_text(Format fmt, const FileResult& f, const TextStyle& style);
// Writes what comes at the end: the summary line of text output (unless
// `quiet`), or the whole JSON or SARIF report. Print0 writes nothing more.
void write_report_end(ReportOutput& out, Format fmt, const std::vector<FileResult>& files,
                      const Summary& s, const RunInfo& run, bool quiet, const std::string& version);

#endif
