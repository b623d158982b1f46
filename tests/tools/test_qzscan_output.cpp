// qzscan's report end to end: hostile file names and argument texts in every
// format, failed and interrupted writes, and text that streams. The binary
// runs with an exact argument vector, so that names may hold any byte.

#include "behavior/qz_cipher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using json = nlohmann::json;

namespace {

const std::string kQzscan = QZ_BINARY_DIR "/tools/qzscan/qzscan";
// How often the runner looks at a running qzscan, in milliseconds.
const int kPollMillis = 20;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  return lines;
}

// Decodes padded base64 (RFC 4648), or gives "<bad base64>".
std::string unbase64(const std::string& text) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, n = 0;
  for (char c : text) {
    if (c == '=') break;
    size_t v = alphabet.find(c);
    if (v == std::string::npos) return "<bad base64>";
    bits = (bits << 6) | static_cast<unsigned>(v);
    if ((n += 6) >= 8) out += static_cast<char>((bits >> (n -= 8)) & 0xFF);
  }
  return out;
}

// Decodes %HH escapes, or gives "<bad escape>".
std::string unpercent(std::string text) {
  if (text.rfind("file://", 0) == 0) text.erase(0, std::strlen("file://"));
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return "<bad escape>";
    out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return out;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Launch {
  std::vector<std::string> args;  // after --rules RULES
  std::string stdout_path;        // empty: a pipe that the runner reads
  std::vector<std::string> env;   // NAME=value
  long max_file_bytes;            // a file size limit, with SIGXFSZ ignored; -1: none
  double signal_after;            // seconds after which qzscan gets `signal`; 0: never
  int signal;
};

struct Ran {
  int status;  // the exit status, or minus the signal
  std::string out, err;
  double first_output = -1, ended = 0;  // seconds after the start
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
      char* line = qz_cipher_rule_encrypt(rule);
      r << line << "\n";
      delete[] line;
    }
    for (const char* dir : {"/site", "/more"}) mkdir((root + dir).c_str(), 0755);
  }
  void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

  void put(const std::string& name, const std::string& text) {
    std::ofstream(root + "/" + name, std::ios::binary) << text;
  }

  Ran run(const std::vector<std::string>& args) { return run(Launch{args, "", {}, -1, 0, 0}); }

  // Runs qzscan in root, so that paths in the output begin as given.
  Ran run(const Launch& l) {
    const std::string err_path = root + "/.err";
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {-1, "", "pipe failed"};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);  // so that no worker outlives the test
      close(pipe_fds[0]);
      if (chdir(root.c_str()) != 0) _exit(127);
      int out = l.stdout_path.empty() ? pipe_fds[1]
                                      : open(l.stdout_path.c_str(), O_WRONLY | O_CREAT, 0644);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      for (const std::string& e : l.env) putenv(strdup(e.c_str()));
      if (l.max_file_bytes >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(l.max_file_bytes), static_cast<rlim_t>(l.max_file_bytes)};
        setrlimit(RLIMIT_FSIZE, &lim);
      }
      std::vector<std::string> args = {kQzscan, "--rules", rules};
      args.insert(args.end(), l.args.begin(), l.args.end());
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(kQzscan.c_str(), argv.data());
      _exit(127);
    }
    close(pipe_fds[1]);
    auto seconds = [&] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    Ran r{-1, "", ""};
    bool signalled = false;
    int st = 0;
    pid_t reaped = 0;
    for (;;) {
      pollfd p{pipe_fds[0], POLLIN, 0};
      if (poll(&p, 1, kPollMillis) > 0) {
        char buf[4096];
        ssize_t n = read(pipe_fds[0], buf, sizeof buf);
        if (n <= 0) break;
        if (r.first_output < 0) r.first_output = seconds();
        r.out.append(buf, static_cast<size_t>(n));
      }
      if (l.signal_after > 0 && !signalled && seconds() > l.signal_after) {
        kill(pid, l.signal);
        signalled = true;
      }
      if (signalled && !reaped && (reaped = waitpid(pid, &st, WNOHANG)) > 0)
        kill(-pid, SIGKILL);  // a worker left behind would hold the pipe open
    }
    close(pipe_fds[0]);
    if (!reaped) waitpid(pid, &st, 0);
    r.ended = seconds();
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
    r.err = slurp(err_path);
    return r;
  }

  std::string root, rules;
};

