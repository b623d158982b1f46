/*
 * The expression evaluator: one statement chain at a time is reduced, left to
 * right, with an operator stack and two value stacks (statement level and the
 * open argument lists). Values are tracked loosely; what matters is that every
 * call, array access (qz_array_item) and dynamic variable access (qz_var_var)
 * reaches php_call_wrapper with its arguments on the argument stack.
 *
 * Everything here is iterative: nesting costs stack-vector entries, never
 * native stack, and the number of open argument lists of one statement is
 * bounded by QZ_MAX_CALL_DEPTH (a statement nested deeper is dropped).
 *
 * Ownership. The value stacks hold only tokens made here (clones, splitters,
 * the zero index of "$a[]"). The operator stack holds tokens of the statement
 * chain (owned by the driver) beside tokens made here: array-access markers
 * with their "(" and call results that are called again. The latter are
 * tagged by pointing their `prev` at eval_made_mark, which no list token can
 * point at, so php_clear_rt_stk releases exactly them and leaves chain tokens
 * and variable entries alone. Tokens that operators and calls consume are not
 * released one by one; the token pool is reset after each scan. The
 * exceptions are array literals, which can be long: the operands of "=>"
 * and the arguments of "array(...)" are released as soon as the bucket or
 * the array holds copies of their values.
 */

#include "php/php_eval.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "php/php_lex.h"
#include "php/php_operator.h"
#include "php/php_reclaim.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_symtable.h"

#include <strings.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

php_rt_state_t php_rt_state;

/* php_eval_expr calls active now: a built-in that evaluates on its own
 * makes it 2, and collection waits. */
static unsigned long eval_active = 0;

unsigned long php_eval_nesting() { return eval_active; }

/* Tag target for operator-stack tokens made by the evaluator (see above). */
static _qz_token eval_made_mark;

static void eval_mark_made(_qz_token* tk) { tk->prev = &eval_made_mark; }
static bool eval_is_made(const _qz_token* tk) { return tk->prev == &eval_made_mark; }

static void eval_set_depth(unsigned long depth) {
  php_rt_state.call_depth = depth;
  php_rt_state.cur_stk = depth ? &php_rt_state.arg_stk : &php_rt_state.data_stk;
}

static php_rt_stack& eval_values() {
  return php_rt_state.call_depth ? php_rt_state.arg_stk : php_rt_state.data_stk;
}

static _qz_token* eval_pop(php_rt_stack& s) {
  if (s.empty()) return nullptr;
  _qz_token* t = s.back();
  s.pop_back();
  return t;
}

/* Pushes a clone of tk on the current value stack; a null tk pushes an empty
 * entry (the clone operation reports the null source). */
static void eval_push_value(_qz_token* tk) { eval_values().push_back(qz_token_clone(tk)); }

/* The result of the "." just applied, not yet pushed, or null. It is a
 * token of its own that nothing else holds, so eval_push_result puts it on
 * the value stack as it is, and the next "." that pops it as its left
 * operand may grow its text in place and hand it back as its own result: a
 * chain "a . b . c ..." then costs time in proportion to the text it makes
 * rather than to the square of it. */
static _qz_token* eval_cat_fresh = nullptr;
/* That token once pushed, until a "." pops it (or the stacks are cleared). */
static _qz_token* eval_cat_pushed = nullptr;

/* The pair the "=>" just applied made, not yet pushed, or null: a token of
 * its own that nothing else holds, pushed as it is. */
static _qz_token* eval_pair_fresh = nullptr;

/* Pushes the result r of an operator just applied (null: nothing): the
 * result of a "." or a "=>" as it is, any other as a clone. */
static void eval_push_result(_qz_token* r) {
  if (!r) return;
  if (r == eval_pair_fresh) {
    eval_pair_fresh = nullptr;
    eval_values().push_back(r);
    return;
  }
  if (r == eval_cat_fresh) {
    eval_cat_fresh = nullptr;
    eval_values().push_back(r);
    eval_cat_pushed = r;
    return;
  }
  eval_push_value(r);
}

/* A WORD operand stands for its variable entry; anything else for itself. */
static _qz_token* eval_resolve(_qz_token* tk) {
  if (tk && tk->type == TOKEN_WORD) return php_reference_globals(tk);
  return tk;
}

/* Extended reading: "^", "|" and "&" between two values are bitwise
 * operators, binding as PHP binds them. */
