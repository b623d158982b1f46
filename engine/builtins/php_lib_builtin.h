#ifndef PHP_LIB_BUILTIN_H
#define PHP_LIB_BUILTIN_H

/*
 * The emulated built-ins: taint sources that yield marker texts, the code
 * sinks (eval and its relatives) that walk their text again as code, and the
 * small structure and text functions obfuscated scripts lean on. Each takes
 * its arguments as tokens (null for a missing one) and returns a new token
 * owned by the scan, or null. None keeps a pointer to its arguments.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

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


#endif
