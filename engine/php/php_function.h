#ifndef PHP_FUNCTION_H
#define PHP_FUNCTION_H

/*
 * User functions (extended reading, QZ_OPT_INTERPRETER_REACH): a definition
 * "function name(params) { body }" is recorded instead of being read as a
 * call, and a call of a recorded function walks its body with the call's
 * argument values bound to the parameters, so that what the body does with
 * them reaches the call filter at the body's own lines. A function that is
 * never called is walked once with unknown parameters when the script ends.
 * Walks are bounded per scan (QZ_MAX_FUNCTION_WALKS_PER_SCAN) and by the
 * driver's nesting bound, which also ends recursion.
 *
 * The recorded token lists are tokens of the scan, kept by every collection
 * (php_reclaim_keep) until the scan ends.
 */

#include <qzengine/qz_io_handle.h>

#include "runtime/qz_token.h"

#include <string>
#include <vector>

/* Forgets every recorded function and class doc comment (start and end of
 * a scan). */
void php_function_scan_begin();
/* Extended reading: keeps doc as the doc comment of the class named
 * class_name (interned; the first one of a name is kept), up to
 * QZ_MAX_CLASS_DOC_COMMENTS classes per scan. */
void php_function_class_doc(const char* class_name, const std::string& doc);
/* The doc comment kept for a class of that name (letter case ignored), or
 * null. Valid until the next scan begins. */
const std::string* php_function_class_doc_of(const char* class_name);
/* PHP defines the functions of a file's top level before the file's first
 * statement runs, so a call may come before its definition. When the text
 * of source (a script at its start) has such a call, this reads the whole
 * source once for those definitions alone (functions of the top level, not
 * methods nor functions defined inside a block), records them and moves
 * source back to its start, with the lexer as it was; else it reads nothing.
 * A source that cannot be read twice (no buffer, no seekable stream) is left
 * alone. */
void php_function_hoist(qz_io_handle* source, unsigned char raw);
/* Reads a definition from source after its "function" keyword. Returns null
 * when a named definition was read and recorded (nothing of it is left for
 * the statement); for an anonymous function, recorded under a name of
 * QZ_CLOSURE_NAME_PREFIX, a literal token of that name, which the caller
 * puts in the statement in place of the whole definition, the keyword
 * included (*replaces is then true); otherwise the token read after the
 * keyword, which the caller appends after the keyword as before. A named
 * definition inside a class body (in_class) is a method, recorded as
 * "->name": method calls ("$o->name", "Class::name") walk it, a call of a
 * global function of the same name does not. A constructor of a class whose
 * name is known (class_name, not null) is recorded as "new Class" instead:
 * "new Class(...)" walks it with its arguments. A
 * definition that the end of input cuts short is not recorded: what was read
 * of it is left in *unread (null otherwise), a list the caller walks as
 * ordinary code. */
_qz_token* php_function_define(_qz_token* keyword, qz_io_handle* source, bool in_class,
                               const char* class_name, bool* replaces, _qz_token** unread);
/* Reads an arrow function "fn(params) => expression" after its "fn"
 * keyword. When the token after the keyword is no "(", returns that token,
 * which the caller appends after the keyword as before. Otherwise the
 * function is recorded as an anonymous one whose body returns the
 * expression, and the literal of its name is returned (*replaces true),
 * linked through next to the token that ended the expression (a ";", ","
 * or closing bracket; null at the end of input): the caller reads both, in
 * that order, in place of the whole arrow function. Input that turns out
 * to hold no "=>" is left in *unread, as php_function_define leaves it. */
_qz_token* php_function_define_arrow(_qz_token* keyword, qz_io_handle* source, bool* replaces,
                                     _qz_token** unread);
/* For a call of `name` with `args` (argument values in source order): when
 * name is a recorded function, walks its body (unless a bound is reached)
 * and returns true with *result set to a new token of the scan holding the
 * value of its first "return" (null when it returned none). False, touching
 * nothing, for any other name. */
bool php_function_call(const char* name, const std::vector<_qz_token*>& args, unsigned long line,
                       _qz_token** result);
/* Whether `name` is a recorded function of the script (a plain name, as a
 * call or a callback names it). */
bool php_function_known(const char* name);
/* True while a walk runs whose calls are not to be reported: a function
 * walked again with arguments of the kinds of an earlier walk. */
bool php_function_quiet();
/* True while the walk of a method that PHP runs by itself on an unserialized
 * object (__wakeup, __unserialize, __destruct, __toString) is in progress,
 * the method's own calls included. */
bool php_function_in_unserialize_hook();
/* Keeps the argument texts of a call of `name`, which no recorded function
 * or built-in answered, for a function of that name defined later (only the
 * first call of a name, within QZ_MAX_EARLY_CALLS and
 * QZ_MAX_EARLY_CALL_BYTES; extended reading only). `name` is an interned
 * text of the scan. */
void php_function_note_early_call(const char* name, const std::vector<_qz_token*>& args,
                                  unsigned long line);
/* Walks, once, every recorded function whose body was never walked: with
 * the arguments of an earlier call of its name when one was kept (PHP
 * defines a file's functions before running it), else with its parameters
 * unknown (the end of the top-level run). */
void php_function_walk_uncalled();
/* The driver's statement hook: true when the statement that begins with
 * `first` is a "return" inside a function walk; its value is then kept as
 * the walk's result (the first one only) and the statement needs no other
 * evaluation. */
bool php_function_return(_qz_token* head);

#endif
