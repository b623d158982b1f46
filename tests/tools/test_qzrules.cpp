// qzrules end to end: the built tool run on temporary rule files.

#include "behavior/behavior_fixture.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <tuple>

using namespace behavior_test;

namespace {

struct ToolRun {
  int status;
  std::string out;
};

// Runs qzrules with the arguments; errors, when asked for, join the output.
// A file named as input reaches it through a pipe, as its standard input.
ToolRun qzrules(const std::string& args, bool errors = false, const std::string& input = "") {
  const std::string cmd = (input.empty() ? "" : "cat '" + input + "' | ") +
                          QZ_BINARY_DIR "/tools/qzrules/qzrules " + args +
                          (errors ? " 2>&1" : " 2>/dev/null");
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return {-1, ""};
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

const std::vector<std::string> kRules = {
    "define_var(SHELLS,system+exec)",
    "define_behavior(SHELLS,0=$_POST_DATA,10,command from request)",
    "define_call_list(fsockopen&proc_open,9,reverse shell)",
    "define_repeat_call(chr,40,3,many chr)",
};

using QzrulesTest = BehaviorTest;

// Encrypt writes exactly the lines an independent encipherment gives, which
// the loader's own tests show load; a line it cannot convert is left out and
// the exit status says so, as decrypt does.
TEST_F(QzrulesTest, EncryptMatchesAnIndependentEncipheringAndDecryptsBack) {
  std::string plain = "# starter\n\n   \n";
  for (const std::string& r : kRules) plain += r + "\r\n";
  plain += "define_var(A," + std::string(300, 'x') + ")\n  # indented comment";
  TempFile in(plain), out("");
  EXPECT_EQ(qzrules("encrypt " + in.path() + " -o " + out.path()).status, 1);
  std::vector<std::string> hex = lines_of(slurp(out.path()));
  ASSERT_EQ(hex.size(), kRules.size());
  for (size_t i = 0; i < hex.size(); ++i) EXPECT_EQ(hex[i], independent_encipher(kRules[i]));

  std::ofstream(out.path(), std::ios::app) << "zz\n";
  ToolRun dec = qzrules("decrypt " + out.path());
  EXPECT_EQ(dec.status, 1);
  EXPECT_EQ(lines_of(dec.out), kRules);
}

// A file is read whole however it arrives: a regular file of several read
// chunks and the same bytes through a pipe, whose size is not known in
// advance, encipher to the same lines, and those decipher back from a pipe.
TEST_F(QzrulesTest, LargeFilesAndPipesReadWhole) {
  std::string plain;
  std::vector<std::string> expected;
  for (int i = 0; i < 2500; ++i) {
    expected.push_back("define_var(V" + std::to_string(i) + "," + std::string(40 + i % 13, 'v') +
                       ")");
    plain += expected.back() + "\n";
  }
  ASSERT_GT(plain.size(), 2 * 65536u);
  TempFile in(plain), from_file(""), from_pipe("");
  EXPECT_EQ(qzrules("encrypt " + in.path() + " -o " + from_file.path()).status, 0);
  EXPECT_EQ(qzrules("encrypt /dev/stdin -o " + from_pipe.path(), false, in.path()).status, 0);
  const std::string enciphered = slurp(from_file.path());
  EXPECT_EQ(lines_of(enciphered).size(), expected.size());
  EXPECT_EQ(slurp(from_pipe.path()), enciphered);
  ToolRun dec = qzrules("decrypt /dev/stdin", false, from_file.path());
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(lines_of(dec.out), expected);
}

// Lints files of the given lines: a row with an empty finding must be clean,
// otherwise one finding on that line must contain the text.
void expect_findings(const std::vector<std::pair<std::string, std::string>>& rows,
                     const char* eol) {
  std::string file;
  for (const auto& r : rows) file += r.first + eol;
  TempFile in(file);
  ToolRun lint = qzrules("lint " + in.path());
  EXPECT_EQ(lint.status, 1);
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string prefix = in.path() + ":" + std::to_string(i + 1) + ": ";
    std::string found;
    for (const std::string& l : lines_of(lint.out))
      if (l.compare(0, prefix.size(), prefix) == 0) found += l.substr(prefix.size()) + "\n";
    EXPECT_EQ(found.empty(), rows[i].second.empty()) << i + 1 << ": " << rows[i].first << found;
    EXPECT_NE(found.find(rows[i].second), std::string::npos) << rows[i].first << "\n" << found;
  }
}

TEST_F(QzrulesTest, LintFindsEachDefectOnItsLine) {
  expect_findings(
      {
          {"# comment", ""},
          {"define_var(REQ,$_POST_DATA+$_GET_DATA)", ""},
          {"define_var(req,again)", "already defined on line 2"},
          {"define_thing(a,b)", "unknown keyword"},
          {"define_behavior eval,,1,x", "missing \"(\""},
          {"define_behavior(eval,,1,x", "missing \")\""},
          {"define_behavior(eval,0=x,5)", "missing comma"},
          {"define_behavior(eval,0=x&nope,5,d)", "has no \"=\""},
          {"define_behavior(eval,,5," + std::string(120, 'd') + ")", "cut at 99"},
          {"define_repeat_call(" + std::string(40, 'a') + ",3,5,d)", "cut at 31"},
          {"define_behavior(f,0=a&1=a&2=a&3=a&4=a&5=a&6=a&7=a&8=a&9=a&10=a&11=a&12=a&13=a,5,d)",
           "more than 13 conditions"},
          {"define_call_list(a&b&c&d&e&f&g&h&i&j&k&l&m&n,5,d)", "more than 13 names"},
          {"define_var(LONG," + std::string(250, 'x') + ")", "over 249"},
          {"define_behavior(system,,0,exception)", "score 0"},
          {"define_behavior(passthru,0=SHELLS,5,undefined)", "no define_var defines it"},
          {"define_behavior(x,, 7z,d)", "reads as 7"},
          {"define_behavior(y,,5,d)tail", "after the last \")\" is ignored"},
          {"define_repeat_call(chr2,-1,5,neg)", "never fires"},
          // Of several earlier rules that cover a later one, the first is
          // named; an exact rule is not covered by a broader one.
          {"define_var(SH,popen+exec)", ""},
          {"define_behavior(unserialize,0=a&1=b,5,d)", ""},
          {"define_behavior(unserialize+ASSERT,1=b,5,d)", ""},
          {"define_behavior(unserialize,1=b&0=a&2=c,5,d)", "the rule on line 20 always"},
          {"define_behavior(assert,2=c&1=b,5,d)", "the rule on line 21 always"},
          {"define_behavior(assert,2=c&1=b,5,d,1)", ""},
          {"define_behavior(SH,0=x&1=y,5,d)", ""},
          {"define_behavior(exec,0=x&1=y&2=z,5,d)", "the rule on line 25 always"},
          {"define_behavior(exec,,5,d)", ""},
          {"define_behavior(exec,0=x,5,d,1)", "the rule on line 27 always"},
          {"define_call_list(a&b,5,d)", ""},
          {"define_call_list(b&c,5,d)", ""},
          {"define_call_list(c&b&a,5,d)", "call list on line 29 matches"},
          {"define_call_list(d&c&b,5,d)", "call list on line 30 matches"},
          {"define_repeat_call(chr,30,3,d)", ""},
          {"define_repeat_call(chr,10,3,d)", ""},
          {"define_repeat_call(chr,20,3,d)", "the rule on line 34 fires"},
          {"define_repeat_call(CHR,40,3,d)", "the rule on line 33 fires"},
          // A score-0 rule with conditions before a rule that scores the
          // same calls is an exception, not a defect.
          {"define_var(SHC,passthru+shell_exec)", ""},
          {"define_behavior(SHC,0:constant,0,fixed command)", ""},
          {"define_behavior(shc,1=x&0:constant,5,d)", "the rule on line 38 always"},
          {"define_behavior(passthru,,4,shell)", ""},
          {"define_behavior(proc_open,0:constant,0,excepts nothing)", "score 0"},
          {"define_behavior(f,0:,1,d)",
           "unknown test \"\" (the one test is \"constant\"); the rule is dropped"},
          {"define_behavior(f,1=a&0:const,1,d)", "unknown test \"const\""},
          {"define_behavior(f,x:constant,1,d)", "must be decimal digits; the rule is dropped"},
          {"define_behavior(f,9999999999:constant,1,d)", "out of range"},
          {"define_behavior(include,0^http://+ftp://,8,d)", ""},
          {"define_behavior(f,x^a,1,d)", "before \"^\" must be decimal digits"},
          {"define_behavior(include,0^NO_SUCH_VAR,1,d)", "looks like a variable name"},
      },
      "\n");
  expect_findings(
      {
          {independent_encipher("define_var(A,b)"), ""},
          {lowercase(independent_encipher("define_var(A,b)")), "undecipherable"},
          {independent_encipher("define_var(L," + std::string(240, 'v') + ")"),
           "split into pieces"},
          {independent_encipher("define_behavior(unserialize,0=x&y,5,d)"), "has no \"=\""},
          {"", ""},
      },
      "\r\n");
}

// Dump shows constant and begins-with tests as such, never as the loader's
// marked patterns.
TEST_F(QzrulesTest, DumpShowsConditionKinds) {
  TempFile rules(rule_file({"define_behavior(system,0:constant&1=x&2^y,0,fixed)"}));
  ToolRun dump = qzrules("dump " + rules.path());
  ASSERT_EQ(dump.status, 0);
  const auto conds = nlohmann::json::parse(dump.out)["behaviors"][0]["conditions"];
  EXPECT_EQ(conds, nlohmann::json::parse(R"([{"arg_index":0,"constant":true},)"
                                         R"({"arg_index":1,"pattern":"x"},)"
                                         R"({"arg_index":2,"begins":"y"}])"));
}

// `qzrules test` on directories of look-alike scripts written here: request
// input run as code or command, a fixed command (excepted by its rule) and a
// command from a variable (suspicious).
class QzrulesTestCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzrules_test_XXXXXX";
    dir = mkdtemp(tmpl);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"mal/top.php", "<?php passthru($_COOKIE['f']);\n"},
        {"mal/web/eval.php", "<?php @eval($_POST['x']);\n"},
        {"mal/web/cmd.php", "<?php\n$c = $_GET['c'];\nsystem($c);\n"},
        {"mal/kit/upload.php", "<?php system($_REQUEST['cmd']);\n"},
        {"mal/kit/quiet.php", "<?php echo date('Y');\n"},
        {"mal/kit/var.php", "<?php system($cmd . ' 2>&1');\n"},
        {"ben/site/index.php", "<?php echo 'hello';\n"},
        {"ben/site/ls.php", "<?php system('ls -la');\n"},
        {"ben/site/notes.txt", "system($x);\n"},
        {"ben/tools/run.php", "<?php\nsystem('ls ' . $dir);\n"},
        {"rules.txt",
         "# test rules\n"
         "define_var(REQ,$_POST_DATA+$_GET_DATA+$_REQUEST_DATA+$_COOKIE_DATA)\n"
         "define_behavior(eval+system+passthru,0=REQ,10,runs request input)\n"
         "define_behavior(system,0:constant,0,runs a fixed command)\n"
         "define_behavior(system,,4,runs a shell command)\n"},
    };
    for (const auto& [name, text] : files) {
      std::filesystem::create_directories(std::filesystem::path(dir + "/" + name).parent_path());
      std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  ToolRun test(const std::string& args, bool errors = false) {
    return qzrules(
        "test " + dir + "/rules.txt --malicious " + dir + "/mal --benign " + dir + "/ben " + args,
        errors);
  }
  std::string dir;
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

TEST_F(QzrulesTestCommand, TablesCountEachTopLevelDirectory) {
  ToolRun r = test("-j 2");
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& l : lines_of(r.out))
    if (l.compare(0, 2, "  ") == 0 && l.compare(0, 4, "    ") != 0) rows.push_back(words(l));
  // name, files, threats, suspicious, clean, errors, skipped, then the rates;
  // then the missed and the wrongly flagged files
  const std::vector<std::vector<std::string>> want = {
      {".", "1", "1", "0", "0", "0", "0", "100.0%", "100.0%"},
      {"kit", "3", "1", "1", "1", "0", "0", "66.7%", "33.3%"},
      {"web", "2", "2", "0", "0", "0", "0", "100.0%", "100.0%"},
      {"total", "6", "4", "1", "1", "0", "0", "83.3%", "66.7%"},
      {"site", "2", "0", "0", "2", "0", "0", "0.0%"},
      {"tools", "1", "0", "1", "0", "0", "0", "100.0%"},
      {"total", "3", "0", "1", "2", "0", "0", "33.3%"},
      {dir + "/mal/kit/quiet.php:", "clean"},
      {dir + "/ben/tools/run.php:", "suspicious", "score=4"},
  };
  EXPECT_EQ(rows, want) << r.out;
  EXPECT_NE(r.out.find("    line 2: system(ls $dir) -> runs a shell command [+4]\n"),
            std::string::npos)
      << r.out;
}

