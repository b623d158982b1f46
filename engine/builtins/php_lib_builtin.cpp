/*
 * Emulated PHP built-ins: taint sources, code sinks, structure helpers and
 * pass-through functions.
 *
 * Taint sources answer with a fixed marker text standing for data from
 * outside the script. Code sinks (eval and its relatives) walk their text
 * again as a nested script through a buffer source, bounded in depth, in
 * number of runs per scan and in bytes per scan, so evaluated code that
 * evaluates code cannot run away. Every built-in takes its arguments in PHP
 * order, never releases them, and returns a fresh token or null (the call
 * wrapper then yields an integer 0).
 */

#include "builtins/php_lib_builtin.h"
#include "php/php_call.h"

#include "builtins/php_lib_registry.h"
#include "builtins/php_lib_taint.h"
#include "builtins/qz_transform.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_driver.h"
#include "php/php_function.h"
#include "php/php_lex.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_string.h"
#include "runtime/qz_symtable.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

/* ---- module state -------------------------------------------------------- */

/* Nested runs started by the code sinks in the current scan. */
static unsigned long php_lib_eval_runs;
/* Bytes of text handed to nested runs in the current scan. */
static unsigned long php_lib_eval_bytes;

/* Code-sink runs active right now: the nesting of evaluated code. */
static unsigned long php_lib_eval_nesting;

/* The class that "new ReflectionClass" named last in this scan (interned),
 * or null: a method call loses its object, so "->getDocComment" reads the
 * class reflected last. */
static const char* php_lib_reflected_class;

/* Decoded texts walked as code where they were decoded in this scan, kept
 * whole (at most QZ_MAX_DECODED_CODE_WALKS of them, QZ_DECODED_CODE_KEEP_BYTES
 * in all): another decoding of the same text is not walked again, and the
 * first sink handed one of them (pending) does not walk it again; later
 * sinks walk it as they always do, as PHP runs it again. */
struct php_lib_decoded_code {
  std::string text;
  bool pending; /* no sink was handed it yet */
};
static std::vector<php_lib_decoded_code> php_lib_decoded_walked;
static unsigned long php_lib_decoded_bytes;

/* Extended reading: the internal pointer of the arrays that each, next,
 * reset and end moved in this scan, as the place (0 for the first item)
 * of the item it is on; an array not here is on its first item. A place,
 * not a bucket, is kept: a collection may move or drop buckets, and a
 * place past the end only reads as the end. */
static std::unordered_map<const _qz_array*, unsigned long> php_lib_cursors;

void php_lib_builtin_scan_begin() {
  php_lib_reflected_class = nullptr;
  php_lib_eval_runs = 0;
  php_lib_eval_bytes = 0;
  php_lib_eval_nesting = 0;
  php_lib_decoded_walked.clear();
  php_lib_decoded_bytes = 0;
  php_lib_cursors.clear();
}

unsigned long php_lib_eval_depth() { return php_lib_eval_nesting; }

/* ---- helpers ------------------------------------------------------------- */

static unsigned long php_lib_line(_qz_token* t) { return t ? t->lineno : 0; }

_qz_token* php_lib_string_token(unsigned long line, const char* text, unsigned long len) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
  if (!res) return nullptr;
  _qz_string* s = qz_string_alloc_n(text, len);
  if (!s) s = qz_string_alloc(nullptr);
  res->value.ptr = s;
  return res;
}

_qz_token* php_lib_marker(_qz_token* arg, const char* marker) {
  return php_lib_string_token(php_lib_line(arg), marker, std::strlen(marker));
}

static _qz_token* php_lib_integer(unsigned long line, long v) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_INTEGER, line);
  if (res) res->value.lval = v;
  return res;
}

_qz_token* php_lib_array_token(unsigned long line) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, line);
  if (res) res->value.ptr = qz_array_alloc();
  return res;
}

