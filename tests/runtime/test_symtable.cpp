// Symbol tables: interning, block placement, oversized texts, resets, and
// the running totals agreeing with the slots.

#include "common/qz_limits.h"
#include "runtime/qz_symtable.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

char* w(std::string& s) { return &s[0]; }

class SymTable : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(qz_engine_symtable_startup(), nullptr); }
  void TearDown() override { qz_engine_symtable_shutdown(); }
  // The running totals of the script table: used slots, or blocks.
  static unsigned long usage(bool blocks) {
    unsigned long u, b;
    qz_engine_symtable_useage(u, b);
    return blocks ? b : u;
  }
  static unsigned long used() { return usage(false); }
  static unsigned long blocks() { return usage(true); }
};

// Texts around the block size, then random ones (short, repeated, empty,
// oversized), on a separate table and on the script table, then a reset: lookups find
// exactly the texts interned before, each new text lands in the first block
// that had room (an oversized one in a block of its own), and the usage
// totals equal the bit count.
TEST_F(SymTable, LookupsAndPlacementMatchAModel) {
  std::mt19937 rng(2024);
  const size_t edges[] = {QZ_SYMTAB_ARENA_SIZE - 1, QZ_SYMTAB_ARENA_SIZE, 100000};
  int made = 0;
  auto random_text = [&] {
    unsigned kind = rng() % 20;
    size_t len = kind == 0 ? 0 : kind == 1 ? 5000 + rng() % 3000 : rng() % 40;
    if (made < 3) len = edges[made++];
    std::string s(len, 'a');
    for (auto& c : s) c = "ab$_X\xe4"[rng() % 6];
    return s;
  };
  for (_qz_sym_table_ex* t : {qz_symtable_alloc(), qz_engine_sym_table}) {
    made = 0;
    std::vector<std::pair<unsigned long, unsigned long>> model;  // capacity, used
    std::map<std::string, char*> interned;
    for (auto* b = t; b; b = b->next) model.push_back({b->capacity, b->used});
    for (int step = 0; step < 4000; step++) {
      std::string s = random_text();
      auto known = interned.find(s);
      char* before = known == interned.end() ? nullptr : known->second;
      ASSERT_EQ(qz_lookup_sym(t, w(s)), before) << step;
      char* p = qz_symtable_insert(t, w(s));
      ASSERT_NE(p, nullptr);
      if (before) {
        ASSERT_EQ(p, before);
        continue;
      }
      interned[s] = p;
      size_t m = s.size() + 1, want = 0;
      while (want < model.size() && model[want].first - model[want].second < m) want++;
      if (want == model.size()) model.push_back({std::max<size_t>(m, QZ_SYMTAB_ARENA_SIZE), 0});
      _qz_sym_table_ex* blk = t;
      for (size_t i = 0; i < want && blk; i++) blk = blk->next;
      ASSERT_NE(blk, nullptr) << step;
      ASSERT_EQ(p, blk->text + model[want].second) << step << ": packed behind the previous text";
      model[want].second += m;
      ASSERT_EQ(std::string(p), s);
    }
    if (t == qz_engine_sym_table) {
      unsigned long bits = 0, chain = 0;
      for (auto* b = t; b; b = b->next, chain++) bits += b->slots.used_slots();
      EXPECT_EQ(used(), bits);
      EXPECT_EQ(blocks(), chain);
      EXPECT_EQ(chain, model.size());
      EXPECT_GT(chain, 2u);
      // A reset leaves one empty block, filled from byte 0 again; the internal
      // table stays. After shutdown nothing is stored.
      std::string keep = "superglobal", again = "again";
      char* internal = qz_engine_insert_isym(w(keep));
      qz_engine_symtable_reset();
      EXPECT_EQ(used(), 0u);
      EXPECT_EQ(blocks(), 1u);
      EXPECT_EQ(qz_engine_insert_sym(w(keep)), internal);
      EXPECT_EQ(qz_engine_insert_sym(w(again)), qz_engine_sym_table->text);
      qz_engine_symtable_shutdown();
      EXPECT_EQ(qz_engine_insert_sym(w(keep)), nullptr);
      EXPECT_EQ(blocks(), 0u);
      ASSERT_NE(qz_engine_symtable_startup(), nullptr);
    } else {
      qz_symtable_cleanup(t);
    }
  }
}

// qz_engine_insert_sym answers what the two tables hold now: the internal
// copy when there is one, else the script table's, whatever it answered for
// the same text before a reset or before the text entered the internal
// table. Few texts recur often (remembered answers are used); many distinct
// ones push each other out of the memory of answers.
TEST_F(SymTable, InterningFollowsTheTablesThroughResetsAndNewEngineNames) {
  std::mt19937 rng(77);
  std::vector<std::string> common;
  for (int i = 0; i < 40; i++) common.push_back("name_" + std::to_string(i));
  for (int step = 0; step < 60000; step++) {
    unsigned kind = rng() % 1000;
    std::string s = kind < 600 ? common[rng() % common.size()]
                               : "t" + std::to_string(rng() % (4 * QZ_SYMTAB_CACHE_SLOTS));
    if (kind < 3) {
      qz_engine_symtable_reset();
      continue;
    }
    if (kind < 6) {
      ASSERT_NE(qz_engine_insert_isym(w(s)), nullptr);
      continue;
    }
    char* expect = qz_lookup_sym(qz_engine_isym_table, w(s));
    if (!expect) expect = qz_lookup_sym(qz_engine_sym_table, w(s));
    char* got = qz_engine_insert_sym(w(s));
    ASSERT_NE(got, nullptr) << step;
    if (expect) {
      ASSERT_EQ(got, expect) << step << ": " << s;
    } else {
      ASSERT_EQ(qz_lookup_sym(qz_engine_sym_table, w(s)), got) << step;
    }
    ASSERT_EQ(std::string(got), s) << step;
  }
}

}  // namespace
