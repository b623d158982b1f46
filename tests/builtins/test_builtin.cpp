// Emulated built-ins, the code sinks with their bounds, and the variable dump,
// driven through whole scripts: script in, reported calls and dump out.

#include "support/scan_record.h"

#include "common/qz_limits.h"

#include <string>
#include <vector>

namespace {

using scan_record::b64;
using scan_record::run;
using Trace = scan_record::Seen;

struct Row {
  const char* what;
  std::string script;
  std::vector<std::string> reported;     // each must be reported
  std::vector<std::string> not_reported; // none of these may be
};

void check_rows(const std::vector<Row>& rows, unsigned long options = 0) {
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.what) + ": " + row.script);
    Trace t = run("<?php " + row.script, options);
    for (const auto& call : row.reported) EXPECT_TRUE(t.has(call)) << call << " in\n" << t.joined();
    for (const auto& call : row.not_reported) EXPECT_FALSE(t.has(call)) << call << " in\n" << t.joined();
  }
}

using BuiltinScript = scan_record::EngineTest;

TEST_F(BuiltinScript, SourcesAndTransforms) {
  check_rows({
      {"getenv", "$e = getenv('PATH'); f($e);", {"getenv(PATH)", "f($_ENV_DATA)"}, {}},
      {"db row", "f(mysql_fetch_row($r));", {"f($_DB_DATA)"}, {}},
      {"socket", "f(fsockopen('h', 80));", {"f($_SOCKET_HANDLE)"}, {}},
      {"fgets", "f(fgets($h));", {"f($_FILE_CONTENTS)"}, {}},
      {"remote file", "f(file_get_contents('http://x/y'));", {"f($_REMOTE_FILE_CONTENTS)"}, {}},
      {"integer file name", "f(file_get_contents(5));", {"f($_FILE_CONTENTS)"}, {}},
      {"addslashes keeps taint", "f(addslashes($_POST['x']));", {"f($_POST_DATA)"}, {}},
  });
}

TEST_F(BuiltinScript, Structure) {
  check_rows({
      {"explode drops empty pieces", "$p = explode(',', 'a,,b,'); f(count($p)); g($p[0], $p[1]);",
       {"f(0)", "g(a|b)"}, {}},  // count 2 is "0" in radix-64 text
      {"explode delimiter set", "$p = explode(',;', ';a;b,c,'); f(count($p));", {"f(1)"}, {}},
      {"explode of an integer", "$p = explode(',', 5); f(count($p));", {"f()"}, {}},
      {"explode keeps subject", "$s = 'a,b'; $p = explode(',', $s); f($s);", {"f(a,b)"}, {}},
      {"range 300 items", "f(count(range(1, 300)));", {"f(g2)"}, {}},
      {"range too wide", "f(count(range(1, 301)));", {"f()"}, {}},
      {"range reversed", "f(count(range(3, 1)));", {"f()"}, {}},
      {"range items", "$r = range(5, 6); f($r[0], $r[1]);", {"f(3|4)"}, {}},
      {"count of literal", "f(count('abc'));", {"f()"}, {}},
      {"ord", "f(ord('A'));", {"f(//)"}, {}},
      {"ord high byte", "f(ord(chr(200)));", {"f(6zzzz1)"}, {}},  // -56
      {"chr", "f(chr(65));", {"f(A)"}, {}},
      {"chr of literal", "f(chr('65'));", {"f()"}, {}},
      {"getconstant", "define('K', 'v'); f(getconstant('K'));", {"f(v)"}, {}},
  });
}

TEST_F(BuiltinScript, ExplodeStopsAtThePieceLimit) {
  // 2^17 pieces of "a": only the first QZ_EXPLODE_MAX_PIECES become items.
  std::string script = "<?php $s = 'a,';";
  for (int i = 0; i < 17; i++) script += " $s = $s . $s;";
  script += " $p = explode(',', $s); f(count($p));";
  static_assert(QZ_EXPLODE_MAX_PIECES == 65536, "the expected count below is 65536");
  Trace t = run(script);
  EXPECT_TRUE(t.has("f(..E)")) << t.joined();  // 65536 in radix-64 text
}

TEST_F(BuiltinScript, CodeSinks) {
  check_rows({
      {"eval assigns", "eval('$a = 1;'); f($a);", {"f(/)"}, {}},
      {"eval of integer", "eval(5); f(1);", {"eval(3)", "f(/)"}, {}},
      {"assert", "assert('g(2)');", {"g(0)"}, {}},
      {"preg_replace modifier", "preg_replace('/x/e', 'h(1)', 's');", {"h(/)"}, {}},
      {"preg_replace body has e", "preg_replace('/hello/', 'h(1)', 's');", {"h(/)"}, {}},
      {"preg_replace without e", "preg_replace('/x/i', 'h(1)', 's');", {}, {"h(/)"}},
      {"file_put_contents data only", "file_put_contents('g(1);', 'h(2);');", {"h(0)"}, {"g(/)"}},
      {"fwrite", "fwrite($h, 'k(1);');", {"k(/)"}, {}},
      {"closing tag in evaluated text", "eval('?>'); system('id');", {"system(id)"}, {}},
      {"string state restored", "eval('f(\"x'); g(1);", {"g(/)"}, {}},
  });
}

