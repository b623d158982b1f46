// The interpreter end to end: a script in, the exact sequence of reported
// calls (line, name, assignment count, argument texts) and fault reports out.

#include "support/scan_record.h"

#include "common/qz_limits.h"
#include "php/php_eval.h"

#include <unistd.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using scan_record::repeat;
using scan_record::run;
using scan_record::Seen;
using Trace = scan_record::EngineTest;

struct Row {
  const char* what;
  std::string script;
  std::vector<std::string> events;
  std::vector<std::string> dumped =
      {};  // the variables after the request arrays, in creation order
};

void check(const std::vector<Row>& rows) {
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.what) + "\n" + row.script.substr(0, 200));
    Seen seen = run(row.script);
    EXPECT_TRUE(seen.events == row.events) << "reported:\n" << seen.joined();
    EXPECT_EQ(php_run_depth(), 0u);
    EXPECT_TRUE(php_rt_state.arg_stk.empty() && php_rt_state.data_stk.empty() &&
                php_rt_state.op_stk.empty());
    if (row.dumped.empty()) continue;
    std::vector<std::string> dump = {
        "$_GET=[array]",     "$_POST=[array]",   "$_REQUEST=[array]",
        "$_SESSION=[array]", "$_SERVER=[array]", "$_COOKIE=[array]",
        "$_GLOBALS=[array]", "$_FILES=[array]",  "$_FILES_DATA=[array]"};
    dump.insert(dump.end(), row.dumped.begin(), row.dumped.end());
    EXPECT_EQ(seen.dump, dump);
  }
}

TEST_F(Trace, OperatorsAndValues) {
  // clang-format off
  check({
      {"precedence and left associativity", "<?php f(1 + 2 * 3, 2 * 3 + 1, 7 - 2 - 1);", {"1:f:0(5|5|2)"}},
      {"division by zero and unsigned comparison", "<?php f(5 / 0, 0 - 1 < 3, 8 / 3, 3 >= 3);",
       {"1:f:0(||0|/)"}},
      {"assignment binds looser than arithmetic", "<?php $a = 1 + 2; f($a);", {"1:f:0(1)"}},
      {"concatenation", "<?php f(\"ab\" . \"cd\" . 1);", {"1:f:0(abcd/)"}},
      {"object arrow drops the object", "<?php $o->run(1); f($x > 3);", {"1:run:0(/)", "1:f:0(1)"}},
      {"string equality ignores case", "<?php $a = \"Ab\"; f($a == \"aB\", $a == \"x\");", {"1:f:0(/|)"}},
      {"missing operand ends the statement quietly", "<?php 1 + ; f(2);", {"1:f:0(0)"}},
      {"unfinished call is still made", "<?php f(1;", {"1:f:0(/)"}},
      {"truth words, leading digits, hex, overflow and word texts",
       "<?php f(TRUE, False, 42abc, 0x1F, 99999999999999999999999, truex);",
       {"1:f:0(/||e||zzzzz1|truex)"}},
      {"integer text is radix 64 of the low 32 bits", "<?php f(5, 100, 0, 64, 1 - 2, 4294967297);",
       {"1:f:0(3|Y/||./|zzzzz1|/)"}},
  });
  // clang-format on
}

TEST_F(Trace, VariablesAndAssignmentCounts) {
  // clang-format off
  check({
      {"call through a variable", "<?php $f = \"system\"; $f(\"ls\");", {"1:system:1(ls)"}},
      {"each string assignment counts", "<?php $f = \"a\"; $f = \"system\"; $f(1);", {"1:system:2(/)"}},
      {"append assigns", "<?php $a = \"x\"; $a .= \"y\"; $a(\"z\"); _qz_dump_();",
       {"1:xy:2(z)", "1:_qz_dump_:0()"}, {"$a=xy"}},
      {"undefined variable assigns its own name", "<?php $b = $undefined; f($b);", {"1:f:0($undefined)"}},
      {"variable variables", "<?php $y = \"w\"; $n = \"y\"; $z = $$n; f($z);", {"1:f:0(w)"}},
      {"variable variable naming nothing leaves the target alone", "<?php $n = \"q\"; $z = $$n; f($z);",
       {"!engine/interpreter/qz_token_helpper:82:qz_token_clone src为NULL.", "1:f:0($z)"}},
      {"$$f() is a call of $f", "<?php $$f(); $f = \"x\"; $$f(1);", {"1:$f:0()", "1:x:1(/)"}},
      {"array argument reported by its name", "<?php $arr = array(1, 2); f($arr);",
       {"1:array:0(/|0)", "1:f:0($arr)"}},
      {"array item written and read", "<?php $a[\"k\"] = \"v\"; f($a['k']);",
       {"1:qz_array_item:0($a|k)", "1:qz_array_item:0($a|k)", "1:f:0(v)"}},
      {"brace index reads as bracket index", "<?php $s = \"abc\"; f($s{1});",
       {"1:qz_array_item:0(abc|/)", "1:f:0(b)"}},
      {"constant through define", "<?php define(\"X\", 5); f(X);", {"1:define:0(3|3)", "1:f:0(3)"}},
  });
  // clang-format on
}

