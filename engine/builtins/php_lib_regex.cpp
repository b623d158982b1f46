/*
 * preg_replace on simple patterns: a pattern is compiled into a row of byte
 * sets, one per item, and tried at every place of the subject. With at most
 * QZ_PREG_MAX_ITEMS items the work is linear in the subject's length; there
 * is no backtracking because no item matches a variable number of bytes.
 */

#include "builtins/php_lib_regex.h"

#include "builtins/php_lib_builtin.h"
#include "builtins/php_lib_taint.h"
#include "builtins/qz_transform.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"

#include <bitset>
#include <cstring>
#include <string>
#include <vector>

namespace {
typedef std::bitset<256> regex_set;

struct regex_program {
  std::vector<regex_set> items;
  bool at_start = false;     /* "^" */
  bool at_end = false;       /* "$" */
  bool dollar_exact = false; /* D: "$" only at the very end */
  bool eval = false;         /* the "e" modifier */
  bool runs = false;         /* one item and "+": a run of its bytes */
};
}  // namespace

static void regex_range(regex_set* set, int lo, int hi) {
  for (int c = lo; c <= hi; c++) set->set(static_cast<size_t>(c));
}

/* Adds the other case of every ASCII letter in a positive set (the "i"
 * modifier); a class is folded before it is negated. */
static void regex_fold(regex_set* set) {
  for (int b = 'a'; b <= 'z'; b++) {
    if (set->test(static_cast<size_t>(b)) || set->test(static_cast<size_t>(b - 32))) {
      set->set(static_cast<size_t>(b));
      set->set(static_cast<size_t>(b - 32));
    }
  }
}

/* The set of a class escape letter (d, w, s and their negations). */
static bool regex_class_escape(char e, regex_set* set) {
  regex_set s;
  switch (qz_ascii_lower(e)) {
    case 'd': regex_range(&s, '0', '9'); break;
    case 'w':
      regex_range(&s, '0', '9');
      regex_range(&s, 'a', 'z');
      regex_range(&s, 'A', 'Z');
      s.set('_');
      break;
    case 's':
      for (char c : {' ', '\t', '\n', '\r', '\f', '\v'}) s.set(static_cast<unsigned char>(c));
      break;
    default: return false;
  }
  *set = qz_ascii_is_upper(e) ? ~s : s;
  return true;
}

/* Reads an escape at p[*i] (just after the backslash) that stands for one
 * byte; false for any escape not emulated. */
static bool regex_byte_escape(const char* p, unsigned long n, unsigned long* i, int* byte) {
  char e = p[*i];
  static const char names[] = "nrtfve";
  static const char bytes[] = "\n\r\t\f\v\x1b";
  if (const char* at = std::strchr(names, e); at && e) {
    *byte = static_cast<unsigned char>(bytes[at - names]);
    return true;
  }
  if (e == 'x') {
    if (*i + 2 >= n) return false;
    int hi = qz_ascii_hex_value(p[*i + 1]), lo = qz_ascii_hex_value(p[*i + 2]);
    if (hi == QZ_ASCII_NOT_HEX || lo == QZ_ASCII_NOT_HEX) return false;
    *byte = hi * 16 + lo;
    *i += 2;
    return true;
  }
  unsigned char u = static_cast<unsigned char>(e);
  if (u < 0x80 && !qz_ascii_is_upper(e) && !qz_ascii_is_lower(e) && !(e >= '0' && e <= '9')) {
    *byte = u;
    return true;
  }
  return false;
}

/* A class from p[*i] (just after "[") to its "]"; *i is left on the "]". */
static bool regex_class(const char* p, unsigned long n, unsigned long* i, bool fold,
                        regex_set* out) {
  regex_set set;
  bool negate = *i < n && p[*i] == '^';
  if (negate) ++*i;
  bool first = true;
  for (; *i < n; ++*i, first = false) {
    char c = p[*i];
    if (c == ']' && !first) {
      if (fold) regex_fold(&set);
      *out = negate ? ~set : set;
      return true;
    }
    if (c == '[' && *i + 1 < n && p[*i + 1] == ':') return false; /* POSIX names */
    int lo;
    if (c == '\\') {
      if (++*i >= n) return false;
      regex_set esc;
      if (regex_class_escape(p[*i], &esc)) {
        set |= esc;
        continue;
      }
      if (!regex_byte_escape(p, n, i, &lo)) return false;
    } else {
      lo = static_cast<unsigned char>(c);
    }
    if (*i + 2 < n && p[*i + 1] == '-' && p[*i + 2] != ']') {
      *i += 2;
      int hi;
      if (p[*i] == '\\') {
        if (++*i >= n || !regex_byte_escape(p, n, i, &hi)) return false;
      } else {
        hi = static_cast<unsigned char>(p[*i]);
      }
      if (hi < lo) return false;
      regex_range(&set, lo, hi);
    } else {
      set.set(static_cast<size_t>(lo));
    }
  }
  return false;
}

