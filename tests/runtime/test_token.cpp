// Token lists: the two append forms and release of whole lists, also broken
// ones.

#include "runtime/qz_string.h"
#include "runtime/qz_token.h"

#include <gtest/gtest.h>

namespace {

qz_mempool<_qz_token>& pool() { return qz_engine_memory_pool_for_token; }

class Tokens : public ::testing::Test {
 protected:
  void SetUp() override { pool().free_all(); }
  void TearDown() override {
    pool().free_all();
    qz_string_free_all();
  }
  // Gives every field of tk but its line and links something nonzero: the
  // name "n", an operator holding the integer -7 with provenance, counters
  // and pointers to *elsewhere.
  static void fill_fields(_qz_token* tk, _qz_value* elsewhere) {
    static char name[] = "n";
    tk->name = name;
    tk->type = TOKEN_OPERATOR;
    tk->value.type = TOKEN_INTEGER;
    tk->value.lval = -7;
    tk->value.spare1 = QZ_VALUE_DECODED;
    tk->value.spare2 = 9;
    tk->value.assign_time = 4;
    tk->value.ptr = elsewhere;
    tk->ref = elsewhere;
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

// Whole lists are released; lists with loops (including through a local
// record) end: every distinct token is released once, nothing is appended.
TEST_F(Tokens, ListsAreWalkedOnce) {
  const struct {
    int n;        // tokens in the chain
    int loop_to;  // the last token's next points at this one; -1 for none
  } rows[] = {{3, -1}, {1, 0}, {3, 0}, {5, 2}, {4, 3}};
  for (const auto& r : rows) {
    pool().free_all();
    auto v = make_list(r.n);
    if (r.loop_to >= 0) v.back()->next = v[r.loop_to];
    EXPECT_EQ(qz_token_length(v[0]), static_cast<unsigned long>(r.n));
    _qz_token* spare = qz_token_alloc(1ul);
    qz_token_append(v[0], spare);
    EXPECT_EQ(spare->prev != nullptr, r.loop_to < 0) << "appended only to a list with an end";
    qz_token_free(v[0]);
    unsigned long left = r.loop_to < 0 ? 0 : 1;
    EXPECT_EQ(pool().count, left);
    EXPECT_EQ(pool().used_slots(), left);
  }
  // Records that are not the pool's are left alone; the pool's tokens they
  // lead to are released.
  _qz_token a{}, b{};
  a.next = &b;
  b.next = &a;
  qz_token_free(&a);
  EXPECT_EQ(qz_token_length(&a), 2u);
  pool().free_all();
  auto v = make_list(2);
  b.next = v[0];
  qz_token_free(&b);
  EXPECT_EQ(pool().count, 0u);
  EXPECT_EQ(b.next, v[0]);
}

// append takes the whole tail list, append_one cuts the first token off its
// list; a token already on the list (a loop) or a null one is not linked.
TEST_F(Tokens, AppendForms) {
  for (bool one : {false, true}) {
    auto a = make_list(2), b = make_list(2);
    one ? qz_token_append_one(a[0], b[0]) : qz_token_append(a[0], b[0]);
    const unsigned long length = one ? 3 : 4;
    EXPECT_EQ(qz_token_length(a[0]), length);
    EXPECT_EQ(b[0]->prev, a[1]);
    EXPECT_EQ(b[0]->next, one ? nullptr : b[1]);
    EXPECT_EQ(b[1]->prev, one ? nullptr : b[0]);
    qz_token_append(a[0], b[0]);
    qz_token_append(a[0], a[0]);
    qz_token_append(nullptr, a[0]);
    qz_token_append_one(a[0], nullptr);
    EXPECT_EQ(qz_token_length(a[0]), length);
  }
  EXPECT_EQ(qz_token_length(nullptr), 0u);
}

// A clone holds every field of its source but the links; the source's
// list is left as it was.
TEST_F(Tokens, CloneCopiesAllButTheLinks) {
  auto v = make_list(3);
  _qz_token* src = v[1];
  _qz_value elsewhere{};
  fill_fields(src, &elsewhere);
  _qz_token* c = qz_token_clone(src);
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c, src);
  EXPECT_EQ(c->lineno, 2u);
  EXPECT_STREQ(c->name, "n");
  EXPECT_EQ(c->name, src->name);
  EXPECT_EQ(c->type, TOKEN_OPERATOR);
  EXPECT_EQ(c->value.type, TOKEN_INTEGER);
  EXPECT_EQ(c->value.lval, -7);
  EXPECT_EQ(c->value.spare1, QZ_VALUE_DECODED);
  EXPECT_EQ(c->value.spare2, 9u);
  EXPECT_EQ(c->value.assign_time, 4u);
  EXPECT_EQ(c->value.ptr, &elsewhere);
  EXPECT_EQ(c->ref, &elsewhere);
  EXPECT_EQ(c->prev, nullptr);
  EXPECT_EQ(c->next, nullptr);
  EXPECT_EQ(src->prev, v[0]);
  EXPECT_EQ(src->next, v[2]);
  EXPECT_EQ(pool().count, 4u);
  EXPECT_EQ(qz_token_clone(nullptr), nullptr);
}

// Both allocation forms hand out a slot as new, whatever it held before:
// released one by one, swept by a collection, or reset with the pool.
TEST_F(Tokens, AReusedSlotComesBackZero) {
  const struct {
    const char* how;
    void (*give_back)(_qz_token*);
  } rows[] = {
      {"released", [](_qz_token* tk) {
         tk->prev = tk->next = nullptr;
         qz_token_free(tk);
       }},
      {"swept", [](_qz_token*) { pool().sweep(qz_mempool<_qz_token>::marks{}); }},
      {"reset", [](_qz_token*) { pool().reset_in_place(); }},
  };
  for (const auto& r : rows) {
    for (bool typed : {false, true}) {
      SCOPED_TRACE(std::string(r.how) + (typed ? ", typed" : ", untyped"));
      pool().free_all();
      _qz_value elsewhere{};
      _qz_token* first = qz_token_alloc(1);
      ASSERT_NE(first, nullptr);
      fill_fields(first, &elsewhere);
      first->prev = first->next = first;
      r.give_back(first);
      _qz_token* again = typed ? qz_token_alloc(TOKEN_WORD, TOKEN_STRING, 3) : qz_token_alloc(3);
      ASSERT_EQ(again, first) << "first fit takes the slot given back";
      EXPECT_EQ(again->lineno, 3u);
      EXPECT_EQ(again->name, nullptr);
      EXPECT_EQ(again->type, typed ? TOKEN_WORD : TOKEN_NONE);
      EXPECT_EQ(again->value.type, typed ? TOKEN_STRING : TOKEN_NONE);
      EXPECT_EQ(again->value.lval, 0);
      EXPECT_EQ(again->value.spare1, 0u);
      EXPECT_EQ(again->value.spare2, 0u);
      EXPECT_EQ(again->value.assign_time, 0u);
      EXPECT_EQ(again->value.ptr, nullptr);
      EXPECT_EQ(again->ref, nullptr);
      EXPECT_EQ(again->prev, nullptr);
      EXPECT_EQ(again->next, nullptr);
    }
  }
}

}  // namespace
