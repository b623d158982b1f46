// The reach built-ins applied directly to tokens: binary data, multi-line
// and wide inputs the script lexer cannot hand over, the carry rule with its
// cap, and a registry that holds the new rows only with the flag.

#include "builtins/php_lib_registry.h"
#include "builtins/php_lib_taint.h"
#include "builtins/php_lib_text.h"
#include "builtins/qz_transform.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_string.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::int_tok;
using scan_record::linked;
using scan_record::str_tok;
using scan_record::text_of;
using Text = scan_record::RuntimeTest;

// uuencoded as the classic tool writes it: lines of up to 45 bytes, each
// led by its length character, then a line of length 0.
std::string uuencode(const std::string& data) {
  auto enc = [](unsigned v) { return static_cast<char>(v ? (v & 63) + 32 : '`'); };
  std::string out;
  for (size_t at = 0; at < data.size(); at += 45) {
    std::string line = data.substr(at, 45);
    out += static_cast<char>(32 + line.size());
    for (size_t i = 0; i < line.size(); i += 3) {
      unsigned char b[3] = {0, 0, 0};
      for (size_t k = 0; k < 3 && i + k < line.size(); k++) b[k] = line[i + k];
      out += {enc(b[0] >> 2), enc(((b[0] & 3) << 4) | (b[1] >> 4)),
              enc(((b[1] & 15) << 2) | (b[2] >> 6)), enc(b[2] & 63)};
    }
    out += "\n";
  }
  return out + "`\n";
}

