// qzscan's text output and command line as a person meets them: scores that
// add up under --explain, decoder chains, colour, the progress line on a
// terminal, --help and the messages of usage errors.

#include "tools/qzscan_runner.h"

#include <poll.h>
#include <pty.h>

#include <cctype>
#include <cstdio>

using namespace qzscan_test;

namespace {

// A threat with a suspicious call beside it, a suspicious file whose call is
// not on its first line, and code hidden behind two decoders.
const char* const kMixed = "<?php\nexec('ls');\nsystem($_GET['c']);\n";
const char* const kSuspicious = "<?php\n\n\nexec('ls');\n";
const char* const kDecoded =
    "<?php\neval(str_rot13(base64_decode('ZmxmZ3J6KCRfVFJHWydwJ10pOw==')));\n";

class QzscanText : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    put("site/mixed.php", kMixed);
    put("site/susp.php", kSuspicious);
    put("site/decoded.php", kDecoded);
  }
};

// Under --explain, the score on a finding's line is the sum of the calls
// listed without "not counted", and only a threat's suspicious calls carry it.
TEST_F(QzscanText, TheScoreShownIsTheSumOfTheCountedCalls) {
  const struct {
    std::string file;
    std::string head;                // the finding's line, up to the descriptions
    std::vector<std::string> calls;  // each listed call, from its "->"
  } rows[] = {
      {"site/mixed.php",
       "site/mixed.php: THREAT score=10 line=3 ",
       {"-> runs a command [+3, not counted]", "-> runs request input [+10]"}},
      {"site/susp.php", "site/susp.php: SUSPICIOUS score=3 line=4 ", {"-> runs a command [+3]"}},
      {"site/decoded.php",
       "site/decoded.php: THREAT score=10 line=2 ",
       {"-> runs request input [+10] in evaluated code, depth 1, from str_rot13@2 <- "
        "base64_decode@2"}},
  };
  for (const auto& r : rows) {
    Ran res = run("--explain --no-summary " + r.file);
    std::istringstream lines(res.out);
    std::string head, line;
    std::getline(lines, head);
    EXPECT_EQ(head.rfind(r.head, 0), 0u) << res.out;
    uint64_t sum = 0;
    std::vector<std::string> calls;
    while (std::getline(lines, line)) {
      calls.push_back(line.substr(line.find("->")));
      // "[+N]" counts; "[+N, not counted]" does not.
      const size_t at = line.find(" [+");
      size_t end = at == std::string::npos ? at : line.find_first_not_of("0123456789", at + 3);
      if (end != std::string::npos && line[end] == ']') sum += std::stoull(line.substr(at + 3));
    }
    EXPECT_EQ(calls, r.calls) << res.out;
    const size_t score = head.find(" score=");
    ASSERT_NE(score, std::string::npos) << head;
    EXPECT_EQ(std::to_string(sum), head.substr(score + 7, head.find(' ', score + 1) - score - 7))
        << res.out;
  }
  const json f = json::parse(run("--format json site/mixed.php").out)["files"][0];
  EXPECT_EQ(f["calls"][0]["definite"], false);
  EXPECT_EQ(f["calls"][1]["definite"], true);
}

TEST_F(QzscanText, SummaryAndColourFollowTheirOptions) {
  const std::string red = "\033[1;31mTHREAT\033[0m", yellow = "\033[33mSUSPICIOUS\033[0m";
  const struct {
    Launch launch;
    bool summary, colour;
  } rows[] = {
      {{{"site"}}, true, false},  // standard output is a file here: auto means none
      {{{"--no-summary", "site"}}, false, false},
      {{{"--color=always", "site"}}, true, true},
      {{{"--color", "always", "-q", "site"}}, false, true},
      {{{"--color=never", "site"}}, true, false},
      {{{"--color=always", "-o", "report", "site"}}, true, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.launch.args[0]);
    Ran res = run(r.launch);
    const std::string out = res.out.empty() ? slurp(root + "/report") : res.out;
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_EQ(out.find(" files: ") != std::string::npos, r.summary) << out;
    EXPECT_EQ(out.find(red) != std::string::npos, r.colour) << out;
    EXPECT_EQ(out.find(yellow) != std::string::npos, r.colour) << out;
    EXPECT_EQ(out.find("\033") != std::string::npos, r.colour) << out;
  }
}

TEST_F(QzscanText, HelpNamesItsPlaceholdersExitStatusesAndExamples) {
  Ran help = run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* shown :
       {"--rules FILE", "--exclude GLOB", "--max-filesize SIZE", "-j,--jobs N", "--files-from FILE",
        "--newer-than DURATION|DATE", "Exit status: 0", "128+N", "\nExamples:\n"})
    EXPECT_NE(help.out.find(shown), std::string::npos) << shown;
  for (const char* hidden : {" TEXT", " UINT", ":{"})
    EXPECT_EQ(help.out.find(hidden), std::string::npos) << hidden << "\n" << help.out;
  const std::string examples = help.out.substr(help.out.find("\nExamples:\n"));
  // Three examples, each a command line and a line that says what it does.
  std::istringstream lines(examples);
  int commands = 0;
  for (std::string l; std::getline(lines, l);) commands += l.rfind("  ", 0) == 0 && l[2] != ' ';
  EXPECT_EQ(commands, 3) << examples;
}

