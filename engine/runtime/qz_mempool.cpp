/*
 * The bit-mask table shared by every slab pool. The pools themselves are
 * templates (qz_mempool.h); each owning module defines its global pool.
 */

#include "runtime/qz_mempool.h"

#include "common/qz_host.h"

#include <algorithm>

const unsigned long mempool_masks[32] = {
    1ul << 0,  1ul << 1,  1ul << 2,  1ul << 3,  1ul << 4,  1ul << 5,  1ul << 6,  1ul << 7,
    1ul << 8,  1ul << 9,  1ul << 10, 1ul << 11, 1ul << 12, 1ul << 13, 1ul << 14, 1ul << 15,
    1ul << 16, 1ul << 17, 1ul << 18, 1ul << 19, 1ul << 20, 1ul << 21, 1ul << 22, 1ul << 23,
    1ul << 24, 1ul << 25, 1ul << 26, 1ul << 27, 1ul << 28, 1ul << 29, 1ul << 30, 1ul << 31,
};

unsigned long qz_scan_memory_used = 0;
unsigned long qz_scan_memory_budget = 0;

bool qz_scan_memory_charge(size_t bytes) {
  if (qz_scan_memory_budget == 0) return true;
  /* Written so that the subtraction cannot wrap. */
  if (qz_scan_memory_used >= qz_scan_memory_budget ||
      bytes > qz_scan_memory_budget - qz_scan_memory_used) {
    qz_scan_note(QZ_SCAN_MEMORY_BUDGET);
    qz_engine_interupt_debug = 1;
    return false;
  }
  qz_scan_memory_used += bytes;
  return true;
}

void qz_scan_memory_credit(size_t bytes) {
  qz_scan_memory_used -= std::min<unsigned long>(bytes, qz_scan_memory_used);
}

/* qz_scan_calloc and qz_scan_malloc: the heap's allocation `get`, charged
 * and noted as they describe. */
template <class Get>
static void* qz_scan_get(size_t bytes, bool charged, Get get) {
  if (charged && !qz_scan_memory_charge(bytes)) return nullptr;
  void* p = get();
  if (!p) {
    if (charged) qz_scan_memory_credit(bytes);
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
  }
  return p;
}

void* qz_scan_calloc(size_t bytes, bool charged) {
  return qz_scan_get(bytes, charged, [bytes] { return std::calloc(1, bytes); });
}

void* qz_scan_malloc(size_t bytes, bool charged) {
  return qz_scan_get(bytes, charged, [bytes] { return std::malloc(bytes); });
}
