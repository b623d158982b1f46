// Runtime strings: creation, concatenation by length, lifetime until the bulk
// release, and the size cap that no computation may wrap around; and, seen
// from scripts, that ".=" never changes a text some other value still holds.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_mempool.h"
#include "runtime/qz_string.h"
#include "support/budget_scope.h"
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

// Texts are kept by length, inner zeros included, with zeros behind them; a
// null text gives the invalid-string text.
TEST_F(Strings, TextsKeepTheirBytesWithZerosBehind) {
  const std::string a0b("a\0b", 3), z("\0", 1), zc("\0c", 2), zz("\0\0", 2);
  const std::pair<_qz_string*, std::string> rows[] = {
      {qz_string_alloc(""), ""},
      {qz_string_alloc(nullptr), "qz_invalid_string"},
      {qz_string_alloc_n("abc\0def", 7), std::string("abc\0def", 7)},
      {qz_string_alloc_n("abc", 2), "ab"},
      {qz_string_alloc_n(nullptr, 3), "qz_invalid_string"},
      {qz_string_concat(make(a0b), make(zc)), a0b + zc},
      {qz_string_concat(make(z), make("")), z},
      {qz_string_concat(make(""), make(zz)), zz},
  };
  for (size_t row = 0; row < std::size(rows); row++) {
    SCOPED_TRACE(row);
    const auto& [s, want] = rows[row];
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(text_of(s), want);
    for (int i = 0; i < 8; i++)
      EXPECT_EQ(s->text[s->length + i], 0) << "zero bytes behind the text";
  }
  EXPECT_EQ(qz_string_count(), 5u + 3 * 3);
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

// The collector's set of held addresses: repeats and null add nothing, and
// every address added stays found however far the table grew, while
// neighbours of the added addresses (same block, one byte off) are not.
TEST(StringLive, HoldsExactlyTheAddressesAdded) {
  static char block[4096];
  for (size_t n : {1ul, 31ul, 32ul, 33ul, 1000ul}) {
    SCOPED_TRACE(n);
    qz_string_live live;
    if (n == 1000) live.reserve(10);  // grows past its reservation
    live.insert(nullptr);
    for (size_t i = 0; i < n; i++) live.insert(block + 4 * i);
    for (size_t i = 0; i < n; i += 2) live.insert(block + 4 * i);
    EXPECT_EQ(live.size(), n);
    EXPECT_FALSE(live.contains(nullptr));
    for (size_t i = 0; i < n; i++) {
      ASSERT_TRUE(live.contains(block + 4 * i)) << i;
      ASSERT_FALSE(live.contains(block + 4 * i + 1)) << i;
    }
    EXPECT_FALSE(live.contains(block + 4 * n));
  }
}

// An owner's first append makes an exact text of its own, the second keeps
// room behind it, and later ones grow that text in place, zeros kept behind,
// inner NULs and self-appends included, up to the length cap exactly. A text
// another owner, no owner or a second holder appends to is left as it was.
TEST_F(Strings, AppendGrowsOnlyAnUnsharedTextOfItsOwner) {
  int owner = 0, other = 0;
  const std::string nul("n\0l", 3);
  _qz_string* base = make("ab");
  _qz_string* first = qz_string_append(base, make(nul), &owner);
  _qz_string* second = qz_string_append(first, make("c"), &owner);
  _qz_string* third = qz_string_append(second, second, &owner);
  EXPECT_NE(first, base);
  EXPECT_NE(second, first);
  EXPECT_EQ(third, second) << "room kept by the second append";
  EXPECT_EQ(text_of(base), "ab");
  EXPECT_EQ(text_of(first), "ab" + nul);
  EXPECT_EQ(text_of(third), "ab" + nul + "c" + "ab" + nul + "c");
  for (int i = 0; i < 8; i++) EXPECT_EQ(third->text[third->length + i], 0);

  const struct {
    const char* what;
    const void* owner;
    bool referenced;
  } rows[] = {{"another owner", &other, false},
              {"no owner", nullptr, false},
              {"a second holder", &owner, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.referenced) qz_reference_string(third);
    const std::string before = text_of(third);
    _qz_string* out = qz_string_append(third, make("x"), r.owner);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out, third);
    EXPECT_EQ(text_of(third), before);
    EXPECT_EQ(text_of(out), before + "x");
  }

  // Room never passes the cap; the cap is reached in place, one more byte
  // gives the invalid-string text and leaves the text whole.
  _qz_string* half = make(std::string(QZ_MAX_STRING_LENGTH / 2, 'n'));
  _qz_string* big = qz_string_append(qz_string_append(half, make("n"), &owner), make("n"), &owner);
  _qz_string* full =
      qz_string_append(big, make(std::string(QZ_MAX_STRING_LENGTH / 2 - 2, 'n')), &owner);
  EXPECT_EQ(full, big);
  ASSERT_EQ(full->length, QZ_MAX_STRING_LENGTH);
  unsigned long refused = qz_string_refused_long();
  EXPECT_EQ(text_of(qz_string_append(full, make("x"), &owner)), "qz_invalid_string");
  EXPECT_EQ(qz_string_refused_long(), refused + 1);
  EXPECT_EQ(full->length, QZ_MAX_STRING_LENGTH);
  EXPECT_EQ(full->text[QZ_MAX_STRING_LENGTH], 0);
}

