#ifndef PHP_CALL_H
#define PHP_CALL_H

/*
 * Call reporting: settles a called function's name, takes its arguments off
 * the argument stack, runs the emulated built-in and reports the call with
 * its argument texts to the host's call filter.
 */

#include <qzengine/export.h>
#include <qzengine/qz_io_handle.h>

#include "runtime/qz_token.h"

/* Performs, reports and evaluates one call whose arguments are on arg_stk;
 * returns the built-in's result or a new integer 0 token (null only when that
 * cannot be allocated). io is not used. */
QZ_EXPORT _qz_token* php_call_wrapper(_qz_token* call, qz_io_handle* io);

/* Line of the call whose built-in is running (0 outside one): code that a
 * built-in evaluates starts counting lines there. */
extern unsigned long php_call_line;

/* 1 once extract has been called since the latest driver run began (nested
 * runs included): from then on an argument without a value reads as request
 * data and a call through a variable without a value counts as a call of
 * eval. Cleared by php_call_run_begin. */
QZ_EXPORT extern unsigned char php_extract_called;

/* Starts the call state of a driver run (the driver calls it at the start of
 * every run, nested ones included): extract has not been called. */
void php_call_run_begin();

#endif
