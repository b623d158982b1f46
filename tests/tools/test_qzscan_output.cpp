// qzscan's report end to end: hostile file names and argument texts in every
// format, and failed writes.

#include "tools/qzscan_runner.h"

#include <algorithm>
#include <map>
#include <set>

using namespace qzscan_test;

namespace {

// Decodes %HH escapes after an optional file:// prefix.
std::string unpercent(std::string text) {
  if (text.rfind("file://", 0) == 0) text.erase(0, 7);
  std::string out;
  for (size_t i = 0; i < text.size(); i += text[i] == '%' ? 3 : 1)
    out +=
        text[i] == '%' ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
  return out;
}

// Checks a JSON value against the subset of JSON Schema the report schema
// uses (type, enum, required, properties, items) and, where the schema lists
// an object's members, finds no member it leaves out.
void validate(const json& v, const json& schema, const std::string& where) {
  const std::string t = schema.value("type", "");
  ASSERT_TRUE(t.empty() || (t == "integer" ? v.is_number_integer() : v.type_name() == t))
      << where << " is not " << t << ": " << v.dump();
  const json e = schema.value("enum", json::array({v}));
  EXPECT_NE(std::find(e.begin(), e.end(), v), e.end()) << where << " has value " << v.dump();
  for (const json& r : schema.value("required", json::array()))
    EXPECT_TRUE(v.contains(r.get<std::string>())) << where << " lacks " << r;
  if (schema.contains("properties") && v.is_object())
    for (auto& [k, sub] : v.items()) {
      EXPECT_TRUE(schema["properties"].contains(k)) << where << " has undocumented " << k;
      if (schema["properties"].contains(k)) validate(sub, schema["properties"][k], where + "." + k);
    }
  if (schema.contains("items") && v.is_array())
    for (size_t i = 0; i < v.size(); i++)
      validate(v[i], schema["items"], where + "[" + std::to_string(i) + "]");
}

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

class QzscanOutput : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    for (const Hostile& h : kHostile) put("site/" + h.name, shell_with(h.arg));
    put("site/clean.php", "<?php echo 'hello';\n");
  }
};

