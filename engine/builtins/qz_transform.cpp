/*
 * String transforms and text utilities.
 *
 * Every token transform follows one frame: a fresh WORD token carrying the
 * argument's line, holding a new string. An argument without text (no value,
 * an integer, an array, a pair, a null pointer) yields the invalid-string
 * text; the value's ptr is read as text only for STRING and LITERAL values.
 * Every result is bounded by QZ_MAX_STRING_LENGTH and built in time linear in
 * the input.
 *
 * With full decoding off, strings are handled up to their first NUL and
 * str_rot13 stops at its work-buffer size, as the engine always did. With it
 * on, texts are handled by their recorded length so binary data (decoded
 * base64 feeding an inflater) keeps its NUL bytes, the gz family inflates for
 * real with zlib, and str_rot13 covers the whole text.
 */

#include "builtins/qz_transform.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

/* ---- module state -------------------------------------------------------- */

/* Standard base64 alphabet, in index order. */
static const char qz_b64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
/* What __strrev returns for a null pointer. */
static char qz_empty_text[1] = {0};

/* A malloc'd work buffer released when it leaves scope. */
namespace {
struct qz_heap_buf {
  char* p = nullptr;
  qz_heap_buf() = default;
  explicit qz_heap_buf(unsigned long n) : p(static_cast<char*>(std::malloc(n ? n : 1))) {}
  qz_heap_buf(const qz_heap_buf&) = delete;
  qz_heap_buf& operator=(const qz_heap_buf&) = delete;
  ~qz_heap_buf() { std::free(p); }
};
}  // namespace

/* ---- shared helpers ------------------------------------------------------ */

bool qz_full_decode_enabled() { return (qz_engine_options & QZ_OPT_FULL_DECODE) != 0; }

bool qz_value_text(const _qz_value* v, const char** text, unsigned long* len) {
  if (!v || !v->ptr) return false;
  if (v->type == TOKEN_STRING) {
    const _qz_string* s = static_cast<const _qz_string*>(v->ptr);
    *text = s->text;
    *len = qz_full_decode_enabled() ? s->length : std::strlen(s->text);
    return true;
  }
  if (v->type == TOKEN_LITERAL) {
    *text = static_cast<const char*>(v->ptr);
    *len = std::strlen(*text);
    return true;
  }
  return false;
}

/* A fresh result token (WORD, STRING) on arg's line, without its string yet;
 * null when the token pool refuses. */
static _qz_token* qz_result_token(_qz_token* arg) {
  return qz_token_alloc(TOKEN_WORD, TOKEN_STRING, arg ? arg->lineno : 0);
}

/* Gives res a new string of the len bytes at data; the invalid-string text
 * when that string cannot be made (or data is null). */
static _qz_token* qz_set_result(_qz_token* res, const char* data, unsigned long len) {
  if (!res) return nullptr;
  _qz_string* s = data ? qz_string_alloc_n(data, len) : nullptr;
  if (!s) s = qz_string_alloc(nullptr);
  res->value.ptr = s;
  return res;
}

static _qz_token* qz_set_result_text(_qz_token* res, const char* text) {
  return qz_set_result(res, text, std::strlen(text));
}

static _qz_token* qz_invalid_result(_qz_token* arg) {
  return qz_set_result_text(qz_result_token(arg), QZ_INVALID_STRING_TEXT);
}

static _qz_token* qz_decoded_result(_qz_token* arg) {
  return qz_set_result_text(qz_result_token(arg), QZ_DECODED_TEXT);
}

/* The frame of the transforms that build a new text: a result token, arg's
 * text (the invalid-string text when arg has none) and an output buffer.
 * size(len, &cap) gives the output's capacity for an input of len bytes, or
 * false when it would pass the string cap; fn(out, in, len) writes the output
 * and returns its length. */
template <class Size, class Fn>
static _qz_token* qz_transform(_qz_token* arg, Size size, Fn fn) {
  _qz_token* res = qz_result_token(arg);
  if (!res) return nullptr;
  const char* text;
  unsigned long len, cap;
  if (!arg || !qz_value_text(&arg->value, &text, &len) || !size(len, &cap)) {
    return qz_set_result_text(res, QZ_INVALID_STRING_TEXT);
  }
  qz_heap_buf out(cap + 1);
  if (!out.p) return qz_set_result_text(res, QZ_INVALID_STRING_TEXT);
  unsigned long n = fn(out.p, text, len);
  out.p[n] = 0;
  return qz_set_result(res, out.p, n);
}

