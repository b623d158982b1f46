/*
 * Text-building built-ins under QZ_OPT_INTERPRETER_REACH: the PHP string and
 * array routines obfuscated scripts use to put a function name or a payload
 * together from pieces.
 *
 * Every result is built in a text_buf, which refuses to grow past
 * QZ_MAX_STRING_LENGTH; a refused result becomes the invalid-string text
 * through qz_string_alloc_n, so the evaluator notes the string_length limit
 * as for any other text too long to keep.
 */

#include "builtins/php_lib_text.h"

#include "builtins/php_lib_builtin.h"
#include "builtins/php_lib_taint.h"
#include "builtins/qz_transform.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_string.h"

#include <strings.h>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

/* ---- helpers ------------------------------------------------------------- */

namespace {
/* A growing malloc'd text. Growth past QZ_MAX_STRING_LENGTH or a refused
 * allocation marks it failed (over_cap tells which); it never throws. */
struct text_buf {
  char* p = nullptr;
  unsigned long n = 0, cap = 0;
  bool failed = false, over_cap = false;

  text_buf() = default;
  text_buf(const text_buf&) = delete;
  text_buf& operator=(const text_buf&) = delete;
  ~text_buf() { std::free(p); }

  bool reserve(unsigned long more) {
    if (failed) return false;
    if (more > QZ_MAX_STRING_LENGTH - n) {
      failed = over_cap = true;
      return false;
    }
    if (n + more <= cap) return true;
    unsigned long want = cap ? cap * 2 : 64;
    if (want < n + more) want = n + more;
    if (want > QZ_MAX_STRING_LENGTH) want = QZ_MAX_STRING_LENGTH;
    char* q = static_cast<char*>(std::realloc(p, want + 1));
    if (!q) {
      failed = true;
      return false;
    }
    p = q;
    cap = want;
    return true;
  }
  void put(const char* s, unsigned long len) {
    if (len == 0 || !reserve(len)) return;
    std::memcpy(p + n, s, len);
    n += len;
  }
  void put(char c) { put(&c, 1); }
  void fill(char c, unsigned long count) {
    if (count == 0 || !reserve(count)) return;
    std::memset(p + n, c, count);
    n += count;
  }
};
}  // namespace

/* The value an argument stands for: its variable entry when it names one, as
 * the call wrapper resolves the arguments of fixed-arity built-ins. */
static _qz_token* text_resolve(_qz_token* t) {
  if (!t) return nullptr;
  _qz_token* v = php_reference_globals(t);
  return v ? v : t;
}

/* Up to n arguments of a variadic list, resolved; missing ones null. */
static void text_args(_qz_token* list, _qz_token** out, int n) {
  for (int i = 0; i < n; i++) {
    out[i] = text_resolve(list);
    if (list) list = list->next;
  }
}

static unsigned long text_line(_qz_token* t) { return t ? t->lineno : php_call_line; }

static _qz_token* text_fixed(_qz_token* at, const char* text) {
  return php_lib_string_token(text_line(at), text, std::strlen(text));
}

/* The result of a buffer: its text, or the invalid-string text when it
 * failed (a refused long string when it grew past the cap). */
static _qz_token* text_result(_qz_token* at, const text_buf& b) {
  if (b.over_cap) return php_lib_string_token(text_line(at), "", QZ_MAX_STRING_LENGTH + 1);
  if (b.failed) return text_fixed(at, QZ_INVALID_STRING_TEXT);
  return php_lib_string_token(text_line(at), b.p ? b.p : "", b.n);
}

/* Bytes a decoder made: cut at the first NUL without full decoding, as
 * base64_decode does; nothing decoded gives the decoded marker. */
static _qz_token* text_decoded(_qz_token* at, const text_buf& b) {
  if (b.failed) return text_result(at, b);
  unsigned long n = b.n;
  if (!qz_full_decode_enabled() && b.p) n = strnlen(b.p, n);
  if (n == 0) return text_fixed(at, QZ_DECODED_TEXT);
  return php_lib_string_token(text_line(at), b.p, n);
}

static bool text_of(_qz_token* t, const char** text, unsigned long* len) {
  return t && qz_value_text(&t->value, text, len);
}

/* A value as PHP turns it into text for joining and formatting: its text,
 * an integer in decimal, "Array" for an array, nothing for anything else.
 * digits receives an integer's text. */
static void text_value_text(const _qz_value* v, char (&digits)[24], const char** text,
                            unsigned long* len) {
  if (qz_value_text(v, text, len)) return;
  if (v->type == TOKEN_INTEGER) {
    *len = static_cast<unsigned long>(std::snprintf(digits, sizeof digits, "%ld", v->lval));
    *text = digits;
  } else if (v->type == TOKEN_ARRAY) {
    *text = "Array";
    *len = 5;
  } else {
    *text = "";
    *len = 0;
  }
}

/* The text of a flag argument: its value's text, or, for a constant the
 * script names (a word without a value, such as STR_PAD_LEFT), the name
 * itself; null for anything else. */
static const char* text_flag_name(_qz_token* t) {
  const char* text;
  unsigned long len;
  if (!t) return nullptr;
  if (text_of(t, &text, &len)) return text;
  if (t->type == TOKEN_WORD && t->value.type == TOKEN_NONE && t->name && t->name[0] != '$')
    return t->name;
  return nullptr;
}