static bool eval_is_bitwise(const char* name) {
  return name && (qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
         (qz_ascii_is(name, "^") || qz_ascii_is(name, "|") || qz_ascii_is(name, "&"));
}

/* Extended reading: "%" between two values is the remainder, binding as
 * "*" and "/" do. */
static bool eval_is_modulo(const char* name) {
  return name && (qz_engine_options & QZ_OPT_INTERPRETER_REACH) && qz_ascii_is(name, "%");
}

/* Extended reading: the operators a ternary leaves pending, "C ? A : B"
 * (its condition already read and dropped) and "A ?? B" / "A ?: B"; they
 * bind more loosely than any other, so the branches are whole. */
static const char EVAL_CHOICE_NAME[] = "?:";
static const char EVAL_COALESCE_NAME[] = "??";
static const int EVAL_CHOICE_PRIORITY = 1;

static bool eval_is_choice(const char* name) {
  return name && name[0] == '?' &&
         (std::strcmp(name, EVAL_CHOICE_NAME) == 0 || std::strcmp(name, EVAL_COALESCE_NAME) == 0);
}

/* Priority of an operator text; false when the text is not an operator. */
static bool eval_priority(const char* name, int* prio) {
  if (!name) return false;
  if (eval_is_choice(name)) {
    *prio = EVAL_CHOICE_PRIORITY;
    return true;
  }
  if (eval_is_modulo(name)) {
    *prio = PHP_PRECEDENCE_MODULO;
    return true;
  }
  if (eval_is_bitwise(name) && name[0] != '|') {
    *prio = name[0] == '^' ? PHP_PRECEDENCE_XOR : PHP_PRECEDENCE_AND;
    return true;
  }
  const php_operator* op = php_lookup_operator(const_cast<char*>(name));
  if (!op) return false;
  /* The extended reading binds as PHP does; the plain one keeps its own
   * ranks, which put "." level with "+" and the comparisons. */
  *prio = (qz_engine_options & QZ_OPT_INTERPRETER_REACH) ? op->php_precedence : op->precedence;
  return true;
}

void qz_push_arg_splitter() {
  _qz_token* s = qz_token_alloc(TOKEN_ARG_SPLITTER, TOKEN_ARG_SPLITTER, 0);
  eval_values().push_back(s);
}

_qz_token* qz_pop_rt_arg() { return eval_pop(php_rt_state.arg_stk); }
_qz_token* qz_pop_rt_data() { return eval_pop(eval_values()); }
_qz_token* qz_pop_rt_data_ever() { return eval_pop(php_rt_state.data_stk); }
_qz_token* qz_pop_rt_op() { return eval_pop(php_rt_state.op_stk); }

/* Releases one token made by the evaluator, never a list behind it. */
static void eval_release(_qz_token* tk) {
  if (!tk) return;
  tk->next = nullptr;
  tk->prev = nullptr;
  qz_token_free(tk);
}

void php_clear_rt_stk() {
  php_rt_state_t& st = php_rt_state;
  eval_cat_fresh = nullptr;
  eval_cat_pushed = nullptr;
  eval_pair_fresh = nullptr;
  while (!st.data_stk.empty()) eval_release(eval_pop(st.data_stk));
  while (!st.op_stk.empty()) {
    _qz_token* t = eval_pop(st.op_stk);
    if (t && eval_is_made(t)) eval_release(t);
  }
  while (!st.arg_stk.empty()) eval_release(eval_pop(st.arg_stk));
}

void php_eval_release(_qz_token* list) {
  if (!list) return;
  /* A "." result among them is no operand a later "." may grow. Only the
   * list's distinct tokens are looked at, as qz_token_free releases them. */
  unsigned long n = eval_cat_pushed ? qz_token_length(list) : 0;
  _qz_token* t = list;
  for (unsigned long i = 0; i < n && t; i++, t = t->next)
    if (t == eval_cat_pushed) eval_cat_pushed = nullptr;
  qz_token_free(list);
}

void php_rt_save(php_rt_saved* saved) {
  php_rt_state_t& st = php_rt_state;
  saved->arg_stk.clear();
  saved->data_stk.clear();
  saved->op_stk.clear();
  saved->arg_stk.swap(st.arg_stk);
  saved->data_stk.swap(st.data_stk);
  saved->op_stk.swap(st.op_stk);
  saved->cur_is_arg = st.cur_stk == &st.arg_stk;
  saved->call_depth = st.call_depth;
  eval_set_depth(0);
}

void php_rt_restore(php_rt_saved* saved) {
  php_rt_state_t& st = php_rt_state;
  php_clear_rt_stk();
  st.arg_stk.swap(saved->arg_stk);
  st.data_stk.swap(saved->data_stk);
  st.op_stk.swap(saved->op_stk);
  st.call_depth = saved->call_depth;
  st.cur_stk = saved->cur_is_arg ? &st.arg_stk : &st.data_stk;
}

/* ---- integer arithmetic: 64-bit two's complement, never trapping ---- */

long php_add_long(long a, long b) {
  return static_cast<long>(static_cast<unsigned long>(a) + static_cast<unsigned long>(b));
}

long php_sub_long(long a, long b) {
  return static_cast<long>(static_cast<unsigned long>(a) - static_cast<unsigned long>(b));
}

long php_mul_long(long a, long b) {
  return static_cast<long>(static_cast<unsigned long>(a) * static_cast<unsigned long>(b));
}

/* Truncates toward zero; a zero divisor gives 0, and the one quotient that
 * does not fit (the most negative value by -1) wraps to the most negative
 * value, as negating it does. */
long php_div_long(long a, long b) {
  if (b == 0) return 0;
  if (b == -1) return php_sub_long(0, a);
  return a / b;
}

long php_max_long(long a, long b) { return a > b ? a : b; }
long php_min_long(long a, long b) { return a < b ? a : b; }

/* ---- operators ---- */

/* Pops the right operand, then the left one, and resolves both to their
 * variable entries. False, with err set, when either is missing. */
static bool eval_pop_operands(unsigned char* err, _qz_token** left, _qz_token** right) {
  _qz_token* r = qz_pop_rt_data();
  _qz_token* l = qz_pop_rt_data();
  if (r && l) {
    r = eval_resolve(r);
    l = eval_resolve(l);
  }
  if (!r || !l) {
    *err = 1;
    return false;
  }
  *left = l;
  *right = r;
  return true;
}

_qz_token* php_eval_math_operator(_qz_token* op, unsigned char* err) {
  if (eval_values().size() < 2) {
    *err = 1;
    return nullptr;
  }
  _qz_token *l, *r;
  if (!eval_pop_operands(err, &l, &r)) return nullptr;
  _qz_token* res = qz_token_alloc(op->lineno);
  if (!res) return nullptr;
  res->type = TOKEN_INTEGER;
  res->value.type = TOKEN_INTEGER;
  const long lv = l->value.lval, rv = r->value.lval;
  const unsigned long lu = static_cast<unsigned long>(lv), ru = static_cast<unsigned long>(rv);
  const char* n = op->name;
  long out = 0;
  if (n == qz_engine_add_handle) {
    out = php_add_long(lv, rv);
  } else if (n == qz_engine_sub_handle) {
    out = php_sub_long(lv, rv);
  } else if (n == qz_engine_mul_handle) {
    out = php_mul_long(lv, rv);
  } else if (n == qz_engine_div_handle) {
    out = php_div_long(lv, rv);
  } else if (n == qz_engine_bigger_handle) {
    out = lu > ru;
  } else if (n == qz_engine_smaller_handle) {
    out = lu < ru;
  } else if (n == qz_engine_ebigger_handle) {
    out = lu >= ru;
  } else if (n == qz_engine_esmaller_handle) {
    out = lu <= ru;
  } else if (n == qz_engine_equal_handle) {
    if (r->value.type == TOKEN_LITERAL) {
      const char* rt = static_cast<const char*>(r->value.ptr);
      const char* lt = nullptr;
      if (l->value.type == TOKEN_LITERAL || (l->value.type == TOKEN_STRING && l->value.ptr))
        lt = php_value_text(l->value);
      out = (lt && rt && strcasecmp(lt, rt) == 0) ? 1 : 0;
    } else {
      out = lv == rv;
    }
  } else if (n == qz_engine_nequal_handle) {
    out = lv != rv;
  }
  res->value.lval = out;
  return res;
}

static bool eval_reach() { return (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0; }

/* The entry of a variable named `name`, made now; null when no token can be
 * had. */
static _qz_token* eval_new_variable(const char* name, unsigned long line) {
  _qz_token* tk = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, line);
  if (!tk) return nullptr;
  tk->name = qz_engine_insert_sym(const_cast<char*>(name));
  _qz_token* entry = tk->name ? php_reference_globals(tk) : nullptr;
  eval_release(tk);
  return entry;
}

/* "=": the value V (top) goes into the target A (below it). */
/* Extended reading: the statement being evaluated is a branch that fills
 * in a default: an "else", or an "if"/"elseif" testing empty() or isset()
 * (both branches are read, one after the other). */
static bool eval_in_branch = false;

/* The array an assignment gives its variable from v (holding an array):
 * with extended reading, a copy when v is a variable or an item (PHP copies
 * arrays on assignment: writing to one then leaves the other alone), the
 * array itself when v was read after a "&" (a reference), is a value made
 * for the assignment, or is too large to copy (qz_array_copy). */
static _qz_array* eval_array_by_value(_qz_token* v, bool by_reference) {
  auto* arr = static_cast<_qz_array*>(v->value.ptr);
  if (!arr) return nullptr;
  if (!eval_reach()) return qz_reference_array(arr);
  if (!by_reference && (v->ref || (v->name && v->name[0] == '$')))
    if (_qz_array* copy = qz_array_copy(arr)) return copy;
  /* A value typed as an array that holds some other pointer is kept as it
   * is: nothing may count references inside it. */
  return qz_array_is_live(arr) ? qz_reference_array(arr) : arr;
}

static _qz_token* eval_assign(unsigned char* err) {
  if (eval_values().size() < 2) return nullptr;
  /* The mark of a "&" sits on the operand as read, before it is resolved
   * to its variable. */
  const _qz_token* top = eval_values().back();
  const bool by_reference = top && (top->value.spare2 & QZ_VALUE_REFERENCE);
  _qz_token *a, *v;
  if (!eval_pop_operands(err, &a, &v)) return nullptr;
  /* A request array stays one through any reassignment (the usual
   * `$_POST = sanitise($_POST)`): its items keep reading as request data. */
  if (eval_reach() && !a->ref && php_variable_is_superglobal(a)) return a;
  _qz_value* d = a->ref ? a->ref : &a->value;
  /* In a branch, a default that would replace request data is the other
   * way the script may go: "if (empty($c)) $c = 'ls';" or the else of
   * "if (isset($_GET['c'])) $c = $_GET['c']; else $c = '';" leaves the
   * request's value standing. */
  if (eval_reach() && eval_in_branch && php_value_holds_request(*d) &&
      !php_value_holds_request(php_variable_value(v)))
    return a;
  a->type = TOKEN_WORD;
  /* A literal's value is its text, unless define() gave the literal naming
   * a constant a string of its own: that string is the value then. */
  if (v->type == TOKEN_LITERAL && v->value.type != TOKEN_STRING) {
    d->type = TOKEN_STRING;
    d->ptr = qz_string_alloc(static_cast<const char*>(v->value.ptr));
  } else if (v->value.type == TOKEN_STRING) {
    d->type = TOKEN_STRING;
    d->ptr = v->value.ptr ? qz_reference_string(static_cast<_qz_string*>(v->value.ptr)) : nullptr;
    d->spare1 = v->value.spare1;
  } else if (v->value.type == TOKEN_ARRAY) {
    d->type = TOKEN_ARRAY;
    d->ptr = eval_array_by_value(v, by_reference);
  } else if (v->value.type == TOKEN_ARRAY_REF) {
    a->value.type = TOKEN_ARRAY_REF;
    a->value.ptr =
        v->value.ptr ? qz_reference_array(static_cast<_qz_array*>(v->value.ptr)) : nullptr;
  } else if (v->value.type == TOKEN_NONE && v->name) {
    d->type = TOKEN_STRING;
    d->ptr = qz_string_alloc(v->name);
  } else {
    *d = v->value;
  }
  qz_token_inc_assign_time(a);
  return a;
}

/* Extended reading: "+=", "-=", "*=", "/=" and "|=" assign the
 * variable its value combined with the right operand, as the operator
 * without "=" combines them. Null, the stack left as it was, for any other
 * operator. */
static _qz_token* eval_bitwise(char op, unsigned long line, unsigned char* err);
static _qz_token* eval_modulo(unsigned long line, unsigned char* err);
static _qz_token* eval_compound_assign(_qz_token* op, unsigned char* err) {
  static const struct {
    const char* text;
    char** base; /* the arithmetic operator's handle, or null: bitwise or "%" */
    char bit;
  } compounds[] = {{"+=", &qz_engine_add_handle, 0},
                   {"-=", &qz_engine_sub_handle, 0},
                   {"*=", &qz_engine_mul_handle, 0},
                   {"/=", &qz_engine_div_handle, 0},
                   {"|=", nullptr, '|'},
                   {"%=", nullptr, '%'}};
  const char* n = op->name;
  for (const auto& c : compounds) {
    if (std::strcmp(n, c.text) != 0) continue;
    if (eval_values().size() < 2) return nullptr;
    _qz_token* value = qz_pop_rt_data();
    _qz_token* target = qz_pop_rt_data();
    eval_values().push_back(qz_token_clone(target));
    eval_values().push_back(value);
    _qz_token* combined;
    if (c.base) {
      _qz_token base{};
      base.name = *c.base;
      base.lineno = op->lineno;
      combined = php_eval_math_operator(&base, err);
    } else {
      combined = c.bit == '%' ? eval_modulo(op->lineno, err) : eval_bitwise(c.bit, op->lineno, err);
    }
    if (!combined) return nullptr;
    eval_values().push_back(target);
    eval_push_value(combined);
    return eval_assign(err);
  }
  return nullptr;
}

/* The bytes of a text value (a string's recorded length, a literal's C
 * text); false for any other value. */
static bool eval_text_bytes(const _qz_value& v, const char** text, size_t* len) {
  if (v.type == TOKEN_STRING && v.ptr) {
    *text = static_cast<_qz_string*>(v.ptr)->text;
    *len = static_cast<_qz_string*>(v.ptr)->length;
    return true;
  }
  if (v.type == TOKEN_LITERAL && v.ptr) {
    *text = static_cast<const char*>(v.ptr);
    *len = std::strlen(*text);
    return true;
  }
  return false;
}

/* "^", "|" and "&" (extended reading): on two texts byte by byte, as PHP
 * does ("^" and "&" as long as the shorter, "|" as the longer, its extra
 * bytes kept); else on the operands' integers. Request data combined with
 * anything (code XORed with a key the client sends, or the client's bytes
 * with the script's key) is chosen by the client: the result is then the
 * request marker that operand holds, not bytes of the marker's name. A new
 * token of the result. */
static _qz_token* eval_bitwise(char op, unsigned long line, unsigned char* err) {
  if (eval_values().size() < 2) {
    *err = 1;
    return nullptr;
  }
  _qz_token *l, *r;
  if (!eval_pop_operands(err, &l, &r)) return nullptr;
  const _qz_value& lv = l->ref ? *l->ref : l->value;
  const _qz_value& rv = r->ref ? *r->ref : r->value;
  const char *a = nullptr, *b = nullptr;
  size_t na = 0, nb = 0;
  bool ta = eval_text_bytes(lv, &a, &na), tb = eval_text_bytes(rv, &b, &nb);
  const char* marker = ta ? php_text_request_marker_in(std::string(a, na).c_str()) : nullptr;
  if (!marker && tb) marker = php_text_request_marker_in(std::string(b, nb).c_str());
  if (marker) {
    _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
    if (res) res->value.ptr = qz_string_alloc(marker);
    return res;
  }
  if (ta && tb) {
    std::string out(op == '|' ? std::max(na, nb) : std::min(na, nb), '\0');
    for (size_t i = 0; i < out.size(); i++) {
      unsigned char x = i < na ? a[i] : 0, y = i < nb ? b[i] : 0;
      out[i] = static_cast<char>(op == '^' ? x ^ y : op == '&' ? x & y : x | y);
    }
    _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
    if (res) res->value.ptr = qz_string_alloc_n(out.data(), out.size());
    return res;
  }
  _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, line);
  if (!res) return nullptr;
  long x = lv.lval, y = rv.lval;
  res->value.lval = op == '^' ? x ^ y : op == '&' ? x & y : x | y;
  return res;
}

