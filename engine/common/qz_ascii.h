#ifndef QZ_ASCII_H
#define QZ_ASCII_H

/*
 * ASCII byte helpers: letter case of one byte, the value of a hexadecimal
 * digit, and the case-folded hash and equality behind the name indexes.
 *
 * Only the 26 ASCII letters have a case; every other byte, bytes above 0x7F
 * included, folds to itself, which is how strcasecmp compares in the C
 * locale. Everything here is inline and keeps no state.
 */

#include <cstddef>

/* What qz_ascii_hex_value gives for a byte that is no hexadecimal digit. The
 * URL and string-escape decoders add it into the byte they build, so that a
 * malformed escape still yields a byte: its value -1 is part of their output. */
#define QZ_ASCII_NOT_HEX (-1)

inline bool qz_ascii_is_upper(char c) { return c >= 'A' && c <= 'Z'; }
inline bool qz_ascii_is_lower(char c) { return c >= 'a' && c <= 'z'; }

/* c with an uppercase letter made lowercase; any other byte unchanged. */
inline char qz_ascii_lower(char c) {
  return qz_ascii_is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}
/* c with a lowercase letter made uppercase; any other byte unchanged. */
inline char qz_ascii_upper(char c) {
  return qz_ascii_is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}

/* 0 to 15 for a digit 0-9, a-f or A-F; QZ_ASCII_NOT_HEX for any other byte.
 * A reader that takes one letter case only tests the case first. */
inline int qz_ascii_hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return QZ_ASCII_NOT_HEX;
}

/* Hash of a NUL-terminated text with letter case folded (64-bit FNV-1a over
 * the folded bytes): texts that qz_ascii_fold_equal calls equal hash alike. */
struct qz_ascii_fold_hash {
  size_t operator()(const char* s) const {
    size_t h = 1469598103934665603ull;
    for (; *s; s++) h = (h ^ static_cast<unsigned char>(qz_ascii_lower(*s))) * 1099511628211ull;
    return h;
  }
};

/* Equality of two NUL-terminated texts with letter case folded, as
 * strcasecmp(a, b) == 0. */
struct qz_ascii_fold_equal {
  bool operator()(const char* a, const char* b) const {
    for (; *a && qz_ascii_lower(*a) == qz_ascii_lower(*b); a++, b++) {
    }
    return qz_ascii_lower(*a) == qz_ascii_lower(*b);
  }
};

#endif