/* An integer argument: an INTEGER's value, or the decimal number a text
 * starts with; fallback when the argument is missing or is "null". */
static long text_int(_qz_token* t, long fallback) {
  if (!t) return fallback;
  if (t->value.type == TOKEN_INTEGER) return t->value.lval;
  const char* text;
  unsigned long len;
  if (!text_of(t, &text, &len)) return fallback;
  if (strcasecmp(text, "null") == 0) return fallback;
  return std::strtol(text, nullptr, 10);
}

static bool text_is_null(_qz_token* t) {
  const char* text;
  unsigned long len;
  return !t || (text_of(t, &text, &len) && strcasecmp(text, "null") == 0);
}

static _qz_array* text_array(_qz_token* t) {
  if (!t || t->value.type != TOKEN_ARRAY) return nullptr;
  return static_cast<_qz_array*>(t->value.ptr);
}

/* ---- strtr --------------------------------------------------------------- */

/* The keys of a strtr table in a trie over the bytes that occur in keys:
 * finding the longest key at a place costs at most the longest key's length
 * in table steps. */
namespace {
struct strtr_table {
  int col[256];                  /* byte -> column, -1 for a byte in no key */
  int cols = 0;                  /* distinct key bytes */
  std::vector<uint16_t> child;   /* node * cols + column -> node, 0: none */
  std::vector<int> pair;         /* node -> pair index of the key ending there, -1 */
  std::vector<const char*> text; /* pair -> value text */
  std::vector<unsigned long> len;
  unsigned long longest = 0;
};
}  // namespace

/* Fills t from the array; false when the array passes one of the strtr
 * bounds. */
static bool strtr_build(_qz_array* arr, strtr_table* t) {
  struct pair_text {
    const char *key, *value;
    unsigned long key_len, value_len;
  };
  std::vector<pair_text> pairs;
  std::vector<std::vector<char>> keep; /* integer keys and values as text */
  unsigned long key_bytes = 0;
  for (int i = 0; i < 256; i++) t->col[i] = -1;
  for (_qz_bucket* b = arr->head; b; b = b->next) {
    if (pairs.size() >= QZ_STRTR_MAX_PAIRS) return false;
    pair_text p;
    char digits[24];
    if (b->key) {
      p.key = b->key;
      p.key_len = std::strlen(b->key);
    } else {
      int n = std::snprintf(digits, sizeof digits, "%lu", b->index);
      keep.emplace_back(digits, digits + n);
      p.key = keep.back().data();
      p.key_len = static_cast<unsigned long>(n);
    }
    if (p.key_len == 0) continue; /* PHP skips empty keys */
    if (p.key_len > QZ_STRTR_MAX_KEY_LENGTH) return false;
    key_bytes += p.key_len;
    if (key_bytes > QZ_STRTR_MAX_KEY_BYTES) return false;
    char vd[24];
    text_value_text(&b->value, vd, &p.value, &p.value_len);
    if (p.value == vd) {
      keep.emplace_back(vd, vd + p.value_len);
      p.value = keep.back().data();
    }
    pairs.push_back(p);
    for (unsigned long i = 0; i < p.key_len; i++) {
      unsigned char c = static_cast<unsigned char>(p.key[i]);
      if (t->col[c] < 0) t->col[c] = t->cols++;
    }
  }
  /* The texts must outlive the table; values of integer items are copied
   * into strings of the scan. */
  t->pair.assign(1, -1);
  t->child.assign(static_cast<size_t>(t->cols), 0);
  for (const pair_text& p : pairs) {
    size_t node = 0;
    for (unsigned long i = 0; i < p.key_len; i++) {
      size_t slot = node * t->cols + t->col[static_cast<unsigned char>(p.key[i])];
      if (!t->child[slot]) {
        t->child[slot] = static_cast<uint16_t>(t->pair.size());
        t->pair.push_back(-1);
        t->child.resize(t->child.size() + t->cols, 0);
      }
      node = t->child[slot];
    }
    _qz_string* value = qz_string_alloc_n(p.value, p.value_len);
    if (!value) return false;
    t->pair[node] = static_cast<int>(t->text.size());
    t->text.push_back(value->text);
    t->len.push_back(value->length);
    if (p.key_len > t->longest) t->longest = p.key_len;
  }
  return true;
}

static void strtr_pairs(const char* s, unsigned long n, const strtr_table& t, text_buf* out) {
  unsigned long i = 0;
  while (i < n && !out->failed) {
    size_t node = 0;
    int best = -1;
    unsigned long best_len = 0;
    for (unsigned long j = i; j < n && j - i < t.longest; j++) {
      int c = t.col[static_cast<unsigned char>(s[j])];
      if (c < 0) break;
      node = t.child[node * t.cols + c];
      if (!node) break;
      if (t.pair[node] >= 0) {
        best = t.pair[node];
        best_len = j - i + 1;
      }
    }
    if (best >= 0) {
      out->put(t.text[best], t.len[best]);
      i += best_len;
    } else {
      out->put(s[i++]);
    }
  }
}