/* Runs fn over a copy of arg's text; fn(out, in, len) writes exactly len
 * bytes. Covers the length-preserving transforms. */
template <class Fn>
static _qz_token* qz_map_text(_qz_token* arg, Fn fn) {
  return qz_transform(
      arg,
      [](unsigned long len, unsigned long* cap) {
        *cap = len;
        return true;
      },
      [&fn](char* out, const char* in, unsigned long len) {
        fn(out, in, len);
        return len;
      });
}

/* What the trims strip: spaces and tabs; with the extended reading PHP's
 * whole set (also newline, carriage return, NUL and vertical tab), so a
 * name padded with any of them comes out whole. */
static bool qz_is_blank(char c) {
  if (c == ' ' || c == '\t') return true;
  return (qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
         (c == '\n' || c == '\r' || c == '\0' || c == '\x0b');
}

/* Result holding text[from, to) of arg's text, used by the trims. */
template <class Cut>
static _qz_token* qz_cut_text(_qz_token* arg, Cut cut) {
  _qz_token* res = qz_result_token(arg);
  if (!res) return nullptr;
  const char* text;
  unsigned long len;
  if (!arg || !qz_value_text(&arg->value, &text, &len)) {
    return qz_set_result_text(res, QZ_INVALID_STRING_TEXT);
  }
  unsigned long from = 0, to = len;
  cut(text, &from, &to);
  return qz_set_result(res, text + from, to - from);
}

/* ---- case, rot13, reversal, trims --------------------------------------- */

_qz_token* qz_engine_str_to_lower(_qz_token* t) {
  return qz_map_text(t, [](char* out, const char* in, unsigned long n) {
    for (unsigned long i = 0; i < n; i++) out[i] = qz_ascii_lower(in[i]);
  });
}

_qz_token* qz_engine_str_to_upper(_qz_token* t) {
  return qz_map_text(t, [](char* out, const char* in, unsigned long n) {
    for (unsigned long i = 0; i < n; i++) out[i] = qz_ascii_upper(in[i]);
  });
}

/* Each case's alphabet is its own circle; other bytes stay. */
static char qz_rot13_char(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>('a' + (c - 'a' + 13) % 26);
  if (c >= 'A' && c <= 'Z') return static_cast<char>('A' + (c - 'A' + 13) % 26);
  return c;
}

/* Without full decoding only the first QZ_ROT13_BUFFER - 1 characters are
 * rotated and kept, as the engine's fixed work buffer always allowed. */
_qz_token* qz_engine_str_rot13(_qz_token* t) {
  unsigned long keep = qz_full_decode_enabled() ? ~0ul : QZ_ROT13_BUFFER - 1;
  return qz_transform(
      t,
      [keep](unsigned long len, unsigned long* cap) {
        *cap = len < keep ? len : keep;
        return true;
      },
      [keep](char* out, const char* in, unsigned long len) {
        if (len > keep) len = keep;
        for (unsigned long i = 0; i < len; i++) out[i] = qz_rot13_char(in[i]);
        return len;
      });
}

/* strrev gives the reversed text, as PHP does; scripts build names and
 * payloads backwards and rely on it. */
_qz_token* qz_engine_strrev(_qz_token* t) {
  return qz_map_text(t, [](char* out, const char* in, unsigned long n) {
    for (unsigned long i = 0; i < n; i++) out[i] = in[n - 1 - i];
  });
}

/* trim drops leading and trailing spaces and tabs; ltrim and rtrim drop them
 * on one side only. */
_qz_token* qz_engine_trim(_qz_token* t) {
  return qz_cut_text(t, [](const char* s, unsigned long* from, unsigned long* to) {
    while (*from < *to && qz_is_blank(s[*from])) ++*from;
    while (*to > *from && qz_is_blank(s[*to - 1])) --*to;
  });
}

_qz_token* qz_engine_ltrim(_qz_token* t) {
  return qz_cut_text(t, [](const char* s, unsigned long* from, unsigned long* to) {
    while (*from < *to && qz_is_blank(s[*from])) ++*from;
  });
}

_qz_token* qz_engine_rtrim(_qz_token* t) {
  return qz_cut_text(t, [](const char* s, unsigned long* from, unsigned long* to) {
    while (*to > *from && qz_is_blank(s[*to - 1])) --*to;
  });
}

/* ---- URL decoding -------------------------------------------------------- */

/* "%hl" becomes the byte (16*h + l) mod 256, a non-digit counting as -1, so
 * malformed escapes still give a byte; "+" stays "+". A "%" with fewer than
 * two characters after it ends the text. A decoded NUL ends the result. */
_qz_token* qz_engine_urldecode(_qz_token* t) {
  return qz_transform(
      t,
      [](unsigned long len, unsigned long* cap) {
        *cap = len;
        return true;
      },
      [](char* out, const char* text, unsigned long len) {
        unsigned long n = 0;
        for (unsigned long i = 0; i < len; i++) {
          if (text[i] != '%') {
            out[n++] = text[i];
            continue;
          }
          if (len - i < 3) break;
          int hi = qz_ascii_hex_value(text[i + 1]);
          int lo = qz_ascii_hex_value(text[i + 2]);
          out[n++] = static_cast<char>(static_cast<unsigned>(16 * hi + lo) & 0xFF);
          i += 2;
        }
        out[n] = 0;
        return static_cast<unsigned long>(std::strlen(out));
      });
}

/* ---- hex ----------------------------------------------------------------- */

_qz_token* qz_engine_bin2hex(_qz_token* t) {
  return qz_transform(
      t,
      [](unsigned long len, unsigned long* cap) {
        *cap = len * 2;
        return len <= QZ_MAX_STRING_LENGTH / 2;
      },
      [](char* out, const char* text, unsigned long len) {
        static const char digits[] = "0123456789abcdef";
        const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
        for (unsigned long i = 0; i < len; i++) {
          out[2 * i] = digits[in[i] >> 4];
          out[2 * i + 1] = digits[in[i] & 15];
        }
        return len * 2;
      });
}

/* ---- base64 -------------------------------------------------------------- */

_qz_token* qz_engine_b64encode(_qz_token* t) {
  return qz_transform(
      t,
      [](unsigned long len, unsigned long* cap) {
        unsigned long groups = len / 3 + (len % 3 ? 1 : 0);
        *cap = groups * 4;
        return groups <= QZ_MAX_STRING_LENGTH / 4;
      },
      [](char* out, const char* text, unsigned long len) {
        const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
        unsigned long o = 0, i = 0;
        for (; i + 3 <= len; i += 3) {
          unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
          out[o++] = qz_b64_alphabet[(v >> 18) & 63];
          out[o++] = qz_b64_alphabet[(v >> 12) & 63];
          out[o++] = qz_b64_alphabet[(v >> 6) & 63];
          out[o++] = qz_b64_alphabet[v & 63];
        }
        if (len - i == 1) {
          unsigned v = in[i] << 16;
          out[o++] = qz_b64_alphabet[(v >> 18) & 63];
          out[o++] = qz_b64_alphabet[(v >> 12) & 63];
          out[o++] = '=';
          out[o++] = '=';
        } else if (len - i == 2) {
          unsigned v = (in[i] << 16) | (in[i + 1] << 8);
          out[o++] = qz_b64_alphabet[(v >> 18) & 63];
          out[o++] = qz_b64_alphabet[(v >> 12) & 63];
          out[o++] = qz_b64_alphabet[(v >> 6) & 63];
          out[o++] = '=';
        }
        return o;
      });
}

static int qz_b64_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

/* Decodes up to the first character outside the alphabet ("=", a space, a
 * line break or anything else ends the input). The argument's text is its
 * STRING or LITERAL text; a value without a pointer falls back to the token's
 * name; any other value (an array, a pair, an integer holding a pointer) is
 * not text and yields the invalid-string text. Nothing decoded, or exactly the
 * invalid-string text, gives the decoded marker. Without full decoding the
 * result ends at its first NUL; with it, every decoded byte is kept. */
_qz_token* qz_engine_b64decode(_qz_token* t) {
  if (!t) return nullptr;
  const char* text = nullptr;
  unsigned long len = 0;
  if (t->value.type == TOKEN_STRING || t->value.type == TOKEN_LITERAL) {
    if (!qz_value_text(&t->value, &text, &len)) text = nullptr;
  } else if (t->value.ptr) {
    return qz_invalid_result(t);
  }
  if (!text && t->name) {
    text = t->name;
    len = std::strlen(text);
  }
  if (!text) return qz_decoded_result(t);

  unsigned long run = 0;
  while (run < len && qz_b64_value(static_cast<unsigned char>(text[run])) >= 0) run++;
  unsigned long out_cap = run / 4 * 3 + 3;
  qz_heap_buf out(out_cap + 1);
  if (!out.p) return qz_invalid_result(t);
  unsigned long o = 0;
  unsigned acc = 0;
  int have = 0;
  for (unsigned long i = 0; i < run; i++) {
    acc = (acc << 6) | static_cast<unsigned>(qz_b64_value(static_cast<unsigned char>(text[i])));
    if (++have == 4) {
      out.p[o++] = static_cast<char>((acc >> 16) & 0xFF);
      out.p[o++] = static_cast<char>((acc >> 8) & 0xFF);
      out.p[o++] = static_cast<char>(acc & 0xFF);
      acc = 0;
      have = 0;
    }
  }
  if (have == 2) {
    out.p[o++] = static_cast<char>((acc >> 4) & 0xFF);
  } else if (have == 3) {
    out.p[o++] = static_cast<char>((acc >> 10) & 0xFF);
    out.p[o++] = static_cast<char>((acc >> 2) & 0xFF);
  }
  out.p[o] = 0;
  if (o == 0 || (o == sizeof(QZ_INVALID_STRING_TEXT) - 1 &&
                 std::memcmp(out.p, QZ_INVALID_STRING_TEXT, o) == 0)) {
    return qz_decoded_result(t);
  }
  if (!qz_full_decode_enabled()) o = std::strlen(out.p);
  return qz_set_result(qz_result_token(t), out.p, o);
}

/* ---- length and array test ----------------------------------------------- */

_qz_token* qz_engine_str_len(_qz_token* t) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_INTEGER, t ? t->lineno : 0);
  if (!res || !t || !t->value.ptr) return res;
  if (t->value.type == TOKEN_STRING) {
    res->value.lval = static_cast<long>(static_cast<_qz_string*>(t->value.ptr)->length);
  } else if (t->value.type == TOKEN_LITERAL) {
    res->value.lval = static_cast<long>(std::strlen(static_cast<const char*>(t->value.ptr)));
  }
  return res;
}