bool php_lib_push_piece(_qz_array* arr, const char* text, unsigned long len) {
  _qz_string* piece = qz_string_alloc_n(text, len);
  _qz_value v = {};
  v.type = TOKEN_LITERAL;
  v.ptr = piece ? piece->text : nullptr;
  return piece && qz_array_push(arr, &v);
}

/* ---- taint sources ------------------------------------------------------- */

_qz_token* php_lib_getenv(_qz_token* name) { return php_lib_marker(name, "$_ENV_DATA"); }

_qz_token* php_lib_mysql_fetch_assoc(_qz_token* res) { return php_lib_marker(res, "$_DB_DATA"); }

_qz_token* php_lib_mysql_fetch_row(_qz_token* res) { return php_lib_mysql_fetch_assoc(res); }

_qz_token* php_lib_fsockopen(_qz_token* host, _qz_token*) {
  return php_lib_marker(host, PHP_LIB_SOCKET_MARKER);
}

_qz_token* php_lib_fopen(_qz_token* name, _qz_token*) {
  return php_lib_marker(name, "$_FILE_HANDLE");
}

_qz_token* php_lib_fread(_qz_token* handle, _qz_token*) {
  return php_lib_marker(handle, "$_FILE_CONTENTS");
}

_qz_token* php_lib_fgets(_qz_token* handle) { return php_lib_fread(handle, nullptr); }

/* A name holding "//" anywhere counts as a remote address. */
_qz_token* php_lib_file_get_contents(_qz_token* name) {
  const char* text;
  unsigned long len;
  bool remote =
      name && qz_value_text(&name->value, &text, &len) && memmem(text, len, "//", 2) != nullptr;
  return php_lib_marker(name, remote ? "$_REMOTE_FILE_CONTENTS" : "$_FILE_CONTENTS");
}

/* ---- code sinks ---------------------------------------------------------- */

/* Walks len bytes of text (NUL-terminated there) as a nested script,
 * sharing the variable list, the registry and the call filter with the
 * outer script: from its first byte as code (raw), or else as a file whose
 * code starts at an opening tag. False, with nothing walked, when the driver
 * is already QZ_MAX_NESTED_RUNS deep or the scan has used up its budget of
 * nested runs or of evaluated bytes (a limit reached, see
 * php_call_limit_reached). The text's lines count from the line of the
 * call. The outer reader's lexer state is put back afterwards, so a closing
 * tag or newlines in the walked text do not change how the rest of the outer
 * script is read. */
static bool lib_walk_text(const char* text, unsigned long len, unsigned char raw) {
  php_limit_kind limit = PHP_LIMIT_KIND_COUNT;
  if (php_run_depth() >= QZ_MAX_NESTED_RUNS)
    limit = PHP_LIMIT_NESTED_RUNS;
  else if (php_lib_eval_runs >= QZ_MAX_NESTED_RUNS_PER_SCAN)
    limit = PHP_LIMIT_RUNS_PER_SCAN;
  else if (len > QZ_MAX_EVAL_BYTES_PER_SCAN - php_lib_eval_bytes)
    limit = PHP_LIMIT_EVAL_BYTES;
  if (limit != PHP_LIMIT_KIND_COUNT) {
    php_call_limit_reached(limit, php_call_line);
    return false;
  }
  php_lib_eval_runs++;
  php_lib_eval_bytes += len;

  buf_file_handle source(text);
  php_lex_saved outer;
  php_lex_save(&outer);
  php_lex_begin_text(php_call_line);
  if (!raw) php_lex_state.in_php = 0;
  {
    /* Counted down on every way out: a host callback may throw through the
     * nested run, and the depth must not stay raised after that scan. */
    struct nesting_guard {
      nesting_guard() { php_lib_eval_nesting++; }
      ~nesting_guard() { php_lib_eval_nesting--; }
    } nesting;
    php_debug(nullptr, &source, raw);
  }
  php_lex_restore(&outer);
  return true;
}