/* Compiles a whole pattern (delimiters and modifiers); false when it is not
 * one the emulation handles. */
static bool regex_compile(const char* p, unsigned long n, regex_program* prog) {
  unsigned long i = 0;
  while (i < n && (p[i] == ' ' || p[i] == '\t' || p[i] == '\n' || p[i] == '\r')) i++;
  if (i >= n) return false;
  char open = p[i], close = open;
  if (qz_ascii_is_upper(open) || qz_ascii_is_lower(open) || (open >= '0' && open <= '9') ||
      open == '\\')
    return false;
  if (open == '(') close = ')';
  if (open == '[') close = ']';
  if (open == '{') close = '}';
  if (open == '<') close = '>';
  unsigned long body = ++i, end = n;
  while (end > body && p[end - 1] != close) end--;
  if (end <= body) return false;
  unsigned long body_end = end - 1;

  /* Every modifier is read, so that "e" is seen after one not understood. */
  bool fold = false, dot_all = false, multi = false, utf = false, known = true;
  for (unsigned long k = end; k < n; k++) {
    switch (p[k]) {
      case 'i': fold = true; break;
      case 's': dot_all = true; break;
      case 'm': multi = true; break;
      case 'u': utf = true; break;
      case 'D': prog->dollar_exact = true; break;
      case 'U': break;
      case 'e': prog->eval = true; break;
      case '\n':
      case '\r':
      case ' ': break;
      default: known = false; break;
    }
  }
  if (!known) return false;

  for (i = body; i < body_end; i++) {
    char c = p[i];
    if (static_cast<unsigned char>(c) >= 0x80 && utf) return false;
    regex_set set;
    int byte;
    if (c == '^' && i == body) {
      prog->at_start = true;
      continue;
    }
    if (c == '$' && i + 1 == body_end) {
      prog->at_end = true;
      continue;
    }
    /* "X+" of a single item is read only where a run of X's bytes is
     * replaced by nothing, which is what replacing each byte does. */
    if (c == '+' && i + 1 == body_end && prog->items.size() == 1 && !prog->at_start) {
      prog->runs = true;
      continue;
    }
    if (std::strchr("()|*+?{^$", c)) return false;
    if (c == '.') {
      set.set();
      if (!dot_all) set.reset('\n');
    } else if (c == '[') {
      i++;
      if (!regex_class(p, body_end, &i, fold, &set)) return false;
    } else if (c == '\\') {
      if (++i >= body_end) return false;
      if (!regex_class_escape(p[i], &set)) {
        if (!regex_byte_escape(p, body_end, &i, &byte)) return false;
        set.set(static_cast<size_t>(byte));
      }
    } else {
      set.set(static_cast<unsigned char>(c));
    }
    /* A class folded itself; the negated escapes hold both cases or none. */
    if (fold && c != '[') regex_fold(&set);
    if (prog->items.size() >= QZ_PREG_MAX_ITEMS) return false;
    prog->items.push_back(set);
  }
  if (multi && (prog->at_start || prog->at_end)) return false;
  return true;
}

/* True when the program matches s at place i. */
static bool regex_match_at(const regex_program& prog, const char* s, unsigned long n,
                           unsigned long i) {
  unsigned long m = prog.items.size();
  if (prog.at_start && i != 0) return false;
  if (m > n - i) return false;
  for (unsigned long k = 0; k < m; k++)
    if (!prog.items[k].test(static_cast<unsigned char>(s[i + k]))) return false;
  if (prog.at_end) {
    unsigned long after = i + m;
    bool before_final_newline = !prog.dollar_exact && after + 1 == n && s[after] == '\n';
    if (after != n && !before_final_newline) return false;
  }
  return true;
}

/* Appends the replacement for the match at s[from, from + len). */
static void regex_replace(const char* r, unsigned long rn, const char* match, unsigned long len,
                          std::string* out) {
  for (unsigned long i = 0; i < rn; i++) {
    unsigned long j = i + 1;
    bool braced = r[i] == '$' && j < rn && r[j] == '{';
    if (braced) j++;
    if ((r[i] == '$' || r[i] == '\\') && j < rn && r[j] >= '0' && r[j] <= '9') {
      unsigned long group = static_cast<unsigned long>(r[j++] - '0');
      if (j < rn && r[j] >= '0' && r[j] <= '9')
        group = group * 10 + static_cast<unsigned long>(r[j++] - '0');
      if (!braced || (j < rn && r[j] == '}')) {
        if (braced) j++;
        if (group == 0) out->append(match, len);
        i = j - 1;
        continue;
      }
    }
    out->push_back(r[i]);
  }
}

/* The length of the longest carried marker (php_lib_taint_markers) that
 * s[0, n) begins with, or 0. */
