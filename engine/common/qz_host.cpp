/*
 * What the engine shares with its host: the callback slots with their
 * setters and invokers, the interrupt flag, the option flags, the handle
 * variables and the fault reports.
 */

#include "common/qz_host.h"

#include <string>

qz_exception_handler_t qz_engine_exception_handler = nullptr;
qz_fcall_filter_t qz_engine_fcall_filter = nullptr;
qz_performace_filter_t qz_engine_performace_filter = nullptr;
qz_output_handler_t qz_engine_script_output_handler = nullptr;
qz_vardump_handler_t qz_engine_vardump_handler = nullptr;

unsigned char qz_engine_interupt_debug = 0;
unsigned long qz_engine_options = 0;
unsigned long qz_engine_scan_flags = 0;

#define QZ_DEFINE_HANDLE(name, text) char* name = nullptr;
QZ_ENGINE_HANDLES(QZ_DEFINE_HANDLE)
#undef QZ_DEFINE_HANDLE

/* The fixed texts of every fault report, indexed by qz_fault_id. The source
 * texts name where the fault was first defined; hosts see them as data, so
 * they stay as they are wherever the code moves. */
struct qz_fault_text {
  const char* file;
  int line;
  const char* message;
};
static const qz_fault_text qz_fault_texts[QZ_FAULT_COUNT] = {
    {"engine/interpreter/qz_token_helpper", 67, "qz_token_alloc失败."},
    {"engine/interpreter/qz_token_helpper", 82, "qz_token_clone src为NULL."},
    {"engine/interpreter/qz_token_helpper", 109, "qz_token_lenth tk为NULL."},
    {"engine/interpreter/qz_string_impl", 86, "qz_reference_string str为NULL"},
    {"engine/interpreter/qz_array_impl", 105, "qz_array_item第二个参数key为NULL."},
    {"engine/qz_spec/qz_php_lib", 139, "php_lib_reference_array_item->php_reference_globals失败."},
    {"engine/qz_spec/qz_php", 1160, "function_name为NULL"},
    {"engine/qz_spec/qz_common_lib", 235, "malloc_replace 返回NULL"},
};

void qz_report_fault(qz_fault_id id) {
  if (!qz_engine_exception_handler || id < 0 || id >= QZ_FAULT_COUNT) return;
  /* The handler's parameters are writable; hand it copies of our constants. */
  std::string f(qz_fault_texts[id].file), m(qz_fault_texts[id].message);
  qz_engine_throw_exception(&f[0], qz_fault_texts[id].line, &m[0]);
}

void qz_engine_interupt() { qz_engine_interupt_debug = 1; }
unsigned char qz_engine_is_interupt() { return qz_engine_interupt_debug; }

void qz_engine_set_exception_handler(qz_exception_handler_t fn) {
  qz_engine_exception_handler = fn;
}

void qz_engine_throw_exception(char* file, int line, char* message) {
  if (qz_engine_exception_handler) qz_engine_exception_handler(file, line, message);
}

void qz_engine_set_fcall_filter(qz_fcall_filter_t fn) { qz_engine_fcall_filter = fn; }

unsigned char qz_engine_call_fcall_filter(unsigned long line_no, unsigned long, char* func_name,
                                          unsigned long assign_times, _fcall_argument* args,
                                          unsigned long arg_count) {
  if (!qz_engine_fcall_filter) return 0;
  return qz_engine_fcall_filter(line_no, 0, func_name, assign_times, args, arg_count);
}

void qz_engine_set_performace_filter(qz_performace_filter_t fn) {
  qz_engine_performace_filter = fn;
}

void qz_engine_call_performace_filter(unsigned long line_no, unsigned long used_tokens,
                                      unsigned long token_capacity, unsigned long used_symbols,
                                      unsigned long symbol_blocks, unsigned long array_count,
                                      unsigned long string_count) {
  if (qz_engine_performace_filter)
    qz_engine_performace_filter(line_no, used_tokens, token_capacity, used_symbols, symbol_blocks,
                                array_count, string_count);
}

void qz_engine_set_output_handler(qz_output_handler_t fn) { qz_engine_script_output_handler = fn; }

void qz_call_output(char* text) {
  if (qz_engine_script_output_handler) qz_engine_script_output_handler(text);
}

void qz_engine_set_var_dump_handler(qz_vardump_handler_t fn) { qz_engine_vardump_handler = fn; }

void qz_call_vardump(char* name, char* value) {
  if (qz_engine_vardump_handler) qz_engine_vardump_handler(name, value);
}

unsigned long qz_engine_set_options(unsigned long flags) {
  unsigned long old = qz_engine_options;
  qz_engine_options = flags;
  return old;
}

unsigned long qz_engine_get_options() { return qz_engine_options; }

unsigned long qz_engine_scan_status() { return qz_engine_scan_flags; }
