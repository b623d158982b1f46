// qzscan end to end: a temporary tree of scripts, the real binary, and its
// outputs read back.

#include "behavior/qz_cipher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using json = nlohmann::json;

namespace {

const std::string kQzscan = QZ_BINARY_DIR "/tools/qzscan/qzscan";
// Time for a qzscan started in the background to list its files and hand
// them out, well within the workers' test delay of 3 seconds.
const auto kSettle = std::chrono::seconds(1);
// Longest wait for a process group to end.
const auto kGroupEndWait = std::chrono::seconds(10);

struct ToolRun {
  int status;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Checks a JSON value against the subset of JSON Schema the report schema
// uses: type, enum, required, properties, items.
void validate(const json& v, const json& schema, const std::string& where) {
  if (schema.contains("type")) {
    std::string t = schema["type"];
    bool ok = (t == "object" && v.is_object()) || (t == "array" && v.is_array()) ||
              (t == "string" && v.is_string()) || (t == "integer" && v.is_number_integer()) ||
              (t == "number" && v.is_number());
    ASSERT_TRUE(ok) << where << " is not " << t << ": " << v.dump();
  }
  if (schema.contains("enum")) {
    const json& e = schema["enum"];
    EXPECT_NE(std::find(e.begin(), e.end(), v), e.end()) << where << " has value " << v.dump();
  }
  if (schema.contains("required")) {
    for (const json& r : schema["required"])
      EXPECT_TRUE(v.contains(r.get<std::string>())) << where << " lacks " << r;
  }
  if (schema.contains("properties") && v.is_object())
    for (auto& [k, sub] : schema["properties"].items())
      if (v.contains(k)) validate(v[k], sub, where + "." + k);
  if (schema.contains("items") && v.is_array())
    for (size_t i = 0; i < v.size(); i++)
      validate(v[i], schema["items"], where + "[" + std::to_string(i) + "]");
}

std::string encipher(const char* rule) {
  char* line = qz_cipher_rule_encrypt(rule);
  std::string r = line;
  delete[] line;
  return r;
}

const char* const kRules[] = {"define_var(REQ,$_GET_DATA+$_POST_DATA+$_REQUEST_DATA)",
                              "define_behavior(eval+system,0=REQ,10,runs request input)",
                              "define_behavior(exec,,3,runs a command)"};

// Reaps what ends of a process group until none of it is left; false when
// some of it is still there after the wait.
bool group_ends(pid_t group) {
  auto deadline = std::chrono::steady_clock::now() + kGroupEndWait;
  while (std::chrono::steady_clock::now() < deadline) {
    while (waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    if (kill(-group, 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class Qzscan : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzscan_test_XXXXXX";
    root = mkdtemp(tmpl);
    rules = root + "/rules";
    std::ofstream r(rules);
    for (const char* rule : kRules) r << encipher(rule) << "\n";
    const std::string tree = root + "/site";
    for (const char* dir : {"", "/lib", "/cache"}) mkdir((tree + dir).c_str(), 0755);
    const std::pair<const char*, std::string> files[] = {
        {"/index.php", "<?php echo 'hello';\n"},
        {"/shell.PHP", "<?php\nsystem($_GET['c']);\n"},
        {"/lib/odd.phtml", "<?php exec('ls');\n"},
        {"/lib/notes.txt", "<?php eval($_POST['x']);\n"},
        {"/cache/cached.php", "<?php eval($_POST['x']);\n"},
        {"/big.php", "<?php eval($_POST['x']);\n" + std::string(3000, '#')}};
    for (const auto& [name, text] : files) std::ofstream(tree + name, std::ios::binary) << text;
    symlink("..", (tree + "/lib/up").c_str());
    mkfifo((tree + "/lib/pipe.php").c_str(), 0644);
  }
  void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

  // The shell command that runs qzscan in root, so that paths in the output
  // begin with "site/".
  std::string command(const std::string& args, const std::string& env) const {
    return "cd '" + root + "' && exec env " + env + " '" + kQzscan + "' --rules '" + rules + "' " +
           args + " >'" + root + "/out' 2>'" + root + "/err'";
  }

  ToolRun run(const std::string& args, const std::string& env = "") {
    int st = std::system(command(args, env).c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(root + "/out"), slurp(root + "/err")};
  }

  // Starts qzscan in a process group of its own; the group is its pid.
  pid_t start(const std::string& args, const std::string& env) {
    std::string cmd = command(args, env);
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(pid, pid);
    return pid;
  }

  // Waits for a qzscan from start(): its exit status, or minus its signal.
  ToolRun finish(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st), slurp(root + "/out"),
            slurp(root + "/err")};
  }

  void put(const std::string& name, const std::string& text) {
    std::ofstream(root + "/" + name, std::ios::binary) << text;
  }

  std::string root, rules;
};

TEST_F(Qzscan, SelectionRecoveryAndExitStatus) {
  struct Row {
    std::string args;
    int status;
    std::vector<std::string> out;     // each in the standard output
    std::string err;                  // in the standard error, when not empty
    std::vector<std::string> absent;  // in neither
    std::string env = "";
  };
  const std::string some = "--exclude '*.PHP' --exclude cache --exclude big.php site";
  const std::string crash = "QZSCAN_TEST_CRASH_ON=odd.phtml";
  const std::string hang = "QZSCAN_TEST_HANG_ON=index.php";
  const Row rows[] = {
      // Symbolic links are not followed by default.
      {"site", 1, {"shell.PHP: THREAT", "cached.php: THREAT"}, "", {"notes.txt", "loop"}},
      {some, 0, {"odd.phtml: SUSPICIOUS"}, "", {"shell.PHP", "cached.php"}},
      {"--fail-on suspicious " + some, 1, {"odd.phtml"}, "", {}},
      {"--ext txt site", 1, {"notes.txt: THREAT"}, "", {"shell.PHP"}},
      {"--all-files site", 1, {"notes.txt: THREAT", "shell.PHP: THREAT"}, "", {}},
      {"--max-filesize 1K site", 1, {"big.php: SKIPPED"}, "", {"big.php: THREAT"}},
      {"site/index.php", 0, {"1 scanned"}, "", {"THREAT"}},
      {"--quiet site/index.php", 0, {}, "", {"scanned"}},
      {"--format yaml site", 2, {}, "", {}},
      {"site/missing.php site/shell.PHP", 2, {"shell.PHP"}, "qzscan: site/missing.php: ", {}},
      {"--follow-symlinks site", 2, {}, "symbolic link loop", {}},
      {"-j 2 site", 2, {"shell.PHP: THREAT"}, "odd.phtml: worker crashed", {}, crash},
      {"--timeout 1 site", 2, {"shell.PHP"}, "index.php: timed out after 1 seconds", {}, hang},
      // Named on the command line, what is not a regular file is an error,
      // and a FIFO is never waited on; inside a directory it is passed over.
      {"/dev/zero site/lib/pipe.php", 2, {}, "qzscan: /dev/zero: not a regular file", {}},
      {"site/lib/pipe.php", 2, {}, "qzscan: site/lib/pipe.php: not a regular file", {}},
      {"--ext txt,php site/lib", 1, {"notes.txt: THREAT"}, "", {"pipe.php"}},
      // Skipped files are listed under -q and fail the run under --fail-on skip.
      {"-q --max-filesize 1K site/index.php site/big.php", 0, {"big.php: SKIPPED"}, "", {}},
      {"--fail-on skip --max-filesize 1K site/index.php site/big.php", 1, {"big.php: SKIPPED"}, "",
       {}},
      {"--fail-on skip site/index.php", 0, {"1 scanned"}, "", {}},
  };
  for (const Row& r : rows) {
    ToolRun res = run(r.args, r.env);
    const std::string all = res.out + res.err, what = r.env + " " + r.args + "\n" + all;
    EXPECT_EQ(res.status, r.status) << what;
    for (const std::string& p : r.out)
      EXPECT_NE(res.out.find(p), std::string::npos) << p << ": " << what;
    EXPECT_NE(res.err.find(r.err), std::string::npos) << r.err << ": " << what;
    for (const std::string& a : r.absent)
      EXPECT_EQ(all.find(a), std::string::npos) << a << ": " << what;
  }
}

TEST_F(Qzscan, JsonMatchesItsSchemaForAnyNumberOfWorkersAndSarifParsesBack) {
  ToolRun one = run("--format json --explain -j 1 site");
  EXPECT_EQ(one.status, 1);
  json report = json::parse(one.out), two = json::parse(run("--format json -j 2 site").out);
  validate(report, json::parse(slurp(QZ_SOURCE_DIR "/docs/qzscan-report.schema.json")), "report");
  report["summary"].erase("seconds");
  two["summary"].erase("seconds");
  EXPECT_EQ(report, two);
  const json& files = report["files"];
  auto shell = std::find_if(files.begin(), files.end(),
                            [](const json& f) { return f["path"] == "site/shell.PHP"; });
  ASSERT_NE(shell, files.end());
  EXPECT_EQ((*shell)["verdict"], "threat");
  EXPECT_EQ((*shell)["line"], 2);
  EXPECT_EQ((*shell)["sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ((*shell)["calls"], json::parse(R"([{"line": 2, "name": "system", "args": ["$_GET_DATA"],
      "description": "runs request input", "score": 10, "depth": 0, "decoders": []}])"));

  json sarif = json::parse(run("--format sarif site").out);
  EXPECT_EQ(sarif["version"], "2.1.0");
  const json& run0 = sarif["runs"][0];
  ASSERT_FALSE(run0["results"].empty());
  for (const json& res : run0["results"]) {
    size_t ri = res["ruleIndex"];
    ASSERT_LT(ri, run0["tool"]["driver"]["rules"].size());
    EXPECT_EQ(res["ruleId"], run0["tool"]["driver"]["rules"][ri]["id"]);
    EXPECT_GE(res["locations"][0]["physicalLocation"]["region"]["startLine"].get<int>(), 1);
  }
}

// A rule file that gives no rule would call every shell clean: the run stops
// before scanning. Lines the engine drops are named.
TEST_F(Qzscan, AnUnusableRuleFileStopsTheRun) {
  const std::string good = encipher(kRules[0]) + "\n" + encipher(kRules[1]) + "\n";
  const std::string no_rules = "no usable rules (0 loaded, none that scores); a plain rule file "
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
    std::remove(rules.c_str());
    if (r.contents == "/") mkdir(rules.c_str(), 0755);
    else if (!r.contents.empty()) put("rules", r.contents);
    ToolRun res = run(r.args + " site/shell.PHP");
    rmdir(rules.c_str());
    EXPECT_EQ(res.status, r.status) << r.contents << res.err;
    EXPECT_EQ(res.err.find("qzscan: " + rules + ": " + r.err), 0u) << r.contents << res.err;
  }
}

// --version names the rule file, its digest and its rules; an installed
// binary never takes a rule file found next to it over the installed one.
TEST_F(Qzscan, VersionNamesTheRuleFileAndACopyIgnoresBuildTreeRules) {
  ToolRun v = run("--version");
  EXPECT_EQ(v.status, 0);
  std::string digest = "x";
  if (FILE* p = popen(("sha256sum '" + rules + "'").c_str(), "r")) {
    char hex[65] = {};
    if (std::fscanf(p, "%64s", hex) == 1) digest = hex;
    pclose(p);
  }
  EXPECT_NE(v.out.find("\nrules: " + rules + "\nsha256: " + digest + "\nrules loaded: 3\n"),
            std::string::npos)
      << v.out;

  const std::string bin = root + "/t/bin/x";
  ASSERT_EQ(std::system(("mkdir -p '" + bin + "' '" + root + "/t/rules' && cp '" + kQzscan +
                         "' '" + bin + "/' && cp '" + rules + "' '" + root +
                         "/t/rules/default.rules'").c_str()),
            0);
  FILE* p = popen(("'" + bin + "/qzscan' --version").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[4096] = {}, rules_line[4096] = {};
  if (std::fgets(line, sizeof line, p)) std::fgets(rules_line, sizeof rules_line, p);
  pclose(p);
  EXPECT_EQ(std::string(rules_line).find(root), std::string::npos) << rules_line;
}

// A file that changes between listing and scanning is reported as what it
// has become, never as clean; a FIFO is never waited on.
TEST_F(Qzscan, AFileThatChangesAfterListingIsNeverQuietlyClean) {
  mkdir((root + "/more").c_str(), 0755);
  struct Row {
    std::string name;
    std::function<void(const std::string&)> change;
    std::string shown;  // the line, on standard error for an error
  };
  const Row rows[] = {
      {"slow_gone.php", [](const std::string& p) { unlink(p.c_str()); },
       "No such file or directory"},
      {"slow_fifo.php",
       [](const std::string& p) {
         unlink(p.c_str());
         mkfifo(p.c_str(), 0644);
       },
       "not a regular file"},
      {"slow_dir.php",
       [](const std::string& p) {
         unlink(p.c_str());
         mkdir(p.c_str(), 0755);
       },
       "not a regular file"},
      {"slow_link.php",
       [](const std::string& p) {
         unlink(p.c_str());
         EXPECT_EQ(symlink("../site/shell.PHP", p.c_str()), 0);
       },
       "a symbolic link, not followed"},
      {"slow_big.php",
       [](const std::string& p) { std::ofstream(p, std::ios::app) << std::string(2000, ' '); },
       "SKIPPED: larger than the size limit"},
  };
  for (const Row& r : rows) put("more/" + r.name, "<?php echo 1;\n");
  pid_t pid = start("-j 5 --max-filesize 1K more", "QZSCAN_TEST_SLOW_ON=slow_");
  std::this_thread::sleep_for(kSettle);
  for (const Row& r : rows) r.change(root + "/more/" + r.name);
  ToolRun res = finish(pid);
  EXPECT_EQ(res.status, 2) << res.out << res.err;
  for (const Row& r : rows) {
    const bool error = r.shown.find("SKIPPED") == std::string::npos;
    const std::string line = (error ? "qzscan: more/" : "more/") + r.name + ": " + r.shown + "\n";
    EXPECT_NE((error ? res.err : res.out).find(line), std::string::npos)
        << line << res.out << res.err;
  }
}

// A stop signal ends the run at once with 128 plus its number: the files
// finished are reported and no worker is left behind. Workers also die with a
// parent that is killed outright.
TEST_F(Qzscan, SignalsStopTheWorkersAndKeepWhatIsFinished) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);  // orphaned workers come back to us
  const std::pair<int, int> rows[] = {
      {SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}, {SIGKILL, -SIGKILL}};
  for (const auto& [sig, status] : rows) {
    pid_t pid = start("--format json -j 2 site/index.php site/shell.PHP site/lib/odd.phtml",
                      "QZSCAN_TEST_HANG_ON=odd.phtml");
    std::this_thread::sleep_for(kSettle);
    kill(pid, sig);
    ToolRun res = finish(pid);
    EXPECT_EQ(res.status, status) << sig << res.err;
    EXPECT_TRUE(group_ends(pid)) << sig;
    kill(-pid, SIGKILL);
    if (sig == SIGKILL) continue;
    json report = json::parse(res.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << res.out;
    std::vector<std::string> paths;
    for (const json& f : report["files"]) paths.push_back(f["path"].get<std::string>());
    EXPECT_EQ(paths, (std::vector<std::string>{"site/index.php", "site/shell.PHP"})) << sig;
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// Links followed: a diamond of links reaches one file 2^18 ways, and it is
// scanned once.
TEST_F(Qzscan, EachDirectoryIsWalkedOnceWhenLinksAreFollowed) {
  const int levels = 18;
  for (int i = 0; i <= levels; i++) mkdir((root + "/d" + std::to_string(i)).c_str(), 0755);
  std::string first = "d0";
  for (int i = 0; i < levels; i++) {
    first += "/a";
    for (const char* name : {"/a", "/b"})
      ASSERT_EQ(symlink(("../d" + std::to_string(i + 1)).c_str(),
                        (root + "/d" + std::to_string(i) + name).c_str()),
                0);
  }
  put("d" + std::to_string(levels) + "/shell.php", "<?php system($_GET['c']);\n");
  ToolRun res = run("--follow-symlinks --format json d0");
  EXPECT_EQ(res.status, 1) << res.err;
  json report = json::parse(res.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded());
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
  php += "/*" + std::string(8 << 20, ' ') + "*/\n";
  put("site/big_memory.php", php);
  ToolRun res = run("-j 1 --worker-memory 128M site/big_memory.php site/shell.PHP");
  EXPECT_EQ(res.status, 2);
  EXPECT_NE(res.err.find("qzscan: site/big_memory.php: out of memory: an allocation failed"),
            std::string::npos)
      << res.err;
  EXPECT_NE(res.out.find("site/shell.PHP: THREAT"), std::string::npos) << res.out;
  EXPECT_EQ(run("-j 1 --worker-memory 12Q site/shell.PHP").status, 2);
}

// The parent keeps a bounded number of scored calls per file and counts the
// rest.
TEST_F(Qzscan, ScoredCallsBeyondTheCapAreCounted) {
  std::string php = "<?php\n";
  for (int i = 0; i < 1500; i++) php += "exec('ls');\n";
  put("site/calls.php", php);
  json report = json::parse(run("--format json site/calls.php").out, nullptr, false);
  ASSERT_FALSE(report.is_discarded());
  const json& f = report["files"][0];
  EXPECT_EQ(f["calls"].size(), 1000u);
  EXPECT_EQ(f["calls_dropped"], 500);
  EXPECT_EQ(f["suspicious_score"], 1500 * 3);
}

}  // namespace
