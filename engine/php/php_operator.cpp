/*
 * The operator table, the classification of the lexer's collected text, and
 * the balanced-pair search over token lists.
 *
 * The table decides two things: which character runs the lexer keeps together
 * ("=" grows to "==" and "===") and how tightly the evaluator binds each
 * operator (a higher number binds tighter). A lone "&" is deliberately no
 * operator: it stays a one-character separator, so "&=" reads as "&" and "=".
 */

#include "php/php_operator.h"

#include "php/php_lex.h"
#include "runtime/qz_symtable.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#define PHP_OP(text, prec) {text, sizeof(text) - 1, prec}

/* Lookup order is table order; the first record of the right text wins. */
static const php_operator php_operator_table[] = {
    PHP_OP("+=", 2), PHP_OP("-=", 2), PHP_OP("*=", 2), PHP_OP("/=", 2), PHP_OP(".=", 2),
    PHP_OP("%=", 2), PHP_OP("=", 3),  PHP_OP("&=", 3), PHP_OP("|=", 3), PHP_OP("+", 4),
    PHP_OP("-", 4),  PHP_OP("*", 5),  PHP_OP("/", 5),  PHP_OP(".", 4),  PHP_OP("++", 4),
    PHP_OP("--", 4), PHP_OP("==", 4), PHP_OP("===", 4), PHP_OP("!=", 4), PHP_OP(">", 4),
    PHP_OP("<", 4),  PHP_OP("->", 3), PHP_OP(">=", 3), PHP_OP("<=", 3), PHP_OP("=>", 4),
    PHP_OP("&&", 2), PHP_OP("|", 2),  PHP_OP("||", 2), PHP_OP("!", 6),
};

#undef PHP_OP

const php_operator* php_lookup_operator(char* text) {
  if (!text) return nullptr;
  /* Every operator is one to three characters long and starts with one of
   * these; most words are rejected here without a table walk. */
  switch (text[0]) {
    case '+': case '-': case '*': case '/': case '.': case '%': case '=':
    case '&': case '|': case '!': case '<': case '>':
      break;
    default:
      return nullptr;
  }
  unsigned long n = std::strlen(text);
  if (n > 3) return nullptr;
  for (const php_operator& op : php_operator_table)
    if (op.length == n && std::memcmp(op.text, text, n) == 0) return &op;
  return nullptr;
}

static void accept_clear_buffer() {
  php_lex_temp_buff_idx = 0;
  php_lex_temp_buffer[0] = '\0';
}

/* Integer literals are read as base-10 longs from their leading digits. A
 * literal beyond the range of a long saturates at the largest long (the
 * standard strtol rule), never wraps or traps. */
static long accept_read_integer(const char* text) {
  int saved = errno;
  long v = std::strtol(text, nullptr, 10);
  errno = saved;
  return v;
}

_qz_token* php_accept(_token_type kind) {
  if (php_lex_temp_buff_idx == 0 && kind != TOKEN_LITERAL) {
    accept_clear_buffer();
    return nullptr;
  }
  _qz_token* tk = qz_token_alloc(php_lex_cur_lineno);
  if (!tk) {
    accept_clear_buffer();
    return nullptr;
  }
  tk->type = kind;
  char* text = php_lex_temp_buffer;
  if (kind == TOKEN_LITERAL) {
    tk->name = qz_engine_insert_sym(text);
    tk->value.type = TOKEN_LITERAL;
    tk->value.ptr = tk->name;
  } else if (strcasecmp(text, "true") == 0 || strcasecmp(text, "false") == 0) {
    tk->type = TOKEN_WORD;
    tk->value.type = TOKEN_INTEGER;
    tk->value.lval = (text[0] == 't' || text[0] == 'T') ? 1 : 0;
  } else {
    tk->name = qz_engine_insert_sym(text);
    tk->type = TOKEN_WORD;
    unsigned char first = static_cast<unsigned char>(text[0]);
    if (first >= '0' && first <= '9') {
      tk->type = TOKEN_INTEGER;
      tk->value.type = TOKEN_INTEGER;
      tk->value.lval = accept_read_integer(text);
    } else if (text[0] != '\0' && text[1] == '\0' && php_is_char_seperator(text[0])) {
      tk->type = TOKEN_SEPARATOR;
    }
    if (php_lookup_operator(text)) tk->type = TOKEN_OPERATOR;
  }
  accept_clear_buffer();
  return tk;
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