TEST_F(BuiltinScript, EvaluatedCodeStandsOnTheLineOfItsSink) {
  // Evaluated text counts its lines from the eval's own line, and its two
  // newlines do not shift the outer script: the call after it stays on line 3.
  Trace t = run("<?php\neval(base64_decode('" + b64("a(1);\nb(2);\n") + "'));\nc(3);");
  std::vector<std::string> located = t.located();
  for (const char* want : {"2:a(/)", "3:b(0)", "2:eval(a(1);\nb(2);\n)", "3:c(1)"}) {
    EXPECT_NE(std::find(located.begin(), located.end(), want), located.end()) << want << "\n" << t.joined();
  }
}

// Level 0 reports g; level k evaluates level k-1 twice.
std::string eval_tower(int levels, int evals_per_level) {
  std::string s = "<?php $l0 = 'g(1);';";
  for (int k = 1; k <= levels; k++) {
    s += " $l" + std::to_string(k) + " = '";
    for (int e = 0; e < evals_per_level; e++) s += "eval($l" + std::to_string(k - 1) + ");";
    s += "';";
  }
  return s + " eval($l" + std::to_string(levels) + "); after(1);";
}

TEST_F(BuiltinScript, NestedEvaluationIsBounded) {
  // A shallow tower is walked to the bottom.
  Trace shallow = run(eval_tower(20, 1));
  EXPECT_EQ(shallow.count("g(/)"), 1) << shallow.joined();

  // Self-replicating code stops at the nesting limit.
  Trace self = run("<?php $x = 'eval($x);'; eval($x); after(1);");
  EXPECT_LE(self.count_name("eval"), QZ_MAX_NESTED_RUNS + 1);
  EXPECT_GE(self.count_name("eval"), QZ_MAX_NESTED_RUNS - 2);
  EXPECT_TRUE(self.has("after(/)"));

  // The bomb: every level evaluates twice, 40 levels. The per-scan run budget
  // ends it after at most that many nested runs, each reporting two evals.
  Trace bomb = run(eval_tower(40, 2));
  EXPECT_GE(bomb.count_name("eval"), QZ_MAX_NESTED_RUNS_PER_SCAN);
  EXPECT_LE(bomb.count_name("eval"), 2 * QZ_MAX_NESTED_RUNS_PER_SCAN + 2);
  EXPECT_TRUE(bomb.has("after(/)"));
}

TEST_F(BuiltinScript, NestedRunBudgetIsPerScan) {
  std::string script = "<?php";
  for (int i = 0; i < QZ_MAX_NESTED_RUNS_PER_SCAN + 100; i++) script += " eval('k(1);');";
  Trace t = run(script);
  EXPECT_EQ(t.count("k(/)"), QZ_MAX_NESTED_RUNS_PER_SCAN);
  EXPECT_EQ(t.count_name("eval"), QZ_MAX_NESTED_RUNS_PER_SCAN + 100);
  // The next scan starts with a fresh budget.
  Trace again = run("<?php eval('k(1);');");
  EXPECT_EQ(again.count("k(/)"), 1);
}

TEST_F(BuiltinScript, EvaluatedBytesAreBudgeted) {
  // $t is 1 MiB of spaces followed by one call; 64 MiB of evaluated text fit
  // only 63 of them.
  std::string script = "<?php $s = '" + std::string(16, ' ') + "';";
  for (int i = 0; i < 16; i++) script += " $s = $s . $s;";
  script += " $t = $s . 'h(1);';";
  for (int i = 0; i < 70; i++) script += " eval($t);";
  Trace t = run(script);
  EXPECT_EQ(t.count("h(/)"), long(QZ_MAX_EVAL_BYTES_PER_SCAN / ((1ul << 20) + 5)));
  EXPECT_EQ(t.count_name("eval"), 70);
}

TEST_F(BuiltinScript, VariableDump) {
  // Every variable in creation order, after the request arrays each scan starts with.
  Trace t = run("<?php $a = 5; $b = 'x'; $z = 0; f($u); _qz_dump_(1);");
  ASSERT_GT(t.dump.size(), 4u);
  EXPECT_EQ(t.dump.front(), "$_GET=[array]");
  EXPECT_EQ(std::vector<std::string>(t.dump.end() - 4, t.dump.end()),
            (std::vector<std::string>{"$a=3", "$b=x", "$z=", "$u=[other]"}));
  EXPECT_TRUE(t.has("_qz_dump_(/)"));
  // Without a handler the dump is skipped, and the scan goes on.
  t = scan_record::record([] {
    qz_engine_set_var_dump_handler(nullptr);
    qz_engine_scan_buff("<?php _qz_dump_(); f(1);");
  });
  EXPECT_TRUE(t.has("f(/)"));
}

}  // namespace
