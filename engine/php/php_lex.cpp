/*
 * The loose PHP lexer.
 *
 * Characters come one at a time from an input source; the lexer collects the
 * text of one token in a fixed global buffer, and php_accept classifies that
 * text into a token and empties the buffer. Outside PHP tags every character is skipped. Inside
 * code the lexer knows only separators, operators that grow one character at a time, quoted
 * strings, heredocs and three kinds of comments. Newlines, carriage returns, '!' and '@' never
 * reach a token (except where a string escape or a heredoc body takes them literally).
 *
 * Every character is handled as an unsigned byte before any class test, so
 * bytes above 0x7F are ordinary word characters and never index anything
 * negatively. A read whose low byte is 0xFF is the end of the input, unless
 * QZ_OPT_BINARY_SAFE lets the source tell its end (see qz_source_getc).
 */

#include "php/php_lex.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "php/php_operator.h"
#include "runtime/qz_symtable.h"
#include "source/qz_source.h"

#include <strings.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

/* ---- Lexer state (process-global, see php_lex.h) ----------------------- */

php_lex_state_t php_lex_state;
char php_lex_temp_buffer[QZ_LEX_TOKEN_MAX + 1];
unsigned long php_lex_temp_buff_idx;
unsigned long php_lex_cur_lineno = 1;
char php_ignore_syms[4] = {'\r', '!', '@', '\0'};

/* The source whose end the lexer has met. A 0xFF byte reads as end of input
 * but is not sticky in the source (the source moves on past it), so every
 * later read of that source reports the end without reading again. Cleared
 * for a new scan; put back by php_lex_restore and php_lex_restore_ended
 * after a nested run, whose own source lives only as long as that run. */
static qz_io_handle* php_lex_ended_source;

/* ---- Character classes ------------------------------------------------- */

/* Every read goes through qz_source_getc, which says when the input ended:
 * at a 0xFF byte, or only at the source's real end under QZ_OPT_BINARY_SAFE
 * (the byte 0xFF is then a word character). */
static bool lex_is_eof(int ch) { return ch == QZ_SOURCE_END; }

/* The 23 separators: + - * / % = . > ! < ( ) , [ ] { } ? : ; & | and space. */
unsigned char php_is_char_seperator(char c) {
  switch (static_cast<unsigned char>(c)) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '=':
    case '.':
    case '>':
    case '!':
    case '<':
    case '(':
    case ')':
    case ',':
    case '[':
    case ']':
    case '{':
    case '}':
    case '?':
    case ':':
    case ';':
    case '&':
    case '|':
    case ' ': return 1;
    default: return 0;
  }
}

unsigned char php_ignore_chr(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u == 0) return 0;
  for (const char* p = php_ignore_syms; *p; p++)
    if (static_cast<unsigned char>(*p) == u) return 1;
  return 0;
}

static bool lex_is_blank(char c) { return c == ' ' || c == '\t'; }

/* ---- Token buffer ------------------------------------------------------ */

void php_append_char(char c) {
  if (php_lex_temp_buff_idx >= QZ_LEX_TOKEN_MAX) return;
  if (!php_lex_state.in_string && lex_is_blank(c)) return;
  if (php_lex_temp_buff_idx == 0) php_lex_state.word_start = php_is_char_seperator(c) ? 0 : 1;
  php_lex_temp_buffer[php_lex_temp_buff_idx++] = c;
  php_lex_temp_buffer[php_lex_temp_buff_idx] = '\0';
}

void php_unappend_char() {
  if (php_lex_temp_buff_idx == 0) return;
  php_lex_temp_buffer[--php_lex_temp_buff_idx] = '\0';
}

static void lex_clear_buffer() {
  php_lex_temp_buff_idx = 0;
  php_lex_temp_buffer[0] = '\0';
}

void php_lex_reset() {
  std::memset(&php_lex_state, 0, sizeof(php_lex_state));
  php_lex_ended_source = nullptr;
  php_lex_cur_lineno = 1;
  php_lex_temp_buff_idx = 0;
  std::memset(php_lex_temp_buffer, 0, sizeof(php_lex_temp_buffer));
}

/* ---- Classification of the collected text ----------------------------- */

/* Integer literals are read as base-10 longs from their leading digits. A
 * literal beyond the range of a long saturates at the largest long (the
 * standard strtol rule), never wraps or traps. */
