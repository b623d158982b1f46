// The evaluator on hand-built statement chains: arithmetic that never traps,
// tokens released once when a statement is abandoned, and the bound on
// variable-variable names.

#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_variable.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Eval : public scan_record::RuntimeTest {
 protected:
  // One chain token from a short form: "#12" integer, "'txt" literal, a
  // one-character bracket or ";" separator, text starting with an operator
  // character an operator, anything else a word.
  static _qz_token* tok(const std::string& s) {
    _qz_token* t = qz_token_alloc(1);
    const char c = s[0];
    std::string text = std::strchr("#'", c) ? s.substr(1) : s;
    if (c == '#') {
      t->type = t->value.type = TOKEN_INTEGER;
      t->value.lval = std::stol(text);
    } else if (c == '\'') {
      t->type = t->value.type = TOKEN_LITERAL;
    } else {
      t->type = s.size() == 1 && std::strchr("[];", c) ? TOKEN_SEPARATOR
                : std::strchr("+-*=", c)                ? TOKEN_OPERATOR
                                                        : TOKEN_WORD;
    }
    t->name = qz_engine_insert_sym(&text[0]);
    if (t->type == TOKEN_LITERAL) t->value.ptr = t->name;
    return t;
  }

  static _qz_token* chain(const std::vector<std::string>& parts) {
    std::vector<_qz_token*> tokens;
    for (const auto& p : parts) tokens.push_back(tok(p));
    return scan_record::linked(tokens);
  }

  static bool stacks_empty() {
    return php_rt_state.arg_stk.empty() && php_rt_state.data_stk.empty() &&
           php_rt_state.op_stk.empty();
  }

  // Evaluates parts; the statement's value as "I<n>" for an integer, "-" otherwise.
  static std::string value_of(const std::vector<std::string>& parts) {
    _qz_token* r = php_eval_expr(chain(parts), nullptr);
    std::string out = r && r->value.type == TOKEN_INTEGER ? "I" + std::to_string(r->value.lval) : "-";
    qz_token_free(r);
    return out;
  }
};

TEST_F(Eval, IntegerArithmeticWrapsAndNeverTraps) {
  struct Row {
    long (*op)(long, long);
    long a, b, want;
  } rows[] = {
      {php_add_long, LONG_MAX, 1, LONG_MIN},
      {php_sub_long, LONG_MIN, 1, LONG_MAX},
      {php_mul_long, LONG_MAX, 2, -2},
      {php_mul_long, 1L << 32, 1L << 32, 0},
      {php_div_long, LONG_MIN, -1, LONG_MIN},
      {php_div_long, 7, -2, -3},
      {php_div_long, -7, 2, -3},
      {php_div_long, 9, 0, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(r.op(r.a, r.b), r.want) << r.a << " " << r.b;
}

TEST_F(Eval, IncrementWrapsAtTheTop) {
  value_of({"$i", "=", "#" + std::to_string(LONG_MAX), ";"});
  value_of({"$i", "++", "+", "#0", ";"});
  _qz_token* i = php_lookup_global_variable(const_cast<char*>("$i"));
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->value.lval, LONG_MIN);
}

TEST_F(Eval, AbortLeavesChainTokensToTheirOwner) {
  // "**" is no operator of the table: the statement is abandoned with "+"
  // and an array access still pending on the operator stack.
  _qz_token* c = chain({"$a", "[", "#1", "+", "#2", "**", "#3", ";"});
  _qz_token* plus = c->next->next->next;
  unsigned long before = qz_engine_memory_pool_for_token.count;
  qz_token_free(php_eval_expr(c, nullptr));
  EXPECT_TRUE(stacks_empty());
  EXPECT_EQ(plus->name, qz_engine_add_handle);
  EXPECT_EQ(plus->type, TOKEN_OPERATOR);
  // Seven tokens were made (two clones of $a, the splitter, the marker and
  // its "(", the two values); all but the consumed first clone of $a went
  // back to the pool with the stacks.
  EXPECT_EQ(qz_engine_memory_pool_for_token.count, before + 1);
}

TEST_F(Eval, VariableVariableNameIsCut) {
  std::string long_text(200, 'q');
  std::string stmt_text = long_text;
  value_of({"$n", "=", "'" + stmt_text, ";"});
  std::string target = "$" + std::string(QZ_VARVAR_NAME_MAX, 'q');
  _qz_token* named = qz_token_alloc(TOKEN_WORD, TOKEN_INTEGER, 1);
  named->name = qz_engine_insert_sym(&target[0]);
  named->value.lval = 42;
  php_reference_globals(named);
  EXPECT_EQ(value_of({"$z", "=", "$$n", ";"}), "I42");
}

}  // namespace
