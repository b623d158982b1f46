#include "qzrules_test.h"

#include "qzrules_lint.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

extern char** environ;

namespace {

using json = nlohmann::ordered_json;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitError = 2;
/* qzscan's exit statuses that come with a whole report: clean, findings,
 * and files that could not be scanned (they are counted as errors). */
constexpr int kQzscanLastStatusWithReport = 2;
/* Rates are percentages. */
constexpr double kPercent = 100.0;
/* Version of the document `--json` prints; see tools/qzrules/README.md. */
constexpr int kJsonVersion = 1;
/* Spaces per nesting level of that document. */
constexpr int kJsonIndent = 2;
/* Printable ASCII starts at the space; DEL and the C1 range (U+0080 to
 * U+009F, lead byte 0xC2 in UTF-8) are controls a terminal may act on. */
constexpr unsigned char kFirstPrintable = 0x20, kDelete = 0x7F, kC1Lead = 0xC2,
                        kC1LastSecond = 0x9F;
/* Row name of the files directly in a directory, beside its subdirectories. */
const char* const kTopLevelRow = ".";

void problem(const std::string& where, const std::string& reason) {
  std::cerr << "qzrules: " << where << ": " << reason << "\n";
}

/* A text from a report as a terminal line shows it: qzscan's report holds
 * valid UTF-8, so only backslashes and control characters need escaping. */
std::string shown(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    bool c1 =
        c == kC1Lead && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= kC1LastSecond;
    if (c == '\\') {
      out += "\\\\";
    } else if (c < kFirstPrintable || c == kDelete || c1) {
      for (size_t k = 0; k < (c1 ? 2u : 1u); ++k) {
        unsigned char b = static_cast<unsigned char>(s[i + k]);
        out += {'\\', 'x', hex[b >> 4], hex[b & 15]};
      }
      i += c1 ? 1 : 0;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

/* A private directory for the enciphered rules and qzscan's report, removed
 * with everything in it. */
class WorkDir {
 public:
  bool make() {
    const char* tmp = getenv("TMPDIR");
    std::string tmpl =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qzrules_XXXXXX";
    if (mkdtemp(&tmpl[0]) == nullptr) return false;
    path_ = tmpl;
    return true;
  }
  ~WorkDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string file(const char* name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/* Counts of one row of a table. Files are those scanned plus those that
 * could not be; skipped files (not selected for a scan) are counted apart. */
struct Tally {
  uint64_t files = 0, threats = 0, suspicious = 0, clean = 0, errors = 0, skipped = 0;

  void add(const Tally& t) {
    files += t.files, threats += t.threats, suspicious += t.suspicious;
    clean += t.clean, errors += t.errors, skipped += t.skipped;
  }
  uint64_t flagged() const { return threats + suspicious; }
  /* part / files as a percentage; none when there are no files. */
  std::optional<double> rate(uint64_t part) const {
    if (files == 0) return std::nullopt;
    return kPercent * static_cast<double>(part) / static_cast<double>(files);
  }
};

/* One scanned directory: its rows by top-level subdirectory, its total, and
 * the files the report lists under it. */
struct DirResult {
  std::string dir;
  std::map<std::string, Tally> rows;
  Tally total;
  std::vector<json> missed;   // malicious side: neither threat nor suspicious
  std::vector<json> flagged;  // benign side: threat or suspicious
};

bool is_flagged(const json& file) {
  const std::string verdict = file.value("verdict", "");
  return file.value("status", "") == "scanned" && (verdict == "threat" || verdict == "suspicious");
}

/* "a//b/" -> "a//b": qzscan names files under the directory without the
 * trailing slashes given. "/" stays as it is. */
std::string without_trailing_slashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

/* The first component of path after the `skip` components of its directory;
 * kTopLevelRow for a file directly in it. Counting components rather than
 * comparing text keeps this right when the report shows a path with bytes
 * replaced (they are never "/"). */
std::string row_of(const std::string& path, size_t skip) {
  size_t start = 0;
  for (size_t k = 0; k < skip; ++k) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) return kTopLevelRow;
    start = slash + 1;
  }
  size_t slash = path.find('/', start);
  return slash == std::string::npos ? kTopLevelRow : path.substr(start, slash - start);
}

size_t components(const std::string& dir) {
  if (dir == "/") return 1;
  size_t n = 1;
  for (char c : dir) n += c == '/' ? 1 : 0;
  return n;
}

/* Sums a qzscan report of one directory. */
DirResult tally_report(const std::string& dir, const json& report, bool malicious) {
  DirResult r;
  r.dir = dir;
  const size_t skip = components(dir);
  for (const json& file : report["files"]) {
    Tally t;
    const std::string status = file.value("status", "");
    if (status == "skipped") {
      t.skipped = 1;
    } else {
      t.files = 1;
      const std::string verdict = file.value("verdict", "");
      if (status != "scanned")
        t.errors = 1;
      else if (verdict == "threat")
        t.threats = 1;
      else if (verdict == "suspicious")
        t.suspicious = 1;
      else
        t.clean = 1;
      if (malicious && !is_flagged(file)) r.missed.push_back(file);
      if (!malicious && is_flagged(file)) r.flagged.push_back(file);
    }
    r.rows[row_of(file.value("path", ""), skip)].add(t);
    r.total.add(t);
  }
  return r;
}

/* The rule file as qzscan is to read it: an enciphered file is used as it
 * is; a plain one is enciphered into the work directory. line_of maps each
 * line of the enciphered form to the line of the given file. */
struct PreparedRules {
  std::string path;
  std::vector<size_t> line_of;  // empty: the same lines
};

bool prepare_rules(const std::string& path, const WorkDir& work, PreparedRules& out) {
  std::string contents, why;
  if (!qzrules_read_file(path, contents, why)) {
    problem(path, why);
    return false;
  }
  std::vector<std::string> lines = qzrules_split_lines(contents);
  bool txt = path.size() >= 4 && path.compare(path.size() - 4, 4, ".txt") == 0;
  std::string enciphered = contents;
  out.path = path;
  if (txt || qzrules_guess_form(lines) == qzrules_input_form::plain) {
    enciphered.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string text = lines[i], hex;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (qzrules_is_plain_filler(text)) continue;
      if (!qzrules_encipher_line(text, hex, why)) {
        problem(path + ":" + std::to_string(i + 1), why + "; line left out");
        continue;
      }
      enciphered += hex + "\n";
      out.line_of.push_back(i + 1);
    }
    out.path = work.file("rules");
    std::ofstream f(out.path, std::ios::binary | std::ios::trunc);
    f << enciphered;
    f.close();
    if (!f) {
      problem(out.path, "cannot write");
      return false;
    }
  }
  qzrules_load_summary sum = qzrules_check_load(enciphered);
  if (sum.detecting == 0) {
    problem(path, "no rule that scores: every file would be clean");
    return false;
  }
  for (size_t line : sum.dropped) {
    size_t shown_line = line - 1 < out.line_of.size() ? out.line_of[line - 1] : line;
    problem(path + ":" + std::to_string(shown_line),
            "the engine drops this line (see `qzrules lint`)");
  }
  return true;
}

/* What qzscan wrote on standard error, each line once per run. After a
 * whole report, lines about the rule file are left out: prepare_rules has
 * said that once already, naming the lines of the file as given. */
void forward_errors(const std::string& err_path, const std::string& rules_path, bool whole,
                    std::set<std::string>& said) {
  std::string text, why;
  if (!qzrules_read_file(err_path, text, why)) return;
  const std::string about_rules = "qzscan: " + rules_path + ": ";
  for (const std::string& line : qzrules_split_lines(text)) {
    bool rules_line = line.compare(0, about_rules.size(), about_rules) == 0;
    if (!(whole && rules_line) && said.insert(line).second) std::cerr << line << "\n";
  }
}

/* Runs qzscan over one directory with its JSON report going into the work
 * directory. False, after saying why, when it cannot run or leaves no whole
 * report. */
bool scan_dir(const qzrules_test_options& o, const PreparedRules& rules, const WorkDir& work,
              const std::string& dir, json& report, std::set<std::string>& said) {
  const std::string out = work.file("report.json"), err = work.file("stderr");
  std::vector<std::string> args = {o.qzscan, "--rules",  rules.path, "--format",
                                   "json",   "--output", out};
  if (o.jobs != 0) args.insert(args.end(), {"--jobs", std::to_string(o.jobs)});
  if (o.no_extensions) args.push_back("--no-extensions");
  args.insert(args.end(), {"--", dir});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  unlink(out.c_str());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    problem(o.qzscan, std::string("cannot run: ") + strerror(rc));
    return false;
  }
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  std::string text, why;
  bool whole = WIFEXITED(st) && WEXITSTATUS(st) <= kQzscanLastStatusWithReport &&
               qzrules_read_file(out, text, why);
  if (whole) report = json::parse(text, nullptr, false);
  whole = whole && report.is_object() && report.value("complete", false) &&
          report.contains("files") && report["files"].is_array();
  forward_errors(err, rules.path, whole, said);
  if (!whole) {
    std::string how = WIFEXITED(st)     ? "exit status " + std::to_string(WEXITSTATUS(st))
                      : WIFSIGNALED(st) ? std::string("signal ") + strsignal(WTERMSIG(st))
                                        : "unknown end";
    problem(dir, "qzscan gave no report (" + how + ")");
    return false;
  }
  return true;
}

std::string percent(const std::optional<double>& rate) {
  if (!rate) return "-";
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f%%", *rate);
  return buf;
}

json rate_json(const std::optional<double>& rate) { return rate ? json(*rate) : json(nullptr); }

json tally_json(const std::string& name, const Tally& t, bool malicious) {
  json j = {{"name", name},         {"files", t.files},
            {"threats", t.threats}, {"suspicious", t.suspicious},
            {"clean", t.clean},     {"errors", t.errors},
            {"skipped", t.skipped}};
  if (malicious) {
    j["detection_rate"] = rate_json(t.rate(t.flagged()));
    j["threat_rate"] = rate_json(t.rate(t.threats));
  } else {
    j["fp_rate"] = rate_json(t.rate(t.flagged()));
  }
  return j;
}

void print_table(const DirResult& d, bool malicious) {
  size_t width = std::string("total").size();
  for (const auto& row : d.rows) width = std::max(width, shown(row.first).size());
  std::cout << (malicious ? "malicious: " : "benign: ") << shown(d.dir) << "\n";
  auto line = [&](const std::string& name, const std::vector<std::string>& cells) {
    std::string l = "  " + name + std::string(width - std::min(width, name.size()), ' ');
    for (const std::string& c : cells) l += std::string(c.size() < 11 ? 11 - c.size() : 1, ' ') + c;
    std::cout << l << "\n";
  };
  std::vector<std::string> head = {"files", "threats", "suspicious", "clean", "errors", "skipped"};
  if (malicious)
    head.insert(head.end(), {"detection", "threat"});
  else
    head.push_back("false-pos");
  line("", head);
  auto row = [&](const std::string& name, const Tally& t) {
    std::vector<std::string> cells = {std::to_string(t.files),      std::to_string(t.threats),
                                      std::to_string(t.suspicious), std::to_string(t.clean),
                                      std::to_string(t.errors),     std::to_string(t.skipped)};
    cells.push_back(percent(t.rate(t.flagged())));
    if (malicious) cells.push_back(percent(t.rate(t.threats)));
    line(shown(name), cells);
  };
  for (const auto& r : d.rows) row(r.first, r.second);
  row("total", d.total);
  std::cout << "\n";
}

/* A file with the scored calls qzscan reported, in the form of its
 * --explain output. */
void print_file(const json& file) {
  std::string head = "  " + shown(file.value("path", "")) + ": ";
  if (file.value("status", "") != "scanned") {
    std::cout << head << "error: " << shown(file.value("error", "")) << "\n";
    return;
  }
  const std::string verdict = file.value("verdict", "clean");
  std::cout << head << verdict;
  /* The score as qzscan shows it: a threat's definite sum, else both sums. */
  if (verdict != "clean")
    std::cout << " score="
              << file.value("score", 0ull) +
                     (verdict == "threat" ? 0ull : file.value("suspicious_score", 0ull));
  std::cout << "\n";
  for (const json& c : file.value("calls", json::array())) {
    std::string args;
    for (const json& a : c.value("args", json::array()))
      args += (args.empty() ? "" : ", ") + shown(a.is_string() ? a.get<std::string>() : "");
    std::cout << "    line " << c.value("line", 0ull) << ": " << shown(c.value("name", "")) << "("
              << args << ") -> " << shown(c.value("description", "")) << " [+"
              << c.value("score", 0ull) << "]";
    if (c.value("depth", 0ull) != 0)
      std::cout << " in evaluated code, depth " << c.value("depth", 0ull);
    std::cout << "\n";
  }
}

/* One threshold and whether the side's total met it. */
struct Check {
  const char* option;  // "--min-detection"...
  const char* what;    // "detection rate"...
  const char* side;    // "malicious", "benign"
  double limit;
  std::optional<double> value;
  bool at_least;  // a minimum, else a maximum