/* ---- decoded code (extended reading) ------------------------------------- */

/* The pending decoded text that text is, alone or with at most
 * QZ_DECODED_CODE_WRAP_BYTES around it that can hold no call (a "?>" in
 * front, a ";" behind); null when it is none. */
static php_lib_decoded_code* lib_decoded_pending(const char* text, unsigned long len) {
  for (php_lib_decoded_code& w : php_lib_decoded_walked) {
    unsigned long n = w.text.size();
    if (!w.pending || n > len || len - n > QZ_DECODED_CODE_WRAP_BYTES) continue;
    for (unsigned long at = 0; at + n <= len; at++) {
      if (std::memcmp(text + at, w.text.data(), n) != 0) continue;
      bool calls = false;
      for (unsigned long i = 0; i < len && !calls; i++)
        calls = (i < at || i >= at + n) && (text[i] == '(' || text[i] == '`');
      if (!calls) return &w;
    }
  }
  return nullptr;
}

/* Whether the decoded text is one walked already in this scan. */
static bool lib_decoded_known(const char* text, unsigned long len) {
  for (const php_lib_decoded_code& w : php_lib_decoded_walked)
    if (w.text.size() == len && std::memcmp(w.text.data(), text, len) == 0) return true;
  return false;
}

static bool lib_code_byte(unsigned char c) {
  return (c >= 0x20 && c < 0x7f) || c == '\t' || c == '\n' || c == '\r';
}

/* Whether the QZ_DECODED_CODE_MIN_BYTES bytes from p on (within end) are all
 * printable text. */
static bool lib_code_follows(const char* p, const char* end) {
  if (end - p < static_cast<long>(QZ_DECODED_CODE_MIN_BYTES)) return false;
  for (unsigned long i = 0; i < QZ_DECODED_CODE_MIN_BYTES; i++)
    if (!lib_code_byte(static_cast<unsigned char>(p[i]))) return false;
  return true;
}

static bool lib_name_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

/* The first opening tag in text ("<?php" and "<?" before a space, "<?=")
 * that printable code follows and that stands where a file's code would: at
 * the start after white space, or after bytes that are no text (the header
 * of an image). A tag after printable text is none: it is a piece of the
 * text (code that writes a tag out in a string, a page), not where code
 * opens. Null when there is none. */
static const char* lib_code_tag(const char* text, const char* end) {
  bool binary = false; /* a byte before p is no text */
  bool blank = true;   /* every byte before p is white space */
  for (const char* p = text; end - p >= 3;) {
    const char* lt = static_cast<const char*>(memmem(p, end - p, "<?", 2));
    if (!lt || end - lt < 3) return nullptr;
    for (const char* q = p; q < lt && !binary; q++) {
      binary = !lib_code_byte(static_cast<unsigned char>(*q));
      blank = blank && qz_ascii_is_space(*q);
    }
    if (!binary && !blank) return nullptr;
    const char* after = lt + 2;
    if (end - after >= 4 && strncasecmp(after, "php", 3) == 0 && qz_ascii_is_space(after[3]))
      after += 4;
    else if (*after == '=' || qz_ascii_is_space(*after))
      after += 1;
    else
      after = nullptr;
    if (after && lib_code_follows(after, end)) return lt;
    blank = false;
    p = lt + 2;
  }
  return nullptr;
}

/* Whether text starts (after white space and "@") as a statement list does:
 * an assignment to, or call of, a variable, or a construct or function that
 * code opens with, followed by printable code. */
