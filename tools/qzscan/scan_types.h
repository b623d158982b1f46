#ifndef QZSCAN_SCAN_TYPES_H
#define QZSCAN_SCAN_TYPES_H

// What qzscan knows about one file, from selection to verdict.

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
  uint64_t depth = 0;                 // 0: in the file itself; n: inside n levels of evaluated code
  std::vector<std::string> decoders;  // decoder calls (name@line) whose output was evaluated
};

enum class Verdict { Clean, Suspicious, Threat };

struct FileResult {
  std::string path;
  uint64_t size = 0;
  std::string sha256;
  bool scanned = false;
  std::string skipped;  // reason, when the file was listed but not scanned
  std::string error;    // reason, when the file could not be scanned
  Verdict verdict = Verdict::Clean;
  uint64_t score = 0;  // sum of definite scores
  uint64_t suspicious_score = 0;
  uint64_t line = 0;   // deciding line of a definite hit, 0 when none
  std::vector<std::string> descriptions;
  std::vector<ScoredCall> calls;
};

const char* verdict_name(Verdict v);

#endif
