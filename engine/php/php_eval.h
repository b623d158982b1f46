#ifndef PHP_EVAL_H
#define PHP_EVAL_H

/*
 * Runtime stacks and the expression evaluator: one statement at a time is
 * reduced, shunting-yard style, with an operator stack and two value stacks.
 * Its real product is the stream of calls it hands to php_call_wrapper.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

#include <vector>

typedef std::vector<_qz_token*> php_rt_stack;

struct php_rt_state_t {
  php_rt_stack arg_stk;  /* values of the open argument lists, each opened by a splitter */
  php_rt_stack data_stk; /* values at statement level */
  php_rt_stack op_stk;   /* pending operators, "(", call tokens, array-access markers */
  php_rt_stack* cur_stk; /* arg_stk while call_depth > 0, else data_stk */
  _qz_token* var_list;   /* head of the variable list; written by php_variable only */
  _qz_token* var_tail;   /* its last entry, for constant-time appends; likewise */
  unsigned long call_depth;
};

QZ_EXPORT extern php_rt_state_t php_rt_state;

/* Saved runtime stacks of an outer statement while a nested run works. */
struct php_rt_saved {
  php_rt_stack arg_stk, data_stk, op_stk;
  bool cur_is_arg;
  unsigned long call_depth;
};
/* Moves the stacks and call depth out (the state is left empty, depth 0). */
void php_rt_save(php_rt_saved* saved);
/* Drops whatever a nested run left and puts the saved state back. */
void php_rt_restore(php_rt_saved* saved);

/* Evaluates the chain from first up to end (exclusive; null: to its end);
 * returns a clone of the statement's value, released by the caller with
 * qz_token_free, or null. The stacks are empty afterwards. */
QZ_EXPORT _qz_token* php_eval_expr(_qz_token* first, _qz_token* end);
QZ_EXPORT _qz_token* php_eval_operator(_qz_token* op, unsigned char* err);
QZ_EXPORT _qz_token* php_eval_math_operator(_qz_token* op, unsigned char* err);
QZ_EXPORT void qz_push_arg_splitter();
QZ_EXPORT _qz_token* qz_pop_rt_arg();
QZ_EXPORT _qz_token* qz_pop_rt_data();
QZ_EXPORT _qz_token* qz_pop_rt_data_ever();
QZ_EXPORT _qz_token* qz_pop_rt_op();
QZ_EXPORT void php_clear_rt_stk();
/* 64-bit two's-complement arithmetic that never traps. */
QZ_EXPORT long php_add_long(long a, long b);
QZ_EXPORT long php_sub_long(long a, long b);
QZ_EXPORT long php_mul_long(long a, long b);
QZ_EXPORT long php_div_long(long a, long b);
QZ_EXPORT long php_max_long(long a, long b);
QZ_EXPORT long php_min_long(long a, long b);

#endif
