// Arrays: the lookup maps agreeing with a walk of the list, null keys and
// pushes that would make a loop.

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

// Random mixes of pushes (plain, and buckets with preset keys), lookups by
// key and number, and buckets changed behind the maps' back, on arrays long
// enough to use their maps: every lookup answers what a walk of the list
// answers, first bucket first. Keys compare by pointer: each text is held
// twice, at two addresses. Pushing a bucket already on the list (which would
// make a loop) is refused, and a null key finds nothing and is reported.
TEST_F(Arrays, LookupsMatchAWalk) {
  rt_fault_scope faults;
  size_t nulls = 0;
  static char keys[24][4];
  for (int i = 0; i < 24; i++) snprintf(keys[i], sizeof keys[i], "k%d", i % 12);
  std::mt19937 rng(99);
  for (int round = 0; round < 20; round++) {
    _qz_array* a = qz_array_alloc();
    for (int step = 0; step < 600; step++) {
      unsigned op = rng() % 6;
      unsigned long size = qz_array_size(a);
      if (op == 0) {
        _qz_value v{};
        v.lval = step;
        qz_array_push(a, &v);
      } else if (op == 1) {
        _qz_bucket* b = qz_bucket_alloc();
        b->key = keys[rng() % 24];
        qz_array_push(a, b);
      } else if (op == 5 && size) {
        ASSERT_EQ(qz_array_push(a, rng() % 2 ? a->head : a->tail), nullptr);
        ASSERT_EQ(qz_array_item(a, static_cast<char*>(nullptr)), nullptr);
        ASSERT_FALSE(qz_array_in(a, nullptr));
        ASSERT_EQ(qz_array_size(a), size);
        nulls += 2;
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
  EXPECT_GT(nulls, 0u);
  EXPECT_EQ(rt_faults,
            rt_fault_list(
                nulls, "engine/interpreter/qz_array_impl:105:qz_array_item第二个参数key为NULL."));
}

}  // namespace
