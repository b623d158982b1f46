// The script driver: the interrupt, the bounded for-loop emulation, and
// scans that leave nothing of themselves to the next one.

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

// Scripts stitched from hostile fragments: scanning the same text again
// reports exactly the same (no state of one scan leaks into the next).
TEST_F(Driver, HostileFragmentsScanTheSameEveryTime) {
  // clang-format off
  const char* fragments[] = {
      "<?php ", "?>", "<?= ", "<? ", "<?Php ", "<<<EOT\n", "<<<'X'\r\n", "EOT;", "X\n", "<<<\n", "'", "\"",
      "\\", "\\x", "\\x4", "(", ")", "[", "]", "{", "}", "${", "$", "$$a", ";", "/*", "*/", "//", "#", "\n",
      "\r", " ", "while", "while (", "eval(", "eval('f(1);')", "\xFF", "\x80\xE4", "<s", "<script language=php>",
      "=", ".=", "->", "++", "--", "function", "f(", "'abc'", "1", "99999999999999999999", "-", "&", "|",
      "=>", "array(", "extract(", "$_GET['a']", "$_FILES['f']['n']", "$f", "system", ","};
  // clang-format on
  const size_t n = sizeof(fragments) / sizeof(fragments[0]);
  unsigned long seed = 12345;
  size_t reported = 0;
  for (int script = 0; script < 200; script++) {
    std::string text;
    for (int i = 0; i < 120; i++) {
      seed = seed * 6364136223846793005ul + 1442695040888963407ul;
      text += fragments[(seed >> 33) % n];
    }
    unsigned long options = script % 2 ? static_cast<unsigned long>(QZ_OPT_EXTENDED_TAGS) : 0ul;
    Seen first = scan(text, options), again = scan(text, options);
    EXPECT_EQ(first.events, again.events) << text;
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
