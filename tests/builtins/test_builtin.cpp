// The bounds on emulated built-ins, evaluated code and statements, driven through whole
// scripts: each bound reached yields its fallback, the scan goes on, and with
// QZ_OPT_LIMIT_FINDINGS the bound names itself once as a reported call.

#include "support/scan_record.h"

#include "common/qz_limits.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using scan_record::run;
using scan_record::Seen;
using Bounds = scan_record::EngineTest;

// Level 0 reports g; level k evaluates level k-1 as many times as given.
std::string eval_tower(int levels, int evals_per_level) {
  std::string s = "<?php $l0 = 'g(1);';";
  for (int k = 1; k <= levels; k++) {
    s += " $l" + std::to_string(k) + " = '";
    for (int e = 0; e < evals_per_level; e++) s += "eval($l" + std::to_string(k - 1) + ");";
    s += "';";
  }
  return s + " eval($l" + std::to_string(levels) + "); after(1);";
}

// A script that builds an array literal of n pairs, each key the given
// width, for the strtr table bounds.
std::string pairs(unsigned long n, unsigned long width, const std::string& value) {
  std::string s = "array(";
  for (unsigned long i = 0; i < n; i++) {
    std::string key = std::to_string(i);
    key = std::string(width > key.size() ? width - key.size() : 0, 'k') + key;
    s += (i ? ", '" : "'") + key + "' => '" + value + "'";
  }
  return s + ")";
}

std::string doubled(std::string script, const char* var, int times) {
  for (int i = 0; i < times; i++)
    script += std::string(" ") + var + " = " + var + " . " + var + ";";
  return script;
}

