#ifndef QZ_ASCII_H
#define QZ_ASCII_H

/*
 * ASCII byte helpers: letter case of one byte, the value of a hexadecimal
 * digit, an index of a text table by first byte, and the case-folded hash
 * and equality behind the name indexes.
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

/* Space, tab, newline or carriage return: the white space between PHP
 * tokens that the readers skip (vertical tab and form feed are not). */
inline bool qz_ascii_is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

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

/* What a qz_ascii_first_index holds where no entry follows. */
#define QZ_ASCII_NO_ENTRY 0xFF

/* An index over a table of N texts by their first byte: first[b] is the
 * lowest index of an entry whose text starts with byte b, next[i] the next
 * such entry after entry i, in table order; QZ_ASCII_NO_ENTRY ends a chain.
 * A lookup then compares only the entries that can match. */
template <unsigned long N>
struct qz_ascii_first_index {
  static_assert(N < QZ_ASCII_NO_ENTRY, "entry indexes fit a byte");
  unsigned char first[256];
  unsigned char next[N];
};

/* The index of N texts, the first byte of entry i being first_byte(i). */
template <unsigned long N, class FirstByte>
constexpr qz_ascii_first_index<N> qz_ascii_index_first_bytes(FirstByte first_byte) {
  qz_ascii_first_index<N> ix{};
  for (unsigned b = 0; b < 256; b++) ix.first[b] = QZ_ASCII_NO_ENTRY;
  for (unsigned long i = N; i-- > 0;) {
    unsigned char c = static_cast<unsigned char>(first_byte(i));
    ix.next[i] = ix.first[c];
    ix.first[c] = static_cast<unsigned char>(i);
  }
  return ix;
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

/* Whether the NUL-terminated text s is exactly the literal lit: at most
 * sizeof(lit) bytes compared inline, never past s's terminator, where
 * strcmp would cost a library call on paths run for every token. */
template <size_t N>
inline bool qz_ascii_is(const char* s, const char (&lit)[N]) {
  for (size_t i = 0; i < N; i++)
    if (s[i] != lit[i]) return false;
  return true;
}

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
