#ifndef PHP_LIB_REGEX_H
#define PHP_LIB_REGEX_H

/*
 * preg_replace as a text transform under QZ_OPT_INTERPRETER_REACH, for the
 * simple patterns scripts use to strip filler out of a hidden name.
 *
 * A pattern is emulated when, between its delimiters ("/", "#", "~" or any
 * other byte that is no letter, digit, backslash or blank; "(", "[", "{" and
 * "<" close with their pair), it is a row of at most QZ_PREG_MAX_ITEMS items
 * that each match one byte: a literal byte, ".", a class such as "[a-z]" or
 * "[^0-9_]", or an escape (\d \D \w \W \s \S \n \r \t \f \v \e \xhh, or an
 * escaped punctuation byte); "^" may open the row and "$" close it. The
 * modifiers i, s, m (without anchors), u (with an ASCII pattern), D and U are
 * understood. Groups, alternation, quantifiers, back references and anything
 * else leave the subject as it is. In the replacement, $0, \0 and ${0} stand
 * for the match, any other group number for nothing.
 */

#include "runtime/qz_token.h"

/* preg_replace(pattern, replacement, subject). The replacement is walked as
 * code as php_lib_preg_replace does (a pattern holding an "e" anywhere); with
 * the "e" modifier the result is null, as before. Otherwise a new STRING
 * token: the subject with every match replaced, left to right, or the
 * subject's text unchanged when the pattern is not emulated; markers of the
 * subject are carried (php_lib_taint.h). Null for a subject without text. */
_qz_token* php_lib_regex_preg_replace(_qz_token* pattern, _qz_token* replacement,
                                      _qz_token* subject);

#endif