static long lex_read_integer(const char* text) {
  int saved = errno;
  long v = std::strtol(text, nullptr, 10);
  errno = saved;
  return v;
}

_qz_token* php_accept(_token_type kind) {
  if (php_lex_temp_buff_idx == 0 && kind != TOKEN_LITERAL) {
    lex_clear_buffer();
    return nullptr;
  }
  _qz_token* tk = qz_token_alloc(php_lex_cur_lineno);
  if (!tk) {
    lex_clear_buffer();
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
      tk->value.lval = lex_read_integer(text);
    } else if (text[0] != '\0' && text[1] == '\0' && php_is_char_seperator(text[0])) {
      tk->type = TOKEN_SEPARATOR;
    }
    if (php_lookup_operator(text)) tk->type = TOKEN_OPERATOR;
  }
  lex_clear_buffer();
  return tk;
}

/* ---- Nested reads ------------------------------------------------------- */

void php_lex_save(php_lex_saved* saved) {
  saved->state = php_lex_state;
  saved->lineno = php_lex_cur_lineno;
  saved->ended_source = php_lex_ended_source;
}

void php_lex_begin_text(unsigned long line) {
  php_lex_state.in_string = 0;
  if (line) php_lex_cur_lineno = line;
}

void php_lex_restore(const php_lex_saved* saved) {
  php_lex_state = saved->state;
  php_lex_cur_lineno = saved->lineno;
  php_lex_ended_source = saved->ended_source;
}

void php_lex_restore_ended(const php_lex_saved* saved) {
  php_lex_ended_source = saved->ended_source;
}

static bool lex_extended_tags() { return (qz_engine_options & QZ_OPT_EXTENDED_TAGS) != 0; }

static void lex_step_back(qz_io_handle* source, unsigned long n) {
  while (n-- > 0) source->_ungetc();
}

/* Fills the buffer with text and makes a word token of it. */
static _qz_token* lex_emit_text(const char* text) {
  lex_clear_buffer();
  for (const char* p = text; *p; p++) php_append_char(*p);
  return php_accept(TOKEN_WORD);
}

/* ---- Steps of the token reader ----------------------------------------- */

/* What one step of the token reader made of the character it was handed. */
enum lex_step {
  LEX_READ_ON, /* taken: the reader goes on with the next character */
  LEX_DONE,    /* the reader returns the step's token (null: nothing left) */
  LEX_PASS,    /* not this step's character: the next step looks at it */
};

/* End of input: remembers that source has ended and emits the pending text,
 * if any; null when nothing is pending. */
static _qz_token* lex_end_of_input(qz_io_handle* source) {
  if (source) php_lex_ended_source = source;
  if (php_lex_temp_buff_idx == 0) return nullptr;
  return php_accept(TOKEN_WORD);
}

/* The step that met the end of source: the read ends with the pending text. */
static lex_step lex_finish(qz_io_handle* source, _qz_token** out) {
  *out = lex_end_of_input(source);
  return LEX_DONE;
}

/* The step that made tk: the read ends with it. */
static lex_step lex_emit(_qz_token* tk, _qz_token** out) {
  *out = tk;
  return LEX_DONE;
}

/* The step that ends the pending text: it is emitted as a word, and the n
 * characters read to decide so are stepped back over, to be read again. */
static lex_step lex_emit_pending(qz_io_handle* source, unsigned long n, _qz_token** out) {
  lex_step_back(source, n);
  return lex_emit(php_accept(TOKEN_WORD), out);
}

/* ---- Text outside PHP code --------------------------------------------- */