  bool met() const { return value && (at_least ? *value >= limit : *value <= limit); }
  std::string why() const {
    char lim[32];
    snprintf(lim, sizeof lim, "%g", limit);
    if (!value) return std::string(option) + " " + lim + ": no " + side + " file was scanned";
    return std::string(what) + " " + percent(value) + " is " + (at_least ? "below " : "above ") +
           option + " " + lim;
  }
};

}  // namespace

int qzrules_test(const qzrules_test_options& o) {
  for (const auto* side : {&o.malicious, &o.benign})
    for (const std::string& dir : *side) {
      struct stat st;
      if (stat(dir.c_str(), &st) != 0) {
        problem(dir, strerror(errno));
        return kExitError;
      }
      if (!S_ISDIR(st.st_mode)) {
        problem(dir, "not a directory");
        return kExitError;
      }
    }
  WorkDir work;
  if (!work.make()) {
    problem("temporary directory", strerror(errno));
    return kExitError;
  }
  PreparedRules rules;
  if (!prepare_rules(o.rules, work, rules)) return kExitError;

  std::set<std::string> said;
  std::vector<DirResult> results[2];  // malicious, benign
  Tally side_total[2];
  for (int m = 0; m < 2; ++m)
    for (const std::string& given : m == 0 ? o.malicious : o.benign) {
      const std::string dir = without_trailing_slashes(given);
      json report;
      if (!scan_dir(o, rules, work, dir, report, said)) return kExitError;
      results[m].push_back(tally_report(dir, report, m == 0));
      side_total[m].add(results[m].back().total);
    }

  std::vector<Check> checks;
  const Tally &mal = side_total[0], &ben = side_total[1];
  if (o.min_detection)
    checks.push_back({"--min-detection", "detection rate", "malicious", *o.min_detection,
                      mal.rate(mal.flagged()), true});
  if (o.min_threat)
    checks.push_back(
        {"--min-threat", "threat rate", "malicious", *o.min_threat, mal.rate(mal.threats), true});
  if (o.max_fp)
    checks.push_back(
        {"--max-fp", "false-positive rate", "benign", *o.max_fp, ben.rate(ben.flagged()), false});
  bool passed = true;
  for (const Check& c : checks) passed = passed && c.met();

  if (o.json) {
    json doc = {{"schema", "qzrules-test"}, {"version", kJsonVersion}, {"rules", o.rules}};
    json missed = json::array(), flagged = json::array();
    for (int m = 0; m < 2; ++m) {
      json dirs = json::array();
      for (const DirResult& d : results[m]) {
        json rows = json::array();
        for (const auto& r : d.rows) rows.push_back(tally_json(r.first, r.second, m == 0));
        dirs.push_back(
            {{"dir", d.dir}, {"rows", rows}, {"total", tally_json("total", d.total, m == 0)}});
        for (const json& f : d.missed) missed.push_back(f);
        for (const json& f : d.flagged) flagged.push_back(f);
      }
      doc[m == 0 ? "malicious" : "benign"] = {
          {"dirs", dirs}, {"total", tally_json("total", side_total[m], m == 0)}};
    }
    doc["missed"] = missed;
    doc["false_positives"] = flagged;
    json th = json::array();
    for (const Check& c : checks)
      th.push_back({{"option", c.option},
                    {"limit", c.limit},
                    {"value", rate_json(c.value)},
                    {"met", c.met()}});
    doc["thresholds"] = th;
    doc["passed"] = passed;
    std::cout << doc.dump(kJsonIndent, ' ', false, json::error_handler_t::replace) << "\n";
  } else {
    for (int m = 0; m < 2; ++m)
      for (const DirResult& d : results[m]) print_table(d, m == 0);
    std::vector<const json*> missed, flagged;
    for (const DirResult& d : results[0])
      for (const json& f : d.missed) missed.push_back(&f);
    for (const DirResult& d : results[1])
      for (const json& f : d.flagged) flagged.push_back(&f);
    if (!o.malicious.empty()) {
      std::cout << "missed malicious files: " << missed.size() << "\n";
      for (const json* f : missed) print_file(*f);
    }
    if (!o.benign.empty()) {
      std::cout << (o.malicious.empty() ? "" : "\n") << "flagged benign files: " << flagged.size()
                << "\n";
      for (const json* f : flagged) print_file(*f);
    }
  }
  std::cout.flush();
  if (!std::cout) {
    problem("stdout", "cannot write");
    return kExitError;
  }
  for (const Check& c : checks)
    if (!c.met()) std::cerr << "qzrules: " << c.why() << "\n";
  return passed ? kExitPassed : kExitFailed;
}
