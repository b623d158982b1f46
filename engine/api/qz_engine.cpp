/*
 * The engine's exported face: lifecycle, the scan entry points and the
 * memory counters. A scan runs the pipeline from an input source through the
 * driver and releases everything it made; the callback slots it reports
 * through live in common/qz_host.
 */

#include "api/qz_engine.h"

#include "builtins/php_lib_builtin.h"
#include "common/qz_host.h"
#include "php/php_driver.h"
#include "php/php_reclaim.h"
#include "runtime/qz_array.h"
#include "runtime/qz_string.h"
#include "runtime/qz_symtable.h"
#include "runtime/qz_token.h"
#include "source/qz_source.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

/* True from qz_engine_startup to qz_engine_shutdown. */
static bool qz_engine_started = false;
/* True while qz_engine_real_scan runs: a scan started from a callback, or a
 * bulk release requested from one, would free what the running scan holds. */
static bool qz_engine_scanning = false;

bool qz_engine_can_scan() { return qz_engine_started && !qz_engine_scanning; }

/* The memory budget of a scan of `input_size` bytes; 0 (none) unless the
 * host asked for budgets. */
static unsigned long qz_engine_scan_budget(unsigned long input_size) {
  if (!(qz_engine_options & QZ_OPT_MEMORY_BUDGET)) return 0;
  const unsigned long per_byte = QZ_SCAN_BUDGET_PER_INPUT_BYTE;
  if (input_size == QZ_SOURCE_SIZE_UNKNOWN || input_size > (~0ul - QZ_SCAN_BUDGET_BASE) / per_byte)
    return QZ_SCAN_BUDGET_UNKNOWN_SIZE;
  return QZ_SCAN_BUDGET_BASE + per_byte * input_size;
}

/* A start while started keeps the engine as it is: the tables, the handles
 * and what hosts hold of them stay valid, and nothing is allocated again. */
void qz_engine_startup() {
  if (qz_engine_scanning || qz_engine_started) return;
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
  /* A file that did not open reads as empty input, and a read error as its
   * end: neither may pass for a complete scan. */
  if (!handle.stream || std::ferror(handle.stream)) qz_scan_note(QZ_SCAN_INPUT_UNREADABLE);
}

void qz_engine_scan_buff(const char* text) {
  if (!qz_engine_can_scan()) return;
  buf_file_handle handle(text ? text : "");
  qz_engine_real_scan(&handle);
}

void qz_engine_real_scan(qz_io_handle* source) {
  if (!qz_engine_can_scan()) return;
  qz_engine_interupt_debug = 0;
  qz_engine_scan_flags = 0;
  qz_scan_memory_used = 0;
  qz_scan_memory_budget = qz_engine_scan_budget(qz_source_size(source));
  if (!source) {
    qz_scan_note(QZ_SCAN_INPUT_UNREADABLE);
    return;
  }
  {
    /* Cleared on every way out, so an unwinding scan cannot lock the engine. */
    struct scanning_guard {
      scanning_guard() { qz_engine_scanning = true; }
      ~scanning_guard() { qz_engine_scanning = false; }
    } guard;
    /* A container of the interpreter that cannot grow throws; the scan
     * then ends where it stands, its verdict so far kept, and the next scan
     * starts from a clean state (php_startup resets what a throw left). */
    try {
      php_startup();
      php_reclaim_scan_begin();
      php_debug(nullptr, source, 0);
    } catch (const std::bad_alloc&) {
      qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    } catch (const std::length_error&) {
      qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    }
    php_reclaim_scan_end();
    php_shutdown();
  }
  /* Between scans nothing is refused. */
  qz_scan_memory_budget = 0;
  qz_engine_release_all_resource();
}

void qz_engine_release_all_resource() {
  if (qz_engine_scanning) return;
  qz_engine_symtable_reset();
  qz_engine_memory_pool_for_token.reset_in_place(QZ_POOL_KEEP_SLABS);
  qz_string_free_all();
  qz_array_free_all();
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

unsigned long qz_engine_eval_depth() { return php_lib_eval_depth(); }

unsigned long qz_engine_version() { return QZ_ENGINE_VERSION; }

const char* qz_engine_version_string() { return QZ_ENGINE_VERSION_STRING; }