static bool lex_is_space_char(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/* Steps back over the characters read after a "<" but the first `kept`, so
 * that reading resumes right after those. */
static void lex_tag_resume(qz_io_handle* source, unsigned long kept) {
  lex_step_back(source, QZ_LEX_TAG_LOOKAHEAD - kept);
}

/* Reads the rest of a "<s..." tag with the source's get_str. A tag that
 * names PHP opens code. When get_str fails (no '>' within the tag buffer, end
 * of input, or a source that cannot read runs) the "<s" is ordinary text: the
 * characters get_str consumed are stepped back over so that reading resumes
 * right after the "s" and an opening tag among them is still seen. */
static void lex_script_tag(qz_io_handle* source) {
  char tag[QZ_LEX_TAG_MAX + 1];
  std::memset(tag, 0, sizeof(tag));
  unsigned long size = QZ_LEX_TAG_MAX;
  if (!source->get_str('>', tag, &size)) {
    unsigned long stored = std::strlen(tag);
    /* A full buffer means one more character was consumed without being
     * stored. At worst this steps back once too often, onto the "s", which is
     * then skipped as text: the "<" is never read again, so no loop. */
    unsigned long consumed = stored >= QZ_LEX_TAG_MAX ? stored + 1 : stored;
    lex_step_back(source, consumed);
    lex_tag_resume(source, 1);
    return;
  }
  for (char* p = tag; *p; p++) *p = qz_ascii_upper(*p);
  if (std::strstr(tag, "PHP")) {
    php_lex_state.in_php = 1;
    php_lex_state.script_tag = 1;
  }
}

/* A "<" met outside PHP code: looks for an opening tag in the characters
 * after it. "<?=" in the extended mode opens code with the word "echo". */
static lex_step lex_open_tag(qz_io_handle* source, _qz_token** out) {
  char la[QZ_LEX_TAG_LOOKAHEAD + 1] = {'<'};
  for (int i = 1; i <= QZ_LEX_TAG_LOOKAHEAD; i++) {
    int ch = qz_source_getc(source);
    if (lex_is_eof(ch)) return lex_finish(source, out);
    la[i] = static_cast<char>(ch);
  }
  if (la[1] == 's') {
    lex_script_tag(source);
    return LEX_READ_ON;
  }
  if (la[1] != '?') {
    lex_tag_resume(source, 0);
    return LEX_READ_ON;
  }
  if (std::memcmp(la, "<?php", sizeof(la)) == 0 || std::memcmp(la, "<?PHP", sizeof(la)) == 0) {
    php_lex_state.in_php = 1;
    return LEX_READ_ON;
  }
  if (lex_extended_tags()) {
    if (strncasecmp(la, "<?php", sizeof(la)) == 0) {
      php_lex_state.in_php = 1;
      return LEX_READ_ON;
    }
    if (la[2] == '=') {
      php_lex_state.in_php = 1;
      lex_tag_resume(source, 2);
      if (php_lex_temp_buff_idx == 0) return lex_emit(lex_emit_text("echo"), out);
      return LEX_READ_ON;
    }
    if (lex_is_space_char(la[2])) {
      php_lex_state.in_php = 1;
      lex_tag_resume(source, 1);
      return LEX_READ_ON;
    }
  }
  lex_tag_resume(source, 1);
  return LEX_READ_ON;
}

/* Outside PHP code every character is skipped but a "<", which may open it. */
static lex_step lex_outside_code(qz_io_handle* source, char c, _qz_token** out) {
  if (c != '<') return LEX_READ_ON;
  return lex_open_tag(source, out);
}

/* ---- Heredoc ------------------------------------------------------------ */

/* Letters, digits, '_' and bytes above 0x7F: what a heredoc label is made of. */
static bool lex_is_word_byte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x80 || u == '_' || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') ||
         (u >= 'A' && u <= 'Z');
}

/* Reads a heredoc label into label (QZ_LEX_LABEL_MAX + 1 bytes): the rest of
 * the line after "<<<", of which blanks, a trailing carriage return and
 * enclosing quotes are not part (the body is collected without blanks, so a
 * label is compared the same way). Returns its length, 0 for none; *at_end
 * tells whether the input ended on the way. */
static unsigned long lex_heredoc_label(qz_io_handle* source, char* label, bool* at_end) {
  unsigned long len = 0;
  *at_end = false;
  for (;;) {
    int ch = qz_source_getc(source);
    if (lex_is_eof(ch)) {
      *at_end = true;
      break;
    }
    char c = static_cast<char>(ch);
    if (c == '\n') {
      php_lex_cur_lineno++;
      break;
    }
    if (len < QZ_LEX_LABEL_MAX) label[len++] = c;
  }
  while (len > 0 && (label[len - 1] == '\r' || lex_is_blank(label[len - 1]))) len--;
  unsigned long start = 0;
  while (start < len && lex_is_blank(label[start])) start++;
  if (len - start >= 2 && (label[start] == '"' || label[start] == '\'') &&
      label[len - 1] == label[start]) {
    start++;
    len--;
  }
  len -= start;
  std::memmove(label, label + start, len);
  label[len] = '\0';
  return len;
}

