// qzscan's report end to end: hostile file names and argument texts in every
// format, failed and interrupted writes, and text that streams. The binary
// runs with an exact argument vector, so that names may hold any byte.

#include "behavior/qz_cipher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using json = nlohmann::json;

namespace {

const std::string kQzscan = QZ_BINARY_DIR "/tools/qzscan/qzscan";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Decodes base64 up to its padding (a foreign character garbles the result).
std::string unbase64(const std::string& text) {
  const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, n = 0;
  for (size_t i = 0; i < text.size() && text[i] != '='; i++) {
    bits = (bits << 6) | static_cast<unsigned>(digits.find(text[i]) & 63);
    if ((n += 6) >= 8) out += static_cast<char>((bits >> (n -= 8)) & 0xFF);
  }
  return out;
}

// Decodes %HH escapes after an optional file:// prefix.
std::string unpercent(std::string text) {
  if (text.rfind("file://", 0) == 0) text.erase(0, 7);
  std::string out;
  for (size_t i = 0; i < text.size(); i += text[i] == '%' ? 3 : 1)
    out +=
        text[i] == '%' ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
  return out;
}

struct Launch {
  std::vector<std::string> args;  // after --rules RULES
  std::string hang_on = "";       // a file name the worker hangs on
  int signal = 0;                 // sent one second after the start
  std::string stdout_path = "";   // empty: a pipe that the runner reads
  long max_file_bytes = -1;       // a file size limit, with SIGXFSZ ignored
};

struct Ran {
  int status;  // the exit status, or minus the signal
  std::string out, err;
};

std::string shell_with(const std::string& arg_literal) {
  return "<?php\nsystem(\"" + arg_literal + "\" . $_GET['c']);\n";
}

// A file in site/ whose name (and argument text) the output must show
// safely; every one is a threat.
struct Hostile {
  std::string name, shown;
  bool utf8 = true;                      // the name is well-formed UTF-8
  std::string arg = "", arg_shown = "";  // a PHP string literal's body, and the text shown
};
// In byte order, as qzscan walks them.
const Hostile kHostile[] = {
    {"back\\slash.php", "back\\\\slash.php"},
    {"bad\xff\xc3.php", "bad\\xFF\\xC3.php", false},
    {"c1\xc2\x9b.php", "c1\\xC2\\x9B.php"},
    {"caf\xc3\xa9.php", "caf\xc3\xa9.php"},
    {"cr\rtab\t.php", "cr\\rtab\\t.php"},
    {"del\x7f.php", "del\\x7F.php"},
    {"esc\x1b[31m.php", "esc\\x1B[31m.php"},
    {"forged.php: THREAT score=99\nx.php", "forged.php: THREAT score=99\\nx.php"},
    {"overlong\xc0\xaf.php", "overlong\\xC0\\xAF.php", false},
    {"plain.php", "plain.php"},
    {"surrogate\xed\xa0\x80.php", "surrogate\\xED\\xA0\\x80.php", false},
    {"title.php", "title.php", true, "\\x1b]0;t\\x07\\xff", "\\x1B]0;t\\x07\\xFF"},
};

class QzscanOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzscan_output_XXXXXX";
    root = mkdtemp(tmpl);
    rules = root + "/rules";
    std::ofstream r(rules);
    for (const char* rule : {"define_var(REQ,$_GET_DATA+$_POST_DATA+$_REQUEST_DATA)",
                             "define_behavior(eval+system,0=REQ,10,runs request input)",
                             "define_behavior(exec,,3,runs a command)"}) {
      r << std::unique_ptr<char[]>(qz_cipher_rule_encrypt(rule)).get() << "\n";
    }
    for (const char* dir : {"/more", "/site"}) std::filesystem::create_directory(root + dir);
    for (const Hostile& h : kHostile) put("site/" + h.name, shell_with(h.arg));
    put("site/clean.php", "<?php echo 'hello';\n");
  }
  void TearDown() override { std::filesystem::remove_all(root); }

  void put(const std::string& name, const std::string& text) {
    std::ofstream(root + "/" + name, std::ios::binary) << text;
  }

  // Runs qzscan in root, so that paths in the output begin as given.
  Ran run(const Launch& l) {
    const std::string err_path = root + "/.err";
    int fds[2];
    if (pipe(fds) != 0) return {-1, "", "pipe failed"};
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);  // so that no worker outlives the test
      if (chdir(root.c_str()) != 0) _exit(127);
      dup2(l.stdout_path.empty() ? fds[1] : open(l.stdout_path.c_str(), O_WRONLY | O_CREAT, 0644),
           STDOUT_FILENO);
      dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      close(fds[0]);
      if (!l.hang_on.empty()) setenv("QZSCAN_TEST_HANG_ON", l.hang_on.c_str(), 1);
      if (l.max_file_bytes >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(l.max_file_bytes), static_cast<rlim_t>(l.max_file_bytes)};
        setrlimit(RLIMIT_FSIZE, &lim);
      }
      std::vector<const char*> argv = {kQzscan.c_str(), "--rules", rules.c_str()};
      for (const std::string& a : l.args) argv.push_back(a.c_str());
      argv.push_back(nullptr);
      execv(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(fds[1]);
    int st = 0;
    if (l.signal) {  // the output of these runs fits in the pipe
      sleep(1);
      kill(pid, l.signal);
      waitpid(pid, &st, 0);
      kill(-pid, SIGKILL);  // a worker left behind would hold the pipe open
    }
    Ran r{-1, "", ""};
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) r.out.append(buf, size_t(n));
    close(fds[0]);
    if (!l.signal) waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
    r.err = slurp(err_path);
    return r;
  }

  std::string root, rules;
};

