/*
 * The host adapter: turns the rule scores of the reported calls into the
 * host's verdict. Definite scores (5 and more) and suspicious ones (1 to 4)
 * are summed apart; a definite sum above 4 makes the file a threat and stops
 * the walk at once.
 */

#include <qzengine/qzwrapper.h>

#include "api/qz_engine.h"
#include "behavior/qz_behavior_match.h"
#include "behavior/qz_behavior_rules.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"

#include <cstring>

unsigned char g_load_behavior_ok = 0;
unsigned long g_current_file_score = 0;
unsigned long g_current_file_suspicious_score = 0;
char file_desc[QZ_FILE_DESC_SIZE];
unsigned long g_line_no = 0;

/* Scores from this value up are definite. */
static const unsigned long qz_definite_score = 5;
/* A file whose definite sum exceeds this is a threat. */
static const unsigned long qz_threat_sum = 4;

static const char qz_engine_name[] = "qz_engine";

/* Description and score of the last call that a rule scored, for hosts that
 * explain verdicts; emptied at the start of every scan. */
static char qz_wrapper_last_desc[QZ_RULE_DESC_BUFFER];
static unsigned long qz_wrapper_last_score = 0;

/* True from a successful engine start in qz_engine_wrapper_init to uninit. */
static bool qz_wrapper_started = false;

/* Appends a description and two spaces to file_desc while it holds at most
 * QZ_FILE_DESC_APPEND_LIMIT characters and does not contain the description
 * yet; the text is cut at the buffer's end and stays zero-terminated. */
static void qz_wrapper_add_description(const char* desc) {
  if (!desc || !*desc) return;
  size_t len = std::strlen(file_desc);
  if (len > QZ_FILE_DESC_APPEND_LIMIT || std::strstr(file_desc, desc)) return;
  size_t room = sizeof(file_desc) - 1 - len;
  size_t n = std::strlen(desc);
  if (n > room) n = room;
  std::memcpy(file_desc + len, desc, n);
  len += n;
  for (int i = 0; i < 2 && len < sizeof(file_desc) - 1; i++) file_desc[len++] = ' ';
  file_desc[len] = '\0';
}

static void qz_wrapper_add_score(unsigned long score) {
  if (score >= qz_definite_score)
    g_current_file_score += score;
  else
    g_current_file_suspicious_score += score;
}

bool qz_engine_wrapper_init(const char* rule_path) {
  if (!rule_path) return false;
  qz_engine_startup();
  qz_wrapper_started = true;
  g_load_behavior_ok = qz_behavior_startup(rule_path) ? 1 : 0;
  qz_engine_set_fcall_filter(qz_engine_wrapper_fcall_filter);
  return g_load_behavior_ok != 0;
}

void qz_engine_wrapper_uninit() {
  if (!qz_engine_can_scan()) return; /* not from inside a scan */
  qz_behavior_shutdown();
  if (qz_wrapper_started) qz_engine_shutdown();
  qz_wrapper_started = false;
}

unsigned char qz_engine_wrapper_fcall_filter(unsigned long line_no, unsigned long reserved,
                                             char* func_name, unsigned long assign_times,
                                             _fcall_argument* args, unsigned long arg_count) {
  char desc[QZ_RULE_DESC_BUFFER] = {};
  char detail[QZ_RULE_DETAIL_BUFFER] = {};
  unsigned long score =
      qz_behavior_check(line_no, reserved, func_name, assign_times, args, arg_count, desc, detail);
  if (score == 0) return 0;
  desc[sizeof(desc) - 1] = '\0';
  std::memcpy(qz_wrapper_last_desc, desc, sizeof(desc));
  qz_wrapper_last_score = score;
  qz_wrapper_add_description(desc);
  qz_wrapper_add_score(score);
  if (g_current_file_score > qz_threat_sum) {
    g_line_no = line_no;
    qz_engine_interupt();
    return 1;
  }
  return 0;
}

/* The steps shared by file and buffer scans; scan runs the engine over the
 * input and with_line says whether a definite report carries the line. */
template <class ScanFn>
static int qz_wrapper_scan(threat::threat_info* info, threat::threat_handler* handler,
                           bool with_line, ScanFn scan) {
  if (!g_load_behavior_ok || !qz_wrapper_started || !qz_engine_can_scan()) return 0;
  qz_behavior_file_begin();
  g_current_file_score = 0;
  g_current_file_suspicious_score = 0;
  std::memset(file_desc, 0, sizeof(file_desc));
  qz_wrapper_last_desc[0] = '\0';
  qz_wrapper_last_score = 0;

  scan();

  if (g_current_file_score > qz_threat_sum) {
    if (info) {
      info->score = g_current_file_score;
      info->description = file_desc;
      info->engine_name = qz_engine_name;
      if (with_line) info->line = g_line_no;
    }
    if (handler) handler->on_threat(info, 1);
    qz_behavior_file_end();
    return 1;
  }

  char file_rule_desc[QZ_RULE_DETAIL_BUFFER] = {};
  unsigned long file_score = qz_behavior_check_file(file_rule_desc);
  if (file_score) {
    file_rule_desc[sizeof(file_rule_desc) - 1] = '\0';
    qz_wrapper_add_description(file_rule_desc);
    qz_wrapper_add_score(file_score);
  }
  qz_behavior_file_end();

  if (g_current_file_suspicious_score) {
    if (info) {
      info->score = g_current_file_score;
      info->description = file_desc;
      info->engine_name = qz_engine_name;
      info->suspicious = 1;
    }
    if (handler) handler->on_threat(info, 1);
  }
  return g_current_file_score > qz_threat_sum ? 1 : 0;
}

int qz_engine_wrapper_scan_file(threat::threat_info* info, char* path,
                                threat::threat_handler* handler) {
  if (!path) return 0;
  return qz_wrapper_scan(info, handler, true, [path] { qz_engine_scan_file(path); });
}

int qz_engine_wrapper_scan_source(threat::threat_info* info, qz_io_handle* source,
                                  threat::threat_handler* handler) {
  if (!source) return 0;
  return qz_wrapper_scan(info, handler, true, [source] { qz_engine_real_scan(source); });
}

int qz_engine_wrapper_scan_buff(char* text, unsigned long, threat::threat_info* info,
                                threat::threat_handler* handler) {
  if (!text) return 0;
  return qz_wrapper_scan(info, handler, false, [text] { qz_engine_scan_buff(text); });
}

const char* qz_engine_wrapper_last_match(unsigned long* score) {
  if (score) *score = qz_wrapper_last_score;
  return qz_wrapper_last_desc;
}
