#include "behavior_fixture.h"

#include "common/qz_host.h"

#include <cstring>
#include <tuple>

using namespace behavior_test;

namespace {

const std::vector<std::string> kRules = {
    "define_var(SHELLS,system+exec+passthru)",
    "define_var(REQ,$_POST_DATA+$_GET_DATA)",
    "define_var(shells,never used: the first name wins)",
    "define_behavior(assert,0=$_POST_DATA,9,assert of request data)",
    "define_behavior(assert,,2,assert seen)",
    "define_behavior(shells,0=req,8,command from request)",
    "define_behavior(system+popen,,4,shell call)",
    "define_behavior(eval,0=x&1=y,6,eval two)",
    "define_behavior(eval,0=a&0=a,6,eval twice on one)",
    "define_behavior(create_function,1=$_post_data,7,exact lambda,1)",
    "define_behavior(preg_replace,-1=e,5,negative index)",
    "define_behavior(mail,,-5,negative score)",
    "define_behavior(mail+,,3,after negative)",
    "define_behavior(include,0=http://,0,exception for remote include)",
    "define_behavior(include,,3,include)",
};

using MatchTest = BehaviorTest;

TEST_F(MatchTest, CallsScoreAgainstTheFirstMatchingRule) {
  define_all(kRules);
  const std::string long_arg(300, 'z');
  struct Row {
    std::string name;
    std::vector<std::string> args;
    Outcome expected;
  };
  const std::vector<Row> rows = {
      /* first match wins; a failing earlier rule lets the later one try */
      {"assert", {"abc$_POST_DATA"}, {9, "assert of request data", "assert(abc$_POST_DATA)"}},
      {"assert", {"$_post_data"}, {2, "assert seen", "assert()"}},
      {"ASSERT", {}, {2, "assert seen", "ASSERT()"}},
      /* variables in the functions field and in a pattern, either case */
      {"exec", {"x$_GET_DATA"}, {8, "command from request", "exec(x$_GET_DATA)"}},
      {"system", {"ls"}, {4, "shell call", "system()"}},
      /* condition texts go into the detail */
      {"eval", {"xx", "yy", "zz"}, {6, "eval two", "eval(xx,yy)"}},
      {"eval", {"x", "q"}, {0, "", "eval()"}}, /* the last rule tried */
      /* exact mode ignores case but wants the whole text */
      {"create_function", {"", "$_POST_DATA"}, {7, "exact lambda", "create_function($_POST_DATA)"}},
      {"create_function", {"", "$_POST_DATA;"}, {0, "", "create_function()"}},
      /* sound handling of negative numbers */
      {"preg_replace", {"e", "e"}, {0, "", "preg_replace()"}},
      {"mail", {}, {0, "negative score", "mail()"}},
      {"include", {"http://evil"}, {0, "exception for remote include", "include(http://evil)"}},
      {"include", {"lib.php"}, {3, "include", "include()"}},
      /* no rule names these */
      {"strlen", {"abc"}, {0, "", ""}},
      {"", {}, {0, "", ""}},
      /* an argument text contributes at most 200 characters */
      {"assert",
       {long_arg + "$_POST_DATA"},
       {9, "assert of request data", "assert(" + long_arg.substr(0, 200) + ")"}},
  };
  for (const Row& r : rows) {
    const Outcome got = check(r.name, r.args), want = r.expected;
    EXPECT_EQ(std::tie(got.score, got.desc, got.detail),
              std::tie(want.score, want.desc, want.detail));
  }
}

TEST_F(MatchTest, NullNamesArgumentsAndLateRules) {
  define_all({"define_behavior(eval,0=x,6,e)", "define_behavior(eval,,1,any eval)"});
  char name[] = "eval", desc[QZ_RULE_DESC_BUFFER] = {0}, detail[QZ_RULE_DETAIL_BUFFER] = {0};
  _fcall_argument null_text[1] = {};
  EXPECT_EQ(qz_behavior_check(1, 0, nullptr, 0, nullptr, 0, desc, detail), 0u);
  /* a claimed argument count without records counts as no arguments */
  EXPECT_EQ(qz_behavior_check(1, 0, name, 0, nullptr, 3, desc, detail), 1u);
  EXPECT_EQ(qz_behavior_check(1, 0, name, 0, null_text, 1, nullptr, nullptr), 1u);
  EXPECT_STREQ(desc, "any eval");
  EXPECT_EQ(call_history.size(), 1u);
  EXPECT_EQ(call_history["eval"], 2u);
  /* rules added after a match are seen, also through a late variable */
  std::string var = "define_var(F,exec)", rule = "define_behavior(F,,5,late)";
  define_var(&var[0]), define_behavior(&rule[0]);
  EXPECT_EQ(check("exec").score, 5u);
  qz_behavior_shutdown();
  EXPECT_EQ(check("eval").score, 0u);
}

/* The constant test against the argument texts the interpreter reports. A
 * variable named like the loader's marker must not stand in for it. */
TEST_F(MatchTest, ConstantArgumentsAreExcepted) {
  define_all({"define_var(SH,system+exec)", "define_var(&constant,$)",
              "define_behavior(SH,0:constant,0,fixed command)",
              "define_behavior(popen,0:constant&1=foo,0,fixed with foo)",
              "define_behavior(SH,,4,shell call)", "define_behavior(popen,,4,shell call)"});
  const std::string fixed = "fixed command", shell = "shell call";
  const struct {
    std::string name;
    std::vector<std::string> args;
    unsigned long score;
    std::string desc;
  } rows[] = {
      {"system", {"ls -la"}, 0, fixed},
      {"EXEC", {"whoami", "$_GET_DATA"}, 0, fixed},
      {"system", {""}, 4, shell},
      {"system", {"$_GET_DATA"}, 4, shell},
      {"system", {"rm $x"}, 4, shell},
      {"system", {"abc qz_decoded"}, 4, shell},
      {"system", {"qz_unknown_callee"}, 4, shell},
      {"system", {"qz_closure_1"}, 4, shell},
      {"system", {qz_invalid_string_text()}, 4, shell},
      {"system", {}, 4, shell},
      {"popen", {"ls", "foo"}, 0, "fixed with foo"},
      {"popen", {"ls", "bar"}, 4, shell},
      {"popen", {"ls $y", "foo"}, 4, shell},
      {"popen", {"ls"}, 4, shell},
  };
  for (const auto& r : rows) {
    const Outcome got = check(r.name, r.args);
    EXPECT_EQ(got.score, r.score) << r.name << "(" << (r.args.empty() ? "" : r.args[0]) << ")";
    EXPECT_EQ(got.desc, r.desc) << r.name << "(" << (r.args.empty() ? "" : r.args[0]) << ")";
  }
  /* an argument record without text is no constant */
  char name[] = "system", desc[QZ_RULE_DESC_BUFFER] = {0};
  _fcall_argument null_text[1] = {};
  EXPECT_EQ(qz_behavior_check(1, 0, name, 0, null_text, 1, desc, nullptr), 4u);
}

/* The begins-with test: a path the request leads against one it completes,
 * through a variable; the exact flag leaves it case-sensitive. */
TEST_F(MatchTest, BeginsWithTestsTheStartOfTheArgument) {
  define_all({"define_var(REQ,$_GET_DATA+$_POST_DATA)",
              "define_behavior(include,0^REQ,6,request leads the path)",
              "define_behavior(include,0=REQ,0,request completes the path)",
              "define_behavior(include,0^http://,8,remote code,1)",
              "define_behavior(include,,2,other include)"});
  const struct {
    const char* arg;
    unsigned long score;
  } rows[] = {
      {"$_GET_DATA/errors.php", 6},
      {"$_POST_DATA", 6},
      {"/srv/app/lang/$_GET_DATA.php", 0},
      {" $_GET_DATA", 0},
      {"$_get_data/x", 2},
      {"http://example.net/x.txt", 8},
      {"HTTP://example.net/x.txt", 2},
      {"http:/", 2},
      {"", 2},
  };
  for (const auto& r : rows) EXPECT_EQ(check("include", {r.arg}).score, r.score) << r.arg;
}

/* Thirteen 300-character arguments, behind a short or a 99-character name. */
TEST_F(MatchTest, DetailTextNeverPassesItsBuffer) {
  std::string conds = "0=a";
  for (int i = 1; i < 13; ++i) conds += "&" + std::to_string(i) + "=a";
  const std::string long_name(99, 'f');
  define_all({"define_behavior(f," + conds + ",5,wide)",
              "define_behavior(" + long_name + "," + conds + ",6,wide and long)"});
  const std::string arg(300, 'a');
  std::vector<_fcall_argument> recs(13);
  for (auto& r : recs) r.value = arg.c_str();
  for (std::string name : {std::string("f"), long_name}) {
    std::vector<char> detail(QZ_RULE_DETAIL_BUFFER + 64, '#');
    char desc[QZ_RULE_DESC_BUFFER];
    EXPECT_EQ(qz_behavior_check(1, 0, &name[0], 0, recs.data(), recs.size(), desc, detail.data()),
              name.size() == 1 ? 5u : 6u);
    size_t len = strnlen(detail.data(), QZ_RULE_DETAIL_BUFFER);
    ASSERT_EQ(len, static_cast<size_t>(QZ_RULE_DETAIL_BUFFER - 1)) << "cut to the buffer";
    EXPECT_EQ(std::string(detail.data(), name.size() + 1), name + "(");
    EXPECT_EQ(detail[len - 1], ')');
    for (size_t i = QZ_RULE_DETAIL_BUFFER; i < detail.size(); ++i) ASSERT_EQ(detail[i], '#');
  }
}

TEST_F(MatchTest, DataMatchEdges) {
  struct Row {
    std::string list;
    const char* subject;
    bool exact;
    bool match;
  };
  const std::vector<Row> rows = {
      {"$_post_data", "$_POST_DATA", true, true},
      {"a++b", "xbx", false, true},
      {"+", "anything", false, false},
      {"", "anything", false, false},
      {"x", nullptr, false, false},
      /* the list is read up to its 99th character */
      {std::string(99, 'a') + "+x", "x", false, false},
  };
  for (Row r : rows)
    EXPECT_EQ(qz_behavior_data_match(&r.list[0], const_cast<char*>(r.subject), r.exact), r.match)
        << r.list << " / " << (r.subject ? r.subject : "null");
}

TEST_F(MatchTest, IgnoredCallsAreNeitherCountedNorMatched) {
  TempFile f(rule_file({"define_behavior(base64_decode+header,,9,never)",
                        "define_call_list(base64_decode,9,never either)"}));
  ASSERT_EQ(qz_behavior_startup(f.path().c_str()), 1);
  qz_behavior_file_begin();
  EXPECT_EQ(check("base64_decode", {"x"}).score, 0u);
  EXPECT_EQ(check("header").score, 0u);
  EXPECT_EQ(check("Header").score, 9u) << "the ignore test is case-sensitive";
  EXPECT_EQ(call_history.count("base64_decode"), 0u);
  EXPECT_EQ(call_history["Header"], 1u);
  char desc[QZ_RULE_DESC_BUFFER] = {0};
  EXPECT_EQ(qz_behavior_check_file(desc), 0u);
  qz_behavior_file_end();
}

/* Call lists are tried before repeated calls: the empty list matches any
 * history, so the repeated calls are tried without the lists. Each row is one
 * file; a history carried over from the row before would change its score. */
TEST_F(MatchTest, FileRulesUseTheCallHistory) {
  const std::vector<std::string> repeats = {"define_repeat_call(eval,3,6,many evals)",
                                            "define_repeat_call(chr,-1,9,never fires)",
                                            "define_repeat_call(ord,0,4,zero minimum)"};
  std::vector<std::string> lists = {"define_call_list(fopen&fwrite,8,writes a file)",
                                    "define_call_list(,2,empty list)"};
  lists.insert(lists.end(), repeats.begin(), repeats.end());
  const struct {
    bool with_lists;
    std::vector<std::string> calls;
    unsigned long score;
    std::string desc;
  } rows[] = {
      {true, {}, 0, ""},
      {true, {"fwrite", "FOPEN"}, 8, "writes a file"},
      {true, {"fopen"}, 2, "empty list"},
      {false, {"strlen", "eval", "eval"}, 0, ""},
      {false, {"strlen", "eval", "eval", "eval"}, 6, "many evals"},
      {false, {"eval", "EVAL", "Eval"}, 0, ""},
      {false, {"chr", "chr", "chr"}, 0, ""},
      {false, {"Ord"}, 4, "zero minimum"},
  };
  for (const auto& r : rows) {
    define_all(r.with_lists ? lists : repeats);
    qz_behavior_file_begin();
    for (const std::string& c : r.calls) check(c);
    char desc[QZ_RULE_DESC_BUFFER] = {0};
    EXPECT_EQ(qz_behavior_check_file(desc), r.score) << r.calls.size();
    EXPECT_EQ(std::string(desc), r.desc);
    qz_behavior_file_end();
    EXPECT_TRUE(call_history.empty()) << "every file starts with an empty history";
  }
}

}  // namespace