TEST_F(QzscanOutput, TextShowsEveryNameAndArgumentOnItsOwnEscapedLine) {
  Ran r = run({{"--explain", "site", "site/gone\n\x1b.php"}});
  EXPECT_EQ(r.status, 2);
  std::string expected;
  for (const Hostile& h : kHostile)
    expected += "site/" + h.shown +
                ": THREAT score=10 line=2 runs request input\n    line 2: system(" + h.arg_shown +
                "$_GET_DATA) -> runs request input [+10]\n";
  EXPECT_EQ(r.out.substr(0, expected.size()), expected);
  EXPECT_EQ(r.out.find(std::to_string(std::size(kHostile) + 2) + " files"), expected.size());
  EXPECT_EQ(r.err, "qzscan: site/gone\\n\\x1B.php: No such file or directory\n");
}

TEST_F(QzscanOutput, Print0GivesTheExactPathOfEachFindingAndNothingElse) {
  Ran r = run({{"--print0", "--explain", "site"}});
  EXPECT_EQ(r.status, 1);
  std::string expected;
  for (const Hostile& h : kHostile) expected += "site/" + h.name + std::string(1, '\0');
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(run({{"--print0", "--format", "text", "site"}}).status, 2);
}

TEST_F(QzscanOutput, JsonKeepsTheExactBytesOfPathsAndArgumentsBesideValidText) {
  Ran r = run({{"--format", "json", "--explain", "-j", "2", "site"}});
  EXPECT_EQ(r.status, 1);
  json report = json::parse(r.out);  // throws on invalid UTF-8
  EXPECT_EQ(report["version"], 2);
  EXPECT_EQ(report["complete"], true);
  const json schema = json::parse(slurp(QZ_SOURCE_DIR "/docs/qzscan-report.schema.json"));
  const json& file_members = schema["properties"]["files"]["items"]["properties"];
  const json& call_members = file_members["calls"]["items"]["properties"];
  std::map<std::string, json> by_path;
  for (const json& f : report["files"]) {
    for (auto& [k, v] : f.items()) EXPECT_TRUE(file_members.contains(k)) << "undocumented " << k;
    for (const json& c : f["calls"])
      for (auto& [k, v] : c.items()) EXPECT_TRUE(call_members.contains(k)) << "undocumented " << k;
    by_path[f.contains("path_bytes") ? unbase64(f["path_bytes"]) : f["path"].get<std::string>()] =
        f;
  }
  EXPECT_EQ(by_path.size(), std::size(kHostile) + 1);
  EXPECT_EQ(by_path.count("site/clean.php"), 1u);
  for (const Hostile& h : kHostile) {
    const json& f = by_path["site/" + h.name];
    // A name that is not UTF-8 keeps its bytes aside and shows U+FFFD in "path".
    EXPECT_EQ(f.contains("path_bytes"), !h.utf8) << h.shown;
    EXPECT_EQ(f["path"].get<std::string>().find("\xef\xbf\xbd") != std::string::npos, !h.utf8);
    ASSERT_EQ(f["calls"].size(), 1u) << h.shown;
    EXPECT_EQ(f["calls"][0].contains("args_bytes"), !h.arg.empty()) << h.shown;
    if (!h.arg.empty()) {
      EXPECT_EQ(unbase64(f["calls"][0]["args_bytes"][0]), "\x1b]0;t\x07\xff$_GET_DATA");
    }
  }
}

