// qzscan: scans PHP files and directories for web shells and other malicious
// scripts with the qz-engine behaviour rules.

#include "scan_files.h"
#include "scan_report.h"
#include "scan_worker.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifndef QZSCAN_VERSION
#define QZSCAN_VERSION "0"
#endif
#ifndef QZSCAN_INSTALLED_RULES
#define QZSCAN_INSTALLED_RULES ""
#endif

namespace {

// Shortest interval between two refreshes of the progress line.
const auto kProgressInterval = std::chrono::milliseconds(100);

std::string exe_dir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string p(buf);
  return p.substr(0, p.find_last_of('/'));
}

bool readable(const std::string& p) { return !p.empty() && access(p.c_str(), R_OK) == 0; }

// The default rules: the build tree's when run from it, else the installed ones.
std::string default_rules() {
  std::string dir = exe_dir();
  const std::string candidates[] = {dir + "/../../rules/default.rules",
                                    dir + "/../share/qzengine/default.rules",
                                    QZSCAN_INSTALLED_RULES};
  for (const std::string& c : candidates)
    if (readable(c)) return c;
  return QZSCAN_INSTALLED_RULES;
}

struct Progress {
  bool enabled = false;
  uint64_t total_files = 0, total_bytes = 0, files = 0, bytes = 0, findings = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now(), last;

