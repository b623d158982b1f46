#ifndef PHP_RECLAIM_H
#define PHP_RECLAIM_H

/*
 * The collector of a scan's tokens and strings.
 *
 * Reclaiming during a scan (with QZ_OPT_MEMORY_BUDGET). A collection keeps
 * the variable list, the runtime stacks, the statement being evaluated and
 * every array item, with the strings their values hold, and gives every
 * other token and string back. Only top-level code is collected: nested runs
 * and built-ins hold tokens in native locals that no collection could see,
 * so a nested run disarms collection for its length. A collection runs once
 * the scan has made half as many bytes of strings, tokens and array items as
 * the last one kept (at least QZ_RECLAIM_MIN_STEP), so its cost stays in
 * proportion to what the scan makes. The scan entry arms collection around
 * its top-level run only: a host driving the interpreter itself is never
 * collected.
 */

#include "runtime/qz_token.h"

#include <vector>

void php_reclaim_scan_begin();
void php_reclaim_scan_end();
/* Disarms (false) or re-arms a saved state; returns the state before. */
bool php_reclaim_arm(bool armed);
/* The driver's point between two top-level statements: collects only while
 * no evaluation is running. */
void php_reclaim_point();
/* The evaluator's point inside its outermost statement, where every token in
 * use is on the runtime stacks, in the chain from `first`, or one of a and b. */
void php_reclaim_statement_point(_qz_token* first, _qz_token* a, _qz_token* b);
/* Keeps the list from `list` (and all linked to it) through every collection
 * until the scan ends: a list a module holds for the whole scan. */
void php_reclaim_keep(_qz_token* list);
/* Keeps what the values in *values point at through every collection until
 * php_reclaim_release(values) (or the scan's end): values a module holds in
 * native storage while top-level code runs. The vector is read at each
 * collection, so it may grow meanwhile; it must outlive the hold. */
void php_reclaim_hold(const std::vector<_qz_value>* values);
void php_reclaim_release(const std::vector<_qz_value>* values);

#endif
