// Formatting of qzscan's results.

#include "scan_report.h"

#include <nlohmann/json.hpp>

#include <map>

using json = nlohmann::json;

// The SARIF release the report follows, and its schema's address.
static const char* const kSarifVersion = "2.1.0";
static const char* const kSarifSchema = "https://json.schemastore.org/sarif-2.1.0.json";

static std::string join(const std::vector<std::string>& v, const char* sep) {
  std::string r;
  for (size_t i = 0; i < v.size(); i++) r += (i ? sep : "") + v[i];
  return r;
}

void write_text_result(FILE* out, const FileResult& f, bool explain, bool quiet) {
  if (!f.error.empty()) {
    if (!quiet) std::fprintf(out, "%s: ERROR: %s\n", f.path.c_str(), f.error.c_str());
    return;
  }
  if (!f.skipped.empty()) {
    if (!quiet) std::fprintf(out, "%s: SKIPPED: %s\n", f.path.c_str(), f.skipped.c_str());
    return;
  }
  if (f.verdict == Verdict::Clean) return;
  std::fprintf(out, "%s: %s score=%llu line=%llu %s\n", f.path.c_str(),
               f.verdict == Verdict::Threat ? "THREAT" : "SUSPICIOUS",
               static_cast<unsigned long long>(f.score + (f.verdict == Verdict::Threat ? 0 : f.suspicious_score)),
               static_cast<unsigned long long>(f.line), join(f.descriptions, "; ").c_str());
  if (!explain) return;
  for (const ScoredCall& c : f.calls) {
    std::fprintf(out, "    line %llu: %s(%s) -> %s [+%llu]", static_cast<unsigned long long>(c.line),
                 c.name.c_str(), join(c.args, ", ").c_str(), c.description.c_str(),
                 static_cast<unsigned long long>(c.score));
    if (c.depth)
      std::fprintf(out, " in evaluated code, depth %llu, from %s",
                   static_cast<unsigned long long>(c.depth),
                   c.decoders.empty() ? "(no decoder seen)" : join(c.decoders, " <- ").c_str());
    std::fputc('\n', out);
  }
}

void write_text_summary(FILE* out, const Summary& s) {
  std::fprintf(
      out,
      "%llu files: %llu scanned, %llu skipped, %llu errors, %.1f MB in %.2f s; "
      "%llu threats, %llu suspicious\n",
      static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(s.scanned),
      static_cast<unsigned long long>(s.skipped), static_cast<unsigned long long>(s.errors),
      static_cast<double>(s.bytes) / kBytesPerMB, s.seconds,
      static_cast<unsigned long long>(s.threats), static_cast<unsigned long long>(s.suspicious));
}

void to_json(json& j, const Summary& s) {
  j = {{"files", s.files},     {"scanned", s.scanned},      {"skipped", s.skipped},
       {"errors", s.errors},   {"bytes", s.bytes},          {"seconds", s.seconds},
       {"threats", s.threats}, {"suspicious", s.suspicious}};
}

std::string json_report(const std::vector<FileResult>& files, const Summary& s) {
  json report = {{"schema", "qzscan-report"},
                 {"version", kJsonSchemaVersion},
                 {"files", files},
                 {"summary", s}};
  return report.dump(kJsonIndent, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string sarif_report(const std::vector<FileResult>& files, const std::string& version) {
  // One rule per distinct description, in order of first appearance.
  std::map<std::string, size_t> rule_index;
  json rules = json::array();
  auto rule_for = [&](const std::string& desc) {
    auto it = rule_index.find(desc);
    if (it != rule_index.end()) return it->second;
    size_t i = rules.size();
    char id[16];
    std::snprintf(id, sizeof id, "QZ%04zu", i + 1);
    rules.push_back({{"id", id}, {"name", desc}, {"shortDescription", {{"text", desc}}}});
    rule_index[desc] = i;
    return i;
  };
  json results = json::array();
  for (const FileResult& f : files) {
    if (!f.scanned || f.verdict == Verdict::Clean) continue;
    std::vector<std::string> descs = f.descriptions;
    if (descs.empty()) descs.push_back(f.verdict == Verdict::Threat ? "malicious behaviour" : "suspicious behaviour");
    for (const std::string& d : descs) {
      uint64_t line = f.line;
      for (const ScoredCall& c : f.calls)
        if (c.description == d) {
          line = c.line;
          break;
        }
      json region = {{"startLine", line ? line : 1}};
      size_t ri = rule_for(d);
      results.push_back(
          {{"ruleId", rules[ri]["id"]},
           {"ruleIndex", ri},
           {"level", f.verdict == Verdict::Threat ? "error" : "warning"},
           {"message", {{"text", std::string(verdict_name(f.verdict)) + ": " + d}}},
           {"locations",
            json::array({{{"physicalLocation",
                           {{"artifactLocation", {{"uri", f.path}}}, {"region", region}}}}})}});
    }
  }
  json sarif = {
      {"$schema", kSarifSchema},
      {"version", kSarifVersion},
      {"runs",
       json::array(
           {{{"tool", {{"driver", {{"name", "qzscan"}, {"version", version}, {"rules", rules}}}}},
             {"results", results}}})}};
  return sarif.dump(kJsonIndent, ' ', false, json::error_handler_t::replace) + "\n";
}
