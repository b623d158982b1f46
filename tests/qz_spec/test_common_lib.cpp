// String transforms, applied directly to tokens.

#include "qz_common_lib.h"
#include "qz_engine.h"
#include "qz_limits.h"
#include "qz_string_impl.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> faults;

void record_fault(char* file, int line, char* message) {
  faults.push_back(std::string(file) + ":" + std::to_string(line) + ":" + message);
}

class Transforms : public ::testing::Test {
 protected:
  void SetUp() override {
    faults.clear();
    qz_engine_startup();
    qz_engine_set_exception_handler(record_fault);
    qz_engine_set_options(0);
  }
  void TearDown() override {
    qz_engine_set_options(0);
    qz_engine_set_exception_handler(nullptr);
    qz_engine_release_all_resource();
    qz_engine_shutdown();
  }
};

// A token holding a runtime string of exactly the given bytes.
_qz_token* str_tok(const std::string& s, unsigned long line = 3) {
  _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
  t->value.ptr = qz_string_alloc_n(s.data(), s.size());
  return t;
}

// A token holding literal text; the text must outlive the test.
_qz_token* lit_tok(const char* s, unsigned long line = 3) {
  _qz_token* t = qz_token_alloc(TOKEN_LITERAL, TOKEN_LITERAL, line);
  t->value.ptr = const_cast<char*>(s);
  return t;
}

_qz_token* int_tok(long v) {
  _qz_token* t = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, 3);
  t->value.lval = v;
  return t;
}

// An array value: its ptr is no text and must never be read as text.
_qz_token* array_tok() {
  _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, 3);
  static char not_text[4] = {'\x7f', '\x7f', '\x7f', '\x7f'};  // no terminator on purpose
  t->value.ptr = not_text;
  return t;
}

// The bytes of a transform's STRING result.
std::string text_of(_qz_token* t) {
  if (!t || t->value.type != TOKEN_STRING || !t->value.ptr) return "<no string>";
  auto* s = static_cast<_qz_string*>(t->value.ptr);
  return std::string(s->text, s->length);
}

typedef _qz_token* (*transform_fn)(_qz_token*);

struct TransformRow {
  const char* what;
  transform_fn fn;
  std::string in;
  std::string out;
};

TEST_F(Transforms, TextTable) {
  const std::vector<TransformRow> rows = {
      {"upper ascii only", qz_engine_str_to_upper, "abc$_post_data\xc3\xa9", "ABC$_POST_DATA\xc3\xa9"},
      {"lower", qz_engine_str_to_lower, "$_POST_DATA Eval", "$_post_data eval"},
      {"rot13 both cases", qz_engine_str_rot13, "Hello, World! zZ", "Uryyb, Jbeyq! mM"},
      {"rot13 marker", qz_engine_str_rot13, "$_POST_DATA", "$_CBFG_QNGN"},
      {"strrev", qz_engine_strrev, "metsys", "system"},
      {"strrev one", qz_engine_strrev, "a", "a"},
      {"strrev empty", qz_engine_strrev, "", ""},
      {"trim both ends", qz_engine_trim, " \t ab c\t ", "ab c"},
      {"trim blanks only", qz_engine_trim, " \t\t ", ""},
      {"trim keeps newline", qz_engine_trim, "\nx\n", "\nx\n"},
      {"ltrim", qz_engine_ltrim, "  a  ", "a  "},
      {"rtrim", qz_engine_rtrim, "  a \t", "  a"},
      {"url plus stays", qz_engine_urldecode, "a+b%41", "a+bA"},
      {"url lower hex", qz_engine_urldecode, "%6a%6A", "jj"},
      {"url cut escape", qz_engine_urldecode, "ab%4", "ab"},
      {"url lone percent", qz_engine_urldecode, "100%", "100"},
      {"url bad both", qz_engine_urldecode, "%zz", "\xef"},
      {"url bad low", qz_engine_urldecode, "%4g", "?"},
      {"url bad high", qz_engine_urldecode, "%g4", "\xf4"},
      {"url nul ends", qz_engine_urldecode, "x%00y", "x"},
      {"url marker", qz_engine_urldecode, "$_GET_DATA", "$_GET_DATA"},
      {"b64enc one", qz_engine_b64encode, "a", "YQ=="},
      {"b64enc two", qz_engine_b64encode, "ab", "YWI="},
      {"b64enc three", qz_engine_b64encode, "abc", "YWJj"},
      {"b64enc empty", qz_engine_b64encode, "", ""},
      {"b64enc high bytes", qz_engine_b64encode, "\xff\xfe", "//4="},
      {"b64dec padded", qz_engine_b64decode, "aGVsbG8=", "hello"},
      {"b64dec space stops", qz_engine_b64decode, "aGVs bG8=", "hel"},
      {"b64dec newline stops", qz_engine_b64decode, "aGVs\nbG8=", "hel"},
      {"b64dec unpadded 2", qz_engine_b64decode, "YQ", "a"},
      {"b64dec unpadded 3", qz_engine_b64decode, "YWI", "ab"},
      {"b64dec lone char", qz_engine_b64decode, "Y", "qz_decoded"},
      {"b64dec only pads", qz_engine_b64decode, "====", "qz_decoded"},
      {"b64dec zero bytes", qz_engine_b64decode, "AAAA", ""},
      {"b64dec marker", qz_engine_b64decode, "$_POST_DATA", "qz_decoded"},
      {"b64dec invalid text", qz_engine_b64decode, "cXpfaW52YWxpZF9zdHJpbmc=", "qz_decoded"},
      {"b64dec high byte stops", qz_engine_b64decode, "YWJj\xc3YWJj", "abc"},
      {"b64dec alphabet ends", qz_engine_b64decode, "+/+/", "\xfb\xff\xbf"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    _qz_token* res = row.fn(str_tok(row.in, 9));
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->type, TOKEN_WORD);
    EXPECT_EQ(res->lineno, 9u);
    EXPECT_EQ(text_of(res), row.out);
    // The same text as a literal gives the same result.
    std::string copy = row.in;
    EXPECT_EQ(text_of(row.fn(lit_tok(copy.c_str()))), row.out);
  }
}

