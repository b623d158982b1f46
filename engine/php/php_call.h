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

#include <vector>

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

/* ---- Loops (extended reading) ----
 * Calls made while a loop body is walked are made once per round in PHP: a
 * call of a function of a short list (mail and its relatives) made inside
 * one is also reported, after itself, as a call named
 * PHP_CALL_IN_LOOP_MARKER whose arguments are the function's name and then
 * its own arguments. */
#define PHP_CALL_IN_LOOP_MARKER "qz_call_in_loop"

/* ---- Names spelled one character at a time (extended reading) ----
 * A call whose callee is a text of at least PHP_CALL_SPELLED_MIN_LENGTH
 * characters, each picked from a longer text by its position and joined to
 * the others alone ("$f = $s[18] . $s[24] . $s[18]; $f(...)"), is also
 * reported, after itself, as a call named PHP_CALL_SPELLED_MARKER whose
 * arguments are the function's name and then its own arguments: an
 * obfuscator's name table. */
#define PHP_CALL_SPELLED_MARKER "qz_spelled_callee"
/* Fewer picks are too few to hide a name: "$c[0] . $c[1]" of a colour. */
#define PHP_CALL_SPELLED_MIN_LENGTH 3

/* ---- Files written, then run (extended reading) ----
 * A file the script writes (file_put_contents, with FILE_APPEND adding to
 * it; fopen, then fwrite or fputs on the handle) and later includes under
 * the same path runs the text it wrote: the include is also reported, after
 * itself, as a call named PHP_CALL_INCLUDES_WRITTEN_MARKER whose arguments
 * are that text and the path. */
#define PHP_CALL_INCLUDES_WRITTEN_MARKER "qz_include_written"
/* What the handle of a file opened for writing reads as, before the path
 * (the built-in fopen makes it; fwrite and fputs are followed through it). */
#define PHP_CALL_WRITE_HANDLE_PREFIX "$_FILE_HANDLE "

/* Loop bodies being walked now, the calls of functions they make included. */
extern unsigned long php_call_loop_depth;

/* Counts a loop body as walked for its lifetime: the driver holds one over
 * the rounds of a while, do or for loop. */
struct php_call_loop_scope {
  php_call_loop_scope() { php_call_loop_depth++; }
  ~php_call_loop_scope() { php_call_loop_depth--; }
  php_call_loop_scope(const php_call_loop_scope&) = delete;
  php_call_loop_scope& operator=(const php_call_loop_scope&) = delete;
};

/* The foreach bodies of one run, whose statements the run reads as its own:
 * the driver calls opened() once it has read a foreach header, and see()
 * with every token of the run that is no literal. The body is the "{ ... }"
 * group that follows, the statements up to "endforeach" after a ":", or
 * else one statement, to its ";" (or to a "}" that closes the group around
 * the loop). Each open body counts in php_call_loop_depth; the run's end
 * closes those it cut short. */
class php_call_foreach_bodies {
 public:
  php_call_foreach_bodies() = default;
  ~php_call_foreach_bodies();
  php_call_foreach_bodies(const php_call_foreach_bodies&) = delete;
  php_call_foreach_bodies& operator=(const php_call_foreach_bodies&) = delete;
  void opened();
  /* Takes tk, the next token of the run, into account. Outside every body,
   * with none about to begin, there is nothing to do (inline: most tokens). */
  void see(const _qz_token* tk) {
    if (!open_.empty() || pending_ || closing_) see_in_body(tk);
  }

 private:
  void see_in_body(const _qz_token* tk);
  enum kind { BRACED, COLON, STATEMENT };
  struct body {
    kind how;
    unsigned long depth; /* brace depth of the run inside the body */
  };
  void close_last();
  std::vector<body> open_;
  unsigned long depth_ = 0;   /* "{" not yet closed in the run */
  unsigned long pending_ = 0; /* headers read whose body has not begun */
  unsigned long closing_ = 0; /* bodies the last ";" ended, closed at the next token */
};

/* Extended reading: what the first argument of a code or command function
 * (eval, system...) is reported as when it is a variable the script's
 * top-level code never assigned, before anything that might have given it
 * a value (an include, extract, a variable named at run time, a write
 * through $GLOBALS): old PHP made the request's items such variables. So
 * is an item of such an array variable ("$cmd['c']"). Not in function
 * bodies, loop rounds or evaluated code. */
#define PHP_CALL_REQUEST_GLOBAL_MARKER "$_REQUEST_DATA"

/* Extended reading: the driver calls this before a top-level statement
 * "$v = clean($v)" runs (clean one of the text cleaners php_driver knows).
 * When $v is then a variable nothing could have set, as for
 * PHP_CALL_REQUEST_GLOBAL_MARKER, it was one of old PHP's request globals:
 * a code or command function later handed $v, while that statement's value
 * is its only one, reads it as request data. */
void php_call_note_self_clean(_qz_token* var);

/* Starts the call state of a driver run (the driver calls it at the start of
 * every run, nested ones included): extract has not been called; the
 * top-level run of a scan also forgets what gave variables values. */
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