static bool lib_code_statement(const char* text, const char* end) {
  const char* p = text;
  while (p < end && qz_ascii_is_space(*p)) p++;
  const char* start = p;
  while (p < end && *p == '@') p++;
  if (p >= end || !lib_code_follows(start, end)) return false;
  if (*p == '$') {
    const char* n = p + 1;
    if (n >= end || !(lib_name_byte(*n) && !(*n >= '0' && *n <= '9'))) return false;
    while (n < end && lib_name_byte(*n)) n++;
    while (n < end && qz_ascii_is_space(*n)) n++;
    if (n >= end) return false;
    if (*n == '=') return n + 1 < end && n[1] != '=';
    if (*n == '.') return n + 1 < end && n[1] == '=';
    if (*n == '-') return n + 1 < end && n[1] == '>';
    return *n == '(' || *n == '[';
  }
  static const char* const openers[] = {
      "eval",    "assert",       "function",        "if",
      "foreach", "for",          "while",           "echo",
      "print",   "return",       "include",         "include_once",
      "require", "require_once", "error_reporting", "set_time_limit",
      "ini_set", "define",       "ob_start",        "session_start",
      "header",  "class",        "global"};
  const char* w = p;
  while (p < end && lib_name_byte(*p)) p++;
  unsigned long n = static_cast<unsigned long>(p - w);
  if (n == 0) return false;
  bool known = false;
  for (const char* k : openers)
    if (std::strlen(k) == n && std::memcmp(k, w, n) == 0) known = true;
  if (!known) return false;
  while (p < end && qz_ascii_is_space(*p)) p++;
  if (p >= end) return false;
  /* "function" and "class" name what they define; the others take an
   * expression: a group, a variable or a quoted text. */
  if ((n == 8 && std::memcmp(w, "function", 8) == 0) || (n == 5 && std::memcmp(w, "class", 5) == 0))
    return *p == '(' || *p == '&' || lib_name_byte(*p);
  return *p == '(' || *p == '$' || *p == '\'' || *p == '"';
}

void php_lib_walk_decoded(_qz_token* decoded) {
  const char* text;
  unsigned long len;
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || !decoded ||
      !qz_value_text(&decoded->value, &text, &len) || len < QZ_DECODED_CODE_MIN_BYTES ||
      php_lib_decoded_walked.size() >= QZ_MAX_DECODED_CODE_WALKS ||
      len > QZ_DECODED_CODE_KEEP_BYTES - php_lib_decoded_bytes)
    return;
  const char* end = text + len;
  /* Text that starts as statements is code from its first byte, whatever
   * tags it writes out later; other text is read from its first tag on, as
   * a file is (the buffer source stops at a NUL, which binary in front of
   * the tag may hold). */
  bool statements = lib_code_statement(text, end);
  const char* tag = statements ? nullptr : lib_code_tag(text, end);
  const char* from = statements ? text : tag;
  if (!from || std::memchr(from, '\0', end - from) || lib_decoded_known(text, len)) return;
  /* Recorded before the walk, so that the code decoding itself again
   * inside the walk is not walked once more. */
  try {
    php_lib_decoded_walked.push_back({std::string(text, len), true});
  } catch (const std::bad_alloc&) {
    return;
  }
  php_lib_decoded_bytes += len;
  if (!lib_walk_text(from, static_cast<unsigned long>(end - from), tag ? 0 : 1)) {
    /* A limit refused it (nothing walked, nothing recorded since): the
     * sink walks it, if any limit lets it. */
    php_lib_decoded_bytes -= len;
    php_lib_decoded_walked.pop_back();
  }
}

/* Walks code's text as a nested script in raw mode (lib_walk_text).
 * Returns null. Nothing is walked when the value has no text, when a limit
 * stops it, or (extended reading) when the text is a decoded text walked
 * where it was decoded and handed to no sink yet; the caller still reports
 * the call. */
_qz_token* php_lib_eval(_qz_token* code) {
  const char* text;
  unsigned long len;
  if (!code || !qz_value_text(&code->value, &text, &len)) return nullptr;
  len = std::strlen(text); /* the buffer source stops at the first NUL */
  if (qz_engine_options & QZ_OPT_INTERPRETER_REACH) {
    if (php_lib_decoded_code* walked = lib_decoded_pending(text, len)) {
      walked->pending = false;
      return nullptr;
    }
  }
  lib_walk_text(text, len, 1);
  return nullptr;
}