TEST_F(Trace, RequestTaint) {
  // clang-format off
  check({
      {"request item", "<?php eval($_POST['c']);", {"1:qz_array_item:0($_POST|c)", "1:eval:0($_POST_DATA)"}},
      {"nested file item", "<?php f($_FILES['f']['tmp_name']);",
       {"1:qz_array_item:0($_FILES|f)", "1:qz_array_item:0($_FILES_DATA|tmp_name)", "1:f:0($_FILES_DATA_DATA)"}},
      {"a marker indexed by number stays a marker", "<?php f($_GET['x'][3]);",
       {"1:qz_array_item:0($_GET|x)", "1:qz_array_item:0($_GET_DATA|1)", "1:f:0($_GET_DATA)"}},
      {"superglobal names are case-sensitive", "<?php f($_get['x']);",
       {"1:qz_array_item:0($_get|x)", "1:f:0(qz_invalid_string)"}},
      {"after extract unknown names read as request data", "<?php extract($_GET); g($y); f($y); $cmd(1);",
       {"1:extract:0($_GET)", "1:g:0($_POST_DATA)", "1:f:0($_POST_DATA)", "1:eval:0(/)"}},
      {"a nested run clears the extract mark", "<?php extract($_GET); $cmd(\"x\"); g($y);",
       {"1:extract:0($_GET)", "1:eval:0(x)", "1:g:0($y)"}},
      {"the extract test is case-sensitive", "<?php EXTRACT($a); $cmd(\"x\");",
       {"1:EXTRACT:0($a)", "1:$cmd:0(x)"}},
  });
  // clang-format on
}

TEST_F(Trace, StatementsAndCallMarking) {
  // clang-format off
  check({
      {"three tokens or fewer are not evaluated", "<?php foo(); $a++; echo $x; bar(1)",
       {"1:foo:0()", "1:bar:0(/)"}},
      {"a pending three-token statement is dropped at the end", "<?php f()", {}},
      {"if ( is a call and a block joins the statement", "<?php if ($a) { eval($b); }",
       {"1:if:0($a)", "1:eval:0($b)"}},
      {") ( marks the closing parenthesis", "<?php f(1)(2);", {"1:):0(0)", "1:f:0(/|)"}},
      {"an operator before ( is marked", "<?php 1 + (2);", {"1:+:0(0)"}},
      {"an item result is called in its turn (item tokens carry line 0)",
       "<?php $a['k'] = \"system\"; $a['k'](\"id\");",
       {"1:qz_array_item:0($a|k)", "1:qz_array_item:0($a|k)", "0:system:0(id)"}},
      {"while condition once, body as statements", "<?php while (g(1)) { h(2); }", {"1:g:0(/)", "1:h:0(0)"}},
      {"a short while condition is dropped, the body runs", "<?php while ($x) { h(2); }", {"1:h:0(0)"}},
      {"an unbalanced while condition reads to the end", "<?php while (g(1) { h(2); }", {}},
      {"a quoted bracket inside a while condition", "<?php while (f(\")\")) { g(1); }",
       {"1:f:0())", "1:g:0(/)"}},
      {"a quoted ; does not end the statement", "<?php $a = ';'; f($a);", {"1:f:0(;)"}},
      {"braces join the open statement", "<?php { f(1) } g(2);", {"1:f:0(/)", "1:g:0(0)"}},
      {"function header is a call", "<?php function foo($x) { bar($x); }", {"1:foo:0($x)", "1:bar:0($x)"}},
      {"registry lookup ignores case, the name is reported as written",
       "<?php STRLEN(\"ab\"); count(); str_replace(\"a\", \"b\", \"c\", \"d\");",
       {"1:STRLEN:0(ab)", "1:count:0()", "1:str_replace:0(a|b|c|d)"}},
  });
  // clang-format on
}

