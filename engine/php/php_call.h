#ifndef PHP_CALL_H
#define PHP_CALL_H

/*
 * Call reporting: settles a called function's name, takes its arguments off
 * the argument stack, runs the emulated built-in and reports the call with
 * its argument texts to the host's call filter.
 */

#include <qzengine/export.h>
#include <qzengine/qz_io_handle.h>

#include "runtime/qz_token.h"

/* Performs, reports and evaluates one call whose arguments are on arg_stk;
 * returns the built-in's result or a new integer 0 token (null only when that
 * cannot be allocated). io is not used. */
QZ_EXPORT _qz_token* php_call_wrapper(_qz_token* call, qz_io_handle* io);
/* True when r is the result of the last php_call_wrapper and was made for
 * it alone (an array literal's array): nothing else holds it, so the
 * evaluator may keep it as it is instead of a copy. */
bool php_call_result_is_own(const _qz_token* r);

/* Line of the call whose built-in is running (0 outside one): code that a
 * built-in evaluates starts counting lines there. */
extern unsigned long php_call_line;

/* 1 once extract has been called since the latest driver run began (nested
 * runs included): from then on an argument without a value reads as request
 * data and a call through a variable without a value counts as a call of
 * eval. Cleared by php_call_run_begin. */
QZ_EXPORT extern unsigned char php_extract_called;

/* Whether a "(" right after prev opens prev's argument list (prev is then
 * called). Without QZ_OPT_INTERPRETER_REACH: always. With it, a "(" at the
 * start of a statement, after an operator, after a separator or operator
 * text, or after a keyword that takes an expression (echo, print, return,
 * and the word operators) groups an expression; after ")" and "]" it calls
 * the value just made, which the evaluator does without marking. */
bool php_paren_opens_call(const _qz_token* prev);

/* The token a call argument stands for, as built-ins and the call filter see
 * it: the variable entry named as the argument (php_reference_globals, which
 * makes it on first reference). With extended reading a quoted text stands
 * for itself: 'c' is the text "c" whatever a constant or property named c
 * holds. */
_qz_token* php_call_arg_entry(_qz_token* arg);

/* While above 0, calls are made but not reported: code walked again only
 * for the values it computes (the later rounds of an emulated loop). */
extern unsigned long php_call_quiet;

/* Starts the call state of a driver run (the driver calls it at the start of
 * every run, nested ones included): extract has not been called. */
void php_call_run_begin();

/* The limits whose reaching is reported; each names itself to the call
 * filter with the text of the same name (see QZ_OPT_LIMIT_FINDINGS). */
enum php_limit_kind {
  PHP_LIMIT_NESTED_RUNS,      /* "nested_runs" */
  PHP_LIMIT_RUNS_PER_SCAN,    /* "runs_per_scan" */
  PHP_LIMIT_EVAL_BYTES,       /* "eval_bytes" */
  PHP_LIMIT_EXPLODE_PIECES,   /* "explode_pieces" */
  PHP_LIMIT_CALL_DEPTH,       /* "call_depth" */
  PHP_LIMIT_STRING_LENGTH,    /* "string_length" */
  PHP_LIMIT_STATEMENT_TOKENS, /* "statement_tokens" */
  PHP_LIMIT_FUNCTION_WALKS,   /* "function_walks" */
  PHP_LIMIT_KIND_COUNT
};

/* Records that limit stopped a walk at line: QZ_SCAN_LIMIT_REACHED always;
 * under QZ_OPT_LIMIT_FINDINGS also, the first time per scan for this kind, a
 * call named QZ_LIMIT_MARKER whose one argument is the limit's text. */
void php_call_limit_reached(php_limit_kind limit, unsigned long line);
/* Forgets which limits were reported: every scan reports its own. */
void php_call_limits_reset();

#endif
