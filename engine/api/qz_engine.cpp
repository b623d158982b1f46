/*
 * The engine's exported face: lifecycle, scan entry points, callback slots
 * and their invokers, the interrupt flag, the interned handles and the
 * memory counters.
 */

#include "qz_engine.h"

#include "php_driver.h"
#include "qz_array_impl.h"
#include "qz_string_impl.h"
#include "qz_symtable.h"
#include "qz_token_helpper.h"

#include <cstdio>
#include <string>

qz_exception_handler_t qz_engine_exception_handler = nullptr;
qz_fcall_filter_t qz_engine_fcall_filter = nullptr;
qz_performace_filter_t qz_engine_performace_filter = nullptr;
qz_output_handler_t qz_engine_script_output_handler = nullptr;
qz_vardump_handler_t qz_engine_vardump_handler = nullptr;

unsigned char qz_engine_interupt_debug = 0;
unsigned long qz_engine_options = 0;

#define QZ_DEFINE_HANDLE(name, text) char* name = nullptr;
QZ_ENGINE_HANDLES(QZ_DEFINE_HANDLE)
#undef QZ_DEFINE_HANDLE

/* True from qz_engine_startup to qz_engine_shutdown. */
static bool qz_engine_started = false;
/* True while qz_engine_real_scan runs: a scan started from a callback, or a
 * bulk release requested from one, would free what the running scan holds. */
static bool qz_engine_scanning = false;

bool qz_engine_can_scan() { return qz_engine_started && !qz_engine_scanning; }

void qz_engine_startup() {
  if (qz_engine_scanning) return;
  qz_engine_symtable_startup();
#define QZ_INTERN_HANDLE(name, text) name = qz_engine_insert_isym(const_cast<char*>(text));
  QZ_ENGINE_HANDLES(QZ_INTERN_HANDLE)
#undef QZ_INTERN_HANDLE
  qz_engine_started = true;
}

void qz_engine_shutdown() {
  if (qz_engine_scanning) return;
  qz_engine_symtable_shutdown();
  qz_engine_memory_pool_for_token.free_all();
  qz_engine_started = false;
}

/* Closes the scanned file on every way out of the scan. */
namespace {
struct qz_file_closer {
  linux_file_handle& h;
  ~qz_file_closer() {
    if (h.stream) std::fclose(h.stream);
    h.stream = nullptr;
  }
};
}  // namespace

void qz_engine_scan_file(char* path) {
  if (!qz_engine_can_scan()) return;
  linux_file_handle handle(path ? std::fopen(path, "rb") : nullptr);
  qz_file_closer closer{handle};
  qz_report_performance(0);
  qz_engine_real_scan(&handle);
}

void qz_engine_scan_buff(const char* text) {
  if (!qz_engine_can_scan()) return;
  buf_file_handle handle(text ? text : "");
  qz_engine_real_scan(&handle);
}

void qz_engine_scan_file_w(wchar_t*) {}

void qz_engine_real_scan(qz_io_handle* source) {
  if (!qz_engine_can_scan()) return;
  qz_engine_interupt_debug = 0;
  if (!source) return;
  {
    /* Cleared on every way out, so an unwinding scan cannot lock the engine. */
    struct scanning_guard {
      scanning_guard() { qz_engine_scanning = true; }
      ~scanning_guard() { qz_engine_scanning = false; }
    } guard;
    php_startup();
    php_debug(nullptr, source, 0);
    php_shutdown();
  }
  qz_engine_release_all_resource();
}

void qz_engine_release_all_resource() {
  if (qz_engine_scanning) return;
  qz_engine_symtable_reset();
  qz_engine_memory_pool_for_token.reset_in_place();
  qz_string_free_all();
  qz_array_free_all();
}

void qz_engine_interupt() { qz_engine_interupt_debug = 1; }
unsigned char qz_engine_is_interupt() { return qz_engine_interupt_debug; }

void qz_engine_set_exception_handler(qz_exception_handler_t fn) { qz_engine_exception_handler = fn; }

void qz_engine_throw_exception(char* file, int line, char* message) {
  if (qz_engine_exception_handler) qz_engine_exception_handler(file, line, message);
}

void qz_report_fault(const char* file, int line, const char* message) {
  if (!qz_engine_exception_handler) return;
  /* The handler's parameters are writable; hand it copies of our constants. */
  std::string f(file), m(message);
  qz_engine_throw_exception(&f[0], line, &m[0]);
}

void qz_engine_set_fcall_filter(qz_fcall_filter_t fn) { qz_engine_fcall_filter = fn; }

unsigned char qz_engine_call_fcall_filter(unsigned long line_no, unsigned long, char* func_name,
                                          unsigned long assign_times, _fcall_argument* args,
                                          unsigned long arg_count) {
  if (!qz_engine_fcall_filter) return 0;
  return qz_engine_fcall_filter(line_no, 0, func_name, assign_times, args, arg_count);
}

void qz_engine_set_performace_filter(qz_performace_filter_t fn) { qz_engine_performace_filter = fn; }

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

/* The pool's count is raised by every allocation and lowered by every single
 * release, so it always equals the set bits of its bitmaps: the counters cost
 * no walk over the slabs. */
int qz_engine_get_performace(unsigned long& used_tokens, unsigned long& token_capacity,
                             unsigned long& used_symbols, unsigned long& symbol_blocks) {
  used_tokens = qz_engine_memory_pool_for_token.count;
  token_capacity = QZ_POOL_SLAB_ITEMS * qz_engine_memory_pool_for_token.slab_count();
  qz_engine_symtable_useage(used_symbols, symbol_blocks);
  return 1;
}

void qz_report_performance(unsigned long line_no) {
  if (!qz_engine_performace_filter) return;
  unsigned long used_tokens = 0, token_capacity = 0, used_symbols = 0, symbol_blocks = 0;
  qz_engine_get_performace(used_tokens, token_capacity, used_symbols, symbol_blocks);
  unsigned long arrays = qz_array_count();
  unsigned long strings = qz_string_count();
  qz_engine_call_performace_filter(line_no, used_tokens, token_capacity, used_symbols,
                                   symbol_blocks, arrays, strings);
}

unsigned long qz_engine_set_options(unsigned long flags) {
  unsigned long old = qz_engine_options;
  qz_engine_options = flags;
  return old;
}

unsigned long qz_engine_get_options() { return qz_engine_options; }