TEST_F(QzscanOutput, TextAndPrint0ShowEveryNameAndArgumentSafely) {
  Ran r = run({{"--explain", "site", "site/gone\n\x1b.php"}});
  EXPECT_EQ(r.status, 2);
  std::string expected, print0;
  for (const Hostile& h : kHostile) {
    expected += "site/" + h.shown + ": THREAT score=10 line=2 runs request input\n" +
                "    line 2: system(" + h.arg_shown + "$_GET_DATA) -> runs request input [+10]\n";
    print0 += "site/" + h.name + std::string(1, '\0');
  }
  EXPECT_EQ(r.out.substr(0, expected.size()), expected);
  EXPECT_EQ(r.out.find(std::to_string(std::size(kHostile) + 2) + " files"), expected.size());
  EXPECT_EQ(r.err, "qzscan: site/gone\\n\\x1B.php: No such file or directory\n");

  r = run({{"--print0", "--explain", "site"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, print0);
}

// The report is valid UTF-8 that keeps the exact bytes of any path or
// argument that is not, matches its schema, and is the same for any number
// of workers.
TEST_F(QzscanOutput, JsonMatchesItsSchemaAndKeepsTheExactBytes) {
  Ran r = run({{"--format", "json", "--explain", "-j", "2", "site"}});
  EXPECT_EQ(r.status, 1);
  json report = json::parse(r.out), one = json::parse(run("--format json --explain -j 1 site").out);
  validate(report, json::parse(slurp(QZ_SOURCE_DIR "/docs/qzscan-report.schema.json")), "report");
  EXPECT_EQ(report["complete"], true);
  EXPECT_EQ(report["rules"], json({{"path", rules}, {"sha256", sha256_of(rules)}, {"count", 3}}));
  std::map<std::string, json> by_path;
  for (const json& f : report["files"])
    by_path[f.contains("path_bytes") ? codec::unbase64(f["path_bytes"])
                                     : f["path"].get<std::string>()] = f;
  EXPECT_EQ(by_path.size(), std::size(kHostile) + 1);
  EXPECT_EQ(by_path["site/clean.php"]["verdict"], "clean");
  for (const Hostile& h : kHostile) {
    const json& f = by_path["site/" + h.name];
    // A name that is not UTF-8 keeps its bytes aside and shows U+FFFD in "path".
    EXPECT_EQ(f.contains("path_bytes"), !h.utf8) << h.shown;
    EXPECT_EQ(f["path"].get<std::string>().find("\xef\xbf\xbd") != std::string::npos, !h.utf8);
    ASSERT_EQ(f["calls"].size(), 1u) << h.shown;
    EXPECT_EQ(f["calls"][0].contains("args_bytes"), !h.arg.empty()) << h.shown;
    if (!h.arg.empty()) {
      EXPECT_EQ(codec::unbase64(f["calls"][0]["args_bytes"][0]), "\x1b]0;t\x07\xff$_GET_DATA");
    }
  }
  const json& plain = by_path["site/plain.php"];
  EXPECT_EQ(plain["line"], 2);
  EXPECT_EQ(plain["sha256"], sha256_of(root + "/site/plain.php"));
  EXPECT_EQ(plain["calls"], json::parse(R"([{"line": 2, "name": "system", "args": ["$_GET_DATA"],
      "description": "runs request input", "score": 10, "definite": true, "depth": 0,
      "decoders": []}])"));
  report["summary"].erase("seconds");
  one["summary"].erase("seconds");
  EXPECT_EQ(report, one);
}

TEST_F(QzscanOutput, SarifUrisAreEncodedRuleIdsStableAndProblemsNotified) {
  put("more/cmd.php", "<?php exec('ls');\n");
  put("more/big.php", "<?php exec('ls');\n" + std::string(2000, '#'));
  const std::string more = root + "/more";  // an absolute path: a file:// URI
  json all = json::parse(
      run({{"--format", "sarif", "--max-filesize", "1K", "--skip-large", "site", more, "gone.php"}})
          .out);
  json one = json::parse(run({{"--format", "sarif", more + "/cmd.php"}}).out);
  const json& run_all = all["runs"][0];
  const json& rules_all = run_all["tool"]["driver"]["rules"];
  EXPECT_EQ(all["version"], "2.1.0");
  EXPECT_EQ(run_all["originalUriBaseIds"]["SRCROOT"]["uri"], "file://" + root + "/");

  std::set<std::string> paths;
  for (const json& res : run_all["results"]) {
    const size_t ri = res["ruleIndex"];
    ASSERT_LT(ri, rules_all.size());
    EXPECT_EQ(res["ruleId"], rules_all[ri]["id"]);
    EXPECT_EQ(res["locations"][0]["physicalLocation"]["region"]["startLine"], ri ? 1 : 2);
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
  EXPECT_EQ(run_all["properties"]["rules"],
            json({{"path", rules}, {"sha256", sha256_of(rules)}, {"count", 3}}));

  // The rule met second in one run and alone in the other keeps its id.
  const json& rules_one = one["runs"][0]["tool"]["driver"]["rules"];
  ASSERT_EQ(rules_all.size(), 2u);
  ASSERT_EQ(rules_one.size(), 1u);
  EXPECT_EQ(rules_all[1]["name"], "runs a command");
  EXPECT_EQ(rules_all[1]["id"], rules_one[0]["id"]);
  EXPECT_NE(rules_all[0]["id"], rules_one[0]["id"]);
}

TEST_F(QzscanOutput, AFailedWriteIsAnErrorAndNeverReplacesTheLastReport) {
  for (int i = 0; i < 20; i++) put("more/s" + std::to_string(i) + ".php", shell_with(""));
  const struct {
    Launch launch;
    int status;
    std::string err;  // the whole standard error, after "qzscan: "
  } rows[] = {
      {{{"more"}, {}, "/dev/full"}, 2, "standard output: No space left on device"},
      {{{"--format", "sarif", "-o", "report", "more"}, {}, "", 100}, 2, "report: File too large"},
      {{{"-o", "nodir/report", "more"}}, 2, "nodir/report: No such file or directory"},
      {{{"-o", "report", "more"}}, 1, ""},  // the one run that replaces the report
      {{{"-j", "1", "-o", "report", "more"}, {"QZSCAN_TEST_HOLD_ON=s9.php"}}, -SIGKILL, ""},
  };
  for (const auto& row : rows) {
    put("report", "last report\n");
    fs::permissions(root + "/report", fs::perms(0640));
    SCOPED_TRACE(row.launch.args.front() + " " + row.launch.args.back());
    Ran r =
        row.status == -SIGKILL ? stop(row.launch, SIGKILL, {"hold more/s9.php"}) : run(row.launch);
    EXPECT_EQ(r.status, row.status) << r.err;
    if (row.status != -SIGKILL) {
      EXPECT_EQ(r.err, row.err.empty() ? "" : "qzscan: " + row.err + "\n");
    }
    const std::string kept = row.status == 1 ? "more/s0.php: THREAT" : "last report\n";
    EXPECT_EQ(slurp(root + "/report").substr(0, row.status == 1 ? kept.size() : std::string::npos),
              kept);
    EXPECT_EQ(fs::status(root + "/report").permissions(), fs::perms(0640));
    // No temporary file stays behind, except after a kill.
    for (const auto& e : fs::directory_iterator(root)) {
      const std::string n = e.path().filename();
      EXPECT_TRUE(n == "more" || n == "report" || n == "site" ||
                  (row.status == -SIGKILL && n.rfind(".report.", 0) == 0))
          << n;
    }
  }
}

}  // namespace
