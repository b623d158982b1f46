// qzscan end to end: a temporary tree of scripts, the real binary, and its
// outputs read back.

#include "behavior/qz_cipher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  }
  void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

  // Runs qzscan in root, so that paths in the output begin with "site/".
  ToolRun run(const std::string& args, const std::string& env = "") {
    std::string out = root + "/out", err = root + "/err";
    std::string cmd = "cd '" + root + "' && " + env + " '" + kQzscan + "' --rules '" + rules +
                      "' " + args + " >'" + out + "' 2>'" + err + "'";
    int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out), slurp(err)};
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

TEST_F(Qzscan, MissingRuleFileIsAUsageError) {
  std::remove(rules.c_str());
  ToolRun r = run("site");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open the rule file"), std::string::npos);
}

}  // namespace