_qz_token* qz_engine_is_array(_qz_token* t) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_INTEGER, t ? t->lineno : 0);
  if (!res || !t) return res;
  const _qz_value* v = t->ref ? t->ref : &t->value;
  res->value.lval = v->type == TOKEN_ARRAY ? 1 : 0;
  return res;
}

/* ---- replacement --------------------------------------------------------- */

/* Finds non-overlapping occurrences of a pattern left to right in linear
 * time (Knuth-Morris-Pratt, skipping to candidate first bytes with memchr),
 * whatever the pattern and subject look like. */
namespace {
struct qz_matcher {
  const char* pat = nullptr;
  unsigned long m = 0;
  unsigned long* fail = nullptr; /* fail[q]: longest proper border of pat[0..q] */
  bool ok = false;

  qz_matcher(const char* p, unsigned long n) : pat(p), m(n) {
    if (m == 0) return;
    fail = static_cast<unsigned long*>(std::malloc(m * sizeof *fail));
    if (!fail) return;
    fail[0] = 0;
    for (unsigned long q = 1, k = 0; q < m; q++) {
      while (k > 0 && pat[q] != pat[k]) k = fail[k - 1];
      if (pat[q] == pat[k]) k++;
      fail[q] = k;
    }
    ok = true;
  }
  qz_matcher(const qz_matcher&) = delete;
  qz_matcher& operator=(const qz_matcher&) = delete;
  ~qz_matcher() { std::free(fail); }