/* "%" (extended reading) on the operands' integers: the remainder with the
 * sign of the dividend, as PHP gives it; 0 where PHP throws (a zero
 * divisor) and for the one quotient that does not fit (by -1). A new token
 * of the result. */
static _qz_token* eval_modulo(unsigned long line, unsigned char* err) {
  if (eval_values().size() < 2) {
    *err = 1;
    return nullptr;
  }
  _qz_token *l, *r;
  if (!eval_pop_operands(err, &l, &r)) return nullptr;
  long x = (l->ref ? *l->ref : l->value).lval, y = (r->ref ? *r->ref : r->value).lval;
  _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, line);
  if (res) res->value.lval = y == 0 || y == -1 ? 0 : x % y;
  return res;
}

/* "~" (extended reading) on the value on top of the current value stack:
 * each byte of a text, or an integer, inverted, in place of it. */
static void eval_bitwise_not(unsigned long line) {
  php_rt_stack& values = eval_values();
  if (values.empty() || !values.back()) return;
  _qz_token* t = eval_resolve(values.back());
  if (!t) return;
  const _qz_value& v = t->ref ? *t->ref : t->value;
  const char* text;
  size_t len;
  _qz_token* res;
  /* A bare word that names nothing reads as its own text, as PHP reads an
   * undefined constant: "~" over one hides a name in high bytes. */
  bool bare = v.type == TOKEN_NONE && t->type == TOKEN_WORD && t->name && t->name[0] != '$';
  if (bare) {
    text = t->name;
    len = std::strlen(text);
  }
  if (bare || eval_text_bytes(v, &text, &len)) {
    std::string out(text, len);
    for (char& ch : out) ch = static_cast<char>(~static_cast<unsigned char>(ch));
    res = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
    if (res) res->value.ptr = qz_string_alloc_n(out.data(), out.size());
  } else {
    res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, line);
    if (res) res->value.lval = ~v.lval;
  }
  if (!res) return;
  eval_release(values.back());
  values.back() = res;
}

/* Extended reading: a unary sign makes the value on top of the value stack
 * a number, negated for "-" (`negate`): a number stays one, a text that is
 * no request marker becomes the integer its leading digits give (0 for
 * none), as PHP reads "+$s"; any other value is left as it is. */
static void eval_apply_sign(unsigned long line, bool negate) {
  php_rt_stack& values = eval_values();
  if (values.empty() || !values.back()) return;
  _qz_token* t = eval_resolve(values.back());
  if (!t) return;
  const _qz_value& v = t->ref ? *t->ref : t->value;
  long n = v.lval;
  if (v.type != TOKEN_INTEGER) {
    const char* text =
        v.type == TOKEN_LITERAL || v.type == TOKEN_STRING ? php_value_text(v) : nullptr;
    if (!text || php_text_is_request_marker(text)) return;
    n = std::strtol(text, nullptr, 10);
  } else if (!negate) {
    return;
  }
  _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, line);
  if (!res) return;
  /* Negated through unsigned arithmetic: the smallest long stays itself. */
  res->value.lval = negate ? static_cast<long>(0ul - static_cast<unsigned long>(n)) : n;
  eval_release(values.back());
  values.back() = res;
}

/* An assignment operator: "=", or one that combines and assigns (".=",
 * "+="...), not a comparison. */
static bool eval_is_assignment(const char* name) {
  if (!name) return false;
  size_t n = std::strlen(name);
  if (n == 0 || name[n - 1] != '=') return false;
  if (n == 1) return true;
  return n == 2 && std::strchr("+-*/.%|^", name[0]) != nullptr;
}

