/*
 * The loose PHP lexer.
 *
 * Characters come one at a time from an input source; the lexer collects the
 * text of one token in a fixed global buffer, and php_accept classifies that
 * text into a token and empties the buffer. Outside PHP tags every character is skipped. Inside
 * code the lexer knows only separators, operators that grow one character at a time, quoted
 * strings, heredocs and three kinds of comments. Newlines, carriage returns, '!' and '@' never
 * reach a token (except where a string escape or a heredoc body takes them literally).
 * With QZ_OPT_INTERPRETER_REACH strings are read whole instead, every character
 * kept, and one string may become several tokens (php_lex_string).
 *
 * Every character is handled as an unsigned byte before any class test, so
 * bytes above 0x7F are ordinary word characters and never index anything
 * negatively. A read whose low byte is 0xFF is the end of the input, unless
 * QZ_OPT_BINARY_SAFE lets the source tell its end (see qz_source_getc).
 */

#include "php/php_lex.h"

#include "php/php_lex_string.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "php/php_call.h"
#include "php/php_operator.h"
#include "runtime/qz_symtable.h"
#include "source/qz_source.h"

#include <strings.h>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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

void php_lex_note_ended(qz_io_handle* source) { php_lex_ended_source = source; }

/* ---- Character classes ------------------------------------------------- */

/* Every read goes through qz_source_next (qz_source_getc, inline), which
 * says when the input ended: at a 0xFF byte, or only at the source's real end
 * under QZ_OPT_BINARY_SAFE (the byte 0xFF is then a word character). */
static bool lex_is_eof(int ch) { return ch == QZ_SOURCE_END; }

/* Flags of a byte value, in lex_class. */
enum : unsigned char {
  LEX_C_SEPARATOR = 1, /* + - * / % = . > ! < ( ) , [ ] { } ? : ; & | and space */
  /* A byte that, met in code outside a string, only joins or ends a pending
   * word: no other step of lex_code_char takes it. Neither a separator, nor
   * a byte of the default php_ignore_syms, nor a newline, blank or NUL, nor
   * one of ? " ' ` / # ^ ~. */
  LEX_C_WORD = 2,
};

static constexpr bool lex_is_separator_byte(unsigned char u) {
  switch (u) {
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
    case ' ': return true;
    default: return false;
  }
}

static constexpr bool lex_is_plain_word_byte(unsigned char u) {
  switch (u) {
    case '\0':
    case '\n':
    case '\r':
    case '\t':
    case '@':
    case '"':
    case '\'':
    case '`':
    case '#':
    case '^':
    case '~': return false;
    default: return !lex_is_separator_byte(u);
  }
}

struct lex_class_table {
  unsigned char flags[256];
};

static constexpr lex_class_table lex_make_classes() {
  lex_class_table t{};
  for (unsigned u = 0; u < 256; u++)
    t.flags[u] = static_cast<unsigned char>(
        (lex_is_separator_byte(static_cast<unsigned char>(u)) ? LEX_C_SEPARATOR : 0) |
        (lex_is_plain_word_byte(static_cast<unsigned char>(u)) ? LEX_C_WORD : 0));
  return t;
}

static constexpr lex_class_table lex_class = lex_make_classes();

static bool lex_is_sep(char c) {
  return (lex_class.flags[static_cast<unsigned char>(c)] & LEX_C_SEPARATOR) != 0;
}

bool php_lex_is_separator(char c) { return lex_is_sep(c); }

unsigned char php_is_char_seperator(char c) { return lex_is_sep(c) ? 1 : 0; }

/* php_ignore_syms as it is at load. */
static constexpr char lex_default_ignore_syms[sizeof(php_ignore_syms)] = {'\r', '!', '@', '\0'};

/* Whether php_ignore_syms is the set it is at load, which hosts seldom
 * change. None of its bytes is a word byte, a newline or a "<". */
static bool lex_default_ignored_set() {
  return std::memcmp(php_ignore_syms, lex_default_ignore_syms, sizeof(php_ignore_syms)) == 0;
}

/* Whether c is one of php_ignore_syms, read up to its first NUL and never
 * past its end; NUL itself is never ignored. */
