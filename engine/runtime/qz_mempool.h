#ifndef QZ_MEMPOOL_H
#define QZ_MEMPOOL_H

/*
 * Slab pools for the engine's fixed-size records (tokens, arrays, buckets,
 * symbol slots, registry entries).
 *
 * A pool is a chain of slabs in creation order; each slab holds
 * QZ_POOL_SLAB_ITEMS records and one occupancy bit per record. Allocation is
 * first-fit: lowest slab, lowest bitmap word, lowest clear bit. Indexes keep
 * that order cheap without changing it: one bit per slab marks the slabs with
 * a free slot and one bit per bitmap word the words with a clear bit, so the
 * first free slot is found with a few bit scans; `by_address` lists the slabs
 * sorted by address so that the slab holding a record is found by binary
 * search.
 *
 * Pools are process-global and unguarded; one scan runs at a time.
 */

#include <qzengine/export.h>

#include "common/qz_limits.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

/* The running scan's memory budget: bytes of runtime strings, array and
 * bucket slabs and token slabs the scan uses (made during it or kept from an
 * earlier scan, counted alike), and the bound on them (0: none, the default
 * and the state between scans). */
extern unsigned long qz_scan_memory_used;
extern unsigned long qz_scan_memory_budget;
/* Counts `bytes` against the budget. False, counting nothing, when they
 * would pass it: the scan is then noted as stopped by its budget and asked
 * to end at its next poll, and the caller must fail its allocation. */
bool qz_scan_memory_charge(size_t bytes);
/* Takes back bytes counted before (a block freed, or refused later). */
void qz_scan_memory_credit(size_t bytes);
/* A zero-filled heap block of `bytes` for the runtime's own use, or null.
 * With `charged`, the bytes first count against the running scan's budget
 * (a refusal there is noted as the budget's); a refusal by the heap notes the
 * scan as out of memory. The caller frees the block with std::free and, when
 * charged, credits the bytes back. */
void* qz_scan_calloc(size_t bytes, bool charged);
/* The same without zeroing the block, for a caller that writes every byte. */
void* qz_scan_malloc(size_t bytes, bool charged);

/* Entry b is 2 to the power b: the mask of bit b of a bitmap word. */
QZ_EXPORT extern const unsigned long mempool_masks[32];

template <class T>
struct qz_mempool {
  struct mempool_item {
    T items[QZ_POOL_SLAB_ITEMS];
    uint32_t bitmap[QZ_POOL_BITMAP_WORDS];
    mempool_item* next;
    unsigned long ordinal; /* position in the chain, from 0 */
    unsigned long used;    /* slots in use */
    /* Slots from this index on have not been taken since the slab was made
     * or last reset, so they are zero: a reset zeroes only those before it. */
    unsigned long taken_end;
    uint64_t open_words[2]; /* bit w set while bitmap word w has a clear bit */
    /* Counted against the running scan's budget: set when a charged pool
     * makes the slab or first takes a slot from it during a scan, cleared by
     * a reset. */
    bool billed;
  };

  unsigned long count = 0;       /* allocations since the last reset, less releases */
  unsigned long allocations = 0; /* allocations over the pool's life */
  /* Slabs from ordinal `touched` on have had no slot taken since the last
   * reset, so they are all zero: a reset zeroes only the slabs before it. */
  unsigned long touched = 0;
  /* Slabs zeroed by resets over the pool's life: the work resets did. */
  unsigned long zeroed_slabs = 0;
  mempool_item* first = nullptr;         /* first slab, null while there is none */
  mempool_item* last = nullptr;          /* last slab, where new slabs are linked */
  std::vector<mempool_item*> by_address; /* slabs sorted by address */
  std::vector<mempool_item*> by_ordinal; /* slabs in chain order */
  std::vector<uint64_t> open_slabs;      /* bit o set while slab o has a free slot */
  /* The slab slab_of found last, or null; always a slab of this pool. */
  mutable mempool_item* last_found = nullptr;

  /* Slabs of this pool count against the scan's memory budget. */
  bool charged = false;