  /* Offset of the first occurrence starting at or after from; len if none. */
  unsigned long find(const char* s, unsigned long len, unsigned long from) const {
    unsigned long q = 0;
    for (unsigned long i = from; i < len; i++) {
      if (q == 0) {
        const void* hit = std::memchr(s + i, pat[0], len - i);
        if (!hit) return len;
        i = static_cast<unsigned long>(static_cast<const char*>(hit) - s);
      }
      while (q > 0 && s[i] != pat[q]) q = fail[q - 1];
      if (s[i] == pat[q]) q++;
      if (q == m) return i + 1 - m;
    }
    return len;
  }
};
}  // namespace

char* qz_replace_n(const char* subject, unsigned long subject_len, const char* search,
                   unsigned long search_len, const char* replace, unsigned long replace_len,
                   unsigned long* out_len) {
  *out_len = 0;
  qz_matcher matcher(search, search_len);
  if (search_len > 0 && !matcher.ok) return nullptr;
  /* First pass counts the matches so the result is sized exactly. */
  unsigned long count = 0;
  if (search_len > 0 && search_len <= subject_len) {
    for (unsigned long at = matcher.find(subject, subject_len, 0); at < subject_len;
         at = matcher.find(subject, subject_len, at + search_len)) {
      count++;
    }
  }
  /* total = subject_len - count*search_len + count*replace_len, with every
   * step checked against the string cap. */
  unsigned long removed = count * search_len; /* <= subject_len: matches do not overlap */
  unsigned long total = subject_len - removed;
  if (count > 0 && replace_len > 0) {
    if (count > (QZ_MAX_STRING_LENGTH - total) / replace_len) return nullptr;
    total += count * replace_len;
  }
  if (total > QZ_MAX_STRING_LENGTH) return nullptr;
  char* out = static_cast<char*>(std::malloc(total + 1));
  if (!out) return nullptr;
  char* o = out;
  unsigned long from = 0;
  for (unsigned long k = 0; k < count; k++) {
    unsigned long at = matcher.find(subject, subject_len, from);
    std::memcpy(o, subject + from, at - from);
    o += at - from;
    std::memcpy(o, replace, replace_len);
    o += replace_len;
    from = at + search_len;
  }
  std::memcpy(o, subject + from, subject_len - from);
  out[total] = 0;
  *out_len = total;
  return out;
}