_qz_token* php_lib_text_strtr(_qz_token* args) {
  _qz_token* a[3];
  text_args(args, a, 3);
  const char *s, *from, *to;
  unsigned long n, from_len, to_len;
  if (!text_of(a[0], &s, &n)) return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
  text_buf out;
  if (a[2]) {
    if (!text_of(a[1], &from, &from_len) || !text_of(a[2], &to, &to_len))
      return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
    unsigned char map[256];
    for (int c = 0; c < 256; c++) map[c] = static_cast<unsigned char>(c);
    unsigned long k = from_len < to_len ? from_len : to_len;
    for (unsigned long i = 0; i < k; i++)
      map[static_cast<unsigned char>(from[i])] = static_cast<unsigned char>(to[i]);
    if (out.reserve(n)) {
      for (unsigned long i = 0; i < n; i++)
        out.p[i] = static_cast<char>(map[static_cast<unsigned char>(s[i])]);
      out.n = n;
    }
  } else {
    _qz_array* arr = text_array(a[1]);
    strtr_table table;
    if (arr && strtr_build(arr, &table) && table.longest > 0)
      strtr_pairs(s, n, table, &out);
    else
      out.put(s, n);
  }
  return php_lib_taint_carry(a[0], text_result(a[0], out));
}

/* ---- substr, str_split, implode, array_reverse ---------------------------- */

/* The span substr takes of a text of n bytes for the start and length
 * arguments (length null or missing: to the end); negative values count
 * from the end, as PHP 8 counts them. */
static void text_span(unsigned long n, _qz_token* start_arg, _qz_token* length_arg, long* start,
                      long* count) {
  long len = static_cast<long>(n);
  long from = text_int(start_arg, 0);
  if (from > len) from = len;
  if (from < 0) from = from < -len ? 0 : len + from;
  long take = len - from;
  if (!text_is_null(length_arg)) {
    long want = text_int(length_arg, take);
    if (want < 0) want = want < -take ? 0 : take + want;
    if (want < take) take = want;
  }
  *start = from;
  *count = take;
}

_qz_token* php_lib_text_substr(_qz_token* args) {
  _qz_token* a[3];
  text_args(args, a, 3);
  const char* s;
  unsigned long n;
  if (!text_of(a[0], &s, &n)) return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
  long start, count;
  text_span(n, a[1], a[2], &start, &count);
  text_buf out;
  out.put(s + start, static_cast<unsigned long>(count));
  return php_lib_taint_carry(a[0], text_result(a[0], out));
}

/* strpos and stripos: the position as an integer; null (the scan cannot
 * say, or PHP's false) when either text is unknown, the needle is empty or
 * not found, the offset lies outside the haystack, or (stripos) the
 * haystack is longer than QZ_FOLD_SEARCH_MAX_BYTES. The search is memmem's,
 * linear in the texts whatever they hold. */
static _qz_token* text_find(_qz_token* args, bool fold) {
  _qz_token* a[3];
  text_args(args, a, 3);
  const char *hay, *needle;
  unsigned long hay_len, needle_len;
  if (!text_of(a[0], &hay, &hay_len) || !text_of(a[1], &needle, &needle_len) || needle_len == 0)
    return nullptr;
  long offset = text_int(a[2], 0);
  if (offset < 0) offset += static_cast<long>(hay_len);
  if (offset < 0 || static_cast<unsigned long>(offset) > hay_len) return nullptr;
  std::string folded_hay, folded_needle;
  if (fold) {
    if (hay_len > QZ_FOLD_SEARCH_MAX_BYTES) return nullptr;
    folded_hay.assign(hay, hay_len);
    folded_needle.assign(needle, needle_len);
    for (char& c : folded_hay) c = qz_ascii_lower(c);
    for (char& c : folded_needle) c = qz_ascii_lower(c);
    hay = folded_hay.data();
    needle = folded_needle.data();
  }
  unsigned long from = static_cast<unsigned long>(offset);
  const void* at = memmem(hay + from, hay_len - from, needle, needle_len);
  if (!at) return nullptr;
  _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, text_line(a[0]));
  if (res) res->value.lval = static_cast<const char*>(at) - hay;
  return res;
}

_qz_token* php_lib_text_strpos(_qz_token* args) { return text_find(args, false); }
_qz_token* php_lib_text_stripos(_qz_token* args) { return text_find(args, true); }

_qz_token* php_lib_text_substr_replace(_qz_token* args) {
  _qz_token* a[4];
  text_args(args, a, 4);
  const char *s, *with = "";
  unsigned long n, with_len = 0;
  if (!text_of(a[0], &s, &n)) return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
  if (a[1] && !text_of(a[1], &with, &with_len)) return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
  long start, count;
  text_span(n, a[2], a[3], &start, &count);
  text_buf out;
  out.put(s, static_cast<unsigned long>(start));
  out.put(with, with_len);
  out.put(s + start + count, n - static_cast<unsigned long>(start + count));
  return php_lib_taint_carry(a[0], text_result(a[0], out));
}

_qz_token* php_lib_text_str_split(_qz_token* args) {
  _qz_token* a[2];
  text_args(args, a, 2);
  _qz_token* res = php_lib_array_token(text_line(a[0]));
  if (!res) return nullptr;
  auto* arr = static_cast<_qz_array*>(res->value.ptr);
  const char* s;
  unsigned long n;
  long size = text_int(a[1], 1);
  if (!arr || !text_of(a[0], &s, &n) || size < 1) return res;
  /* Pieces of request data are request data: cutting a marker's own
   * letters apart would lose it. */
  if (php_lib_taint_mask(s, n) != 0) {
    php_lib_push_piece(arr, s, n);
    return res;
  }
  unsigned long step = static_cast<unsigned long>(size), pieces = 0, i = 0;
  for (; i < n && pieces < QZ_EXPLODE_MAX_PIECES; i += step, pieces++) {
    unsigned long take = n - i < step ? n - i : step;
    if (!php_lib_push_piece(arr, s + i, take) || take < step) return res;
  }
  if (i < n) php_call_limit_reached(PHP_LIMIT_EXPLODE_PIECES, php_call_line);
  return res;
}

