// The variable list, the request superglobals, the string form of values and
// the radix-64 integer text.

#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using scan_record::var_tok;
using Variables = scan_record::RuntimeTest;

TEST_F(Variables, ScanStartsWithTheNineRequestArrays) {
  const char* rows[][2] = {
      {"$_GET", "$_GET_DATA"},         {"$_POST", "$_POST_DATA"},
      {"$_REQUEST", "$_REQUEST_DATA"}, {"$_SESSION", "$_SESSION_DATA"},
      {"$_SERVER", "$_SERVER_DATA"},   {"$_COOKIE", "$_COOKIE_DATA"},
      {"$_GLOBALS", "$_GLOBALS_DATA"}, {"$_FILES", "$_FILES_DATA"},
      {"$_FILES_DATA", "$_FILES_DATA_DATA"},
  };
  _qz_token* e = php_rt_state.var_list;
  for (const auto& row : rows) {
    ASSERT_NE(e, nullptr) << row[0];
    EXPECT_STREQ(e->name, row[0]);
    EXPECT_EQ(e->type, TOKEN_WORD);
    ASSERT_EQ(e->value.type, TOKEN_ARRAY);
    auto* arr = static_cast<_qz_array*>(e->value.ptr);
    ASSERT_NE(arr, nullptr);
    EXPECT_STREQ(arr->item_marker, row[1]);
    EXPECT_EQ(qz_array_size(arr), 0u);
    e = e->next;
  }
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(php_rt_state.var_tail->name, std::string("$_FILES_DATA"));
}

TEST_F(Variables, ExactAndCaseBlindLookups) {
  _qz_token* post = php_lookup_global_variable(const_cast<char*>("$_post"));
  ASSERT_NE(post, nullptr);
  EXPECT_STREQ(post->name, "$_POST");
  // The exact lookup is case-sensitive: a new, separate entry.
  _qz_token* lower = php_reference_globals(var_tok("$_post"));
  ASSERT_NE(lower, nullptr);
  EXPECT_NE(lower, post);
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$_POST")), post);

  // Of several spellings the first entry wins.
  _qz_token* first = php_reference_globals(var_tok("$Ab"));
  php_reference_globals(var_tok("$AB"));
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$ab")), first);
  EXPECT_EQ(php_lookup_global_variable(nullptr), nullptr);
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$none")), nullptr);
}

TEST_F(Variables, FirstReferenceCopiesLaterOnesFind) {
  _qz_token* t = var_tok("$x", TOKEN_INTEGER);
  t->value.lval = 7;
  _qz_token* e = php_reference_globals(t);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e, t);
  EXPECT_EQ(e->value.lval, 7);
  EXPECT_EQ(e->lineno, 3u);
  EXPECT_EQ(php_rt_state.var_tail, e);
  _qz_token* again = var_tok("$x", TOKEN_INTEGER);
  again->value.lval = 99;
  EXPECT_EQ(php_reference_globals(again), e);
  EXPECT_EQ(e->value.lval, 7);
  _qz_token* nameless = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
  EXPECT_EQ(php_reference_globals(nameless), nameless);
  EXPECT_TRUE(php_variable_is_entry(e));
  EXPECT_FALSE(php_variable_is_entry(t));
}

TEST_F(Variables, EmptiedListStartsAFreshIndex) {
  _qz_token* e = php_reference_globals(var_tok("$kept"));
  ASSERT_NE(e, nullptr);
  // The end of a scan empties the list; the next scan reuses token slots.
  php_shutdown();
  qz_engine_release_all_resource();
  php_startup();
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$kept")), nullptr);
  _qz_token* fresh = php_reference_globals(var_tok("$kept"));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$KEPT")), fresh);

  // A list replaced behind the index's back is indexed anew.
  php_rt_state.var_list = nullptr;
  php_rt_state.var_tail = nullptr;
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$kept")), nullptr);
  _qz_token* only = php_reference_globals(var_tok("$kept"));
  EXPECT_EQ(php_rt_state.var_list, only);
}

TEST_F(Variables, RadixSixtyFourTextMatchesTheSystemRoutine) {
  char mine[QZ_L64A_TEXT_SIZE];
  std::mt19937_64 rng(7);
  std::vector<long> values = {0, 1, 5, 63, 64, 100, 4095, 4096, 0x7FFFFFFF, 0xFFFFFFFFL, -1, -64,
                              LONG_MIN, LONG_MAX, 0x100000001L};
  for (long v = 0; v < 70000; v += 7) values.push_back(v);
  for (int i = 0; i < 2000; i++) values.push_back(static_cast<long>(rng()));
  for (long v : values) {
    long low = static_cast<long>(static_cast<unsigned long>(v) & 0xFFFFFFFFul);
    EXPECT_STREQ(php_l64a(v, mine), l64a(low)) << v;
  }
}

TEST_F(Variables, StringFormOfValues) {
  _qz_token* s = var_tok("$s", TOKEN_STRING);
  s->value.ptr = qz_string_alloc("held");
  _qz_token* lit = qz_token_alloc(TOKEN_LITERAL, TOKEN_LITERAL, 1);
  lit->value.ptr = const_cast<char*>("abc");
  _qz_token* i64 = var_tok("$i", TOKEN_INTEGER);
  i64->value.lval = 64;
  _qz_token* zero = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, 1);
  _qz_token* arr = var_tok("$arr", TOKEN_ARRAY);
  _qz_token* nameless = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
  _qz_token* sep = qz_token_alloc(TOKEN_SEPARATOR, TOKEN_NONE, 1);

  EXPECT_EQ(php_to_tring(s), s->value.ptr); // shared, not copied
  struct Row {
    _qz_token* tok;
    const char* text;
  } rows[] = {
      {lit, "abc"},         {i64, "./"},
      {zero, ""},           {var_tok("$undefined"), "$undefined"},
      {arr, "$arr"},        {nameless, "qz_invalid_string"},
      {sep, "qz_invalid_string"},
  };
  for (const auto& r : rows) {
    _qz_string* out = php_to_tring(r.tok);
    ASSERT_NE(out, nullptr) << r.text;
    EXPECT_STREQ(out->text, r.text);
  }
}

}  // namespace