// The room an append keeps takes at most its share of what the scan's budget
// has left; an append the budget refuses gives null, noted as the budget's,
// and leaves the text as it was.
TEST_F(Strings, AppendRoomStaysInsideTheBudget) {
  budget_scope restore_globals;
  int owner = 0, probe = 0;
  _qz_string* first = qz_string_append(make(std::string(100, 'a')), make("c"), &owner);
  _qz_string *d = make("d"), *ten = make(std::string(10, 'b')), *z = make("z");
  qz_scan_memory_budget = 1ul << 40;
  qz_scan_memory_used = 0;
  ASSERT_NE(qz_string_append(first, d, &probe), nullptr);
  const unsigned long exact = qz_scan_memory_used;  // one exact block for 102 bytes

  qz_scan_memory_used = 0;
  qz_scan_memory_budget = exact + 10 * QZ_STRING_APPEND_BUDGET_SHARE;
  _qz_string* second = qz_string_append(first, d, &owner);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(qz_scan_memory_used, exact + 10) << "room for ten more bytes";
  EXPECT_EQ(qz_string_append(second, ten, &owner), second);
  EXPECT_EQ(qz_engine_scan_flags & QZ_SCAN_MEMORY_BUDGET, 0ul);
  EXPECT_EQ(qz_string_append(second, z, &owner), nullptr);
  EXPECT_NE(qz_engine_scan_flags & QZ_SCAN_MEMORY_BUDGET, 0ul);
  EXPECT_EQ(text_of(second), std::string(100, 'a') + "cd" + std::string(10, 'b'));
}

// Strings made here outside a scan are freed with the test: a string an
// append made is listed by a pointer inside its block, which a leak checker
// does not count as holding the block.
class Appends : public scan_record::EngineTest {
 protected:
  void TearDown() override {
    qz_string_free_all();
    scan_record::EngineTest::TearDown();
  }
};

// A token's copies hold its text until they are released; releasing a slot
// twice gives up one hold, and releasing a local list head (outside the pool,
// never counted) gives up none.
TEST_F(Appends, ReleasedCopiesStopHoldingAText) {
  _qz_token* var = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
  ASSERT_NE(var, nullptr);
  _qz_string* s = qz_string_append(qz_string_append(make("a"), make("b"), var), make("c"), var);
  var->value.type = TOKEN_STRING;
  var->value.ptr = s;
  _qz_token* c1 = qz_token_clone(var);
  _qz_token* c2 = qz_token_clone(var);
  _qz_token head{};
  head.value.type = TOKEN_STRING;
  head.value.ptr = s;
  auto grows_in_place = [&] { return qz_string_append(s, make("d"), var) == s; };

  EXPECT_FALSE(grows_in_place()) << "held by two clones";
  qz_token_free(c1);
  qz_token_free(c1);
  qz_token_free(&head);
  EXPECT_FALSE(grows_in_place()) << "still held by one clone";
  qz_token_free(c2);
  EXPECT_TRUE(grows_in_place());
  EXPECT_EQ(text_of(s), "abcd");
}

