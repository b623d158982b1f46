// Runtime strings: creation, concatenation by length, lifetime until the bulk
// release, and the size cap that no computation may wrap around; and, seen
// from scripts, that ".=" never changes a text some other value still holds.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"
#include "support/rt_fault_capture.h"
#include "support/scan_record.h"

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

TEST_F(Strings, ConcatKeepsInnerZerosByLength) {
  const struct {
    std::string a, b;
  } rows[] = {
      {std::string("a\0b", 3), std::string("\0c", 2)},
      {std::string("\0", 1), ""},
      {"", std::string("\0\0", 2)},
  };
  for (const auto& r : rows) {
    _qz_string* s = qz_string_concat(make(r.a), make(r.b));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(text_of(s), r.a + r.b);
    for (int i = 0; i < 8; i++) EXPECT_EQ(s->text[s->length + i], 0);
  }
}

using Appends = scan_record::EngineTest;

// Every value that took a variable's text before a ".=" keeps that text:
// another variable, an array item, a function's parameter or result, the
// value of the ".=" expression itself. Rows append to a text that ".=" made,
// so a text grown in place would show through.
TEST_F(Appends, CopiesTakenBeforeAnAppendKeepTheirText) {
  const unsigned long options = QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_BINARY_SAFE |
                                QZ_OPT_LIMIT_FINDINGS | QZ_OPT_MEMORY_BUDGET |
                                QZ_OPT_INTERPRETER_REACH;
  const std::string sixteenth(QZ_MAX_STRING_LENGTH / 16, 'n');
  const struct {
    const char* what;
    std::string script;
    std::vector<std::string> events;
  } rows[] = {
      {"assigned literal", "<?php $a = 'x'; $b = $a; $a .= 'y'; f($a, $b);", {"1:f:0(xy|x)"}},
      {"assigned appended text",
       "<?php $a = 'x'; $a .= 'y'; $b = $a; $a .= 'z'; f($a, $b);",
       {"1:f:0(xyz|xy)"}},
      {"the copy appends",
       "<?php $a = 'a'; $a .= 'b'; $b = $a; $b .= 'c'; f($a, $b);",
       {"1:f:0(ab|abc)"}},
      {"value of the append",
       "<?php $a = 'x'; $a .= 'y'; $h = ($a .= 'z'); $a .= 'w'; f($a, $h);",
       {"1:f:0(xyzw|xyz)"}},
      {"array literal item",
       "<?php $a = 'x'; $a .= 'y'; $r = array($a); $a .= 'z'; f($r[0], $a);",
       {"1:array:0(xy)", "1:qz_array_item:0($r|)", "1:f:0(xy|xyz)"}},
      {"pushed and keyed items",
       "<?php $a = 'x'; $a .= 'y'; $r[] = $a; $r['k'] = $a; $a .= 'z'; f($r[0], $r['k'], $a);",
       {"1:qz_array_item:0($r|)", "1:qz_array_item:0($r|k)", "1:qz_array_item:0($r|)",
        "1:qz_array_item:0($r|k)", "1:f:0(xy|xy|xyz)"}},
      {"parameter appended in the callee",
       "<?php function g($p) { $p .= 'q'; f($p); } $a = 'x'; $a .= 'y'; g($a); f($a);",
       {"1:f:0(xyq)", "1:g:0(xy)", "1:f:0(xy)"}},
      {"parameter returned",
       "<?php function g($p) { return $p; } $a = 'x'; $a .= 'y'; $r = g($a); $a .= 'z'; f($r, $a);",
       {"1:g:0(xy)", "1:f:0(xy|xyz)"}},
      {"built-in results",
       "<?php $a = 'a'; $a .= 'b'; $u = strtoupper($a); $a .= 'c'; f($a, $u);",
       {"1:strtoupper:0(ab)", "1:f:0(abc|AB)"}},
      {"appending a text to itself",
       "<?php $a = 'ab'; $a .= $a; $a .= $a; f($a);",
       {"1:f:0(abababab)"}},
      // Four doublings reach the cap exactly; one byte more gives the
      // invalid-string text, while the copy taken at the cap keeps its length.
      {"the length cap",
       "<?php $f = '" + sixteenth +
           "'; $f .= $f; $f .= $f; $f .= $f; $f .= $f; $g = $f; $f .= 'x'; " +
           "$f .= 'y'; f($f, strlen($g) == " + std::to_string(QZ_MAX_STRING_LENGTH) +
           ", strlen($f));",
       {"1:qz_limit_reached:0(string_length)",
        "1:strlen:0(" + std::string(QZ_MAX_STRING_LENGTH, 'n') + ")",
        "1:strlen:0(qz_invalid_stringy)", "1:f:0(qz_invalid_stringy|/|G)"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    scan_record::Seen seen = scan_record::run(r.script, options);
    EXPECT_TRUE(seen.events == r.events) << seen.joined();
  }
}

}  // namespace
