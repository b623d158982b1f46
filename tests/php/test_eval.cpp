// The evaluator on hand-built statement chains: values, stacks, arithmetic
// that never traps, nesting bounds and the save/restore around nested runs.

#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <climits>
#include <string>
#include <vector>

namespace {

class Eval : public scan_record::RuntimeTest {
 protected:
  // One chain token from a short form: "#12" integer, "'txt" literal,
  // "@name" call, "(" ")" "[" "]" "{" "}" "," ";" separators, an operator
  // text, anything else a word.
  static _qz_token* tok(const std::string& s) {
    _qz_token* t = qz_token_alloc(1);
    static const std::vector<std::string> seps = {"(", ")", "[", "]", "{", "}", ",", ";"};
    static const std::vector<std::string> ops = {"+", "-", "*", "/", ".", "=", ".=", "==", "!=",
                                                 "<", ">", ">=", "<=", "++", "--", "+=", "**", "=>"};
    std::string text = s;
    if (s[0] == '#') {
      text = s.substr(1);
      t->type = TOKEN_INTEGER;
      t->value.type = TOKEN_INTEGER;
      t->value.lval = std::stol(text);
    } else if (s[0] == '\'') {
      text = s.substr(1);
      t->type = TOKEN_LITERAL;
      t->value.type = TOKEN_LITERAL;
    } else if (s[0] == '@') {
      text = s.substr(1);
      t->type = TOKEN_CALL;
    } else if (std::find(seps.begin(), seps.end(), s) != seps.end()) {
      t->type = TOKEN_SEPARATOR;
    } else if (std::find(ops.begin(), ops.end(), s) != ops.end()) {
      t->type = TOKEN_OPERATOR;
    } else {
      t->type = TOKEN_WORD;
    }
    t->name = qz_engine_insert_sym(&text[0]);
    if (t->type == TOKEN_LITERAL) t->value.ptr = t->name;
    return t;
  }

  static _qz_token* chain(const std::vector<std::string>& parts) {
    _qz_token* head = nullptr;
    _qz_token* tail = nullptr;
    for (const auto& p : parts) {
      _qz_token* t = tok(p);
      if (!head) {
        head = t;
      } else {
        tail->next = t;
        t->prev = tail;
      }
      tail = t;
    }
    return head;
  }

  static bool stacks_empty() {
    return php_rt_state.arg_stk.empty() && php_rt_state.data_stk.empty() &&
           php_rt_state.op_stk.empty();
  }

  // Evaluates parts and renders the statement's value: "I<n>", "S<text>",
  // "L<text>", "-" for none.
  static std::string value_of(const std::vector<std::string>& parts) {
    _qz_token* r = php_eval_expr(chain(parts), nullptr);
    std::string out = "-";
    if (r) {
      if (r->value.type == TOKEN_INTEGER) out = "I" + std::to_string(r->value.lval);
      if (r->value.type == TOKEN_STRING)
        out = "S" + std::string(static_cast<_qz_string*>(r->value.ptr)->text);
      if (r->value.type == TOKEN_LITERAL) out = "L" + std::string(static_cast<char*>(r->value.ptr));
      qz_token_free(r);
    }
    return out;
  }
};

TEST_F(Eval, StatementValues) {
  struct Row {
    std::vector<std::string> chain;
    std::string value;
  } rows[] = {
      {{"#2", "!=", "#2", ";"}, "I0"},
      {{"(", "#1", "+", "#2", ")", "*", "#3", ";"}, "I9"},
      {{"#1", "+", ";"}, "I1"},
      {{"$a", "+=", "#1", ";"}, "I1"},
      {{"@else", "#4", ";"}, "I4"},
      {{"$v", "=", "#5", ";", "#9"}, "I5"},
      {{}, "-"},
  };
  for (const auto& row : rows) {
    std::string text;
    for (const auto& p : row.chain) text += p + " ";
    SCOPED_TRACE(text);
    EXPECT_EQ(value_of(row.chain), row.value);
    EXPECT_TRUE(stacks_empty());
    EXPECT_EQ(php_rt_state.call_depth, 0u);
  }
}

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
      {php_max_long, -1, 1, 1},
      {php_min_long, -1, 1, -1},
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

TEST_F(Eval, SaveAndRestoreKeepTheOuterStatement) {
  php_rt_state.data_stk.push_back(qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, 1));
  php_rt_state.call_depth = 2;
  php_rt_state.cur_stk = &php_rt_state.arg_stk;
  qz_push_arg_splitter();
  _qz_token* outer_arg = php_rt_state.arg_stk.back();

  php_rt_saved saved;
  php_rt_save(&saved);
  EXPECT_TRUE(stacks_empty());
  EXPECT_EQ(php_rt_state.call_depth, 0u);
  EXPECT_EQ(php_rt_state.cur_stk, &php_rt_state.data_stk);
  EXPECT_EQ(value_of({"#2", "*", "#4", ";"}), "I8");
  php_rt_state.op_stk.push_back(tok("+")); // left behind by the inner run
  php_rt_restore(&saved);

  EXPECT_EQ(php_rt_state.call_depth, 2u);
  EXPECT_EQ(php_rt_state.cur_stk, &php_rt_state.arg_stk);
  ASSERT_EQ(php_rt_state.arg_stk.size(), 1u);
  EXPECT_EQ(php_rt_state.arg_stk.back(), outer_arg);
  EXPECT_EQ(outer_arg->type, TOKEN_ARG_SPLITTER);
  EXPECT_EQ(php_rt_state.data_stk.size(), 1u);
  EXPECT_TRUE(php_rt_state.op_stk.empty());
  php_rt_state.call_depth = 0;
  php_clear_rt_stk();
}

}  // namespace