TEST_F(Bounds, EachBoundYieldsItsFallbackAndIsReportedOnce) {
  std::string per_scan = "<?php";
  for (int i = 0; i < QZ_MAX_NESTED_RUNS_PER_SCAN + 100; i++) per_scan += " eval('k(1);');";
  // $t is 1 MiB of spaces and one call: 64 MiB of evaluated text fit 63 of them.
  std::string bytes =
      doubled("<?php $s = '" + std::string(16, ' ') + "';", "$s", 16) + " $t = $s . 'h(1);';";
  for (int i = 0; i < 70; i++) bytes += " eval($t);";
  const std::string deep = "<?php " + std::string(2 * QZ_MAX_CALL_DEPTH, '(') + "f(1" +
                           std::string(2 * QZ_MAX_CALL_DEPTH + 1, ')') + "; after(1);";
  std::string long_statement = "<?php $x = 1";
  for (unsigned long i = 0; i < QZ_MAX_STATEMENT_TOKENS; i++) long_statement += "+1";
  long_statement += "+f(1); after(1);";
  const unsigned long bounded = QZ_OPT_MEMORY_BUDGET, reach = QZ_OPT_INTERPRETER_REACH;
  const std::string k63 = std::string(QZ_STRTR_MAX_KEY_LENGTH - 1, 'k') + "0";
  const std::string k64 = std::string(QZ_STRTR_MAX_KEY_LENGTH, 'k') + "0";
  const unsigned long fit = QZ_STRTR_MAX_KEY_BYTES / QZ_STRTR_MAX_KEY_LENGTH;
  const std::string items(QZ_PREG_MAX_ITEMS, 'a');
  const std::string subject = items + "b";
  const std::string doc = std::string(QZ_DOC_COMMENT_MAX_BYTES - 3, 'a') + "xyz";
  const std::string n128(QZ_REFLECTED_NAME_MAX, 'N');
  std::string classes = "<?php ";
  for (unsigned long i = 0; i <= QZ_MAX_CLASS_DOC_COMMENTS; i++)
    classes += "/** d */\nclass K" + std::to_string(i) + " {}\n";
  // Rows whose one call of f is the one given.
  auto only = [](const std::string& sink) {
    return std::vector<std::pair<std::string, long>>{{"f(", 1}, {sink, 1}};
  };
  const struct {
    const char* what;
    std::string script;
    std::vector<std::pair<std::string, long>> counts;  // how often each call is reported
    std::vector<std::string> markers;
    unsigned long options = 0;  // besides the limit findings
  } rows[] = {
      // clang-format off
      {"a shallow tower is walked to the bottom", eval_tower(20, 1), {{"g(/)", 1}, {"after(/)", 1}}, {}},
      {"self-replicating code", "<?php $x = 'eval($x);'; eval($x); after(1);",
       {{"eval(", QZ_MAX_NESTED_RUNS}, {"after(/)", 1}}, {"nested_runs"}},
      {"an eval bomb", eval_tower(40, 2),
       {{"eval(", 2 * QZ_MAX_NESTED_RUNS_PER_SCAN + 1}, {"after(/)", 1}}, {"nested_runs", "runs_per_scan"}},
      {"runs per scan", per_scan,
       {{"k(/)", QZ_MAX_NESTED_RUNS_PER_SCAN}, {"eval(", QZ_MAX_NESTED_RUNS_PER_SCAN + 100}}, {"runs_per_scan"}},
      {"evaluated bytes", bytes,
       {{"h(/)", long(QZ_MAX_EVAL_BYTES_PER_SCAN / ((1ul << 20) + 5))}, {"eval(", 70}}, {"eval_bytes"}},
      {"explode pieces: 2^17 pieces of 'a', 65536 (..E) kept",
       doubled("<?php $s = 'a,';", "$s", 17) + " $p = explode(',', $s); f(count($p));", {{"f(..E)", 1}},
       {"explode_pieces"}},
      {"calls nested past the depth bound: the statement is dropped", deep,
       {{"f(", 0}, {"after(/)", 1}}, {"call_depth"}},
      {"a text past the string cap", doubled("<?php $s = 'ab';", "$s", 24) + " after($s);",
       {{"after(qz_invalid_string)", 1}}, {"string_length"}},
      {"a statement past the token bound loses its tail", long_statement,
       {{"f(", 0}, {"after(/)", 1}}, {"statement_tokens"}, bounded},
      {"without the memory bounds it is kept whole", long_statement, {{"f(/)", 1}}, {}},
      {"str_repeat past the string cap", "<?php f(str_repeat('ab', 9000000));", only("f(qz_invalid_string)"), {"string_length"}, reach},
      {"sprintf width past the string cap", "<?php f(sprintf('%99999999s', 'a'));", only("f(qz_invalid_string)"), {"string_length"}, reach},
      {"str_pad past the string cap", "<?php f(str_pad('a', 99999999));", only("f(qz_invalid_string)"), {"string_length"}, reach},
      {"str_split past the piece bound", "<?php f(count(str_split(str_repeat('a', 70000))));", only("f(..E)"), {"explode_pieces"}, reach},
      {"a strtr key at the length bound", "<?php f(strtr('" + k63 + "', " + pairs(1, QZ_STRTR_MAX_KEY_LENGTH, "x") + "));", only("f(x)"), {}, reach},
      {"a strtr key past it", "<?php f(strtr('" + k64 + "', " + pairs(1, QZ_STRTR_MAX_KEY_LENGTH + 1, "x") + "));", only("f(" + k64 + ")"), {}, reach},
      {"strtr keys at the byte bound", "<?php f(strtr('" + k63 + "', " + pairs(fit, QZ_STRTR_MAX_KEY_LENGTH, "x") + "));", only("f(x)"), {}, reach},
      {"strtr keys past it", "<?php f(strtr('" + k63 + "', " + pairs(fit + 1, QZ_STRTR_MAX_KEY_LENGTH, "x") + "));", only("f(" + k63 + ")"), {}, reach},
      {"strtr pairs at the pair bound", "<?php f(strtr('7', " + pairs(QZ_STRTR_MAX_PAIRS, 1, "x") + "));", only("f(x)"), {}, reach},
      {"strtr pairs past it", "<?php f(strtr('7', " + pairs(QZ_STRTR_MAX_PAIRS + 1, 1, "x") + "));", only("f(7)"), {}, reach},
      {"a pattern at the item bound", "<?php f(preg_replace('/^" + items + "$/', '', '" + items + "'), preg_replace('/" + items + "/', '', '" + subject + "'));", only("f(|b)"), {}, reach},
      {"a pattern past it", "<?php f(preg_replace('/" + items + "a/', '', '" + items + "ab'));", only("f(" + items + "ab)"), {}, reach},
      {"a doc comment at the byte bound", "<?php /**" + doc + "*/\nclass C {} $r = new ReflectionClass('C'); f(substr($r->getDocComment(), -3));", only("f(xyz)"), {}, reach},
      {"a doc comment past it is cut", "<?php /**" + doc + "tail*/\nclass C {} $r = new ReflectionClass('C'); f(substr($r->getDocComment(), -3));", only("f(xyz)"), {}, reach},
      {"a reflected name at its bound", "<?php /** d */\nclass " + n128 + " {} $r = new ReflectionClass('" + n128 + "'); f($r->getDocComment());", only("f( d )"), {}, reach},
      {"a reflected name past it names no class", "<?php /** d */\nclass " + n128 + "b {} $r = new ReflectionClass('" + n128 + "b'); f($r->getDocComment());", only("f()"), {}, reach},
      {"stripos at its haystack bound", "<?php $h = str_repeat('a', " + std::to_string(QZ_FOLD_SEARCH_MAX_BYTES - 1) + ") . 'B'; f(stripos($h, 'b') > 0, strpos($h, 'B') > 0);", only("f(/|/)"), {}, reach},
      {"stripos past it gives no position", "<?php $h = str_repeat('a', " + std::to_string(QZ_FOLD_SEARCH_MAX_BYTES) + ") . 'B'; f(stripos($h, 'b') > 0, strpos($h, 'B') > 0);", only("f(|/)"), {}, reach},
      {"class doc comments past their bound", classes + "$r = new ReflectionClass('K" + std::to_string(QZ_MAX_CLASS_DOC_COMMENTS) + "'); f($r->getDocComment());", only("f()"), {}, reach},
      // clang-format on
  };
  static_assert(QZ_EXPLODE_MAX_PIECES == 65536, "the explode row expects 65536 pieces");
  static_assert(QZ_STRTR_MAX_KEY_BYTES % QZ_STRTR_MAX_KEY_LENGTH == 0,
                "the byte rows fill keys exactly");
  for (const auto& row : rows) {
    for (unsigned long options : {0ul, static_cast<unsigned long>(QZ_OPT_LIMIT_FINDINGS)}) {
      SCOPED_TRACE(std::string(row.what) + (options ? " (limit findings)" : ""));
      Seen seen = run(row.script, options | row.options);
      for (const auto& c : row.counts) {
        const std::string& call = c.first;  // a whole call, or a name and "(" for all its calls
        long n = std::count_if(seen.calls.begin(), seen.calls.end(), [&](const std::string& made) {
          return call.back() == '(' ? made.compare(0, call.size(), call) == 0 : made == call;
        });
        EXPECT_EQ(n, c.second) << call << "\n" << seen.joined();
      }
      std::vector<std::string> markers;
      for (const std::string& call : seen.calls)
        if (call.compare(0, sizeof QZ_LIMIT_MARKER, QZ_LIMIT_MARKER "(") == 0)
          markers.push_back(
              call.substr(sizeof QZ_LIMIT_MARKER, call.size() - sizeof QZ_LIMIT_MARKER - 1));
      EXPECT_EQ(markers, options ? row.markers : std::vector<std::string>{});
    }
  }
  // The next scan starts with a fresh budget.
  EXPECT_EQ(run("<?php eval('k(1);');").calls, (std::vector<std::string>{"k(/)", "eval(k(1);)"}));
}

}  // namespace
