// Flat indexes: first value kept, lookups through growth and through runs of
// equal hashes, and clearing.

#include "runtime/qz_flat_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Item {
  int key;
  int payload;
};
struct KeyHash {
  size_t operator()(int k) const { return static_cast<size_t>(k); }
};
// Every key hashes alike: every entry lands in one run of slots.
struct SameHash {
  size_t operator()(int) const { return 7; }
};
struct KeyEqual {
  bool operator()(const Item& v, int k) const { return v.key == k; }
};

template <class H>
using Index = qz_flat_index<Item, H, KeyEqual>;

// Inserts keys 0..n-1 (payload: key * 10), then checks every key is found
// with its payload, and keys n..2n-1 are not.
template <class H>
void fill_and_check(Index<H>& ix, int n) {
  for (int k = 0; k < n; k++) ASSERT_TRUE(ix.emplace(k, Item{k, k * 10})) << k;
  ASSERT_EQ(ix.size(), static_cast<size_t>(n));
  for (int k = 0; k < n; k++) {
    Item* hit = ix.find(k);
    ASSERT_NE(hit, nullptr) << k;
    EXPECT_EQ(hit->payload, k * 10) << k;
  }
  for (int k = n; k < 2 * n; k++) EXPECT_EQ(ix.find(k), nullptr) << k;
}

TEST(FlatIndex, FindsEveryKeyThroughGrowth) {
  for (int n : {0, 1, 7, 8, 9, 1000, 100000}) {
    Index<KeyHash> ix;
    fill_and_check(ix, n);
  }
}

TEST(FlatIndex, KeysOfOneHashAreToldApartByValue) {
  Index<SameHash> ix;
  fill_and_check(ix, 300);
}

TEST(FlatIndex, TheFirstValueOfAKeyStays) {
  struct Case {
    std::vector<Item> inserts;
    int key;
    int expected_payload;  // -1: not found
    size_t expected_size;
  };
  const Case cases[] = {
      {{{1, 10}, {1, 11}}, 1, 10, 1},
      {{{1, 10}, {2, 20}, {1, 12}, {2, 21}}, 2, 20, 2},
      {{{5, 50}}, 6, -1, 1},
      {{}, 1, -1, 0},
  };
  for (const Case& c : cases) {
    Index<KeyHash> ix;
    for (const Item& it : c.inserts) ix.emplace(it.key, it);
    Item* hit = ix.find(c.key);
    EXPECT_EQ(hit ? hit->payload : -1, c.expected_payload);
    EXPECT_EQ(ix.size(), c.expected_size);
  }
}

TEST(FlatIndex, ClearAndReleaseForgetEverything) {
  for (bool release : {false, true}) {
    Index<KeyHash> ix;
    fill_and_check(ix, 500);
    if (release)
      ix.release();
    else
      ix.clear();
    EXPECT_EQ(ix.size(), 0u);
    for (int k = 0; k < 500; k++) ASSERT_EQ(ix.find(k), nullptr) << k;
    // Filled again with other payloads, it answers the new ones.
    for (int k = 0; k < 500; k++) ASSERT_TRUE(ix.emplace(k, Item{k, k + 1}));
    for (int k = 0; k < 500; k++) ASSERT_EQ(ix.find(k)->payload, k + 1);
  }
}

TEST(FlatIndex, ReserveKeepsWhatIsStored) {
  Index<KeyHash> ix;
  fill_and_check(ix, 20);
  ix.reserve(5000);
  for (int k = 0; k < 20; k++) ASSERT_NE(ix.find(k), nullptr) << k;
  for (int k = 20; k < 5000; k++) ASSERT_TRUE(ix.emplace(k, Item{k, 0}));
  EXPECT_EQ(ix.size(), 5000u);
}

}  // namespace
