// qzscan end to end: a temporary tree of scripts, the real binary, and its
// outputs read back.

#include "tools/qzscan_runner.h"

#include <sys/stat.h>

#include <functional>

using namespace qzscan_test;

namespace {

class Qzscan : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    put("site/index.php", "<?php echo 'hello';\n");
    put("site/shell.PHP", "<?php\nsystem($_GET['c']);\n");
    put("site/lib/odd.phtml", "<?php exec('ls');\n");
    put("site/lib/notes.txt", "<?php eval($_POST['x']);\n");
    put("site/cache/cached.php", "<?php eval($_POST['x']);\n");
    put("site/big.php", "<?php eval($_POST['x']);\n" + std::string(3000, '#'));
    symlink("..", (root + "/site/lib/up").c_str());
    mkfifo((root + "/site/lib/pipe.php").c_str(), 0644);
  }
};

TEST_F(Qzscan, SelectionRecoveryAndExitStatus) {
  struct Row {
    std::string args;
    int status;
    std::vector<std::string> out;     // each in the standard output
    std::vector<std::string> err;     // each in the standard error
    std::vector<std::string> absent;  // in neither
    std::vector<std::string> env = {};
  };
  const std::string some = "--exclude *.PHP --exclude cache --exclude big.php site";
  const Row rows[] = {
      // Links are not followed by default, and a FIFO in a directory is passed over.
      {"site", 1, {"shell.PHP: THREAT", "cached.php: THREAT"}, {}, {"notes.txt", "loop", "pipe"}},
      {some, 0, {"odd.phtml: SUSPICIOUS"}, {}, {"shell.PHP", "cached.php"}},
      {"--fail-on suspicious " + some, 1, {"odd.phtml"}, {}, {}},
      {"--ext txt site", 1, {"notes.txt: THREAT"}, {}, {"shell.PHP"}},
      {"site/index.php", 0, {"1 scanned"}, {}, {"THREAT"}},
      {"site/missing.php site/shell.PHP", 2, {"shell.PHP"}, {"qzscan: site/missing.php: "}, {}},
      {"--follow-symlinks site", 2, {}, {"symbolic link loop"}, {}},
      {"-j 2 site",
       2,
       {"shell.PHP: THREAT"},
       {"odd.phtml: worker crashed"},
       {},
       {"QZSCAN_TEST_CRASH_ON=odd.phtml"}},
      {"--timeout 1 site",
       2,
       {"shell.PHP"},
       {"index.php: timed out after 1 seconds"},
       {},
       {"QZSCAN_TEST_HANG_ON=index.php"}},
      // Named on the command line, what is not a regular file is an error and
      // a FIFO is never waited on.
      {"/dev/zero site/lib/pipe.php",
       2,
       {},
       {"qzscan: /dev/zero: not a regular file", "qzscan: site/lib/pipe.php: not a regular file"},
       {}},
      // Skipped files are listed under -q and fail the run under --fail-on skip.
      {"-q --max-filesize 1K site/index.php site/big.php", 0, {"big.php: SKIPPED"}, {}, {"THREAT"}},
      {"--fail-on skip --max-filesize 1K site/index.php site/big.php",
       1,
       {"big.php: SKIPPED"},
       {},
       {}},
  };
  for (const Row& r : rows) {
    Ran res = run(r.args, r.env);
    const std::string all = res.out + res.err, what = r.args + "\n" + all;
    EXPECT_EQ(res.status, r.status) << what;
    for (const std::string& p : r.out)
      EXPECT_NE(res.out.find(p), std::string::npos) << p << ": " << what;
    for (const std::string& p : r.err)
      EXPECT_NE(res.err.find(p), std::string::npos) << p << ": " << what;
    for (const std::string& a : r.absent)
      EXPECT_EQ(all.find(a), std::string::npos) << a << ": " << what;
  }
}