/* The search and replacement texts: a STRING or LITERAL gives its text, a
 * value without a pointer the token's name; an array or other pointer-holding
 * value is not text. */
static bool qz_replace_operand(_qz_token* t, const char** text, unsigned long* len) {
  if (t->value.type == TOKEN_STRING || t->value.type == TOKEN_LITERAL) {
    return qz_value_text(&t->value, text, len);
  }
  if (t->value.ptr || !t->name) return false;
  *text = t->name;
  *len = std::strlen(t->name);
  return true;
}

static bool qz_unusable_operand(_qz_token* t) {
  if (t->value.type == TOKEN_NONE) return true;
  return (t->value.type == TOKEN_STRING || t->value.type == TOKEN_LITERAL) && !t->value.ptr;
}

_qz_token* qz_engine_str_replace(_qz_token* subject, _qz_token* search, _qz_token* replace) {
  _qz_token* res = qz_result_token(subject);
  if (!res) return nullptr;
  if (!subject || !search || !replace || qz_unusable_operand(subject) ||
      qz_unusable_operand(search) || qz_unusable_operand(replace)) {
    return qz_set_result_text(res, QZ_INVALID_STRING_TEXT);
  }
  const char *subj_text, *search_text, *repl_text;
  unsigned long subj_len, search_len, repl_len;
  if (!qz_value_text(&subject->value, &subj_text, &subj_len) ||
      !qz_replace_operand(search, &search_text, &search_len) ||
      !qz_replace_operand(replace, &repl_text, &repl_len)) {
    return qz_set_result_text(res, QZ_INVALID_STRING_TEXT);
  }
  unsigned long out_len;
  char* out =
      qz_replace_n(subj_text, subj_len, search_text, search_len, repl_text, repl_len, &out_len);
  if (!out) {
    qz_report_fault(QZ_FAULT_REPLACE_ALLOC);
    return qz_set_result_text(res, QZ_INVALID_STRING_TEXT);
  }
  qz_set_result(res, out, out_len);
  std::free(out);
  return res;
}

/* ---- compression family -------------------------------------------------- */

/* Inflates len bytes at data with the given zlib window setting (negative:
 * raw deflate; 15: zlib framing; 31: gzip framing). Returns a malloc'd buffer
 * of *out_len bytes plus a NUL, or null when the data is not a valid stream,
 * yields nothing, or would inflate past QZ_MAX_STRING_LENGTH (which stops a
 * decompression bomb after at most that many bytes of work). A stream cut
 * short keeps what it produced. */
