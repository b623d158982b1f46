#ifndef QZ_API_COMPAT_H
#define QZ_API_COMPAT_H

/*
 * Routines kept only because hosts written against the engine's documented
 * interface may link against them. Nothing in the engine or its tools calls
 * them; each does nothing, or returns null.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

QZ_EXPORT _qz_token* php_lib_call0(void* f);
QZ_EXPORT _qz_token* php_lib_call1(void* f, _qz_token* a);
QZ_EXPORT _qz_token* php_lib_call2(void* f, _qz_token* a, _qz_token* b);
QZ_EXPORT _qz_token* php_lib_call3(void* f, _qz_token* a, _qz_token* b, _qz_token* c);
QZ_EXPORT _qz_token* php_lib_call4(void* f, _qz_token* a, _qz_token* b, _qz_token* c, _qz_token* d);
QZ_EXPORT _qz_token* php_lib_callv(void* f, _qz_token* args);
QZ_EXPORT _qz_token* php_lib_print_r(_qz_token* v);
QZ_EXPORT void php_var_dump(_qz_token* tk);
QZ_EXPORT void php_lib_print_value(_qz_value* v);

#endif
