#include "behavior_fixture.h"

#include <cstring>

using namespace behavior_test;

namespace {

/* n conditions "i=pi" (or n names "fi") joined by sep. */
std::string items(int n, const char* sep, bool conditions) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    s += (i ? sep : "") + (conditions ? k + "=p" + k : "f" + k);
  }
  return s;
}

using RulesTest = BehaviorTest;

TEST_F(RulesTest, PlainRuleTextsFillTheTables) {
  const std::string f150(150, 'f');
  const std::string n40(40, 'n');
  /* a rule text, and the tables it gives */
  const std::vector<std::pair<std::string, std::string>> rows = {
      /* define_var: the value runs to the last ")" */
      {"define_var(SHELLS,system+exec,passthru)", "V SHELLS|system+exec,passthru\n"},
      {"define_variable(X,y)", "V X|y\n"},
      {"define_var(a,(b))", "V a|(b)\n"},
      {"define_var(a,b)tail,more", "V a|b\n"},
      {"define_var(a)x,y", ""},
      {"define_var)a,b(", ""},
      {"define_var a,b", ""},
      {"define_var(" + f150 + "," + f150 + ")",
       "V " + f150.substr(0, 99) + "|" + f150.substr(0, 99) + "\n"},
      /* define_behavior fields and conditions */
      {"define_behavior(eval,0=$_POST_DATA&1=x,10,code execution)",
       "B eval|code execution|10|0|0=$_POST_DATA;1=x\n"},
      {"define_behavior(eval,ab,10,desc)", "B eval|desc|10|0|\n"},
      {"define_behavior(eval,0=a&&&1=b&,5,d)", "B eval|d|5|0|0=a;1=b\n"},
      {"define_behavior(eval,=x&2=a=b&1=,1,d)", "B eval|d|1|0|0=x;2=a=b;1=\n"},
      {"define_behavior(eval," + items(14, "&", true) + ",1,d)",
       "B eval|d|1|0|" + items(13, ";", true) + "\n"},
      {"define_behavior(eval,0=x&abc,1,d)", ""},
      {"define_behavior(eval,0=x,10)", ""},
      {"define_behavior(eval,0=x,10,desc,1,extra)", "B eval|desc|10|1|0=x\n"},
      {"define_behavior(" + f150 + ",,1,d)", "B " + f150.substr(0, 99) + "|d|1|0|\n"},
      /* the constant test: digits, ":constant", and nothing else; a
       * malformed item, even in a short field, drops the whole rule */
      {"define_behavior(system,0:constant,0,fixed)", "B system|fixed|0|0|0=&constant\n"},
      {"define_behavior(popen,1=foo&12:constant,0,d)", "B popen|d|0|0|1=foo;12=&constant\n"},
      {"define_behavior(f,0=a:constant,1,d)", "B f|d|1|0|0=a:constant\n"},
      {"define_behavior(f,0:,0,d)", ""},
      {"define_behavior(f,:,0,d)", ""},
      {"define_behavior(f,0:const,0,d)", ""},
      {"define_behavior(f,x:constant,0,d)", ""},
      {"define_behavior(f,:constant,0,d)", ""},
      {"define_behavior(f,-1:constant,0,d)", ""},
      {"define_behavior(f,0:Constant,0,d)", ""},
      {"define_behavior(f,0:constant ,0,d)", ""},
      {"define_behavior(f,1=a&0:constantly,0,d)", ""},
      /* the begins-with test: digits, "^" and a pattern, kept behind its
       * mark; "^" after "=" is part of a pattern */
      {"define_behavior(include,0^REQ,6,d)", "B include|d|6|0|0=&^REQ\n"},
      {"define_behavior(f,1=a&2^b+c,1,d)", "B f|d|1|0|1=a;2=&^b+c\n"},
      {"define_behavior(f,0=^a,1,d)", "B f|d|1|0|0=^a\n"},
      {"define_behavior(f,0^a^b,1,d)", "B f|d|1|0|0=&^a^b\n"},
      {"define_behavior(f,0=x&0^,1,d)", ""},
      {"define_behavior(f,x^a,1,d)", ""},
      {"define_behavior(f,^a,1,d)", ""},
      {"define_behavior(f,0^,1,d)", ""},
      /* no rule text can write the marker as a pattern */
      {"define_behavior(f,0=&constant,0,d)", ""},
      /* numbers as strtol reads them, low 32 bits signed */
      {"define_behavior(eval,, 7z,d)", "B eval|d|7|0|\n"},
      {"define_behavior(eval,,-3,d)", "B eval|d|-3|0|\n"},
      {"define_behavior(eval,,4294967297,d)", "B eval|d|1|0|\n"},
      {"define_behavior(eval,,99999999999999999999,d)", "B eval|d|-1|0|\n"},
      {"define_behavior(eval,-1=x,1,d)", "B eval|d|1|0|-1=x\n"},
      /* call lists */
      {"define_call_list(fopen&fwrite&&chmod,8,writes a file)",
       "L writes a file|8|fopen&fwrite&chmod\n"},
      {"define_call_list(a,1,x,y)", "L x,y|1|a\n"},
      {"define_call_list(,1,any)", "L any|1|\n"},
      {"define_call_list(" + items(15, "&", false) + ",2,d)",
       "L d|2|" + items(13, "&", false) + "\n"},
      {"define_call_list(" + n40 + ",2,d)", "L d|2|" + n40.substr(0, 31) + "\n"},
      {"define_call_list(a&b,2)", ""},
      /* repeated calls */
      {"define_repeat_call(eval,3,6,a,b)", "R eval|3|6|a,b\n"},
      {"define_repeat_call(" + n40 + ",1,1,d)", "R " + n40.substr(0, 31) + "|1|1|d\n"},
      {"define_repeat_call(eval,3,6)", ""},
      /* no keyword at the start */
      {" define_var(a,b)", ""},
      {"definebehavior(eval,,1,d)", ""},
  };
  for (const auto& [text, tables] : rows) {
    define_all({text});
    EXPECT_EQ(dump_tables(), tables) << text;
  }
  qz_behavior_shutdown();
  EXPECT_EQ(qz_behavior_define(nullptr), 0);
  EXPECT_EQ(dump_tables(), "") << "a null text is ignored";
}