// A rule file that gives no rule would call every shell clean: the run stops
// before scanning. Lines the engine drops are named.
TEST_F(Qzscan, AnUnusableRuleFileStopsTheRun) {
  const std::string good = encipher(kRules[0]) + "\n" + encipher(kRules[1]) + "\n";
  const std::string no_rules =
      "no usable rules (0 loaded, none that scores); a plain rule file "
      "must first be enciphered with `qzrules encrypt`";
  struct Row {
    std::string contents;  // of the rule file; "/": a directory, "": none at all
    std::string args;
    int status;
    std::string err;  // after "qzscan: RULES: "
  };
  const Row rows[] = {
      {"", "", 2, "cannot read the rule file: No such file or directory"},
      {"/", "", 2, "cannot read the rule file: not a regular file"},
      {"\n", "", 2, no_rules},
      {std::string("\x8f\x01\xfe\x00\x7f\x80garbage\n", 14), "", 2, no_rules},
      {std::string(kRules[0]) + "\n" + kRules[1] + "\n", "", 2, no_rules},
      {encipher(kRules[0]) + "\r" + encipher(kRules[1]) + "\r", "", 2, no_rules},
      {encipher(kRules[0]) + "\n", "", 2, "no usable rules (1 loaded, none that scores)"},
      {good + "GARBAGE\n\n" + encipher("define_thing(x)") + "\n", "", 1,
       "warning: 2 lines cannot be deciphered or parsed: lines 3, 5\n"},
      {good + "0\n", "--strict-rules", 2,
       "1 line cannot be deciphered or parsed: line 3 (--strict-rules)\n"},
  };
  for (const Row& r : rows) {
    fs::remove(rules);
    if (r.contents == "/")
      fs::create_directory(rules);
    else if (!r.contents.empty())
      std::ofstream(rules, std::ios::binary) << r.contents;
    Ran res = run(r.args + " site/shell.PHP");
    fs::remove(rules);
    EXPECT_EQ(res.status, r.status) << r.contents << res.err;
    EXPECT_EQ(res.err.find("qzscan: " + rules + ": " + r.err), 0u) << r.contents << res.err;
  }
}

