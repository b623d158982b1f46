// Runtime strings: creation, concatenation by length, lifetime until the bulk
// release, and the size cap that no computation may wrap around.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"
#include "support/rt_fault_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string text_of(const _qz_string* s) { return s ? std::string(s->text, s->length) : "<null>"; }
_qz_string* make(const std::string& s) { return qz_string_alloc_n(s.data(), s.size()); }

class Strings : public ::testing::Test {
 protected:
  void SetUp() override { qz_string_free_all(); }
  void TearDown() override { qz_string_free_all(); }
};

// n < 0 makes the string with qz_string_alloc, otherwise with qz_string_alloc_n.
TEST_F(Strings, AllocCopiesTextWithZerosBehind) {
  const struct {
    const char* in;
    long n;
    std::string want;
  } rows[] = {
      {"", -1, ""},
      {nullptr, -1, "qz_invalid_string"},
      {"abc\0def", 7, std::string("abc\0def", 7)},
      {"abc", 2, "ab"},
      {nullptr, 3, "qz_invalid_string"},
  };
  for (const auto& r : rows) {
    _qz_string* s = r.n < 0 ? qz_string_alloc(r.in) : qz_string_alloc_n(r.in, r.n);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(text_of(s), r.want);
    for (int i = 0; i < 8; i++)
      EXPECT_EQ(s->text[s->length + i], 0) << "zero bytes behind the text";
  }
  EXPECT_EQ(qz_string_count(), 5u);
}

// Results longer than the cap are never built; the forged lengths below
// would wrap a careless size computation.
TEST_F(Strings, SizeCapYieldsInvalidText) {
  struct fake {
    unsigned long length, refcount;
    char text[8];
  };
  fake huge{ULONG_MAX, 1, {0}}, half{(ULONG_MAX / 2) + 1, 1, {0}},
      at_cap{QZ_MAX_STRING_LENGTH, 1, {0}};
  auto* h = reinterpret_cast<_qz_string*>(&huge);
  auto* hf = reinterpret_cast<_qz_string*>(&half);
  _qz_string* one = make("x");
  const std::pair<_qz_string*, _qz_string*> rows[] = {
      {h, one}, {one, h}, {hf, hf}, {reinterpret_cast<_qz_string*>(&at_cap), one}};
  for (const auto& r : rows)
    EXPECT_EQ(text_of(qz_string_concat(r.first, r.second)), "qz_invalid_string");
  EXPECT_EQ(text_of(qz_string_alloc_n("", QZ_MAX_STRING_LENGTH + 1)), "qz_invalid_string");

  // The cap itself is reachable.
  _qz_string* half_cap = make(std::string(QZ_MAX_STRING_LENGTH / 2, 'a'));
  _qz_string* full = qz_string_concat(half_cap, half_cap);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->length, QZ_MAX_STRING_LENGTH);
  EXPECT_EQ(full->text[QZ_MAX_STRING_LENGTH - 1], 'a');
  EXPECT_EQ(text_of(qz_string_concat(full, "b")), "qz_invalid_string");
}

TEST_F(Strings, OnlyTheBulkReleaseFreesAString) {
  rt_fault_scope faults;
  _qz_string* s = qz_string_alloc("v");
  qz_reference_string(qz_reference_string(s));
  qz_dereference_string(s);
  qz_string_free(s);
  EXPECT_EQ(s->refcount, 3u);
  EXPECT_EQ(qz_string_count(), 1u);
  EXPECT_TRUE(rt_faults.empty());
  EXPECT_EQ(qz_reference_string(nullptr), nullptr);
  EXPECT_EQ(rt_faults,
            rt_fault_list{"engine/interpreter/qz_string_impl:86:qz_reference_string str为NULL"});
  qz_string_free_all();
  EXPECT_EQ(qz_string_count(), 0u);
}

}  // namespace