  qz_mempool() = default;
  explicit qz_mempool(bool charge_budget) : charged(charge_budget) {}
  qz_mempool(const qz_mempool&) = delete;
  qz_mempool& operator=(const qz_mempool&) = delete;
  ~qz_mempool() { free_all(); }

  /* Appends one zero-filled slab; null (and no change) when the heap refuses. */
  mempool_item* add_slab() {
    auto* slab = static_cast<mempool_item*>(qz_scan_calloc(sizeof(mempool_item), charged));
    if (!slab) return nullptr;
    unsigned long ordinal = last ? last->ordinal + 1 : 0;
    try {
      by_address.insert(std::upper_bound(by_address.begin(), by_address.end(), slab), slab);
      by_ordinal.push_back(slab);
      if (open_slabs.size() * 64 <= ordinal) open_slabs.push_back(0);
    } catch (...) {
      auto it = std::find(by_address.begin(), by_address.end(), slab);
      if (it != by_address.end()) by_address.erase(it);
      if (by_ordinal.size() > ordinal) by_ordinal.pop_back();
      std::free(slab);
      if (charged) qz_scan_memory_credit(sizeof(mempool_item));
      return nullptr;
    }
    slab->ordinal = ordinal;
    slab->billed = charged && qz_scan_memory_budget != 0;
    mark_all_open(slab);
    if (!first)
      first = slab;
    else
      last->next = slab;
    last = slab;
    return slab;
  }

  /* Returns a free slot, searching from slab `start` onward (from the first
   * slab when null), appending a slab when every one is full; null when no
   * memory can be had. The slot keeps whatever the slab holds: zero for a slot
   * never used or released. First-fit: the lowest slab with a free slot, in
   * it the lowest word, in the word the lowest bit.
   *
   * A charged pool counts every slab a scan uses against that scan's budget
   * once: a slab made during the scan as it is made, a slab kept from an
   * earlier scan (reset_in_place) when its first slot is taken, refused as a
   * new slab would be. So a scan is charged the same whatever the scans
   * before it left in the pool; the loop and string room thresholds that
   * follow the budget, and with them the calls reported, cannot depend on
   * them. */
  T* alloc(mempool_item* start) {
    mempool_item* cur = next_open_slab(start ? start->ordinal : 0);
    if (cur && charged && !cur->billed && qz_scan_memory_budget != 0) {
      if (!qz_scan_memory_charge(sizeof(mempool_item))) return nullptr;
      cur->billed = true;
    }
    if (!cur && !(cur = add_slab())) return nullptr;
    unsigned w = cur->open_words[0]
                     ? static_cast<unsigned>(__builtin_ctzll(cur->open_words[0]))
                     : 64 + static_cast<unsigned>(__builtin_ctzll(cur->open_words[1]));
    uint32_t word = cur->bitmap[w];
    unsigned b = static_cast<unsigned>(__builtin_ctz(~word));
    cur->bitmap[w] = word | static_cast<uint32_t>(mempool_masks[b]);
    if (cur->bitmap[w] == 0xFFFFFFFFu) cur->open_words[w / 64] &= ~(1ull << (w % 64));
    if (++cur->used == QZ_POOL_SLAB_ITEMS)
      open_slabs[cur->ordinal / 64] &= ~(1ull << (cur->ordinal % 64));
    if (cur->ordinal >= touched) touched = cur->ordinal + 1;
    unsigned long slot = w * 32ul + b;
    if (slot >= cur->taken_end) cur->taken_end = slot + 1;
    count++;
    allocations++;
    return &cur->items[slot];
  }