_qz_token* php_lib_assert(_qz_token* code) { return php_lib_eval(code); }

_qz_token* php_lib_create_function(_qz_token*, _qz_token* code) { return php_lib_eval(code); }

/* Text written to a file is walked as code, since a dropper writes the
 * script it plants. With extended reading only text holding an opening tag
 * is: a file without one runs no PHP, and a log line that quotes request
 * data is not code. */
static _qz_token* php_lib_written(_qz_token* data) {
  const char* text;
  unsigned long len;
  if ((qz_engine_options & QZ_OPT_INTERPRETER_REACH) && data &&
      qz_value_text(&data->value, &text, &len) && !memmem(text, len, "<?", 2))
    return nullptr;
  return php_lib_eval(data);
}

_qz_token* php_lib_file_put_contents(_qz_token*, _qz_token* data) { return php_lib_written(data); }

_qz_token* php_lib_fwrite(_qz_token*, _qz_token* data) { return php_lib_written(data); }

_qz_token* php_lib_fputs(_qz_token*, _qz_token* data) { return php_lib_written(data); }

/* The replacement is evaluated when the pattern holds an "e" anywhere: the
 * modifier is not told apart from the pattern's body. */
_qz_token* php_lib_preg_replace(_qz_token* pattern, _qz_token* replacement, _qz_token*) {
  const char *ptext, *rtext;
  unsigned long plen, rlen;
  if (!pattern || !replacement || !qz_value_text(&pattern->value, &ptext, &plen) ||
      !qz_value_text(&replacement->value, &rtext, &rlen)) {
    return nullptr;
  }
  if (!std::memchr(ptext, 'e', plen)) return nullptr;
  return php_lib_eval(replacement);
}

/* ---- structure ----------------------------------------------------------- */

/* Splits text at every character of delimiter (a set, not a substring);
 * empty pieces are dropped. Each piece is a LITERAL item whose text is a
 * scan-lifetime string of its own, so pieces never enter the symbol table.
 * At most QZ_EXPLODE_MAX_PIECES pieces are appended. */
_qz_token* php_lib_explode(_qz_token* delimiter, _qz_token* text) {
  if (!text) return php_lib_array_token(0);
  _qz_token* res = php_lib_array_token(text->lineno);
  if (!res || !res->value.ptr || !delimiter) return res;
  _qz_array* arr = static_cast<_qz_array*>(res->value.ptr);

  const _qz_value* subject = text->ref ? text->ref : &text->value;
  const char *s, *d;
  unsigned long slen, dlen;
  if (!qz_value_text(subject, &s, &slen) || !qz_value_text(&delimiter->value, &d, &dlen)) {
    return res;
  }
  bool is_delim[256] = {};
  for (unsigned long i = 0; i < dlen; i++) is_delim[static_cast<unsigned char>(d[i])] = true;

  unsigned long pieces = 0;
  unsigned long i = 0;
  while (i < slen && pieces < QZ_EXPLODE_MAX_PIECES) {
    while (i < slen && is_delim[static_cast<unsigned char>(s[i])]) i++;
    unsigned long start = i;
    while (i < slen && !is_delim[static_cast<unsigned char>(s[i])]) i++;
    if (i == start || !php_lib_push_piece(arr, s + start, i - start)) break;
    pieces++;
  }
  while (i < slen && is_delim[static_cast<unsigned char>(s[i])]) i++;
  if (pieces >= QZ_EXPLODE_MAX_PIECES && i < slen)
    php_call_limit_reached(PHP_LIMIT_EXPLODE_PIECES, php_call_line);
  return res;
}

/* Integers low..high as an array, when both are integer tokens and
 * 0 < high - low <= QZ_RANGE_MAX_SPAN (compared unsigned). */