// Bad options, lists and option files stop the run with status 2 and one
// line that names the option and what it expected.
TEST_F(QzscanText, UsageErrorsAreOneQzscanLineSayingWhatWasExpected) {
  const std::string digest(64, 'a'), sum_error = "expected a SHA-256 digest";
  const struct {
    std::vector<std::string> args;
    std::string err;         // the start of standard error
    std::string known = "";  // the contents of the file "known"
  } rows[] = {
      // clang-format off
      {{"--jobs", "0", "site"}, "qzscan: --jobs: Value 0 not in range 1 to 256\n"},
      {{"--ext", "", "site"}, "qzscan: --ext: expected a comma-separated list of extensions"},
      {{"--ext", ",.,", "site"}, "qzscan: --ext: expected a comma-separated list of extensions"},
      {{"--format", "xml", "site"}, "qzscan: --format: xml not in {text,json,sarif}\n"},
      {{"--bogus", "site"}, "qzscan: The following argument was not expected: --bogus\n"},
      {{"--max-filesize", "lots", "site"},
       "qzscan: --max-filesize: expected a size in bytes, or with a K, M or G suffix (512K, 16M, 1G), not \"lots\"\n"},
      {{"--worker-memory", "2X", "site"}, "qzscan: --worker-memory: expected a size in bytes"},
      {{"-", "--files-from", "-"}, "qzscan: standard input can be read once: expected"},
      {{"-0", "site"}, "qzscan: -0: expected with --files-from FILE"},
      {{"--files-from", "missing.list"}, "qzscan: --files-from: missing.list: No such file or directory"},
      {{}, "qzscan: nothing to scan: expected a PATH, --files-from FILE, or -"},
      {{"--newer-than", "yesterday", "site"}, "qzscan: --newer-than: expected a duration"},
      {{"--newer-than", "2d3", "site"}, "qzscan: --newer-than: expected a duration"},
      {{"--newer-than", "2026-13-40", "site"}, "qzscan: --newer-than: expected a duration"},
      {{"--allowlist", "missing", "site"}, "qzscan: --allowlist: missing: No such file or directory\n"},
      {{"--allowlist", "known", "site"}, "qzscan: --allowlist: known:2: " + sum_error, digest + "\n" + digest.substr(1) + "\n"},
      {{"--allowlist", "known", "site"}, "qzscan: --allowlist: known:1: " + sum_error, "sha256 " + digest + "\n"},
      {{"--allowlist", "known", "site"}, "qzscan: --allowlist: known:1: " + sum_error, digest + "x  file.php\n"},
      {{"--baseline", "known", "--only-new", "site"}, "qzscan: --baseline: known: expected a JSON report written by qzscan", "not json"},
      {{"--baseline", "known", "--only-new", "site"}, "qzscan: --baseline: known: expected a JSON report", R"({"schema": "other", "files": []})"},
      {{"--baseline", "known", "--only-new", "site"}, "qzscan: --baseline: known: expected a JSON report", R"({"schema": "qzscan-report", "files": {}})"},
      {{"--only-new", "site"}, "qzscan: --only-new requires --baseline\n"},
      // clang-format on
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.err);
    put("known", r.known);
    Ran res = run(Launch{r.args});
    EXPECT_EQ(res.status, 2);
    EXPECT_EQ(res.err.rfind(r.err, 0), 0u) << res.err;
    // One line; the command-line parser's own errors add a pointer to --help.
    const std::string rest = res.err.substr(res.err.find('\n') + 1);
    EXPECT_TRUE(rest.empty() || rest == "Run with --help for more information.\n") << res.err;
  }
}

