// The evaluator on a hand-built statement chain: tokens are released once
// when a statement is abandoned.

#include "common/qz_host.h"
#include "php/php_driver.h"
#include "php/php_eval.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using Eval = scan_record::RuntimeTest;

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

}  // namespace
