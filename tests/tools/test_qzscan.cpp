// qzscan end to end: a temporary tree of scripts, the real binary, and its
// outputs read back.

#include "tools/qzscan_runner.h"

#include <sys/stat.h>

#include <functional>

using namespace qzscan_test;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

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
    std::string args;  // after any NAME=value settings for the environment
    int status;
    std::vector<std::string> shown;        // on standard error when it begins "qzscan: "
    std::vector<std::string> absent = {};  // in neither output
    std::string input = "";                // on standard input
  };
  const std::string some = "--exclude *.PHP --exclude cache --exclude big.php site";
  const std::string skip = "--max-filesize 1K --skip-large site/index.php site/big.php";
  std::string php = "<?php\n$a = 'xxxxxxxxxxxxxxxx';\n";  // 8 MiB, then forty copies of it
  for (int i = 0; i < 19; i++) php += "$a = $a . $a;\n";
  for (int i = 0; i < 40; i++)
    php += "$b" + std::to_string(i) + " = $a . '" + std::to_string(i) + "';\n";
  put("mem/big.php", php + "/*" + std::string(8 << 20, ' ') + "*/\n");  // past the scan's budget
  // Fifteen layers of eval(base64_decode(...)): the outer literal is far
  // longer than the baseline's 5,000-character token.
  put("layers/deep.php", "<?php " + codec::eval_layers("system($_GET['c']);", 15) + "\n");
  // clang-format off
  const Row rows[] = {
      // Layers of encoded code are unwrapped to the command inside.
      {"layers/deep.php", 1, {"deep.php: THREAT score=10"}},
      {"--no-extensions layers/deep.php", 0, {}, {"THREAT"}},
      // Links are not followed by default, and a FIFO in a directory is passed over.
      {"site", 1, {"shell.PHP: THREAT", "cached.php: THREAT"}, {"notes.txt", "loop", "pipe"}},
      {some, 0, {"odd.phtml: SUSPICIOUS"}, {"shell.PHP", "cached.php"}},
      {"--fail-on suspicious " + some, 1, {"odd.phtml"}},
      {"--ext txt site", 1, {"notes.txt: THREAT"}, {"shell.PHP"}},
      // An empty selection is said and is no error; with --all-files --ext may be empty.
      {"--ext inc site", 0, {"qzscan: no file selected ("}},
      {"--ext= --all-files site", 1, {"notes.txt: THREAT", "shell.PHP: THREAT"}},
      {"site/missing.php site/shell.PHP", 2, {"shell.PHP", "qzscan: site/missing.php: "}},
      {"--follow-symlinks site", 2, {"qzscan: site/lib/up: symbolic link loop"}},
      {"QZSCAN_TEST_CRASH_ON=odd.phtml -j 2 site", 2, {"shell.PHP: THREAT", "qzscan: site/lib/odd.phtml: worker crashed"}},
      // The hung file alone: any other file would have to finish within the second.
      {"QZSCAN_TEST_HANG_ON=index.php --timeout 1 site/index.php", 2, {"qzscan: site/index.php: timed out after 1 seconds"}},
      {"-j 1 --worker-memory 64M mem/big.php site/shell.PHP", 2,
       {"qzscan: mem/big.php: out of memory: an allocation failed", "site/shell.PHP: THREAT"}},
      // Named on the command line, what is not a regular file is an error and
      // a FIFO is never waited on.
      {"/dev/zero site/lib/pipe.php", 2, {"qzscan: /dev/zero: not a regular file", "qzscan: site/lib/pipe.php: not a regular file"}},
      // Skipped files are listed under -q and fail the run under --fail-on skip.
      {"-q " + skip, 0, {"big.php: SKIPPED"}, {"THREAT"}},
      {"--fail-on skip " + skip, 1, {"big.php: SKIPPED"}},
      // "-" scans standard input as <stdin> (never by its temporary name), skipped over the limit.
      {"-", 1, {"<stdin>: THREAT score=10 line=2"}, {"qzscan-stdin"}, kShell},
      {"--max-filesize 1K --skip-large -", 0, {"<stdin>: SKIPPED: larger than the size limit\n"}, {}, kShell + std::string(5000, '#')},
      {"--files-from -", 0, {"qzscan: no file selected ("}},
  };
  // clang-format on
  for (const Row& r : rows) {
    // Sanitizer builds run workers without a memory limit.
    if (kSanitized && r.args.find("--worker-memory") != std::string::npos) continue;
    Ran res = run(r.args, r.input);
    const std::string all = res.out + res.err, what = r.args + "\n" + all;
    EXPECT_EQ(res.status, r.status) << what;
    for (const std::string& p : r.shown)
      EXPECT_NE((p.rfind("qzscan: ", 0) == 0 ? res.err : res.out).find(p), std::string::npos)
          << p << ": " << what;
    for (const std::string& a : r.absent)
      EXPECT_EQ(all.find(a), std::string::npos) << a << ": " << what;
  }
}