TEST_F(QzrulesTestCommand, ThresholdsDecideTheExitStatus) {
  const std::vector<std::tuple<std::string, int, std::string>> rows = {
      {"--min-detection 83", 0, ""},
      {"--min-detection 90", 1, "qzrules: detection rate 83.3% is below --min-detection 90\n"},
      {"--min-threat 66", 0, ""},
      {"--min-threat 70", 1, "qzrules: threat rate 66.7% is below --min-threat 70\n"},
      {"--max-fp 34", 0, ""},
      {"--max-fp 30 --min-detection 10", 1,
       "qzrules: false-positive rate 33.3% is above --max-fp 30\n"},
  };
  for (const auto& [args, status, err] : rows) {
    // The verdict on the thresholds comes after the report, on standard error.
    ToolRun r = test(args + " --json", true);
    EXPECT_EQ(r.status, status) << args;
    const std::string end = "}\n" + err;
    EXPECT_EQ(r.out.compare(r.out.size() - std::min(r.out.size(), end.size()), end.size(), end), 0)
        << args << "\n"
        << r.out;
  }
}

TEST_F(QzrulesTestCommand, JsonReportIsTheSameForPlainAndEncipheredRules) {
  ToolRun plain = test("--json --min-detection 90");
  EXPECT_EQ(plain.status, 1);
  auto doc = nlohmann::json::parse(plain.out);
  EXPECT_EQ(doc["schema"], "qzrules-test");
  EXPECT_EQ(doc["malicious"]["dirs"][0]["dir"], dir + "/mal");
  EXPECT_EQ(doc["malicious"]["dirs"][0]["rows"].size(), 3u);
  EXPECT_EQ(doc["malicious"]["total"]["threats"], 4);
  EXPECT_NEAR(doc["malicious"]["total"]["detection_rate"].get<double>(), 500.0 / 6, 1e-9);
  EXPECT_NEAR(doc["benign"]["total"]["fp_rate"].get<double>(), 100.0 / 3, 1e-9);
  ASSERT_EQ(doc["missed"].size(), 1u);
  EXPECT_EQ(doc["missed"][0]["path"], dir + "/mal/kit/quiet.php");
  ASSERT_EQ(doc["false_positives"].size(), 1u);
  const auto& call = doc["false_positives"][0]["calls"][0];
  EXPECT_EQ(call["name"], "system");
  EXPECT_EQ(call["line"], 2);
  EXPECT_EQ(call["description"], "runs a shell command");
  EXPECT_EQ(
      doc["thresholds"],
      nlohmann::json::parse(
          R"([{"option":"--min-detection","limit":90.0,"value":83.33333333333333,"met":false}])"));
  EXPECT_EQ(doc["passed"], false);

  ASSERT_EQ(qzrules("encrypt " + dir + "/rules.txt -o " + dir + "/rules.bin").status, 0);
  ToolRun enc = qzrules("test " + dir + "/rules.bin --malicious " + dir + "/mal --benign " + dir +
                        "/ben --json --min-detection 90");
  auto again = nlohmann::json::parse(enc.out);
  again["rules"] = doc["rules"];
  EXPECT_EQ(again, doc);
}

