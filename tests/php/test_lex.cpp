// The lexer: script text in, the exact token stream out.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_lex.h"
#include "php/php_operator.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using Lexer = scan_record::RuntimeTest;

// One token as "<kind> <text>": W word, I integer, L literal, S separator,
// O operator; a true/false word (no name) reads "B1" or "B0".
std::string render(const _qz_token* t) {
  if (!t->name) return "B" + std::to_string(t->value.lval);
  const char* kind = "?";
  switch (t->type) {
    case TOKEN_WORD: kind = "W"; break;
    case TOKEN_INTEGER: kind = "I"; break;
    case TOKEN_LITERAL: kind = "L"; break;
    case TOKEN_SEPARATOR: kind = "S"; break;
    case TOKEN_OPERATOR: kind = "O"; break;
    default: break;
  }
  return std::string(kind) + " " + t->name;
}

typedef std::vector<std::string> Toks;

// Reads text to its end with a fresh lexer state, releasing each token.
Toks lex(const std::string& text, std::vector<unsigned long>* lines = nullptr) {
  php_lex_reset();
  buf_file_handle src(text.c_str());
  Toks out;
  while (_qz_token* t = php_lex_get_token(&src, 0)) {
    out.push_back(render(t));
    if (lines) lines->push_back(t->lineno);
    qz_token_free(t);
  }
  return out;
}

struct TokenCase {
  const char* what;
  std::string text;
  Toks expected;
};

const Toks kF1 = {"W f", "S (", "I 1", "S )", "S ;"};

Toks cat(Toks a, const Toks& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Lexer, TokenStreams) {
  // clang-format off
  const TokenCase cases[] = {
      {"tags, text skipped",
       "abc <?php $a = 1; ?> def <?PHP echo 2;", {"W $a", "O =", "I 1", "S ;", "W echo", "I 2", "S ;"}},
      {"mixed-case tag opens nothing", "<?Php $a = 1;", {}},
      {"short tags open nothing", "<? f(1); <?= f(1);", {}},
      {"! is dropped", "<?php $a != $b;", {"W $a", "O =", "W $b", "S ;"}},
      {"!== reads ==", "<?php $a !== $b;", {"W $a", "O ==", "W $b", "S ;"}},
      {"newline joins words", "<?php echo\n$x;", {"W echo$x", "S ;"}},
      {"escapes", "<?php 'a\\x41\\n';", {"L aAn", "S ;"}},
      {"bad hex digit", "<?php '\\x4G';", {"L ?", "S ;"}},
      {"escaped quote and backslash", "<?php \"a\\\"b\\\\\";", {"L a\"b\\", "S ;"}},
      {"empty string", "<?php \"\";", {"L ", "S ;"}},
      {"space kept in string", "<?php $s = 'a b';", {"W $s", "O =", "L a b", "S ;"}},
      {"ignored chars vanish inside strings", "<?php 'a!b@c\r';", {"L abc", "S ;"}},
      {"string ends a pending word", "<?php f'x';", {"W f", "L x", "S ;"}},
      {"/*/ does not close", "<?php x /*/ y */ z;", {"W x", "W z", "S ;"}},
      {"block comment ends a pending word", "<?php x/* a */y;", {"W x", "W y", "S ;"}},
      {"line comment keeps the word going", "<?php x//c\ny;", {"W xy", "S ;"}},
      {"division", "<?php a/b;", {"W a", "O /", "W b", "S ;"}},
      {"minus at the end", "<?php a-", {"W a", "O -"}},
      {"logical and", "<?php a&&b;", {"W a", "O &&", "W b", "S ;"}},
      {"lone & is a separator", "<?php a&b;", {"W a", "S &", "W b", "S ;"}},
      {"&= reads & then =", "<?php a&=b;", {"W a", "S &", "O =", "W b", "S ;"}},
      {"or-assign", "<?php a|=b;", {"W a", "O |=", "W b", "S ;"}},
      {"decimal point splits", "<?php 1.5;", {"I 1", "O .", "I 5", "S ;"}},
      {"operators grow", "<?php $x === 1;", {"W $x", "O ===", "I 1", "S ;"}},
      {"spaces inside an operator", "<?php $a + + $b;", {"W $a", "O ++", "W $b", "S ;"}},
      {"<< is two <", "<?php $a<<$b;", {"W $a", "O <", "O <", "W $b", "S ;"}},
      {"bytes above 0x7F are word text", "<?php $\xE4x = 1;", {"W $\xE4x", "O =", "I 1", "S ;"}},
      {"closing tag ends a pending token",
       "<?php f(1)?>x<?php g(2);", {"W f", "S (", "I 1", "S )", "W g", "S (", "I 2", "S )", "S ;"}},
      {"unterminated string is a word", "<?php f(\"abc", {"W f", "S (", "W abc"}},
      {"a lone < at the end is dropped", "<?php a<b", {"W a"}},
      {"script tag", "<script language=php>f(1);</script>", cat(kF1, {"O <", "O /", "W script", "O >"})},
      {"script tag without php", "<script>f(1);", {}},
      {"upper-case script tag", "<SCRIPT language=php>f(1);", {}},
      // A tag starting "<s" with no '>' in reach is text, not the end of the scan.
      {"unreadable script tag is text", "<s" + std::string(150, 'a') + "<?php f(1);", kF1},
      {"script tag cut by the end", "<sabc", {}},
      {"long word cut",
       "<?php " + std::string(6000, 'w') + ";", {"W " + std::string(QZ_LEX_TOKEN_MAX, 'w'), "S ;"}},
      {"long string cut", "<?php '" + std::string(6000, 's') + "';f(1);",
       cat({"L " + std::string(QZ_LEX_TOKEN_MAX, 's'), "S ;"}, kF1)},
  };
  // clang-format on
  for (const TokenCase& c : cases) EXPECT_EQ(lex(c.text), c.expected) << c.what;
}