TEST_F(Trace, LinesTagsAndComments) {
  // clang-format off
  check({
      {"newlines inside strings and calls", "<?php f(\n\"a\nb\",\n  2);\ng(3);", {"1:f:0(ab|0)", "5:g:0(1)"}},
      {"html before and between php blocks", "<html>\n<?php a(1); ?>\n<p>text</p>\n<?php b(2);",
       {"2:a:0(/)", "4:b:0(0)"}},
      {"three kinds of comments", "<?php // x(1);\na(2); # y(3);\n/* z(4);\n */ d(5);",
       {"2:a:0(0)", "4:d:0(3)"}},
      {"everything after a heredoc", "<?php $a = <<<EOT\nls\nEOT;\nsystem($a);", {"4:system:0(ls\n)"}},
      {"crlf counts once", "<?php\r\nf(1);\r\ng(1);", {"2:f:0(/)", "3:g:0(/)"}},
      {"escaped newline is not counted", "<?php f('a\\\nb');\ng(1);", {"1:f:0(a\nb)", "2:g:0(/)"}},
      {"newlines inside a script tag are not counted", "<script\nlanguage=php>\nf(1);", {"2:f:0(/)"}},
      {"newlines of an unreadable tag are", "<s\n\n" + std::string(120, 'a') + "<?php f(1);", {"3:f:0(/)"}},
      {"heredoc lines", "<?php <<<EOT\na\nb\nEOT;\nf(1);", {"5:f:0(/)"}},
      {"byte 0xFF ends the input", "<?php f(1)\xFF; g(2);", {"1:f:0(/)"}},
      {"byte 0xFF inside a while condition", "<?php while (f(1)\xFF g(2);", {}},
      {"byte 0xFF inside a heredoc", "<?php <<<EOT\nab\xFF\nEOT; g(2);", {}},
  });
  // clang-format on
}

// Scripts that could lose the outer statement, read past a text or trap on
// integer overflow: each row pins the safe outcome.
TEST_F(Trace, SoundBehaviour) {
  // clang-format off
  check({
      {"an evaluated argument does not destroy the outer call",
       "<?php system($_GET['c'] . eval(\"$a = 1 + 1;\"));",
       {"1:qz_array_item:0($_GET|c)", "1:eval:0($a = 1 + 1;)", "1:system:0($_GET_DATA)"}},
      {"the outer assignment completes after evaluated code", "<?php $x = eval(\"f(1);\"); g($x);",
       {"1:f:0(/)", "1:eval:0(f(1);)", "1:g:0()"}},
      {"a call through an empty text is a fault, not a call", "<?php $f = \"\"; $f(1); g(2);",
       {"!engine/qz_spec/qz_php:1160:function_name为NULL", "1:g:0(0)"}},
      {"a name longer than any buffer is reported whole",
       "<?php $f = \"" + std::string(4000, 'n') + "\"; $f .= $f; $f .= $f; $f .= $f; $f();",
       {"1:" + std::string(32000, 'n') + ":4()"}},
      {"a pair whose value was overwritten holds no bucket", "<?php array('a' => 1 .= 'x'); f(2);",
       {"1:array:0(qz_invalid_stringx)", "1:f:0(0)"}},
      {"most negative by minus one wraps",
       "<?php $m = 0 - 9223372036854775807 - 1; $n = 0 - 1; f($m / $n + 1, $m - 1 + 2);",
       {"1:f:0(/|/)"}},
      {"products and sums wrap", "<?php f(4294967296 * 4294967296 + 5, 9223372036854775807 + 2);",
       {"1:f:0(3|/)"}},
      {"increment wraps at the top", "<?php $i = 9223372036854775807; $i++ + 0; f($i);", {"1:f:0()"}},
      {"division truncates toward zero", "<?php $n = 0 - 7; $m = 0 - 2; f($n / 2, 7 / $m);",
       {"1:f:0(xzzzz1|xzzzz1)"}},
  });
  // clang-format on
}

TEST_F(Trace, NestingBounds) {
  const size_t d = QZ_MAX_CALL_DEPTH;
  Seen inside = run("<?php " + repeat("f(", d - 1) + "g(1" + repeat(")", d) + ";");
  ASSERT_FALSE(inside.events.empty());
  EXPECT_EQ(inside.events.front(), "1:g:0(/)");
  EXPECT_EQ(inside.events.size(), d);
  // One level deeper the statement is dropped and the script goes on.
  Seen beyond = run("<?php " + repeat("f(", d) + "g(1" + repeat(")", d + 1) + "); h(1);");
  EXPECT_EQ(beyond.events, std::vector<std::string>{"1:h:0(/)"});
  // While conditions nested past the run limit: the innermost call, each
  // condition the limit let run, and there the scan ends.
  const std::string whiles = repeat("while (", 2 * QZ_MAX_NESTED_RUNS);
  Seen runs = run("<?php " + whiles + "f(1)" + repeat(")", 2 * QZ_MAX_NESTED_RUNS) + "; g(1);");
  std::vector<std::string> want = {"1:f:0(/)"};
  want.resize(1 + QZ_MAX_NESTED_RUNS, "1:(:0()");
  EXPECT_EQ(runs.events, want);
}

