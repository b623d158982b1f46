// Call reporting on hand-made argument stacks: the records the filter gets,
// names settled through variables, the fault path for names that cannot be
// settled, and argument lists that run out.

#include "php/php_call.h"
#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_variable.h"
#include "common/qz_host.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::int_tok;
using scan_record::lit_tok;
using scan_record::sym;

struct Filtered {
  unsigned long line, reserved, assign, count;
  std::string name;
  std::vector<std::string> args;
  bool args_null;
  bool value_in_buf; // an integer's text lives in its own record
};

std::vector<Filtered>& filtered() {
  static std::vector<Filtered> f;
  return f;
}

unsigned char capture(unsigned long line, unsigned long reserved, char* name, unsigned long assign,
                      _fcall_argument* args, unsigned long n) {
  Filtered f{line, reserved, assign, n, name, {}, args == nullptr, false};
  for (unsigned long i = 0; i < n; i++) {
    f.args.push_back(args[i].value);
    if (args[i].value == args[i].buf) f.value_in_buf = true;
  }
  filtered().push_back(f);
  return 1;
}

std::vector<std::string>& faults() {
  static std::vector<std::string> f;
  return f;
}

void on_fault(char* file, int line, char* message) {
  faults().push_back(std::string(file) + ":" + std::to_string(line) + ":" + message);
}

class Call : public scan_record::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    filtered().clear();
    faults().clear();
    qz_engine_set_fcall_filter(capture);
    qz_engine_set_exception_handler(on_fault);
  }
  void TearDown() override {
    qz_engine_set_fcall_filter(nullptr);
    qz_engine_set_exception_handler(nullptr);
    php_rt_state.call_depth = 0;
    RuntimeTest::TearDown();
  }

  static _qz_token* named(const std::string& name, unsigned long line = 4) {
    _qz_token* t = qz_token_alloc(TOKEN_CALL, TOKEN_NONE, line);
    t->name = sym(name);
    return t;
  }
  static _qz_token* splitter() { return qz_token_alloc(TOKEN_ARG_SPLITTER, TOKEN_ARG_SPLITTER, 0); }
  // A variable entry holding a string.
  static _qz_token* holding(const std::string& var, const char* text) {
    _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, 1);
    t->name = sym(var);
    t->value.ptr = text ? qz_string_alloc(text) : nullptr;
    t->value.assign_time = 3;
    return php_reference_globals(t);
  }
  static void args(const std::vector<_qz_token*>& on_stack) {
    for (_qz_token* t : on_stack) php_rt_state.arg_stk.push_back(t);
  }
};

const char kFault[] = "engine/qz_spec/qz_php:1160:function_name为NULL";

TEST_F(Call, RecordsInSourceOrder) {
  _qz_token* arr = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, 1);
  arr->name = sym("$arr");
  _qz_token* pair = qz_token_alloc(TOKEN_PAIR, TOKEN_PAIR, 1);
  args({splitter(), lit_tok("abc"), int_tok(100), int_tok(0), arr, pair});
  _qz_token* r = php_call_wrapper(named("nobuiltin", 9), nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->type, TOKEN_INTEGER);
  EXPECT_EQ(r->value.lval, 0);
  EXPECT_EQ(r->lineno, 9u);
  ASSERT_EQ(filtered().size(), 1u);
  const Filtered& f = filtered()[0];
  EXPECT_EQ(f.line, 9u);
  EXPECT_EQ(f.reserved, 0u);
  EXPECT_EQ(f.name, "nobuiltin");
  EXPECT_EQ(f.assign, 0u);
  EXPECT_EQ(f.count, 5u);
  EXPECT_EQ(f.args, (std::vector<std::string>{"abc", "Y/", "", "$arr", "qz_invalid_string"}));
  EXPECT_TRUE(f.value_in_buf);
  EXPECT_TRUE(php_rt_state.arg_stk.empty());
}

TEST_F(Call, UnsettledNamesAreFaultsAndKeepTheirArguments) {
  _qz_token* nameless = qz_token_alloc(TOKEN_CALL, TOKEN_NONE, 6);
  holding("$null", nullptr);
  holding("$empty", "");
  _qz_token* calls[] = {nameless, named("$null", 6), named("$empty", 6)};
  for (_qz_token* c : calls) {
    faults().clear();
    php_rt_state.arg_stk.clear();
    _qz_token* s = splitter();
    _qz_token* a = lit_tok("kept");
    args({s, a});
    _qz_token* r = php_call_wrapper(c, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->value.type, TOKEN_INTEGER);
    EXPECT_EQ(r->lineno, 6u);
    EXPECT_EQ(faults(), std::vector<std::string>{kFault});
    EXPECT_EQ(php_rt_state.arg_stk, (std::vector<_qz_token*>{s, a}));
  }
  EXPECT_TRUE(filtered().empty());
}

TEST_F(Call, ArgumentListsThatRunOut) {
  // No splitter under the arguments: nothing is run or reported.
  args({lit_tok("a"), lit_tok("b")});
  _qz_token* r = php_call_wrapper(named("strlen"), nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->value.lval, 0);
  EXPECT_TRUE(filtered().empty());
  EXPECT_TRUE(php_rt_state.arg_stk.empty());

  // An empty entry on top: a call without arguments; what is below stays.
  _qz_token* s = splitter();
  args({s, nullptr});
  php_call_wrapper(named("g"), nullptr);
  ASSERT_EQ(filtered().size(), 1u);
  EXPECT_EQ(filtered()[0].count, 0u);
  EXPECT_EQ(php_rt_state.arg_stk, std::vector<_qz_token*>{s});

  // An empty entry after an argument ends the collection.
  php_rt_state.arg_stk.clear();
  filtered().clear();
  args({splitter(), nullptr, lit_tok("x")});
  php_call_wrapper(named("h"), nullptr);
  EXPECT_TRUE(filtered().empty());
}

}  // namespace