std::string shell_with(const std::string& arg_literal) {
  return "<?php\nsystem(\"" + arg_literal + "\" . $_GET['c']);\n";
}

// A file in site/ whose name (and argument text) the output must show
// safely; every one is a threat.
struct Hostile {
  std::string name, shown;
  bool utf8;                   // the name is well-formed UTF-8
  std::string arg, arg_shown;  // a PHP string literal's body, and the text shown
};
const Hostile kHostile[] = {
    {"plain.php", "plain.php", true, "", ""},
    {"caf\xc3\xa9.php", "caf\xc3\xa9.php", true, "", ""},
    {"new\nline.php", "new\\nline.php", true, "", ""},
    {"forged.php: THREAT score=99\nx.php", "forged.php: THREAT score=99\\nx.php", true, "", ""},
    {"esc\x1b[31m.php", "esc\\x1B[31m.php", true, "", ""},
    {"cr\rtab\t.php", "cr\\rtab\\t.php", true, "", ""},
    {"back\\slash.php", "back\\\\slash.php", true, "", ""},
    {"c1\xc2\x9b.php", "c1\\xC2\\x9B.php", true, "", ""},
    {"del\x7f.php", "del\\x7F.php", true, "", ""},
    {"bad\xff\xc3.php", "bad\\xFF\\xC3.php", false, "", ""},
    {"overlong\xc0\xaf.php", "overlong\\xC0\\xAF.php", false, "", ""},
    {"surrogate\xed\xa0\x80.php", "surrogate\\xED\\xA0\\x80.php", false, "", ""},
    {"title.php", "title.php", true, "\\x1b]0;t\\x07\\xff", "\\x1B]0;t\\x07\\xFF"},
};

class QzscanHostile : public QzscanOutput {
 protected:
  void SetUp() override {
    QzscanOutput::SetUp();
    for (const Hostile& h : kHostile) put("site/" + h.name, shell_with(h.arg));
    put("site/clean.php", "<?php echo 'hello';\n");
  }
  // The hostile files in the order qzscan walks them.
  static std::vector<Hostile> walk_order() {
    std::vector<Hostile> v(std::begin(kHostile), std::end(kHostile));
    std::sort(v.begin(), v.end(),
              [](const Hostile& a, const Hostile& b) { return a.name < b.name; });
    return v;
  }
};

TEST_F(QzscanHostile, TextShowsEveryNameAndArgumentOnItsOwnEscapedLine) {
  Ran r = run({"--explain", "site", "site/gone\n\x1b.php"});
  EXPECT_EQ(r.status, 2);
  std::vector<std::string> expected;
  for (const Hostile& h : walk_order()) {
    expected.push_back("site/" + h.shown + ": THREAT score=10 line=2 runs request input");
    expected.push_back("    line 2: system(" + h.arg_shown +
                       "$_GET_DATA) -> runs request input [+10]");
  }
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_FALSE(lines.empty()) << r.err;
  EXPECT_EQ(lines.back().find(std::to_string(std::size(kHostile) + 2) + " files"), 0u);
  lines.pop_back();
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(r.err, "qzscan: site/gone\\n\\x1B.php: No such file or directory\n");
}

TEST_F(QzscanHostile, Print0GivesTheExactPathOfEachFindingAndNothingElse) {
  Ran r = run({"--print0", "--explain", "site"});
  EXPECT_EQ(r.status, 1);
  std::string expected;
  for (const Hostile& h : walk_order()) expected += "site/" + h.name + std::string(1, '\0');
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(run({"--print0", "--format", "text", "site"}).status, 2);
}

