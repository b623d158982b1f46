// qzscan end to end: a temporary tree of scripts, the real binary, and its
// outputs read back.

#include "behavior/qz_cipher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using json = nlohmann::json;

namespace {

const std::string kQzscan = QZ_BINARY_DIR "/tools/qzscan/qzscan";

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

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
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
    bool found = false;
    for (const json& e : schema["enum"]) found |= e == v;
    EXPECT_TRUE(found) << where << " has value " << v.dump();
  }
  if (schema.contains("required")) {
    for (const json& r : schema["required"]) EXPECT_TRUE(v.contains(r.get<std::string>())) << where << " lacks " << r;
  }
  if (schema.contains("properties") && v.is_object())
    for (auto& [k, sub] : schema["properties"].items()) {
      if (v.contains(k)) validate(v[k], sub, where + "." + k);
    }
  if (schema.contains("items") && v.is_array())
    for (size_t i = 0; i < v.size(); i++) validate(v[i], schema["items"], where + "[" + std::to_string(i) + "]");
}

class Qzscan : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzscan_test_XXXXXX";
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
    tree = root + "/site";
    mkdir(tree.c_str(), 0755);
    mkdir((tree + "/lib").c_str(), 0755);
    mkdir((tree + "/cache").c_str(), 0755);
    spit(tree + "/index.php", "<?php echo 'hello';\n");
    spit(tree + "/shell.PHP", "<?php\nsystem($_GET['c']);\n");
    spit(tree + "/lib/odd.phtml", "<?php exec('ls');\n");
    spit(tree + "/lib/notes.txt", "<?php eval($_POST['x']);\n");
    spit(tree + "/cache/cached.php", "<?php eval($_POST['x']);\n");
    spit(tree + "/big.php", "<?php eval($_POST['x']);\n" + std::string(3000, '#'));
    symlink("..", (tree + "/lib/up").c_str());
  }
  void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

  ToolRun run(const std::string& args, const std::string& env = "") {
    std::string out = root + "/out", err = root + "/err";
    std::string cmd = env + " '" + kQzscan + "' --rules '" + rules + "' " + args + " >'" + out +
                      "' 2>'" + err + "'";
    int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out), slurp(err)};
  }

  std::string root, rules, tree;
};

TEST_F(Qzscan, SelectionAndExitStatus) {
  struct Row {
    std::string args;
    int status;
    std::vector<std::string> present, absent;
  };
  const Row rows[] = {
      {tree, 1, {"shell.PHP: THREAT", "odd.phtml: SUSPICIOUS", "cached.php: THREAT"}, {"notes.txt"}},
      {"--exclude 'cache' " + tree, 1, {"shell.PHP: THREAT"}, {"cached.php"}},
      {"--exclude '*.PHP' --exclude cache --exclude big.php " + tree, 0, {"odd.phtml: SUSPICIOUS"}, {"shell.PHP"}},
      {"--fail-on suspicious --exclude '*.PHP' --exclude cache --exclude big.php " + tree, 1, {"odd.phtml"}, {}},
      {"--ext txt " + tree, 1, {"notes.txt: THREAT"}, {"shell.PHP"}},
      {"--all-files " + tree, 1, {"notes.txt: THREAT", "shell.PHP: THREAT"}, {}},
      {"--max-filesize 1K " + tree, 1, {"big.php: SKIPPED"}, {"big.php: THREAT"}},
      {tree + "/index.php", 0, {"1 scanned"}, {"THREAT"}},
      {"--quiet " + tree + "/index.php", 0, {}, {"scanned"}},
      {"--format yaml " + tree, 2, {}, {}},
      {tree + "/missing.php " + tree + "/shell.PHP", 2, {"shell.PHP: THREAT"}, {}},
  };
  for (const Row& r : rows) {
    ToolRun res = run(r.args);
    EXPECT_EQ(res.status, r.status) << r.args << "\n" << res.out << res.err;
    for (const std::string& p : r.present) EXPECT_NE(res.out.find(p), std::string::npos) << r.args << ": " << p << "\n" << res.out;
    for (const std::string& a : r.absent) EXPECT_EQ(res.out.find(a), std::string::npos) << r.args << ": " << a << "\n" << res.out;
  }
  ToolRun missing = run(tree + "/missing.php");
  EXPECT_NE(missing.err.find("qzscan: " + tree + "/missing.php: "), std::string::npos) << missing.err;
}