_qz_token* php_lib_text_implode(_qz_token* args) {
  _qz_token* a[2];
  text_args(args, a, 2);
  _qz_array* arr = text_array(a[1]);
  _qz_token* glue_tok = a[0];
  if (!arr) {
    arr = text_array(a[0]);
    glue_tok = a[1];
  }
  if (!arr) return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
  const char* glue = "";
  unsigned long glue_len = 0;
  if (glue_tok && !text_of(glue_tok, &glue, &glue_len)) glue_len = 0;
  text_buf out;
  for (_qz_bucket* b = arr->head; b && !out.failed; b = b->next) {
    if (b != arr->head) out.put(glue, glue_len);
    char digits[24];
    const char* t;
    unsigned long len;
    text_value_text(&b->value, digits, &t, &len);
    out.put(t, len);
  }
  /* A request array holds items the scan never read, request data like the
   * rest: they join the text as the array's item marker. */
  if (const char* marker = php_array_request_marker(arr)) {
    if (arr->head) out.put(glue, glue_len);
    out.put(marker, std::strlen(marker));
  }
  return text_result(a[0], out);
}

_qz_token* php_lib_text_array_reverse(_qz_token* args) {
  _qz_token* a[1];
  text_args(args, a, 1);
  _qz_token* res = php_lib_array_token(text_line(a[0]));
  if (!res) return nullptr;
  auto* out = static_cast<_qz_array*>(res->value.ptr);
  _qz_array* in = text_array(a[0]);
  if (!out || !in) return res;
  out->item_marker = in->item_marker; /* a reversed request array is still one */
  std::vector<_qz_bucket*> items;
  for (_qz_bucket* b = in->head; b; b = b->next) items.push_back(b);
  for (size_t i = items.size(); i-- > 0;) {
    _qz_bucket* from = items[i];
    if (!from->key) {
      if (!qz_array_push(out, &from->value)) break;
      continue;
    }
    _qz_bucket* b = qz_bucket_alloc();
    if (!b) break;
    b->key = from->key;
    b->value = from->value;
    if (!qz_array_push(out, b)) break;
  }
  return res;
}

/* ---- sprintf ------------------------------------------------------------- */

/* Digits of v in base (2..16), lower or upper case, most significant first. */
static unsigned long text_digits(unsigned long v, unsigned base, bool upper, char* buf) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char rev[72];
  unsigned long n = 0;
  do {
    rev[n++] = set[v % base];
    v /= base;
  } while (v);
  for (unsigned long i = 0; i < n; i++) buf[i] = rev[n - 1 - i];
  return n;
}

/* Formats fmt with the values; false (out left failed) for a conversion PHP
 * refuses or a missing argument. */
static bool text_format(const char* fmt, unsigned long fmt_len,
                        const std::vector<const _qz_value*>& values, text_buf* out) {
  unsigned long next_arg = 0;
  for (unsigned long i = 0; i < fmt_len && !out->failed; i++) {
    if (fmt[i] != '%') {
      out->put(fmt[i]);
      continue;
    }
    if (++i >= fmt_len) return false;
    if (fmt[i] == '%') {
      out->put('%');
      continue;
    }
    unsigned long arg = next_arg, j = i, num = 0;
    while (j < fmt_len && fmt[j] >= '0' && fmt[j] <= '9' && num < QZ_MAX_STRING_LENGTH)
      num = num * 10 + static_cast<unsigned long>(fmt[j++] - '0');
    bool numbered = j < fmt_len && fmt[j] == '$' && j > i;
    if (numbered) {
      if (num == 0) return false;
      arg = num - 1;
      i = j + 1;
    }
    bool left = false, plus = false;
    char pad = ' ';
    for (; i < fmt_len; i++) {
      if (fmt[i] == '-')
        left = true;
      else if (fmt[i] == '+')
        plus = true;
      else if (fmt[i] == '0')
        pad = '0';
      else if (fmt[i] == ' ')
        pad = ' ';
      else if (fmt[i] == '\'' && i + 1 < fmt_len)
        pad = fmt[++i];
      else
        break;
    }
    unsigned long width = 0, precision = ~0ul;
    for (; i < fmt_len && fmt[i] >= '0' && fmt[i] <= '9'; i++)
      if (width <= QZ_MAX_STRING_LENGTH)
        width = width * 10 + static_cast<unsigned long>(fmt[i] - '0');
    if (i < fmt_len && fmt[i] == '.') {
      precision = 0;
      for (i++; i < fmt_len && fmt[i] >= '0' && fmt[i] <= '9'; i++)
        if (precision <= QZ_MAX_STRING_LENGTH)
          precision = precision * 10 + static_cast<unsigned long>(fmt[i] - '0');
    }
    if (i >= fmt_len) return false;
    char conv = fmt[i];
    if (!conv || !std::strchr("scduxXob", conv)) return false;
    if (arg >= values.size()) return false;
    if (!numbered) next_arg++;
    const _qz_value* v = values[arg];

    char digits[72];
    const char* body;
    unsigned long len;
    char sign = 0;
    if (conv == 's') {
      char dec[24];
      text_value_text(v, dec, &body, &len);
      if (len > precision) len = precision;
      if (body == dec) {
        std::memcpy(digits, dec, len);
        body = digits;
      }
    } else {
      long n = 0;
      const char* t;
      unsigned long tl;
      if (v->type == TOKEN_INTEGER)
        n = v->lval;
      else if (qz_value_text(v, &t, &tl))
        n = std::strtol(t, nullptr, 10);
      if (conv == 'c') {
        digits[0] = static_cast<char>(n & 0xFF);
        out->put(digits, 1); /* PHP pads no character */
        continue;
      }
      unsigned long u = static_cast<unsigned long>(n);
      if (conv == 'd') {
        if (n < 0) {
          sign = '-';
          u = 0ul - u;
        } else if (plus) {
          sign = '+';
        }
      }
      unsigned base = conv == 'x' || conv == 'X' ? 16 : conv == 'o' ? 8 : conv == 'b' ? 2 : 10;
      len = text_digits(u, base, conv == 'X', digits);
      body = digits;
    }
    unsigned long total = len + (sign ? 1 : 0);
    unsigned long fill = width > total ? width - total : 0;
    if (left) {
      if (sign) out->put(sign);
      out->put(body, len);
      out->fill(pad == '0' ? ' ' : pad, fill);
    } else if (pad == '0' && sign) {
      out->put(sign);
      out->fill('0', fill);
      out->put(body, len);
    } else {
      out->fill(pad, fill);
      if (sign) out->put(sign);
      out->put(body, len);
    }
  }
  return true;
}