/* Extended reading: "++" on a variable holding text that is no request
 * marker (a numeric text becomes the next integer); false when the value is
 * anything else. */
static bool eval_increment_text_value(_qz_token* t) {
  if (!eval_reach() || (t->value.type != TOKEN_LITERAL && t->value.type != TOKEN_STRING))
    return false;
  const char* text = php_value_text(t->value);
  if (!text || php_text_is_request_marker(text)) return false;
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (text[0] && end && !*end) { /* a numeric text steps as a number */
    t->value.type = TOKEN_INTEGER;
    t->value.lval = php_add_long(n, 1);
    qz_token_inc_assign_time(t);
    return true;
  }
  std::string next = php_text_increment(text);
  _qz_string* str = qz_string_alloc_n(next.data(), next.size());
  if (!str) return false;
  t->value.type = TOKEN_STRING;
  t->value.ptr = str;
  qz_token_inc_assign_time(t);
  return true;
}

/* Extended reading: the value of a ternary's branches A and B, both read.
 * "A ?? B" and "A ?: B" give B when A is not set; otherwise, and for
 * "C ? A : B", the branch that holds request data (the script may go
 * either way; the request's is the way that matters), else A unless only B
 * is a text the scan knows. */
static _qz_token* eval_choose(const char* name, unsigned char* err) {
  _qz_token *a, *b;
  if (!eval_pop_operands(err, &a, &b)) return nullptr;
  _qz_value av = php_variable_value(a), bv = php_variable_value(b);
  if (std::strcmp(name, EVAL_COALESCE_NAME) == 0 && av.type == TOKEN_NONE) return b;
  if (php_value_holds_request(av) != php_value_holds_request(bv))
    return php_value_holds_request(av) ? a : b;
  /* Neither or both: a known text rather than one the scan could not follow. */
  const char* at = php_value_text(av);
  const char* bt = php_value_text(bv);
  bool a_unknown = !at || std::strcmp(at, QZ_INVALID_STRING_TEXT) == 0;
  bool b_unknown = !bt || std::strcmp(bt, QZ_INVALID_STRING_TEXT) == 0;
  return a_unknown && !b_unknown ? b : a;
}

/* ".=" and ".": both operands as text, concatenated. Null with err set when an
 * operand is missing. For ".=" the left operand's token is the owner of the
 * result, which its next ".=" may then grow in place (qz_string_append);
 * a token that stands for a value stored elsewhere (ref) owns nothing. For
 * "." the left operand owns the result only when it is the result of the
 * "." before (eval_cat_pushed), which *temp then tells. */
static bool eval_concat_operands(unsigned char* err, _qz_token** left, _qz_string** joined,
                                 unsigned long* provenance, bool append = false,
                                 bool* temp = nullptr) {
  _qz_token *l, *r;
  if (!eval_pop_operands(err, &l, &r)) return false;
  /* A variable entry (named) is never the "." result, whatever its slot. */
  bool own_temp = !append && l == eval_cat_pushed && !l->name && !l->ref;
  if (!append) eval_cat_pushed = nullptr;
  /* Extended reading: appending to a variable never assigned starts from
   * the empty text, as in PHP, rather than from the variable's name. */
  bool fresh = append && eval_reach() && l->value.type == TOKEN_NONE && !l->ref && l->name &&
               l->name[0] == '$' && !php_variable_is_superglobal(l);
  _qz_string* ls = fresh ? qz_string_alloc("") : php_to_tring(l);
  _qz_string* rs = php_to_tring(r);
  /* Read before the append, which may grow the left text in place. */
  const bool left_empty = fresh || (ls && ls->length == 0);
  const bool owns = append ? !l->ref : own_temp;
  *joined = qz_string_append(ls, rs, owns ? l : nullptr);
  *left = l;
  /* A join is spelled when both sides are; appending to the empty text
   * takes the right side's mark. */
  unsigned long spelled =
      (left_empty ? QZ_VALUE_SPELLED : l->value.spare1) & r->value.spare1 & QZ_VALUE_SPELLED;
  *provenance = ((l->value.spare1 | r->value.spare1) & ~QZ_VALUE_SPELLED) | spelled;
  if (temp) *temp = own_temp;
  return true;
}

_qz_token* php_eval_operator(_qz_token* op, unsigned char* err) {
  eval_cat_fresh = nullptr;
  eval_pair_fresh = nullptr;
  if (!op) return nullptr;
  const char* n = op->name;
  /* Extended reading: "!=" and "!==" are the negation of "==" (which
   * compares texts), "===" is "==": the scan keeps no types to tell the
   * strict forms apart; each takes both operands, as PHP does. */
  if (eval_reach() &&
      (n == qz_engine_nequal_handle || qz_ascii_is(n, "===") || qz_ascii_is(n, "!=="))) {
    _qz_token loose{};
    loose.name = qz_engine_equal_handle;
    loose.lineno = op->lineno;
    _qz_token* res = php_eval_math_operator(&loose, err);
    if (res && n[0] == '!') res->value.lval = !res->value.lval;
    return res;
  }
  if (n == qz_engine_add_handle || n == qz_engine_sub_handle || n == qz_engine_mul_handle ||
      n == qz_engine_div_handle || n == qz_engine_bigger_handle || n == qz_engine_smaller_handle ||
      n == qz_engine_ebigger_handle || n == qz_engine_esmaller_handle ||
      n == qz_engine_equal_handle || n == qz_engine_nequal_handle)
    return php_eval_math_operator(op, err);

  if (n == qz_engine_self_inc_handle || n == qz_engine_self_dec_handle) {
    if (eval_values().empty()) return nullptr;
    _qz_token* t = eval_resolve(qz_pop_rt_data());
    if (t && n == qz_engine_self_inc_handle && eval_increment_text_value(t)) return nullptr;
    if (t)
      t->value.lval = n == qz_engine_self_inc_handle ? php_add_long(t->value.lval, 1)
                                                     : php_sub_long(t->value.lval, 1);
    return nullptr;
  }

  if (n == qz_engine_catassign_handle) {
    if (eval_values().size() < 2) return nullptr;
    _qz_token* left;
    _qz_string* joined;
    unsigned long provenance;
    if (!eval_concat_operands(err, &left, &joined, &provenance, true)) return nullptr;
    left->value.type = TOKEN_STRING;
    left->value.ptr = joined;
    left->value.spare1 = provenance;
    qz_token_inc_assign_time(left);
    return left;
  }

  if (n == qz_engine_cat_handle) {
    if (eval_values().size() < 2) return nullptr;
    _qz_token* left;
    _qz_string* joined;
    unsigned long provenance;
    bool temp = false;
    if (!eval_concat_operands(err, &left, &joined, &provenance, false, &temp)) return nullptr;
    /* The "." before made the left operand for this one alone: it becomes
     * the result, holding the text it owns (grown in place when it could). */
    _qz_token* res = temp ? left : qz_token_alloc(TOKEN_WORD, TOKEN_STRING, op->lineno);
    if (res) {
      res->lineno = op->lineno;
      res->value.type = TOKEN_STRING;
      res->value.ptr = joined;
      res->value.spare1 = provenance;
      eval_cat_fresh = res;
    }
    if (!joined) *err = 1;
    return res;
  }

  if (n == qz_engine_arrpair_handle) {
    if (php_rt_state.arg_stk.size() < 2) return nullptr;
    _qz_token* value = qz_pop_rt_arg();
    _qz_token* key = qz_pop_rt_arg();
    if (!value || !key) {
      *err = 1;
      return nullptr;
    }
    _qz_token* pair = php_lib_build_bucket(key, value);
    if (!pair) *err = 1;
    eval_pair_fresh = pair;
    /* The bucket holds copies of what the two operands held, and nothing
     * else holds the operands (the value stacks hold only tokens made
     * here), so they go back at once: an array literal of many items then
     * takes two tokens at a time, not two per item until the scan ends. */
    value->next = nullptr; /* each released alone */
    key->next = key == value ? nullptr : value;
    php_eval_release(key);
    return pair;
  }

  if (n == qz_engine_assign_handle) return eval_assign(err);
  if (eval_reach() && eval_is_choice(n)) return eval_choose(n, err);
  /* Extended reading: "&&" and "||" take both operands and give a truth
   * value the scan cannot know (1 stands for it). */
  if (eval_reach() && (qz_ascii_is(n, "&&") || qz_ascii_is(n, "||"))) {
    _qz_token *l, *r;
    if (!eval_pop_operands(err, &l, &r)) return nullptr;
    _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, op->lineno);
    if (res) res->value.lval = 1;
    return res;
  }
  if (eval_is_bitwise(n)) return eval_bitwise(n[0], op->lineno, err);
  if (eval_is_modulo(n)) return eval_modulo(op->lineno, err);
  if (eval_reach()) return eval_compound_assign(op, err);
  return nullptr;
}

