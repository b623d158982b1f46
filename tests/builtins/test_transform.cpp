// String transforms, applied directly to tokens.

#include "builtins/php_lib_text.h"
#include "builtins/qz_transform.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"
#include "support/rt_fault_capture.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::deflate_with;
using scan_record::str_tok;
using scan_record::text_of;

class Transforms : public scan_record::RuntimeTest {
 protected:
  rt_fault_scope faults;
};

_qz_token* tok(_token_type type, void* ptr, long lval = 0, unsigned long line = 3) {
  _qz_token* t = qz_token_alloc(TOKEN_WORD, type, line);
  t->value.ptr = ptr;
  t->value.lval = lval;
  return t;
}
_qz_token* lit_tok(const char* s) { return tok(TOKEN_LITERAL, const_cast<char*>(s)); }
// An array value: its ptr is no text (no terminator) and must never be read as text.
_qz_token* array_tok() {
  static char not_text[4] = {'\x7f', '\x7f', '\x7f', '\x7f'};
  return tok(TOKEN_ARRAY, not_text);
}

typedef _qz_token* (*transform_fn)(_qz_token*);

TEST_F(Transforms, TextTable) {
  const struct {
    const char* what;
    transform_fn fn;
    std::string in, out;
  } rows[] = {
      {"upper ascii only", qz_engine_str_to_upper, "abc$_post\xc3\xa9", "ABC$_POST\xc3\xa9"},
      {"lower", qz_engine_str_to_lower, "$_POST_DATA Eval", "$_post_data eval"},
      {"rot13 both cases", qz_engine_str_rot13, "Hello, World! zZ", "Uryyb, Jbeyq! mM"},
      {"trim both ends", qz_engine_trim, " \t ab c\t ", "ab c"},
      {"trim blanks only", qz_engine_trim, " \t\t ", ""},
      {"ltrim", qz_engine_ltrim, "  a  ", "a  "},
      {"rtrim", qz_engine_rtrim, "  a \t", "  a"},
      {"url plus stays", qz_engine_urldecode, "a+b%41%6a", "a+bAj"},
      {"url cut escape", qz_engine_urldecode, "ab%4", "ab"},
      {"url bad low", qz_engine_urldecode, "%4g", "?"},
      {"url nul ends", qz_engine_urldecode, "x%00y", "x"},
      {"b64enc one", qz_engine_b64encode, "a", "YQ=="},
      {"b64enc two", qz_engine_b64encode, "ab", "YWI="},
      {"b64enc high bytes", qz_engine_b64encode, "\xff\xfe", "//4="},
      {"b64dec unpadded", qz_engine_b64decode, "YWI", "ab"},
      {"b64dec lone char", qz_engine_b64decode, "Y", "qz_decoded"},
      {"b64dec zero bytes", qz_engine_b64decode, "AAAA", ""},
      {"b64dec marker", qz_engine_b64decode, "$_POST_DATA", "qz_decoded"},
      {"b64dec invalid text", qz_engine_b64decode, "cXpfaW52YWxpZF9zdHJpbmc=", "qz_decoded"},
      {"b64dec high byte stops", qz_engine_b64decode, "YWJj\xc3YWJj", "abc"},
      {"b64dec alphabet ends", qz_engine_b64decode, "+/+/", "\xfb\xff\xbf"},
      {"bin2hex low and high bytes", qz_engine_bin2hex, "\x01\x7fZ\xff", "017f5aff"},
      {"bin2hex of nothing", qz_engine_bin2hex, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    _qz_token* arg = str_tok(row.in, 9);
    _qz_token* res = row.fn(arg);
    EXPECT_EQ(res->lineno, 9u);
    EXPECT_EQ(text_of(res), row.out);
    EXPECT_NE(res->value.ptr, arg->value.ptr);
    EXPECT_EQ(text_of(row.fn(lit_tok(row.in.c_str()))), row.out);
  }
}

TEST_F(Transforms, ValuesWithoutTextYieldTheInvalidString) {
  for (transform_fn fn :
       {qz_engine_str_to_upper, qz_engine_str_to_lower, qz_engine_str_rot13, qz_engine_strrev,
        qz_engine_urldecode, qz_engine_b64encode, qz_engine_trim, qz_engine_ltrim, qz_engine_rtrim,
        qz_engine_bin2hex, qz_engine_b64decode}) {
    EXPECT_EQ(text_of(fn(array_tok())), "qz_invalid_string");
    if (fn == qz_engine_b64decode) continue;  // falls back to the token's name instead
    EXPECT_EQ(text_of(fn(tok(TOKEN_STRING, nullptr))), "qz_invalid_string");
    EXPECT_EQ(text_of(fn(tok(TOKEN_INTEGER, nullptr, 5))), "qz_invalid_string");
  }
  _qz_token* unset = tok(TOKEN_NONE, nullptr);
  char name[] = "aGk";
  unset->name = name;
  EXPECT_EQ(text_of(qz_engine_b64decode(unset)), "hi");
  // Length is the recorded length, not the text up to a zero byte.
  EXPECT_EQ(qz_engine_str_len(str_tok(std::string("a\0b", 3)))->value.lval, 3);
  EXPECT_EQ(qz_engine_str_len(lit_tok("hello"))->value.lval, 5);
  EXPECT_EQ(qz_engine_str_len(array_tok())->value.lval, 0);
}

// With full decoding (texts kept whole past a zero byte) hex2bin undoes
// bin2hex for any bytes, zero bytes and bytes past 0x7f too.
TEST_F(Transforms, HexRoundTrips) {
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  for (const std::string& bytes :
       {std::string("system"), std::string("a\0b", 3), std::string("\x80\xff\x00\x10", 4)}) {
    SCOPED_TRACE(bytes);
    _qz_token* hex = qz_engine_bin2hex(str_tok(bytes));
    EXPECT_EQ(text_of(hex).size(), 2 * bytes.size());
    EXPECT_EQ(text_of(php_lib_text_hex2bin(hex)), bytes);
  }
}

TEST_F(Transforms, Rot13CutUnlessFullDecoding) {
  std::string long_text(1500, 'a');
  EXPECT_EQ(text_of(qz_engine_str_rot13(str_tok(long_text))), std::string(999, 'n'));
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  EXPECT_EQ(text_of(qz_engine_str_rot13(str_tok(long_text))), std::string(1500, 'n'));
}

// Replacement, and the count of non-overlapping matches it is built on.
TEST_F(Transforms, ReplaceTable) {
  const struct {
    std::string subject, search, replace, out;
    unsigned long count;
  } rows[] = {
      {"aaa", "aa", "b", "ba", 1},
      {"abc", "", "x", "abc", 0},
      {"abab", "ab", "abab", "abababab", 2},  // the replacement is not searched again
      {"abc", "abcd", "x", "abc", 0},
      {"aabaabaaab", "aaab", "X", "aabaabX", 1},  // partial matches fall back correctly
      {"xabababx", "abab", "_", "x_abx", 1},
  };
  for (auto r : rows) {
    SCOPED_TRACE(r.subject + " / " + r.search + " / " + r.replace);
    _qz_token* res =
        qz_engine_str_replace(str_tok(r.subject, 4), lit_tok(r.search.c_str()), str_tok(r.replace));
    EXPECT_EQ(text_of(res), r.out);
    EXPECT_EQ(res->lineno, 4u);
    EXPECT_EQ(_count_string(&r.subject[0], &r.search[0]), r.count);
  }
  EXPECT_TRUE(rt_faults.empty());
}

TEST_F(Transforms, ReplaceRefusesArgumentsWithoutText) {
  const struct {
    const char* what;
    _qz_token *subject, *search, *replace;
  } rows[] = {
      {"array search", str_tok("abc"), array_tok(), str_tok("x")},
      {"array replace", str_tok("abc"), str_tok("b"), array_tok()},
      {"integer subject", tok(TOKEN_INTEGER, nullptr, 7), str_tok("b"), str_tok("x")},
      {"unset search", str_tok("abc"), tok(TOKEN_NONE, nullptr), str_tok("x")},
      {"null literal replace", str_tok("abc"), str_tok("b"), lit_tok(nullptr)},
      {"missing search", str_tok("abc"), nullptr, str_tok("x")},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(text_of(qz_engine_str_replace(r.subject, r.search, r.replace)), "qz_invalid_string")
        << r.what;
  }
  // An integer search without a pointer is taken by its name.
  _qz_token* digit = tok(TOKEN_INTEGER, nullptr, 1);
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
  EXPECT_TRUE(rt_faults.empty());
  // One byte more is refused with the allocation fault, never a short buffer.
  half.push_back('a');
  res = qz_engine_str_replace(str_tok(half), lit_tok("a"), lit_tok("bb"));
  EXPECT_EQ(text_of(res), "qz_invalid_string");
  EXPECT_EQ(rt_faults, rt_fault_list{"engine/qz_spec/qz_common_lib:235:malloc_replace 返回NULL"});
}

TEST_F(Transforms, GzFamily) {
  const std::string payload = "<?php system($_GET['c']); ?>";
  EXPECT_EQ(text_of(qz_engine_gzinflate(str_tok(deflate_with(payload, -15)))), "qz_decoded")
      << "inflated only when fully decoding";
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  const struct {
    transform_fn fn;
    int framing;
    bool inflates;
  } rows[] = {
      {qz_engine_gzinflate, -15, true},     {qz_engine_gzuncompress, 15, true},
      {qz_engine_gzdecode, 31, true},       {qz_engine_gzinflate, 15, false},
      {qz_engine_gzuncompress, -15, false}, {qz_engine_gzdecode, -15, false},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(text_of(r.fn(str_tok(deflate_with(payload, r.framing)))),
              r.inflates ? payload : "qz_decoded")
        << "row " << (&r - rows);
  }
  EXPECT_EQ(text_of(qz_engine_gzinflate(str_tok("not deflate"))), "qz_decoded");
  EXPECT_EQ(text_of(qz_engine_gzinflate(array_tok())), "qz_decoded");
  EXPECT_EQ(text_of(qz_engine_gzdeflate(str_tok("x"))), "qz_decoded");
  EXPECT_EQ(qz_engine_gzcompress(str_tok("x")), nullptr);
  // A stream cut short keeps what it produced.
  std::string big;
  for (int i = 0; big.size() < 4000; i++) big += std::to_string(i * 7919 % 1000);
  std::string packed = deflate_with(big, -15);
  std::string cut = text_of(qz_engine_gzinflate(str_tok(packed.substr(0, packed.size() / 2))));
  ASSERT_NE(cut, "qz_decoded");
  EXPECT_EQ(big.compare(0, cut.size(), cut), 0);
}

TEST_F(Transforms, FullDecodingKeepsBinaryTextAndStopsBombs) {
  EXPECT_EQ(text_of(qz_engine_b64decode(str_tok("YQBi"))), "a");  // a decoded NUL ends the text
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  EXPECT_EQ(text_of(qz_engine_b64decode(str_tok("YQBi"))), std::string("a\0b", 3));
  EXPECT_EQ(text_of(qz_engine_str_replace(str_tok(std::string("a\0b\0b", 5)),
                                          str_tok(std::string("\0b", 2)), str_tok("c"))),
            "acc");

  // 32 MiB of zeros inflate past the cap: stopped, the marker stands in.
  std::string bomb = deflate_with(std::string(2 * QZ_MAX_STRING_LENGTH, '\0'), -15);
  EXPECT_EQ(text_of(qz_engine_gzinflate(str_tok(bomb))), "qz_decoded");
}

}  // namespace