_qz_token* php_lib_text_sprintf(_qz_token* args) {
  _qz_token* fmt = text_resolve(args);
  const char* f;
  unsigned long f_len;
  if (!text_of(fmt, &f, &f_len)) return text_fixed(fmt, QZ_INVALID_STRING_TEXT);
  std::vector<const _qz_value*> values;
  for (_qz_token* t = args ? args->next : nullptr; t; t = t->next)
    values.push_back(&text_resolve(t)->value);
  text_buf out;
  if (!text_format(f, f_len, values, &out) && !out.failed)
    return text_fixed(fmt, QZ_INVALID_STRING_TEXT);
  return text_result(fmt, out);
}

_qz_token* php_lib_text_vsprintf(_qz_token* format, _qz_token* list) {
  const char* f;
  unsigned long f_len;
  if (!text_of(format, &f, &f_len)) return text_fixed(format, QZ_INVALID_STRING_TEXT);
  std::vector<const _qz_value*> values;
  if (_qz_array* arr = text_array(list))
    for (_qz_bucket* b = arr->head; b; b = b->next) values.push_back(&b->value);
  text_buf out;
  if (!text_format(f, f_len, values, &out) && !out.failed)
    return text_fixed(format, QZ_INVALID_STRING_TEXT);
  return text_result(format, out);
}

/* ---- hex, pack, uudecode, base_convert, rawurldecode ---------------------- */

_qz_token* php_lib_text_hex2bin(_qz_token* hex) {
  const char* s;
  unsigned long n;
  text_buf out;
  if (text_of(hex, &s, &n) && n % 2 == 0) {
    for (unsigned long i = 0; i < n && !out.failed; i += 2) {
      int hi = qz_ascii_hex_value(s[i]), lo = qz_ascii_hex_value(s[i + 1]);
      if (hi == QZ_ASCII_NOT_HEX || lo == QZ_ASCII_NOT_HEX) {
        out.n = 0;
        break;
      }
      out.put(static_cast<char>(hi * 16 + lo));
    }
  }
  return php_lib_taint_carry(hex, text_decoded(hex, out));
}

/* pack("C"/"c" with a count or "*", numbers...): one byte per number. */
static _qz_token* text_pack_bytes(_qz_token* format, _qz_token* numbers) {
  text_buf out;
  for (_qz_token* t = numbers; t && !out.failed; t = t->next)
    out.put(static_cast<char>(text_int(text_resolve(t), 0) & 0xff));
  return text_decoded(format, out);
}

_qz_token* php_lib_text_pack(_qz_token* args) {
  _qz_token* a[3];
  text_args(args, a, 3);
  const char* code_text;
  unsigned long code_len;
  if (args && text_of(a[0], &code_text, &code_len) && code_len >= 1 &&
      (code_text[0] == 'C' || code_text[0] == 'c'))
    return text_pack_bytes(a[0], args->next);
  const char *f, *s;
  unsigned long f_len, n;
  text_buf out;
  if (!text_of(a[0], &f, &f_len) || f_len < 1 || !text_of(a[1], &s, &n) || a[2])
    return text_fixed(a[0], QZ_DECODED_TEXT);
  char code = f[0];
  unsigned long count = 1;
  if (f_len >= 2 && f[1] == '*' && f_len == 2) {
    count = n;
  } else if (f_len > 1) {
    count = 0;
    for (unsigned long i = 1; i < f_len; i++) {
      if (f[i] < '0' || f[i] > '9') return text_fixed(a[0], QZ_DECODED_TEXT);
      if (count <= QZ_MAX_STRING_LENGTH)
        count = count * 10 + static_cast<unsigned long>(f[i] - '0');
    }
  }
  if (code == 'a' || code == 'A') {
    if (count != n) return text_fixed(a[0], QZ_DECODED_TEXT);
    out.put(s, n);
    return php_lib_taint_carry(a[1], text_result(a[0], out));
  }
  if (code != 'H' && code != 'h') return text_fixed(a[0], QZ_DECODED_TEXT);
  if (count > n) count = n;
  for (unsigned long i = 0; i < count && !out.failed; i += 2) {
    int first = qz_ascii_hex_value(s[i]);
    int second = i + 1 < count ? qz_ascii_hex_value(s[i + 1]) : 0;
    if (first == QZ_ASCII_NOT_HEX) first = 0;
    if (second == QZ_ASCII_NOT_HEX) second = 0;
    out.put(static_cast<char>(code == 'H' ? first * 16 + second : second * 16 + first));
  }
  return php_lib_taint_carry(a[1], text_decoded(a[0], out));
}

