#ifndef PHP_DRIVER_H
#define PHP_DRIVER_H

/*
 * The script driver: cuts the token stream into statements at ";", marks call
 * names, treats `while`, hands each statement to the evaluator and stops at
 * the interrupt flag. A nested run (a while condition, evaluated code) saves
 * the outer statement's runtime stacks and restores them afterwards.
 */

#include <qzengine/export.h>
#include <qzengine/qz_io_handle.h>

#include "runtime/qz_token.h"

QZ_EXPORT void php_startup();
QZ_EXPORT void php_shutdown();
/* Runs statements read from source (tokens null) or from the list tokens
 * (cloned, the list is left intact). Returns 0. A run nested deeper than
 * QZ_MAX_NESTED_RUNS does nothing. */
QZ_EXPORT int php_debug(_qz_token* tokens, qz_io_handle* source, unsigned char raw);
QZ_EXPORT int php_parse_while(_qz_token* tok, qz_io_handle* source);
QZ_EXPORT int php_parse_functiondef(_qz_token* tok, qz_io_handle* source);
QZ_EXPORT int php_parse_if(_qz_token* tok, qz_io_handle* source);
QZ_EXPORT int php_parse_for(_qz_token* tok, qz_io_handle* source);

/* Number of php_debug runs active right now (0 outside a scan). */
unsigned long php_run_depth();

#endif