// The test hooks are in qzscan-testhooks only: in qzscan their settings
// change nothing, and it does not even hold their names.
TEST_F(Qzscan, OnlyTheTestBinaryHasTestHooks) {
  ASSERT_EQ(run("--cache cache.db site/shell.PHP").status, 1);
  struct Row {
    std::string env;  // one setting, or none
    Binary binary;
    std::string args;  // before the file, after --format json
    int status;
    std::string shell;  // what the report says of site/shell.PHP
    // What standard error holds (all of it, when empty). A sanitizer
    // build reports the crash itself first, and its worker dies of abort.
    std::string err;
    std::string event;  // seen on the event pipe; empty: no event at all
  };
  const std::string crash = "QZSCAN_TEST_CRASH_ON=shell", engine = "QZSCAN_TEST_ENGINE_VERSION=9.9";
  const Row rows[] = {
      {crash, Binary::Release, "", 1, "scanned threat", "", ""},
      {crash, Binary::TestHooks, "", 2, "error",
       "qzscan: site/shell.PHP: worker crashed (signal ", ""},
      {"", Binary::Release, "", 1, "scanned threat", "", ""},
      {"", Binary::TestHooks, "", 1, "scanned threat", "", "done site/shell.PHP"},
      {engine, Binary::Release, "--cache cache.db", 1, "scanned threat cached", "", ""},
      {engine, Binary::TestHooks, "--cache cache.db", 1, "scanned threat", "",
       "open site/shell.PHP"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.env + (r.binary == Binary::Release ? " qzscan" : " qzscan-testhooks"));
    Events events;
    Launch l{{"--format", "json"}};
    std::istringstream args(r.args);
    for (std::string a; args >> a;) l.args.push_back(a);
    l.args.push_back("site/shell.PHP");
    if (!r.env.empty()) l.env.push_back(r.env);
    l.events = &events;
    l.binary = r.binary;
    Ran res = run(l);
    EXPECT_EQ(res.status, r.status) << res.err;
    if (r.err.empty()) {
      EXPECT_EQ(res.err, "");
    } else {
      EXPECT_NE(res.err.find(r.err), std::string::npos) << res.err;
    }
    EXPECT_EQ(report_files(res.out),
              (std::multimap<std::string, std::string>{{"site/shell.PHP", r.shell}}));
    EXPECT_TRUE(events.wait_end());
    if (r.event.empty())
      EXPECT_EQ(events.log(), "\n");
    else
      EXPECT_NE(events.log().find("\n" + r.event + "\n"), std::string::npos) << events.log();
  }
  for (Binary b : {Binary::Release, Binary::TestHooks})
    EXPECT_EQ(slurp(qzscan_binary(b)).find("QZSCAN_TEST_") == std::string::npos,
              b == Binary::Release);
}