  /* The slab whose item area holds `item`, or null. */
  mempool_item* slab_of(const void* item) const {
    auto addr = reinterpret_cast<uintptr_t>(item);
    /* Records released together mostly lie in one slab: the slab found last
     * is asked first, before the search. */
    if (mempool_item* hit = last_found) {
      auto base = reinterpret_cast<uintptr_t>(hit->items);
      if (addr >= base && addr < base + sizeof(hit->items))
        return (addr - base) % sizeof(T) == 0 ? hit : nullptr;
    }
    /* A record below the lowest slab or past the highest lies in none. */
    if (by_address.empty() || addr < reinterpret_cast<uintptr_t>(by_address.front()->items) ||
        addr >= reinterpret_cast<uintptr_t>(by_address.back()) + sizeof(mempool_item))
      return nullptr;
    auto it = std::upper_bound(
        by_address.begin(), by_address.end(), addr,
        [](uintptr_t a, mempool_item* s) { return a < reinterpret_cast<uintptr_t>(s); });
    if (it == by_address.begin()) return nullptr;
    mempool_item* slab = *(it - 1);
    auto base = reinterpret_cast<uintptr_t>(slab->items);
    if (addr >= base + sizeof(slab->items)) return nullptr;
    if ((addr - base) % sizeof(T) != 0) return nullptr;
    last_found = slab;
    return slab;
  }

  /* Whether `item` is the start of a slot of this pool that is in use. */
  bool in_use(const T* item) const {
    const mempool_item* slab = slab_of(item);
    if (!slab) return false;
    unsigned long s = static_cast<unsigned long>(item - slab->items);
    return (slab->bitmap[s / 32] & static_cast<uint32_t>(mempool_masks[s % 32])) != 0;
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
    unsigned w = static_cast<unsigned>(s / 32);
    uint32_t mask = static_cast<uint32_t>(mempool_masks[s % 32]);
    bool was_used = (slab->bitmap[w] & mask) != 0;
    slab->bitmap[w] &= ~mask;
    std::memset(static_cast<void*>(item), 0, sizeof(T));
    if (was_used) {
      count--;
      slab->used--;
      slab->open_words[w / 64] |= 1ull << (w % 64);
      open_slabs[slab->ordinal / 64] |= 1ull << (slab->ordinal % 64);
    }
    return true;
  }

  /* Frees every slot and sets count to 0: in the slabs a slot was taken from
   * since the last reset, the slots still in use are zeroed (a free slot is
   * zero already: release and sweep zero it, and a slot past taken_end was
   * never handed out), so the cost follows what is still held, not how far
   * the pool once grew. Slabs from ordinal `keep_slabs` on are then given back
   * to the heap; the rest stay. */
  void reset_in_place(unsigned long keep_slabs = ~0ul) {
    for (unsigned long o = 0; o < touched && o < by_ordinal.size(); o++) {
      mempool_item* s = by_ordinal[o];
      unsigned long words = (s->taken_end + 31) / 32;
      for (unsigned long w = 0; w < words; w++)
        for (uint32_t bits = s->bitmap[w]; bits; bits &= bits - 1) zero_slot(s, w, bits);
      std::memset(s->bitmap, 0, sizeof(s->bitmap));
      s->taken_end = 0;
      mark_all_open(s);
      zeroed_slabs++;
    }
    touched = 0;
    count = 0;
    if (keep_slabs == 0) {
      free_all();
      return;
    }
    /* The next scan pays for the kept slabs it uses, as it would for new. */
    for (unsigned long o = 0; o < keep_slabs && o < by_ordinal.size(); o++)
      by_ordinal[o]->billed = false;
    if (slab_count() <= keep_slabs) return;
    last_found = nullptr;
    for (unsigned long o = keep_slabs; o < by_ordinal.size(); o++) std::free(by_ordinal[o]);
    by_ordinal.resize(keep_slabs);
    last = by_ordinal.back();
    last->next = nullptr;
    /* Shrinking never allocates: the kept slabs are sorted again in place. */
    by_address.assign(by_ordinal.begin(), by_ordinal.end());
    std::sort(by_address.begin(), by_address.end());
    open_slabs.resize((keep_slabs + 63) / 64);
    if (keep_slabs % 64) open_slabs.back() &= (1ull << (keep_slabs % 64)) - 1;
  }

  /* Frees every slab; the pool is empty afterwards. */
  void free_all() {
    while (first) {
      mempool_item* next = first->next;
      std::free(first);
      first = next;
    }
    count = 0;
    touched = 0;
    last = nullptr;
    last_found = nullptr;
    by_address.clear();
    by_ordinal.clear();
    open_slabs.clear();
  }

