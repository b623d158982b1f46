/*
 * Extended reading of strings (QZ_OPT_INTERPRETER_REACH): see
 * php_lex_string.h. The lexer calls php_lex_string_read when it meets an
 * opening quote or a heredoc label, and hands out the queued pieces.
 */

#include "php/php_lex_string.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "runtime/qz_symtable.h"
#include "runtime/qz_token.h"
#include "source/qz_source.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

/* Tokens a queue keeps back for the end of a string: the "." and text piece
 * after the last variable, and the ")" of a backtick command. */
static const unsigned long LEX_QUEUE_RESERVE = 3;
/* Most tokens one simple variable in a string makes: ".", the variable and
 * an index "[", key, "]". */
static const unsigned long LEX_SIMPLE_VAR_TOKENS = 5;
/* Characters a string reader may give back to itself at once: a "->" and
 * the character after it. */
static const unsigned LEX_PUSHBACK = 4;
/* Digits that every long holds: a longer number key is text. */
static const unsigned long LEX_LONG_DIGITS = 18;
/* Bytes of a string's text kept in the reader's own record; a longer text
 * moves to the heap, growing twofold. */
static const unsigned long LEX_TEXT_FIRST = 256;
static_assert(LEX_TEXT_FIRST <= QZ_MAX_STRING_LENGTH + 1, "a text that fits is never cut");

/* Tokens of a string already read and not yet handed out. Empty whenever the
 * driver ends a statement, as a ";" is never among them, so a collection
 * never misses them. Emptied for a new scan (its tokens go with the pool's
 * reset) and set aside during a nested read of another text. */
static php_lex_queue php_lex_pending;

php_lex_queue& php_lex_string_queue() { return php_lex_pending; }

static unsigned long lex_queue_room() { return QZ_LEX_STRING_PIECES - php_lex_pending.count; }

unsigned long php_lex_pending_count() { return php_lex_pending.count; }

_qz_token* php_lex_pending_at(unsigned long i) {
  if (i >= php_lex_pending.count) return nullptr;
  return php_lex_pending.tokens[(php_lex_pending.first + i) % QZ_LEX_STRING_PIECES];
}

/* Appends tk to the queue; false (tk released) when the queue is full. */
static bool lex_queue_push(_qz_token* tk) {
  if (!tk) return false;
  if (php_lex_pending.count >= QZ_LEX_STRING_PIECES) {
    qz_token_free(tk);
    return false;
  }
  unsigned long at = (php_lex_pending.first + php_lex_pending.count) % QZ_LEX_STRING_PIECES;
  php_lex_pending.tokens[at] = tk;
  php_lex_pending.count++;
  return true;
}

/* The oldest queued token, or null when none waits. */
static _qz_token* lex_queue_pop() {
  if (php_lex_pending.count == 0) return nullptr;
  _qz_token* tk = php_lex_pending.tokens[php_lex_pending.first];
  php_lex_pending.first = (php_lex_pending.first + 1) % QZ_LEX_STRING_PIECES;
  php_lex_pending.count--;
  return tk;
}

_qz_token* php_lex_string_next() { return lex_queue_pop(); }

/* A literal token of text (NUL-terminated, interned for the scan); null when
 * no token can be had. */
static _qz_token* lex_make_literal(char* text) {
  _qz_token* tk = qz_token_alloc(php_lex_cur_lineno);
  if (!tk) return nullptr;
  tk->type = TOKEN_LITERAL;
  tk->name = qz_engine_insert_sym(text);
  tk->value.type = TOKEN_LITERAL;
  tk->value.ptr = tk->name;
  return tk;
}

/* Extended reading: a literal whose text holds a NUL byte ("\x00", "\0" or
 * the byte itself) keeps every byte: the token becomes a value already
 * computed, as an operator's result is (a word without a name holding a
 * string of len bytes), so a name hidden by XOR with a key that meets one of
 * its letters comes out whole. A literal's value is a C string, which would
 * end at the first NUL. Without the extended reading, or when no string can
 * be had, the token stays the literal of the text up to the NUL. */
