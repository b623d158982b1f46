#ifndef PHP_LIB_BUILTIN_H
#define PHP_LIB_BUILTIN_H

/*
 * The emulated built-ins: taint sources that yield marker texts, the code
 * sinks (eval and its relatives) that walk their text again as code, and the
 * small structure and text functions obfuscated scripts lean on. Each takes
 * its arguments as tokens (null for a missing one) and returns a new token
 * owned by the scan (the token pool, string list and array pools reclaim it
 * after the scan; the caller frees nothing), or null. None keeps a pointer to
 * its arguments, and only php_lib_define changes one.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

struct _qz_array;

/* Result tokens the built-ins share. Each is a new token of the scan; null
 * when no token can be had. */
/* A WORD token on line holding a new string of the len bytes at text; the
 * invalid-string text when the string cannot be made. */
_qz_token* php_lib_string_token(unsigned long line, const char* text, unsigned long len);
/* The same with the C text marker, on arg's line (0 for null arg). */
_qz_token* php_lib_marker(_qz_token* arg, const char* marker);
/* A WORD token on line holding a new empty array (none when the pool
 * refuses one). */
_qz_token* php_lib_array_token(unsigned long line);
/* Appends to arr an item holding, as a LITERAL, a new string of the len
 * bytes at text (a piece of a split text); false when memory runs out. */
bool php_lib_push_piece(_qz_array* arr, const char* text, unsigned long len);

/* Resets the per-scan budgets of evaluated code (runs and bytes) and the
 * nesting count; php_lib_startup calls it at the start of every scan. */
void php_lib_builtin_scan_begin();
/* How many code sinks (eval and its relatives) are running their text right
 * now: 0 while the script itself is walked. */
unsigned long php_lib_eval_depth();

/* Taint sources: a new STRING token on the argument's line (0 for null)
 * holding a fixed marker text that stands for data from outside the script,
 * whatever the arguments hold. */

/* "$_ENV_DATA". */
QZ_EXPORT _qz_token* php_lib_getenv(_qz_token* name);
/* "$_DB_DATA", for both. */
QZ_EXPORT _qz_token* php_lib_mysql_fetch_assoc(_qz_token* res);
QZ_EXPORT _qz_token* php_lib_mysql_fetch_row(_qz_token* res);
/* The handle fsockopen gives; reads from it are text off the network. */
#define PHP_LIB_SOCKET_MARKER "$_SOCKET_HANDLE"
/* PHP_LIB_SOCKET_MARKER. */
QZ_EXPORT _qz_token* php_lib_fsockopen(_qz_token* host, _qz_token* port);
/* "$_FILE_HANDLE". */
QZ_EXPORT _qz_token* php_lib_fopen(_qz_token* name, _qz_token* mode);
/* "$_FILE_CONTENTS", for both. */
QZ_EXPORT _qz_token* php_lib_fread(_qz_token* handle, _qz_token* length);
QZ_EXPORT _qz_token* php_lib_fgets(_qz_token* handle);
/* "$_REMOTE_FILE_CONTENTS" when the name's text holds "//" anywhere, else
 * "$_FILE_CONTENTS". */
QZ_EXPORT _qz_token* php_lib_file_get_contents(_qz_token* name);

/* Code sinks. Each walks its code argument's text as a nested script in raw
 * mode, sharing the variable list, the registry and the call filter with the
 * outer script, and returns null (the caller then yields an integer 0). The
 * text is read up to its first NUL; its lines count from the line of the
 * running call (php_call_line). Nothing is walked for a value without text,
 * when the driver is already QZ_MAX_NESTED_RUNS deep, or once the scan has
 * used QZ_MAX_NESTED_RUNS_PER_SCAN runs or QZ_MAX_EVAL_BYTES_PER_SCAN bytes.
 * With extended reading nothing is walked either for a decoded text that
 * php_lib_walk_decoded walked where it was decoded and no sink had yet.
 * The lexer's reading state is the same afterwards as before. */
QZ_EXPORT _qz_token* php_lib_eval(_qz_token* code);
QZ_EXPORT _qz_token* php_lib_assert(_qz_token* code);
/* The arguments' text is not walked, only the body's. */
QZ_EXPORT _qz_token* php_lib_create_function(_qz_token* args, _qz_token* code);
/* Data written to a file or handle is walked as code: a script that writes a
 * shell is judged by the shell. */
QZ_EXPORT _qz_token* php_lib_file_put_contents(_qz_token* name, _qz_token* data);
QZ_EXPORT _qz_token* php_lib_fwrite(_qz_token* handle, _qz_token* data);
QZ_EXPORT _qz_token* php_lib_fputs(_qz_token* handle, _qz_token* data);
/* The replacement is walked as code when the pattern's text holds an "e"
 * anywhere (the modifier is not told from the pattern's body); null always. */