static unsigned long regex_marker_at(const char* s, unsigned long n) {
  unsigned long best = 0;
  if (n == 0 || s[0] != '$') return 0;
  for (unsigned long k = 0; php_lib_taint_markers[k]; k++) {
    unsigned long len = std::strlen(php_lib_taint_markers[k]);
    if (len > best && len <= n && std::memcmp(s, php_lib_taint_markers[k], len) == 0) best = len;
  }
  return best;
}

/* Whether a pattern of the one item `removed`, replaced by nothing, leaves
 * nothing but ASCII letters, digits, "_" and "-": no path separator, no
 * dot, no quote nor shell metacharacter. */
static bool regex_keeps_only_name_bytes(const regex_set& removed) {
  for (int b = 0; b < 256; b++) {
    const char c = static_cast<char>(b);
    const bool name = qz_ascii_is_upper(c) || qz_ascii_is_lower(c) || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    if (!name && !removed.test(static_cast<size_t>(b))) return false;
  }
  return true;
}

/* The subject with every byte of `removed` dropped. A request marker in it
 * stands for text that is reduced the same way, which can then name no
 * path and hold no command or code: it takes its escaped form, as
 * escapeshellarg gives it. Other markers are kept whole. */
static _qz_token* regex_name_filter(const regex_set& removed, const char* s, unsigned long n,
                                    unsigned long line) {
  static const unsigned long escaped = std::strlen(PHP_LIB_ESCAPED_PREFIX);
  std::string out;
  for (unsigned long i = 0; i < n;) {
    if (n - i > escaped && std::memcmp(s + i, PHP_LIB_ESCAPED_PREFIX, escaped) == 0) {
      /* Escaped already: kept whole. */
      unsigned long end = i + escaped;
      while (end < n && (qz_ascii_is_upper(s[end]) || s[end] == '_')) end++;
      out.append(s + i, end - i);
      i = end;
      continue;
    }
    if (unsigned long m = s[i] == '$' ? php_lib_taint_escapable_at(s + i, n - i) : 0) {
      php_lib_taint_append_escaped(&out, s + i, m);
      i += m;
      continue;
    }
    if (unsigned long m = regex_marker_at(s + i, n - i)) {
      out.append(s + i, m);
      i += m;
      continue;
    }
    if (!removed.test(static_cast<unsigned char>(s[i]))) out.push_back(s[i]);
    i++;
  }
  if (out.size() > QZ_MAX_STRING_LENGTH)
    return php_lib_string_token(line, "", QZ_MAX_STRING_LENGTH + 1);
  return php_lib_string_token(line, out.data(), out.size());
}

_qz_token* php_lib_regex_preg_replace(_qz_token* pattern, _qz_token* replacement,
                                      _qz_token* subject) {
  php_lib_preg_replace(pattern, replacement, subject);
  const char *p, *r, *s;
  unsigned long pn, rn, sn;
  if (!subject || !qz_value_text(&subject->value, &s, &sn)) return nullptr;
  regex_program prog;
  bool emulated = pattern && qz_value_text(&pattern->value, &p, &pn) && regex_compile(p, pn, &prog);
  if (prog.eval) return nullptr;
  if (!replacement || !qz_value_text(&replacement->value, &r, &rn)) {
    r = "";
    rn = 0;
  }
  if (emulated && prog.runs && rn != 0) emulated = false;
  if (emulated && prog.items.size() == 1 && rn == 0 && !prog.at_start && !prog.at_end &&
      regex_keeps_only_name_bytes(prog.items[0]))
    return regex_name_filter(prog.items[0], s, sn, subject->lineno);

  std::string out;
  bool too_long = false;
  if (!emulated) {
    out.assign(s, sn);
  } else {
    unsigned long m = prog.items.size();
    for (unsigned long i = 0; i <= sn && !too_long;) {
      /* A marker stands for text the scan does not know: what the pattern
       * makes of it keeps its origin, so it is kept whole. */
      if (unsigned long k = i < sn ? regex_marker_at(s + i, sn - i) : 0) {
        out.append(s + i, k);
        i += k;
        continue;
      }
      if (regex_match_at(prog, s, sn, i)) {
        regex_replace(r, rn, s + i, m, &out);
        if (m > 0) {
          i += m;
          continue;
        }
      }
      if (i < sn) out.push_back(s[i]);
      i++;
      too_long = out.size() > QZ_MAX_STRING_LENGTH;
    }
  }
  /* A result past the cap is refused by the string allocator, so that the
   * refusal is counted like any other. */
  _qz_token* res = too_long ? php_lib_string_token(subject->lineno, "", QZ_MAX_STRING_LENGTH + 1)
                            : php_lib_string_token(subject->lineno, out.data(), out.size());
  return php_lib_taint_carry(subject, res);
}