_qz_token* php_lib_range(_qz_token* low, _qz_token* high) {
  _qz_token* res = php_lib_array_token(php_lib_line(low));
  if (!res || !res->value.ptr || !low || !high) return res;
  if (low->type != TOKEN_INTEGER || high->type != TOKEN_INTEGER) return res;
  unsigned long l = static_cast<unsigned long>(low->value.lval);
  unsigned long h = static_cast<unsigned long>(high->value.lval);
  if (h <= l || h - l > QZ_RANGE_MAX_SPAN) return res;
  _qz_array* arr = static_cast<_qz_array*>(res->value.ptr);
  for (unsigned long n = l;; n++) {
    _qz_value v = {};
    v.type = TOKEN_INTEGER;
    v.lval = static_cast<long>(n);
    if (!qz_array_push(arr, &v) || n == h) break;
  }
  return res;
}

_qz_token* php_lib_array_count(_qz_token* a) {
  long n = 0;
  if (a && a->value.type == TOKEN_ARRAY && a->value.ptr) {
    n = static_cast<long>(qz_array_size(static_cast<_qz_array*>(a->value.ptr)));
  }
  return php_lib_integer(php_lib_line(a), n);
}

/* Decides by the token type; the value must still hold an array for its
 * pointer to be read as one. */
_qz_token* php_lib_count(_qz_token* a) {
  long n = 0;
  if (a && a->type == TOKEN_ARRAY && a->value.type == TOKEN_ARRAY && a->value.ptr) {
    n = static_cast<long>(qz_array_size(static_cast<_qz_array*>(a->value.ptr)));
  }
  return php_lib_integer(php_lib_line(a), n);
}

/* The first byte as a signed 8-bit number; 0 for an empty text or no text. */
_qz_token* php_lib_ord(_qz_token* s) {
  const char* text;
  unsigned long len;
  long code = 0;
  if (s && qz_value_text(&s->value, &text, &len) && len > 0) {
    code = static_cast<signed char>(text[0]);
  }
  return php_lib_integer(php_lib_line(s), code);
}

/* The whole number n holds, as php_lib_whole_number reads it. */
static bool php_lib_whole_value(const _qz_token* n, long* out) {
  if (!n) return false;
  if (n->value.type == TOKEN_INTEGER) {
    *out = n->value.lval;
    return true;
  }
  const char* text;
  unsigned long len;
  if (!qz_value_text(&n->value, &text, &len) || len == 0 || len > QZ_WHOLE_NUMBER_DIGITS)
    return false;
  /* Read within len alone: the text need not end there. */
  unsigned long i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == len) return false;
  long v = 0;
  for (unsigned long k = i; k < len; k++) {
    if (text[k] < '0' || text[k] > '9') return false;
    v = v * 10 + (text[k] - '0');
  }
  *out = text[0] == '-' ? -v : v;
  return true;
}

_qz_token* php_lib_whole_number(_qz_token* n) {
  long v = 0;
  return php_lib_whole_value(n, &v) ? php_lib_integer(php_lib_line(n), v) : nullptr;
}

_qz_token* php_lib_abs(_qz_token* n) {
  long v = 0;
  if (!php_lib_whole_value(n, &v)) return nullptr;
  /* The most negative number has no positive twin; PHP makes it a float. */
  return php_lib_integer(php_lib_line(n), v == LONG_MIN ? v : v < 0 ? -v : v);
}

/* One character of the low 8 bits of an integer, or of the decimal number at
 * the start of a STRING; code 0 gives the empty string. */
_qz_token* php_lib_chr(_qz_token* n) {
  long code = 0;
  if (n && n->value.type == TOKEN_INTEGER) {
    code = n->value.lval;
  } else if (n && n->value.type == TOKEN_STRING && n->value.ptr) {
    code = std::strtol(static_cast<_qz_string*>(n->value.ptr)->text, nullptr, 10);
  }
  char c = static_cast<char>(code & 0xFF);
  return php_lib_string_token(php_lib_line(n), &c, c ? 1 : 0);
}

