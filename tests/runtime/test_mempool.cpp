// Slab pools: first-fit slot order, slab growth, release and bulk resets,
// checked against a plain model of the first-fit rule.

#include "runtime/qz_mempool.h"

#include "common/qz_host.h"
#include "support/budget_scope.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

// The heap-refusal test asks for an impossible slab; the sanitizer's
// allocator must then return null as the C library does.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

struct rec {
  long a, b, c;
};

// Slot number of p counted over the whole chain (slab ordinal * slab size + slot).
template <class T>
long global_slot(const qz_mempool<T>& pool, const T* p) {
  long base = 0;
  for (auto* s = pool.first; s; s = s->next, base += QZ_POOL_SLAB_ITEMS)
    if (p >= s->items && p < s->items + QZ_POOL_SLAB_ITEMS) return base + (p - s->items);
  return -1;
}

// A reset zeroes only the slabs taken from since the previous reset and
// gives back the slabs past the kept number; the kept ones are reused zeroed.
TEST(MemPool, ResetCostFollowsUseAndTrimsToKept) {
  const unsigned long S = QZ_POOL_SLAB_ITEMS;
  struct {
    unsigned long items, keep, slabs_after, zeroed;
  } rows[] = {
      {S * 3 + 1, ~0ul, 4, 4}, {S * 3 + 1, 2, 2, 4}, {S * 70, 65, 65, 70},
      {S * 2, 5, 2, 2},        {5, 0, 0, 1},         {0, 1, 0, 0},
      {S + 37, ~0ul, 2, 2},    {100, 1, 1, 1},  // partly used slabs
  };
  for (auto& r : rows) {
    qz_mempool<rec> pool;
    std::vector<rec*> taken;
    for (unsigned long i = 0; i < r.items; i++) {
      taken.push_back(pool.alloc(nullptr));
      taken.back()->c = 7;
    }
    // Every third record goes back before the reset (release zeroes it), so
    // the reset finds used and free slots mixed in one word.
    for (unsigned long i = 0; i < taken.size(); i += 3) pool.release(taken[i]);
    pool.reset_in_place(r.keep);
    EXPECT_EQ(pool.slab_count(), r.slabs_after) << r.items << " keep " << r.keep;
    EXPECT_EQ(pool.zeroed_slabs, r.zeroed) << r.items << " keep " << r.keep;
    EXPECT_EQ(pool.count, 0u);
    // The kept chain is whole: every kept slot comes back zeroed, in order, and
    // the pool grows again past it.
    for (unsigned long i = 0; i < r.slabs_after * S + 1; i++) {
      rec* p = pool.alloc(nullptr);
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(p->a | p->b | p->c, 0) << "slot " << i;
      ASSERT_EQ(global_slot(pool, p), static_cast<long>(i));
      ASSERT_EQ(pool.slab_of(p) != nullptr, true);
    }
    // A small use after a big one costs one slab at the next reset.
    pool.reset_in_place(r.keep);
    unsigned long before = pool.zeroed_slabs;
    pool.alloc(nullptr);
    pool.reset_in_place(r.keep);
    EXPECT_EQ(pool.zeroed_slabs - before, 1u);
  }
}

// slab_of answers the same whichever slab it found before: a slot of each
// slab, a pointer inside a slot, past the last slab, and a slot of a slab
// given back by a reset.
TEST(MemPool, SlabOfKnowsOnlyLiveSlots) {
  const unsigned long S = QZ_POOL_SLAB_ITEMS;
  qz_mempool<rec> pool;
  std::vector<rec*> firsts;
  for (unsigned long i = 0; i < 3 * S; i++) {
    rec* p = pool.alloc(nullptr);
    if (i % S == 0) firsts.push_back(p);
  }
  auto* inside = reinterpret_cast<const char*>(firsts[1]) + 1;
  const struct {
    const void* item;
    bool found;
  } rows[] = {
      {firsts[2], true},      {firsts[0], true},         {inside, false}, {firsts[1], true},
      {firsts[1] + S, false}, {firsts[2] + S - 1, true}, {inside, false}, {firsts[0] + S - 1, true},
  };
  for (const auto& r : rows) EXPECT_EQ(pool.slab_of(r.item) != nullptr, r.found) << r.item;
  EXPECT_NE(pool.slab_of(firsts[2]), nullptr);
  pool.reset_in_place(1);
  EXPECT_EQ(pool.slab_of(firsts[2]), nullptr) << "a slab given back";
  EXPECT_EQ(pool.slab_of(firsts[1]), nullptr);
  EXPECT_NE(pool.slab_of(firsts[0]), nullptr);
}