  void update(bool force = false) {
    if (!enabled) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last < kProgressInterval) return;
    last = now;
    double secs = std::chrono::duration<double>(now - start).count();
    std::fprintf(stderr, "\r\033[K%llu/%llu files, %.1f/%.1f MB, %.1f MB/s, %llu findings",
                 static_cast<unsigned long long>(files), static_cast<unsigned long long>(total_files),
                 bytes / 1e6, total_bytes / 1e6, secs > 0 ? bytes / 1e6 / secs : 0.0,
                 static_cast<unsigned long long>(findings));
    std::fflush(stderr);
  }
  void clear() {
    if (enabled) std::fprintf(stderr, "\r\033[K");
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qzscan: find PHP web shells and other malicious scripts by what they do"};
  app.set_version_flag("--version", std::string(QZSCAN_VERSION));
  std::vector<std::string> paths;
  std::string rules, ext_list, format = "text", output, fail_on = "threat", max_size = "16M";
  std::vector<std::string> excludes;
  bool all_files = false, follow = false, quiet = false, explain = false, no_ext = false;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  unsigned timeout = 30;
  app.add_option("PATH", paths, "Files and directories to scan (directories recursively)")->required();
  app.add_option("--rules", rules, "Rule file (default: the rules installed with qzscan)");
  app.add_option("--ext", ext_list, "Comma-separated extensions to scan (default: php,php3,php4,php5,php7,php8,phtml,pht,phps,inc)");
  app.add_flag("--all-files", all_files, "Scan every file whatever its extension");
  app.add_option("--exclude", excludes, "Skip paths matching this glob (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--max-filesize", max_size, "Skip files larger than SIZE, e.g. 512K, 16M (default 16M)");
  app.add_flag("--follow-symlinks", follow, "Follow symbolic links (loops are detected)");
  app.add_option("-j,--jobs", jobs, "Worker processes (default: number of cores)")->check(CLI::Range(1u, 256u));
  app.add_option("--timeout", timeout, "Seconds allowed per file before its worker is replaced (default 30)")->check(CLI::Range(1u, 86400u));
  app.add_option("--format", format, "Output format: text, json or sarif")->check(CLI::IsMember({"text", "json", "sarif"}));
  app.add_option("-o,--output", output, "Write the report to FILE instead of standard output");
  app.add_flag("-q,--quiet", quiet, "Print findings only: no skipped files, progress or summary (errors still go to standard error)");
  app.add_flag("--explain", explain, "Show, for each finding, the scored calls that led to it");
  app.add_option("--fail-on", fail_on, "Exit 1 on: threat (default) or suspicious")->check(CLI::IsMember({"threat", "suspicious"}));
  app.add_flag("--no-extensions", no_ext, "Scan exactly as the baseline engine: no extended PHP tags, no full decoding");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  SelectOptions sel;
  sel.all_files = all_files;
  sel.excludes = excludes;
  sel.follow_symlinks = follow;
  if (!parse_size(max_size, &sel.max_filesize)) {
    std::fprintf(stderr, "qzscan: --max-filesize: not a size: %s\n", max_size.c_str());
    return 2;
  }
  if (ext_list.empty()) {
    sel.extensions = default_extensions();
  } else {
    for (size_t pos = 0; pos <= ext_list.size();) {
      size_t end = ext_list.find(',', pos);
      if (end == std::string::npos) end = ext_list.size();
      std::string e = ext_list.substr(pos, end - pos);
      if (!e.empty() && e[0] == '.') e.erase(0, 1);
      for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (!e.empty()) sel.extensions.push_back(e);
      pos = end + 1;
    }
  }

  FILE* out = stdout;
  if (!output.empty()) {
    out = std::fopen(output.c_str(), "w");
    if (!out) {
      std::fprintf(stderr, "qzscan: %s: %s\n", output.c_str(), std::strerror(errno));
      return 2;
    }
  }

  WorkerOptions wopt;
  wopt.rules_path = rules.empty() ? default_rules() : rules;
  wopt.jobs = jobs;
  wopt.timeout_seconds = timeout;
  wopt.extensions = !no_ext;

  auto start = std::chrono::steady_clock::now();
  std::vector<FileResult> files = select_files(paths, sel);

  Progress progress;
  progress.enabled = !quiet && isatty(STDERR_FILENO);
  for (const FileResult& f : files)
    if (f.skipped.empty() && f.error.empty()) {
      progress.total_files++;
      progress.total_bytes += f.size;
    }

  Summary sum;
  Format fmt = format == "json" ? Format::Json : format == "sarif" ? Format::Sarif : Format::Text;
  auto on_done = [&](size_t i) {
    const FileResult& f = files[i];
    if (!f.error.empty())
      std::fprintf(stderr, "%sqzscan: %s: %s\n", progress.enabled ? "\r\033[K" : "", f.path.c_str(), f.error.c_str());
    if (f.scanned) {
      progress.files++;
      progress.bytes += f.size;
      if (f.verdict != Verdict::Clean) progress.findings++;
    }
    if (fmt == Format::Text && f.error.empty()) {
      progress.clear();
      write_text_result(out, f, explain, quiet);
    }
    progress.update();
  };
  std::string why;
  if (!scan_in_workers(files, wopt, on_done, &why)) {
    progress.clear();
    std::fprintf(stderr, "qzscan: %s\n", why.c_str());
    return 2;
  }
  progress.clear();

  for (const FileResult& f : files) {
    sum.files++;
    if (!f.error.empty()) sum.errors++;
    else if (!f.skipped.empty()) sum.skipped++;
    else {
      sum.scanned++;
      sum.bytes += f.size;
      if (f.verdict == Verdict::Threat) sum.threats++;
      if (f.verdict == Verdict::Suspicious) sum.suspicious++;
    }
  }
  sum.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (fmt == Format::Json) std::fputs(json_report(files, sum).c_str(), out);
  if (fmt == Format::Sarif) std::fputs(sarif_report(files, QZSCAN_VERSION).c_str(), out);
  if (fmt == Format::Text && !quiet) write_text_summary(out == stdout ? stdout : out, sum);
  if (out != stdout && std::fclose(out) != 0) {
    std::fprintf(stderr, "qzscan: %s: %s\n", output.c_str(), std::strerror(errno));
    return 2;
  }

  if (sum.errors) return 2;
  if (sum.threats || (fail_on == "suspicious" && sum.suspicious)) return 1;
  return 0;
}
