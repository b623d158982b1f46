// Arrays: null keys, pushes that would make a loop, and the lookup maps
// agreeing with a walk of the list.

#include "runtime/qz_array.h"
#include "runtime/qz_string.h"
#include "support/rt_fault_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

class Arrays : public ::testing::Test {
 protected:
  void SetUp() override { qz_array_free_all(); }
  void TearDown() override {
    qz_array_free_all();
    qz_string_free_all();
    qz_engine_memory_pool_for_token.free_all();
  }
};

TEST_F(Arrays, NullKeyIsReported) {
  rt_fault_scope faults;
  _qz_array* a = qz_array_alloc();
  EXPECT_EQ(qz_array_item(a, static_cast<char*>(nullptr)), nullptr);
  EXPECT_FALSE(qz_array_in(a, nullptr));
  char other[] = "new";
  EXPECT_TRUE(qz_array_in(a, other));
  EXPECT_EQ(qz_array_size(a), 1u);
  EXPECT_EQ(rt_faults(), rt_fault_list(2, "engine/interpreter/qz_array_impl:105:qz_array_item第二个参数key为NULL."));
}

TEST_F(Arrays, PushingABucketNeverMakesALoop) {
  _qz_array* a = qz_array_alloc();
  _qz_value v{};
  qz_array_push(a, &v);
  _qz_bucket* b = qz_bucket_alloc();
  char key[] = "k";
  b->key = key;
  EXPECT_EQ(qz_array_push(a, b), b);
  EXPECT_EQ(b->index, 1u);
  EXPECT_EQ(qz_array_item(a, key), b);
  // Pushing the tail again, or a bucket with successors, would make a loop.
  EXPECT_EQ(qz_array_push(a, b), nullptr);
  EXPECT_EQ(qz_array_push(a, a->head), nullptr);
  EXPECT_EQ(qz_array_size(a), 2u);
}

// Random mixes of pushes (plain, and buckets with preset keys), lookups by
// key and number, and buckets changed behind the maps' back, on arrays long
// enough to use their maps: every lookup answers what a walk of the list
// answers, first bucket first. Keys compare by pointer: each text is held
// twice, at two addresses.
TEST_F(Arrays, LookupsMatchAWalk) {
  static char keys[24][4];
  for (int i = 0; i < 24; i++) snprintf(keys[i], sizeof keys[i], "k%d", i % 12);
  std::mt19937 rng(99);
  for (int round = 0; round < 20; round++) {
    _qz_array* a = qz_array_alloc();
    for (int step = 0; step < 600; step++) {
      unsigned op = rng() % 5;
      unsigned long size = qz_array_size(a);
      if (op == 0) {
        _qz_value v{};
        v.lval = step;
        qz_array_push(a, &v);
      } else if (op == 1) {
        _qz_bucket* b = qz_bucket_alloc();
        b->key = keys[rng() % 24];
        qz_array_push(a, b);
      } else if (op == 4) {
        // The key or the number of some bucket moves out of the lookups' reach.
        _qz_bucket* b = a->head;
        for (unsigned long k = rng() % (size + 1); b && k; k--) b = b->next;
        if (b && rng() % 2) b->key = nullptr;
        if (b && rng() % 2) b->index = 1000 + step;
      } else {
        // A lookup by key (op 2) or by number (op 3).
        char* k = keys[rng() % 24];
        unsigned long n = rng() % 800;
        auto match = [&](_qz_bucket* b) { return op == 2 ? b->key == k : b->index == n; };
        _qz_bucket* want = a->head;  // the first bucket a walk finds
        while (want && !match(want)) want = want->next;
        _qz_bucket* got = op == 2 ? qz_array_item(a, k) : qz_array_item(a, n);
        if (want) {
          ASSERT_EQ(got, want) << "round " << round << " step " << step;
        } else {
          ASSERT_EQ(got, a->tail);
          ASSERT_EQ(qz_array_size(a), size + 1);
          ASSERT_TRUE(match(got)) << "the appended bucket carries what was asked for";
        }
      }
    }
    EXPECT_NE(a->index, nullptr);
  }
}

}  // namespace
