// The script driver, seen as a host sees it: scripts in through the exported
// scan entry points, reported calls (and evaluated statements) out.

#include "php_driver.h"
#include "php_eval.h"
#include "php_lex.h"
#include "qz_engine.h"
#include "qz_limits.h"

#include <qzengine/qzengine.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Recorder {
  std::vector<std::string> calls;  // "line:name(arg|arg)"
  unsigned long statements = 0;    // evaluated statements (one report each)
  std::string stop_at;             // raise the interrupt when this name is called
};

Recorder* rec = nullptr;

unsigned char on_call(unsigned long line, unsigned long, char* name, unsigned long,
                      _fcall_argument* args, unsigned long n) {
  std::string c = std::to_string(line) + ":" + name + "(";
  for (unsigned long i = 0; i < n; i++) c += (i ? "|" : "") + std::string(args[i].value);
  rec->calls.push_back(c + ")");
  if (!rec->stop_at.empty() && rec->stop_at == name) qz_engine_interupt();
  return 0;
}

void on_statement(unsigned long, unsigned long, unsigned long, unsigned long, unsigned long,
                  unsigned long, unsigned long) {
  rec->statements++;
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    qz_engine_startup();
    qz_engine_set_fcall_filter(on_call);
    qz_engine_set_performace_filter(on_statement);
  }
  void TearDown() override {
    qz_engine_set_fcall_filter(nullptr);
    qz_engine_set_performace_filter(nullptr);
    qz_engine_set_options(0);
    qz_engine_shutdown();
    rec = nullptr;
  }
  Recorder scan(const std::string& script, unsigned long options = 0, const std::string& stop = "") {
    Recorder r;
    r.stop_at = stop;
    rec = &r;
    qz_engine_set_options(options);
    qz_engine_scan_buff(script.c_str());
    EXPECT_EQ(php_run_depth(), 0u);
    EXPECT_TRUE(php_rt_state.arg_stk.empty() && php_rt_state.data_stk.empty() && php_rt_state.op_stk.empty());
    return r;
  }
};

typedef std::vector<std::string> Calls;

struct TraceCase {
  const char* what;
  std::string script;
  Calls calls;
};

TEST_F(Driver, CallTraces) {
  const TraceCase cases[] = {
      {"one call", "<?php foo();", {"1:foo()"}},
      {"three tokens are not evaluated", "<?php $a++; echo $x; f()", {}},
      {"four tokens at the end of input are", "<?php f(1)", {"1:f(/)"}},
      {"eval marked by its (", "<?php eval($_POST['c']);", {"1:qz_array_item($_POST|c)", "1:eval($_POST_DATA)"}},
      {"while condition once, body on", "<?php while (g(1)) { h(2); }", {"1:g(/)", "1:h(0)"}},
      {"short while condition dropped", "<?php while ($x) { h(2); }", {"1:h(0)"}},
      {"unbalanced while reads to the end", "<?php while (g(1) { h(2); }", {}},
      {"quoted bracket in a while condition", "<?php while (f(\")\")) { g(1); }", {"1:f())", "1:g(/)"}},
      {"if marked as a call", "<?php if ($a) { eval($b); }", {"1:if($a)", "1:eval($b)"}},
      {"braces join the open statement", "<?php { f(1) } g(2);", {"1:f(/)", "1:g(0)"}},
      {"function header", "<?php function foo($x) { bar($x); }", {"1:foo($x)", "1:bar($x)"}},
      {"html before and between tags", "<html>\n<?php f(1); ?>\n<p>\n<?php g(2);", {"2:f(/)", "4:g(0)"}},
      {"comments of three kinds", "<?php // f(1);\n# g(1);\n/* h(1);\n */ k(1);", {"4:k(/)"}},
      {"call line is the name's line", "<?php f(\n1,\n2);", {"1:f(/|0)"}},
      {"quoted ; does not end a statement", "<?php $a = \";\"; f($a);", {"1:f(;)"}},
      {"everything after a heredoc", "<?php $a = <<<EOT\nls\nEOT;\nsystem($a);", {"4:system(ls\n)"}},
      {"crlf heredoc", "<?php $a = <<<EOT\r\nls\r\nEOT;\r\nsystem($a);", {"4:system(ls\r\n)"}},
      {"unreadable tag hides nothing", "<s" + std::string(150, 'x') + "<?php f(1);", {"1:f(/)"}},
      {"default mode: no short tags", "<?= system($_GET['c']) ?><?Php f(1);", {}},
  };
  for (const TraceCase& c : cases) EXPECT_EQ(scan(c.script).calls, c.calls) << c.what;
}