TEST_F(QzscanOutput, SarifUrisAreEncodedRuleIdsStableAndProblemsNotified) {
  put("more/cmd.php", "<?php exec('ls');\n");
  put("more/big.php", "<?php exec('ls');\n" + std::string(2000, '#'));
  const std::string more = root + "/more";
  json all = json::parse(
      run({{"--format", "sarif", "--max-filesize", "1K", "site", more, "gone.php"}}).out);
  json one = json::parse(run({{"--format", "sarif", more + "/cmd.php"}}).out);
  const json& run_all = all["runs"][0];
  EXPECT_EQ(run_all["originalUriBaseIds"]["SRCROOT"]["uri"], "file://" + root + "/");

  std::set<std::string> paths;
  for (const json& res : run_all["results"]) {
    const json& at = res["locations"][0]["physicalLocation"]["artifactLocation"];
    const std::string uri = at["uri"];
    const size_t scheme = uri.rfind("file://", 0) == 0 ? 7 : 0;
    EXPECT_EQ(at.contains("uriBaseId"), scheme == 0) << uri;
    const char* unreserved = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/%";
    EXPECT_EQ(uri.find_first_not_of(unreserved, scheme), std::string::npos) << uri;
    paths.insert(unpercent(uri));
  }
  std::set<std::string> expected = {more + "/cmd.php"};
  for (const Hostile& h : kHostile) expected.insert("site/" + h.name);
  EXPECT_EQ(paths, expected);

  const json& inv = run_all["invocations"][0];
  EXPECT_EQ(inv["executionSuccessful"], false);
  std::vector<std::string> notes;
  for (const json& n : inv["toolExecutionNotifications"])
    notes.push_back(n["level"].get<std::string>() + " " +
                    unpercent(n["locations"][0]["physicalLocation"]["artifactLocation"]["uri"]));
  EXPECT_EQ(notes, (std::vector<std::string>{"warning " + more + "/big.php", "error gone.php"}));
  EXPECT_EQ(one["runs"][0]["invocations"][0]["executionSuccessful"], true);

  // The rule met second in one run and alone in the other keeps its id.
  auto id_of = [](const json& sarif, const std::string& desc) {
    for (const json& rule : sarif["runs"][0]["tool"]["driver"]["rules"])
      if (rule["name"] == desc) return rule["id"].get<std::string>();
    return std::string("<none>");
  };
  EXPECT_EQ(id_of(all, "runs a command"), id_of(one, "runs a command"));
  EXPECT_NE(id_of(all, "runs a command"), id_of(all, "runs request input"));
}

