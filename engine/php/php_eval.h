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
  php_rt_stack arg_stk;     /* values of the open argument lists, each opened by a splitter */
  php_rt_stack data_stk;    /* values at statement level */
  php_rt_stack op_stk;      /* pending operators, "(", call tokens, array-access markers */
  php_rt_stack* cur_stk;    /* arg_stk while call_depth > 0, else data_stk */
  _qz_token* var_list;      /* head of the variable list; written by php_variable only */
  _qz_token* var_tail;      /* its last entry, for constant-time appends; likewise */
  unsigned long call_depth; /* argument lists and array accesses open in the statement */
};

/* The runtime stacks of the statement being evaluated and the variable list:
 * process-global, empty between statements, the list emptied at the end of
 * every scan. */
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

/* Evaluates the chain from first up to end (exclusive; null: to its end),
 * stopping at a ";" separator; tokens typed IGNORED are skipped. The chain
 * stays the caller's; the evaluator may retype and rename its tokens (call
 * marking, "${" and "{...}" rewriting). Returns a clone of the statement's
 * value, released by the caller with qz_token_free, or null when there is
 * none. Every call met is reported through php_call_wrapper on the way; a
 * statement nested deeper than QZ_MAX_CALL_DEPTH, or whose operands run
 * short, is abandoned where it stands. The stacks are empty afterwards. */
QZ_EXPORT _qz_token* php_eval_expr(_qz_token* first, _qz_token* end);
/* Applies the operator named by op to the operands it pops off the current
 * value stack ("=>" off the argument stack). Returns a new INTEGER or STRING
 * token for arithmetic, comparison and ".", the assigned target (a
 * variable's entry) for "=" and ".=", a new pair token for "=>", and null for
 * "++", "--" (applied in place), any other name and a null op. Sets *err to 1
 * when a popped operand is a null entry, when arithmetic finds fewer than two
 * operands, or when "." or "=>" cannot build its result; the caller then
 * abandons the statement. Other operators short of operands return null and
 * leave *err alone. Result tokens belong to the scan. */
QZ_EXPORT _qz_token* php_eval_operator(_qz_token* op, unsigned char* err);
/* The arithmetic and comparison part of php_eval_operator: "+ - * /" on the
 * operands' integers (wrapping, a zero divisor giving 0), "> < >= <="
 * compared unsigned, "==" (texts ignoring case when the right operand is a
 * LITERAL, else integers) and "!=". Returns a new INTEGER token on op's line;
 * null with *err set when fewer than two operands are there, null alone when
 * no token can be had. */
QZ_EXPORT _qz_token* php_eval_math_operator(_qz_token* op, unsigned char* err);
/* Pushes a new argument splitter on the current value stack: it marks where
 * an argument list begins (a null entry when no token can be had). */
QZ_EXPORT void qz_push_arg_splitter();
/* Pops the top of the argument stack, the current value stack (arg_stk while
 * a call is open, else data_stk), the statement-level stack whatever the
 * depth, or the operator stack. Null when that stack is empty. The caller
 * gets the token as it lay there: no copy is made and nothing is released. */
QZ_EXPORT _qz_token* qz_pop_rt_arg();
QZ_EXPORT _qz_token* qz_pop_rt_data();
QZ_EXPORT _qz_token* qz_pop_rt_data_ever();
QZ_EXPORT _qz_token* qz_pop_rt_op();
/* Empties the three stacks: the value stacks' tokens, which the evaluator
 * made, are released; of the operator stack only the evaluator's own tokens
 * are, the statement's tokens stay with the driver. The call depth is left
 * as it is. */
QZ_EXPORT void php_clear_rt_stk();
/* Releases the list from `list` (qz_token_free): tokens the evaluator made
 * for one use that no one holds any more, such as the arguments of a call
 * whose result copied what they held. */
void php_eval_release(_qz_token* list);
/* php_eval_expr calls running now (a built-in that evaluates on its own
 * nests a second): 0 between two statements of the driver. */
unsigned long php_eval_nesting();

/* 64-bit two's-complement arithmetic that never traps: results wrap. div
 * truncates toward zero, gives 0 for a zero divisor and wraps the one
 * quotient that does not fit (the most negative value by -1). */
QZ_EXPORT long php_add_long(long a, long b);
QZ_EXPORT long php_sub_long(long a, long b);
QZ_EXPORT long php_mul_long(long a, long b);
QZ_EXPORT long php_div_long(long a, long b);
QZ_EXPORT long php_max_long(long a, long b);
QZ_EXPORT long php_min_long(long a, long b);

#endif
