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

/* Prepares a scan: resets the lexer and the run depth and builds the
 * registry with the superglobals (php_lib_startup). The engine must be
 * started (its symbol tables exist). */
QZ_EXPORT void php_startup();
/* Ends a scan: empties the runtime stacks and the variable list and drops
 * the registry. The scan's tokens, strings and arrays stay until the
 * engine's bulk release after it. */
QZ_EXPORT void php_shutdown();
/* Runs statements read from source (tokens null) or from the list tokens
 * (cloned, the list is left intact). Returns 0. A run nested deeper than
 * QZ_MAX_NESTED_RUNS does nothing; the interrupt flag ends a run at its
 * next token. */
QZ_EXPORT int php_debug(_qz_token* tokens, qz_io_handle* source, unsigned char raw);
/* tok is the "while" keyword (marked IGNORED; may be null). Reads the
 * condition group "( ... )" from source and runs it once as a statement of
 * its own; the body is left to the caller's reading. Nothing is read for a
 * null source. Returns 0. */
QZ_EXPORT int php_parse_while(_qz_token* tok, qz_io_handle* source);
/* Function definitions are not treated: returns 0 and changes nothing. */
QZ_EXPORT int php_parse_functiondef(_qz_token* tok, qz_io_handle* source);
/* Marks tok (the "if" keyword; may be null) IGNORED and returns 0; the
 * driver never calls it. */
QZ_EXPORT int php_parse_if(_qz_token* tok, qz_io_handle* source);
/* Reads "( init ; cond ; step )" and the "{ body }" group from source and
 * runs init once, then cond, body and step while cond gives a nonzero
 * integer, the body at most QZ_FOR_LOOP_MAX times. Writes "for" to the
 * host's output handler first. A missing or malformed header or body runs
 * nothing.
 * Returns 0; the driver never calls it. */
QZ_EXPORT int php_parse_for(_qz_token* tok, qz_io_handle* source);

/* Number of php_debug runs active right now (0 outside a scan). */
unsigned long php_run_depth();

#endif
