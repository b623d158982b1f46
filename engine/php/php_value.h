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

#include "runtime/qz_string.h"
#include "runtime/qz_token.h"

QZ_EXPORT _qz_token* php_lib_reference_array_item(_qz_token* container, _qz_token* key);
QZ_EXPORT _qz_token* php_lib_build_bucket(_qz_token* key, _qz_token* value);
QZ_EXPORT _qz_token* php_lib_build_array(_qz_token* first);
QZ_EXPORT _qz_token* php_lib_build_empty_array(_qz_token* t);
QZ_EXPORT _qz_token* php_lib_var_var(_qz_token* name);


QZ_EXPORT _qz_string* php_strcat(_qz_string* a, _qz_string* b);
QZ_EXPORT _qz_string* php_strcat(_qz_string* a, const char* b);
QZ_EXPORT _qz_string* php_strcat(const char* a, _qz_string* b);
QZ_EXPORT _qz_string* php_strcat(const char* a, const char* b);
QZ_EXPORT _qz_string* php_strcpy(_qz_value* src, _qz_value* dst);
QZ_EXPORT bool php_compare_cstr(void* a, void* b, unsigned long n);
QZ_EXPORT bool php_compare_size_t(void* a, void* b, unsigned long n);


#endif