TEST_F(Trace, Builtins) {
  // clang-format off
  check({
      {"getenv", "<?php $e = getenv('PATH'); f($e);", {"1:getenv:0(PATH)", "1:f:0($_ENV_DATA)"}},
      {"remote file", "<?php f(file_get_contents('http://x/y'));",
       {"1:file_get_contents:0(http://x/y)", "1:f:0($_REMOTE_FILE_CONTENTS)"}},
      {"integer file name", "<?php f(file_get_contents(5));",
       {"1:file_get_contents:0(3)", "1:f:0($_FILE_CONTENTS)"}},
      {"addslashes keeps taint", "<?php f(addslashes($_POST['x']));",
       {"1:qz_array_item:0($_POST|x)", "1:addslashes:0($_POST_DATA)", "1:f:0($_POST_DATA)"}},
      {"explode drops empty pieces", "<?php $p = explode(',', 'a,,b,'); f(count($p)); g($p[0], $p[1]);",
       {"1:explode:0(,|a,,b,)", "1:count:0($p)", "1:f:0(0)",
        "1:qz_array_item:0($p|)", "1:qz_array_item:0($p|/)", "1:g:0(a|b)"}},
      {"explode delimiter set", "<?php $p = explode(',;', ';a;b,c,'); f(count($p));",
       {"1:explode:0(,;|;a;b,c,)", "1:count:0($p)", "1:f:0(1)"}},
      {"explode of an integer", "<?php $p = explode(',', 5); f(count($p));",
       {"1:explode:0(,|3)", "1:count:0($p)", "1:f:0()"}},
      {"explode keeps subject", "<?php $s = 'a,b'; $p = explode(',', $s); f($s);",
       {"1:explode:0(,|a,b)", "1:f:0(a,b)"}},
      {"range 300 items", "<?php f(count(range(1, 300)));",
       {"1:range:0(/|g2)", "1:count:0(qz_invalid_string)", "1:f:0(g2)"}},
      {"range too wide", "<?php f(count(range(1, 301)));",
       {"1:range:0(/|h2)", "1:count:0(qz_invalid_string)", "1:f:0()"}},
      {"range reversed", "<?php f(count(range(3, 1)));",
       {"1:range:0(1|/)", "1:count:0(qz_invalid_string)", "1:f:0()"}},
      {"range items", "<?php $r = range(5, 6); f($r[0], $r[1]);",
       {"1:range:0(3|4)", "1:qz_array_item:0($r|)", "1:qz_array_item:0($r|/)", "1:f:0(3|4)"}},
      {"count of literal", "<?php f(count('abc'));", {"1:count:0(abc)", "1:f:0()"}},
      {"ord", "<?php f(ord('A'), ord(chr(200)));",
       {"1:ord:0(A)", "1:chr:0(61)", "1:ord:0(\xC8)", "1:f:0(//|6zzzz1)"}},
      {"chr", "<?php f(chr(65));", {"1:chr:0(//)", "1:f:0(A)"}},
      {"chr of a literal", "<?php f(chr('65'));", {"1:chr:0(65)", "1:f:0()"}},
      {"getconstant", "<?php define('K', 'v'); f(getconstant('K'));",
       {"1:define:0(v|v)", "1:getconstant:0(v)", "1:f:0(v)"}},
      {"eval assigns", "<?php eval('$a = 1;'); f($a);", {"1:eval:0($a = 1;)", "1:f:0(/)"}},
      {"eval of integer", "<?php eval(5); f(1);", {"1:eval:0(3)", "1:f:0(/)"}},
      {"assert", "<?php assert('g(2)');", {"1:g:0(0)", "1:assert:0(g(2))"}},
      {"preg_replace evaluates when its pattern holds an e anywhere",
       "<?php preg_replace('/hello/', 'h(1)', 's');",
       {"1:h:0(/)", "1:preg_replace:0(/hello/|h(1)|s)"}},
      {"preg_replace without e", "<?php preg_replace('/x/i', 'h(1)', 's');",
       {"1:preg_replace:0(/x/i|h(1)|s)"}},
      {"file_put_contents data only", "<?php file_put_contents('g(1);', 'h(2);');",
       {"1:h:0(0)", "1:file_put_contents:0(g(1);|h(2);)"}},
      {"fwrite", "<?php fwrite($h, 'k(1);');", {"1:k:0(/)", "1:fwrite:0($h|k(1);)"}},
      {"closing tag in evaluated text", "<?php eval('?>'); system('id');",
       {"1:eval:0(?>)", "1:system:0(id)"}},
      {"evaluated code needs no tag and stays code after ?>", "<?php eval('f(1); ?> g(2);');",
       {"1:f:0(/)", "1:g:0(0)", "1:eval:0(f(1); ?> g(2);)"}},
      {"string state restored", "<?php eval('f(\"x'); g(1);", {"1:eval:0(f(\"x)", "1:g:0(/)"}},
      {"evaluated code stands on the line of its sink", "<?php\neval(base64_decode('YSgxKTsKYigyKTsK'));\nc(3);",
       {"2:base64_decode:0(YSgxKTsKYigyKTsK)", "2:a:0(/)", "3:b:0(0)", "2:eval:0(a(1);\nb(2);\n)", "3:c:0(1)"}},
      {"index past the end", "<?php $s = 'abc'; f($s[7], $s[0 - 1]);",
       {"1:qz_array_item:0(abc|5)", "1:qz_array_item:0(abc|zzzzz1)", "1:f:0( | )"}},
      {"a lower-case marker indexed by number is the marker", "<?php $l = strtolower($_POST['x']); f($l[4]);",
       {"1:qz_array_item:0($_POST|x)", "1:strtolower:0($_POST_DATA)",
        "1:qz_array_item:0($_post_data|2)", "1:f:0($_POST_DATA)"}},
      {"file contents are plain text", "<?php $c = fgets($h); f($c[1]);",
       {"1:fgets:0($h)", "1:qz_array_item:0($_FILE_CONTENTS|/)", "1:f:0(_)"}},
      {"dynamic variable names are cut", "<?php f(${'" + std::string(100, 'n') + "'});",
       {"1:qz_var_var:0(" + std::string(100, 'n') + ")",
        "1:f:0($" + std::string(QZ_VAR_VAR_CALL_NAME_MAX, 'n') + ")"}},
      {"dynamic variable named by a number", "<?php f(${1 + 2});",
       {"1:qz_var_var:0(1)", "1:f:0($qz_invalid_string)"}},
      {"variable variable names are cut",
       "<?php $" + std::string(QZ_VARVAR_NAME_MAX, 'q') + " = 42; $n = '" + std::string(200, 'q') +
           "'; $z = $$n; f($z);",
       {"1:f:0(e)"}},
      {"variable dump in creation order", "<?php $a = 5; $b = 'x'; $z = 0; f($u); _qz_dump_(1);",
       {"1:f:0($u)", "1:_qz_dump_:0(/)"}, {"$a=3", "$b=x", "$z=", "$u=[other]"}},
  });
  // clang-format on
}