/* Reads a heredoc or nowdoc after "<<<". The body ends where its last
 * label-length characters equal the label, also after the token text reached
 * its cap: a separate window keeps the last characters read, while the buffer
 * keeps the first ones. A body that is empty (the label stands alone on the
 * next line) gives an empty literal. Returns the body as a literal, or null
 * when nothing was collected; an empty label reads no body at all, so
 * nothing after it is swallowed. *at_end tells whether the input ended on the
 * way. */
static _qz_token* lex_heredoc(qz_io_handle* source, bool* at_end) {
  char label[QZ_LEX_LABEL_MAX + 1];
  unsigned long len = lex_heredoc_label(source, label, at_end);
  if (len == 0 || *at_end) return nullptr;

  char window[QZ_LEX_LABEL_MAX];
  unsigned long total = 0; /* characters that entered the body, capped or not */
  for (;;) {
    int ch = qz_source_getc(source);
    if (lex_is_eof(ch)) {
      *at_end = true;
      break;
    }
    char c = static_cast<char>(ch);
    if (c == '\n') php_lex_cur_lineno++;
    if (lex_is_blank(c)) continue;
    php_append_char(c);
    window[total % len] = c;
    total++;
    if (total < len) continue;
    bool match = true;
    for (unsigned long i = 0; i < len && match; i++)
      match = window[(total - len + i) % len] == label[i];
    if (match && total == len) {
      /* The label right at the start: an empty body, but only when the label
       * stands alone (a word that merely begins with it is body text). */
      int next = qz_source_getc(source);
      if (!lex_is_eof(next)) source->_ungetc();
      if (lex_is_eof(next) || !lex_is_word_byte(static_cast<char>(next))) {
        *at_end = lex_is_eof(next);
        lex_clear_buffer();
        return php_accept(TOKEN_LITERAL);
      }
      continue;
    }
    if (match) {
      unsigned long keep = total - len;
      if (keep < php_lex_temp_buff_idx) {
        php_lex_temp_buff_idx = keep;
        php_lex_temp_buffer[keep] = '\0';
      }
      break;
    }
  }
  if (php_lex_temp_buff_idx == 0) return nullptr;
  return php_accept(TOKEN_LITERAL);
}

/* ---- Code: closing tag, strings, comments ------------------------------ */

/* A "?" outside a string may begin the closing tag "?>". The tag ends the
 * pending text first (and is read again); else it leaves code, in the
 * extended mode as a ";", so that "<?= expr ?>" is a statement of its own, as
 * in PHP. After any other character the "?" passes on. */
static lex_step lex_closing_tag(qz_io_handle* source, char c, unsigned char raw, _qz_token** out) {
  if (c != '?' || php_lex_state.in_string) return LEX_PASS;
  int ch2 = qz_source_getc(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  if (static_cast<char>(ch2) != '>') {
    source->_ungetc();
    return LEX_PASS;
  }
  if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 2, out);
  php_lex_state.in_php = 0;
  if (!raw && lex_extended_tags()) return lex_emit(lex_emit_text(";"), out);
  return LEX_READ_ON;
}

/* The character after a backslash in a string is taken as it is, except
 * "\x" (or "\X"): the two characters after it give one byte, a first
 * non-digit counting as 15 and a second as QZ_ASCII_NOT_HEX. */
static lex_step lex_escape(qz_io_handle* source, _qz_token** out) {
  int ch2 = qz_source_getc(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  char c2 = static_cast<char>(ch2);
  if (c2 != 'x' && c2 != 'X') {
    php_append_char(c2);
    return LEX_READ_ON;
  }
  int h = qz_source_getc(source);
  if (lex_is_eof(h)) return lex_finish(source, out);
  int l = qz_source_getc(source);
  if (lex_is_eof(l)) return lex_finish(source, out);
  int hi = qz_ascii_hex_value(static_cast<char>(h));
  int lo = qz_ascii_hex_value(static_cast<char>(l));
  if (hi == QZ_ASCII_NOT_HEX) hi = 15;
  php_append_char(static_cast<char>((16 * hi + lo) & 0xFF));
  return LEX_READ_ON;
}

/* Inside a quoted string: the opening quote ends it as a literal; anything
 * else is its text. */
static lex_step lex_string_char(qz_io_handle* source, char c, _qz_token** out) {
  if (c == '\\') return lex_escape(source, out);
  if (static_cast<unsigned char>(c) == php_lex_state.quote) {
    php_lex_state.in_string = 0;
    return lex_emit(php_accept(TOKEN_LITERAL), out);
  }
  php_append_char(c);
  return LEX_READ_ON;
}

/* A quote opens a string once the pending text is emitted (the quote is then
 * read again). */
static lex_step lex_quote(qz_io_handle* source, char c, _qz_token** out) {
  if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 1, out);
  php_lex_state.quote = static_cast<unsigned char>(c);
  php_lex_state.in_string = 1;
  return LEX_READ_ON;
}