TEST_F(Driver, ExtendedTags) {
  const TraceCase cases[] = {
      {"short echo tag", "<?= system($_GET['c']) ?>", {"1:qz_array_item($_GET|c)", "1:system($_GET_DATA)"}},
      {"any letter case", "<?Php f(1);", {"1:f(/)"}},
      {"short tag", "<? f(1);", {"1:f(/)"}},
      {"closing tag ends the statement", "<?php f(1) ?>x<?php $b ?>", {"1:f(/)"}},
      {"xml declaration stays text", "<?xml version=\"1.0\"?>\n<?php f(1);", {"2:f(/)"}},
  };
  for (const TraceCase& c : cases) EXPECT_EQ(scan(c.script, QZ_OPT_EXTENDED_TAGS).calls, c.calls) << c.what;
}

TEST_F(Driver, OnlyLongStatementsAreEvaluated) {
  const struct {
    const char* script;
    unsigned long statements;
  } cases[] = {
      {"<?php $a++; $b = 1; echo $x; f();", 2},
      {"<?php ; ; ;", 0},
      {"<?php while ($x) {}", 0},      // "(", "$x", ";"
      {"<?php while (f($x)) {}", 1},   // the "(" counts
      {"<?php f(1); g(2)", 2},
      {"<?php $a = ';'; $b = 1;", 2},  // the quoted ; does not cut the first
  };
  for (const auto& c : cases) EXPECT_EQ(scan(c.script).statements, c.statements) << c.script;
}

TEST_F(Driver, InterruptStopsBeforeTheNextToken) {
  EXPECT_EQ(scan("<?php a(1); b(2);", 0, "a").calls, (Calls{"1:a(/)"}));
  EXPECT_EQ(scan("<?php while (g(1)) { h(2); }", 0, "g").calls, (Calls{"1:g(/)"}));
  // The statement that raised it is evaluated to its end (the integer 0
  // that b yields reads as an empty text).
  EXPECT_EQ(scan("<?php a(b(1)); c(2);", 0, "b").calls, (Calls{"1:b(/)", "1:a()"}));
}

TEST_F(Driver, NestedRunKeepsTheOuterStatement) {
  Recorder r = scan("<?php system($_GET['c'] . eval(\"$a = 1 + 1;\"));");
  ASSERT_EQ(r.calls.size(), 3u) << ::testing::PrintToString(r.calls);
  EXPECT_EQ(r.calls[0], "1:qz_array_item($_GET|c)");
  EXPECT_EQ(r.calls[1].rfind("1:eval(", 0), 0u);
  EXPECT_EQ(r.calls[2].rfind("1:system($_GET_DATA", 0), 0u);
  r = scan("<?php f(1, eval('g(2);'), 3);");
  EXPECT_EQ(r.calls, (Calls{"1:g(0)", "1:eval(g(2);)", "1:f(/||1)"}));
}

TEST_F(Driver, DeepNestingIsBounded) {
  const int depth = 100000;
  const std::string open(depth, '('), close(depth, ')');
  EXPECT_EQ(scan("<?php while (" + open + "1" + close + ") {} f(1);").calls, (Calls{"1:f(/)"}));
  std::string calls;
  for (int i = 0; i < depth; i++) calls += "f(";
  EXPECT_EQ(scan("<?php " + calls + "1" + close + "; g(1);").calls.back(), "1:g(/)");
  std::string runs;
  for (int i = 0; i < 2 * QZ_MAX_NESTED_RUNS; i++) runs += "while (";
  scan("<?php " + runs + "f(1)" + std::string(2 * QZ_MAX_NESTED_RUNS, ')') + "; g(1);");
}