static bool lex_ignored(char c) {
  if (c == '\0') return false;
  if (lex_default_ignored_set()) return c == '\r' || c == '!' || c == '@';
  for (unsigned i = 0; i < sizeof(php_ignore_syms) && php_ignore_syms[i]; i++)
    if (php_ignore_syms[i] == c) return true;
  return false;
}

unsigned char php_ignore_chr(char c) { return lex_ignored(c) ? 1 : 0; }

static bool lex_is_blank(char c) { return c == ' ' || c == '\t'; }

/* ---- Token buffer ------------------------------------------------------ */

static void lex_append(char c) {
  if (php_lex_temp_buff_idx >= QZ_LEX_TOKEN_MAX) return;
  if (!php_lex_state.in_string && lex_is_blank(c)) return;
  if (php_lex_temp_buff_idx == 0) php_lex_state.word_start = lex_is_sep(c) ? 0 : 1;
  php_lex_temp_buffer[php_lex_temp_buff_idx++] = c;
  php_lex_temp_buffer[php_lex_temp_buff_idx] = '\0';
}

void php_append_char(char c) { lex_append(c); }

void php_unappend_char() {
  if (php_lex_temp_buff_idx == 0) return;
  php_lex_temp_buffer[--php_lex_temp_buff_idx] = '\0';
}

static void lex_clear_buffer() {
  php_lex_temp_buff_idx = 0;
  php_lex_temp_buffer[0] = '\0';
}

/* The last doc comment read and its closing line (extended reading). */
static std::string lex_doc_comment;
static unsigned long lex_doc_comment_line = 0;

const std::string& php_lex_doc_comment(unsigned long* end_line) {
  if (end_line) *end_line = lex_doc_comment_line;
  return lex_doc_comment;
}

void php_lex_reset() {
  lex_doc_comment.clear();
  lex_doc_comment_line = 0;
  std::memset(&php_lex_state, 0, sizeof(php_lex_state));
  php_lex_ended_source = nullptr;
  php_lex_string_queue().first = 0;
  php_lex_string_queue().count = 0;
  php_lex_cur_lineno = 1;
  php_lex_temp_buff_idx = 0;
  std::memset(php_lex_temp_buffer, 0, sizeof(php_lex_temp_buffer));
}

/* ---- Classification of the collected text ----------------------------- */

/* The base-10 value of the digits that start text, as strtol reads them: a
 * value beyond the range of a long saturates at the largest long, never
 * wraps or traps. */
static long lex_read_decimal(const char* text) {
  unsigned long v = 0;
  bool over = false;
  for (const char* p = text; *p >= '0' && *p <= '9'; p++) {
    unsigned long d = static_cast<unsigned long>(*p - '0');
    if (over || v > (static_cast<unsigned long>(LONG_MAX) - d) / 10)
      over = true;
    else
      v = v * 10 + d;
  }
  return over ? LONG_MAX : static_cast<long>(v);
}

/* Integer literals are read as base-10 longs from their leading digits. */
static long lex_read_integer(const char* text) { return lex_read_decimal(text); }

/* Extended reading: integer literals as PHP reads them: "0x1F", "0b101",
 * "0o17" and "017" in their bases, "1_000" without its separators. Digits
 * past the literal's end, or too many to fit, end it as strtol ends it. */
static long lex_read_php_integer(const char* text) {
  char digits[QZ_LEX_NUMBER_DIGITS];
  size_t n = 0;
  for (const char* p = text; *p && n + 1 < sizeof digits; p++)
    if (*p != '_') digits[n++] = *p;
  digits[n] = '\0';
  int base = 10;
  const char* from = digits;
  if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    from += 2;
  } else if (digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B')) {
    base = 2;
    from += 2;
  } else if (digits[0] == '0' && (digits[1] == 'o' || digits[1] == 'O')) {
    base = 8;
    from += 2;
  } else if (digits[0] == '0' && digits[1] >= '0' && digits[1] <= '7') {
    base = 8;
  }
  if (base == 10) return lex_read_decimal(from);
  int saved = errno;
  long v = std::strtol(from, nullptr, base);
  errno = saved;
  return v;
}

