#include "behavior/behavior_fixture.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <fstream>
#include <sstream>

using namespace behavior_test;

namespace {

const std::string kTool = QZ_BINARY_DIR "/tools/qzrules/qzrules";

struct ToolRun {
  int status;
  std::string out;
};

/* Runs qzrules with the arguments, capturing standard output, and standard
 * error too when errors is "2>&1". */
ToolRun qzrules(const std::string& args, const std::string& errors = "2>/dev/null") {
  std::string cmd = kTool + " " + args + " " + errors;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return {-1, ""};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) out.push_back(l);
  return out;
}

/* Lints a file of the given lines and checks each line's findings: an empty
 * expectation means the line must be clean, otherwise one finding for that
 * line must contain the text. */
void expect_findings(const std::vector<std::pair<std::string, std::string>>& rows,
                     const char* eol) {
  std::string file;
  for (const auto& r : rows) file += r.first + eol;
  TempFile in(file);
  ToolRun lint = qzrules("lint " + in.path());
  EXPECT_EQ(lint.status, 1);
  std::vector<std::string> out = lines_of(lint.out);
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string prefix = in.path() + ":" + std::to_string(i + 1) + ": ";
    std::string joined;
    for (const std::string& l : out)
      if (l.compare(0, prefix.size(), prefix) == 0) joined += l.substr(prefix.size()) + "\n";
    if (rows[i].second.empty())
      EXPECT_EQ(joined, "") << "line " << i + 1 << ": " << rows[i].first;
    else
      EXPECT_NE(joined.find(rows[i].second), std::string::npos)
          << "line " << i + 1 << ": " << rows[i].first << "\ngot: " << joined;
  }
}

const std::vector<std::string> kRules = {
    "define_var(SHELLS,system+exec)",
    "define_behavior(SHELLS,0=$_POST_DATA,10,command from request)",
    "define_call_list(fsockopen&proc_open,9,reverse shell)",
    "define_repeat_call(chr,40,3,many chr)",
};

using QzrulesTest = BehaviorTest;

/* Encrypt writes exactly the lines an independent enciphering gives, which
 * the loader's own tests show load. */
TEST_F(QzrulesTest, EncryptMatchesAnIndependentEncipheringAndDecryptsBack) {
  std::string plain = "# starter\n\n   \n";
  for (const std::string& r : kRules) plain += r + "\r\n";
  plain += "  # indented comment";
  TempFile in(plain);
  TempFile out("");
  ToolRun enc = qzrules("encrypt " + in.path() + " -o " + out.path());
  ASSERT_EQ(enc.status, 0);

  std::ifstream written(out.path(), std::ios::binary);
  std::vector<std::string> hex = lines_of(std::string(std::istreambuf_iterator<char>(written), {}));
  ASSERT_EQ(hex.size(), kRules.size());
  for (size_t i = 0; i < hex.size(); ++i) EXPECT_EQ(hex[i], independent_encipher(kRules[i]));

  ToolRun dec = qzrules("decrypt " + out.path());
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(lines_of(dec.out), kRules);
}

TEST_F(QzrulesTest, ConversionProblemsAndUsageErrors) {
  TempFile too_long("define_var(A," + std::string(300, 'x') + ")\ndefine_var(B,c)\n");
  ToolRun enc = qzrules("encrypt " + too_long.path());
  EXPECT_EQ(enc.status, 1);
  EXPECT_EQ(lines_of(enc.out), std::vector<std::string>{independent_encipher("define_var(B,c)")});

  TempFile bad_hex("zz\n" + independent_encipher("define_var(B,c)") + "\n");
  ToolRun dec = qzrules("decrypt " + bad_hex.path());
  EXPECT_EQ(dec.status, 1);
  EXPECT_EQ(dec.out, "define_var(B,c)\n");

  const std::pair<std::string, int> rows[] = {
      {"", 2},
      {"frobnicate x", 2},
      {"encrypt", 2},
      {"encrypt /nonexistent/qz/plain.txt", 2},
      {"lint /nonexistent/qz/rules", 2},
      {"dump /nonexistent/qz/rules", 2},
      {"encrypt " + too_long.path() + " -o /nonexistent/qz/out", 2},
      {"lint --plain --enciphered " + too_long.path(), 2},
      {"--help", 0},
  };
  for (const auto& [args, status] : rows) EXPECT_EQ(qzrules(args).status, status) << args;

  /* A directory opens, but reading it fails: each command says so. */
  const std::string dir = QZ_BINARY_DIR "/rules";
  for (const char* cmd : {"lint", "dump", "decrypt", "encrypt"}) {
    ToolRun r = qzrules(std::string(cmd) + " " + dir, "2>&1");
    EXPECT_EQ(r.status, 2) << cmd;
    EXPECT_EQ(r.out, "qzrules: " + dir + ": Is a directory\n") << cmd;
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
          {"define_behavior(assert+eval,0=REQ,9,broad)", ""},
          {"define_behavior(ASSERT,0=req&1=x,6,narrower)", "always matches these calls first"},
          {"define_behavior(assert,0=req&1=x,6,narrower but exact,1)", ""},
          {"define_call_list(fopen&fwrite,5,writer)", ""},
          {"define_call_list(fwrite&chmod&fopen,5,writer and chmod)", "call list on line 19"},
          {"define_repeat_call(chr,10,3,many chr)", ""},
          {"define_repeat_call(CHR,20,3,more chr)", "fires at the same count or earlier"},
          {"define_repeat_call(chr2,-1,5,neg)", "never fires"},
          {"define_behavior(x,, 7z,d)", "reads as 7"},
          {"define_behavior(y,,5,d)tail", "after the last \")\" is ignored"},
      },
      "\n");
}

