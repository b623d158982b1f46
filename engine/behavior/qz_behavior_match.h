#ifndef QZ_BEHAVIOR_MATCH_H
#define QZ_BEHAVIOR_MATCH_H

/*
 * Call matching and file scoring.
 *
 * Each call the interpreter reports is counted in the file's call history and
 * tried against the behaviour rules in file order; the first rule whose
 * function list names the call and whose argument conditions all hold gives
 * the call its score. At the end of a file the call lists, then the repeated
 * call rules, are tried against the history; again the first match in file
 * order is the only result.
 *
 * Rule lists ("a+b+c") and variable references are resolved once per load
 * into an index from the lower-cased function name to the rules naming it,
 * so a call costs about one hash lookup however many rules there are. The
 * index is rebuilt by itself whenever the rule tables have changed.
 *
 * All state is process-global: one thread, one file at a time.
 */

#include <qzengine/export.h>
#include <qzengine/qzengine.h>

#include <map>
#include <string>

/* Calls counted in the current file: name exactly as reported -> count.
 * Emptied at file begin and file end. */
QZ_EXPORT extern std::map<std::string, unsigned long> call_history;

/* Scores one reported call. Uses func_name, args and arg_count only. args
 * holds arg_count records (it may be null when arg_count is 0; a null args
 * is taken as no arguments). desc, when not null, must hold
 * QZ_RULE_DESC_BUFFER bytes and receives the matched rule's description.
 * detail, when not null, must hold QZ_RULE_DETAIL_BUFFER bytes and receives
 * "name(arg,arg)" for the last rule tried, cut to fit with its ")" kept.
 * Returns the matched rule's score (a negative score counts as 0), or 0 when
 * no rule matched, the name is null or empty, or the name is ignored.
 * Counts the call in call_history unless it is ignored. */
QZ_EXPORT unsigned long qz_behavior_check(unsigned long line_no, unsigned long reserved,
                                          char* func_name, unsigned long assign_times,
                                          _fcall_argument* args, unsigned long arg_count,
                                          char* desc, char* detail);

/* Whether one "+"-separated alternative of list matches subject: equal
 * ignoring case when exact, a case-sensitive substring otherwise. Empty
 * alternatives are skipped; the list is read up to its 99th character. A
 * null list or subject does not match. */
QZ_EXPORT bool qz_behavior_data_match(char* list, char* subject, bool exact);

/* The value of the first variable whose name equals text ignoring case, or
 * text itself. The result points into a rule record or at text. */
QZ_EXPORT char* qz_behavior_reference_var(char* text);

/* Tries the call lists, then the repeated-call rules, against the history.
 * desc, when not null, must hold QZ_RULE_DESC_BUFFER bytes and receives the
 * matched rule's description. Returns its score (negative counts as 0), or
 * 0 when nothing matched or the history is empty. */
QZ_EXPORT unsigned long qz_behavior_check_file(char* desc);

/* Loads the rules if they are not loaded yet, then empties the history. */
QZ_EXPORT void qz_behavior_file_begin();
/* Empties the history. */
QZ_EXPORT void qz_behavior_file_end();

#endif
