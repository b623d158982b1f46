#ifndef QZSCAN_SCAN_REPORT_H
#define QZSCAN_SCAN_REPORT_H

// Output of qzscan: one line per finding (text), a versioned JSON report, or
// SARIF 2.1.0 for code-scanning dashboards.

#include "scan_types.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdio>
#include <string>
#include <vector>

enum class Format { Text, Json, Sarif };

struct Summary {
  uint64_t files = 0, scanned = 0, skipped = 0, errors = 0, bytes = 0;
  uint64_t threats = 0, suspicious = 0;
  double seconds = 0;
};

void to_json(nlohmann::json& j, const Summary& s);

// Version of the JSON report's schema (docs/qzscan-report.schema.json).
constexpr int kJsonSchemaVersion = 1;
// Spaces per nesting level of the JSON and SARIF reports, for readers and diffs.
constexpr int kJsonIndent = 2;
// Bytes per megabyte in the sizes and rates shown to users (decimal, as disk
// sizes are quoted).
constexpr double kBytesPerMB = 1e6;

// Text output is written file by file as results arrive; JSON and SARIF are
// written whole at the end.
void write_text_result(FILE* out, const FileResult& f, bool explain, bool quiet);
void write_text_summary(FILE* out, const Summary& s);
std::string json_report(const std::vector<FileResult>& files, const Summary& s);
std::string sarif_report(const std::vector<FileResult>& files, const std::string& version);

#endif
