#ifndef QZ_MEMPOOL_H
#define QZ_MEMPOOL_H

/*
 * Slab pools for the engine's fixed-size records (tokens, arrays, buckets,
 * symbol slots, registry entries).
 *
 * A pool is a chain of slabs in creation order; each slab holds
 * QZ_POOL_SLAB_ITEMS records and one occupancy bit per record. Allocation is
 * first-fit: lowest slab, lowest bitmap word, lowest clear bit. Two indexes
 * keep that order cheap without changing it: `hint` is a slab such that every
 * slab before it is full, and `by_address` lists the slabs sorted by address
 * so that the slab holding a record is found by binary search.
 *
 * Pools are process-global and unguarded; one scan runs at a time.
 */

#include <qzengine/export.h>

#include "qz_limits.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

/* Entry b is 2 to the power b: the mask of bit b of a bitmap word. */
QZ_EXPORT extern const unsigned long mempool_masks[32];

template <class T>
struct qz_mempool {
  struct mempool_item {
    T items[QZ_POOL_SLAB_ITEMS];
    uint32_t bitmap[QZ_POOL_BITMAP_WORDS];
    mempool_item* next;
    unsigned long ordinal; /* position in the chain, from 0 */
  };

  unsigned long count = 0;       /* allocations since the last reset, less releases */
  mempool_item* first = nullptr; /* first slab, null while there is none */
  mempool_item* last = nullptr;  /* last slab, where new slabs are linked */
  mempool_item* hint = nullptr;  /* every slab before this one is full */
  std::vector<mempool_item*> by_address;

  qz_mempool() = default;
  qz_mempool(const qz_mempool&) = delete;
  qz_mempool& operator=(const qz_mempool&) = delete;
  ~qz_mempool() { free_all(); }

  /* Appends one zero-filled slab; null (and no change) when the heap refuses. */
  mempool_item* add_slab() {
    auto* slab = static_cast<mempool_item*>(std::calloc(1, sizeof(mempool_item)));
    if (!slab) return nullptr;
    try {
      by_address.insert(std::upper_bound(by_address.begin(), by_address.end(), slab), slab);
    } catch (...) {
      std::free(slab);
      return nullptr;
    }
    if (!first) {
      first = slab;
    } else {
      slab->ordinal = last->ordinal + 1;
      last->next = slab;
    }
    last = slab;
    if (!hint) hint = slab;
    return slab;
  }

  /* Returns a free slot, searching from slab `start` onward (from the first
   * slab when null), appending a slab when every one is full; null when no
   * memory can be had. The slot keeps whatever the slab holds: zero for a slot
   * never used or released. */
  T* alloc(mempool_item* start) {
    if (!first && !add_slab()) return nullptr;
    mempool_item* cur = start ? start : first;
    bool from_front = !start || cur->ordinal <= hint->ordinal;
    if (from_front) cur = hint; /* the slabs before the hint are full */
    for (;;) {
      for (unsigned w = 0; w < QZ_POOL_BITMAP_WORDS; w++) {
        uint32_t word = cur->bitmap[w];
        if (word == 0xFFFFFFFFu) continue;
        unsigned b = static_cast<unsigned>(__builtin_ctz(~word));
        cur->bitmap[w] = word | static_cast<uint32_t>(mempool_masks[b]);
        count++;
        if (from_front) hint = cur;
        return &cur->items[w * 32 + b];
      }
      if (!cur->next && !add_slab()) return nullptr;
      cur = cur->next;
    }
  }

  /* The slab whose item area holds `item`, or null. */
  mempool_item* slab_of(const void* item) const {
    auto addr = reinterpret_cast<uintptr_t>(item);
    auto it = std::upper_bound(by_address.begin(), by_address.end(), addr,
                               [](uintptr_t a, mempool_item* s) {
                                 return a < reinterpret_cast<uintptr_t>(s);
                               });
    if (it == by_address.begin()) return nullptr;
    mempool_item* slab = *(it - 1);
    auto base = reinterpret_cast<uintptr_t>(slab->items);
    if (addr >= base + sizeof(slab->items)) return nullptr;
    if ((addr - base) % sizeof(T) != 0) return nullptr;
    return slab;
  }

  /* Releases one slot: clears its bit and zeroes the record. Returns false,
   * touching nothing, for a record that lies in no slab of this pool (or not
   * at the start of a slot). Releasing a slot that is already free zeroes it
   * again but leaves `count` alone, so `count` always equals the number of
   * set bits. */
  bool release(T* item) {
    mempool_item* slab = slab_of(item);
    if (!slab) return false;
    unsigned long s = static_cast<unsigned long>(item - slab->items);
    uint32_t mask = static_cast<uint32_t>(mempool_masks[s % 32]);
    bool was_used = (slab->bitmap[s / 32] & mask) != 0;
    slab->bitmap[s / 32] &= ~mask;
    std::memset(static_cast<void*>(item), 0, sizeof(T));
    if (was_used) count--;
    if (slab->ordinal < hint->ordinal) hint = slab;
    return true;
  }

  /* Zeroes every slab's bitmap and items and sets count to 0; slabs stay. */
  void reset_in_place() {
    for (mempool_item* s = first; s; s = s->next) {
      std::memset(s->bitmap, 0, sizeof(s->bitmap));
      std::memset(static_cast<void*>(s->items), 0, sizeof(s->items));
    }
    count = 0;
    hint = first;
  }

  /* Frees every slab; the pool is empty afterwards. */
  void free_all() {
    while (first) {
      mempool_item* next = first->next;
      std::free(first);
      first = next;
    }
    count = 0;
    last = hint = nullptr;
    by_address.clear();
  }

  /* Number of slabs in the chain. */
  unsigned long slab_count() const { return last ? last->ordinal + 1 : 0; }

  /* Number of set bits over every slab's bitmap. */
  unsigned long used_slots() const {
    unsigned long n = 0;
    for (const mempool_item* s = first; s; s = s->next)
      for (unsigned w = 0; w < QZ_POOL_BITMAP_WORDS; w++) n += __builtin_popcount(s->bitmap[w]);
    return n;
  }
};

#endif
