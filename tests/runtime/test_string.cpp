// Runtime strings: creation, concatenation by length, reference counts, the
// bulk list, and the size cap that no computation may wrap around.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"
#include "support/rt_fault_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string text_of(const _qz_string* s) { return std::string(s->text, s->length); }

class Strings : public ::testing::Test {
 protected:
  void SetUp() override { qz_string_free_all(); }
  void TearDown() override { qz_string_free_all(); }
};

// n < 0 makes the string with qz_string_alloc, otherwise with qz_string_alloc_n.
TEST_F(Strings, AllocCopiesText) {
  struct row {
    const char* in;
    long n;
    std::string want;
  };
  const row rows[] = {
      {"", -1, ""},
      {"abc", -1, "abc"},
      {nullptr, -1, "qz_invalid_string"},
      {"\xe4\xb8\xad", -1, "\xe4\xb8\xad"},
      {"abc\0def", 7, std::string("abc\0def", 7)},
      {"abc", 2, "ab"},
      {nullptr, 3, "qz_invalid_string"},
  };
  for (const row& r : rows) {
    unsigned long before = qz_string_count();
    _qz_string* s = r.n < 0 ? qz_string_alloc(r.in) : qz_string_alloc_n(r.in, r.n);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(text_of(s), r.want);
    EXPECT_EQ(s->refcount, 1u);
    for (int i = 0; i < 8; i++) EXPECT_EQ(s->text[s->length + i], 0) << "zero bytes behind the text";
    EXPECT_EQ(qz_string_count(), before + 1);
  }
}

TEST_F(Strings, ConcatUsesLengthsAndKeepsOperands) {
  struct row {
    std::string a, b, want;
  };
  const row rows[] = {
      {"ab", "cd", "abcd"},
      {"", "", ""},
      {std::string("a\0b", 3), std::string("\0c", 2), std::string("a\0b\0c", 5)},
      {"x", "", "x"},
  };
  for (const row& r : rows) {
    _qz_string* a = qz_string_alloc_n(r.a.data(), r.a.size());
    _qz_string* b = qz_string_alloc_n(r.b.data(), r.b.size());
    _qz_string* c = qz_string_concat(a, b);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(text_of(c), r.want);
    EXPECT_EQ(text_of(a), r.a);
    EXPECT_EQ(text_of(b), r.b);
    EXPECT_EQ(a->refcount, 1u);
    EXPECT_EQ(b->refcount, 1u);
  }
}

TEST_F(Strings, ConcatWithTextOperand) {
  _qz_string* a = qz_string_alloc("ab");
  _qz_string* c = qz_string_concat(a, "cd");
  EXPECT_EQ(text_of(c), "abcd");
  EXPECT_EQ(qz_string_count(), 3u) << "the operand made from the text is listed too";
  EXPECT_EQ(text_of(qz_string_concat(a, static_cast<const char*>(nullptr))), "abqz_invalid_string");
  EXPECT_EQ(qz_string_concat(nullptr, "cd"), nullptr);
  EXPECT_EQ(qz_string_concat(a, static_cast<_qz_string*>(nullptr)), nullptr);
  EXPECT_EQ(qz_string_concat(static_cast<_qz_string*>(nullptr), a), nullptr);
  qz_string_free_all();
  EXPECT_EQ(qz_string_count(), 0u);
}

// Results longer than the cap are never built; the forged lengths below
// would wrap a careless size computation.
TEST_F(Strings, SizeCapYieldsInvalidText) {
  struct fake {
    unsigned long length, refcount;
    char text[8];
  };
  fake huge{ULONG_MAX, 1, {0}};
  fake half{(ULONG_MAX / 2) + 1, 1, {0}};
  fake at_cap{QZ_MAX_STRING_LENGTH, 1, {0}};
  _qz_string* one = qz_string_alloc("x");
  struct row {
    _qz_string* a;
    _qz_string* b;
  };
  const row rows[] = {
      {reinterpret_cast<_qz_string*>(&huge), one},
      {one, reinterpret_cast<_qz_string*>(&huge)},
      {reinterpret_cast<_qz_string*>(&half), reinterpret_cast<_qz_string*>(&half)},
      {reinterpret_cast<_qz_string*>(&at_cap), one},
  };
  for (const row& r : rows) {
    _qz_string* c = qz_string_concat(r.a, r.b);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(text_of(c), "qz_invalid_string");
  }
  EXPECT_EQ(text_of(qz_string_alloc_n("", QZ_MAX_STRING_LENGTH + 1)), "qz_invalid_string");
}

TEST_F(Strings, CapItselfIsReachable) {
  std::string half(QZ_MAX_STRING_LENGTH / 2, 'a');
  _qz_string* a = qz_string_alloc(half.c_str());
  _qz_string* full = qz_string_concat(a, a);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->length, QZ_MAX_STRING_LENGTH);
  EXPECT_EQ(full->text[QZ_MAX_STRING_LENGTH - 1], 'a');
  EXPECT_EQ(text_of(qz_string_concat(full, "b")), "qz_invalid_string");
  std::string over(QZ_MAX_STRING_LENGTH + 1, 'z');
  EXPECT_EQ(text_of(qz_string_alloc(over.c_str())), "qz_invalid_string");
}

TEST_F(Strings, ReferenceCounting) {
  rt_fault_scope faults;
  _qz_string* s = qz_string_alloc("v");
  qz_reference_string(qz_reference_string(s));
  EXPECT_EQ(s->refcount, 3u);
  // Strings live until the bulk release: neither call below frees one.
  qz_dereference_string(s);
  qz_string_free(s);
  EXPECT_EQ(s->refcount, 3u);
  EXPECT_EQ(qz_string_count(), 1u);
  EXPECT_TRUE(rt_faults().empty());
  EXPECT_EQ(qz_reference_string(nullptr), nullptr);
  ASSERT_EQ(rt_faults().size(), 1u);
  EXPECT_EQ(rt_faults()[0],
            (rt_fault{"engine/interpreter/qz_string_impl", 86, "qz_reference_string str为NULL"}));
}

}  // namespace
