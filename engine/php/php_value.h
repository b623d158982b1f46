#ifndef PHP_VALUE_H
#define PHP_VALUE_H

/*
 * The values the evaluator builds: array and string indexing (where request
 * taint travels from a superglobal to its items), array literals and their
 * key => value pairs, ${expr} variable variables, and text concatenation.
 * The registry also exposes the first four to scripts under the evaluator's
 * internal names ("qz_array_item", "array", "qz_var_var").
 */

#include <qzengine/export.h>

#include "runtime/qz_array.h"
#include "runtime/qz_string.h"
#include "runtime/qz_token.h"

#include <string>

/* Tokens made here are new tokens of the scan (the pool reclaims them after
 * it; callers release nothing); null when a token cannot be had. */

/* The item of container's value at key; container stands for its variable
 * entry and a WORD key for its own. An integer key into a text gives a new
 * STRING token of that one character (a space past the end), or of the whole
 * marker when the text is a request or database marker. Otherwise a text
 * that names a variable stands for that variable, a value that is no array
 * is replaced by a new empty array, and the item is looked up by number,
 * text (interned) or the key's name; a missing one is appended holding the
 * array's marker text. Returns a new WORD token carrying a copy of the item's
 * value with ref pointing at the item, so an assignment through it writes the
 * item. Null for a null argument, when no entry can be had (reported) or
 * when memory runs out. */
QZ_EXPORT _qz_token* php_lib_reference_array_item(_qz_token* container, _qz_token* key);
/* A new PAIR token on key's line holding a new bucket: key's name as key, a
 * copy of value's value. The token without a bucket when the pool refuses
 * one; null for a null argument. */
QZ_EXPORT _qz_token* php_lib_build_bucket(_qz_token* key, _qz_token* value);
/* A new WORD token holding a new array of the list from first, in order: a
 * pair's bucket joins the array itself (a copy when it is already linked into
 * another list), any other token's value is copied in. The token without an
 * array when the pool refuses one. */
QZ_EXPORT _qz_token* php_lib_build_array(_qz_token* first);
/* Makes an array of one zero item under t's name and returns a new INTEGER
 * token holding that item's value, 0. Null for null t or when memory runs
 * out. */
QZ_EXPORT _qz_token* php_lib_build_empty_array(_qz_token* t);
/* The variable entry named "$" and name's text (its STRING or LITERAL text,
 * else its own name, else the invalid-string text), cut to
 * QZ_VAR_VAR_CALL_NAME_MAX characters; made when missing. The entry is the
 * variable list's own token. Null for null name or when memory runs out. */
QZ_EXPORT _qz_token* php_lib_var_var(_qz_token* name);
/* Extended reading: while set, php_lib_var_var names a class's static
 * property ("A::${...}"), so a name of "_" and an unknown text is not read
 * as a request superglobal. Set around that one call. */
void php_var_var_names_property(bool property);

/* What a loop over the array value v sees first: a request array's item
 * marker (every item of it is request data), else its first item's value.
 * `key` (may be null) gets what that item's key reads as: the marker again
 * (request keys are request data too), the key's text or the item's index.
 * False when v is no array or an empty one. */
bool php_value_first_item(const _qz_value& v, _qz_value* item, _qz_value* key);
/* The key of array item b as a value: its text, else its index. */
_qz_value php_value_bucket_key(const _qz_bucket* b);

/* Whether v holds request data: a request array, or a text that is a
 * request marker or holds one ("..._DATA"). */
bool php_value_holds_request(const _qz_value& v);

/* The text of a LITERAL value (its pointer, null or not) or of a STRING
 * value holding a string; null for any other value. The text is the value's
 * own, valid as long as the value's string or literal. */
const char* php_value_text(const _qz_value& v);

/* A new string of a's text followed by b's (qz_string_concat); a C text
 * becomes a string of its own first, a null one the invalid-string text.
 * Strings belong to the scan. Null when a string argument is null or the
 * heap refuses. */
QZ_EXPORT _qz_string* php_strcat(_qz_string* a, _qz_string* b);
QZ_EXPORT _qz_string* php_strcat(_qz_string* a, const char* b);
QZ_EXPORT _qz_string* php_strcat(const char* a, _qz_string* b);
QZ_EXPORT _qz_string* php_strcat(const char* a, const char* b);
/* Makes dst's ptr share src's string (its reference count raised; a null
 * string is reported) and returns that string; the value types are left
 * alone. Null for a null argument. */
QZ_EXPORT _qz_string* php_strcpy(_qz_value* src, _qz_value* dst);
/* a and b point at text pointers: true when both texts are equal ignoring
 * case, or both pointers are null; false for a null a or b. n is unused. */
QZ_EXPORT bool php_compare_cstr(void* a, void* b, unsigned long n);
/* True when the n bytes at a and b are equal (always for n 0); false for a
 * null pointer. */
QZ_EXPORT bool php_compare_size_t(void* a, void* b, unsigned long n);

/* PHP's "++" on a text that is no number: the last letter or digit steps
 * on ("a" to "b", "z" to "a" carrying into the one before, likewise "Z" and
 * "9"), a carry out of the first adds "1", "A" or "a" in front; a text
 * ending in any other byte stays as it is; the empty text becomes "1". */
std::string php_text_increment(std::string s);

#endif