  /* Mark bits for a collection: one bit per slot, laid out as the slabs'
   * bitmaps (slab ordinal times QZ_POOL_BITMAP_WORDS, then the word). */
  typedef std::vector<uint32_t> marks;

  /* Sets the mark of the slot `item` occupies. False when the item lies in
   * no slab of this pool or was marked already, so a caller walking a
   * chain of records can stop at the first one it has seen. */
  bool mark(marks& m, const T* item) const {
    const mempool_item* slab = slab_of(item);
    if (!slab) return false;
    unsigned long s = static_cast<unsigned long>(item - slab->items);
    unsigned long w = slab->ordinal * QZ_POOL_BITMAP_WORDS + s / 32;
    if (m.size() <= w) m.resize(slab_count() * QZ_POOL_BITMAP_WORDS, 0);
    uint32_t bit = static_cast<uint32_t>(mempool_masks[s % 32]);
    if (m[w] & bit) return false;
    m[w] |= bit;
    return true;
  }

  /* Calls fn on every slot in use. */
  template <class F>
  void for_each_used(F fn) const {
    for (unsigned long o = 0; o < touched && o < by_ordinal.size(); o++) {
      const mempool_item* s = by_ordinal[o];
      for (unsigned w = 0; w < QZ_POOL_BITMAP_WORDS; w++)
        for (uint32_t bits = s->bitmap[w]; bits; bits &= bits - 1)
          fn(&s->items[w * 32 + static_cast<unsigned>(__builtin_ctz(bits))]);
    }
  }

  /* Releases every slot in use whose mark is clear, as release does; the
   * slabs stay. Returns the number of slots released. */
  unsigned long sweep(const marks& m) {
    unsigned long freed = 0;
    for (unsigned long o = 0; o < touched && o < by_ordinal.size(); o++) {
      mempool_item* s = by_ordinal[o];
      for (unsigned w = 0; w < QZ_POOL_BITMAP_WORDS; w++) {
        unsigned long mw = o * QZ_POOL_BITMAP_WORDS + w;
        uint32_t garbage = s->bitmap[w] & ~(mw < m.size() ? m[mw] : 0u);
        if (!garbage) continue;
        for (uint32_t bits = garbage; bits; bits &= bits - 1) zero_slot(s, w, bits);
        unsigned long n = static_cast<unsigned long>(__builtin_popcount(garbage));
        s->bitmap[w] &= ~garbage;
        s->used -= n;
        count -= n;
        freed += n;
        s->open_words[w / 64] |= 1ull << (w % 64);
        open_slabs[o / 64] |= 1ull << (o % 64);
      }
    }
    return freed;
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

 private:
  /* Zeroes the record of bitmap word w's lowest set bit in `bits`. */
  static void zero_slot(mempool_item* s, unsigned long w, uint32_t bits) {
    std::memset(static_cast<void*>(&s->items[w * 32 + static_cast<unsigned>(__builtin_ctz(bits))]),
                0, sizeof(T));
  }

  void mark_all_open(mempool_item* slab) {
    slab->used = 0;
    slab->open_words[0] = ~0ull;
    slab->open_words[1] = (1ull << (QZ_POOL_BITMAP_WORDS - 64)) - 1;
    open_slabs[slab->ordinal / 64] |= 1ull << (slab->ordinal % 64);
  }

  /* The first slab at or after ordinal `from` with a free slot, or null. */
  mempool_item* next_open_slab(unsigned long from) const {
    for (unsigned long i = from / 64; i < open_slabs.size(); i++) {
      uint64_t bits = open_slabs[i];
      if (i == from / 64) bits &= ~0ull << (from % 64);
      if (bits) return by_ordinal[i * 64 + static_cast<unsigned long>(__builtin_ctzll(bits))];
    }
    return nullptr;
  }
};

static_assert(QZ_POOL_BITMAP_WORDS > 64 && QZ_POOL_BITMAP_WORDS <= 128,
              "open_words holds one bit per bitmap word");

#endif