TEST_F(Text, DecodersKeepBinaryDataOnlyWithFullDecoding) {
  const std::string payload = "eval($_POST[c]); " + std::string(100, '#') + " done";
  const struct {
    const char* what;
    _qz_token* (*fn)(_qz_token*);
    std::string in, plain, full;  // the result without and with full decoding
  } rows[] = {
      {"hex2bin with a NUL", php_lib_text_hex2bin, "610062", "a", std::string("a\0b", 3)},
      {"hex2bin of a NUL alone", php_lib_text_hex2bin, "00", "qz_decoded", std::string(1, '\0')},
      {"rawurldecode with a NUL", php_lib_text_rawurldecode, "a%00b", "a", std::string("a\0b", 3)},
      {"uudecode over three lines", php_lib_text_convert_uudecode, uuencode(payload), payload,
       payload},
      {"uudecode of a line cut short", php_lib_text_convert_uudecode,
       uuencode(payload).substr(0, 70), "qz_decoded", "qz_decoded"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qz_engine_set_options(QZ_OPT_INTERPRETER_REACH);
    EXPECT_EQ(text_of(row.fn(str_tok(row.in))), row.plain);
    qz_engine_set_options(QZ_OPT_INTERPRETER_REACH | QZ_OPT_FULL_DECODE);
    EXPECT_EQ(text_of(row.fn(str_tok(row.in))), row.full);
  }
}

TEST_F(Text, NumbersAndFormats) {
  const struct {
    const char* what;
    _qz_token* result;
    std::string out;
  } rows[] = {
      // clang-format off
      {"base_convert of 64 bits exactly", php_lib_text_base_convert(str_tok("ffffffffffffffff"), int_tok(16), int_tok(36)), "3w5e11264sgsf"},
      {"base_convert skips what is no digit", php_lib_text_base_convert(str_tok("1_0 2"), int_tok(2), int_tok(10)), "2"},
      {"base_convert to base 37 fails", php_lib_text_base_convert(str_tok("1"), int_tok(10), int_tok(37)), "qz_invalid_string"},
      {"sprintf bases and signs", php_lib_text_sprintf(linked({str_tok("%b|%o|%X|%+d|%u|%'x5d"), int_tok(5), int_tok(8),
                                                               int_tok(255), int_tok(3), int_tok(-1), int_tok(7)})),
       "101|10|FF|+3|18446744073709551615|xxxx7"},
      {"sprintf zero padding puts the sign first", php_lib_text_sprintf(linked({str_tok("%06d|%-4d|"), int_tok(-42), int_tok(-1)})), "-00042|-1  |"},
      {"sprintf reads a number out of a text", php_lib_text_sprintf(linked({str_tok("%d"), str_tok("12ab")})), "12"},
      {"vsprintf with too few items", php_lib_text_vsprintf(str_tok("%s%s"), str_tok("x")), "qz_invalid_string"},
      {"pack H with an odd count keeps the high nibble", php_lib_text_pack(linked({str_tok("H3"), str_tok("616")})), "a`"},
      {"pack a copies the text", php_lib_text_pack(linked({str_tok("a*"), str_tok("sys")})), "sys"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(text_of(row.result), row.out);
  }
}

// Past 64 bits the value is a double and its low digits are not exact, as
// in PHP: the width and the leading digits are.
TEST_F(Text, BaseConvertPast64Bits) {
  std::string out =
      text_of(php_lib_text_base_convert(str_tok("ffffffffffffffffff"), int_tok(16), int_tok(10)));
  EXPECT_EQ(out.size(), std::string("4722366482869645213696").size());
  EXPECT_EQ(out.substr(0, 14), "47223664828696");
}

TEST_F(Text, CarryRule) {
  const struct {
    const char* what;
    std::string source, result, carried;
  } rows[] = {
      {"no marker: nothing changes", "abc", "cba", "cba"},
      {"a kept marker: nothing changes", "x $_GET_DATA", "X $_GET_DATA", "X $_GET_DATA"},
      {"exactly a marker: the marker", "$_COOKIE_DATA", "atad_eikooc_$", "$_COOKIE_DATA"},
      {"the decoded marker", "qz_decoded", "dedoced_zq", "qz_decoded"},
      {"lost markers appended in table order", "$_POST_DATA.$_GET_DATA.qz_decoded", "?",
       "?$_GET_DATA$_POST_DATA" QZ_DECODED_TEXT},
      {"only the lost one", "$_GET_DATA $_ENV_DATA", "$_GET_DATA", "$_GET_DATA$_ENV_DATA"},
      {"a marker cut from the input is none", "$_GET_DAT", "x", "x"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    _qz_token* res = str_tok(row.result);
    EXPECT_EQ(php_lib_taint_carry(str_tok(row.source), res), res);
    EXPECT_EQ(text_of(res), row.carried);
  }
  // A result at the string cap has no room for the lost marker: the marker
  // alone stands for it.
  _qz_token* full = str_tok(std::string(QZ_MAX_STRING_LENGTH, 'a'));
  EXPECT_EQ(text_of(php_lib_taint_carry(str_tok("ls $_GET_DATA"), full)), "$_GET_DATA");
  _qz_token* room = str_tok(std::string(QZ_MAX_STRING_LENGTH - 10, 'a'));
  EXPECT_EQ(text_of(php_lib_taint_carry(str_tok("ls $_GET_DATA"), room)).size(),
            QZ_MAX_STRING_LENGTH);
}

TEST_F(Text, RowsAreRegisteredOnlyWithTheFlag) {
  const char* added[] = {"substr", "strtr", "implode", "getallheaders", "trim", "hex2bin"};
  for (unsigned long options : {0ul, static_cast<unsigned long>(QZ_OPT_INTERPRETER_REACH)}) {
    php_lib_shutdown();
    qz_engine_set_options(options);
    php_lib_startup();
    for (const char* name : added) {
      std::string n = name;
      EXPECT_EQ(php_lib_lookup_internal_function_by_name(&n[0]) != nullptr, options != 0) << name;
    }
    // A name both sets register resolves to the flag's row when it is set.
    std::string strrev = "strrev";
    _php_function_map* f = php_lib_lookup_internal_function_by_name(&strrev[0]);
    ASSERT_NE(f, nullptr);
    void* carried = reinterpret_cast<void*>(&php_lib_taint_strrev);
    EXPECT_EQ(f->func, options ? carried : reinterpret_cast<void*>(&qz_engine_strrev));
  }
}

}  // namespace
