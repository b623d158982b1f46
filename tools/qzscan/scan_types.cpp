// The JSON form of qzscan's results.

#include "scan_types.h"

#include <nlohmann/json.hpp>

using json = nlohmann::json;

namespace {

struct VerdictName {
  Verdict verdict;
  const char* name;
};
const VerdictName kVerdictNames[] = {
    {Verdict::Clean, "clean"}, {Verdict::Suspicious, "suspicious"}, {Verdict::Threat, "threat"}};

}  // namespace

const char* verdict_name(Verdict v) {
  for (const VerdictName& n : kVerdictNames)
    if (n.verdict == v) return n.name;
  return "clean";
}

void to_json(json& j, Verdict v) { j = verdict_name(v); }

void from_json(const json& j, Verdict& v) {
  v = Verdict::Clean;
  const std::string text = j.get<std::string>();
  for (const VerdictName& n : kVerdictNames)
    if (text == n.name) v = n.verdict;
}

void to_json(json& j, const ScoredCall& c) {
  j = {{"line", c.line},        {"name", c.name},
       {"args", c.args},        {"description", c.description},
       {"score", c.score},      {"depth", c.depth},
       {"decoders", c.decoders}};
}

void from_json(const json& j, ScoredCall& c) {
  c.line = j.value("line", 0ull);
  c.name = j.value("name", "");
  c.args = j.value("args", std::vector<std::string>{});
  c.description = j.value("description", "");
  c.score = j.value("score", 0ull);
  c.depth = j.value("depth", 0ull);
  c.decoders = j.value("decoders", std::vector<std::string>{});
}

void to_json(json& j, const ScanOutcome& o) {
  j = {{"sha256", o.sha256}, {"verdict", o.verdict},
       {"score", o.score},   {"suspicious_score", o.suspicious_score},
       {"line", o.line},     {"descriptions", o.descriptions},
       {"calls", o.calls},  {"calls_dropped", o.calls_dropped}};
}

void from_json(const json& j, ScanOutcome& o) {
  o.sha256 = j.value("sha256", "");
  o.verdict = j.value("verdict", Verdict::Clean);
  o.score = j.value("score", 0ull);
  o.suspicious_score = j.value("suspicious_score", 0ull);
  o.line = j.value("line", 0ull);
  o.descriptions = j.value("descriptions", std::vector<std::string>{});
  o.calls = j.value("calls", std::vector<ScoredCall>{});
  o.calls_dropped = j.value("calls_dropped", 0ul);
}

void to_json(json& j, const FileResult& f) {
  if (!f.error.empty()) {
    j = {{"status", "error"}, {"error", f.error}};
  } else if (!f.skipped.empty()) {
    j = {{"status", "skipped"}, {"reason", f.skipped}};
  } else {
    to_json(j, static_cast<const ScanOutcome&>(f));
    j["status"] = "scanned";
  }
  j["path"] = f.path;
  j["size"] = f.size;
}