/* ---- statement walk ---- */

/* Extended reading: whether call is a control statement's condition ("if
 * (...)"), whose "(" after it begins the statement's body, not a call of
 * its result. */
static bool eval_is_control(const _qz_token* call) {
  if (!eval_reach() || !call->name) return false;
  static const char* const controls[] = {"if", "elseif", "while", "switch", "for", "foreach"};
  for (const char* c : controls)
    if (qz_ascii_fold_equal()(call->name, c)) return true;
  return false;
}

static bool eval_is_colon(const _qz_token* t);
static bool eval_after_scope(const _qz_token* t);
static bool eval_value_begins_after(const _qz_token* prev);

namespace {

/* Finds, for successive positions of one walk, the first later token named
 * "}" (any type, or separators only). The walk only moves forward and finds
 * are only ever renamed away from "}", so one forward scan serves the whole
 * statement: hostile chains of "${" or "$v{" cost linear time. */
struct brace_finder {
  bool separators_only;
  _qz_token* end;
  _qz_token* scan = nullptr; /* next token not yet examined */
  unsigned long scan_pos = 0;
  _qz_token* found = nullptr;
  unsigned long found_pos = 0;

  brace_finder(bool seps, _qz_token* e) : separators_only(seps), end(e) {}

  bool matches(const _qz_token* t) const {
    return t->name == qz_engine_lright_handle && (!separators_only || t->type == TOKEN_SEPARATOR);
  }

  /* The first matching token after `from` (at position pos), or null. */
  _qz_token* after(_qz_token* from, unsigned long pos) {
    if (found && found_pos > pos && matches(found)) return found;
    if (scan_pos <= pos) {
      scan = from->next;
      scan_pos = pos + 1;
    }
    while (scan && scan != end) {
      _qz_token* t = scan;
      unsigned long p = scan_pos;
      scan = t->next;
      scan_pos++;
      if (matches(t)) {
        found = t;
        found_pos = p;
        return t;
      }
    }
    return nullptr;
  }
};

enum eval_step { STEP_NEXT, STEP_DRAIN, STEP_ABORT };

/* Grouping parentheses (extended reading): a "(" that follows no call opens
 * a group. Its marker on the operator stack is an evaluator-made separator,
 * which no call's "(" is (those are statement tokens, or made call tokens for
 * array accesses); the matching ")" removes it and leaves the value. */
static bool eval_is_group(const _qz_token* t) {
  return t && t->type == TOKEN_SEPARATOR && eval_is_made(t);
}

/* Whether the "(" being read opens a group: only with extended reading, and
 * only when the operator stack does not end with the call it would open. */
static bool eval_opens_group() {
  if (!eval_reach()) return false;
  const php_rt_stack& ops = php_rt_state.op_stk;
  return ops.empty() || ops.back()->type != TOKEN_CALL ||
         ops.back()->name == qz_engine_sleft_handle;
}

/* The group marker for the "(" token paren; paren itself when no token can
 * be had (the statement then reads the "(" as before). */
static _qz_token* eval_group_marker(_qz_token* paren) {
  _qz_token* g = qz_token_alloc(TOKEN_SEPARATOR, TOKEN_NONE, paren->lineno);
  if (!g) return paren;
  g->name = qz_engine_sleft_handle;
  eval_mark_made(g);
  return g;
}

struct eval_walk {
  _qz_token* end;
  brace_finder any_brace;
  brace_finder sep_brace;

  explicit eval_walk(_qz_token* e) : end(e), any_brace(false, e), sep_brace(true, e) {}

  _qz_token* successor(_qz_token* t) const { return t->next == end ? nullptr : t->next; }

  /* Applies operators from the top of op_stk while they are operators. */
  eval_step reduce() {
    php_rt_stack& ops = php_rt_state.op_stk;
    while (!ops.empty() && ops.back() && ops.back()->type == TOKEN_OPERATOR) {
      _qz_token* t = eval_pop(ops);
      unsigned char err = 0;
      eval_push_result(php_eval_operator(t, &err));
      if (err) return STEP_ABORT;
    }
    return STEP_NEXT;
  }

  eval_step operator_token(_qz_token* cur) {
    php_rt_stack& ops = php_rt_state.op_stk;
    /* Extended reading: an assignment binds only the variable or item just
     * read, whatever operators wait before it ("$a = 'x' . $b = 'y'"
     * assigns $b first, "$x && $s['k'] = 1" assigns the item), as PHP's
     * grammar takes a variable on its left, and assignments chain from the
     * right. */
    if (ops.empty() || ops.back()->name == qz_engine_sleft_handle ||
        (eval_reach() && eval_is_assignment(cur->name))) {
      ops.push_back(cur);
      return STEP_NEXT;
    }
    int p;
    if (!eval_priority(cur->name, &p)) return STEP_ABORT;
    int top;
    if (ops.back()->type == TOKEN_CALL)
      top = QZ_CALL_PRECEDENCE;
    else if (!eval_priority(ops.back()->name, &top))
      return STEP_ABORT;
    /* Extended reading: whatever follows an assignment belongs to its right
     * side ("$a = $b && $c" assigns the conjunction), so a waiting
     * assignment is never applied by a later operator. */
    auto waits = [](const _qz_token* op) { return eval_reach() && eval_is_assignment(op->name); };
    if (top >= p && !waits(ops.back())) {
      for (;;) {
        _qz_token* t = eval_pop(ops);
        unsigned char err = 0;
        eval_push_result(php_eval_operator(t, &err));
        if (err) return STEP_ABORT;
        int next;
        if (ops.empty() || waits(ops.back()) || !eval_priority(ops.back()->name, &next) || p > next)
          break;
      }
    }
    ops.push_back(cur);
    return STEP_NEXT;
  }

  /* False, the limit reported, when no further list may open. */
  static bool depth_left(const _qz_token* at) {
    if (php_rt_state.call_depth < QZ_MAX_CALL_DEPTH) return true;
    php_call_limit_reached(PHP_LIMIT_CALL_DEPTH, at->lineno);
    return false;
  }

  /* Opens the argument list of call token `call` (already typed as a call). */
  eval_step open_call(_qz_token* call) {
    if (!depth_left(call)) return STEP_ABORT;
    eval_set_depth(php_rt_state.call_depth + 1);
    qz_push_arg_splitter();
    php_rt_state.op_stk.push_back(call);
    return STEP_NEXT;
  }

  eval_step open_array_access(_qz_token* cur) {
    if (!depth_left(cur)) return STEP_ABORT;
    _qz_token* marker = qz_token_alloc(cur->lineno);
    if (!marker) return STEP_ABORT;
    marker->type = TOKEN_CALL;
    marker->name = qz_engine_array_item_handle;
    eval_mark_made(marker);
    eval_set_depth(php_rt_state.call_depth + 1);
    _qz_token* subject;
    if (php_rt_state.call_depth == 1) {
      qz_push_arg_splitter();
      subject = qz_pop_rt_data_ever();
      if (!subject) return STEP_ABORT;
      eval_push_value(subject);
    } else {
      subject = qz_pop_rt_arg();
      if (!subject) return STEP_ABORT;
      qz_push_arg_splitter();
      eval_push_value(subject);
    }
    php_rt_state.op_stk.push_back(marker);
    _qz_token* open = qz_token_alloc(TOKEN_CALL, TOKEN_NONE, cur->lineno);
    if (!open) return STEP_ABORT;
    open->name = qz_engine_sleft_handle;
    eval_mark_made(open);
    php_rt_state.op_stk.push_back(open);
    if (qz_token_is_sep(successor(cur), qz_engine_mright_handle)) {
      _qz_token* zero = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, cur->lineno);
      /* Extended reading: "$a[] = v" appends, at the array's next index. */
      if (zero && eval_reach()) {
        _qz_value v = php_variable_value(subject);
        if (v.type == TOKEN_ARRAY && v.ptr)
          zero->value.lval = static_cast<long>(qz_array_size(static_cast<_qz_array*>(v.ptr)));
      }
      if (zero) eval_push_value(zero);
    }
    return STEP_NEXT;
  }

