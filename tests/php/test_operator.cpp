// The operator table, classification of collected text, pair search.

#include "php/php_lex.h"
#include "php/php_operator.h"
#include "common/qz_host.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Operators : public ::testing::Test {
 protected:
  void SetUp() override {
    qz_engine_startup();
    php_lex_reset();
  }
  void TearDown() override {
    qz_engine_release_all_resource();
    qz_engine_shutdown();
  }
};

TEST_F(Operators, Precedences) {
  const struct {
    const char* text;
    int precedence;  // -1: not an operator
  } cases[] = {
      {"==", 4},  {"===", 4}, {"=", 3},   {"+=", 2},   {"&=", 3},   {"&&", 2},  {"!", 6},
      {"**", -1}, {"%", -1},  {"", -1},   {"&", -1},   {"====", -1}, {"+ ", -1}, {"x=", -1},
  };
  for (const auto& c : cases) {
    const php_operator* op = php_lookup_operator(const_cast<char*>(c.text));
    if (c.precedence < 0) {
      EXPECT_EQ(op, nullptr) << c.text;
    } else {
      ASSERT_NE(op, nullptr) << c.text;
      EXPECT_EQ(op->precedence, c.precedence) << c.text;
      EXPECT_STREQ(op->text, c.text);
    }
  }
  EXPECT_EQ(php_lookup_operator(nullptr), nullptr);
}

// Puts text into the lexer's buffer as the lexer would (blanks kept as in a
// string) and classifies it.
_qz_token* accept(const std::string& text, _token_type kind) {
  php_lex_state.in_string = 1;
  for (char c : text) php_append_char(c);
  php_lex_state.in_string = 0;
  return php_accept(kind);
}

TEST_F(Operators, Classification) {
  const struct {
    std::string text;
    _token_type kind;
    _token_type type;
    _token_type value_type;
    long lval;
    bool named;
  } cases[] = {
      {"TRUE", TOKEN_WORD, TOKEN_WORD, TOKEN_INTEGER, 1, false},
      {"False", TOKEN_WORD, TOKEN_WORD, TOKEN_INTEGER, 0, false},
      {"42abc", TOKEN_WORD, TOKEN_INTEGER, TOKEN_INTEGER, 42, true},
      {"0x1F", TOKEN_WORD, TOKEN_INTEGER, TOKEN_INTEGER, 0, true},
      {"99999999999999999999999", TOKEN_WORD, TOKEN_INTEGER, TOKEN_INTEGER, LONG_MAX, true},
      {"$x", TOKEN_WORD, TOKEN_WORD, TOKEN_NONE, 0, true},
      {"truex", TOKEN_WORD, TOKEN_WORD, TOKEN_NONE, 0, true},
      {"\xE4\xF6", TOKEN_WORD, TOKEN_WORD, TOKEN_NONE, 0, true},
      {"&", TOKEN_WORD, TOKEN_SEPARATOR, TOKEN_NONE, 0, true},
      {"%", TOKEN_WORD, TOKEN_SEPARATOR, TOKEN_NONE, 0, true},
      {"->", TOKEN_WORD, TOKEN_OPERATOR, TOKEN_NONE, 0, true},
      {"abc", TOKEN_LITERAL, TOKEN_LITERAL, TOKEN_LITERAL, 0, true},
      {"1", TOKEN_LITERAL, TOKEN_LITERAL, TOKEN_LITERAL, 0, true},
      {"", TOKEN_LITERAL, TOKEN_LITERAL, TOKEN_LITERAL, 0, true},
  };
  php_lex_cur_lineno = 7;
  for (const auto& c : cases) {
    _qz_token* t = accept(c.text, c.kind);
    ASSERT_NE(t, nullptr) << c.text;
    EXPECT_EQ(t->type, c.type) << c.text;
    EXPECT_EQ(t->value.type, c.value_type) << c.text;
    EXPECT_EQ(t->value.lval, c.lval) << c.text;
    EXPECT_EQ(t->lineno, 7u) << c.text;
    if (c.named) {
      ASSERT_NE(t->name, nullptr) << c.text;
      EXPECT_EQ(std::string(t->name), c.text);
    } else {
      EXPECT_EQ(t->name, nullptr) << c.text;
    }
    if (c.kind == TOKEN_LITERAL) {
      EXPECT_EQ(t->value.ptr, t->name);
    }
    EXPECT_EQ(php_lex_temp_buff_idx, 0u) << c.text;
    EXPECT_EQ(php_lex_temp_buffer[0], '\0') << c.text;
    qz_token_free(t);
  }
}

TEST_F(Operators, NamesAreTheHandles) {
  _qz_token* semi = accept(";", TOKEN_WORD);
  _qz_token* assign = accept("=", TOKEN_WORD);
  _qz_token* pair = accept("=>", TOKEN_WORD);
  _qz_token* literal = accept(";", TOKEN_LITERAL);
  EXPECT_EQ(semi->name, qz_engine_quote_handle);
  EXPECT_EQ(assign->name, qz_engine_assign_handle);
  EXPECT_EQ(pair->name, qz_engine_arrpair_handle);
  EXPECT_EQ(pair->name, qz_engine_array_pair_handle);
  EXPECT_EQ(literal->name, qz_engine_quote_handle);  // same text, same pointer
  for (_qz_token* t : {semi, assign, pair, literal}) qz_token_free(t);
}

TEST_F(Operators, EmptyWordMakesNothing) {
  EXPECT_EQ(php_accept(TOKEN_WORD), nullptr);
  EXPECT_EQ(php_lex_temp_buff_idx, 0u);
}

// Builds a list of separator tokens named by the handles of the given texts.
_qz_token* list_of(const std::vector<std::string>& texts) {
  _qz_token* head = nullptr;
  _qz_token* tail = nullptr;
  for (const std::string& s : texts) {
    _qz_token* t = accept(s, TOKEN_WORD);
    if (!head) {
      head = tail = t;
    } else {
      tail->next = t;
      t->prev = tail;
      tail = t;
    }
  }
  return head;
}

int index_of(_qz_token* list, _qz_token* t) {
  int i = 0;
  for (_qz_token* p = list; p; p = p->next, i++)
    if (p == t) return i;
  return -1;
}

TEST_F(Operators, PairSearch) {
  const struct {
    std::vector<std::string> texts;
    int found;
    int open_at, close_at;
  } cases[] = {
      {{"(", "a", "(", "b", ")", "c", ")"}, 1, 2, 6},
      {{")", "(", "a", ")"}, 0, -1, -1},  // an early ")" counts
      {{"(", "(", ")"}, 0, -1, -1},
      {{}, 0, -1, -1},
  };
  for (const auto& c : cases) {
    _qz_token* l = list_of(c.texts);
    _qz_token* o = reinterpret_cast<_qz_token*>(1);
    _qz_token* cl = reinterpret_cast<_qz_token*>(1);
    int r = php_lookup_tokenpair(l, qz_engine_sleft_handle, qz_engine_sright_handle, &o, &cl);
    EXPECT_EQ(r, c.found);
    EXPECT_EQ(o ? index_of(l, o) : -1, c.open_at);
    EXPECT_EQ(cl ? index_of(l, cl) : -1, c.close_at);
    qz_token_free(l);
  }
}

}  // namespace