// --version names the rule file, its digest and its rules; an installed
// binary never takes a rule file found next to it over the installed one.
TEST_F(Qzscan, VersionNamesTheRuleFileAndACopyIgnoresBuildTreeRules) {
  Ran v = run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(
      v.out.find("\nrules: " + rules + "\nsha256: " + sha256_of(rules) + "\nrules loaded: 3\n"),
      std::string::npos)
      << v.out;
  fs::create_directories(tmp + "/t/bin/x");
  fs::create_directories(tmp + "/t/rules");
  fs::copy_file(kQzscan, tmp + "/t/bin/x/qzscan");
  fs::copy_file(rules, tmp + "/t/rules/default.rules");
  FILE* p = popen(("'" + tmp + "/t/bin/x/qzscan' --version").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[4096] = {}, rules_line[4096] = {};
  if (std::fgets(line, sizeof line, p)) std::fgets(rules_line, sizeof rules_line, p);
  pclose(p);
  EXPECT_EQ(std::string(rules_line).rfind("rules: ", 0), 0u) << rules_line;
  EXPECT_EQ(std::string(rules_line).find(tmp), std::string::npos) << rules_line;
}

// A file that changes between listing and scanning is reported as what it
// has become, never as clean; a FIFO is never waited on.
TEST_F(Qzscan, AFileThatChangesAfterListingIsNeverQuietlyClean) {
  const std::pair<std::string, std::function<void(const std::string&)>> rows[] = {
      {"slow_gone.php: No such file or directory", [](const std::string&) {}},
      {"slow_fifo.php: not a regular file", [](const std::string& p) { mkfifo(p.c_str(), 0644); }},
      {"slow_dir.php: not a regular file", [](const std::string& p) { mkdir(p.c_str(), 0755); }},
      {"slow_link.php: a symbolic link, not followed",
       [](const std::string& p) { EXPECT_EQ(symlink("../site/shell.PHP", p.c_str()), 0); }},
      {"slow_big.php: SKIPPED: larger than the size limit", nullptr},
  };
  auto name = [](const std::string& line) { return line.substr(0, line.find(':')); };
  for (const auto& r : rows) put("more/" + name(r.first), "<?php echo 1;\n");
  pid_t pid = start({{"-j", "5", "--max-filesize", "1K", "more"}, {"QZSCAN_TEST_SLOW_ON=slow_"}});
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (const auto& [line, change] : rows) {
    const std::string path = root + "/more/" + name(line);
    if (change) {
      unlink(path.c_str());
      change(path);
    } else {
      std::ofstream(path, std::ios::app) << std::string(2000, ' ');
    }
  }
  Ran res = finish(pid);
  EXPECT_EQ(res.status, 2) << res.out << res.err;
  for (const auto& [line, change] : rows) {
    const std::string shown = (change ? "qzscan: more/" : "more/") + line + "\n";
    EXPECT_NE((change ? res.err : res.out).find(shown), std::string::npos)
        << shown << res.out << res.err;
  }
}

// A stop signal ends the run at once with 128 plus its number: the files
// finished are reported, the report says the run was stopped and no worker
// is left behind. Text already written has reached the reader even when
// qzscan is killed outright, and workers die with it.
TEST_F(Qzscan, SignalsStopTheWorkersAndKeepWhatIsFinished) {
  const json rule_file = {{"path", rules}, {"sha256", sha256_of(rules)}, {"count", 3}};
  const std::string shell_line = "site/shell.PHP: THREAT score=10 line=2 runs request input\n";
  const std::tuple<int, int, const char*> rows[] = {
      {SIGINT, 130, "json"}, {SIGTERM, 143, "sarif"}, {SIGHUP, 129, "text"}, {SIGKILL, -9, "text"}};
  for (const auto& [sig, status, format] : rows) {
    SCOPED_TRACE(sig);
    Ran res = stop(
        {{"--format", format, "-j", "2", "site/index.php", "site/shell.PHP", "site/lib/odd.phtml"},
         {"QZSCAN_TEST_HANG_ON=odd.phtml"}},
        sig);
    EXPECT_EQ(res.status, status) << res.err;
    EXPECT_TRUE(res.group_ended);
    if (sig == SIGKILL) {
      EXPECT_EQ(res.out, shell_line);
    } else if (std::string(format) == "text") {
      EXPECT_EQ(res.out.rfind(shell_line, 0), 0u) << res.out;
      const std::string end =
          "; 3 rules from " + rules + " (sha256 " + sha256_of(rules) + "); interrupted\n";
      EXPECT_TRUE(ends_with(res.out, end)) << res.out;
    } else if (std::string(format) == "json") {
      json report = json::parse(res.out);
      std::vector<std::string> paths;
      for (const json& f : report["files"]) paths.push_back(f["path"].get<std::string>());
      EXPECT_EQ(paths, (std::vector<std::string>{"site/index.php", "site/shell.PHP"}));
      EXPECT_EQ(report["complete"], false);
      EXPECT_EQ(report["rules"], rule_file);
    } else {
      json sarif = json::parse(res.out);
      EXPECT_EQ(sarif["runs"][0]["invocations"][0]["executionSuccessful"], false);
      EXPECT_EQ(sarif["runs"][0]["properties"]["rules"], rule_file);
      EXPECT_EQ(sarif["runs"][0]["results"].size(), 1u);
    }
  }
}

// Links followed: a diamond of links reaches one file 2^18 ways, and it is
// scanned once.
TEST_F(Qzscan, EachDirectoryIsWalkedOnceWhenLinksAreFollowed) {
  const int levels = 18;
  put("d" + std::to_string(levels) + "/shell.php", "<?php system($_GET['c']);\n");
  std::string first = "d0";
  for (int i = 0; i < levels; i++) {
    first += "/a";
    fs::create_directory(root + "/d" + std::to_string(i));
    for (const char* name : {"/a", "/b"})
      ASSERT_EQ(symlink(("../d" + std::to_string(i + 1)).c_str(),
                        (root + "/d" + std::to_string(i) + name).c_str()),
                0);
  }
  Ran res = run("--follow-symlinks --format json d0");
  EXPECT_EQ(res.status, 1) << res.err;
  json report = json::parse(res.out);
  ASSERT_EQ(report["files"].size(), 1u);
  EXPECT_EQ(report["files"][0]["path"], first + "/shell.php");
}

// A worker that runs out of its memory reports its file as an error, and a
// fresh worker takes the next file. Sanitizer builds run workers unlimited.
TEST_F(Qzscan, AWorkerOutOfMemoryIsAnErrorAndTheRunGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "no worker memory limit under sanitizers";
#endif
  // 8 MiB of text, then forty copies of it held at once; a comment of 8 MiB
  // gives the engine's own per-scan budget room beyond the worker's limit.
  std::string php = "<?php\n$a = 'xxxxxxxxxxxxxxxx';\n";
  for (int i = 0; i < 19; i++) php += "$a = $a . $a;\n";
  for (int i = 0; i < 40; i++)
    php += "$b" + std::to_string(i) + " = $a . '" + std::to_string(i) + "';\n";
  put("site/big_memory.php", php + "/*" + std::string(8 << 20, ' ') + "*/\n");
  Ran res = run("-j 1 --worker-memory 128M site/big_memory.php site/shell.PHP");
  EXPECT_EQ(res.status, 2);
  EXPECT_NE(res.err.find("qzscan: site/big_memory.php: out of memory: an allocation failed"),
            std::string::npos)
      << res.err;
  EXPECT_NE(res.out.find("site/shell.PHP: THREAT"), std::string::npos) << res.out;
}

// The parent keeps a bounded number of scored calls per file and counts the
// rest, in the report and under --explain.
TEST_F(Qzscan, ScoredCallsBeyondTheCapAreCounted) {
  std::string php = "<?php\n";
  for (int i = 0; i < 1500; i++) php += "exec('ls');\n";
  put("site/calls.php", php);
  const json f = json::parse(run("--format json site/calls.php").out)["files"][0];
  EXPECT_EQ(f["calls"].size(), 1000u);
  EXPECT_EQ(f["calls_dropped"], 500);
  EXPECT_EQ(f["suspicious_score"], 1500 * 3);
  const std::string out = run("--explain -q site/calls.php").out;
  EXPECT_TRUE(ends_with(out, "\n    ... and 500 more scored calls, not kept\n")) << out;
}

}  // namespace