QZ_EXPORT _qz_token* php_lib_preg_replace(_qz_token* pattern, _qz_token* replacement,
                                          _qz_token* subject);

/* Structure. Array results are new ARRAY tokens of the scan; a token whose
 * array the pool refused holds a null array. Null when no token can be had. */

/* The pieces of text between characters of delimiter (a set of characters,
 * not a substring), empty pieces dropped, as LITERAL items in order; at most
 * QZ_EXPLODE_MAX_PIECES of them. An empty array when either text is missing. */
QZ_EXPORT _qz_token* php_lib_explode(_qz_token* delimiter, _qz_token* text);
/* The integers low..high as items when both are INTEGER tokens and
 * 0 < high - low <= QZ_RANGE_MAX_SPAN (compared unsigned); else empty. */
QZ_EXPORT _qz_token* php_lib_range(_qz_token* low, _qz_token* high);
/* An INTEGER token: the item count of the argument's array, 0 when its value
 * is no array. php_lib_count also wants the token itself typed ARRAY. */
QZ_EXPORT _qz_token* php_lib_array_count(_qz_token* a);
QZ_EXPORT _qz_token* php_lib_count(_qz_token* a);
/* An INTEGER token: the text's first byte as a signed 8-bit number, 0 for no
 * text or an empty one. */
QZ_EXPORT _qz_token* php_lib_ord(_qz_token* s);
/* A STRING token of one byte: the low 8 bits of an integer, or of the decimal
 * number a STRING begins with; a zero byte gives the empty text. */
QZ_EXPORT _qz_token* php_lib_chr(_qz_token* n);
/* round, floor, ceil, intval and abs of a whole number: an INTEGER token of
 * the number (abs: its size), from an INTEGER value or a text of decimal
 * digits with an optional sign; null (not followed) for anything else. */
_qz_token* php_lib_whole_number(_qz_token* n);
_qz_token* php_lib_abs(_qz_token* n);
/* name takes value's whole value (when value is given) and gets a variable
 * entry if it has none. Returns name itself, not a new token; null for a
 * null name. */
QZ_EXPORT _qz_token* php_lib_define(_qz_token* name, _qz_token* value);
/* The variable entry whose name equals name's name ignoring case (the
 * variable list's own token, not a copy), or null. */
QZ_EXPORT _qz_token* php_lib_getconstant(_qz_token* name);
/* Extended reading: constant(NAME), the value define() gave the constant
 * whose name is the argument's text; null for one never defined. */
_qz_token* php_lib_constant(_qz_token* name);
/* Extended reading: "new ReflectionClass(name)" remembers the class and gives
 * its name; "->getDocComment()" gives the doc comment of the class reflected
 * last (see php_function_class_doc_of), or null when it has none. */
_qz_token* php_lib_reflection_class(_qz_token* name);
_qz_token* php_lib_reflection_doc_comment();

/* Pass-through. */

/* A new STRING token holding a copy of the text (no character is removed);
 * the invalid-string text for a value without text. */
QZ_EXPORT _qz_token* php_lib_stripslashes(_qz_token* s);
/* A clone of s (null for null, reported as a fault). */
QZ_EXPORT _qz_token* php_lib_passit(_qz_token* s);
/* qz_engine_str_replace with the arguments in PHP order. */
QZ_EXPORT _qz_token* php_lib_str_replace(_qz_token* search, _qz_token* replace, _qz_token* subject);
/* Hands the value's text (an integer in radix-64 form) to the host's output
 * handler, for the handler's call only. Returns null. */
QZ_EXPORT _qz_token* php_lib_echo(_qz_token* v);

/* The internal pointer of arrays (extended reading), kept per scan for the
 * arrays each, next, reset and end moved; every array starts on its first
 * item. current gives the item the pointer is on, next moves it on and gives
 * that item, reset and end put it on the first and the last item and give
 * it: the item's value, or null (false) past the end or for anything but an
 * array; request data reads as its marker. each gives the pair the pointer
 * is on (0 and "key" the key, 1 and "value" the value) and moves it on; null
 * past the end, and after one pair of its marker for request data. */
_qz_token* php_lib_current(_qz_token* array);
_qz_token* php_lib_next(_qz_token* array);
_qz_token* php_lib_reset(_qz_token* array);
_qz_token* php_lib_end(_qz_token* array);
_qz_token* php_lib_each(_qz_token* array);
/* is_array: the integer 1 for an array value, else 0. */
_qz_token* php_lib_is_array(_qz_token* value);

#endif
