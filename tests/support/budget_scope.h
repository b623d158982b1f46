// Puts the scan-wide budget and status globals back as they are between
// scans, for the runtime tests that set a budget themselves: a refusal notes
// the scan as stopped by its budget, and no later test may see that.
#ifndef BUDGET_SCOPE_H
#define BUDGET_SCOPE_H

#include "common/qz_host.h"
#include "runtime/qz_mempool.h"

struct budget_scope {
  ~budget_scope() {
    qz_scan_memory_budget = 0;
    qz_scan_memory_used = 0;
    qz_engine_scan_flags = 0;
    qz_engine_interupt_debug = 0;
  }
};

#endif