_qz_token* php_lib_text_convert_uudecode(_qz_token* text) {
  const char* s;
  unsigned long n;
  text_buf out;
  auto dec = [](char c) { return (static_cast<unsigned char>(c) - ' ') & 077; };
  if (text_of(text, &s, &n)) {
    unsigned long i = 0;
    while (i < n && !out.failed) {
      unsigned long len = static_cast<unsigned long>(dec(s[i++]));
      if (len == 0) break;
      unsigned long groups = (len + 2) / 3;
      if (groups * 4 > n - i) {
        out.n = 0; /* a line cut short: nothing trustworthy was decoded */
        break;
      }
      for (unsigned long g = 0; g < groups; g++, i += 4) {
        char b[3] = {static_cast<char>(dec(s[i]) << 2 | dec(s[i + 1]) >> 4),
                     static_cast<char>(dec(s[i + 1]) << 4 | dec(s[i + 2]) >> 2),
                     static_cast<char>(dec(s[i + 2]) << 6 | dec(s[i + 3]))};
        unsigned long take = len - g * 3 < 3 ? len - g * 3 : 3;
        out.put(b, take);
      }
      while (i < n && s[i] != '\n') i++;
      if (i < n) i++;
    }
  }
  return php_lib_taint_carry(text, text_decoded(text, out));
}

/* The value of a digit in bases up to 36 ("0"-"9", then letters in either
 * case); kTextNoDigit, past every base, for any other character. */
static const unsigned kTextNoDigit = 99;
static unsigned text_digit(char ch) {
  char c = qz_ascii_lower(ch);
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 10);
  return kTextNoDigit;
}

/* hexdec, octdec and bindec: the digits of the base in the text, others
 * skipped as PHP skips them; a value past a long saturates. */
static _qz_token* text_digits_in_base(_qz_token* number, unsigned base) {
  const char* s;
  unsigned long n;
  unsigned long v = 0;
  if (text_of(number, &s, &n)) {
    for (unsigned long i = 0; i < n; i++) {
      unsigned d = text_digit(s[i]);
      if (d >= base) continue;
      v = v > (static_cast<unsigned long>(LONG_MAX) - d) / base ? LONG_MAX : v * base + d;
    }
  }
  _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, text_line(number));
  if (res) res->value.lval = static_cast<long>(v);
  return res;
}

_qz_token* php_lib_text_hexdec(_qz_token* number) { return text_digits_in_base(number, 16); }
_qz_token* php_lib_text_octdec(_qz_token* number) { return text_digits_in_base(number, 8); }
_qz_token* php_lib_text_bindec(_qz_token* number) { return text_digits_in_base(number, 2); }

/* dechex, decoct and decbin: the integer's digits in base, lower case; a
 * negative number is written as PHP writes it, by its 64-bit pattern. A
 * value that is no number reads as 0 (PHP's TypeError is not modelled). */
static _qz_token* text_number_in_base(_qz_token* number, unsigned base) {
  char buf[72];
  unsigned long n = text_digits(static_cast<unsigned long>(text_int(number, 0)), base, false, buf);
  return php_lib_string_token(text_line(number), buf, n);
}

_qz_token* php_lib_text_dechex(_qz_token* number) { return text_number_in_base(number, 16); }
_qz_token* php_lib_text_decoct(_qz_token* number) { return text_number_in_base(number, 8); }
_qz_token* php_lib_text_decbin(_qz_token* number) { return text_number_in_base(number, 2); }