// A charged pool bills each scan for every slab it uses, once, whatever
// earlier scans left in the pool: kept slabs cost what new ones would; a slab
// made before its first slot is taken (as the token pool starts) is billed
// once; a slab made between scans is billed to the scan that uses it, and
// refused, as a new one would be, when the budget has no room for it. Each
// row runs three scans on one pool, all of which must be billed alike.
TEST(MemPool, ScanPaysForKeptSlabsAsForNew) {
  const unsigned long S = QZ_POOL_SLAB_ITEMS;
  const unsigned long slab = sizeof(qz_mempool<rec>::mempool_item);
  enum made { on_take, in_scan, between_scans };  // how the first slab comes
  const struct {
    unsigned long items, keep, budget;
    made first;
    unsigned long slabs;  // slabs billed to each scan (0: every take refused)
  } rows[] = {
      {1, ~0ul, 1ul << 30, on_take, 1},       {S * 3 + 1, ~0ul, 1ul << 30, on_take, 4},
      {S * 3 + 1, 2, 1ul << 30, on_take, 4},  {S * 2, 1, slab * 2, on_take, 2},
      {S, 1, 1ul << 30, in_scan, 1},          {S + 1, ~0ul, 1ul << 30, in_scan, 2},
      {1, ~0ul, 1ul << 30, between_scans, 1}, {1, ~0ul, slab - 1, between_scans, 0},
  };
  budget_scope restore_globals;
  for (const auto& r : rows) {
    SCOPED_TRACE("row " + std::to_string(&r - rows));
    qz_mempool<rec> pool(true);
    for (int scan = 0; scan < 3; scan++) {
      qz_scan_memory_used = 0;
      qz_scan_memory_budget = 0;
      if (r.first == between_scans && !pool.first) {
        ASSERT_NE(pool.add_slab(), nullptr);
      }
      qz_scan_memory_budget = r.budget;
      if (r.first == in_scan && !pool.first) {
        ASSERT_NE(pool.add_slab(), nullptr);
      }
      unsigned long taken = 0;
      while (taken < r.items && pool.alloc(nullptr)) taken++;
      EXPECT_EQ(taken, r.slabs ? r.items : 0) << "scan " << scan;
      EXPECT_EQ(qz_scan_memory_used, r.slabs * slab) << "scan " << scan;
      qz_scan_memory_budget = 0;
      pool.reset_in_place(r.keep);
    }
  }
}

TEST(MemPool, RefusedSlabYieldsNull) {
  struct huge {
    char bytes[1ul << 36];  // a slab of these is far beyond any heap
  };
  qz_mempool<huge> pool;
  EXPECT_EQ(pool.alloc(nullptr), nullptr);
  EXPECT_EQ(pool.alloc(nullptr), nullptr);
  EXPECT_EQ(pool.count + pool.slab_count(), 0u);
}

// Random allocations (searching from the first slab or from a given one) and
// releases, over several slabs, give exactly the slots that a plain
// lowest-free-slot model gives; a released record is zeroed, a slot released
// twice counts once, a record not the pool's is refused, and count always
// equals the set bits.
TEST(MemPool, MatchesFirstFitModel) {
  qz_mempool<rec> pool;
  std::set<long> free_model;  // free slots below `high`
  long high = 0;              // slots ever handed out
  std::vector<rec*> live;
  rec outside{1, 2, 3};
  std::mt19937 rng(12345);
  for (int step = 0; step < 40000; step++) {
    if (live.empty() || rng() % 3 != 0) {
      auto* start = rng() % 4 ? nullptr : pool.first;
      for (unsigned long k = start ? rng() % pool.slab_count() : 0; k; k--) start = start->next;
      auto it = free_model.lower_bound(start ? long(start->ordinal) * QZ_POOL_SLAB_ITEMS : 0);
      long want = it == free_model.end() ? high++ : *it;
      if (it != free_model.end()) free_model.erase(it);
      rec* r = pool.alloc(start);
      ASSERT_EQ(global_slot(pool, r), want) << "step " << step;
      live.push_back(r);
    } else {
      size_t i = rng() % live.size();
      free_model.insert(global_slot(pool, live[i]));
      live[i]->a = 99;
      ASSERT_TRUE(pool.release(live[i]));
      ASSERT_EQ(live[i]->a, 0) << "released record is zeroed";
      ASSERT_TRUE(pool.release(live[i]));
      // Inside a record, or outside every slab: not a record of the pool.
      ASSERT_FALSE(pool.release(reinterpret_cast<rec*>(reinterpret_cast<char*>(live[i]) + 8)));
      ASSERT_FALSE(pool.release(&outside));
      live[i] = live.back();
      live.pop_back();
    }
  }
  EXPECT_EQ(pool.count, live.size());
  EXPECT_EQ(pool.used_slots(), live.size());
  EXPECT_EQ(outside.a, 1);
  EXPECT_EQ(pool.slab_count(), (high + QZ_POOL_SLAB_ITEMS - 1) / QZ_POOL_SLAB_ITEMS + 0ul);
  EXPECT_GE(pool.slab_count(), 3u);
  // free_all gives every slab back; the pool starts over from nothing.
  pool.free_all();
  EXPECT_EQ(pool.first, nullptr);
  EXPECT_EQ(pool.count + pool.slab_count(), 0u);
  EXPECT_NE(pool.alloc(nullptr), nullptr);
  EXPECT_EQ(pool.slab_count(), 1u);
}

}  // namespace