  /* "(expr)(args)": the group's value, just left on the value stack, is
   * the callee of the list that follows; it settles by its text as any
   * callee does ('system', a closure's name, a variable's value). */
  eval_step call_group_value(_qz_token* paren) {
    php_rt_stack& values = eval_values();
    if (values.empty() || !values.back() || values.back()->type == TOKEN_ARG_SPLITTER)
      return STEP_NEXT;
    _qz_token* callee = eval_pop(values);
    if (!callee->prev && !callee->next && !php_variable_is_entry(callee)) eval_mark_made(callee);
    if (!callee->lineno) callee->lineno = paren->lineno;
    callee->type = TOKEN_CALL;
    return open_call(callee);
  }

  /* Extended reading: "[" where a value begins opens a short array, read
   * as the call "array(...)" that its matching "]" closes. */
  eval_step open_array_literal(_qz_token* cur) {
    if (!depth_left(cur)) return STEP_ABORT;
    _qz_token* call = qz_token_alloc(TOKEN_CALL, TOKEN_NONE, cur->lineno);
    _qz_token* open = qz_token_alloc(TOKEN_CALL, TOKEN_NONE, cur->lineno);
    if (!call || !open) {
      eval_release(call);
      eval_release(open);
      return STEP_ABORT;
    }
    call->name = qz_engine_tarray_handle;
    eval_mark_made(call);
    open->name = qz_engine_sleft_handle;
    eval_mark_made(open);
    open_call(call);
    php_rt_state.op_stk.push_back(open);
    return STEP_NEXT;
  }

  eval_step close(_qz_token* cur) {
    php_rt_stack& ops = php_rt_state.op_stk;
    if (cur->name == qz_engine_sright_handle && !ops.empty() && eval_is_group(ops.back())) {
      eval_release(eval_pop(ops));
      if (qz_token_is_sep(successor(cur), qz_engine_sleft_handle)) return call_group_value(cur);
      return STEP_NEXT;
    }
    if (php_rt_state.call_depth == 0) return STEP_NEXT;
    eval_pop(php_rt_state.op_stk); /* the group's "(" */
    _qz_token* call = eval_pop(php_rt_state.op_stk);
    if (!call) return STEP_ABORT;
    eval_set_depth(php_rt_state.call_depth - 1);
    _qz_token* r = php_call_wrapper(call, nullptr);
    if (!r) return STEP_NEXT;
    if (qz_token_is_sep(successor(cur), qz_engine_sleft_handle) && !eval_is_control(call)) {
      /* The result is called in its turn. A result that belongs to nobody
       * else is tagged so that an aborted statement releases it. */
      if (!r->prev && !r->next && !php_variable_is_entry(r)) eval_mark_made(r);
      if (eval_reach() && !r->lineno) r->lineno = cur->lineno;
      r->type = TOKEN_CALL;
      return open_call(r);
    }
    if (php_call_result_is_own(r))
      eval_values().push_back(r);
    else
      eval_push_value(r);
    return STEP_NEXT;
  }

  /* Applies the pending operators above the nearest call, group, ternary,
   * assignment or "=>" (the operand the ternary sign ends: an item's value
   * is the whole ternary). */
  eval_step reduce_to_choice() {
    php_rt_stack& ops = php_rt_state.op_stk;
    while (!ops.empty() && ops.back() && ops.back()->type == TOKEN_OPERATOR &&
           !eval_is_choice(ops.back()->name) && !eval_is_assignment(ops.back()->name) &&
           ops.back()->name != qz_engine_arrpair_handle) {
      unsigned char err = 0;
      eval_push_result(php_eval_operator(eval_pop(ops), &err));
      if (err) return STEP_ABORT;
    }
    return STEP_NEXT;
  }

  /* Pushes a ternary operator named `name` (a token of its own). */
  eval_step push_choice(const _qz_token* at, const char* name) {
    _qz_token* op = qz_token_alloc(TOKEN_OPERATOR, TOKEN_NONE, at->lineno);
    if (!op) return STEP_ABORT;
    op->name = qz_engine_insert_sym(const_cast<char*>(name));
    eval_mark_made(op);
    php_rt_state.op_stk.push_back(op);
    return STEP_NEXT;
  }

  /* Extended reading: "?" of a ternary. "??" and "?:" are pending until
   * their right operand is read; in "C ? A : B" the condition C, read
   * whole, is dropped, and ":" (below) leaves A waiting for B. */
  eval_step ternary(_qz_token* cur) {
    if (reduce_to_choice() == STEP_ABORT) return STEP_ABORT;
    _qz_token* nx = cur->next;
    bool pair = nx && nx == successor(cur) && nx->type == TOKEN_SEPARATOR && nx->name &&
                (qz_ascii_is(nx->name, "?") || qz_ascii_is(nx->name, ":"));
    if (pair) {
      nx->type = TOKEN_IGNORED;
      return push_choice(cur, EVAL_COALESCE_NAME);
    }
    if (!eval_values().empty()) eval_pop(eval_values());
    return push_choice(cur, EVAL_CHOICE_NAME);
  }

  /* Extended reading: ":" of a ternary whose "?" is pending; any other ":"
   * (case labels, alternative syntax) changes nothing. */
  eval_step ternary_else() {
    php_rt_stack& ops = php_rt_state.op_stk;
    size_t i = ops.size();
    while (i > 0 && ops[i - 1] && ops[i - 1]->type == TOKEN_OPERATOR &&
           !eval_is_choice(ops[i - 1]->name))
      i--;
    if (i == 0 || !ops[i - 1] || !eval_is_choice(ops[i - 1]->name) ||
        std::strcmp(ops[i - 1]->name, EVAL_CHOICE_NAME) != 0)
      return STEP_NEXT;
    while (ops.size() > i) {
      unsigned char err = 0;
      eval_push_result(php_eval_operator(eval_pop(ops), &err));
      if (err) return STEP_ABORT;
    }
    return STEP_NEXT;
  }

  eval_step separator(_qz_token* cur) {
    const char* n = cur->name;
    /* A "?" with no value before it ("<?php" in walked text) is no ternary. */
    if (eval_reach() && n && n[0] == '?' && n[1] == '\0' && !eval_value_begins_after(cur->prev))
      return ternary(cur);
    if (eval_reach() && n && n[0] == ':' && n[1] == '\0' && !eval_is_colon(cur->next))
      return ternary_else();
    if (n == qz_engine_sleft_handle) {
      php_rt_state.op_stk.push_back(eval_opens_group() ? eval_group_marker(cur) : cur);
    } else if (n == qz_engine_sright_handle || n == qz_engine_mright_handle) {
      return close(cur);
    } else if (n == qz_engine_mleft_handle) {
      return open_array_access(cur);
    }
    return STEP_NEXT;
  }

  eval_step dollar(_qz_token* cur, unsigned long pos) {
    _qz_token* nx = successor(cur);
    if (!nx || nx->name != qz_engine_lleft_handle) return STEP_NEXT;
    cur->type = TOKEN_CALL;
    cur->name = qz_engine_var_var_handle;
    /* "A::${...}" names a static property of the class before it. */
    if (eval_reach() && eval_after_scope(cur)) cur->value.spare2 |= QZ_VALUE_STATIC_NAME;
    nx->name = qz_engine_sleft_handle;
    if (_qz_token* rb = any_brace.after(cur, pos)) rb->name = qz_engine_sright_handle;
    return open_call(cur);
  }