/* name takes value's whole value; a variable of that name is created when
 * none exists. Returns name itself. With extended reading a quoted name
 * arrives as itself (see php_call_arg_entry): the constant's entry is found
 * or made here and takes the value. */
_qz_token* php_lib_define(_qz_token* name, _qz_token* value) {
  if (!name) return nullptr;
  if (name->type == TOKEN_LITERAL && (qz_engine_options & QZ_OPT_INTERPRETER_REACH)) {
    _qz_token* entry = php_reference_globals(name);
    if (entry && value) entry->value = value->value;
    return entry ? entry : name;
  }
  if (value) name->value = value->value;
  php_reference_globals(name);
  return name;
}

_qz_token* php_lib_reflection_class(_qz_token* name) {
  const char* text;
  unsigned long len;
  if (!name || !qz_value_text(&name->value, &text, &len)) return nullptr;
  php_lib_reflected_class =
      len <= QZ_REFLECTED_NAME_MAX ? qz_engine_insert_sym(const_cast<char*>(text)) : nullptr;
  return php_lib_string_token(php_lib_line(name), text, len);
}

_qz_token* php_lib_reflection_doc_comment() {
  const std::string* doc = php_function_class_doc_of(php_lib_reflected_class);
  if (!doc) return nullptr;
  return php_lib_string_token(php_call_line, doc->data(), doc->size());
}

_qz_token* php_lib_getconstant(_qz_token* name) {
  if (!name || !name->name) return nullptr;
  return php_lookup_global_variable(name->name);
}

_qz_token* php_lib_constant(_qz_token* name) {
  const char* text;
  unsigned long len;
  if (!name || !qz_value_text(&name->value, &text, &len) || len == 0 ||
      len > QZ_REFLECTED_NAME_MAX || std::memchr(text, '\0', len))
    return nullptr;
  char* interned = qz_engine_insert_sym(const_cast<char*>(text));
  return interned ? php_lookup_global_variable(interned) : nullptr;
}

/* ---- pass-through -------------------------------------------------------- */

/* A copy of the text: no characters are removed. */
_qz_token* php_lib_stripslashes(_qz_token* s) {
  const char* text;
  unsigned long len;
  if (!s || !qz_value_text(&s->value, &text, &len)) {
    return php_lib_marker(s, QZ_INVALID_STRING_TEXT);
  }
  return php_lib_string_token(s->lineno, text, len);
}

_qz_token* php_lib_passit(_qz_token* s) { return qz_token_clone(s); }

_qz_token* php_lib_str_replace(_qz_token* search, _qz_token* replace, _qz_token* subject) {
  return qz_engine_str_replace(subject, search, replace);
}

/* Writes the value's text (an integer in radix-64 form) to the host's output
 * handler. Returns null. */
_qz_token* php_lib_echo(_qz_token* v) {
  if (!v) return nullptr;
  if (v->value.type == TOKEN_INTEGER) {
    char digits[QZ_L64A_TEXT_SIZE];
    qz_call_output(php_l64a(v->value.lval, digits));
    return nullptr;
  }
  const char* text;
  unsigned long len;
  if (qz_value_text(&v->value, &text, &len)) qz_call_output(const_cast<char*>(text));
  return nullptr;
}

/* ---- the internal pointer of arrays (extended reading) ------------------ */

/* The array a value holds, or null. */
static _qz_array* lib_array_of(_qz_token* t) {
  if (!t) return nullptr;
  _qz_value v = php_variable_value(t);
  return v.type == TOKEN_ARRAY && v.ptr ? static_cast<_qz_array*>(v.ptr) : nullptr;
}

/* The bucket at place n of arr, or null past its end. */
static _qz_bucket* lib_array_at(_qz_array* arr, unsigned long n) {
  _qz_bucket* b = arr->head;
  while (b && n--) b = b->next;
  return b;
}