TEST_F(QzscanOutput, AFailedWriteIsAnErrorAndNeverReplacesTheLastReport) {
  for (int i = 0; i < 20; i++) put("more/s" + std::to_string(i) + ".php", shell_with(""));
  const struct {
    Launch launch;
    int status;
    std::string err;  // the whole standard error
  } rows[] = {
      {{{"more"}, "", 0, "/dev/full"}, 2, "qzscan: standard output: No space left on device\n"},
      {{{"--format", "json", "-o", "/dev/full", "more"}},
       2,
       "qzscan: /dev/full: No space left on device\n"},
      {{{"--format", "sarif", "-o", "report", "more"}, "", 0, "", 100},
       2,
       "qzscan: report: File too large\n"},
      {{{"-o", "nodir/report", "more"}}, 2, "qzscan: nodir/report: No such file or directory\n"},
      {{{"-j", "1", "-o", "report", "more"}, "s9.php", SIGKILL}, -SIGKILL, ""},
      {{{"-o", "report", "more"}}, 1, ""},  // the one run that replaces the report
  };
  for (const auto& row : rows) {
    put("report", "last report\n");
    std::filesystem::permissions(root + "/report", std::filesystem::perms(0640));
    SCOPED_TRACE(row.launch.args.front() + " " + row.launch.args.back());
    Ran r = run(row.launch);
    EXPECT_EQ(r.status, row.status) << r.err;
    if (row.status != -SIGKILL) {
      EXPECT_EQ(r.err, row.err);
    }
    const std::string kept = row.status == 1 ? "more/s0.php: THREAT" : "last report\n";
    EXPECT_EQ(slurp(root + "/report").substr(0, row.status == 1 ? kept.size() : std::string::npos),
              kept);
    EXPECT_EQ(std::filesystem::status(root + "/report").permissions(),
              std::filesystem::perms(0640));
    // No temporary file stays behind, except after a kill.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root)) {
      const std::string n = e.path().filename();
      if (row.status == -SIGKILL && n.rfind(".report.", 0) == 0)
        std::filesystem::remove(e);
      else
        names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".err", "more", "report", "rules", "site"}));
  }
}

// Killed while it hangs on z.php, qzscan has no chance to flush at exit:
// a.php's line must already have reached the reader.
TEST_F(QzscanOutput, TextReachesTheReaderWhileLaterFilesAreStillScanned) {
  put("more/a.php", shell_with(""));
  put("more/z.php", "<?php echo 1;\n");
  Ran r = run({{"-j", "1", "more"}, "z.php", SIGKILL});
  EXPECT_EQ(r.status, -SIGKILL);
  EXPECT_EQ(r.out, "more/a.php: THREAT score=10 line=2 runs request input\n");
}

// The rule file is named with its digest and rule count in every format, a
// run stopped by a signal says so, and --explain counts the calls not kept.
TEST_F(QzscanOutput, ReportsNameTheRulesAndSayWhenARunWasStopped) {
  put("more/a.php", shell_with(""));
  put("more/z.php", "<?php echo 1;\n");
  std::string digest = "<no sha256sum>";
  if (FILE* p = popen(("sha256sum '" + rules + "'").c_str(), "r")) {
    char hex[65] = {};
    if (std::fscanf(p, "%64s", hex) == 1) digest = hex;
    pclose(p);
  }
  const json rule_file = {{"path", rules}, {"sha256", digest}, {"count", 3}};
  for (bool stopped : {false, true}) {
    auto launch = [&](std::vector<std::string> args) {
      args.insert(args.end(), {"-j", "1", "more"});
      return stopped ? Launch{args, "z.php", SIGINT} : Launch{args};
    };
    const std::string text = run(launch({})).out;
    const std::string summary_end = "; 3 rules from " + rules + " (sha256 " + digest + ")" +
                                    (stopped ? "; interrupted\n" : "\n");
    EXPECT_TRUE(ends_with(text, summary_end)) << text;
    json report = json::parse(run(launch({"--format", "json"})).out);
    EXPECT_EQ(report["complete"], !stopped);
    EXPECT_EQ(report["rules"], rule_file);
    json sarif = json::parse(run(launch({"--format", "sarif"})).out);
    EXPECT_EQ(sarif["runs"][0]["invocations"][0]["executionSuccessful"], !stopped);
    EXPECT_EQ(sarif["runs"][0]["properties"]["rules"], rule_file);
  }

  std::string many = "<?php\n";
  for (int i = 0; i < 1003; i++) many += "exec('ls');\n";
  put("more/many.php", many);
  const std::string out = run({{"--explain", "-q", "more/many.php"}}).out;
  EXPECT_TRUE(ends_with(out, "\n    ... and 3 more scored calls, not kept\n")) << out;
}

}  // namespace