_qz_token* php_lib_text_base_convert(_qz_token* number, _qz_token* from, _qz_token* to) {
  long fb = text_int(from, 0), tb = text_int(to, 0);
  if (fb < 2 || fb > 36 || tb < 2 || tb > 36) return text_fixed(number, QZ_INVALID_STRING_TEXT);
  char dec[24];
  const char* s = "";
  unsigned long n = 0;
  if (number) text_value_text(&number->value, dec, &s, &n);
  unsigned long v = 0;
  double d = 0;
  bool big = false;
  for (unsigned long i = 0; i < n; i++) {
    long digit = text_digit(s[i]);
    if (digit >= fb) continue; /* PHP skips what is no digit of the base */
    unsigned long ub = static_cast<unsigned long>(fb), ud = static_cast<unsigned long>(digit);
    if (!big && v > (~0ul - ud) / ub) {
      big = true;
      d = static_cast<double>(v);
    }
    if (big)
      d = d * static_cast<double>(fb) + static_cast<double>(digit);
    else
      v = v * ub + ud;
  }
  static const char set[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  char buf[1100]; /* a double below 2^1024 has at most 1024 binary digits */
  unsigned long at = sizeof buf;
  if (!big) {
    do {
      buf[--at] = set[v % static_cast<unsigned long>(tb)];
      v /= static_cast<unsigned long>(tb);
    } while (v);
  } else {
    if (!std::isfinite(d)) return text_fixed(number, QZ_INVALID_STRING_TEXT);
    do {
      buf[--at] = set[static_cast<int>(std::fmod(d, static_cast<double>(tb)))];
      d /= static_cast<double>(tb);
    } while (at > 0 && std::fabs(d) >= 1);
  }
  return php_lib_string_token(text_line(number), buf + at, sizeof buf - at);
}

_qz_token* php_lib_text_rawurldecode(_qz_token* text) {
  const char* s;
  unsigned long n;
  if (!text_of(text, &s, &n)) return text_fixed(text, QZ_INVALID_STRING_TEXT);
  text_buf out;
  for (unsigned long i = 0; i < n && !out.failed; i++) {
    if (s[i] == '%' && i + 2 < n && qz_ascii_hex_value(s[i + 1]) != QZ_ASCII_NOT_HEX &&
        qz_ascii_hex_value(s[i + 2]) != QZ_ASCII_NOT_HEX) {
      out.put(static_cast<char>(qz_ascii_hex_value(s[i + 1]) * 16 + qz_ascii_hex_value(s[i + 2])));
      i += 2;
    } else {
      out.put(s[i]);
    }
  }
  if (!qz_full_decode_enabled() && !out.failed && out.p) out.n = strnlen(out.p, out.n);
  return php_lib_taint_carry(text, text_result(text, out));
}

_qz_token* php_lib_text_html_decode(_qz_token* text) {
  const char* s;
  unsigned long n;
  if (!text_of(text, &s, &n)) return text_fixed(text, QZ_INVALID_STRING_TEXT);
  static const struct {
    const char* name;
    char ch;
  } entities[] = {{"&quot;", '"'}, {"&amp;", '&'},   {"&lt;", '<'},
                  {"&gt;", '>'},   {"&#039;", '\''}, {"&apos;", '\''}};
  text_buf out;
  for (unsigned long i = 0; i < n && !out.failed; i++) {
    bool named = false;
    if (s[i] == '&') {
      for (const auto& e : entities) {
        unsigned long len = std::strlen(e.name);
        if (n - i >= len && strncasecmp(s + i, e.name, len) == 0) {
          out.put(e.ch);
          i += len - 1;
          named = true;
          break;
        }
      }
    }
    if (!named) out.put(s[i]);
  }
  return php_lib_taint_carry(text, text_result(text, out));
}

/* ---- padding, repetition, case ------------------------------------------- */

_qz_token* php_lib_text_str_pad(_qz_token* args) {
  _qz_token* a[4];
  text_args(args, a, 4);
  const char *s, *pad = " ";
  unsigned long n, pad_len = 1;
  if (!text_of(a[0], &s, &n)) return text_fixed(a[0], QZ_INVALID_STRING_TEXT);
  long want = text_int(a[1], 0);
  if (a[2] && !text_of(a[2], &pad, &pad_len)) pad_len = 0;
  /* The constants reach the emulation as their own names. */
  long type = text_int(a[3], 1);
  if (const char* type_name = text_flag_name(a[3])) {
    if (strcasecmp(type_name, "STR_PAD_LEFT") == 0) type = 0;
    if (strcasecmp(type_name, "STR_PAD_RIGHT") == 0) type = 1;
    if (strcasecmp(type_name, "STR_PAD_BOTH") == 0) type = 2;
  }
  text_buf out;
  if (want <= static_cast<long>(n) || pad_len == 0) {
    out.put(s, n);
    return php_lib_taint_carry(a[0], text_result(a[0], out));
  }
  unsigned long total = static_cast<unsigned long>(want) - n;
  unsigned long before = type == 0 ? total : type == 2 ? total / 2 : 0;
  if (!out.reserve(total)) return text_result(a[0], out);
  auto pad_out = [&](unsigned long k) {
    for (unsigned long i = 0; i < k && !out.failed; i++) out.put(pad[i % pad_len]);
  };
  pad_out(before);
  out.put(s, n);
  pad_out(total - before);
  return php_lib_taint_carry(a[0], text_result(a[0], out));
}

_qz_token* php_lib_text_str_repeat(_qz_token* text, _qz_token* count) {
  const char* s;
  unsigned long n;
  long times = text_int(count, 0);
  if (!text_of(text, &s, &n) || times < 0) return text_fixed(text, QZ_INVALID_STRING_TEXT);
  text_buf out;
  if (n == 0) times = 0; /* nothing to repeat: no loop over a huge count */
  if (n > 0 && static_cast<unsigned long>(times) > QZ_MAX_STRING_LENGTH / n)
    out.reserve(QZ_MAX_STRING_LENGTH + 1ul); /* refused: past the cap */
  else
    for (long i = 0; i < times && !out.failed; i++) out.put(s, n);
  return php_lib_taint_carry(text, text_result(text, out));
}

_qz_token* php_lib_text_ucfirst(_qz_token* text) {
  const char* s;
  unsigned long n;
  if (!text_of(text, &s, &n)) return text_fixed(text, QZ_INVALID_STRING_TEXT);
  text_buf out;
  out.put(s, n);
  if (!out.failed && out.n > 0) out.p[0] = qz_ascii_upper(out.p[0]);
  return php_lib_taint_carry(text, text_result(text, out));
}

/* The text of `text` unchanged, markers kept. */
static _qz_token* text_same(_qz_token* text) {
  const char* s;
  unsigned long n;
  if (!text_of(text, &s, &n)) return text_fixed(text, QZ_INVALID_STRING_TEXT);
  text_buf out;
  out.put(s, n);
  return php_lib_taint_carry(text, text_result(text, out));
}

_qz_token* php_lib_text_iconv(_qz_token* from, _qz_token* to, _qz_token* text) {
  (void)from;
  (void)to;
  return text_same(text);
}

_qz_token* php_lib_text_mb_convert_encoding(_qz_token* text, _qz_token* to) {
  (void)to;
  return text_same(text);
}

/* The last "/"-separated part of the n bytes of path s, trailing "/"
 * dropped, as basename gives it: s[*start, *end). */
static void text_basename_span(const char* s, unsigned long n, unsigned long* start,
                               unsigned long* end) {
  while (n > 1 && s[n - 1] == '/') n--;
  *end = n;
  while (n > 0 && s[n - 1] != '/') n--;
  *start = n;
}

_qz_token* php_lib_text_basename(_qz_token* path) {
  const char* s;
  unsigned long n, start, end;
  if (!text_of(path, &s, &n)) return text_fixed(path, QZ_INVALID_STRING_TEXT);
  text_basename_span(s, n, &start, &end);
  text_buf out;
  out.put(s + start, end - start);
  return php_lib_taint_carry(path, text_result(path, out));
}

/* The directory part of a path as PHP's dirname gives it: the path before
 * its last part, trailing "/" dropped; "/" for a file at the root, "." for
 * a bare name, "" for "". A token of text; null for a value without text. */
static _qz_token* text_dirname_of(_qz_token* path) {
  const char* s;
  unsigned long n, start, end;
  if (!text_of(path, &s, &n)) return nullptr;
  text_basename_span(s, n, &start, &end);
  while (start > 1 && s[start - 1] == '/') start--;
  text_buf out;
  if (start > 0)
    out.put(s, start);
  else if (n > 0)
    out.put(".", 1);
  return php_lib_taint_carry(path, text_result(path, out));
}

_qz_token* php_lib_text_dirname(_qz_token* args) {
  _qz_token* a[2];
  text_args(args, a, 2);
  if (a[1] && text_int(a[1], 1) != 1) return nullptr; /* dirname(path, levels) */
  return text_dirname_of(a[0]);
}

_qz_token* php_lib_text_pathinfo(_qz_token* args) {
  _qz_token* a[2];
  text_args(args, a, 2);
  const char* s;
  unsigned long n;
  if (!a[1] || !text_of(a[0], &s, &n)) return nullptr;
  /* The part asked for: PHP's constants reach the emulation as their own
   * names, or as their numbers. */
  long part = text_int(a[1], 0);
  if (const char* flag = text_flag_name(a[1])) {
    if (strcasecmp(flag, "PATHINFO_DIRNAME") == 0) part = 1;
    if (strcasecmp(flag, "PATHINFO_BASENAME") == 0) part = 2;
    if (strcasecmp(flag, "PATHINFO_EXTENSION") == 0) part = 4;
    if (strcasecmp(flag, "PATHINFO_FILENAME") == 0) part = 8;
  }
  if (part == 1) return text_dirname_of(a[0]);
  if (part != 2 && part != 4 && part != 8) return nullptr;
  /* The last part, as basename gives it, then split at its last ".". */
  unsigned long start, end;
  text_basename_span(s, n, &start, &end);
  unsigned long dot = end;
  while (dot > start && s[dot - 1] != '.') dot--;
  const bool has_dot = dot > start;
  text_buf out;
  if (part == 2) out.put(s + start, end - start);
  if (part == 4 && has_dot) out.put(s + dot, end - dot);
  if (part == 8) out.put(s + start, (has_dot ? dot - 1 : end) - start);
  return php_lib_taint_carry(a[0], text_result(a[0], out));
}

/* ---- token_get_all ------------------------------------------------------- */

_qz_token* php_lib_text_token_get_all(_qz_token* code) {
  _qz_token* res = php_lib_array_token(text_line(code));
  auto* out = res ? static_cast<_qz_array*>(res->value.ptr) : nullptr;
  _qz_token* item = out ? php_lib_array_token(text_line(code)) : nullptr;
  auto* token = item ? static_cast<_qz_array*>(item->value.ptr) : nullptr;
  if (!token || !code) return res;
  _qz_value v = php_variable_value(code);
  if (!php_value_text(v)) return res;
  /* [kind, text, line]: the kind is no token's number; the text keeps the
   * argument's value as it is, markers and decoded origin included. */
  _qz_value kind{}, line{};
  kind.type = line.type = TOKEN_INTEGER;
  line.lval = 1;
  if (!qz_array_push(token, &kind) || !qz_array_push(token, &v) || !qz_array_push(token, &line))
    return res;
  qz_array_push(out, &item->value);
  return res;
}
