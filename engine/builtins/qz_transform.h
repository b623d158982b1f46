#ifndef QZ_TRANSFORM_H
#define QZ_TRANSFORM_H

/*
 * String transforms: the engine's emulations of the PHP string and decoding
 * functions that obfuscated scripts rely on, plus small utilities on
 * NUL-terminated text. Each transform returns a new WORD token whose string
 * never shares text with its argument.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

QZ_EXPORT _qz_token* qz_engine_str_to_lower(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_str_to_upper(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_str_rot13(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_strrev(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_urldecode(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_b64decode(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_b64encode(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_str_len(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_str_replace(_qz_token* subject, _qz_token* search, _qz_token* replace);
QZ_EXPORT _qz_token* qz_engine_gzinflate(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzuncompress(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzdeflate(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzdecode(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzencode(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_gzcompress(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_is_array(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_trim(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_ltrim(_qz_token* t);
QZ_EXPORT _qz_token* qz_engine_rtrim(_qz_token* t);

QZ_EXPORT char* strlwr(char* s);
QZ_EXPORT char* strupr(char* s);
QZ_EXPORT char* __strrev(char* s);
QZ_EXPORT char* qz_safe_str_copy(char* dst, unsigned long n, char* src);
QZ_EXPORT unsigned long _count_string(char* text, char* search);
QZ_EXPORT char* malloc_replace(char* subject, char* search, char* replace);
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