// A file name is hostile input: control characters reach no terminal.
TEST_F(QzrulesTestCommand, ControlCharactersInNamesAreEscaped) {
  std::filesystem::create_directories(dir + "/odd/x");
  std::ofstream(dir + "/odd/x/a\nb\x1b[2J.php") << "<?php system('ls ' . $x);\n";
  ToolRun r = qzrules("test " + dir + "/rules.txt --benign " + dir + "/odd");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("/odd/x/a\\x0Ab\\x1B[2J.php: suspicious"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

// A file that cannot be read or written, and a test run without what it
// needs, are errors: status 2 and the problem named.
TEST_F(QzrulesTestCommand, UsageAndInputErrors) {
  std::ofstream(dir + "/vars.txt") << "define_var(A,b)\n";
  const std::string rules = dir + "/rules.txt", mal = dir + "/mal", file = dir + "/mal/top.php";
  const std::string missing = "/nonexistent/qz/rules";
  std::vector<std::pair<std::string, std::string>> rows = {
      {"encrypt " + rules + " -o " + missing, missing + ": cannot write"},
      {"test " + rules + " --benign " + dir + "/none", dir + "/none: No such file or directory"},
      {"test " + rules + " --malicious " + file, file + ": not a directory"},
      {"test " + rules, "test: give --malicious or --benign directories, or both"},
      {"test " + rules + " --malicious " + mal + " --max-fp 5", "test: --max-fp needs --benign"},
      {"test " + dir + "/vars.txt --malicious " + mal, dir + "/vars.txt: no rule that scores"},
      {"test " + rules + " --malicious " + mal + " --qzscan " + dir + "/none",
       dir + "/none: cannot run: No such file or directory"},
  };
  for (const char* cmd : {"lint", "dump", "decrypt", "encrypt"}) {
    rows.push_back({std::string(cmd) + " " + dir, dir + ": Is a directory"});
    rows.push_back({std::string(cmd) + " " + missing, missing + ": No such file or directory"});
  }
  for (const auto& [args, err] : rows) {
    ToolRun r = qzrules(args, true);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out.rfind("qzrules: " + err, 0), 0u) << args << "\n" << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
}

TEST_F(QzrulesTest, TheDefaultRulesLintCleanAndVersionNamesTheTool) {
  ToolRun lint = qzrules("lint " QZ_BINARY_DIR "/rules/default.rules", true);
  EXPECT_EQ(lint.status, 0);
  EXPECT_EQ(lint.out, "");
  ToolRun version = qzrules("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("qzrules ", 0), 0u) << version.out;
}

}  // namespace
