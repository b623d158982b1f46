// Files qzscan knows before scanning: allowlists of trusted digests and the
// findings of an earlier report, end to end.

#include "tools/qzscan_runner.h"

#include <algorithm>
#include <map>

using namespace qzscan_test;

namespace {

const char* const kShell = "<?php\nsystem($_GET['c']);\n";

// status (and " known" for a known finding) by exact path, from a JSON report.
std::map<std::string, std::string> statuses(const std::string& out) {
  std::map<std::string, std::string> r;
  const json report = json::parse(out, nullptr, false);
  if (report.is_discarded()) return {{"<not a report>", out}};
  for (const json& f : report["files"]) {
    std::string status = f["status"];
    if (f.contains("verdict")) status += " " + f["verdict"].get<std::string>();
    if (f.value("known", false)) status += " known";
    r[f["path"]] = status;
  }
  return r;
}

class QzscanKnown : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    // The vendor tree holds code that looks like a shell, and is trusted.
    put("www/vendor/admin tool.php", std::string(kShell) + "// admin\n");
    put("www/vendor/new\nline.php", "<?php exec('ls');\n");
    put("www/index.php", "<?php echo 1;\n");
    put("www/upload/shell.php", kShell);
  }
};

// An allowlist made from the trusted tree lets those exact files through
// unscanned (a worker that met one would crash), and nothing else.
TEST_F(QzscanKnown, AllowlistRoundTrip) {
  Ran made = run("-o allow.txt --make-allowlist www/vendor");
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string list = slurp(root + "/allow.txt");
  EXPECT_EQ(list.rfind("# qzscan allowlist of www/vendor, made ", 0), 0u) << list;
  EXPECT_NE(
      list.find(sha256_of(root + "/www/vendor/admin tool.php") + "  www/vendor/admin tool.php\n"),
      std::string::npos)
      << list;
  EXPECT_NE(list.find("  www/vendor/new\\nline.php\n"), std::string::npos) << list;
  // sha256sum's own output, in capitals, with comments and blank lines.
  std::string upper = sha256_of(root + "/www/upload/shell.php");
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  put("sums.txt", "# reviewed\n\n  " + upper + " *www/upload/shell.php\n");

  const struct {
    std::vector<std::string> args;
    int status;
    std::map<std::string, std::string> expected;
  } rows[] = {
      {{"--allowlist", "allow.txt", "www"},
       1,
       {{"www/index.php", "scanned clean"},
        {"www/upload/shell.php", "scanned threat"},
        {"www/vendor/admin tool.php", "allowed"},
        {"www/vendor/new\nline.php", "allowed"}}},
      {{"--allowlist", "allow.txt", "--allowlist", "sums.txt", "www"},
       0,
       {{"www/index.php", "scanned clean"},
        {"www/upload/shell.php", "allowed"},
        {"www/vendor/admin tool.php", "allowed"},
        {"www/vendor/new\nline.php", "allowed"}}},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = {"--format", "json"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    Ran res = run(Launch{args, {"QZSCAN_TEST_CRASH_ON=vendor"}});
    EXPECT_EQ(res.status, r.status) << res.err;
    EXPECT_EQ(statuses(res.out), r.expected);
    EXPECT_EQ(json::parse(res.out)["summary"]["allowed"], r.status ? 2 : 3);
  }
  // A trusted file that changed is scanned again.
  put("www/vendor/admin tool.php", std::string(kShell) + "// changed\n");
  Ran res = run(Launch{{"--allowlist", "allow.txt", "www/vendor"}});
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.out.rfind("www/vendor/admin tool.php: THREAT", 0), 0u) << res.out;
  EXPECT_NE(res.out.find("; 1 allowed\n"), std::string::npos) << res.out;
}