  eval_step variable(_qz_token* cur, unsigned long pos) {
    const char* n = cur->name;
    if (qz_token_is_sep(successor(cur), qz_engine_lleft_handle)) {
      if (_qz_token* rb = sep_brace.after(cur, pos)) {
        cur->next->name = qz_engine_mleft_handle;
        rb->name = qz_engine_mright_handle;
      }
      eval_push_value(cur);
      return STEP_NEXT;
    }
    if (n[1] == '$' && n[2] != '\0') {
      _qz_token* holder = php_lookup_global_variable(const_cast<char*>(n + 1));
      const char* text =
          holder && holder->type == TOKEN_WORD ? php_value_text(holder->value) : nullptr;
      /* A variable named by request data ($$k in a loop over a request
       * array) makes variables the request chooses, as extract does; a
       * static property "A::$$k" makes none. */
      if (eval_reach() && php_text_is_request_marker(text) && !eval_after_scope(cur))
        php_extract_called = 1;
      if (text) {
        char composed[QZ_VARVAR_BUFFER];
        size_t len = strnlen(text, QZ_VARVAR_NAME_MAX);
        composed[0] = '$';
        memcpy(composed + 1, text, len);
        composed[len + 1] = '\0';
        _qz_token* target = php_lookup_global_variable(composed);
        if (!target && eval_reach()) target = eval_new_variable(composed, cur->lineno);
        eval_push_value(target);
        return STEP_NEXT;
      }
    }
    eval_push_value(cur);
    return STEP_NEXT;
  }

  eval_step dispatch(_qz_token* cur, unsigned long pos) {
    switch (cur->type) {
      case TOKEN_OPERATOR: return operator_token(cur);
      case TOKEN_SEPARATOR: return separator(cur);
      case TOKEN_CALL: return open_call(cur);
      default: break;
    }
    const char* n = cur->name;
    /* Extended reading: a string literal is text, even one that starts
     * with "$" ('$_POST', "$"). */
    bool text = cur->type == TOKEN_LITERAL && eval_reach();
    if (n && n[0] == '$' && !text) return n[1] == '\0' ? dollar(cur, pos) : variable(cur, pos);
    eval_push_value(cur);
    return STEP_NEXT;
  }

  /* Pending operators are applied and pending calls made; returns the value
   * of the statement (not yet cloned). */
  _qz_token* drain() {
    _qz_token* last = nullptr;
    php_rt_stack& ops = php_rt_state.op_stk;
    while (!ops.empty()) {
      _qz_token* t = eval_pop(ops);
      if (!t) continue;
      if (t->type == TOKEN_CALL) {
        _qz_token* r = php_call_wrapper(t, nullptr);
        if (php_call_result_is_own(r))
          eval_values().push_back(r);
        else if (r)
          eval_push_value(r);
      } else {
        unsigned char err = 0;
        last = php_eval_operator(t, &err);
        eval_push_result(last);
        if (err) break;
      }
    }
    return php_rt_state.data_stk.empty() ? last : php_rt_state.data_stk.back();
  }
};

}  // namespace

/* Runs for most tokens of a statement: the inline fold stops at the first
 * byte that differs, where strcasecmp would cost a library call. */
static inline bool eval_name_is(const _qz_token* t, const char* text) {
  /* text is lower case: most names differ at once in their first byte. */
  return t->name && qz_ascii_lower(t->name[0]) == text[0] && qz_ascii_fold_equal()(t->name, text);
}

static bool eval_is_colon(const _qz_token* t) {
  return t && t->type == TOKEN_SEPARATOR && t->name && qz_ascii_is(t->name, ":");
}

/* Whether t stands right after "::": it names a static member of the class
 * before it ("A::$p", "A::${...}"), not a variable. */
static bool eval_after_scope(const _qz_token* t) {
  return eval_is_colon(t->prev) && eval_is_colon(t->prev->prev);
}

/* A property read of an object decoded from request data ("$d->cmd" after
 * "$d = json_decode($_POST['j'])"): the property after the arrow `arrow`
 * is read as the request's item marker, as an item of the array would be.
 * Not a method call, a property assigned to, or one the script assigned. */
static void eval_request_property(_qz_token* arrow, const _qz_token* object) {
  _qz_token* prop = arrow->next;
  if (!object || !prop || prop->type != TOKEN_WORD || !prop->name || prop->name[0] == '$') return;
  _qz_token* after = prop->next;
  if (after && after->type != TOKEN_LITERAL &&
      (qz_token_is_sep(after, qz_engine_sleft_handle) || eval_is_assignment(after->name) ||
       qz_ascii_is(after->name, "->")))
    return;
  /* A property the script gave a value (fields read by name) keeps it. */
  const _qz_token* field = php_lookup_global_variable(prop->name);
  if (field && (field->value.type != TOKEN_NONE || field->value.assign_time)) return;
  _qz_value v = php_variable_value(const_cast<_qz_token*>(object));
  if (v.type != TOKEN_ARRAY || !qz_array_is_live(v.ptr)) return;
  const char* marker = php_array_request_marker(static_cast<const _qz_array*>(v.ptr));
  char* text = marker ? qz_engine_insert_sym(const_cast<char*>(marker)) : nullptr;
  if (!text) return;
  prop->type = TOKEN_LITERAL;
  prop->name = text;
  prop->value.type = TOKEN_LITERAL;
  prop->value.ptr = text;
}

/* When cur is the arrow "->", or the first ":" of "::", drops the object or
 * class value before it, sets *prefix to what names the method after it
 * and returns true. */
static bool eval_method_prefix(_qz_token* cur, std::string* prefix) {
  if (!cur->name) return false;
  if (qz_ascii_is(cur->name, "->")) {
    _qz_token* object = qz_pop_rt_data();
    eval_request_property(cur, object);
    *prefix = "->";
    return true;
  }
  if (!eval_is_colon(cur) || !eval_is_colon(cur->next)) return false;
  _qz_token* cls = qz_pop_rt_data();
  *prefix = std::string(cls && cls->name ? cls->name : "") + "::";
  eval_release(cls);
  return true;
}

/* Whether a value begins after prev (null: the statement's start): after an
 * operator, a separator other than a closing bracket, or a keyword that
 * takes an expression. Elsewhere "[" indexes the value before it. */
static bool eval_value_begins_after(const _qz_token* prev) {
  if (!prev) return true;
  /* A literal, or a value the lexer made already (a word without a name). */
  if (prev->type == TOKEN_LITERAL || (prev->type == TOKEN_WORD && !prev->name)) return false;
  if (prev->type == TOKEN_OPERATOR) return true;
  if (prev->type == TOKEN_SEPARATOR)
    return prev->name != qz_engine_sright_handle && prev->name != qz_engine_mright_handle &&
           prev->name != qz_engine_lright_handle;
  return !php_paren_opens_call(prev);
}

/* Whether "(" cur begins a cast: "(", a type name, ")", all before end. */
static bool eval_is_cast(const _qz_token* cur, const _qz_token* end) {
  if (!qz_token_is_sep(cur, qz_engine_sleft_handle) || !cur->next || cur->next == end ||
      cur->next->next == end || !qz_token_is_sep(cur->next->next, qz_engine_sright_handle))
    return false;
  const _qz_token* type = cur->next;
  if (type->type == TOKEN_LITERAL || !type->name) return false;
  static const char* const types[] = {"int",  "integer", "bool",   "boolean", "float",  "double",
                                      "real", "string",  "binary", "array",   "object", "unset"};
  for (const char* t : types)
    if (qz_ascii_fold_equal()(type->name, t)) return true;
  return false;
}

