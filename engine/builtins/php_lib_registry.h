#ifndef PHP_LIB_H
#define PHP_LIB_H

/*
 * The built-in function library: the registry that maps PHP names to the
 * engine's emulations, the dispatch that hands them their arguments, and the
 * emulations themselves (taint sources, code sinks, structure, pass-through).
 * Built-ins take tokens in PHP argument order and return a new token or null.
 */

#include <qzengine/export.h>

#include "qz_mempool.h"
#include "qz_string_impl.h"
#include "qz_token_helpper.h"

struct _php_function_map {
  char* name;            /* interned in the internal symbol table */
  void* func;            /* fixed arity: argc _qz_token* parameters; variadic: one list */
  unsigned long argc;    /* least number of arguments it is run with */
  unsigned char varargs; /* nonzero: variadic */
};

QZ_EXPORT extern qz_mempool<_php_function_map> qz_php_internal_function_map;

/* Registry (php_lib_registry.cpp). */
QZ_EXPORT void php_lib_startup();
QZ_EXPORT void php_lib_shutdown();
QZ_EXPORT void php_lib_append_internal_function(const char* name, void* func, unsigned long argc,
                                                unsigned char varargs);
/* First registration of name, ignoring case; null when there is none. */
QZ_EXPORT _php_function_map* php_lib_lookup_internal_function_by_name(char* name);
/* Runs f with args (last argument first, as the call wrapper builds it). */
QZ_EXPORT _qz_token* php_lib_call_wrapper(_php_function_map* f, _qz_token* args);
QZ_EXPORT _qz_token* php_lib_call0(void* f);
QZ_EXPORT _qz_token* php_lib_call1(void* f, _qz_token* a);
QZ_EXPORT _qz_token* php_lib_call2(void* f, _qz_token* a, _qz_token* b);
QZ_EXPORT _qz_token* php_lib_call3(void* f, _qz_token* a, _qz_token* b, _qz_token* c);
QZ_EXPORT _qz_token* php_lib_call4(void* f, _qz_token* a, _qz_token* b, _qz_token* c, _qz_token* d);
QZ_EXPORT _qz_token* php_lib_callv(void* f, _qz_token* args);
QZ_EXPORT _qz_token* php_lib_print_r(_qz_token* v);

/* Structure built-ins used by the evaluator (php_lib_struct.cpp). */
QZ_EXPORT _qz_token* php_lib_reference_array_item(_qz_token* container, _qz_token* key);
QZ_EXPORT _qz_token* php_lib_build_bucket(_qz_token* key, _qz_token* value);
QZ_EXPORT _qz_token* php_lib_build_array(_qz_token* first);
QZ_EXPORT _qz_token* php_lib_build_empty_array(_qz_token* t);
QZ_EXPORT _qz_token* php_lib_var_var(_qz_token* name);

/* Other built-ins (php_lib_builtin.cpp). */
/* Resets the per-scan budgets of evaluated code; php_lib_startup calls it. */
void php_lib_builtin_scan_begin();
/* How many code sinks (eval and its relatives) are running their text right
 * now: 0 while the script itself is walked. */
unsigned long php_lib_eval_depth();
QZ_EXPORT _qz_token* php_lib_getenv(_qz_token* name);
QZ_EXPORT _qz_token* php_lib_mysql_fetch_assoc(_qz_token* res);
QZ_EXPORT _qz_token* php_lib_mysql_fetch_row(_qz_token* res);
QZ_EXPORT _qz_token* php_lib_fsockopen(_qz_token* host, _qz_token* port);
QZ_EXPORT _qz_token* php_lib_fopen(_qz_token* name, _qz_token* mode);
QZ_EXPORT _qz_token* php_lib_fread(_qz_token* handle, _qz_token* length);
QZ_EXPORT _qz_token* php_lib_fgets(_qz_token* handle);
QZ_EXPORT _qz_token* php_lib_file_get_contents(_qz_token* name);
QZ_EXPORT _qz_token* php_lib_eval(_qz_token* code);
QZ_EXPORT _qz_token* php_lib_assert(_qz_token* code);
QZ_EXPORT _qz_token* php_lib_create_function(_qz_token* args, _qz_token* code);
QZ_EXPORT _qz_token* php_lib_file_put_contents(_qz_token* name, _qz_token* data);
QZ_EXPORT _qz_token* php_lib_fwrite(_qz_token* handle, _qz_token* data);
QZ_EXPORT _qz_token* php_lib_fputs(_qz_token* handle, _qz_token* data);
QZ_EXPORT _qz_token* php_lib_preg_replace(_qz_token* pattern, _qz_token* replacement, _qz_token* subject);
QZ_EXPORT _qz_token* php_lib_explode(_qz_token* delimiter, _qz_token* text);
QZ_EXPORT _qz_token* php_lib_range(_qz_token* low, _qz_token* high);
QZ_EXPORT _qz_token* php_lib_array_count(_qz_token* a);
QZ_EXPORT _qz_token* php_lib_count(_qz_token* a);
QZ_EXPORT _qz_token* php_lib_ord(_qz_token* s);
QZ_EXPORT _qz_token* php_lib_chr(_qz_token* n);
QZ_EXPORT _qz_token* php_lib_define(_qz_token* name, _qz_token* value);
QZ_EXPORT _qz_token* php_lib_getconstant(_qz_token* name);
QZ_EXPORT _qz_token* php_lib_stripslashes(_qz_token* s);
QZ_EXPORT _qz_token* php_lib_passit(_qz_token* s);
QZ_EXPORT _qz_token* php_lib_str_replace(_qz_token* search, _qz_token* replace, _qz_token* subject);
QZ_EXPORT _qz_token* php_lib_echo(_qz_token* v);

/* Support used by the evaluator and the registry (php_lib_struct.cpp). */
QZ_EXPORT _qz_string* php_strcat(_qz_string* a, _qz_string* b);
QZ_EXPORT _qz_string* php_strcat(_qz_string* a, const char* b);
QZ_EXPORT _qz_string* php_strcat(const char* a, _qz_string* b);
QZ_EXPORT _qz_string* php_strcat(const char* a, const char* b);
QZ_EXPORT _qz_string* php_strcpy(_qz_value* src, _qz_value* dst);
QZ_EXPORT bool php_compare_cstr(void* a, void* b, unsigned long n);
QZ_EXPORT bool php_compare_size_t(void* a, void* b, unsigned long n);

/* Variable dump (php_lib_dump.cpp). */
QZ_EXPORT _qz_token* php_lib_dump_variales();
QZ_EXPORT void php_var_dump(_qz_token* tk);
QZ_EXPORT void php_lib_print_value(_qz_value* v);

#endif