// A 0xFF byte before a shell: the end of input without the binary-safe
// option, data with it, for buffer and file sources alike.
TEST_F(Trace, ByteFFIsDataWhenBinarySafe) {
  const std::string shell = "system($_POST['c']);";
  const std::pair<const char*, std::string> rows[] = {
      {"in a comment", "<?php /* \xFF */ " + shell},
      {"in a string", "<?php $a = \"x\xFFy\"; " + shell},
      {"in a word", "<?php $a\xFF = 1; " + shell},
      {"image header before the tag", "\xFF\xD8\xFF\xE0JFIF\x01<?php " + shell},
  };
  auto scan_file = [](const std::string& script) {
    char path[] = "/tmp/qz_trace_ff_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    close(fd);
    qz_engine_scan_file(path);
    unlink(path);
  };
  for (const auto& row : rows) {
    for (unsigned long options : {0ul, static_cast<unsigned long>(QZ_OPT_BINARY_SAFE)}) {
      SCOPED_TRACE(std::string(row.first) + (options ? " (binary safe)" : ""));
      Seen buffer = run(row.second, options);
      Seen file = scan_record::record([&] { scan_file(row.second); }, options);
      for (const Seen* seen : {&buffer, &file}) {
        bool found = seen->joined().find(":system:") != std::string::npos;
        EXPECT_EQ(found, options != 0) << seen->joined();
      }
    }
  }
}

}  // namespace
