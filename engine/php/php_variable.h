#ifndef PHP_VARIABLE_H
#define PHP_VARIABLE_H

/*
 * The variable list, the request superglobals with their taint markers, the
 * string form of a value and the radix-64 integer text.
 *
 * The list hangs from php_rt_state.var_list and var_tail (php_eval.h); this
 * module alone writes them, everyone else goes through the functions below.
 */

#include <qzengine/export.h>

#include "common/qz_limits.h"
#include "runtime/qz_array.h"
#include "runtime/qz_string.h"
#include "runtime/qz_token.h"

/* The variable entry for tok's name, made on first reference; tok itself when
 * it has no name; null when a new entry cannot be allocated. */
QZ_EXPORT _qz_token* php_reference_globals(_qz_token* tok);
/* The value tk stands for: a "$name" word its variable's value (made on
 * first reference), anything else its own; through ref when it has one.
 * The empty value for a null tk (an expression that gave nothing). */
_qz_value php_variable_value(_qz_token* tk);
/* The first entry whose name equals name ignoring case, or null. */
QZ_EXPORT _qz_token* php_lookup_global_variable(char* name);
/* The string form of tok: a LITERAL value's text, a variable's integer in
 * radix-64 form or its name when it holds neither text nor integer, an
 * INTEGER token's radix-64 text, else the invalid-string text (also for null).
 * A new string of the scan, except for a variable holding a STRING: that
 * string itself is returned, shared, or null when it holds none. */
QZ_EXPORT _qz_string* php_to_tring(_qz_token* tok);
/* Scans text as a script of its own (qz_engine_scan_buff): refused, doing
 * nothing, while a scan runs. */
QZ_EXPORT void php_eval_string(const char* text);
/* Creates the nine superglobal entries (start of every scan); with
 * QZ_OPT_INTERPRETER_REACH also the old long names ($HTTP_GET_VARS and the
 * like), whose items read as the markers of their modern counterparts. */
void php_create_superglobals();
/* True when entry is a request array made by php_create_superglobals in
 * this scan. */
bool php_variable_is_superglobal(const _qz_token* entry);
/* What an item of $_SERVER that the client sets reads as with extended
 * reading: a header (HTTP_*) or a part of the request line (QUERY_STRING,
 * REQUEST_URI, PATH_INFO, CONTENT_TYPE). It holds "$_SERVER_DATA", so that
 * whatever reads server data reads it too. */
#define PHP_CLIENT_SERVER_MARKER "$_SERVER_DATA_HTTP"
/* True for the name of such an item (the len bytes at key), ignoring case. */
bool php_server_key_is_client_set(const char* key, size_t len);
/* True when text is exactly the item marker of a request array
 * ("$_GET_DATA" and the like) or PHP_CLIENT_SERVER_MARKER: the value came
 * from the request. */
bool php_text_is_request_marker(const char* text);
/* The item marker of a request array that stands first in text (of two
 * starting at one place, the longer), or null when none does. The pointer
 * is valid for the life of the process. */
const char* php_text_request_marker_in(const char* text);
/* The item marker of arr when it is a request marker (a request array, or
 * an array made from one: the items the scan does not know are request
 * data), or null, also for a null arr. */
const char* php_array_request_marker(const _qz_array* arr);
/* The first entry of the variable list, or null when it is empty. Entries
 * follow one another by next in order of first reference; they are tokens of
 * the scan, valid until the token pool is reset after it. */
_qz_token* php_variable_first();
/* Empties the variable list and forgets its index (end of a scan). The
 * entries are not released here: the token pool reclaims them. */
void php_variable_clear();
/* Forgets the variable-list index. The index also notices by itself, at its
 * next use, a list emptied or replaced behind its back (php_rt_state is
 * exported), so calling it is never required for correctness. */
void php_variable_reset_index();
/* True when tok is itself an entry of the variable list. */
bool php_variable_is_entry(_qz_token* tok);
/* Writes the radix-64 text of the low 32 bits of v (as the POSIX l64a) into
 * out (at least QZ_L64A_TEXT_SIZE bytes) and returns out; 0 gives the empty text. */
char* php_l64a(long v, char* out);

#endif
