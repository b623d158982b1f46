#ifndef QZSCAN_SCAN_TYPES_H
#define QZSCAN_SCAN_TYPES_H

// What qzscan knows about one file, from selection to verdict, and the one
// JSON form of each part. The same functions write a worker's result to the
// parent, read it back there, and write the JSON report
// (docs/qzscan-report.schema.json).

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>
#include <vector>

// A call that a rule scored, with what led to it.
struct ScoredCall {
  uint64_t line = 0;
  std::string name;
  std::vector<std::string> args;  // cut to a readable length
  std::string description;
  uint64_t score = 0;
  // The score went to the definite sum; otherwise to the suspicious one,
  // which a threat's score leaves out.
  bool definite = false;
  uint64_t depth = 0;  // 0: in the file itself; n: inside n levels of evaluated code
  // Decoder calls (name@line) whose output was evaluated, the outermost
  // first: lower depths first, and within a depth the call that took the
  // other's result first.
  std::vector<std::string> decoders;
};

enum class Verdict { Clean, Suspicious, Threat };

// What scanning one file found: everything a worker hands back to the parent.
struct ScanOutcome {
  std::string sha256;
  Verdict verdict = Verdict::Clean;
  uint64_t score = 0;  // sum of definite scores
  uint64_t suspicious_score = 0;
  uint64_t line = 0;  // deciding line of a definite hit, 0 when none
  std::vector<std::string> descriptions;
  std::vector<ScoredCall> calls;
  unsigned long calls_dropped = 0;  // scored calls beyond those kept in `calls`
  // Of a file larger than the size limit, scanned in part: the bytes scanned
  // at its start and at its end, none of them twice. Both 0 when the whole
  // file was scanned.
  uint64_t head_bytes = 0, tail_bytes = 0;
  bool partial() const { return tail_bytes != 0; }
};

struct FileResult : ScanOutcome {
  std::string path;
  uint64_t size = 0;
  // The file that was hashed, as (device, inode) of the descriptor read; set
  // by a worker's scan or by the digest pass, 0 and 0 until then. A
  // quarantine moves only this file.
  uint64_t dev = 0, ino = 0;
  bool scanned = false;
  std::string skipped;   // reason, when the file was listed but not scanned
  std::string error;     // reason, when the file could not be scanned
  bool allowed = false;  // its digest is on the allowlist: not scanned
  bool cached = false;   // the outcome is a stored verdict for the same digest
  bool known = false;    // a finding the --baseline report already had
  // Under --quarantine, for a threat: the item it was moved to, or why it
  // was not moved.
  std::string quarantine_id, quarantine_error;
  // Settled before any worker saw it: skipped, in error, allowed or cached.
  bool settled() const { return !skipped.empty() || !error.empty() || allowed || cached; }
};

// The rule file a run used: its path, the SHA-256 of its bytes and the
// number of rules the engine loaded from it.
struct RuleFileInfo {
  std::string path, sha256;
  unsigned long rules = 0;
};

// What the reports say about the run as a whole, beside the files.
struct RunInfo {
  RuleFileInfo rules;
  // Stopped by a signal: only the files finished by then have results, and
  // the others are absent from the report.
  bool interrupted = false;
};

const char* verdict_name(Verdict v);

// Writes all n bytes of data to fd, going on after interrupted and short
// writes; false when a write fails (errno tells why).
bool write_all(int fd, const void* data, size_t n);

// The folder part of a path ("." when it has none, "/" for a name in the
// root) and its last name, as the path says them: nothing is resolved.
std::string folder_of(const std::string& path);
std::string base_of(const std::string& path);

// Length of the well-formed UTF-8 sequence that starts at s[i], or 0 when the
// byte there starts none: a stray continuation byte, an overlong form, a
// surrogate, a code point beyond U+10FFFF or a sequence cut short.
size_t utf8_sequence_length(const std::string& s, size_t i);

// Reading is lenient: a missing member keeps its default and an unknown
// verdict reads as clean, so a result without calls still applies.
// A text that comes from the scanned file or the rules may be any bytes. Its
// member holds valid UTF-8 (each bad byte becomes U+FFFD) and, only when that
// lost something, a sibling member named with "_bytes" holds the exact bytes
// in base64 (RFC 4648, padded); for a list, a list of the same length. Reading
// prefers the exact bytes, so a result crosses the worker pipe unchanged.
void to_json(nlohmann::json& j, Verdict v);
void from_json(const nlohmann::json& j, Verdict& v);
void to_json(nlohmann::json& j, const ScoredCall& c);
void from_json(const nlohmann::json& j, ScoredCall& c);
void to_json(nlohmann::json& j, const ScanOutcome& o);
void from_json(const nlohmann::json& j, ScanOutcome& o);
// The report's entry for a file: path, size and status, then the reason it
// was skipped or failed, or its outcome. Reports are only written.
void to_json(nlohmann::json& j, const FileResult& f);
// The text under `key`, byte for byte: from its "_bytes" member when there
// is one, else as it is; empty when absent.
std::string json_text(const nlohmann::json& j, const std::string& key);
// Sets j[key] to the text as valid UTF-8 and, when that lost bytes, its
// "_bytes" member to the exact bytes.
void json_put_text(nlohmann::json& j, const std::string& key, const std::string& text);
// The rule file a report names: path, sha256 and count (of rules).
void to_json(nlohmann::json& j, const RuleFileInfo& r);

#endif