TEST_F(Transforms, ResultNeverSharesTheArgumentsText) {
  _qz_token* arg = str_tok("abc");
  _qz_token* res = qz_engine_strrev(arg);
  EXPECT_NE(res->value.ptr, arg->value.ptr);
  EXPECT_EQ(text_of(arg), "abc");
}

TEST_F(Transforms, ValuesWithoutTextYieldTheInvalidString) {
  const std::vector<std::pair<const char*, transform_fn>> fns = {
      {"upper", qz_engine_str_to_upper}, {"lower", qz_engine_str_to_lower},
      {"rot13", qz_engine_str_rot13},    {"strrev", qz_engine_strrev},
      {"url", qz_engine_urldecode},      {"b64enc", qz_engine_b64encode},
      {"trim", qz_engine_trim},          {"ltrim", qz_engine_ltrim},
      {"rtrim", qz_engine_rtrim},        {"b64dec", qz_engine_b64decode},
  };
  for (const auto& fn : fns) {
    SCOPED_TRACE(fn.first);
    EXPECT_EQ(text_of(fn.second(array_tok())), "qz_invalid_string");
    _qz_token* null_string = str_tok("x");
    null_string->value.ptr = nullptr;
    if (fn.second != qz_engine_b64decode) {
      EXPECT_EQ(text_of(fn.second(null_string)), "qz_invalid_string");
      EXPECT_EQ(text_of(fn.second(int_tok(5))), "qz_invalid_string");
    }
  }
}

TEST_F(Transforms, Base64DecodeFallsBackToTheTokenName) {
  _qz_token* named = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
  char name[] = "aGk";  // the name of an unset word: decoded as text
  named->name = name;
  EXPECT_EQ(text_of(qz_engine_b64decode(named)), "hi");
  named->name = nullptr;
  EXPECT_EQ(text_of(qz_engine_b64decode(named)), "qz_decoded");
}

TEST_F(Transforms, LengthAndArrayTest) {
  _qz_token* binary = str_tok(std::string("a\0b", 3));
  EXPECT_EQ(qz_engine_str_len(binary)->value.lval, 3);  // the recorded length
  EXPECT_EQ(qz_engine_str_len(lit_tok("hello"))->value.lval, 5);
  EXPECT_EQ(qz_engine_str_len(int_tok(12345))->value.lval, 0);
  EXPECT_EQ(qz_engine_str_len(array_tok())->value.lval, 0);
  EXPECT_EQ(qz_engine_str_len(binary)->value.type, TOKEN_INTEGER);

  EXPECT_EQ(qz_engine_is_array(array_tok())->value.lval, 1);
  EXPECT_EQ(qz_engine_is_array(lit_tok("x"))->value.lval, 0);
  _qz_token* through_ref = lit_tok("x");
  _qz_value stored = {};
  stored.type = TOKEN_ARRAY;
  through_ref->ref = &stored;
  EXPECT_EQ(qz_engine_is_array(through_ref)->value.lval, 1);
}