const std::vector<std::string> kSample = {
    "define_var(SHELLS,system+exec+passthru)",
    "define_behavior(SHELLS,0=$_POST_DATA+$_GET_DATA,10,command from request)",
    "define_behavior(eval,,3,eval seen,1)",
    "define_call_list(fsockopen&proc_open,9,reverse shell)",
    "define_repeat_call(chr,50,2,many chr)",
};
const char* kSampleTables =
    "V SHELLS|system+exec+passthru\n"
    "B SHELLS|command from request|10|0|0=$_POST_DATA+$_GET_DATA\n"
    "B eval|eval seen|3|1|\n"
    "L reverse shell|9|fsockopen&proc_open\n"
    "R chr|50|2|many chr\n";

/* Rule file contents in, tables out: line ends, bad lines between good ones
 * (skipped, the rest loads) and the read buffer's limit of 249 plain
 * characters with LF ends, one lower with CR LF. */
TEST_F(RulesTest, EncipheredFilesLoad) {
  const std::string good = independent_encipher("define_var(A,b)"), two = "V A|b\nV A|b\n";
  const std::string kept = "V N|" + std::string(99, 'v') + "\n";
  const std::string body249 = "define_var(N," + std::string(235, 'v') + ")";
  std::string binary, no_last_end = rule_file(kSample, "\r\n");
  for (int i = 0; i < 5000; ++i) binary.push_back(static_cast<char>((i * 131) & 0xff));
  no_last_end.resize(no_last_end.size() - 2);
  const std::pair<std::string, std::string> rows[] = {
      {no_last_end, kSampleTables},
      {"", ""},
      {good + "\n" + independent_encipher("define_var(B,c)") + "\r\n", "V A|b\nV B|c\n"},
      {rule_file({body249}), kept},
      {rule_file({"define_var(N,v" + body249.substr(13)}), ""},
      {rule_file({body249.substr(0, 247) + ")"}, "\r\n"), kept},
      {rule_file({body249}, "\r\n"), ""},
  };
  for (const auto& [file, tables] : rows) EXPECT_EQ(load_file(file), tables) << file.substr(0, 40);
  for (const std::string& bad :
       {std::string(), lowercase(independent_encipher("define_var(L,l)")), good.substr(1),
        std::string(100001, 'A'), std::string("\x01\x02\xff\xfe\0\x7f", 6), binary,
        std::string(3000, '\r')})
    EXPECT_EQ(load_file(good + "\n" + bad + "\n" + good + "\n"), two) << bad.substr(0, 40);
}

TEST_F(RulesTest, StartupChecksThePathAndLoadIsRetriedUntilTheFileExists) {
  EXPECT_EQ(qz_behavior_startup(nullptr), 0);
  const std::string path = "/tmp/qz_bh_missing_" + std::to_string(getpid());
  unlink(path.c_str());
  EXPECT_EQ(qz_behavior_startup(path.c_str()), 0);
  EXPECT_STREQ(g_szRulePath, path.c_str());

  qz_behavior_file_begin();
  EXPECT_EQ(g_RuleLoaded, 0);
  size_t ignored = ignore_calls.size();
  qz_behavior_file_begin();
  EXPECT_EQ(ignore_calls.size(), ignored) << "failed loads must not grow the ignore list";
  EXPECT_GE(ignored, 4u);
  std::ofstream(path) << rule_file(kSample);
  /* Loaded once: a second begin must not read again and double the tables;
   * after a shutdown the next begin loads anew. */
  for (int round = 0; round < 2; ++round) {
    qz_behavior_file_begin();
    qz_behavior_file_begin();
    EXPECT_EQ(g_RuleLoaded, 1);
    EXPECT_EQ(dump_tables(), kSampleTables);
    EXPECT_EQ(qz_behavior_shutdown(), 1);
    EXPECT_EQ(dump_tables(), "");
  }
  unlink(path.c_str());
  qz_behavior_startup(std::string(400, 'p').c_str());
  EXPECT_EQ(strlen(g_szRulePath), 299u) << "a long path is cut to the buffer";
}

}  // namespace