// Scripts stitched from hostile fragments: every scan ends with the runtime
// emptied, and scanning the same text again reports exactly the same calls
// (no state of one scan leaks into the next).
TEST_F(Driver, HostileFragmentsScanTheSameEveryTime) {
  const char* fragments[] = {
      "<?php ", "?>", "<?= ", "<? ", "<?Php ", "<<<EOT\n", "<<<'X'\r\n", "EOT;", "X\n", "<<<\n", "'", "\"",
      "\\", "\\x", "\\x4", "(", ")", "[", "]", "{", "}", "${", "$", "$$a", ";", "/*", "*/", "//", "#", "\n",
      "\r", " ", "while", "while (", "eval(", "eval('f(1);')", "\xFF", "\x80\xE4", "<s", "<script language=php>",
      "=", ".=", "->", "++", "--", "function", "f(", "'abc'", "1", "99999999999999999999", "-", "&", "|",
      "=>", "array(", "extract(", "$_GET['a']", "$_FILES['f']['n']", "$f", "system", ",", "\0"};
  const size_t n = sizeof(fragments) / sizeof(fragments[0]);
  unsigned long seed = 12345;
  size_t reported = 0;
  for (int script = 0; script < 200; script++) {
    std::string text;
    for (int i = 0; i < 120; i++) {
      seed = seed * 6364136223846793005ul + 1442695040888963407ul;
      const char* f = fragments[(seed >> 33) % n];
      text += *f ? std::string(f) : std::string(1, '\0');
    }
    text = text.c_str();  // a buffer scan ends at the first NUL anyway
    unsigned long options = script % 2 ? static_cast<unsigned long>(QZ_OPT_EXTENDED_TAGS) : 0ul;
    Recorder first = scan(text, options);
    Recorder again = scan(text, options);
    EXPECT_EQ(first.calls, again.calls) << text;
    EXPECT_EQ(first.statements, again.statements) << text;
    reported += first.calls.size();
  }
  EXPECT_GT(reported, 100u);  // the mix does reach the evaluator
}

std::string output;
void on_output(char* text) { output += text; }

// The for-loop emulation is not reached by scans; it is driven here directly
// over a source positioned after the keyword.
TEST_F(Driver, ForLoopEmulationIsBounded) {
  const struct {
    const char* text;
    Calls calls;
  } cases[] = {
      {"($i = 0; $i < 3; $i++) { f($i); }", {"1:f()", "1:f(/)", "1:f(0)"}},
      {"(;1;) { f(1); }", Calls(QZ_FOR_LOOP_MAX, "1:f(/)")},
      {"(1) { f(1); }", {}},
      {"($i = 0; $i < 3; $i++) f(1);", {}},  // no braced body
  };
  qz_engine_set_output_handler(on_output);
  for (const auto& c : cases) {
    Recorder r;
    rec = &r;
    output.clear();
    php_startup();
    php_lex_state.in_php = 1;
    buf_file_handle src(c.text);
    EXPECT_EQ(php_parse_for(nullptr, &src), 0);
    php_shutdown();
    qz_engine_release_all_resource();
    EXPECT_EQ(r.calls, c.calls) << c.text;
    EXPECT_EQ(output, "for");
  }
  qz_engine_set_output_handler(nullptr);
}

TEST_F(Driver, FileScanEndsAtByteFF) {
  const std::string text = "<?php f(1);\n\xFFg(2);";
  char path[] = "/tmp/qz_driver_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  FILE* f = fdopen(fd, "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  Recorder r;
  rec = &r;
  qz_engine_scan_file(path);
  remove(path);
  EXPECT_EQ(r.calls, (Calls{"1:f(/)"}));
  EXPECT_EQ(scan(text).calls, (Calls{"1:f(/)"}));
  // Also where a group reader meets it: nothing after the 0xFF is read.
  EXPECT_EQ(scan("<?php while (f(1)\xFF g(2);").calls, Calls{});
  EXPECT_EQ(scan("<?php f(1)\xFF; g(2);").calls, (Calls{"1:f(/)"}));
  EXPECT_EQ(scan("<?php <<<EOT\nab\xFF\nEOT; g(2);").calls, Calls{});
}

}  // namespace