TEST_F(Transforms, Rot13CutUnlessFullDecoding) {
  std::string long_text(1500, 'a');
  EXPECT_EQ(text_of(qz_engine_str_rot13(str_tok(long_text))), std::string(999, 'n'));
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  EXPECT_EQ(text_of(qz_engine_str_rot13(str_tok(long_text))), std::string(1500, 'n'));
}

struct ReplaceRow {
  std::string subject, search, replace, out;
};

TEST_F(Transforms, ReplaceTable) {
  const std::vector<ReplaceRow> rows = {
      {"aaa", "aa", "b", "ba"},
      {"abc", "", "x", "abc"},
      {"$_POST_DATA", "POST", "GET", "$_GET_DATA"},
      {"abab", "ab", "abab", "abababab"},  // the replacement is not searched again
      {"", "a", "b", ""},
      {"abc", "abcd", "x", "abc"},
      {"xyzyx", "y", "", "xzx"},
      {"s#y#s#t#e#m", "#", "", "system"},
      {"aaaa", "a", "aa", "aaaaaaaa"},
      {"aabaabaaab", "aaab", "X", "aabaabX"},  // partial matches fall back correctly
      {"abcabcabd", "abcabd", "-", "abc-"},
      {"aaaa", "aaa", "b", "ba"},
      {"xabababx", "abab", "_", "x_abx"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.subject + " / " + r.search + " / " + r.replace);
    _qz_token* res = qz_engine_str_replace(str_tok(r.subject, 4), lit_tok(r.search.c_str()),
                                           str_tok(r.replace));
    EXPECT_EQ(text_of(res), r.out);
    EXPECT_EQ(res->lineno, 4u);
  }
  EXPECT_TRUE(faults.empty());
}

TEST_F(Transforms, ReplaceRefusesArgumentsWithoutText) {
  _qz_token* none = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
  _qz_token* null_lit = lit_tok(nullptr);
  struct Row {
    const char* what;
    _qz_token *subject, *search, *replace;
  } rows[] = {
      {"array search", str_tok("abc"), array_tok(), str_tok("x")},
      {"array replace", str_tok("abc"), str_tok("b"), array_tok()},
      {"integer subject", int_tok(7), str_tok("b"), str_tok("x")},
      {"unset search", str_tok("abc"), none, str_tok("x")},
      {"null literal replace", str_tok("abc"), str_tok("b"), null_lit},
      {"missing search", str_tok("abc"), nullptr, str_tok("x")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(text_of(qz_engine_str_replace(r.subject, r.search, r.replace)),
              "qz_invalid_string");
  }
  // An integer search without a pointer is taken by its name.
  _qz_token* digit = int_tok(1);
  char one[] = "1";
  digit->name = one;
  EXPECT_EQ(text_of(qz_engine_str_replace(str_tok("a1b1"), digit, str_tok("-"))), "a-b-");
}

TEST_F(Transforms, ReplaceBeyondTheStringCapIsRefusedAndReported) {
  // 8 MiB of "a" doubled is exactly the cap: built.
  std::string half(QZ_MAX_STRING_LENGTH / 2, 'a');
  _qz_token* res = qz_engine_str_replace(str_tok(half), lit_tok("a"), lit_tok("bb"));
  auto* s = static_cast<_qz_string*>(res->value.ptr);
  ASSERT_EQ(s->length, QZ_MAX_STRING_LENGTH);
  EXPECT_EQ(s->text[s->length - 1], 'b');
  EXPECT_TRUE(faults.empty());
  // One byte more is refused with the allocation fault, never a short buffer.
  half.push_back('a');
  res = qz_engine_str_replace(str_tok(half), lit_tok("a"), lit_tok("bb"));
  EXPECT_EQ(text_of(res), "qz_invalid_string");
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0], "engine/qz_spec/qz_common_lib:235:malloc_replace 返回NULL");
}

// Compresses text with zlib in the given framing (window bits as inflate takes them).
std::string compress_with(const std::string& text, int window_bits) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

TEST_F(Transforms, GzFamilyAnswersWithTheMarkerByDefault) {
  std::string packed = compress_with("system($_GET['c']);", -15);
  for (transform_fn fn : {qz_engine_gzinflate, qz_engine_gzuncompress, qz_engine_gzdecode,
                          qz_engine_gzdeflate, qz_engine_gzencode}) {
    EXPECT_EQ(text_of(fn(str_tok(packed))), "qz_decoded");
    EXPECT_EQ(text_of(fn(int_tok(1))), "qz_decoded");
  }
  EXPECT_EQ(qz_engine_gzcompress(str_tok("x")), nullptr);
}

