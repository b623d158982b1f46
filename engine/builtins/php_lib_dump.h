#ifndef PHP_LIB_DUMP_H
#define PHP_LIB_DUMP_H

/*
 * The variable dump: the `_qz_dump_` built-in hands every tracked variable's
 * name and value text to the host's var-dump handler.
 */

#include <qzengine/export.h>

#include "runtime/qz_token.h"

/* Reports every named WORD entry of the variable list to the var-dump
 * handler, in the order the variables were first met; the texts handed over
 * are the dump's own copies, valid during the handler's call. Returns null. */
QZ_EXPORT _qz_token* php_lib_dump_variales();

#endif
