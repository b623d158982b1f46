// Formatting of qzscan's results, and the checked writing of the report.

#include "scan_report.h"

#include "scan_worker.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>

using json = nlohmann::json;

namespace {

// The SARIF release the report follows, and its schema's address.
const char* const kSarifVersion = "2.1.0";
const char* const kSarifSchema = "https://json.schemastore.org/sarif-2.1.0.json";
// The base that relative paths in SARIF are resolved against: the folder
// qzscan ran in.
const char* const kSarifRootId = "SRCROOT";
// Prefix of the SARIF rule ids, and how many hex digits of the SHA-256 of the
// rule's description follow it: 48 bits keep ids of different rules apart
// for any rule set, while staying short enough to read.
const char* const kRuleIdPrefix = "QZ";
const size_t kRuleIdHexDigits = 12;

// How OUTPUT reads in messages when the report goes to standard output.
const char* const kStandardOutputName = "standard output";
// Tries at a free name for the temporary report file before giving up; each
// try after the first adds a counter, so only a crowd of leftovers exhausts them.
const int kTempNameTries = 100;
// Permissions of a new report file before the umask, as fopen gives.
const mode_t kNewFileMode = 0666;
// Permission bits (with set-id and sticky) kept from a report being replaced.
const mode_t kModeBits = 07777;

// Printable ASCII starts at the space; DEL is a control character.
const unsigned char kFirstPrintable = 0x20, kDelete = 0x7F;
// C1 control characters (U+0080..U+009F) in UTF-8: this lead byte, then a
// second byte up to this one. A terminal may act on them like ESC sequences.
const unsigned char kC1Lead = 0xC2, kC1LastSecond = 0x9F;
// Characters that are invisible, or turn what follows, on a terminal, so
// that a name would read as another: the format characters (general category
// Cf of Unicode 15: soft hyphen, bidirectional controls, zero-width
// characters, the byte order mark, tags, ...) and the line and paragraph
// separators. Sorted, for a binary search.
struct CodeRange {
  char32_t first, last;
};
const CodeRange kInvisible[] = {
    {0x00AD, 0x00AD},    // soft hyphen
    {0x0600, 0x0605},    // Arabic number signs
    {0x061C, 0x061C},    // Arabic letter mark
    {0x06DD, 0x06DD},    // Arabic end of ayah
    {0x070F, 0x070F},    // Syriac abbreviation mark
    {0x0890, 0x0891},    // Arabic pound and piastre marks above
    {0x08E2, 0x08E2},    // Arabic disputed end of ayah
    {0x180E, 0x180E},    // Mongolian vowel separator
    {0x200B, 0x200F},    // zero-width space, joiners, LRM, RLM
    {0x2028, 0x2029},    // line and paragraph separators
    {0x202A, 0x202E},    // bidirectional embeddings and overrides
    {0x2060, 0x2064},    // word joiner, invisible operators
    {0x2066, 0x206F},    // bidirectional isolates, deprecated format characters
    {0xFEFF, 0xFEFF},    // byte order mark, zero-width no-break space
    {0xFFF9, 0xFFFB},    // interlinear annotation
    {0x110BD, 0x110BD},  // Kaithi number sign
    {0x110CD, 0x110CD},  // Kaithi number sign above
    {0x13430, 0x1343F},  // Egyptian hieroglyph format controls
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical symbol format controls
    {0xE0001, 0xE0001},  // language tag
    {0xE0020, 0xE007F},  // tag characters
};
// Bits of payload in each continuation byte of UTF-8.
const unsigned kContinuationBits = 6;
const unsigned char kContinuationMask = 0x3F;
// Payload bits of a lead byte, by the sequence's length (2, 3, 4).
const unsigned char kLeadMasks[] = {0x1F, 0x0F, 0x07};
// Characters escaped by name rather than by their byte value.
struct NamedEscape {
  char c;
  const char* text;
};
const NamedEscape kNamedEscapes[] = {{'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"}};
const char* const kHexDigits = "0123456789ABCDEF";
// Terminal colours (SGR sequences) of the verdict words, and the reset.
const char* const kColorThreat = "\033[1;31m";
const char* const kColorSuspicious = "\033[33m";
const char* const kColorSkipped = "\033[2m";
const char* const kColorReset = "\033[0m";
// Bits in a hex digit, and hex digits in a byte.
const unsigned kNibbleBits = 4, kNibbleMask = 0xF;

// Characters a URI keeps as they are in a path: the unreserved ones (RFC
// 3986) and the segment separator. Everything else, ':' included (it would
// read as a scheme in a relative reference), is percent-encoded.
const char* const kUriPathKeep =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/";

__attribute__((format(printf, 1, 2))) std::string strprintf(const char* fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string r(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
  std::vsnprintf(&r[0], r.size(), fmt, again);
  va_end(again);
  r.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return r;
}

std::string hex_byte(unsigned char b) {
  return {kHexDigits[b >> kNibbleBits], kHexDigits[b & kNibbleMask]};
}

// The code point of the well-formed UTF-8 sequence of n > 1 bytes at i.
char32_t code_point(const std::string& s, size_t i, size_t n) {
  char32_t c = static_cast<unsigned char>(s[i]) & kLeadMasks[n - 2];
  for (size_t k = 1; k < n; k++)
    c = (c << kContinuationBits) | (static_cast<unsigned char>(s[i + k]) & kContinuationMask);
  return c;
}

// True for the character of n bytes at i that text output escapes byte by
// byte: a control character, or one of kInvisible.
bool is_escaped(const std::string& s, size_t i, size_t n) {
  const unsigned char b = static_cast<unsigned char>(s[i]);
  if (n == 1) return b < kFirstPrintable || b == kDelete;
  if (n == 2 && b == kC1Lead && static_cast<unsigned char>(s[i + 1]) <= kC1LastSecond) return true;
  const char32_t c = code_point(s, i, n);
  const CodeRange* after =
      std::upper_bound(std::begin(kInvisible), std::end(kInvisible), c,
                       [](char32_t v, const CodeRange& r) { return v < r.first; });
  return after != std::begin(kInvisible) && c <= (after - 1)->last;
}

std::string joined(const std::vector<std::string>& v, const char* sep) {
  std::string r;
  for (size_t i = 0; i < v.size(); i++) r += (i ? sep : "") + escape_text(v[i]);
  return r;
}

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

// The verdict word, in its colour when asked for.
std::string verdict_word(const char* word, const char* color, bool colored) {
  return colored ? std::string(color) + word + kColorReset : word;
}

// A size in text output: in bytes below a megabyte, else in MB.
std::string size_text(uint64_t bytes) {
  if (bytes < kBytesPerMB) return strprintf(bytes == 1 ? "%llu byte" : "%llu bytes", ull(bytes));
  return strprintf("%.1f MB", static_cast<double>(bytes) / kBytesPerMB);
}

// Which parts of a file scanned in part were scanned: "first and last 4096
// bytes of 10000 bytes", or "first 4096 bytes and last 100 bytes of ..."
// when its tail is shorter than its head.
std::string parts_text(const FileResult& f) {
  const std::string parts =
      f.head_bytes == f.tail_bytes
          ? "first and last " + size_text(f.head_bytes)
          : "first " + size_text(f.head_bytes) + " and last " + size_text(f.tail_bytes);
  return parts + " of " + size_text(f.size);
}

// The line a finding is shown at: a threat's deciding line, else the line
// of the first scored call.
uint64_t shown_line(const FileResult& f) {
  if (f.line || f.calls.empty()) return f.line;
  return f.calls.front().line;
}

std::string text_result(const FileResult& f, const TextStyle& style) {
  const std::string path = escape_text(f.path);
  if (!f.error.empty()) return "";  // errors go to standard error, from the caller
  if (!f.skipped.empty())
    return style.quiet ? ""
                       : path + ": " + verdict_word("SKIPPED", kColorSkipped, style.color) + ": " +
                             escape_text(f.skipped) + "\n";
  if (f.verdict == Verdict::Clean && f.partial())
    return path + ": " + verdict_word("PARTLY SCANNED", kColorSkipped, style.color) + ": " +
           kLargerThanLimit + "; nothing found in its " + parts_text(f) + "\n";
  if (f.verdict == Verdict::Clean) return "";
  const bool threat = f.verdict == Verdict::Threat;
  std::string r = path + ": " +
                  (threat ? verdict_word("THREAT", kColorThreat, style.color)
                          : verdict_word("SUSPICIOUS", kColorSuspicious, style.color)) +
                  strprintf(" score=%llu line=%llu ",
                            ull(f.score + (threat ? 0 : f.suspicious_score)), ull(shown_line(f))) +
                  joined(f.descriptions, "; ") +
                  (f.partial() ? " (partly scanned: " + parts_text(f) + ")" : "") + "\n";
  if (!style.explain) return r;
  for (const ScoredCall& c : f.calls) {
    // A threat's score is the definite sum: suspicious scores do not count.
    const bool counted = !threat || c.definite;
    r += strprintf("    line %llu: ", ull(c.line)) + escape_text(c.name) + "(" +
         joined(c.args, ", ") + ") -> " + escape_text(c.description) +
         strprintf(counted ? " [+%llu]" : " [+%llu, not counted]", ull(c.score));
    if (c.depth)
      r += strprintf(" in evaluated code, depth %llu, from ", ull(c.depth)) +
           (c.decoders.empty() ? "(no decoder seen)" : joined(c.decoders, " <- "));
    r += "\n";
  }
  if (f.calls_dropped)
    r += strprintf("    ... and %lu more scored calls, not kept\n", f.calls_dropped);
  return r;
}

std::string text_summary(const Summary& s, const RunInfo& run) {
  std::string r = strprintf(
      "%llu files: %llu scanned, %llu skipped, %llu errors, %.1f MB in %.2f s; "
      "%llu threats, %llu suspicious",
      ull(s.files), ull(s.scanned), ull(s.skipped), ull(s.errors),
      static_cast<double>(s.bytes) / kBytesPerMB, s.seconds, ull(s.threats), ull(s.suspicious));
  if (!run.rules.path.empty())
    r += strprintf("; %lu rules from ", run.rules.rules) + escape_text(run.rules.path) +
         " (sha256 " + run.rules.sha256 + ")";
  if (s.allowed) r += strprintf("; %llu allowed", ull(s.allowed));
  if (s.cached) r += strprintf("; %llu from the cache", ull(s.cached));
  if (s.known) r += strprintf("; %llu known findings not shown", ull(s.known));
  if (s.quarantined) r += strprintf("; %llu quarantined", ull(s.quarantined));
  if (s.not_quarantined) r += strprintf("; %llu not quarantined", ull(s.not_quarantined));
  if (s.partial) r += strprintf("; %llu partly scanned", ull(s.partial));
  if (run.interrupted) r += "; interrupted";
  return r + "\n";
}

// The report documents are valid UTF-8 by construction (scan_types keeps
// other bytes apart); replacing rather than throwing is the last guard.
std::string dump(const json& j) {
  return j.dump(kJsonIndent, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string json_report(const std::vector<FileResult>& files, const Summary& s,
                        const RunInfo& run) {
  json report = {{"schema", "qzscan-report"},
                 {"version", kJsonSchemaVersion},
                 {"complete", !run.interrupted},
                 {"rules", run.rules},
                 {"files", files},
                 {"summary", s}};
  return dump(report);
}

// ---- SARIF ----

std::string percent_encode(const std::string& path) {
  std::string r;
  for (char c : path) {
    if (c && std::strchr(kUriPathKeep, c))
      r += c;
    else
      r += "%" + hex_byte(static_cast<unsigned char>(c));
  }
  return r;
}

std::string current_dir() {
  char* cwd = getcwd(nullptr, 0);
  std::string r = cwd ? cwd : "";
  std::free(cwd);
  return r;
}

// An absolute path as a file URI; a relative one as a relative reference
// resolved against the folder qzscan ran in.
json artifact_location(const std::string& path) {
  if (!path.empty() && path[0] == '/') return {{"uri", "file://" + percent_encode(path)}};
  return {{"uri", percent_encode(path)}, {"uriBaseId", kSarifRootId}};
}

json file_locations(const std::string& path) {
  return json::array({{{"physicalLocation", {{"artifactLocation", artifact_location(path)}}}}});
}

// The rule's id: a digest of its description, so that the same rule has the
// same id in every run whatever else was found.
std::string rule_id(const std::string& description) {
  std::string digits = sha256_hex(description).substr(0, kRuleIdHexDigits);
  for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return kRuleIdPrefix + digits;
}

// One result per description of each file with a finding, and one rule per
// distinct description, listed in order of first appearance.
struct SarifResults {
  json rules = json::array(), results = json::array();
  std::map<std::string, size_t> rule_index;

  size_t rule_for(const std::string& desc) {
    auto it = rule_index.find(desc);
    if (it != rule_index.end()) return it->second;
    rules.push_back(
        {{"id", rule_id(desc)}, {"name", desc}, {"shortDescription", {{"text", desc}}}});
    return rule_index[desc] = rules.size() - 1;
  }

  void add(const FileResult& f) {
    if (!f.scanned || f.verdict == Verdict::Clean || f.known) return;
    std::vector<std::string> descs = f.descriptions;
    if (descs.empty())
      descs.push_back(f.verdict == Verdict::Threat ? "malicious behaviour"
                                                   : "suspicious behaviour");
    for (const std::string& d : descs) {
      uint64_t line = f.line;
      for (const ScoredCall& c : f.calls)
        if (c.description == d) {
          line = c.line;
          break;
        }
      json location = file_locations(f.path);
      location[0]["physicalLocation"]["region"] = {{"startLine", line ? line : 1}};
      size_t ri = rule_for(d);
      results.push_back({{"ruleId", rules[ri]["id"]},
                         {"ruleIndex", ri},
                         {"level", f.verdict == Verdict::Threat ? "error" : "warning"},
                         {"message", {{"text", std::string(verdict_name(f.verdict)) + ": " + d}}},
                         {"locations", location}});
    }
  }
};

// One notification per file that failed (an error), was skipped or was
// scanned in part (a warning: what was left unscanned may hold a threat).
json sarif_invocation(const std::vector<FileResult>& files, const Summary& s, const RunInfo& run) {
  json notes = json::array();
  for (const FileResult& f : files) {
    if (f.scanned && f.partial()) {
      notes.push_back({{"level", "warning"},
                       {"message", {{"text", f.path + ": partly scanned: " + parts_text(f)}}},
                       {"locations", file_locations(f.path)}});
      continue;
    }
    if (f.error.empty() && f.skipped.empty()) continue;
    const bool error = !f.error.empty();
    notes.push_back({{"level", error ? "error" : "warning"},
                     {"message", {{"text", f.path + ": " + (error ? f.error : f.skipped)}}},
                     {"locations", file_locations(f.path)}});
  }
  return {{"executionSuccessful", !run.interrupted && s.errors == 0},
          {"toolExecutionNotifications", notes}};
}

std::string sarif_report(const std::vector<FileResult>& files, const Summary& s, const RunInfo& run,
                         const std::string& version) {
  SarifResults found;
  for (const FileResult& f : files) found.add(f);
  json driver = {{"name", "qzscan"}, {"version", version}, {"rules", found.rules}};
  json run0 = {{"tool", {{"driver", driver}}},
               {"invocations", json::array({sarif_invocation(files, s, run)})},
               {"properties", {{"rules", run.rules}}},
               {"results", found.results}};
  const std::string cwd = current_dir();
  if (!cwd.empty())
    run0["originalUriBaseIds"] = {
        {kSarifRootId, {{"uri", "file://" + percent_encode(cwd == "/" ? cwd : cwd + "/")}}}};
  json sarif = {
      {"$schema", kSarifSchema}, {"version", kSarifVersion}, {"runs", json::array({run0})}};
  return dump(sarif);
}

// ---- the report file ----

// Creates a temporary file beside `target`, never over an existing file.
int create_temp(const std::string& target, mode_t mode, std::string* temp) {
  const std::string stem = folder_of(target) + "/." + base_of(target) + "." +
                           std::to_string(static_cast<long>(getpid()));
  for (int i = 0; i < kTempNameTries; i++) {
    *temp = stem + (i ? "." + std::to_string(i) : "") + ".tmp";
    int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

std::string escape_text(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8_sequence_length(s, i);
    const NamedEscape* named = nullptr;
    for (const NamedEscape& e : kNamedEscapes)
      if (n == 1 && s[i] == e.c) named = &e;
    if (named) {
      r += named->text;
    } else if (n == 0 || is_escaped(s, i, n)) {
      for (size_t k = 0; k < (n ? n : 1); k++)
        r += "\\x" + hex_byte(static_cast<unsigned char>(s[i + k]));
    } else {
      r.append(s, i, n);
    }
    i += n ? n : 1;
  }
  return r;
}

ReportOutput::~ReportOutput() {
  if (file_ && file_ != stdout) std::fclose(file_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

bool ReportOutput::open(const std::string& path, std::string* why) {
  if (path.empty()) {
    file_ = stdout;
    name_ = kStandardOutputName;
    return true;
  }
  name_ = path;
  // A link is followed, as writing through it would: the file it names is
  // replaced and the link stays.
  char* resolved = realpath(path.c_str(), nullptr);
  target_ = resolved ? resolved : path;
  std::free(resolved);
  struct stat st;
  const bool exists = stat(target_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    target_.clear();
    file_ = std::fopen(path.c_str(), "w");
  } else {
    int fd = create_temp(target_, kNewFileMode, &temp_);
    if (fd >= 0 && exists) fchmod(fd, st.st_mode & kModeBits);
    file_ = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!file_ && fd >= 0) close(fd);
  }
  if (!file_) {
    int err = errno;
    if (!temp_.empty()) unlink(temp_.c_str());
    temp_.clear();
    *why = escape_text(name_) + ": " + std::strerror(err);
    return false;
  }
  return true;
}

void ReportOutput::fail(int err) {
  if (error_.empty()) error_ = std::strerror(err ? err : EIO);
}

void ReportOutput::write(const std::string& text) {
  if (!file_ || !error_.empty() || text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail(errno);
}

void ReportOutput::flush() {
  errno = 0;
  if (file_ && error_.empty() && std::fflush(file_) != 0) fail(errno);
}

bool ReportOutput::finish(std::string* why) {
  flush();
  if (file_ && std::ferror(file_)) fail(EIO);
  if (file_ && file_ != stdout) {
    // A renamed report must not turn out empty after a crash of the system.
    if (!temp_.empty() && error_.empty() && fsync(fileno(file_)) != 0) fail(errno);
    if (std::fclose(file_) != 0) fail(errno);
  }
  file_ = nullptr;
  if (!temp_.empty()) {
    if (error_.empty() && std::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
    if (!error_.empty()) unlink(temp_.c_str());
    temp_.clear();
  }
  if (error_.empty()) return true;
  *why = escape_text(name_) + ": " + error_;
  return false;
}

std::string result_text(Format fmt, const FileResult& f, const TextStyle& style) {
  if (fmt == Format::Text) return text_result(f, style);
  if (fmt == Format::Print0 && f.scanned && f.verdict != Verdict::Clean)
    return f.path + std::string(1, '\0');
  return "";
}

void write_report_end(ReportOutput& out, Format fmt, const std::vector<FileResult>& files,
                      const Summary& s, const RunInfo& run, bool quiet,
                      const std::string& version) {
  if (fmt == Format::Json) out.write(json_report(files, s, run));
  if (fmt == Format::Sarif) out.write(sarif_report(files, s, run, version));
  if (fmt == Format::Text && !quiet) out.write(text_summary(s, run));
}

void to_json(json& j, const Summary& s) {
  j = {{"files", s.files},     {"scanned", s.scanned},      {"skipped", s.skipped},
       {"errors", s.errors},   {"bytes", s.bytes},          {"seconds", s.seconds},
       {"threats", s.threats}, {"suspicious", s.suspicious}};
  if (s.allowed) j["allowed"] = s.allowed;
  if (s.cached) j["cached"] = s.cached;
  if (s.known) j["known"] = s.known;
  if (s.quarantined) j["quarantined"] = s.quarantined;
  if (s.not_quarantined) j["not_quarantined"] = s.not_quarantined;
  if (s.partial) j["partial"] = s.partial;
}