static char* qz_inflate(const char* data, unsigned long len, int window_bits,
                        unsigned long* out_len) {
  *out_len = 0;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, window_bits) != Z_OK) return nullptr;
  unsigned long cap = len * QZ_INFLATE_FIRST_FACTOR + QZ_INFLATE_FIRST_EXTRA;
  if (cap > QZ_MAX_STRING_LENGTH + 1) cap = QZ_MAX_STRING_LENGTH + 1;
  char* out = static_cast<char*>(std::malloc(cap + 1));
  unsigned long used = 0;
  int rc = Z_OK;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  while (out) {
    /* zlib counts input in 32-bit units: feed long inputs in pieces. */
    if (zs.avail_in == 0 && len > 0) {
      unsigned long piece = len > QZ_INFLATE_INPUT_PIECE ? QZ_INFLATE_INPUT_PIECE : len;
      zs.avail_in = static_cast<uInt>(piece);
      len -= piece;
    }
    zs.next_out = reinterpret_cast<Bytef*>(out + used);
    zs.avail_out = static_cast<uInt>(cap - used);
    rc = inflate(&zs, Z_NO_FLUSH);
    used = cap - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK) break; /* Z_BUF_ERROR: no progress possible (input ended) */
    if (used > QZ_MAX_STRING_LENGTH) break;
    if (used == cap) {
      unsigned long grown = cap * 2;
      if (grown > QZ_MAX_STRING_LENGTH + 1) grown = QZ_MAX_STRING_LENGTH + 1;
      if (grown == cap) break;
      char* bigger = static_cast<char*>(std::realloc(out, grown + 1));
      if (!bigger) {
        std::free(out);
        out = nullptr;
        break;
      }
      out = bigger;
      cap = grown;
    }
  }
  inflateEnd(&zs);
  bool ok = out && used > 0 && used <= QZ_MAX_STRING_LENGTH &&
            (rc == Z_STREAM_END || rc == Z_BUF_ERROR || rc == Z_OK);
  if (!ok) {
    std::free(out);
    return nullptr;
  }
  out[used] = 0;
  *out_len = used;
  return out;
}

/* Without full decoding the whole family answers with the decoded marker.
 * With it, the argument's bytes are inflated; data that does not inflate
 * still gives the marker. */
static _qz_token* qz_gz_decode(_qz_token* t, int window_bits) {
  const char* text;
  unsigned long len;
  if (!qz_full_decode_enabled() || !t || !qz_value_text(&t->value, &text, &len) || len == 0) {
    return qz_decoded_result(t);
  }
  unsigned long out_len;
  char* out = qz_inflate(text, len, window_bits, &out_len);
  if (!out) return qz_decoded_result(t);
  _qz_token* res = qz_set_result(qz_result_token(t), out, out_len);
  std::free(out);
  return res;
}

_qz_token* qz_engine_gzinflate(_qz_token* t) { return qz_gz_decode(t, -MAX_WBITS); }
_qz_token* qz_engine_gzuncompress(_qz_token* t) { return qz_gz_decode(t, MAX_WBITS); }
_qz_token* qz_engine_gzdecode(_qz_token* t) { return qz_gz_decode(t, MAX_WBITS + 16); }
_qz_token* qz_engine_gzdeflate(_qz_token* t) { return qz_decoded_result(t); }
_qz_token* qz_engine_gzencode(_qz_token* t) { return qz_decoded_result(t); }
_qz_token* qz_engine_gzcompress(_qz_token*) { return nullptr; }

/* ---- utilities on NUL-terminated text ------------------------------------ */

char* strlwr(char* s) {
  if (!s) return s;
  for (char* p = s; *p; p++) *p = qz_ascii_lower(*p);
  return s;
}

char* strupr(char* s) {
  if (!s) return s;
  for (char* p = s; *p; p++) *p = qz_ascii_upper(*p);
  return s;
}

char* __strrev(char* s) {
  if (!s) return qz_empty_text;
  unsigned long n = std::strlen(s);
  for (unsigned long i = 0, j = n; i + 1 < j; i++, j--) {
    char c = s[i];
    s[i] = s[j - 1];
    s[j - 1] = c;
  }
  return s;
}

char* qz_safe_str_copy(char* dst, unsigned long n, char* src) {
  if (!dst || !src) return dst;
  unsigned long len = strnlen(src, n);
  std::memcpy(dst, src, len);
  return dst;
}

unsigned long _count_string(char* text, char* search) {
  if (!text || !search || !*search) return 0;
  unsigned long len = std::strlen(text), slen = std::strlen(search);
  qz_matcher matcher(search, slen);
  if (!matcher.ok) return 0;
  unsigned long count = 0;
  for (unsigned long at = matcher.find(text, len, 0); at < len;
       at = matcher.find(text, len, at + slen)) {
    count++;
  }
  return count;
}

/* The caller releases the result with free. Null when the heap refuses or the
 * result would exceed the string cap; the subject is never written. */
char* malloc_replace(char* subject, char* search, char* replace) {
  if (!subject || !search || !replace) return nullptr;
  unsigned long out_len;
  return qz_replace_n(subject, std::strlen(subject), search, std::strlen(search), replace,
                      std::strlen(replace), &out_len);
}

bool IsBadReadPtr(char*, int) { return false; }