// A rule file that gives no rule would call every shell clean: the run stops
// before scanning. Lines the engine drops are named.
TEST_F(Qzscan, AnUnusableRuleFileStopsTheRun) {
  const std::string good = encipher(kRules[0]) + "\n" + encipher(kRules[1]) + "\n";
  std::string vars, many;
  for (int i = 0; i < 300; ++i) vars += encipher(kRules[0]) + "\n";
  for (int i = 0; i < 120; ++i) many += good + encipher(kRules[2]) + "\n";
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
      {good + encipher(kRules[2]) + "\r\n\nGARBAGE", "", 1,
       "warning: 1 line cannot be deciphered or parsed: line 5\n"},
      {vars, "", 2, "no usable rules (300 loaded, none that scores)"},
      {many + "0\n" + vars, "--strict-rules", 2,
       "1 line cannot be deciphered or parsed: line 361 (--strict-rules)\n"},
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

// --version names the rule file, its digest and its rules; a copy outside
// the build tree takes the installed rules, not a build-tree-like neighbour.
TEST_F(Qzscan, VersionNamesTheRuleFileAndACopyIgnoresBuildTreeRules) {
  Ran v = run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(
      v.out.find("\nrules: " + rules + "\nsha256: " + sha256_of(rules) + "\nrules loaded: 3\n"),
      std::string::npos)
      << v.out;
  fs::create_directories(tmp + "/t/bin/x");
  fs::create_directories(tmp + "/t/rules");
  fs::copy_file(QZ_BINARY_DIR "/tools/qzscan/qzscan", tmp + "/t/bin/x/qzscan");
  fs::copy_file(rules, tmp + "/t/rules/default.rules");
  FILE* p = popen(("'" + tmp + "/t/bin/x/qzscan' --version 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[4096] = {}, rules_line[4096] = {};
  if (std::fgets(line, sizeof line, p)) std::fgets(rules_line, sizeof rules_line, p);
  pclose(p);
  EXPECT_EQ(std::string(rules_line).rfind("rules: /", 0), 0u) << line << rules_line;
  EXPECT_EQ(std::string(rules_line).find(tmp), std::string::npos) << rules_line;
}

// A file that changes between listing and scanning is reported as what it
// has become, never as clean; a FIFO is never waited on.
TEST_F(Qzscan, AFileThatChangesAfterListingIsNeverQuietlyClean) {
  const std::pair<std::string, std::function<void(const std::string&)>> rows[] = {
      {"gone.php: No such file or directory", [](const std::string&) {}},
      {"fifo.php: not a regular file", [](auto& p) { mkfifo(p.c_str(), 0644); }},
      {"dir.php: not a regular file", [](auto& p) { mkdir(p.c_str(), 0755); }},
      {"link.php: a symbolic link, not followed",
       [](auto& p) { EXPECT_EQ(symlink("../site/shell.PHP", p.c_str()), 0); }},
      {"big.php: SKIPPED: larger than the size limit",
       [](auto& p) { std::ofstream(p) << std::string(2000, ' '); }},
  };
  auto path = [&](const std::string& line) {
    return root + "/more/" + line.substr(0, line.find(':'));
  };
  for (const auto& r : rows) put("more/" + r.first.substr(0, r.first.find(':')), "<?php echo 1;\n");
  // Each of the five workers holds its file until all are changed.
  Events events;
  Launch l{{"-j", "5", "--max-filesize", "1K", "--skip-large", "more"}, {"QZSCAN_TEST_HOLD_ON=.php"}};
  l.events = &events;
  pid_t pid = start(l);
  for (const auto& r : rows)
    EXPECT_TRUE(events.wait("hold more/" + r.first.substr(0, r.first.find(':')))) << events.log();
  for (const auto& [line, change] : rows) {
    unlink(path(line).c_str());
    change(path(line));
  }
  events.release(std::size(rows));
  Ran res = finish(pid);
  EXPECT_EQ(res.status, 2) << res.out << res.err;
  for (const auto& [line, change] : rows) {
    const bool skipped = line.find("SKIPPED") != std::string::npos;
    EXPECT_NE(
        (skipped ? res.out : res.err).find((skipped ? "more/" : "qzscan: more/") + line + "\n"),
        std::string::npos)
        << line << "\n"
        << res.out << res.err;
  }
}

// A stop signal ends the run with 128 plus its number, reporting the files
// finished as incomplete; text written has reached the reader even after a
// kill, and no worker is left behind.
TEST_F(Qzscan, SignalsStopTheWorkersAndKeepWhatIsFinished) {
  const std::string shell_line = "site/shell.PHP: THREAT score=10 line=2 runs request input\n";
  const std::tuple<int, int, std::string> rows[] = {
      {SIGINT, 130, "json"}, {SIGTERM, 143, "sarif"}, {SIGHUP, 129, "text"}, {SIGKILL, -9, "text"}};
  // Each worker takes a held file only once the parent has written out the
  // file it scanned before: both held, the first two files are finished.
  for (const auto& [sig, status, format] : rows) {
    SCOPED_TRACE(sig);
    Ran res = stop({{"--format", format, "-j", "2", "site/index.php", "site/shell.PHP",
                     "site/lib/odd.phtml", "site/lib/notes.txt"},
                    {"QZSCAN_TEST_HOLD_ON=site/lib/"}},
                   sig, {"hold site/lib/odd.phtml", "hold site/lib/notes.txt"});
    EXPECT_EQ(res.status, status) << res.err;
    EXPECT_TRUE(res.group_ended);
    if (sig == SIGKILL) {
      EXPECT_EQ(res.out, shell_line);
    } else if (format == "text") {
      EXPECT_EQ(res.out.rfind(shell_line, 0), 0u) << res.out;
      EXPECT_TRUE(ends_with(res.out, " (sha256 " + sha256_of(rules) + "); interrupted\n"))
          << res.out;
    } else if (format == "json") {
      json report = json::parse(res.out);
      std::vector<std::string> paths;
      for (const json& f : report["files"]) paths.push_back(f["path"].get<std::string>());
      EXPECT_EQ(paths, (std::vector<std::string>{"site/index.php", "site/shell.PHP"}));
      EXPECT_EQ(report["complete"], false);
    } else {
      json sarif = json::parse(res.out);
      EXPECT_EQ(sarif["runs"][0]["invocations"][0]["executionSuccessful"], false);
      EXPECT_EQ(sarif["runs"][0]["results"].size(), 1u);
    }
  }
}

// Links followed: a diamond of links reaches one file 2^18 ways, and it is
// scanned once.
TEST_F(Qzscan, EachDirectoryIsWalkedOnceWhenLinksAreFollowed) {
  std::string first = "d0";
  for (int i = 0; i < 18; i++, first += "/a") {
    const std::string dir = root + "/d" + std::to_string(i), next = "../d" + std::to_string(i + 1);
    fs::create_directory(dir);
    ASSERT_EQ(
        symlink(next.c_str(), (dir + "/a").c_str()) | symlink(next.c_str(), (dir + "/b").c_str()),
        0);
  }
  put("d18/shell.php", "<?php system($_GET['c']);\n");
  Ran res = run("--follow-symlinks --format json d0");
  EXPECT_EQ(res.status, 1) << res.err;
  const json files = json::parse(res.out)["files"];
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["path"], first + "/shell.php");
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
