#ifndef QZENGINE_QZWRAPPER_H
#define QZENGINE_QZWRAPPER_H

/*
 * The host adapter: starts the engine with a rule file, scans one file or one
 * buffer at a time, scores the reported calls against the rules, and reports
 * the verdict through the host's record and handler.
 *
 * Scores of 5 or more are definite, 1 to 4 suspicious; a file is a threat when
 * its definite sum exceeds 4, and the walk then stops early.
 */

#include <qzengine/export.h>
#include <qzengine/qzengine.h>
#include <qzengine/threat.h>

/* Starts the engine and the rule module; true when the rule file could be
 * opened (rules are read at the first scan). Null path: false, nothing started. */
QZ_EXPORT bool qz_engine_wrapper_init(const char* rule_path);
/* Releases the rules, then the engine. */
QZ_EXPORT void qz_engine_wrapper_uninit();
/* 1 when the file is a threat, else 0. Returns 0 without scanning before
 * init, after uninit, when the rule file did not open, for a null path, and
 * when called from inside a callback of a running scan. */
QZ_EXPORT int qz_engine_wrapper_scan_file(threat::threat_info* info, char* path,
                                          threat::threat_handler* handler);
/* The same over an input source the host has opened: the scan reads it from
 * where it stands and leaves it open. 0 for a null source, as for a clean
 * one, so a host that needs to tell them apart checks the source first. */
QZ_EXPORT int qz_engine_wrapper_scan_source(threat::threat_info* info, qz_io_handle* source,
                                            threat::threat_handler* handler);
/* The same over a zero-terminated text; the length is not used. */
QZ_EXPORT int qz_engine_wrapper_scan_buff(char* text, unsigned long length,
                                          threat::threat_info* info,
                                          threat::threat_handler* handler);
/* The adapter's call filter; 1 when it has just asked the interpreter to stop. */
QZ_EXPORT unsigned char qz_engine_wrapper_fcall_filter(unsigned long line_no,
                                                       unsigned long reserved, char* func_name,
                                                       unsigned long assign_times,
                                                       _fcall_argument* args,
                                                       unsigned long arg_count);

/* Adapter state of the current scan (read-only for hosts). */
QZ_EXPORT extern unsigned char g_load_behavior_ok;
QZ_EXPORT extern unsigned long g_current_file_score;
QZ_EXPORT extern unsigned long g_current_file_suspicious_score;
QZ_EXPORT extern char file_desc[250];
QZ_EXPORT extern unsigned long g_line_no;

/* The description and score of the last call that a rule scored in the
 * current scan (empty text and 0 when none yet). For call filters that wrap
 * qz_engine_wrapper_fcall_filter to explain each scored call. */
QZ_EXPORT const char* qz_engine_wrapper_last_match(unsigned long* score);

/* Nesting depth of the call being reported: 0 in the script itself, 1 inside
 * code evaluated by it, and so on. Meant for call filters that explain. */
QZ_EXPORT unsigned long qz_engine_eval_depth();

#endif
