#ifndef QZ_TRANSFORM_H
#define QZ_TRANSFORM_H

/*
 * String transforms: the engine's emulations of the PHP string and decoding
 * functions that obfuscated scripts rely on, plus small utilities on
 * NUL-terminated text. Each transform returns a new WORD token whose string
 * never shares text with its argument.
 *
 * Full decoding (QZ_OPT_FULL_DECODE) changes three things: texts are taken by
 * their recorded length (binary data keeps its NULs), str_rot13 covers the
 * whole text, and the gz family inflates for real.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

/* Token transforms. Each takes one argument token (null allowed) and returns
 * a new WORD token on the argument's line (line 0 for null) that belongs to
 * the scan: the token pool and the string list reclaim it after the scan, the
 * caller releases nothing. Null only when the token pool refuses a token. An
 * argument without text (see qz_value_text) gives the invalid-string text,
 * as does a result that would pass QZ_MAX_STRING_LENGTH or memory that
 * cannot be had; the argument itself is never changed. */

/* ASCII letters of the text folded to lower or upper case; other bytes kept. */
QZ_EXPORT _qz_token* qz_engine_str_to_lower(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_str_to_upper(_qz_token* t);
/* Letters rotated by 13 within their case. Without full decoding only the
 * first QZ_ROT13_BUFFER - 1 bytes are rotated and kept. */
QZ_EXPORT _qz_token* qz_engine_str_rot13(_qz_token* t);
/* The text reversed byte by byte. */
QZ_EXPORT _qz_token* qz_engine_strrev(_qz_token* t);
/* "%hl" escapes decoded to the byte (16*h + l) mod 256, a non-digit counting
 * as QZ_ASCII_NOT_HEX; "+" stays "+". A "%" with fewer than two characters
 * after it ends the text, and so does a decoded NUL. */
QZ_EXPORT _qz_token* qz_engine_urldecode(_qz_token* t);
/* Standard base64 decoding up to the first character outside the alphabet.
 * The text is the STRING or LITERAL text, else the token's name when the value
 * holds no pointer; a value holding another pointer gives the invalid-string
 * text. No text, nothing decoded, or a result equal to the invalid-string text
 * gives the decoded marker (QZ_DECODED_TEXT). Without full decoding the
 * result ends at its first NUL. Null for a null argument. */
QZ_EXPORT _qz_token* qz_engine_b64decode(_qz_token* t);
/* Standard base64 with "=" padding. */
QZ_EXPORT _qz_token* qz_engine_b64encode(_qz_token* t);
/* Two lower-case hex digits per byte, high nibble first, as bin2hex gives
 * them; the invalid-string text for an argument without text or one whose
 * result would pass QZ_MAX_STRING_LENGTH. */
_qz_token* qz_engine_bin2hex(_qz_token* t);
/* An INTEGER value: the STRING's recorded length or the LITERAL's length up
 * to its NUL; 0 for anything else or a null argument. */
QZ_EXPORT _qz_token* qz_engine_str_len(_qz_token* t);
/* subject with every non-overlapping occurrence of search replaced, left to
 * right (see qz_replace_n). search and replace may also be texts held by a
 * pointer-free value's name. A missing or valueless operand gives the
 * invalid-string text; so does a result that cannot be allocated, which is
 * also reported as a fault. Null only when no token can be had. */
QZ_EXPORT _qz_token* qz_engine_str_replace(_qz_token* subject, _qz_token* search,
                                           _qz_token* replace);
/* Without full decoding each gives the decoded marker (QZ_DECODED_TEXT).
 * With it, gzinflate inflates raw deflate data, gzuncompress zlib-framed and
 * gzdecode gzip-framed data; data that does not inflate, or an empty text,
 * still gives the marker. Inflating stops at QZ_MAX_STRING_LENGTH bytes. */
QZ_EXPORT _qz_token* qz_engine_gzinflate(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzuncompress(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzdecode(_qz_token* t);
/* Compression is not emulated: gzdeflate and gzencode give the decoded
 * marker, gzcompress null. */
QZ_EXPORT _qz_token* qz_engine_gzdeflate(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzencode(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzcompress(_qz_token* t);
/* An INTEGER value: 1 when the value (or the value it refers to) is an array,
 * else 0 (also for a null argument). */
QZ_EXPORT _qz_token* qz_engine_is_array(_qz_token* t);
/* The text without leading and trailing spaces and tabs (trim), only leading
 * ones (ltrim) or only trailing ones (rtrim). */
QZ_EXPORT _qz_token* qz_engine_trim(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_ltrim(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_rtrim(_qz_token* t);

/* Utilities on NUL-terminated text. */

/* Fold s's ASCII letters to lower or upper case in place; return s (null
 * stays null). */
QZ_EXPORT char* strlwr(char* s);
QZ_EXPORT char* strupr(char* s);
/* Reverses s in place and returns it; a null s gives a static empty text
 * that must not be written. */
QZ_EXPORT char* __strrev(char* s);
/* Copies src's characters, at most n, into dst without a terminator; the
 * caller sizes dst and terminates it. Returns dst; nothing is copied when
 * either is null. */
QZ_EXPORT char* qz_safe_str_copy(char* dst, unsigned long n, char* src);
/* Non-overlapping occurrences of search in text, counted left to right; 0
 * for a null or empty search, a null text, or memory that cannot be had. */
QZ_EXPORT unsigned long _count_string(char* text, char* search);
/* subject with every occurrence of search replaced (qz_replace_n over the
 * three texts). The caller releases the result with free; null when an
 * argument is null, the heap refuses or the result would pass
 * QZ_MAX_STRING_LENGTH. subject is never written. */
QZ_EXPORT char* malloc_replace(char* subject, char* search, char* replace);
/* Always false: every pointer is taken as readable. */
QZ_EXPORT bool IsBadReadPtr(char* p, int n);

/* Internal helpers shared with the built-ins (not exported). */

/* True when the host turned on full decoding (QZ_OPT_FULL_DECODE). */
bool qz_full_decode_enabled();
/* The text of a value: only a STRING with a string or a LITERAL with a
 * pointer has one; every other value (integers, arrays, pairs) has none and
 * its ptr is never read. On success *text points at engine-owned text and
 * *len is its byte count: the string's recorded length when full decoding is
 * on (binary data keeps its NULs), else the length up to the first NUL. */
bool qz_value_text(const _qz_value* v, const char** text, unsigned long* len);
/* Builds the subject with every non-overlapping occurrence of search replaced
 * by replace, scanning left to right; an empty search replaces nothing.
 * Returns a malloc'd buffer of *out_len bytes plus a NUL, released by the
 * caller with free; null when the result would exceed QZ_MAX_STRING_LENGTH or
 * the heap refuses. Linear in the subject's length. */
char* qz_replace_n(const char* subject, unsigned long subject_len, const char* search,
                   unsigned long search_len, const char* replace, unsigned long replace_len,
                   unsigned long* out_len);

#endif