_qz_token* php_eval_expr(_qz_token* first, _qz_token* end) {
  struct active_guard {
    bool outer_branch = eval_in_branch;
    active_guard() {
      eval_active++;
      eval_in_branch = false;
    }
    ~active_guard() {
      eval_active--;
      eval_in_branch = outer_branch;
    }
  } active;
  qz_report_performance(php_lex_cur_lineno);
  eval_set_depth(0);
  eval_walk walk(end);
  _qz_token* prev = nullptr;
  _qz_token* value = nullptr;
  bool aborted = false;
  unsigned long pos = 0;
  std::string method;        /* "->", "Class::" or "new " for the call that follows */
  unsigned long inverts = 0; /* "~" read, waiting for the value they invert */
  bool spread = false;       /* "..." read, waiting for the value it spreads */
  bool reference = false;    /* a "&" read, waiting for the value it refers to */
  /* "~" read before a group: each entry is the operator stack's size
   * before the group's "(" and the count of "~"; they invert the group's
   * whole value once its ")" has brought the stack back to that size. */
  std::vector<std::pair<size_t, unsigned long>> group_inverts;
  unsigned long signs = 0; /* unary "-" and "+" read, waiting for their value */
  bool negative = false;   /* an odd number of those signs are "-" */
  bool in_if = false;      /* an "if" or "elseif" read in this statement */

  for (_qz_token* cur = first; cur && cur != end; cur = cur->next, pos++) {
    if (eval_active == 1) php_reclaim_statement_point(first, cur, prev);
    if (qz_token_is_sep(cur, qz_engine_quote_handle)) break;
    if (cur->type == TOKEN_IGNORED) continue;
    /* A branch that fills in a default: an "else", or an "if" whose
     * condition asks whether a value is there at all (validation that
     * replaces a bad value is left to take effect). */
    if (eval_reach() && cur->type != TOKEN_LITERAL && cur->name &&
        (cur->name[0] == 'i' || cur->name[0] == 'e' || cur->name[0] == 'I' ||
         cur->name[0] == 'E')) {
      if (eval_name_is(cur, "else"))
        eval_in_branch = true;
      else if (eval_name_is(cur, "if") || eval_name_is(cur, "elseif"))
        in_if = true;
      else if (in_if && (eval_name_is(cur, "empty") || eval_name_is(cur, "isset")))
        eval_in_branch = true;
    }
    /* ">" is also the object arrow: it drops the object before it and is
     * never applied as a comparison (extended reading reads "->" whole, and
     * ">" compares). */
    if (cur->type != TOKEN_LITERAL && cur->name == qz_engine_bigger_handle && !eval_reach()) {
      qz_pop_rt_data();
      continue;
    }
    /* Extended reading: "->" and "::" drop the object or class before them
     * and name the method called after them "->name" or "Class::name". */
    if (eval_reach() && cur->type != TOKEN_LITERAL && eval_method_prefix(cur, &method)) {
      if (eval_is_colon(cur)) cur = cur->next, pos++;
      prev = cur;
      continue;
    }
    /* Extended reading: a cast "(int)", "(array)"... where a value begins
     * changes nothing the rules can see: it is dropped, and the value after
     * it read as is ("f(array)" stays a call). */
    if (eval_reach() && eval_is_cast(cur, end) && eval_value_begins_after(prev)) {
      cur = cur->next->next;
      pos += 2;
      continue;
    }
    /* Extended reading: "new X(...)" is reported as a call of "new X",
     * never as the global function X. */
    if (eval_reach() && cur->type == TOKEN_WORD && eval_name_is(cur, "new")) {
      method = "new ";
      prev = cur;
      continue;
    }
    if (eval_reach() && cur->type != TOKEN_LITERAL && cur->name) {
      if (qz_ascii_is(cur->name, "~")) {
        inverts++;
        prev = cur;
        continue;
      }
      /* A "&" that takes a reference where a value begins: the value is
       * read marked, so that an assignment shares what it names. */
      if (cur->type != TOKEN_OPERATOR && qz_ascii_is(cur->name, "&") &&
          eval_value_begins_after(prev)) {
        reference = true;
        continue;
      }
      /* The dots of "..." (spread and variadic) where a value begins: the
       * value is read as the argument, marked for the call to spread. */
      if ((cur->name == qz_engine_cat_handle || qz_ascii_is(cur->name, "...")) &&
          eval_value_begins_after(prev)) {
        spread = true;
        continue;
      }
      /* A sign where a value begins belongs to that value (a group after
       * it is read as before: its first value is not the group's). */
      if ((cur->name == qz_engine_sub_handle || cur->name == qz_engine_add_handle) &&
          eval_value_begins_after(prev) && !qz_token_is_sep(cur->next, qz_engine_sleft_handle)) {
        signs++;
        if (cur->name == qz_engine_sub_handle) negative = !negative;
        prev = cur;
        continue;
      }
      /* "%=": the lexer keeps "%" and "=" apart (no operator starts with
       * "%"), so the pair is joined here. */
      if (eval_is_modulo(cur->name) && cur->next && cur->next != end &&
          cur->next->type != TOKEN_LITERAL && cur->next->name == qz_engine_assign_handle) {
        if (char* joined = qz_engine_insert_sym(const_cast<char*>("%="))) {
          cur->name = joined;
          cur->type = TOKEN_OPERATOR;
          cur->next->type = TOKEN_IGNORED;
        }
      }
      /* "&" after an operator, "(" or "," takes a reference: not bitwise. */
      if ((eval_is_bitwise(cur->name) &&
           (cur->name[0] != '&' ||
            (prev && prev->type != TOKEN_OPERATOR &&
             (prev->type != TOKEN_SEPARATOR || prev->name == qz_engine_sright_handle ||
              prev->name == qz_engine_mright_handle)))) ||
          eval_is_modulo(cur->name))
        cur->type = TOKEN_OPERATOR;
    }
    if (!method.empty()) {
      if (cur->type == TOKEN_CALL && cur->name) {
        std::string named = method + cur->name;
        if (char* interned = qz_engine_insert_sym(&named[0])) cur->name = interned;
      }
      method.clear();
    }
    if (cur->type != TOKEN_WORD && eval_name_is(cur, "else")) continue;
    /* The driver marked most calls already; those need no second look. */
    if (prev && prev->type != TOKEN_CALL && qz_token_is_sep(cur, qz_engine_sleft_handle) &&
        prev->name != qz_engine_mright_handle && php_paren_opens_call(prev))
      prev->type = TOKEN_CALL;
    if (qz_token_is_sep(cur, qz_engine_comma_handle) ||
        qz_token_is_sep(cur, qz_engine_sright_handle) ||
        qz_token_is_sep(cur, qz_engine_mright_handle)) {
      if (walk.reduce() == STEP_ABORT) {
        aborted = true;
        break;
      }
    }
    bool short_array = eval_reach() && qz_token_is_sep(cur, qz_engine_mleft_handle) &&
                       eval_value_begins_after(prev);
    prev = cur;
    size_t before = eval_values().size();
    php_rt_stack& ops = php_rt_state.op_stk;
    if (inverts && qz_token_is_sep(cur, qz_engine_sleft_handle) && eval_opens_group()) {
      group_inverts.emplace_back(ops.size(), inverts);
      inverts = 0;
    }
    if ((short_array ? walk.open_array_literal(cur) : walk.dispatch(cur, pos)) == STEP_ABORT) {
      aborted = true;
      break;
    }
    /* A pending "~" applies to the value the token just put down. */
    for (; inverts && eval_values().size() > before; inverts--) eval_bitwise_not(cur->lineno);
    if (__builtin_expect(spread, 0) && eval_values().size() > before && eval_values().back()) {
      eval_values().back()->value.spare2 |= QZ_VALUE_SPREAD;
      spread = false;
    }
    if (__builtin_expect(reference, 0) && eval_values().size() > before && eval_values().back()) {
      eval_values().back()->value.spare2 |= QZ_VALUE_REFERENCE;
      reference = false;
    }
    /* A ")" that closed a group under "~" (or the call a group's value
     * made) hands its value over; a stack cut below a group's size by
     * unbalanced brackets drops that group's wait. */
    while (!group_inverts.empty() && group_inverts.back().first >= ops.size()) {
      if (group_inverts.back().first == ops.size() && qz_token_is_sep(cur, qz_engine_sright_handle))
        for (unsigned long k = 0; k < group_inverts.back().second; k++)
          eval_bitwise_not(cur->lineno);
      group_inverts.pop_back();
    }
    if (signs && eval_values().size() > before) {
      eval_apply_sign(cur->lineno, negative);
      signs = 0;
      negative = false;
    }
  }

  if (aborted)
    value = php_rt_state.data_stk.empty() ? nullptr : php_rt_state.data_stk.back();
  else
    value = walk.drain();
  _qz_token* result = value ? qz_token_clone(value) : nullptr;
  if (qz_string_refused_long()) php_call_limit_reached(PHP_LIMIT_STRING_LENGTH, php_lex_cur_lineno);
  php_clear_rt_stk();
  eval_set_depth(0);
  return result;
}