/* The texts of the engine's handles, indexed by their first byte. */
#define LEX_HANDLE_TEXT(name, text) text,
static constexpr const char* lex_handle_texts[] = {QZ_ENGINE_HANDLES(LEX_HANDLE_TEXT)};
#undef LEX_HANDLE_TEXT
#define LEX_HANDLE_VAR(name, text) &name,
static char** const lex_handle_vars[] = {QZ_ENGINE_HANDLES(LEX_HANDLE_VAR)};
#undef LEX_HANDLE_VAR

static constexpr unsigned long LEX_HANDLES = sizeof(lex_handle_texts) / sizeof(lex_handle_texts[0]);
static constexpr qz_ascii_first_index<LEX_HANDLES> lex_handles =
    qz_ascii_index_first_bytes<LEX_HANDLES>([](unsigned long i) { return lex_handle_texts[i][0]; });

/* Whether the NUL-terminated texts a and b are equal. */
static bool lex_same_text(const char* a, const char* b) {
  for (; *b; a++, b++)
    if (*a != *b) return false;
  return *a == '\0';
}

/* The interned copy of text when it is the text of an engine handle: the
 * handle itself, which is the internal table's copy, so what
 * qz_engine_insert_sym would return. Null for any other text, and whenever
 * the handle is not a text of the internal table's first arena (before
 * startup or after shutdown): the caller then interns the text as usual. */
static char* lex_handle_name(const char* text) {
  const _qz_sym_table_ex* isym = qz_engine_isym_table;
  if (!isym) return nullptr;
  for (unsigned char i = lex_handles.first[static_cast<unsigned char>(text[0])];
       i != QZ_ASCII_NO_ENTRY; i = lex_handles.next[i]) {
    if (!lex_same_text(text, lex_handle_texts[i])) continue;
    char* h = *lex_handle_vars[i];
    auto at = reinterpret_cast<uintptr_t>(h);
    auto arena = reinterpret_cast<uintptr_t>(isym->text);
    if (h && at >= arena && at - arena < isym->capacity) return h;
    return nullptr;
  }
  return nullptr;
}

/* Interns the text of a word, a separator or an operator for the scan. */
static char* lex_intern(char* text) {
  if (char* h = lex_handle_name(text)) return h;
  return qz_engine_insert_sym(text);
}