TEST_F(Lexer, HeredocBodies) {
  const std::string x5000(QZ_LEX_TOKEN_MAX, 'x');
  const std::string label70(70, 'A');
  // clang-format off
  const TokenCase cases[] = {
      {"crlf label", "<?php $a = <<<EOT\r\nx y\r\nEOT;\r\nf(1);", cat({"W $a", "O =", "L xy\r\n", "S ;"}, kF1)},
      {"nowdoc label", "<?php <<<'EOT'\nab\nEOT;\nf(1);", cat({"L ab\n", "S ;"}, kF1)},
      {"blank before the label", "<?php <<< EOT\nab\nEOT;\nf(1);", cat({"L ab\n", "S ;"}, kF1)},
      {"empty body", "<?php $a = <<<EOT\nEOT;\nf(1);", cat({"W $a", "O =", "L ", "S ;"}, kF1)},
      {"label as the start of a body word", "<?php <<<EO\nEOT\nEO;", {"L EOT\n", "S ;"}},
      {"terminator found anywhere", "<?php <<<EOT\nabEOT;", {"L ab", "S ;"}},
      {"empty label reads no body", "<?php $a = <<<\nf(1);", cat({"W $a", "O ="}, kF1)},
      {"label longer than kept", "<?php <<<" + label70 + "\nbody\n" + label70 + ";\nf(1);",
       cat({"L body\n", "W AAAAAA", "S ;"}, kF1)},
      {"terminator after the text cap", "<?php <<<EOT\n" + std::string(6000, 'x') + "\nEOT;\nf(1);",
       cat({"L " + x5000, "S ;"}, kF1)},
      {"terminator across the text cap",
       "<?php <<<EOT\n" + std::string(QZ_LEX_TOKEN_MAX - 2, 'x') + "EOT;\nf(1);",
       cat({"L " + std::string(QZ_LEX_TOKEN_MAX - 2, 'x'), "S ;"}, kF1)},
      {"unterminated body", "<?php <<<EOT\nabc", {"L abc"}},
      {"label cut by the end", "<?php <<<EOT", {}},
  };
  // clang-format on
  for (const TokenCase& c : cases) EXPECT_EQ(lex(c.text), c.expected) << c.what;
}

TEST_F(Lexer, ExtendedTags) {
  qz_engine_set_options(QZ_OPT_EXTENDED_TAGS);
  const TokenCase cases[] = {
      {"any letter case", "<?Php f(1);", kF1},
      {"short echo tag", "<?= $x ?>", {"W echo", "W $x", "S ;"}},
      {"short echo tag without blanks", "<?=f(1)?>", {"W echo", "W f", "S (", "I 1", "S )", "S ;"}},
      {"short tag", "<? f(1);", kF1},
      {"short tag then newline", "<?\nf(1);", kF1},
      {"xml declaration stays text", "<?xml version=\"1.0\"?><?php f(1);", kF1},
      {"closing tag ends the statement", "<?php f(1) ?>x", kF1},
  };
  for (const TokenCase& c : cases) EXPECT_EQ(lex(c.text), c.expected) << c.what;
  std::vector<unsigned long> lines;
  lex("<?\nf(1);", &lines);
  EXPECT_EQ(lines, (std::vector<unsigned long>{2, 2, 2, 2, 2}));
}

}  // namespace
