// The script driver: the interrupt, the bounded for-loop emulation and the
// copies that body walks read.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_eval.h"
#include "php/php_lex.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::Seen;
using Driver = scan_record::EngineTest;
typedef std::vector<std::string> Calls;

// Scans script; every scan must leave the runtime empty behind it.
Seen scan(const std::string& script, unsigned long options = 0, const std::string& stop = "") {
  Seen r = scan_record::run(script, options, stop);
  EXPECT_EQ(php_run_depth(), 0u);
  EXPECT_TRUE(php_rt_state.arg_stk.empty() && php_rt_state.data_stk.empty() &&
              php_rt_state.op_stk.empty());
  return r;
}

TEST_F(Driver, InterruptStopsBeforeTheNextToken) {
  EXPECT_EQ(scan("<?php while (g(1)) { h(2); }", 0, "g").events, (Calls{"1:g:0(/)"}));
  // The statement that raised it is evaluated to its end (the integer 0
  // that b yields reads as an empty text).
  EXPECT_EQ(scan("<?php a(b(1)); c(2);", 0, "b").events, (Calls{"1:b:0(/)", "1:a:0()"}));
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
      {"($i = 0; $i < 3; $i++) { f($i); }", {"1:f:0()", "1:f:0(/)", "1:f:0(0)"}},
      {"(;1;) { f(1); }", Calls(QZ_FOR_LOOP_MAX, "1:f:0(/)")},
      {"(1) { f(1); }", {}},
      {"($i = 0; $i < 3; $i++) f(1);", {}},  // no braced body
  };
  qz_engine_set_output_handler(on_output);
  for (const auto& c : cases) {
    output.clear();
    Seen r = scan_record::record([&] {
      php_startup();
      qz_engine_interupt_debug = 0;  // as a scan would, for a test that interrupted before
      php_lex_state.in_php = 1;
      buf_file_handle src(c.text);
      EXPECT_EQ(php_parse_for(nullptr, &src), 0);
      php_shutdown();
      qz_engine_release_all_resource();
    });
    EXPECT_EQ(r.events, c.calls) << c.text;
    EXPECT_EQ(output, "for");
  }
  qz_engine_set_output_handler(nullptr);
}

}  // namespace

// A walk of a function or loop body reads copies of the body's tokens that
// live only for the walk; what the walk computes must not depend on where
// the copies were kept: in nested walks, in a text grown in place, past the
// copies a scan keeps apart, when a body is walked again.
TEST_F(Driver, BodyWalksComputeFromTheirOwnCopies) {
  std::string long_body;
  const unsigned long statements = QZ_DRIVER_SCRATCH_BLOCK * QZ_DRIVER_SCRATCH_BLOCKS / 4 + 100;
  for (unsigned long i = 0; i < statements; i++) long_body += "$x = 'q';";
  const struct {
    const char* what;
    std::string script;
    Calls calls;
  } cases[] = {
      {"nested walks",
       "<?php function a($x) { return b($x . '1'); } function b($y) { return c($y . '2'); } "
       "function c($z) { return $z . '3'; } g(a('0'));",
       {"1:c:0(012)", "1:b:0(01)", "1:a:0(0)", "1:g:0(0123)"}},
      {"a text grown in a loop of a body",
       "<?php function f() { $s = 'a'; for ($i = 0; $i < 4; $i++) { $s .= 'b'; } g($s); } f(); "
       "f();",
       {"1:g:0(abbbb)", "1:f:0()", "1:f:0()"}},
      {"a body longer than the copies kept apart",
       "<?php function f() { " + long_body + " g($x . 'z'); } f();",
       {"1:g:0(qz)", "1:f:0()"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(scan(c.script, QZ_OPT_INTERPRETER_REACH).events, c.calls) << c.what;
}