static void lex_keep_nul_bytes(_qz_token* tk, const char* text, size_t len) {
  if (!tk || !(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || std::strlen(text) == len) return;
  if (_qz_string* bytes = qz_string_alloc_n(text, len)) {
    tk->type = TOKEN_WORD;
    tk->name = nullptr;
    tk->value.type = TOKEN_STRING;
    tk->value.ptr = bytes;
  }
}

static bool lex_is_eof(int ch) { return ch == QZ_SOURCE_END; }

/* Reads a source for one string, with a small stack of characters given back
 * to the reader rather than to the source. Lines are counted as characters
 * come from the source. */
struct lex_reader {
  qz_io_handle* source;
  int back[LEX_PUSHBACK];
  unsigned nback;
  bool ended; /* the source has ended: every later read gives the end */
};

/* The next byte (0 to 255), or QZ_SOURCE_END. */
static int lex_rd_get(lex_reader* r) {
  if (r->nback > 0) return r->back[--r->nback];
  if (r->ended) return QZ_SOURCE_END;
  int ch = qz_source_next(r->source);
  if (lex_is_eof(ch)) {
    r->ended = true;
    return QZ_SOURCE_END;
  }
  ch &= 0xFF;
  if (ch == '\n') php_lex_cur_lineno++;
  return ch;
}

/* Gives ch back to be read next; the end of input is not given back. */
static void lex_rd_unget(lex_reader* r, int ch) {
  if (ch == QZ_SOURCE_END || r->nback >= LEX_PUSHBACK) return;
  r->back[r->nback++] = ch;
}

/* Ends the string's reading: characters given back return to the source (a
 * newline uncounted), and a source met at its end is remembered as ended. */
static void lex_rd_finish(lex_reader* r) {
  while (r->nback > 0) {
    if (r->back[--r->nback] == '\n') php_lex_cur_lineno--;
    qz_source_ungetc(r->source);
  }
  if (r->ended) php_lex_note_ended(r->source);
}

/* The text of the piece being collected, in a buffer that grows as needed.
 * kept counts the characters of the whole string: past QZ_MAX_STRING_LENGTH
 * (or when the buffer cannot grow) characters are dropped and capped is set. */
struct lex_text {
  char first[LEX_TEXT_FIRST]; /* holds the text while it fits */
  char* data = first;         /* first, or a heap block once the text outgrew it */
  unsigned long len = 0;
  unsigned long size = LEX_TEXT_FIRST;
  unsigned long kept = 0;
  bool capped = false;
  lex_text() = default;
  lex_text(const lex_text&) = delete;
  lex_text& operator=(const lex_text&) = delete;
  ~lex_text() {
    if (data != first) std::free(data);
  }
};

static void lex_text_add(lex_text* t, char c) {
  if (t->kept >= QZ_MAX_STRING_LENGTH) {
    t->capped = true;
    return;
  }
  if (t->len + 1 >= t->size) {
    unsigned long size = 2 * t->size;
    if (size > QZ_MAX_STRING_LENGTH + 1) size = QZ_MAX_STRING_LENGTH + 1;
    bool inline_text = t->data == t->first;
    char* grown = static_cast<char*>(inline_text ? std::malloc(size) : std::realloc(t->data, size));
    if (!grown) {
      qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
      t->capped = true;
      return;
    }
    if (inline_text) std::memcpy(grown, t->first, t->len);
    t->data = grown;
    t->size = size;
  }
  t->data[t->len++] = c;
  t->kept++;
}

static void lex_text_add_str(lex_text* t, const char* s, unsigned long n) {
  for (unsigned long i = 0; i < n; i++) lex_text_add(t, s[i]);
}

/* One string being read into pieces. */
struct lex_string {
  lex_reader rd;
  lex_text text;
  lex_str_kind kind;
  char quote;        /* the closing quote; none for heredocs */
  const char* label; /* heredocs: the closing label */
  unsigned long label_len;
  unsigned long line_mark; /* heredocs: where the text ends if the label follows */
  unsigned long pieces;    /* text pieces and variables queued */
  bool full;               /* the queue has no room for more variables */
};

static bool lex_str_interpolates(const lex_string* s) {
  return s->kind == LEX_STR_DOUBLE || s->kind == LEX_STR_BACKTICK || s->kind == LEX_STR_HEREDOC;
}

/* Queues tk inside a string, keeping LEX_QUEUE_RESERVE slots free; a token
 * that finds no room is released and the string takes no more variables. */
static void lex_str_push(lex_string* s, _qz_token* tk) {
  if (!tk) return;
  if (lex_queue_room() <= LEX_QUEUE_RESERVE) {
    s->full = true;
    qz_token_free(tk);
    return;
  }
  lex_queue_push(tk);
}

/* Queues the text collected so far as a piece, joined to the one before by
 * "."; an empty text makes no piece. reserve: the piece may take the slots
 * kept back for the end of the string. */
static void lex_str_flush(lex_string* s, bool reserve) {
  if (s->text.len == 0) return;
  s->text.data[s->text.len] = '\0'; /* lex_text_add leaves room for it */
  _qz_token* tk = lex_make_literal(s->text.data);
  lex_keep_nul_bytes(tk, s->text.data, s->text.len);
  s->text.len = 0;
  if (!tk) return;
  if (s->pieces > 0) {
    _qz_token* cat = php_lex_word_of(".");
    if (reserve)
      lex_queue_push(cat);
    else
      lex_str_push(s, cat);
  }
  if (reserve)
    lex_queue_push(tk);
  else
    lex_str_push(s, tk);
  s->pieces++;
}

/* Starts a variable's tokens: the text before it becomes a piece and the
 * variable is joined to it by ".". */
static void lex_str_begin_var(lex_string* s) {
  lex_str_flush(s, false);
  if (s->pieces > 0) lex_str_push(s, php_lex_word_of("."));
  s->pieces++;
}

/* Letters, '_' and bytes above 0x7F: what a variable name starts with. */
static bool lex_is_name_start(int ch) {
  return ch != QZ_SOURCE_END && php_lex_is_word_byte(static_cast<char>(ch)) &&
         !(ch >= '0' && ch <= '9');
}

/* Reads the rest of a name whose first character is first into name, kept up
 * to QZ_LEX_TOKEN_MAX characters; returns the character after it, unread. */
static int lex_str_read_name(lex_string* s, int first, std::string* name) {
  int ch = first;
  while (ch != QZ_SOURCE_END && php_lex_is_word_byte(static_cast<char>(ch))) {
    if (name->size() < QZ_LEX_TOKEN_MAX) name->push_back(static_cast<char>(ch));
    ch = lex_rd_get(&s->rd);
  }
  return ch;
}

/* A word token ($name, a number, a bare word) as the lexer makes it of text. */
static _qz_token* lex_word_token(const std::string& text) { return php_lex_word_of(text.c_str()); }

/* The key of "$name[key]": a name (a string key), a number, or a variable.
 * Digits without a leading zero that fit a long are an integer, as in PHP;
 * other keys are text. Returns the token, or null when the key is malformed
 * (then *raw holds what was read, and the character that ended it is given
 * back). */
static _qz_token* lex_str_simple_key(lex_string* s, std::string* raw) {
  int ch = lex_rd_get(&s->rd);
  bool var = ch == '$';
  bool negative = ch == '-';
  if (var || negative) {
    raw->push_back(static_cast<char>(ch));
    ch = lex_rd_get(&s->rd);
  }
  bool digits = ch >= '0' && ch <= '9';
  if ((var && !lex_is_name_start(ch)) || (negative && !digits) ||
      (!digits && !lex_is_name_start(ch))) {
    lex_rd_unget(&s->rd, ch);
    return nullptr;
  }
  ch = lex_str_read_name(s, ch, raw);
  bool number = raw->find_first_not_of("-0123456789") == std::string::npos;
  if (ch != ']' || (digits && !number)) {
    lex_rd_unget(&s->rd, ch);
    return nullptr;
  }
  std::string key = negative ? raw->substr(1) : *raw;
  if (var ||
      (number && !negative && key.size() <= LEX_LONG_DIGITS && (key.size() == 1 || key[0] != '0')))
    return lex_word_token(*raw);
  return lex_make_literal(&(*raw)[0]);
}

/* After "$name" in a string: "[key]" indexes the variable, "->prop" is read
 * and the variable stands for it (objects are not followed); anything else is
 * text again. */
static void lex_str_simple_tail(lex_string* s) {
  int ch = lex_rd_get(&s->rd);
  if (ch == '[') {
    std::string raw;
    _qz_token* key = lex_str_simple_key(s, &raw);
    if (!key) {
      lex_text_add(&s->text, '[');
      lex_text_add_str(&s->text, raw.data(), raw.size());
      return;
    }
    lex_str_push(s, php_lex_word_of("["));
    lex_str_push(s, key);
    lex_str_push(s, php_lex_word_of("]"));
    return;
  }
  if (ch == '-') {
    int gt = lex_rd_get(&s->rd);
    if (gt == '>') {
      int first = lex_rd_get(&s->rd);
      if (lex_is_name_start(first)) {
        std::string prop;
        lex_rd_unget(&s->rd, lex_str_read_name(s, first, &prop));
        return;
      }
      lex_rd_unget(&s->rd, first);
    }
    lex_rd_unget(&s->rd, gt);
  }
  lex_rd_unget(&s->rd, ch);
}

/* A quoted key inside "{$...}": read to its closing quote, a backslash taking
 * the next character as it is; no variables. Kept up to QZ_LEX_TOKEN_MAX. */
static _qz_token* lex_str_inner_literal(lex_string* s, int quote) {
  std::string text;
  for (;;) {
    int ch = lex_rd_get(&s->rd);
    if (ch == QZ_SOURCE_END || ch == quote) break;
    if (ch == '\\') {
      ch = lex_rd_get(&s->rd);
      if (ch == QZ_SOURCE_END) break;
    }
    if (text.size() < QZ_LEX_TOKEN_MAX) text.push_back(static_cast<char>(ch));
  }
  return lex_make_literal(&text[0]);
}

/* The code of "{$...}" or "${name...}" after its variable, up to the "}" that
 * closes it: words, numbers, quoted keys and separators become tokens as in
 * code, "->prop" is dropped (the object stands for its property), blanks and
 * anything else are skipped. Nested strings are not split again, so this
 * never recurses. */
static void lex_str_complex_rest(lex_string* s) {
  unsigned long depth = 0;
  for (;;) {
    int ch = lex_rd_get(&s->rd);
    if (ch == QZ_SOURCE_END) return;
    if (ch == '}') {
      if (depth == 0) return;
      depth--;
    } else if (ch == '{') {
      depth++;
    } else if (ch == '\'' || ch == '"') {
      lex_str_push(s, lex_str_inner_literal(s, ch));
    } else if (ch == '$' || php_lex_is_word_byte(static_cast<char>(ch))) {
      std::string word(1, static_cast<char>(ch));
      int next = lex_rd_get(&s->rd);
      while (next == '$') {
        if (word.size() < QZ_LEX_TOKEN_MAX) word.push_back('$');
        next = lex_rd_get(&s->rd);
      }
      lex_rd_unget(&s->rd, lex_str_read_name(s, next, &word));
      lex_str_push(s, lex_word_token(word));
    } else if (ch == '-') {
      int gt = lex_rd_get(&s->rd);
      if (gt == '>') {
        std::string prop;
        lex_rd_unget(&s->rd, lex_str_read_name(s, lex_rd_get(&s->rd), &prop));
        continue;
      }
      lex_rd_unget(&s->rd, gt);
      lex_str_push(s, php_lex_word_of("-"));
    } else if (php_lex_is_separator(static_cast<char>(ch)) && ch != ' ') {
      if (ch == '[' || ch == '(') depth++;
      if ((ch == ']' || ch == ')') && depth > 0) depth--;
      const char one[2] = {static_cast<char>(ch), '\0'};
      lex_str_push(s, php_lex_word_of(one));
    }
  }
}

/* A "$" in a string (already read): "$name" with its tail, or "${name}" and
 * "${name[...]}"; true when it made a variable. False leaves the "$" and what
 * follows to be read as text; so does a queue without room for a variable. */
static bool lex_str_dollar(lex_string* s) {
  if (lex_queue_room() < LEX_SIMPLE_VAR_TOKENS + LEX_QUEUE_RESERVE) {
    s->full = true;
    return false;
  }
  int ch = lex_rd_get(&s->rd);
  bool braced = ch == '{'; /* "${name...}" */
  int first = braced ? lex_rd_get(&s->rd) : ch;
  if (!lex_is_name_start(first)) {
    if (braced) lex_rd_unget(&s->rd, first);
    lex_rd_unget(&s->rd, ch);
    return false;
  }
  std::string name = "$";
  lex_rd_unget(&s->rd, lex_str_read_name(s, first, &name));
  lex_str_begin_var(s);
  lex_str_push(s, lex_word_token(name));
  if (braced)
    lex_str_complex_rest(s);
  else
    lex_str_simple_tail(s);
  return true;
}

/* A "{" in a string (already read): "{$" opens code up to its "}"; true when
 * it did. */
static bool lex_str_brace(lex_string* s) {
  if (lex_queue_room() < LEX_SIMPLE_VAR_TOKENS + LEX_QUEUE_RESERVE) {
    s->full = true;
    return false;
  }
  int ch = lex_rd_get(&s->rd);
  if (ch != '$') {
    lex_rd_unget(&s->rd, ch);
    return false;
  }
  lex_str_begin_var(s);
  lex_rd_unget(&s->rd, '$');
  lex_str_complex_rest(s);
  return true;
}

/* Appends code point cp (at most 0x10FFFF) as UTF-8. */
static void lex_text_add_utf8(lex_text* t, unsigned long cp) {
  if (cp < 0x80) {
    lex_text_add(t, static_cast<char>(cp));
  } else if (cp < 0x800) {
    lex_text_add(t, static_cast<char>(0xC0 | (cp >> 6)));
    lex_text_add(t, static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    lex_text_add(t, static_cast<char>(0xE0 | (cp >> 12)));
    lex_text_add(t, static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    lex_text_add(t, static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    lex_text_add(t, static_cast<char>(0xF0 | (cp >> 18)));
    lex_text_add(t, static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    lex_text_add(t, static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    lex_text_add(t, static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

static int lex_hex(int ch) {
  return ch == QZ_SOURCE_END ? QZ_ASCII_NOT_HEX : qz_ascii_hex_value(static_cast<char>(ch));
}

/* "\u{hex}" after its "u" (already read): the code point as UTF-8. Without
 * the "{", or with no digit, a value past 0x10FFFF or no closing "}", the
 * text stays as it was written. */
static void lex_str_unicode(lex_string* s) {
  int ch = lex_rd_get(&s->rd);
  if (ch != '{') {
    lex_text_add_str(&s->text, "\\u", 2);
    lex_rd_unget(&s->rd, ch);
    return;
  }
  std::string digits;
  unsigned long cp = 0;
  for (ch = lex_rd_get(&s->rd); lex_hex(ch) != QZ_ASCII_NOT_HEX; ch = lex_rd_get(&s->rd)) {
    if (digits.size() < QZ_LEX_TOKEN_MAX) digits.push_back(static_cast<char>(ch));
    if (cp <= 0x10FFFF) cp = cp * 16 + static_cast<unsigned long>(lex_hex(ch));
  }
  if (ch == '}' && !digits.empty() && cp <= 0x10FFFF) {
    lex_text_add_utf8(&s->text, cp);
    return;
  }
  lex_text_add_str(&s->text, "\\u{", 3);
  lex_text_add_str(&s->text, digits.data(), digits.size());
  lex_rd_unget(&s->rd, ch);
}

/* Where a heredoc body ends if the label starts the next line: before the
 * newline just added, and before a carriage return ahead of it. */
static void lex_str_mark_line(lex_string* s) {
  unsigned long at = s->text.len > 0 ? s->text.len - 1 : 0;
  if (at > 0 && s->text.data[at - 1] == '\r') at--;
  s->line_mark = at;
}

/* The escape after a backslash (already read) in a string that decodes them;
 * true when it took a newline (a heredoc line starts after it). An unknown
 * escape keeps its backslash. */
static bool lex_str_escape(lex_string* s) {
  lex_text* t = &s->text;
  int ch = lex_rd_get(&s->rd);
  switch (ch) {
    case QZ_SOURCE_END: lex_text_add(t, '\\'); return false;
    case 'n': lex_text_add(t, '\n'); return false;
    case 't': lex_text_add(t, '\t'); return false;
    case 'r': lex_text_add(t, '\r'); return false;
    case 'v': lex_text_add(t, '\v'); return false;
    case 'e': lex_text_add(t, '\x1B'); return false;
    case 'f': lex_text_add(t, '\f'); return false;
    case '\\':
    case '$': lex_text_add(t, static_cast<char>(ch)); return false;
    case 'u': lex_str_unicode(s); return false;
    case 'x': {
      int hi = lex_rd_get(&s->rd);
      if (lex_hex(hi) == QZ_ASCII_NOT_HEX) {
        lex_text_add_str(t, "\\x", 2);
        lex_rd_unget(&s->rd, hi);
        return false;
      }
      int value = lex_hex(hi);
      int lo = lex_rd_get(&s->rd);
      if (lex_hex(lo) != QZ_ASCII_NOT_HEX)
        value = value * 16 + lex_hex(lo);
      else
        lex_rd_unget(&s->rd, lo);
      lex_text_add(t, static_cast<char>(value));
      return false;
    }
    default: break;
  }
  if (ch >= '0' && ch <= '7') {
    int value = ch - '0';
    for (int i = 0; i < 2; i++) {
      int d = lex_rd_get(&s->rd);
      if (d < '0' || d > '7') {
        lex_rd_unget(&s->rd, d);
        break;
      }
      value = value * 8 + (d - '0');
    }
    lex_text_add(t, static_cast<char>(value & 0xFF));
    return false;
  }
  if (ch == s->quote && s->kind != LEX_STR_HEREDOC) {
    lex_text_add(t, static_cast<char>(ch));
    return false;
  }
  lex_text_add(t, '\\');
  lex_text_add(t, static_cast<char>(ch));
  if (ch != '\n') return false;
  lex_str_mark_line(s);
  return true;
}

/* At the start of a heredoc line: blanks, then the closing label followed by
 * no word character end the body (true; the newline before the label is not
 * part of it). Otherwise what was read is text and reading goes on. */
static bool lex_str_label_ends(lex_string* s) {
  int ch = lex_rd_get(&s->rd);
  while (ch == ' ' || ch == '\t') {
    lex_text_add(&s->text, static_cast<char>(ch));
    ch = lex_rd_get(&s->rd);
  }
  unsigned long i = 0;
  while (i < s->label_len && ch == static_cast<unsigned char>(s->label[i])) {
    i++;
    ch = lex_rd_get(&s->rd);
  }
  lex_rd_unget(&s->rd, ch);
  if (i == s->label_len && (ch == QZ_SOURCE_END || !php_lex_is_word_byte(static_cast<char>(ch)))) {
    if (s->line_mark < s->text.len) s->text.len = s->line_mark;
    return true;
  }
  lex_text_add_str(&s->text, s->label, i);
  return false;
}

/* Reads a string's body to its closing quote or label (or the end of input),
 * queueing its text pieces and variables. */
static void lex_str_body(lex_string* s) {
  bool heredoc = s->kind == LEX_STR_HEREDOC || s->kind == LEX_STR_NOWDOC;
  bool line_start = heredoc;
  s->line_mark = 0;
  for (;;) {
    if (line_start && lex_str_label_ends(s)) return;
    line_start = false;
    int ch = lex_rd_get(&s->rd);
    if (ch == QZ_SOURCE_END) return;
    char c = static_cast<char>(ch);
    if (!heredoc && c == s->quote) return;
    if (c == '\\' && s->kind == LEX_STR_SINGLE) {
      int next = lex_rd_get(&s->rd);
      if (next != '\\' && next != '\'') {
        lex_rd_unget(&s->rd, next);
        next = '\\';
      }
      lex_text_add(&s->text, static_cast<char>(next));
      continue;
    }
    if (c == '\\' && s->kind != LEX_STR_NOWDOC) {
      line_start = lex_str_escape(s) && heredoc;
      continue;
    }
    if (lex_str_interpolates(s) && !s->full) {
      if (c == '$' && lex_str_dollar(s)) continue;
      if (c == '{' && lex_str_brace(s)) continue;
    }
    lex_text_add(&s->text, c);
    if (c == '\n' && heredoc) {
      lex_str_mark_line(s);
      line_start = true;
    }
  }
}

_qz_token* php_lex_string_read(qz_io_handle* source, lex_str_kind kind, char quote,
                               const char* label, unsigned long label_len) {
  lex_string s;
  s.rd.source = source;
  s.rd.nback = 0;
  s.rd.ended = false;
  s.kind = kind;
  s.quote = quote;
  s.label = label;
  s.label_len = label_len;
  s.line_mark = 0;
  s.pieces = 0;
  s.full = false;
  if (kind == LEX_STR_BACKTICK) {
    lex_queue_push(php_lex_word_of("shell_exec"));
    lex_queue_push(php_lex_word_of("("));
  }
  lex_str_body(&s);
  lex_str_flush(&s, true);
  if (s.pieces == 0) {
    char empty[] = "";
    lex_queue_push(lex_make_literal(empty));
  }
  if (kind == LEX_STR_BACKTICK) lex_queue_push(php_lex_word_of(")"));
  lex_rd_finish(&s.rd);
  if (s.text.capped) php_call_limit_reached(PHP_LIMIT_STRING_LENGTH, php_lex_cur_lineno);
  return lex_queue_pop();
}
