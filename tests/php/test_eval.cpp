// The evaluator on a hand-built statement chain: tokens are released once
// when a statement is abandoned; and collection during whole scans.

#include "common/qz_host.h"
#include "php/php_driver.h"
#include "php/php_eval.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Eval = scan_record::RuntimeTest;
using Scans = scan_record::EngineTest;

// One chain token: "#12" an integer, "[", "]" or ";" a separator, text
// starting with an operator character an operator, anything else a word.
_qz_token* tok(const std::string& s) {
  _qz_token* t = qz_token_alloc(1);
  std::string text = s[0] == '#' ? s.substr(1) : s;
  if (s[0] == '#') {
    t->type = t->value.type = TOKEN_INTEGER;
    t->value.lval = std::stol(text);
  } else {
    t->type = s.size() == 1 && std::strchr("[];", s[0]) ? TOKEN_SEPARATOR
              : std::strchr("+-*=", s[0])               ? TOKEN_OPERATOR
                                                        : TOKEN_WORD;
  }
  t->name = qz_engine_insert_sym(&text[0]);
  return t;
}

TEST_F(Eval, AbortLeavesChainTokensToTheirOwner) {
  // "**" is no operator of the table: the statement is abandoned with "+"
  // and an array access still pending on the operator stack.
  std::vector<_qz_token*> tokens;
  for (const char* p : {"$a", "[", "#1", "+", "#2", "**", "#3", ";"}) tokens.push_back(tok(p));
  _qz_token* c = scan_record::linked(tokens);
  unsigned long before = qz_engine_memory_pool_for_token.count;
  qz_token_free(php_eval_expr(c, nullptr));
  EXPECT_TRUE(php_rt_state.arg_stk.empty() && php_rt_state.data_stk.empty() &&
              php_rt_state.op_stk.empty());
  EXPECT_EQ(tokens[3]->name, qz_engine_add_handle);
  EXPECT_EQ(tokens[3]->type, TOKEN_OPERATOR);
  // Seven tokens were made (two clones of $a, the splitter, the marker and
  // its "(", the two values); all but the consumed first clone of $a went
  // back to the pool with the stacks.
  EXPECT_EQ(qz_engine_memory_pool_for_token.count, before + 1);
}

// Under the memory bounds, what top-level code no longer holds is given back
// during the scan. Whatever the script still holds survives every
// collection (variables, array items, pieces of an exploded text, the
// operands of the statement being walked, a text waiting to be evaluated),
// so a host sees the same calls as without the bounds, while the tokens in
// use stay a fraction of what the script made.
unsigned long most_tokens_in_use = 0;

TEST_F(Scans, CollectionsKeepWhatTheScriptStillHolds) {
  // About 2 KB of tokens and strings made per statement and then dropped:
  // some 25 MB in all, several collections' worth.
  const std::string filler =
      scan_record::repeat("$g = 'abcdefghijklmnop' . 'qrstuvwxyz' . $g2;\n", 12000);
  std::string many_terms = "$x = 'x'";  // one statement making 12 MB of partial results
  for (int i = 0; i < 5000; i++) many_terms += " . 'x'";
  const struct {
    std::string script;
    bool between_statements;  // collections fall between statements, where tokens are counted
  } rows[] = {
      {"<?php $s = 'sys'; $s .= 'tem'; $k = 'c';\n" + filler + "$s($_GET[$k]);", true},
      {"<?php $p = explode(',', 'pass,thru');\n" + filler + "$f = $p[0] . $p[1]; $f('ls');", true},
      {"<?php $a = array('k' => base64_decode('ZXhlYw==')); $code = 'f' . 'oo(1);';\n" + filler +
           "$a['k']('id'); eval($code);",
       true},
      {"<?php " + many_terms + ";\n g($x, 1);", false},
  };
  qz_engine_set_performace_filter([](unsigned long, unsigned long used, unsigned long,
                                     unsigned long, unsigned long, unsigned long, unsigned long) {
    most_tokens_in_use = std::max(most_tokens_in_use, used);
  });
  for (const auto& row : rows) {
    const std::string& script = row.script;
    SCOPED_TRACE(script.substr(0, 60));
    most_tokens_in_use = 0;
    scan_record::Seen kept_all = scan_record::run(script);
    unsigned long tokens_kept_all = most_tokens_in_use;
    most_tokens_in_use = 0;
    scan_record::Seen bounded = scan_record::run(script, QZ_OPT_MEMORY_BUDGET);
    EXPECT_EQ(qz_engine_scan_status(), 0u);
    EXPECT_EQ(bounded.events, kept_all.events);
    EXPECT_FALSE(kept_all.calls.empty());
    if (row.between_statements) {
      EXPECT_LT(most_tokens_in_use * 2, tokens_kept_all);
    }
  }
  qz_engine_set_performace_filter(nullptr);
}

// An array literal copies its items into the array: the tokens the items
// were evaluated into are given back at once, with or without keys, so what
// the next statement finds in use does not grow with the literal's length.
unsigned long tokens_in_use_last = 0;

TEST_F(Scans, ArrayLiteralsLeaveNoTokenPerItem) {
  // Reported as each statement's evaluation begins: the last report is the
  // second statement's.
  qz_engine_set_performace_filter([](unsigned long, unsigned long used, unsigned long,
                                     unsigned long, unsigned long, unsigned long,
                                     unsigned long) { tokens_in_use_last = used; });
  for (const char* item : {"7, ", "'k' => 'v', ", "7 => array(8), "}) {
    SCOPED_TRACE(item);
    unsigned long in_use[2] = {0, 0};
    const unsigned long lengths[2] = {10, 2000};
    for (int i = 0; i < 2; i++) {
      tokens_in_use_last = 0;
      std::string script =
          "<?php $a = array(" + scan_record::repeat(item, lengths[i]) + "1);\ng(count($a));";
      scan_record::Seen seen = scan_record::run(script, QZ_OPT_INTERPRETER_REACH);
      EXPECT_FALSE(seen.calls.empty());
      in_use[i] = tokens_in_use_last;
    }
    EXPECT_GT(in_use[0], 0u);
    EXPECT_LT(in_use[1], in_use[0] + 50);
  }
  qz_engine_set_performace_filter(nullptr);
}

}  // namespace