/* "true" or "false" in any letter case: the words that read as 1 and 0. */
static bool lex_is_bool_word(const char* text) {
  switch (text[0]) {
    case 't':
    case 'T': return strcasecmp(text, "true") == 0;
    case 'f':
    case 'F': return strcasecmp(text, "false") == 0;
    default: return false;
  }
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
  } else if (lex_is_bool_word(text)) {
    tk->type = TOKEN_WORD;
    tk->value.type = TOKEN_INTEGER;
    tk->value.lval = (text[0] == 't' || text[0] == 'T') ? 1 : 0;
  } else {
    tk->name = lex_intern(text);
    tk->type = TOKEN_WORD;
    unsigned char first = static_cast<unsigned char>(text[0]);
    if (first >= '0' && first <= '9') {
      tk->type = TOKEN_INTEGER;
      tk->value.type = TOKEN_INTEGER;
      tk->value.lval = (qz_engine_options & QZ_OPT_INTERPRETER_REACH) ? lex_read_php_integer(text)
                                                                      : lex_read_integer(text);
    } else if (text[0] != '\0' && text[1] == '\0' && lex_is_sep(text[0])) {
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
  saved->pending = php_lex_string_queue();
}

void php_lex_begin_text(unsigned long line) {
  php_lex_state.in_string = 0;
  php_lex_string_queue().first = 0;
  php_lex_string_queue().count = 0;
  if (line) php_lex_cur_lineno = line;
}

void php_lex_restore(const php_lex_saved* saved) {
  php_lex_state = saved->state;
  php_lex_cur_lineno = saved->lineno;
  php_lex_ended_source = saved->ended_source;
  php_lex_string_queue() = saved->pending;
}

void php_lex_restore_ended(const php_lex_saved* saved) {
  php_lex_ended_source = saved->ended_source;
}

static bool lex_extended_tags() { return (qz_engine_options & QZ_OPT_EXTENDED_TAGS) != 0; }
static bool lex_reach() { return (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0; }

static void lex_step_back(qz_io_handle* source, unsigned long n) {
  while (n-- > 0) qz_source_ungetc(source);
}

_qz_token* php_lex_word_of(const char* text) {
  lex_clear_buffer();
  for (const char* p = text; *p; p++) lex_append(*p);
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
    int ch = qz_source_next(source);
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
  bool tags = lex_extended_tags();
  bool reach = lex_reach();
  if ((tags || reach) && strncasecmp(la, "<?php", sizeof(la)) == 0) {
    php_lex_state.in_php = 1;
    return LEX_READ_ON;
  }
  if (tags && la[2] == '=') {
    php_lex_state.in_php = 1;
    lex_tag_resume(source, 2);
    if (php_lex_temp_buff_idx == 0) return lex_emit(php_lex_word_of("echo"), out);
    return LEX_READ_ON;
  }
  /* A short tag: "<?" and white space, or with QZ_OPT_INTERPRETER_REACH "<?"
   * and code right after it ("<?eval(", "<?$x="); "<?xml" is text. */
  bool short_tag = tags && qz_ascii_is_space(la[2]);
  if (reach && la[2] != '=' && strncasecmp(la + 2, "xml", 3) != 0) short_tag = true;
  if (short_tag) php_lex_state.in_php = 1;
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

bool php_lex_is_word_byte(char c) { return lex_is_word_byte(c); }

/* Reads a heredoc label into label (QZ_LEX_LABEL_MAX + 1 bytes): the rest of
 * the line after "<<<", of which blanks, a trailing carriage return and
 * enclosing quotes are not part (the body is collected without blanks, so a
 * label is compared the same way). Returns its length, 0 for none; *at_end
 * tells whether the input ended on the way, *nowdoc whether single quotes
 * enclosed the label. */
static unsigned long lex_heredoc_label(qz_io_handle* source, char* label, bool* at_end,
                                       bool* nowdoc) {
  unsigned long len = 0;
  *at_end = false;
  *nowdoc = false;
  for (;;) {
    int ch = qz_source_next(source);
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
    *nowdoc = label[start] == '\'';
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
  bool nowdoc = false;
  unsigned long len = lex_heredoc_label(source, label, at_end, &nowdoc);
  if (len == 0 || *at_end) return nullptr;

  char window[QZ_LEX_LABEL_MAX];
  unsigned long total = 0; /* characters that entered the body, capped or not */
  for (;;) {
    int ch = qz_source_next(source);
    if (lex_is_eof(ch)) {
      *at_end = true;
      break;
    }
    char c = static_cast<char>(ch);
    if (c == '\n') php_lex_cur_lineno++;
    if (lex_is_blank(c)) continue;
    lex_append(c);
    window[total % len] = c;
    total++;
    if (total < len) continue;
    bool match = true;
    for (unsigned long i = 0; i < len && match; i++)
      match = window[(total - len + i) % len] == label[i];
    if (match && total == len) {
      /* The label right at the start: an empty body, but only when the label
       * stands alone (a word that merely begins with it is body text). */
      int next = qz_source_next(source);
      if (!lex_is_eof(next)) qz_source_ungetc(source);
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

/* A heredoc or nowdoc after "<<<", read whole as PHP reads it: the body ends
 * at a line holding the label after optional blanks, followed by no word
 * character, and the newline before that line is not part of it. An empty
 * label reads no body, as without the flag. */
static lex_step lex_reach_heredoc(qz_io_handle* source, _qz_token** out) {
  char label[QZ_LEX_LABEL_MAX + 1];
  bool at_end = false, nowdoc = false;
  unsigned long len = lex_heredoc_label(source, label, &at_end, &nowdoc);
  if (at_end) return lex_finish(source, out);
  if (len == 0) return LEX_READ_ON;
  return lex_emit(
      php_lex_string_read(source, nowdoc ? LEX_STR_NOWDOC : LEX_STR_HEREDOC, '\0', label, len),
      out);
}

/* ---- Code: closing tag, strings, comments ------------------------------ */

/* A "?" outside a string may begin the closing tag "?>". The tag ends the
 * pending text first (and is read again); else it leaves code, in the
 * extended mode as a ";", so that "<?= expr ?>" is a statement of its own, as
 * in PHP. After any other character the "?" passes on. */
static lex_step lex_closing_tag(qz_io_handle* source, char c, unsigned char raw, _qz_token** out) {
  if (c != '?' || php_lex_state.in_string) return LEX_PASS;
  int ch2 = qz_source_next(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  if (static_cast<char>(ch2) != '>') {
    qz_source_ungetc(source);
    return LEX_PASS;
  }
  if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 2, out);
  php_lex_state.in_php = 0;
  if (!raw && lex_extended_tags()) return lex_emit(php_lex_word_of(";"), out);
  return LEX_READ_ON;
}

/* The character after a backslash in a string is taken as it is, except
 * "\x" (or "\X"): the two characters after it give one byte, a first
 * non-digit counting as 15 and a second as QZ_ASCII_NOT_HEX. */
static lex_step lex_escape(qz_io_handle* source, _qz_token** out) {
  int ch2 = qz_source_next(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  char c2 = static_cast<char>(ch2);
  if (c2 != 'x' && c2 != 'X') {
    lex_append(c2);
    return LEX_READ_ON;
  }
  int h = qz_source_next(source);
  if (lex_is_eof(h)) return lex_finish(source, out);
  int l = qz_source_next(source);
  if (lex_is_eof(l)) return lex_finish(source, out);
  int hi = qz_ascii_hex_value(static_cast<char>(h));
  int lo = qz_ascii_hex_value(static_cast<char>(l));
  if (hi == QZ_ASCII_NOT_HEX) hi = 15;
  lex_append(static_cast<char>((16 * hi + lo) & 0xFF));
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
  lex_append(c);
  return LEX_READ_ON;
}

/* A quote opens a string once the pending text is emitted (the quote is then
 * read again). With QZ_OPT_INTERPRETER_REACH the string is read whole, and a
 * backtick opens a command too. */
static lex_step lex_quote(qz_io_handle* source, char c, _qz_token** out) {
  if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 1, out);
  if (lex_reach()) {
    lex_str_kind kind = c == '"' ? LEX_STR_DOUBLE : c == '`' ? LEX_STR_BACKTICK : LEX_STR_SINGLE;
    return lex_emit(php_lex_string_read(source, kind, c, nullptr, 0), out);
  }
  php_lex_state.quote = static_cast<unsigned char>(c);
  php_lex_state.in_string = 1;
  return LEX_READ_ON;
}

/* Skips the rest of a line comment, its newline included. */
static lex_step lex_line_comment(qz_io_handle* source, _qz_token** out) {
  for (;;) {
    int d = qz_source_next(source);
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
  /* Extended reading keeps a doc comment's text, which reflection reads. */
  bool doc = false, first = true;
  if (qz_engine_options & QZ_OPT_INTERPRETER_REACH) lex_doc_comment.clear();
  for (;;) {
    int d = qz_source_next(source);
    if (lex_is_eof(d)) return lex_finish(source, out);
    char dc = static_cast<char>(d);
    if (dc == '\n') php_lex_cur_lineno++;
    if (dc == '/' && star) {
      if (doc) {
        /* Drop the "*" of the closing pair, then what passes the bound. */
        if (!lex_doc_comment.empty() && lex_doc_comment.back() == '*') lex_doc_comment.pop_back();
        if (lex_doc_comment.size() > QZ_DOC_COMMENT_MAX_BYTES)
          lex_doc_comment.resize(QZ_DOC_COMMENT_MAX_BYTES);
        lex_doc_comment_line = php_lex_cur_lineno;
      }
      return LEX_READ_ON;
    }
    if (first)
      doc = dc == '*' && (qz_engine_options & QZ_OPT_INTERPRETER_REACH);
    else if (doc && lex_doc_comment.size() <= QZ_DOC_COMMENT_MAX_BYTES)
      lex_doc_comment.push_back(dc);
    first = false;
    star = dc == '*';
  }
}

/* "#" and "//" begin a line comment, "/" "*" a block comment. A comment does
 * not end the pending text, except a block comment. A lone "/" passes on. */
static lex_step lex_comment(qz_io_handle* source, char c, _qz_token** out) {
  if (c != '/' && c != '#') return LEX_PASS;
  int ch2 = qz_source_next(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  char c2 = static_cast<char>(ch2);
  if (c == '#' || c2 == '/') {
    if (c2 != '\n') return lex_line_comment(source, out);
    php_lex_cur_lineno++;
    return LEX_READ_ON;
  }
  if (c2 == '*') return lex_block_comment(source, out);
  qz_source_ungetc(source);
  return LEX_PASS;
}

/* ---- Code: words, separators and operators ----------------------------- */

/* A word character joins the pending word; pending separator text is emitted
 * first (and the character read again). */
static lex_step lex_word_char(qz_io_handle* source, char c, _qz_token** out) {
  if (php_lex_temp_buff_idx > 0 && lex_is_sep(php_lex_temp_buffer[0]))
    return lex_emit_pending(source, 1, out);
  lex_append(c);
  return LEX_READ_ON;
}

/* After a "<" that starts a token: "<<<" opens a heredoc, whose body is the
 * token; any other "<" starts a token of its own. */
static lex_step lex_less_than(qz_io_handle* source, _qz_token** out) {
  int a = qz_source_next(source);
  if (lex_is_eof(a)) return lex_finish(source, out);
  int b = qz_source_next(source);
  if (lex_is_eof(b)) return lex_finish(source, out);
  if (static_cast<char>(a) != '<' || static_cast<char>(b) != '<') {
    lex_step_back(source, 2);
    lex_append('<');
    return LEX_READ_ON;
  }
  if (lex_reach()) return lex_reach_heredoc(source, out);
  bool at_end = false;
  _qz_token* tk = lex_heredoc(source, &at_end);
  if (at_end) php_lex_ended_source = source;
  if (tk) return lex_emit(tk, out);
  if (at_end) return lex_finish(source, out);
  return LEX_READ_ON;
}

/* "==", "&&" and "||" start a token whole; a single one alone. */
static lex_step lex_doubled(qz_io_handle* source, char c, _qz_token** out) {
  int ch2 = qz_source_next(source);
  if (lex_is_eof(ch2)) return lex_finish(source, out);
  if (static_cast<char>(ch2) == c)
    lex_append(c);
  else
    qz_source_ungetc(source);
  lex_append(c);
  return LEX_READ_ON;
}

/* "->" starts a token as its ">" alone (whole with extended reading); a "-"
 * met just before the end of input is still emitted. */
static lex_step lex_minus(qz_io_handle* source, _qz_token** out) {
  int ch2 = qz_source_next(source);
  if (lex_is_eof(ch2)) {
    lex_append('-');
    return lex_finish(source, out);
  }
  if (static_cast<char>(ch2) == '>') {
    /* Extended reading keeps the arrow whole, so that it is never taken
     * for a comparison and method calls can be told from functions. */
    if (lex_reach()) lex_append('-');
    lex_append('>');
  } else {
    qz_source_ungetc(source);
    lex_append('-');
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
    lex_append(c);
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
    default: lex_append(c); return LEX_READ_ON;
  }
}

/* ---- The token reader --------------------------------------------------- */

/* One character of PHP code, handed on from step to step. */
static lex_step lex_code_char(qz_io_handle* source, char c, unsigned char raw, _qz_token** out) {
  lex_step step = lex_closing_tag(source, c, raw, out);
  if (step != LEX_PASS) return step;
  if (php_lex_state.in_string) return lex_string_char(source, c, out);
  if (c == '"' || c == '\'' || (c == '`' && lex_reach())) return lex_quote(source, c, out);
  step = lex_comment(source, c, out);
  if (step != LEX_PASS) return step;
  /* Extended reading: "^" and "~" are operators of their own, never part
   * of a word. */
  if ((c == '^' || c == '~') && lex_reach()) {
    if (php_lex_temp_buff_idx > 0) return lex_emit_pending(source, 1, out);
    return lex_emit(php_lex_word_of(c == '^' ? "^" : "~"), out);
  }
  if (!lex_is_sep(c)) return lex_word_char(source, c, out);
  return lex_separator(source, c, out);
}

/* Extended reading keeps the "!" of "!=" and "!==" in code, which the loose
 * reading drops with the other ignored characters: "$a != 'x'" would read
 * as an assignment. */
static bool lex_keeps_bang(qz_io_handle* source, char c) {
  if (c != '!' || !(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || !php_lex_state.in_php ||
      php_lex_state.in_string)
    return false;
  int next = qz_source_next(source);
  if (lex_is_eof(next)) return false;
  qz_source_ungetc(source);
  /* A host's source may return more than the byte: only its low byte counts. */
  return (next & 0xFF) == '=';
}

/* Runs: stretches of bytes that every step of the token reader would only
 * add to the pending word or skip, taken in one loop instead. Each reads on
 * through next (a reader of the source's own kind) and returns the first
 * byte it does not take, already read, or QZ_SOURCE_END. Both take bytes only
 * while php_ignore_syms is the default set; with another they read one byte
 * and take none. */
template <class Next>
static int lex_word_run_with(Next next) {
  for (;;) {
    int ch = next();
    if (lex_is_eof(ch) || !(lex_class.flags[static_cast<unsigned char>(ch)] & LEX_C_WORD))
      return ch;
    lex_append(static_cast<char>(ch));
  }
}

template <class Next>
static int lex_text_run_with(Next next) {
  for (;;) {
    int ch = next();
    if (lex_is_eof(ch) || static_cast<char>(ch) == '<') return ch;
    if (static_cast<char>(ch) == '\n') php_lex_cur_lineno++;
  }
}

/* Runs run_with (one of the two above) with a reader of source's own kind. */
template <class Run>
static int lex_run(qz_io_handle* source, Run run_with) {
  if (!lex_default_ignored_set()) return qz_source_next(source);
  if (qz_source_is<buf_file_handle>(source)) {
    auto* b = static_cast<buf_file_handle*>(source);
    return run_with([b] { return qz_source_buf_next(b); });
  }
  if (qz_source_is<linux_file_handle>(source)) {
    auto* l = static_cast<linux_file_handle*>(source);
    return run_with([l] { return qz_source_file_next(l); });
  }
  return run_with([source] { return qz_source_getc_any(source); });
}

/* Word bytes after a word byte in code outside strings: each joins the
 * pending word, which does not start with a separator. */
static int lex_word_run(qz_io_handle* source) {
  return lex_run(source, [](auto next) { return lex_word_run_with(next); });
}

/* Bytes outside PHP code up to the next "<": skipped, newlines counted. */
static int lex_text_run(qz_io_handle* source) {
  return lex_run(source, [](auto next) { return lex_text_run_with(next); });
}

_qz_token* php_lex_get_token(qz_io_handle* source, unsigned char raw) {
  if (php_lex_string_queue().count > 0) return php_lex_string_next();
  if (!source || source == php_lex_ended_source) return lex_end_of_input(nullptr);
  /* The byte a run stopped at, read and not yet handled: a host's source
   * may return any int, so no value of it can mean "none". */
  bool have_ahead = false;
  int ahead = 0;
  for (;;) {
    int ch = have_ahead ? ahead : qz_source_next(source);
    have_ahead = false;
    if (lex_is_eof(ch)) return lex_end_of_input(source);
    char c = static_cast<char>(ch);
    _qz_token* tk = nullptr;
    bool code = raw || php_lex_state.in_php;
    /* A blank between two tokens of code: every step below would drop it
     * (lex_separator drops a space, lex_append a tab). */
    if (code && (c == ' ' || c == '\t') && php_lex_temp_buff_idx == 0 && !php_lex_state.in_string)
      continue;
    /* The bulk of code: a byte that only joins the pending word, or ends
     * pending separator text, as lex_word_char does. */
    if (code && (lex_class.flags[static_cast<unsigned char>(c)] & LEX_C_WORD) &&
        !php_lex_state.in_string && !lex_ignored(c)) {
      if (lex_word_char(source, c, &tk) == LEX_DONE) return tk;
      ahead = lex_word_run(source);
      have_ahead = true;
      continue;
    }
    if (c == '\n') {
      php_lex_cur_lineno++;
      continue;
    }
    if (lex_ignored(c) && !lex_keeps_bang(source, c)) continue;
    if (!code && c != '<') {
      ahead = lex_text_run(source);
      have_ahead = true;
      continue;
    }
    lex_step step = code ? lex_code_char(source, c, raw, &tk) : lex_outside_code(source, c, &tk);
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