TEST_F(QzscanHostile, JsonKeepsTheExactBytesOfPathsAndArgumentsBesideValidText) {
  Ran r = run({"--format", "json", "--explain", "-j", "2", "site"});
  EXPECT_EQ(r.status, 1);
  json report = json::parse(r.out);  // throws on invalid UTF-8
  EXPECT_EQ(report["version"], 2);
  EXPECT_EQ(report["complete"], true);
  const json schema = json::parse(slurp(QZ_SOURCE_DIR "/docs/qzscan-report.schema.json"));
  const json& file_members = schema["properties"]["files"]["items"]["properties"];
  const json& call_members = file_members["calls"]["items"]["properties"];
  std::set<std::string> seen;
  for (const json& f : report["files"]) {
    for (auto& [k, v] : f.items()) EXPECT_TRUE(file_members.contains(k)) << "undocumented " << k;
    for (const json& c : f["calls"])
      for (auto& [k, v] : c.items()) EXPECT_TRUE(call_members.contains(k)) << "undocumented " << k;
    const std::string path =
        f.value("path_bytes", "") == "" ? f["path"].get<std::string>() : unbase64(f["path_bytes"]);
    seen.insert(path);
    auto h = std::find_if(std::begin(kHostile), std::end(kHostile),
                          [&](const Hostile& x) { return "site/" + x.name == path; });
    if (h == std::end(kHostile)) continue;
    EXPECT_EQ(f.contains("path_bytes"), !h->utf8) << h->shown;
    if (!h->utf8) {
      EXPECT_NE(f["path"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos) << h->shown;
    }
    ASSERT_EQ(f["calls"].size(), 1u) << h->shown;
    const json& call = f["calls"][0];
    EXPECT_EQ(call.contains("args_bytes"), !h->arg.empty()) << h->shown;
    if (!h->arg.empty()) {
      EXPECT_EQ(unbase64(call["args_bytes"][0]), "\x1b]0;t\x07\xff$_GET_DATA");
    }
  }
  for (const Hostile& h : kHostile) EXPECT_EQ(seen.count("site/" + h.name), 1u) << h.shown;
  EXPECT_EQ(seen.count("site/clean.php"), 1u);
}

TEST_F(QzscanHostile, SarifUrisAreEncodedRuleIdsStableAndProblemsNotified) {
  put("more/cmd.php", "<?php exec('ls');\n");
  put("more/big.php", "<?php exec('ls');\n" + std::string(2000, '#'));
  const std::string more = root + "/more";
  json all =
      json::parse(run({"--format", "sarif", "--max-filesize", "1K", "site", more, "gone.php"}).out);
  json one = json::parse(run({"--format", "sarif", more + "/cmd.php"}).out);
  const json& run_all = all["runs"][0];
  EXPECT_EQ(run_all["originalUriBaseIds"]["SRCROOT"]["uri"], "file://" + root + "/");

  std::set<std::string> paths;
  for (const json& res : run_all["results"]) {
    const json& at = res["locations"][0]["physicalLocation"]["artifactLocation"];
    std::string uri = at["uri"];
    const bool absolute = uri.rfind("file://", 0) == 0;
    EXPECT_EQ(at.contains("uriBaseId"), !absolute) << uri;
    if (absolute) uri.erase(0, std::strlen("file://"));
    EXPECT_EQ(uri.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                    "0123456789-._~/%"),
              std::string::npos)
        << uri;
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
  put("site/shell.php", shell_with(""));
  for (int i = 0; i < 20; i++) put("site/s" + std::to_string(i) + ".php", shell_with(""));
  const std::string hang = "QZSCAN_TEST_HANG_ON=s9.php";
  struct Row {
    Launch launch;
    int status;
    std::string err;   // the whole standard error, when not empty
    bool report_kept;  // report still holds the last report
  };
  const Row rows[] = {
      {{{"site"}, "/dev/full", {}, -1, 0, 0},
       2,
       "qzscan: standard output: No space left on device\n",
       true},
      {{{"--format", "json", "-o", "/dev/full", "site"}, "", {}, -1, 0, 0},
       2,
       "qzscan: /dev/full: No space left on device\n",
       true},
      {{{"--format", "sarif", "-o", "report", "site"}, "", {}, 100, 0, 0},
       2,
       "qzscan: report: File too large\n",
       true},
      {{{"-o", "nodir/report", "site"}, "", {}, -1, 0, 0},
       2,
       "qzscan: nodir/report: No such file or directory\n",
       true},
      {{{"-j", "1", "-o", "report", "site"}, "", {hang}, -1, 1.0, SIGKILL}, -SIGKILL, "", true},
      {{{"-o", "report", "site"}, "", {}, -1, 0, 0}, 1, "", false},
  };
  for (const Row& row : rows) {
    put("report", "last report\n");
    chmod((root + "/report").c_str(), 0640);
    Ran r = run(row.launch);
    const std::string what = row.launch.args.front() + " " + row.launch.args.back() + ": " + r.err;
    EXPECT_EQ(r.status, row.status) << what;
    if (row.status != -SIGKILL) {
      EXPECT_EQ(r.err, row.err) << what;
    }
    const std::string report = slurp(root + "/report");
    EXPECT_EQ(report == "last report\n", row.report_kept) << what << report;
    if (!row.report_kept) {
      EXPECT_EQ(report.find("site/s0.php: THREAT"), 0u) << report;
    }
    struct stat st;
    ASSERT_EQ(stat((root + "/report").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << what;
    // No temporary file stays behind, except after a kill.
    std::vector<std::string> names = names_in(root);
    if (row.status == -SIGKILL && names.size() > 1 && names[1].rfind(".report.", 0) == 0) {
      std::remove((root + "/" + names[1]).c_str());
      names.erase(names.begin() + 1);
    }
    EXPECT_EQ(names, (std::vector<std::string>{".err", "more", "report", "rules", "site"})) << what;
  }
}

TEST_F(QzscanOutput, TextReachesTheReaderWhileLaterFilesAreStillScanned) {
  put("site/a.php", shell_with(""));
  put("site/z.php", "<?php echo 1;\n");
  // The hang on z.php lasts until the 2-second timeout; a.php's line must
  // come out well before that.
  Ran r = run(
      Launch{{"-j", "1", "--timeout", "2", "site"}, "", {"QZSCAN_TEST_HANG_ON=z.php"}, -1, 0, 0});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.find("site/a.php: THREAT"), 0u) << r.out;
  EXPECT_GE(r.first_output, 0);
  EXPECT_GT(r.ended - r.first_output, 1.0) << "the first line came at the end";
}

// The rule file is named with its digest and rule count in every format, a
// run stopped by a signal says so, and --explain counts the calls not kept.
TEST_F(QzscanOutput, ReportsNameTheRulesAndSayWhenARunWasStopped) {
  put("site/a.php", shell_with(""));
  put("site/z.php", "<?php echo 1;\n");
  std::string digest = "<no sha256sum>";
  if (FILE* p = popen(("sha256sum '" + rules + "'").c_str(), "r")) {
    char hex[65] = {};
    if (std::fscanf(p, "%64s", hex) == 1) digest = hex;
    pclose(p);
  }
  const json rule_file = {{"path", rules}, {"sha256", digest}, {"count", 3}};
  const std::string hang = "QZSCAN_TEST_HANG_ON=z.php";
  for (bool stopped : {false, true}) {
    auto launch = [&](std::vector<std::string> args) {
      args.insert(args.end(), {"-j", "1", "site"});
      return stopped ? Launch{args, "", {hang}, -1, 1.0, SIGINT} : Launch{args, "", {}, -1, 0, 0};
    };
    const std::string text = run(launch({})).out;
    const std::string summary_end = "; 3 rules from " + rules + " (sha256 " + digest + ")" +
                                    (stopped ? "; interrupted\n" : "\n");
    EXPECT_EQ(text.rfind(summary_end), text.size() - summary_end.size()) << text;
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
  std::vector<std::string> lines = lines_of(run({"--explain", "-q", "more"}).out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "    ... and 3 more scored calls, not kept");
}

}  // namespace
