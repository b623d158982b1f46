/*
 * The operator table and the balanced-pair search over token lists.
 *
 * The table decides two things: which character runs the lexer keeps together
 * ("=" grows to "==" and "===") and how tightly the evaluator binds each
 * operator (a higher number binds tighter). A lone "&" is deliberately no
 * operator: it stays a one-character separator, so "&=" reads as "&" and "=".
 */

#include "php/php_operator.h"

#include "common/qz_ascii.h"
#include "common/qz_limits.h"

#define PHP_OP(text, prec, php_prec) \
  { text, sizeof(text) - 1, prec, php_prec }

/* Lookup order is table order; the first record of the right text wins. The
 * second rank is PHP's own order, tightest first: "!" over "* /" over "+ -"
 * over "." ("++" and "--" rank with it) over "< > <= >=" over "== != === !=="
 * over "&" over "^" over "|" (the lone "&" and "^" rank by PHP_PRECEDENCE_AND
 * and _XOR) over "&&" over "||"; below those the ternary (ranked by the
 * evaluator), then assignments and "->" with their first ranks, and "=>"
 * loosest of all: an array item's key and value are whole expressions. */
static constexpr php_operator php_operator_table[] = {
    PHP_OP("+=", 2, 2),  PHP_OP("-=", 2, 2),   PHP_OP("*=", 2, 2),  PHP_OP("/=", 2, 2),
    PHP_OP(".=", 2, 2),  PHP_OP("%=", 2, 2),   PHP_OP("=", 3, 3),   PHP_OP("&=", 3, 3),
    PHP_OP("|=", 3, 3),  PHP_OP("+", 4, 13),   PHP_OP("-", 4, 13),  PHP_OP("*", 5, 14),
    PHP_OP("/", 5, 14),  PHP_OP(".", 4, 12),   PHP_OP("++", 4, 12), PHP_OP("--", 4, 12),
    PHP_OP("==", 4, 10), PHP_OP("===", 4, 10), PHP_OP("!=", 4, 10), PHP_OP("!==", 4, 10),
    PHP_OP(">", 4, 11),  PHP_OP("<", 4, 11),   PHP_OP("->", 3, 3),  PHP_OP(">=", 3, 11),
    PHP_OP("<=", 3, 11), PHP_OP("=>", 4, 0),   PHP_OP("&&", 2, 6),  PHP_OP("|", 2, 7),
    PHP_OP("||", 2, 5),  PHP_OP("!", 6, 15),
};

#undef PHP_OP

/* The lexer grows operator text up to QZ_OPERATOR_MAX_LENGTH characters, and
 * the evaluator ranks a pending call above every operator. */
static constexpr bool operator_table_fits() {
  for (const php_operator& op : php_operator_table)
    if (op.length > QZ_OPERATOR_MAX_LENGTH || op.precedence >= QZ_CALL_PRECEDENCE ||
        op.php_precedence >= QZ_CALL_PRECEDENCE)
      return false;
  return PHP_PRECEDENCE_XOR < QZ_CALL_PRECEDENCE && PHP_PRECEDENCE_AND < QZ_CALL_PRECEDENCE &&
         PHP_PRECEDENCE_MODULO < QZ_CALL_PRECEDENCE;
}
static_assert(operator_table_fits(), "operator longer than the lexer reads or ranked above a call");

static constexpr unsigned long PHP_OPERATORS =
    sizeof(php_operator_table) / sizeof(php_operator_table[0]);

/* The records by the first byte of their text: a lookup compares only those
 * that start with the text's first byte. */
static constexpr qz_ascii_first_index<PHP_OPERATORS> php_operator_by_first =
    qz_ascii_index_first_bytes<PHP_OPERATORS>(
        [](unsigned long i) { return php_operator_table[i].text[0]; });

const php_operator* php_lookup_operator(char* text) {
  if (!text) return nullptr;
  unsigned char i = php_operator_by_first.first[static_cast<unsigned char>(text[0])];
  if (i == QZ_ASCII_NO_ENTRY) return nullptr;
  /* The text's length, counted no further than one past the longest
   * operator. */
  unsigned long n = 1;
  while (n <= QZ_OPERATOR_MAX_LENGTH && text[n]) n++;
  if (n > QZ_OPERATOR_MAX_LENGTH) return nullptr;
  for (; i != QZ_ASCII_NO_ENTRY; i = php_operator_by_first.next[i]) {
    const php_operator& op = php_operator_table[i];
    if (op.length != n) continue;
    unsigned long k = 1; /* the first bytes are equal */
    while (k < n && op.text[k] == text[k]) k++;
    if (k == n) return &op;
  }
  return nullptr;
}

int php_lookup_tokenpair(_qz_token* list, char* open, char* close, _qz_token** open_out,
                         _qz_token** close_out) {
  unsigned long opened = 0, closed = 0;
  _qz_token* last_open = nullptr;
  for (_qz_token* t = list; t; t = t->next) {
    if (t->name == open) {
      last_open = t;
      opened++;
    }
    if (t->name == close) {
      closed++;
      if (opened != 0 && opened == closed) {
        if (open_out) *open_out = last_open;
        if (close_out) *close_out = t;
        return 1;
      }
    }
  }
  if (open_out) *open_out = nullptr;
  if (close_out) *close_out = nullptr;
  return 0;
}