/* Of several earlier rules that cover a later one, the first is named,
 * whichever of its functions, names or conditions it shares. */
TEST_F(QzrulesTest, LintNamesTheFirstRuleThatCoversALaterOne) {
  expect_findings(
      {
          {"define_var(SH,system+exec)", ""},
          {"define_behavior(eval,0=a&1=b,5,d)", ""},
          {"define_behavior(eval+assert,1=b,5,d)", ""},
          {"define_behavior(eval,1=b&0=a&2=c,5,d)", "the rule on line 2 always"},
          {"define_behavior(assert,2=c&1=b,5,d)", "the rule on line 3 always"},
          {"define_behavior(system,0=x,5,d)", ""},
          {"define_behavior(SH,0=x&1=y,5,d)", ""},
          {"define_behavior(exec,0=x&1=y&2=z,5,d)", "the rule on line 7 always"},
          {"define_behavior(exec,1=y&0=x,5,d,1)", ""},
          {"define_behavior(exec,,5,d)", ""},
          {"define_behavior(exec,0=x,5,d,1)", "the rule on line 10 always"},
          {"define_call_list(a&b,5,d)", ""},
          {"define_call_list(b&c,5,d)", ""},
          {"define_call_list(c&b&a,5,d)", "call list on line 12 matches"},
          {"define_call_list(c&d,5,d)", ""},
          {"define_call_list(d&c&b,5,d)", "call list on line 13 matches"},
          {"define_repeat_call(chr,30,3,d)", ""},
          {"define_repeat_call(chr,10,3,d)", ""},
          {"define_repeat_call(chr,20,3,d)", "the rule on line 18 fires"},
          {"define_repeat_call(CHR,40,3,d)", "the rule on line 17 fires"},
      },
      "\n");
}

TEST_F(QzrulesTest, LintOfAnEncipheredFile) {
  expect_findings(
      {
          {independent_encipher("define_var(A,b)"), ""},
          {lowercase(independent_encipher("define_var(A,b)")), "undecipherable"},
          {independent_encipher("define_var(L," + std::string(240, 'v') + ")"),
           "split into pieces"},
          {independent_encipher("define_behavior(eval,0=x&y,5,d)"), "has no \"=\""},
          {"", ""},
          {independent_encipher("define_behavior(eval,,3,fine)"), ""},
      },
      "\r\n");

  /* A CR that ends the file without an LF stays on the line, which then
   * does not decipher: lint and loader agree. */
  TempFile cr_end(independent_encipher("define_var(A,b)") + "\r");
  EXPECT_EQ(qzrules("lint " + cr_end.path()).status, 1);
  ASSERT_EQ(qz_behavior_startup(cr_end.path().c_str()), 1);
  qz_behavior_startup_i();
  EXPECT_EQ(dump_tables(), "");
}

TEST_F(QzrulesTest, DumpShowsTheLoadedTables) {
  TempFile rules(rule_file(kRules));
  ToolRun dump = qzrules("dump " + rules.path());
  ASSERT_EQ(dump.status, 0);
  EXPECT_EQ(nlohmann::json::parse(dump.out), nlohmann::json::parse(R"({
      "vars": [{"name": "SHELLS", "value": "system+exec"}],
      "behaviors": [{"functions": "SHELLS", "conditions": [{"arg_index": 0, "pattern": "$_POST_DATA"}],
                     "score": 10, "description": "command from request", "exact_match": 0}],
      "call_lists": [{"calls": ["fsockopen", "proc_open"], "score": 9, "description": "reverse shell"}],
      "repeat_calls": [{"function": "chr", "min_count": 40, "score": 3, "description": "many chr"}]})"));
}

TEST_F(QzrulesTest, DefaultRulesAreCleanAndLoad) {
  const std::string path = QZ_BINARY_DIR "/rules/default.rules";
  ToolRun lint = qzrules("lint " + path);
  EXPECT_EQ(lint.status, 0);
  EXPECT_EQ(lint.out, "");
  ASSERT_EQ(qz_behavior_startup(path.c_str()), 1);
  ASSERT_EQ(qz_behavior_startup_i(), 1);

  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool definite;
    bool scored;
  };
  const std::vector<Row> rows = {
      {"system", {"ls $_POST_DATA"}, true, true},
      {"eval", {"$_GET_DATA"}, true, true},
      {"eval", {"qz_decoded"}, true, true},
      {"fwrite", {"$_FILE_HANDLE", "$_POST_DATA"}, true, true},
      {"system", {"ls"}, false, true},
      {"strlen", {"$_POST_DATA"}, false, false},
  };
  for (const Row& r : rows) {
    unsigned long score = check(r.name, r.args).score;
    EXPECT_EQ(score >= 5, r.definite) << r.name << " " << score;
    EXPECT_EQ(score > 0, r.scored) << r.name;
  }
}

}  // namespace