TEST_F(Qzscan, SymlinkLoopIsReportedNotFollowedForever) {
  ToolRun plain = run(tree);
  EXPECT_EQ(plain.err.find("loop"), std::string::npos);  // links are not followed by default
  ToolRun follow = run("--follow-symlinks " + tree);
  EXPECT_EQ(follow.status, 2);
  EXPECT_NE(follow.err.find("symbolic link loop"), std::string::npos) << follow.err;
}

TEST_F(Qzscan, JsonMatchesItsSchemaAndSarifParsesBack) {
  ToolRun j = run("--format json --explain " + tree);
  EXPECT_EQ(j.status, 1);
  json report = json::parse(j.out);
  json schema = json::parse(slurp(QZ_SOURCE_DIR "/docs/qzscan-report.schema.json"));
  validate(report, schema, "report");
  bool found = false;
  for (const json& f : report["files"])
    if (f["path"] == tree + "/shell.PHP") {
      found = true;
      EXPECT_EQ(f["verdict"], "threat");
      EXPECT_EQ(f["line"], 2);
      EXPECT_EQ(f["sha256"].get<std::string>().size(), 64u);
      ASSERT_EQ(f["calls"].size(), 1u);
      EXPECT_EQ(f["calls"][0]["name"], "system");
      EXPECT_EQ(f["calls"][0]["args"][0], "$_GET_DATA");
    }
  EXPECT_TRUE(found);

  ToolRun s = run("--format sarif " + tree);
  json sarif = json::parse(s.out);
  EXPECT_EQ(sarif["version"], "2.1.0");
  const json& run0 = sarif["runs"][0];
  EXPECT_EQ(run0["tool"]["driver"]["name"], "qzscan");
  ASSERT_FALSE(run0["results"].empty());
  for (const json& res : run0["results"]) {
    size_t ri = res["ruleIndex"];
    ASSERT_LT(ri, run0["tool"]["driver"]["rules"].size());
    EXPECT_EQ(res["ruleId"], run0["tool"]["driver"]["rules"][ri]["id"]);
    EXPECT_GE(res["locations"][0]["physicalLocation"]["region"]["startLine"].get<int>(), 1);
  }
}

TEST_F(Qzscan, SameResultsForAnyNumberOfWorkers) {
  ToolRun one = run("--format json -j 1 " + tree);
  ToolRun two = run("--format json -j 2 " + tree);
  json a = json::parse(one.out), b = json::parse(two.out);
  a["summary"].erase("seconds");
  b["summary"].erase("seconds");
  EXPECT_EQ(a, b);
}

TEST_F(Qzscan, CrashingAndHangingWorkersAreReplaced) {
  ToolRun crash = run("-j 2 " + tree, "QZSCAN_TEST_CRASH_ON=odd.phtml");
  EXPECT_EQ(crash.status, 2);
  EXPECT_NE(crash.err.find("odd.phtml: worker crashed"), std::string::npos) << crash.err;
  EXPECT_NE(crash.out.find("shell.PHP: THREAT"), std::string::npos);
  EXPECT_NE(crash.out.find("cached.php: THREAT"), std::string::npos);

  ToolRun hang = run("-j 1 --timeout 1 " + tree, "QZSCAN_TEST_HANG_ON=index.php");
  EXPECT_EQ(hang.status, 2);
  EXPECT_NE(hang.err.find("index.php: timed out after 1 seconds"), std::string::npos) << hang.err;
  EXPECT_NE(hang.out.find("shell.PHP: THREAT"), std::string::npos);
}

TEST_F(Qzscan, MissingRuleFileIsAUsageError) {
  std::remove(rules.c_str());
  ToolRun r = run(tree);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open the rule file"), std::string::npos);
}

}  // namespace