// Every value that took a variable's text before a ".=" keeps that text:
// another variable, an array item, a function's parameter or result, the
// value of the ".=" expression itself. Rows append twice before the copy is
// taken: the second append keeps room behind the text, so the append after
// the copy would grow the copy's text in place if the copy went unnoticed.
// A chain of "." grows one text in place too: the result of each "." becomes
// the next one's left operand, and every value that took a text on the way,
// and the operands themselves, keep the text they had.
TEST_F(Appends, TextsTakenBeforeTheyGrowKeepTheirText) {
  const std::string sixteenth(QZ_MAX_STRING_LENGTH / 16, 'n');
  std::string long_chain = "<?php $i = 7; $h = ''";
  std::string long_text;
  for (int n = 0; n < 300; n++) {
    long_chain += " . '<li>' . $i . '</li>'";
    long_text += "<li>7</li>";
  }
  long_chain += "; f($h);";
  const struct {
    const char* what;
    std::string script;
    std::vector<std::string> events;
  } rows[] = {
      {"assigned literal", "<?php $a = 'x'; $b = $a; $a .= 'y'; f($a, $b);", {"1:f:0(xy|x)"}},
      {"assigned appended text",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; $b = $a; $a .= 'z'; f($a, $b);",
       {"1:f:0(xyyz|xyy)"}},
      {"the copy appends",
       "<?php $a = 'a'; $a .= 'b'; $a .= 'b'; $b = $a; $b .= 'c'; $a .= 'd'; f($a, $b);",
       {"1:f:0(abbd|abbc)"}},
      {"value of the append",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; $h = ($a .= 'z'); $a .= 'w'; f($a, $h);",
       {"1:f:0(xyyzw|xyyz)"}},
      {"array literal item",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; $r = array($a); $a .= 'z'; f($r[0], $a);",
       {"1:array:0(xyy)", "1:qz_array_item:0($r|)", "1:f:0(xyy|xyyz)"}},
      {"pushed and keyed items",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; $r[] = $a; $r['k'] = $a; $a .= 'z'; "
       "f($r[0], $r['k'], $a);",
       {"1:qz_array_item:0($r|)", "1:qz_array_item:0($r|k)", "1:qz_array_item:0($r|)",
        "1:qz_array_item:0($r|k)", "1:f:0(xyy|xyy|xyyz)"}},
      {"parameter appended in the callee",
       "<?php function g($p) { $p .= 'q'; $p .= 'q'; $p .= 'q'; f($p); } $a = 'x'; $a .= 'y'; "
       "$a .= 'y'; g($a); $a .= 'z'; f($a);",
       {"1:f:0(xyyqqq)", "1:g:0(xyy)", "1:f:0(xyyz)"}},
      {"parameter returned",
       "<?php function g($p) { return $p; } $a = 'x'; $a .= 'y'; $a .= 'y'; $r = g($a); "
       "$a .= 'z'; f($r, $a);",
       {"1:g:0(xyy)", "1:f:0(xyy|xyyz)"}},
      {"built-in results",
       "<?php $a = 'a'; $a .= 'b'; $a .= 'b'; $u = strtoupper($a); $t = trim($a); $a .= 'c'; "
       "f($a, $u, $t);",
       {"1:strtoupper:0(abb)", "1:trim:0(abb)", "1:f:0(abbc|ABB|abb)"}},
      {"appending a text to itself",
       "<?php $a = 'ab'; $a .= $a; $a .= $a; $a .= $a; f($a);",
       {"1:f:0(abababababababab)"}},
      {"second array literal item",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; $r = array($a, $a); $a .= 'z'; f($r[1], $a);",
       {"1:array:0(xyy|xyy)", "1:qz_array_item:0($r|/)", "1:f:0(xyy|xyyz)"}},
      {"text used as an array key",
       "<?php $v = 'v'; $k = 'a'; $k .= 'b'; $k .= 'b'; $r[$k] = $v; f($r[$k]); $k .= 'c'; "
       "f($r[$k], $k);",
       {"1:qz_array_item:0($r|abb)", "1:qz_array_item:0($r|abb)", "1:f:0(v)",
        "1:qz_array_item:0($r|abbc)", "1:f:0(qz_invalid_string|abbc)"}},
      {"ternary branch",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; $b = $c ? $a : 'q'; $a .= 'w'; f($b, $a);",
       {"1:f:0(xyy|xyyw)"}},
      {"appends between the arguments of one call",
       "<?php $a = 'x'; $a .= 'y'; $a .= 'y'; f($a, $a .= '1', $a .= '2'); g($a);",
       {"1:f:0(xyy12|xyy12|xyy12)", "1:g:0(xyy12)"}},
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
      {"a chain and a chain after it",
       "<?php $t = 'a' . 'b' . 'c'; $u = $t . 'd' . 'e' . 'f'; f($t, $u);",
       {"1:f:0(abc|abcdef)"}},
      {"assignment inside a chain",
       "<?php $a = ($b = 'x' . 'y' . 'z') . 'w' . 'v'; f($a, $b);",
       {"1:f:0(xyzwv|xyz)"}},
      {"a variable repeated",
       "<?php $v = 'ab'; $w = $v . $v . $v . $v; f($v, $w);",
       {"1:f:0(ab|abababab)"}},
      {"calls inside the chain",
       "<?php $p = 'q'; $r = strtoupper('a' . 'b' . 'c') . $p . 'd' . trim(' e ' . 'f'); "
       "f($r, $p);",
       {"1:strtoupper:0(abc)", "1:trim:0( e f)", "1:f:0(ABCqde f|q)"}},
      {"a chain appended, then copied",
       "<?php $s = 'p'; $s .= 'q' . 'r' . 's' . 't'; $c = $s; $s .= 'u' . 'v' . 'w'; f($s, $c);",
       {"1:f:0(pqrstuvw|pqrst)"}},
      {"chains in both branches of a choice",
       "<?php $b = $c ? 'x' . 'y' . 'z' : 'q' . 'r' . 's'; $d = $b . '1' . '2' . '3'; f($b, $d);",
       {"1:f:0(xyz|xyz123)"}},
      {"a long chain", long_chain, {"1:f:0(" + long_text + ")"}},
  };
  const unsigned long options = QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_BINARY_SAFE |
                                QZ_OPT_LIMIT_FINDINGS | QZ_OPT_MEMORY_BUDGET |
                                QZ_OPT_INTERPRETER_REACH;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    scan_record::Seen seen = scan_record::run(r.script, options);
    EXPECT_TRUE(seen.events == r.events) << seen.joined();
  }
}

// A function walked at the end of the scan (never called) binds its
// parameters over variables and gives them their texts back afterwards.
// Meanwhile a text lives only in the walk's saved values, so it must survive
// the collection that a later parameter's default sets off (and the text
// that default makes next, which may take its place in memory); the second
// walk reads it.
TEST_F(Appends, TextsSavedByAFunctionWalkSurviveACollection) {
  const unsigned long options =
      QZ_OPT_EXTENDED_TAGS | QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH;
  // Two halves of the collection step make the default's text set off a
  // collection; the 22 bytes after it ask for a block the size of "keepme".
  const std::string script =
      "<?php $half = str_repeat('x', " + std::to_string(QZ_RECLAIM_MIN_STEP / 2) +
      "); $p = 'keep'; $p .= 'me'; function a($p = 0, $q = $half . $half . ('" +
      std::string(22, 'A') + "' . '')) { g(strlen($q)); } " + "function b() { f($p); }";
  scan_record::Seen seen = scan_record::run(script, options);
  ASSERT_FALSE(seen.events.empty());
  EXPECT_EQ(seen.events.back(), "1:f:0(keepme)") << seen.joined();
}

}  // namespace
