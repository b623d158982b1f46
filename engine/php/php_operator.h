#ifndef PHP_OPERATOR_H
#define PHP_OPERATOR_H

/*
 * The operator table with its precedences, and a balanced-pair search over
 * token lists.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

struct php_operator {
  const char* text;
  unsigned long length;
  int precedence; /* higher binds tighter */
  /* The rank PHP gives the operator, read by the extended evaluator. */
  int php_precedence;
};

/* PHP's ranks for the lone "^" and "&" between two values, which the lexer
 * leaves separators (so they have no record): between "|" and the
 * comparisons, "&" the tighter. */
static constexpr int PHP_PRECEDENCE_XOR = 8;
static constexpr int PHP_PRECEDENCE_AND = 9;
/* PHP's rank for "%", a separator to the lexer too: that of "*" and "/". */
static constexpr int PHP_PRECEDENCE_MODULO = 14;

/* The record whose text equals text (same bytes, same length), or null. The
 * pointer is valid for the life of the process. */
QZ_EXPORT const php_operator* php_lookup_operator(char* text);
/* Walks list for the first token named close (interned names, compared by
 * pointer) that balances every token named open before it. Then sets
 * *close_out to it and *open_out to the last open met before it (the
 * innermost, which need not be the one it balances) and returns 1; else sets
 * both to null and returns 0. Either out pointer may be null. */
QZ_EXPORT int php_lookup_tokenpair(_qz_token* list, char* open, char* close, _qz_token** open_out,
                                   _qz_token** close_out);

#endif