/* Skips the rest of a line comment, its newline included. */
static lex_step lex_line_comment(qz_io_handle* source, _qz_token** out) {
  for (;;) {
    int d = qz_source_getc(source);
    if (lex_is_eof(d)) return lex_finish(source, out);
    if (static_cast<char>(d) == '\n') {
      php_lex_cur_lineno++;
      return LEX_READ_ON;
    }
  }
}

/* Skips a block comment through its closing "*" "/". Pending text is emitted
 * first and the comment read again. */
static lex_step lex_block_comment(qz_io_handle* source, _qz_token** out) {
  if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 2, out);
  bool star = false;
  for (;;) {
    int d = qz_source_getc(source);
    if (lex_is_eof(d)) return lex_finish(source, out);
    char dc = static_cast<char>(d);
    if (dc == '\n') php_lex_cur_lineno++;
    if (dc == '/' && star) return LEX_READ_ON;
    star = dc == '*';
  }
}

/* "#" and "//" begin a line comment, "/" "*" a block comment. A comment does
 * not end the pending text, except a block comment. A lone "/" passes on. */
static lex_step lex_comment(qz_io_handle* source, char c, _qz_token** out) {
  if (c != '/' && c != '#') return LEX_PASS;
  int ch2 = qz_source_getc(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  char c2 = static_cast<char>(ch2);
  if (c == '#' || c2 == '/') {
    if (c2 != '\n') return lex_line_comment(source, out);
    php_lex_cur_lineno++;
    return LEX_READ_ON;
  }
  if (c2 == '*') return lex_block_comment(source, out);
  source->_ungetc();
  return LEX_PASS;
}

/* ---- Code: words, separators and operators ----------------------------- */

/* A word character joins the pending word; pending separator text is emitted
 * first (and the character read again). */
static lex_step lex_word_char(qz_io_handle* source, char c, _qz_token** out) {
  if (php_lex_temp_buff_idx > 0 && php_is_char_seperator(php_lex_temp_buffer[0]))
    return lex_emit_pending(source, 1, out);
  php_append_char(c);
  return LEX_READ_ON;
}

/* After a "<" that starts a token: "<<<" opens a heredoc, whose body is the
 * token; any other "<" starts a token of its own. */
static lex_step lex_less_than(qz_io_handle* source, _qz_token** out) {
  int a = qz_source_getc(source);
  if (lex_is_eof(a)) return lex_finish(source, out);
  int b = qz_source_getc(source);
  if (lex_is_eof(b)) return lex_finish(source, out);
  if (static_cast<char>(a) != '<' || static_cast<char>(b) != '<') {
    lex_step_back(source, 2);
    php_append_char('<');
    return LEX_READ_ON;
  }
  bool at_end = false;
  _qz_token* tk = lex_heredoc(source, &at_end);
  if (at_end) php_lex_ended_source = source;
  if (tk) return lex_emit(tk, out);
  if (at_end) return lex_finish(source, out);
  return LEX_READ_ON;
}

/* "==", "&&" and "||" start a token whole; a single one alone. */
static lex_step lex_doubled(qz_io_handle* source, char c, _qz_token** out) {
  int ch2 = qz_source_getc(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  if (static_cast<char>(ch2) == c)
    php_append_char(c);
  else
    source->_ungetc();
  php_append_char(c);
  return LEX_READ_ON;
}

/* "->" starts a token as its ">" alone; a "-" met just before the end of
 * input is still emitted. */
static lex_step lex_minus(qz_io_handle* source, _qz_token** out) {
  int ch2 = qz_source_getc(source);
  if (lex_is_eof(ch2)) {
    php_append_char('-');
    return lex_finish(source, out);
  }
  if (static_cast<char>(ch2) == '>') {
    php_append_char('>');
  } else {
    source->_ungetc();
    php_append_char('-');
  }
  return LEX_READ_ON;
}

/* A separator. Operators grow one character at a time: c joins pending
 * operator text while the result is still an operator. Otherwise pending
 * text is emitted first (c is read again); with nothing pending c starts a
 * token, a space is dropped. */
static lex_step lex_separator(qz_io_handle* source, char c, _qz_token** out) {
  if (php_lex_temp_buff_idx > 0 && php_lex_temp_buff_idx <= QZ_OPERATOR_MAX_LENGTH &&
      php_lookup_operator(php_lex_temp_buffer)) {
    php_append_char(c);
    if (php_lookup_operator(php_lex_temp_buffer)) return LEX_READ_ON;
    php_unappend_char();
  }
  if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 1, out);
  switch (c) {
    case '<': return lex_less_than(source, out);
    case '=':
    case '&':
    case '|': return lex_doubled(source, c, out);
    case '-': return lex_minus(source, out);
    case ' ': return LEX_READ_ON;
    default: php_append_char(c); return LEX_READ_ON;
  }
}

/* ---- The token reader --------------------------------------------------- */

/* One character of PHP code, handed on from step to step. */
static lex_step lex_code_char(qz_io_handle* source, char c, unsigned char raw, _qz_token** out) {
  lex_step step = lex_closing_tag(source, c, raw, out);
  if (step != LEX_PASS) return step;
  if (php_lex_state.in_string) return lex_string_char(source, c, out);
  if (c == '"' || c == '\'') return lex_quote(source, c, out);
  step = lex_comment(source, c, out);
  if (step != LEX_PASS) return step;
  if (!php_is_char_seperator(c)) return lex_word_char(source, c, out);
  return lex_separator(source, c, out);
}

_qz_token* php_lex_get_token(qz_io_handle* source, unsigned char raw) {
  if (!source || source == php_lex_ended_source) return lex_end_of_input(nullptr);
  for (;;) {
    int ch = qz_source_getc(source);
    if (lex_is_eof(ch)) return lex_end_of_input(source);
    char c = static_cast<char>(ch);
    if (c == '\n') {
      php_lex_cur_lineno++;
      continue;
    }
    if (php_ignore_chr(c)) continue;
    _qz_token* tk = nullptr;
    lex_step step = !raw && !php_lex_state.in_php ? lex_outside_code(source, c, &tk)
                                                  : lex_code_char(source, c, raw, &tk);
    if (step == LEX_DONE) return tk;
  }
}

/* ---- Token groups ------------------------------------------------------- */

/* Appends tk behind tail; returns the new tail. */
static _qz_token* lex_link(_qz_token* tail, _qz_token* tk) {
  tail->next = tk;
  tk->prev = tail;
  tk->next = nullptr;
  return tk;
}

/* Reads token by token with a tail pointer, so a group of any size and depth
 * costs time and memory linear in its length and no recursion. A quoted
 * string whose text is a bracket is text, not a bracket: it neither opens nor
 * closes the group. */
_qz_token* php_lex_get_token_pair(char* open, char* close, qz_io_handle* source) {
  _qz_token* head = nullptr;
  _qz_token* tail = nullptr;
  unsigned long opened = 0, closed = 0;
  for (;;) {
    _qz_token* tk = php_lex_get_token(source, 0);
    if (!tk) {
      qz_token_free(head);
      return nullptr;
    }
    bool bracket = tk->type != TOKEN_LITERAL;
    if (bracket && tk->name == open) {
      opened++;
      if (opened == 1) {
        qz_token_free(head);
        head = tail = tk;
        continue;
      }
    } else if (bracket && tk->name == close) {
      closed++;
      if (opened != 0 && opened == closed) {
        tail = lex_link(tail, tk);
        return head;
      }
    }
    if (!head)
      head = tail = tk;
    else
      tail = lex_link(tail, tk);
  }
}

_qz_token* php_lex_get_token_until(char* name, qz_io_handle* source) {
  _qz_token* head = php_lex_get_token(source, 0);
  if (!head) return nullptr;
  _qz_token* tail = head;
  for (;;) {
    _qz_token* tk = php_lex_get_token(source, 0);
    if (!tk) break;
    if (tk->name == name) {
      qz_token_free(tk);
      break;
    }
    tail = lex_link(tail, tk);
  }
  return head;
}
