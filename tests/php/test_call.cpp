// Call reporting on hand-made argument stacks: argument lists that run out
// end the call without reading past the stack.

#include "php/php_call.h"
#include "php/php_driver.h"
#include "php/php_eval.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::int_tok;
using scan_record::lit_tok;
using scan_record::Seen;
using scan_record::sym;
typedef std::vector<std::string> Calls;
typedef std::vector<_qz_token*> Stack;

class Call : public scan_record::RuntimeTest {
 protected:
  static _qz_token* named(const std::string& name) {
    _qz_token* t = qz_token_alloc(TOKEN_CALL, TOKEN_NONE, 6);
    t->name = sym(name);
    return t;
  }
  static _qz_token* splitter() { return qz_token_alloc(TOKEN_ARG_SPLITTER, TOKEN_ARG_SPLITTER, 0); }
  // Makes the call on the given argument stack; returns what the host saw.
  static Seen call(_qz_token* fn, const Stack& stack) {
    php_rt_state.arg_stk = stack;
    return scan_record::record([&] { php_call_wrapper(fn, nullptr); });
  }
};

TEST_F(Call, ArgumentListsThatRunOut) {
  _qz_token* s = splitter();
  const struct {
    const char* what;
    Stack stack;
    Calls reported;
    Stack left;
  } rows[] = {
      // clang-format off
      {"arguments above a splitter, in source order", {splitter(), lit_tok("a"), int_tok(100)}, {"f(a|Y/)"}, {}},
      {"no splitter under the arguments: nothing is run or reported", {lit_tok("a"), lit_tok("b")}, {}, {}},
      {"an empty entry on top: no arguments, what is below stays", {s, nullptr}, {"f()"}, {s}},
      // clang-format on
  };
  for (const auto& row : rows) {
    EXPECT_EQ(call(named("f"), row.stack).calls, row.reported) << row.what;
    EXPECT_EQ(php_rt_state.arg_stk, row.left) << row.what;
  }
  // An empty entry after an argument ends the collection.
  EXPECT_EQ(call(named("strlen"), {splitter(), nullptr, lit_tok("x")}).calls, Calls{});
}

}  // namespace
