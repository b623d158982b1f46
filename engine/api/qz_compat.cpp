/*
 * Compatibility-only routines: exported under their documented names for
 * hosts that link against them; nothing of ours calls them.
 */

#include "api/qz_compat.h"

#include <qzengine/qzengine.h>

/* Wide-character paths are not supported: the call is accepted and ignored. */
void qz_engine_scan_file_w(wchar_t*) {}

/* Fixed-arity dispatch helpers; php_lib_call_wrapper does the real dispatch. */
_qz_token* php_lib_call0(void*) { return nullptr; }
_qz_token* php_lib_call1(void*, _qz_token*) { return nullptr; }
_qz_token* php_lib_call2(void*, _qz_token*, _qz_token*) { return nullptr; }
_qz_token* php_lib_call3(void*, _qz_token*, _qz_token*, _qz_token*) { return nullptr; }
_qz_token* php_lib_call4(void*, _qz_token*, _qz_token*, _qz_token*, _qz_token*) { return nullptr; }
_qz_token* php_lib_callv(void*, _qz_token*) { return nullptr; }
/* print_r is not emulated: it returns null. */
_qz_token* php_lib_print_r(_qz_token*) { return nullptr; }
/* The end-of-run dump hook and the value printer print nothing; the dump
 * that reaches the host is the _qz_dump_ built-in. */
void php_var_dump(_qz_token*) {}
void php_lib_print_value(_qz_value*) {}
