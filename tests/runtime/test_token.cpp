// Tokens and token lists: pool slots, field copying, the two append forms,
// release of whole lists (also broken ones) and the fault reports.

#include "runtime/qz_string.h"
#include "runtime/qz_token.h"
#include "support/rt_fault_capture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

qz_mempool<_qz_token>& pool() { return qz_engine_memory_pool_for_token; }

bool all_zero(const _qz_token* tk) {
  static const _qz_token zero{};
  return std::memcmp(tk, &zero, sizeof zero) == 0;
}

class Tokens : public ::testing::Test {
 protected:
  void SetUp() override { pool().free_all(); }
  void TearDown() override {
    pool().free_all();
    qz_string_free_all();
  }
  // A list of n fresh tokens, linked both ways, with lineno 1..n.
  std::vector<_qz_token*> make_list(int n) {
    std::vector<_qz_token*> v;
    for (int i = 0; i < n; i++) {
      v.push_back(qz_token_alloc(static_cast<unsigned long>(i + 1)));
      if (i) qz_token_append(v[i - 1], v[i]);
    }
    return v;
  }
};

TEST_F(Tokens, TypedAllocationSetsOnlyThreeFields) {
  _qz_token* first = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, 42);
  first->name = const_cast<char*>("dirty");
  first->value.lval = 7;
  qz_token_free(first);
  _qz_token* tk = qz_token_alloc(TOKEN_CALL, TOKEN_LITERAL, 9);
  ASSERT_EQ(tk, first) << "the released slot is reused";
  EXPECT_EQ(tk->lineno, 9u);
  EXPECT_EQ(tk->type, TOKEN_CALL);
  EXPECT_EQ(tk->value.type, TOKEN_LITERAL);
  tk->lineno = 0;
  tk->type = TOKEN_NONE;
  tk->value.type = TOKEN_NONE;
  EXPECT_TRUE(all_zero(tk));
  _qz_token* untyped = qz_token_alloc(5ul);
  EXPECT_EQ(untyped->type, TOKEN_NONE);
  EXPECT_EQ(untyped->value.type, TOKEN_NONE);
  EXPECT_EQ(untyped->lineno, 5u);
}

TEST_F(Tokens, FreeReleasesTheWholeTail) {
  auto v = make_list(3);
  _qz_token* other = qz_token_alloc(1ul);
  EXPECT_EQ(pool().count, 4u);
  qz_token_free(v[0]);
  EXPECT_EQ(pool().count, 1u);
  for (auto* tk : v) EXPECT_TRUE(all_zero(tk));
  EXPECT_EQ(other->lineno, 1u);
  qz_token_free(nullptr);
  EXPECT_EQ(pool().count, 1u);
}

TEST_F(Tokens, FreeSkipsLocalHead) {
  _qz_token head{};
  auto v = make_list(2);
  qz_token_append(&head, v[0]);
  qz_token_free(&head);
  EXPECT_EQ(pool().count, 0u);
  EXPECT_EQ(head.next, v[0]) << "the local head is left alone";
}

// Lists with loops (including through a local record) end: every distinct
// token is released once, and the counters stay exact.
TEST_F(Tokens, BrokenListsAreWalkedOnce) {
  struct row {
    int n;         // tokens in the chain
    int loop_to;   // the last token's next points at this one
    unsigned long length;
  };
  const row rows[] = {{1, 0, 1}, {3, 0, 3}, {5, 2, 5}, {4, 3, 4}};
  for (const row& r : rows) {
    pool().free_all();
    auto v = make_list(r.n);
    v.back()->next = v[r.loop_to];
    EXPECT_EQ(qz_token_length(v[0]), r.length);
    _qz_token* spare = qz_token_alloc(1ul);
    qz_token_append(v[0], spare);
    EXPECT_EQ(spare->prev, nullptr) << "nothing is appended to a list without an end";
    qz_token_free(v[0]);
    EXPECT_EQ(pool().count, 1u);
    EXPECT_EQ(pool().used_slots(), 1u);
  }
  _qz_token a{}, b{};
  a.next = &b;
  b.next = &a;
  qz_token_free(&a);
  EXPECT_EQ(qz_token_length(&a), 2u);
}

TEST_F(Tokens, AppendTakesTheTailAppendOneCutsIt) {
  auto a = make_list(2);
  auto b = make_list(2);
  qz_token_append(a[0], b[0]);
  EXPECT_EQ(qz_token_length(a[0]), 4u);
  EXPECT_EQ(b[0]->prev, a[1]);
  EXPECT_EQ(b[1]->prev, b[0]);

  auto c = make_list(2);
  auto d = make_list(2);
  qz_token_append_one(c[0], d[0]);
  EXPECT_EQ(qz_token_length(c[0]), 3u);
  EXPECT_EQ(d[0]->prev, c[1]);
  EXPECT_EQ(d[0]->next, nullptr);
  EXPECT_EQ(d[1]->prev, nullptr);

  // A token already on the list is not linked again: that would be a loop.
  qz_token_append(a[0], b[0]);
  qz_token_append(a[0], a[0]);
  EXPECT_EQ(qz_token_length(a[0]), 4u);
  qz_token_append(nullptr, a[0]);
  qz_token_append_one(a[0], nullptr);
  EXPECT_EQ(qz_token_length(a[0]), 4u);
}

TEST_F(Tokens, CloneCopiesAllButLinks) {
  _qz_string* s = qz_string_alloc("v");
  auto v = make_list(3);
  _qz_token* src = v[1];
  src->name = const_cast<char*>("name");
  src->type = TOKEN_WORD;
  src->value = {TOKEN_STRING, 3, 4, 5, 6, s};
  _qz_value stored{};
  src->ref = &stored;
  _qz_token* c = qz_token_clone(src);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lineno, src->lineno);
  EXPECT_EQ(c->name, src->name);
  EXPECT_EQ(c->type, TOKEN_WORD);
  EXPECT_EQ(std::memcmp(&c->value, &src->value, sizeof(_qz_value)), 0);
  EXPECT_EQ(c->ref, &stored);
  EXPECT_EQ(c->prev, nullptr);
  EXPECT_EQ(c->next, nullptr);
  EXPECT_EQ(s->refcount, 1u);
}

TEST_F(Tokens, FaultReports) {
  rt_fault_scope faults;
  EXPECT_EQ(qz_token_clone(nullptr), nullptr);
  EXPECT_EQ(qz_token_length(nullptr), 0u);
  EXPECT_EQ(qz_token_length(qz_token_alloc(1ul)), 1u);
  const rt_fault want[] = {
      {"engine/interpreter/qz_token_helpper", 82, "qz_token_clone src为NULL."},
      {"engine/interpreter/qz_token_helpper", 109, "qz_token_lenth tk为NULL."},
  };
  ASSERT_EQ(rt_faults().size(), 2u);
  for (size_t i = 0; i < 2; i++) EXPECT_EQ(rt_faults()[i], want[i]) << i;
}

}  // namespace