// Characters that are invisible or turn the text around on a terminal are
// escaped byte by byte in a file's name; their neighbours are kept.
TEST_F(QzscanText, InvisibleCharactersInNamesAreEscaped) {
  const struct {
    std::string name, shown;
  } rows[] = {
      // clang-format off
      {"rlo\u202Egnp.php", "rlo\\xE2\\x80\\xAEgnp.php"},          // right-to-left override
      {"rli\u2067x.php", "rli\\xE2\\x81\\xA7x.php"},              // right-to-left isolate
      {"zw\u200Bsp.php", "zw\\xE2\\x80\\x8Bsp.php"},              // zero-width space
      {"rlm\u200F.php", "rlm\\xE2\\x80\\x8F.php"},
      {"ls\u2028x.php", "ls\\xE2\\x80\\xA8x.php"},                // line separator
      {"ps\u2029x.php", "ps\\xE2\\x80\\xA9x.php"},                // paragraph separator
      {"\uFEFFbom.php", "\\xEF\\xBB\\xBFbom.php"},                // byte order mark
      {"soft\u00ADhyphen.php", "soft\\xC2\\xADhyphen.php"},
      {"tag\U000E0041.php", "tag\\xF3\\xA0\\x81\\x81.php"},     // tag letter A
      {"lang\U000E0001.php", "lang\\xF3\\xA0\\x80\\x81.php"},
      {"kaithi\U000110BD.php", "kaithi\\xF0\\x91\\x82\\xBD.php"},
      {"hiero\U0001343F.php", "hiero\\xF0\\x93\\x90\\xBF.php"},
      // Next to those ranges, and kept.
      {"hair\u200Aspace.php", "hair\u200Aspace.php"},
      {"hyphen\u2010.php", "hyphen\u2010.php"},
      {"dot\u2027.php", "dot\u2027.php"},
      {"nnbsp\u202F.php", "nnbsp\u202F.php"},
      {"sup\u2070.php", "sup\u2070.php"},
      {"reg\u00AE.php", "reg\u00AE.php"},
      {"ffef\uFEFE.php", "ffef\uFEFE.php"},
      {"hiero\U00013440.php", "hiero\U00013440.php"},
      {"tag\U000E0080.php", "tag\U000E0080.php"},
      // clang-format on
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.shown);
    put("names/" + r.name, kShell);
    Ran res = run(Launch{{"--no-summary", "names/" + r.name}});
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_EQ(res.out, "names/" + r.shown + ": THREAT score=10 line=2 runs request input\n");
  }
}

// On a terminal the progress line shows the walk, then the scan, and is
// cleared only to make room for a finding, not once per file. Whatever the
// machine's speed: every other clear begins a redraw, and the scan's line is
// redrawn at most once per file done and once after each clear.
TEST_F(QzscanText, TheProgressLineIsNotClearedForEachFile) {
  const int kFiles = 300;
  for (int i = 0; i < kFiles; i++)
    put("many/f" + std::to_string(1000 + i) + ".php", "<?php echo 1;\n");
  put("many/zz.php", kMixed);
  int master = -1;
  const std::string qzscan = qzscan_binary(Binary::Release);
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(root.c_str()) != 0) _exit(127);
    execl(qzscan.c_str(), qzscan.c_str(), "--rules", rules.c_str(), "-j", "2", "many", nullptr);
    _exit(127);
  }
  std::string screen;
  char buf[4096];
  for (;;) {
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, kEventWaitSeconds * 1000) <= 0) break;
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    screen.append(buf, static_cast<size_t>(n));
  }
  int st = 0;
  waitpid(pid, &st, 0);
  close(master);
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_NE(screen.find("walking: 1 directories"), std::string::npos) << screen;
  EXPECT_NE(screen.find("many/zz.php: \033[1;31mTHREAT"), std::string::npos) << screen;
  EXPECT_NE(screen.find(std::to_string(kFiles + 1) + " files: "), std::string::npos) << screen;
  const std::string clear = "\r\033[K";
  // A redraw of the walk's line, or of the scan's line ("DONE/TOTAL files,
  // ..." with *done set), alone between two clears.
  auto walk_line = [](const std::string& t) {
    unsigned long dirs = 0, files = 0;
    int end = 0;
    return !t.empty() && t.find('\n') == std::string::npos &&
           std::sscanf(t.c_str(), "walking: %lu directories, %lu files listed%n", &dirs, &files,
                       &end) == 2 &&
           static_cast<size_t>(end) == t.size();
  };
  auto scan_line = [](const std::string& t, unsigned long* done) {
    unsigned long total = 0;
    int end = 0;
    return !t.empty() && std::isdigit(static_cast<unsigned char>(t[0])) &&
           t.find('\n') == std::string::npos &&
           std::sscanf(t.c_str(), "%lu/%lu files, %n", done, &total, &end) == 2 && end > 0;
  };
  size_t room_made = 0, scan_redraws = 0;
  unsigned long shown_done = 0;
  for (size_t at = screen.find(clear); at != std::string::npos;) {
    const size_t from = at + clear.size();
    at = screen.find(clear, from);
    const std::string after = screen.substr(from, at == std::string::npos ? at : at - from);
    unsigned long done = 0;
    if (scan_line(after, &done)) {
      scan_redraws++;
      EXPECT_GE(done, shown_done) << after;
      shown_done = done;
    } else if (!walk_line(after)) {
      room_made++;
    }
  }
  // Room is made once the walk is over, for the finding, and for the summary.
  EXPECT_LE(room_made, 3u) << screen;
  EXPECT_LE(scan_redraws, static_cast<size_t>(kFiles) + 1 + room_made) << screen;
}

}  // namespace