static unsigned long lib_cursor(const _qz_array* arr) {
  auto it = php_lib_cursors.find(arr);
  return it == php_lib_cursors.end() ? 0 : it->second;
}

/* Puts arr's pointer on place n. The table holds at most
 * QZ_MAX_ARRAY_CURSORS arrays: when full it starts afresh, every array back
 * on its first item, so no script can grow it without end. */
static void lib_set_cursor(const _qz_array* arr, unsigned long n) {
  if (php_lib_cursors.size() >= QZ_MAX_ARRAY_CURSORS && !php_lib_cursors.count(arr))
    php_lib_cursors.clear();
  try {
    php_lib_cursors[arr] = n;
  } catch (const std::bad_alloc&) {
  }
}

/* A new token holding a copy of v. */
static _qz_token* lib_value_token(const _qz_value& v) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, php_call_line);
  if (res) res->value = v;
  return res;
}

/* The item the pointer of array is on, or null past the end (and for
 * anything but an array); request data reads as its marker. */
_qz_token* php_lib_current(_qz_token* array) {
  if (_qz_token* marked = php_lib_taint_request_item(array)) return marked;
  _qz_array* arr = lib_array_of(array);
  _qz_bucket* b = arr ? lib_array_at(arr, lib_cursor(arr)) : nullptr;
  return b ? lib_value_token(b->value) : nullptr;
}

_qz_token* php_lib_next(_qz_token* array) {
  _qz_array* arr = lib_array_of(array);
  if (!arr) return php_lib_taint_request_item(array);
  lib_set_cursor(arr, lib_cursor(arr) + 1);
  return php_lib_current(array);
}

_qz_token* php_lib_reset(_qz_token* array) {
  if (_qz_array* arr = lib_array_of(array)) lib_set_cursor(arr, 0);
  return php_lib_current(array);
}

_qz_token* php_lib_end(_qz_token* array) {
  _qz_array* arr = lib_array_of(array);
  if (arr) {
    unsigned long n = 0;
    for (_qz_bucket* b = arr->head; b && b->next; b = b->next) n++;
    lib_set_cursor(arr, n);
  }
  return arr ? php_lib_current(array) : php_lib_taint_request_item(array);
}

/* each: the pair the pointer is on, as PHP gives it (0 and "key" the key,
 * 1 and "value" the value), the pointer moved on; null (false) past the
 * end. Request data gives one pair of its marker, then the end. */
_qz_token* php_lib_each(_qz_token* array) {
  _qz_array* arr = lib_array_of(array);
  if (!arr) return nullptr;
  unsigned long at = lib_cursor(arr);
  _qz_value key{}, value{};
  if (const char* marker = php_array_request_marker(arr)) {
    if (at > 0) return nullptr;
    key.type = value.type = TOKEN_LITERAL;
    key.ptr = value.ptr = const_cast<char*>(marker);
  } else {
    _qz_bucket* b = lib_array_at(arr, at);
    if (!b) return nullptr;
    key = php_value_bucket_key(b);
    value = b->value;
  }
  lib_set_cursor(arr, at + 1);
  _qz_token* res = php_lib_array_token(php_call_line);
  auto* pair = res ? static_cast<_qz_array*>(res->value.ptr) : nullptr;
  if (!pair) return res;
  qz_array_push(pair, &key);
  qz_array_push(pair, &value);
  const char* names[] = {"key", "value"};
  const _qz_value* values[] = {&key, &value};
  for (int i = 0; i < 2; i++) {
    _qz_bucket* b = qz_bucket_alloc();
    if (!b) break;
    b->key = qz_engine_insert_sym(const_cast<char*>(names[i]));
    b->value = *values[i];
    qz_array_push(pair, b);
  }
  return res;
}

_qz_token* php_lib_is_array(_qz_token* value) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_INTEGER, php_call_line);
  if (res) res->value.lval = lib_array_of(value) ? 1 : 0;
  return res;
}