TEST_F(QzscanKnown, BadAllowlistsAndBaselinesStopTheRun) {
  const std::string digest(64, 'a');
  const struct {
    std::string option, contents, err;  // err: after "qzscan: OPTION: FILE"
  } rows[] = {
      {"--allowlist", digest + "\n" + digest.substr(1) + "\n", ":2: expected a SHA-256 digest"},
      {"--allowlist", "sha256 " + digest + "\n", ":1: expected a SHA-256 digest"},
      {"--allowlist", digest + "x  file.php\n", ":1: expected a SHA-256 digest"},
      {"--baseline", "not json", ": expected a JSON report written by qzscan"},
      {"--baseline", R"({"schema": "other", "files": []})", ": expected a JSON report"},
      {"--baseline", R"({"schema": "qzscan-report", "files": {}})", ": expected a JSON report"},
  };
  for (const auto& r : rows) {
    put("known", r.contents);
    std::vector<std::string> args = {r.option, "known", "www"};
    if (r.option == "--baseline") args.push_back("--only-new");
    Ran res = run(Launch{args});
    EXPECT_EQ(res.status, 2) << r.contents;
    EXPECT_EQ(res.err.rfind("qzscan: " + r.option + ": known" + r.err, 0), 0u) << res.err;
  }
  Ran res = run("--allowlist missing www");
  EXPECT_EQ(res.err, "qzscan: --allowlist: missing: No such file or directory\n");
  EXPECT_EQ(run("--only-new www").status, 2);
}

// --only-new reports a finding when its path or its digest is new, whatever
// the format, and the exit status follows only those.
TEST_F(QzscanKnown, BaselineReportsOnlyNewFindings) {
  put("www/odd\xff.php", kShell);
  ASSERT_EQ(run("--format json -o base.json www").status, 1);
  // Nothing new: clean exit, no finding shown, known ones counted.
  Ran same = run("--baseline base.json --only-new www");
  EXPECT_EQ(same.status, 0) << same.out << same.err;
  EXPECT_EQ(same.out.find("THREAT"), std::string::npos) << same.out;
  EXPECT_NE(same.out.find("; 4 known findings not shown\n"), std::string::npos) << same.out;

  put("www/upload/shell.php", std::string(kShell) + "// another\n");  // same path, new digest
  put("www/upload/more.php", kShell);                                 // new path, old digest
  const struct {
    std::string format;
    std::vector<std::string> shown;  // findings reported, in order
  } rows[] = {
      {"text", {"www/upload/more.php", "www/upload/shell.php"}},
      {"print0", {"www/upload/more.php", "www/upload/shell.php"}},
      {"sarif", {"www/upload/more.php", "www/upload/shell.php"}},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = {"--baseline", "base.json", "--only-new", "www"};
    if (r.format == "print0")
      args.push_back("--print0");
    else
      args.insert(args.end(), {"--format", r.format});
    Ran res = run(Launch{args});
    EXPECT_EQ(res.status, 1) << res.err;
    std::vector<std::string> shown;
    if (r.format == "text") {
      std::istringstream lines(res.out);
      for (std::string l; std::getline(lines, l);)
        if (l.find(": THREAT") != std::string::npos || l.find(": SUSPICIOUS") != std::string::npos)
          shown.push_back(l.substr(0, l.find(": ")));
    } else if (r.format == "print0") {
      std::istringstream items(res.out);
      for (std::string p; std::getline(items, p, '\0');) shown.push_back(p);
    } else {
      const json sarif = json::parse(res.out);
      for (const json& x : sarif["runs"][0]["results"])
        shown.push_back(
            x["locations"][0]["physicalLocation"]["artifactLocation"]["uri"].get<std::string>());
    }
    EXPECT_EQ(shown, r.shown) << r.format << "\n" << res.out;
  }
  const json report = json::parse(run("--format json --baseline base.json --only-new www").out);
  EXPECT_EQ(statuses(report.dump()),
            (std::map<std::string, std::string>{
                {"www/index.php", "scanned clean"},
                {"www/odd\xef\xbf\xbd.php", "scanned threat known"},
                {"www/upload/more.php", "scanned threat"},
                {"www/upload/shell.php", "scanned threat"},
                {"www/vendor/admin tool.php", "scanned threat known"},
                {"www/vendor/new\nline.php", "scanned suspicious known"}}));
  EXPECT_EQ(report["summary"]["threats"], 2);
  EXPECT_EQ(report["summary"]["suspicious"], 0);
  EXPECT_EQ(report["summary"]["known"], 3);
}

}  // namespace
