#ifndef PHP_LIB_REGISTRY_H
#define PHP_LIB_REGISTRY_H

/*
 * The built-in registry: PHP function names mapped to the engine's
 * emulations, and the dispatch that hands an emulation its arguments.
 *
 * The interpreter reaches the built-ins through this header alone: the
 * driver builds and drops the registry around every scan and the call
 * reporter dispatches each call through it. Built-ins take tokens in PHP
 * argument order and return a new token (scan lifetime) or null.
 */

#include <qzengine/export.h>

#include "runtime/qz_mempool.h"
#include "runtime/qz_token.h"

struct _php_function_map {
  char* name;            /* interned in the internal symbol table */
  void* func;            /* fixed arity: argc _qz_token* parameters; variadic: one list */
  unsigned long argc;    /* least number of arguments it is run with */
  unsigned char varargs; /* nonzero: variadic */
};

/* Every registration of the current scan, in registration order; emptied by
 * php_lib_shutdown. */
QZ_EXPORT extern qz_mempool<_php_function_map> qz_php_internal_function_map;

/* Builds the registry for a new scan: creates the superglobals, registers
 * every built-in (gzdecode too under full decoding) and resets the per-scan
 * budgets of evaluated code. With QZ_OPT_INTERPRETER_REACH the rows of the
 * text, pattern and taint built-ins come first, so that a name they share
 * with an older row resolves to them; without it the registry is exactly the
 * older one. */
QZ_EXPORT void php_lib_startup();
/* Drops every registration; names stay interned in the engine's table. */
QZ_EXPORT void php_lib_shutdown();
/* Appends one registration; name is interned. A later registration of a
 * name already present is kept but never found by name. */
QZ_EXPORT void php_lib_append_internal_function(const char* name, void* func, unsigned long argc,
                                                unsigned char varargs);
/* First registration of name, ignoring case; null when there is none. */
QZ_EXPORT _php_function_map* php_lib_lookup_internal_function_by_name(char* name);
/* Runs f with args (last argument first, as the call wrapper builds it):
 * a fixed-arity built-in gets its first argc arguments in PHP order (null for
 * missing ones, never fewer than it takes); a variadic one the list. Returns
 * the built-in's token, owned by the scan, or null. */
QZ_EXPORT _qz_token* php_lib_call_wrapper(_php_function_map* f, _qz_token* args);

/* Extended reading: when the text of decoded (a decoder's result) reads as
 * PHP code (an opening tag with code after it, or a statement list from its
 * start), walks it as evaluated code is walked, at once and whichever sink
 * it reaches later; the first sink then handed the same text does not walk
 * it again.
 * Once per distinct text, within the limits of evaluated code and of
 * QZ_MAX_DECODED_CODE_WALKS and QZ_DECODED_CODE_KEEP_BYTES. */
void php_lib_walk_decoded(_qz_token* decoded);

#endif
