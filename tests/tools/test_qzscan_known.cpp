// Files qzscan knows before scanning: allowlists of trusted digests and the
// findings of an earlier report, end to end.

#include "tools/qzscan_runner.h"

#include <algorithm>
#include <map>

using namespace qzscan_test;

namespace {

using Files = std::multimap<std::string, std::string>;

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
    std::string args;  // after --format json
    int status;
    std::string shell;  // what www/upload/shell.php is
  } rows[] = {
      {"--allowlist allow.txt www", 1, "scanned threat"},
      {"--allowlist allow.txt --allowlist sums.txt www", 0, "allowed"},
  };
  for (const auto& r : rows) {
    Ran res = run("QZSCAN_TEST_CRASH_ON=vendor --format json " + r.args);
    EXPECT_EQ(res.status, r.status) << res.err;
    EXPECT_EQ(report_files(res.out), (Files{{"www/index.php", "scanned clean"},
                                            {"www/upload/shell.php", r.shell},
                                            {"www/vendor/admin tool.php", "allowed"},
                                            {"www/vendor/new\nline.php", "allowed"}}));
    EXPECT_EQ(json::parse(res.out)["summary"]["allowed"], r.status ? 2 : 3);
  }
  // A trusted file that changed is scanned again.
  put("www/vendor/admin tool.php", std::string(kShell) + "// changed\n");
  Ran res = run(Launch{{"--allowlist", "allow.txt", "www/vendor"}});
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.out.rfind("www/vendor/admin tool.php: THREAT", 0), 0u) << res.out;
  EXPECT_NE(res.out.find("; 1 allowed\n"), std::string::npos) << res.out;
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
  // Each format shows the same two findings, in order.
  for (const std::string format : {"text", "print0", "sarif"}) {
    std::vector<std::string> args = {"--baseline", "base.json", "--only-new", "www"};
    if (format == "print0")
      args.push_back("--print0");
    else
      args.insert(args.end(), {"--format", format});
    Ran res = run(Launch{args});
    EXPECT_EQ(res.status, 1) << res.err;
    std::vector<std::string> shown;
    if (format == "text") {
      std::istringstream lines(res.out);
      for (std::string l; std::getline(lines, l);)
        if (l.find(": THREAT") != std::string::npos || l.find(": SUSPICIOUS") != std::string::npos)
          shown.push_back(l.substr(0, l.find(": ")));
    } else if (format == "print0") {
      std::istringstream items(res.out);
      for (std::string p; std::getline(items, p, '\0');) shown.push_back(p);
    } else {
      const json sarif = json::parse(res.out);
      for (const json& x : sarif["runs"][0]["results"])
        shown.push_back(
            x["locations"][0]["physicalLocation"]["artifactLocation"]["uri"].get<std::string>());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"www/upload/more.php", "www/upload/shell.php"}))
        << format << "\n"
        << res.out;
  }
  const json report = json::parse(run("--format json --baseline base.json --only-new www").out);
  EXPECT_EQ(report_files(report.dump()),
            (Files{{"www/index.php", "scanned clean"},
                   {"www/odd\xff.php", "scanned threat known"},
                   {"www/upload/more.php", "scanned threat"},
                   {"www/upload/shell.php", "scanned threat"},
                   {"www/vendor/admin tool.php", "scanned threat known"},
                   {"www/vendor/new\nline.php", "scanned suspicious known"}}));
  EXPECT_EQ(report["summary"]["threats"], 2);
  EXPECT_EQ(report["summary"]["suspicious"], 0);
  EXPECT_EQ(report["summary"]["known"], 3);
}

}  // namespace
