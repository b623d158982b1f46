// What the extended reading of strings and tags lets the interpreter reach:
// scripts in, reported calls out, with QZ_OPT_INTERPRETER_REACH and without.

#include "support/codec.h"
#include "support/scan_record.h"

#include "common/qz_limits.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using scan_record::run;
using scan_record::Seen;
using LexReach = scan_record::EngineTest;

const unsigned long kReach = QZ_OPT_INTERPRETER_REACH;

bool reported(const Seen& seen, const std::string& call) {
  return std::find(seen.calls.begin(), seen.calls.end(), call) != seen.calls.end();
}

struct Row {
  const char* what;
  std::string script;
  std::vector<std::string> on, off;  // the calls reported with the flag and without
};

void check(const std::vector<Row>& rows, unsigned long more_options = 0) {
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.what) + "\n" + row.script.substr(0, 200));
    EXPECT_EQ(run(row.script, kReach | more_options).calls, row.on);
    EXPECT_EQ(run(row.script, more_options).calls, row.off);
  }
}

// Fifteen layers of eval(base64_decode('...')) around a shell: the outer
// literals are far longer than a token without the flag keeps.
TEST_F(LexReach, NestedEncodedLayers) {
  const std::string script = "<?php " + codec::eval_layers("system($_GET['c']);", 15);
  ASSERT_GT(script.size(), static_cast<size_t>(QZ_LEX_TOKEN_MAX));
  const std::string shell = "system($_GET_DATA)";
  Seen on = run(script, QZ_OPT_FULL_DECODE | kReach);
  EXPECT_TRUE(reported(on, shell)) << on.joined();
  EXPECT_EQ(std::count_if(on.calls.begin(), on.calls.end(),
                          [](const std::string& c) { return c.rfind("eval(", 0) == 0; }),
            15);
  Seen off = run(script, QZ_OPT_FULL_DECODE);
  EXPECT_FALSE(reported(off, shell)) << off.joined();
}

TEST_F(LexReach, StringsBecomeCode) {
  // clang-format off
  check({
      {"a callee built by interpolation", "<?php $c = \"sys\"; $d = \"tem\"; $f = \"$c$d\"; $f($_GET['x']);",
       {"qz_array_item($_GET|x)", "system($_GET_DATA)"},
       {"qz_array_item($_GET|x)", "$c$d($_GET_DATA)"}},
      {"an array item in a string", "<?php $a['k'] = 'id'; system(\"{$a['k']} -u\");",
       {"qz_array_item($a|k)", "qz_array_item($a|k)", "system(id -u)"},
       {"qz_array_item($a|k)", "system({$a['k']} -u)"}},
      {"request data through a string", "<?php $c = $_POST['c']; eval(\"$c;\");",
       {"qz_array_item($_POST|c)", "eval($_POST_DATA;)"}, {"qz_array_item($_POST|c)", "eval($c;)"}},
      {"evaluated text built with a variable", "<?php $f = 'sys'; eval(\"{$f}tem('id');\");",
       {"system(id)", "eval(system('id');)"}, {"tem(id)", "eval({$f}tem('id');)"}},
      {"backtick command", "<?php $d = '/tmp'; $o = `ls -la $d`;",
       {"shell_exec(ls -la /tmp)"}, {}},
      {"escapes decoded before the call", "<?php $f = \"\\x73\\171st\\u{65}m\"; $f('id');",
       {"system(id)"}, {"s171stu{65}m(id)"}},
      {"short tag with code", "<?system($_GET['c']);",
       {"qz_array_item($_GET|c)", "system($_GET_DATA)"}, {}},
      {"xml declaration stays text", "<?xml version=\"1.0\"?>\nsystem('id');", {}, {}},
      {"heredoc command", "<?php $c = <<<EOT\nwhoami\nEOT;\nsystem($c);", {"system(whoami)"},
       {"system(whoami\n)"}},
  });
  // clang-format on
}

// A literal past the per-string cap is cut there and reported as a limit.
TEST_F(LexReach, StringCapIsALimit) {
  const std::string script =
      "<?php $a = '" + std::string(QZ_MAX_STRING_LENGTH + 1, 'a') + "'; f(strlen($a));";
  Seen seen = run(script, kReach | QZ_OPT_LIMIT_FINDINGS);
  // The integer's text as the engine reports it.
  const std::string cap_length =
      run("<?php f(" + std::to_string(QZ_MAX_STRING_LENGTH) + ");").calls.at(0);
  const std::vector<std::string> want = {QZ_LIMIT_MARKER "(string_length)",
                                         "strlen(" + std::string(QZ_MAX_STRING_LENGTH, 'a') + ")",
                                         cap_length};
  EXPECT_TRUE(seen.calls == want) << seen.joined();
  Seen quiet = run(script, kReach);
  EXPECT_FALSE(reported(quiet, QZ_LIMIT_MARKER "(string_length)"));
}

}  // namespace