TEST_F(Transforms, FullDecodingInflatesEachFraming) {
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  const std::string payload = "<?php system($_GET['c']); ?>";
  struct Row {
    const char* what;
    transform_fn fn;
    int framing;
    bool matches;
  } rows[] = {
      {"raw deflate", qz_engine_gzinflate, -15, true},
      {"zlib", qz_engine_gzuncompress, 15, true},
      {"gzip", qz_engine_gzdecode, 31, true},
      {"zlib given to gzinflate", qz_engine_gzinflate, 15, false},
      {"raw given to gzuncompress", qz_engine_gzuncompress, -15, false},
      {"raw given to gzdecode", qz_engine_gzdecode, -15, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string got = text_of(r.fn(str_tok(compress_with(payload, r.framing))));
    EXPECT_EQ(got, r.matches ? payload : std::string("qz_decoded"));
  }
  EXPECT_EQ(text_of(qz_engine_gzinflate(str_tok("not deflate at all"))), "qz_decoded");
  EXPECT_EQ(text_of(qz_engine_gzinflate(str_tok(""))), "qz_decoded");
  EXPECT_EQ(text_of(qz_engine_gzinflate(array_tok())), "qz_decoded");
  // A stream cut short keeps what it produced.
  std::string big(4000, 'x');
  for (int i = 0; i < 4000; i += 7) big[i] = static_cast<char>('a' + i % 26);
  std::string packed = compress_with(big, -15);
  std::string cut = text_of(qz_engine_gzinflate(str_tok(packed.substr(0, packed.size() / 2))));
  ASSERT_NE(cut, "qz_decoded");
  EXPECT_EQ(big.compare(0, cut.size(), cut), 0);
}

TEST_F(Transforms, FullDecodingKeepsBinaryBase64AndStopsBombs) {
  // Without full decoding a decoded NUL ends the text; with it the bytes stay.
  EXPECT_EQ(text_of(qz_engine_b64decode(str_tok("YQBi"))), "a");
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  EXPECT_EQ(text_of(qz_engine_b64decode(str_tok("YQBi"))), std::string("a\0b", 3));
  // Binary text is replaced by its recorded length.
  EXPECT_EQ(text_of(qz_engine_str_replace(str_tok(std::string("a\0b\0b", 5)),
                                          str_tok(std::string("\0b", 2)), str_tok("c"))),
            "acc");

  // 32 MiB of zeros inflate past the cap: stopped, the marker stands in.
  std::string zeros(2 * QZ_MAX_STRING_LENGTH, '\0');
  std::string bomb = compress_with(zeros, -15);
  zeros.clear();
  zeros.shrink_to_fit();
  ASSERT_LT(bomb.size(), 100000u);
  EXPECT_EQ(text_of(qz_engine_gzinflate(str_tok(bomb))), "qz_decoded");
}

TEST_F(Transforms, TextUtilities) {
  char mixed[] = "aBc1Z";
  EXPECT_STREQ(strupr(mixed), "ABC1Z");
  EXPECT_STREQ(strlwr(mixed), "abc1z");
  char odd[] = "abcde", even[] = "ab", empty[] = "";
  EXPECT_STREQ(__strrev(odd), "edcba");
  EXPECT_STREQ(__strrev(even), "ba");
  EXPECT_STREQ(__strrev(empty), "");
  EXPECT_STREQ(__strrev(nullptr), "");

  char dst[8] = {};
  char src[] = "abcdef";
  qz_safe_str_copy(dst, 3, src);
  EXPECT_STREQ(dst, "abc");
  char dst2[8] = {};
  char shortsrc[] = "xy";
  qz_safe_str_copy(dst2, 6, shortsrc);
  EXPECT_STREQ(dst2, "xy");

  struct {
    const char *text, *search;
    unsigned long count;
  } counts[] = {{"aaa", "aa", 1}, {"abab", "ab", 2}, {"x", "", 0}, {"", "a", 0}, {"aaaa", "aa", 2},
                {"abababab", "abab", 2}, {"aabaaab", "aab", 2}, {"xaaay", "aay", 1}};
  for (const auto& c : counts) {
    EXPECT_EQ(_count_string(const_cast<char*>(c.text), const_cast<char*>(c.search)), c.count)
        << c.text << " / " << c.search;
  }

  char subject[] = "one two one", search[] = "one", repl[] = "1";
  char* out = malloc_replace(subject, search, repl);
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out, "1 two 1");
  free(out);
  EXPECT_FALSE(IsBadReadPtr(subject, 1));
}

}  // namespace
