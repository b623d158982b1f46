// The lexer: script text in, the exact token stream out.

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_lex.h"
#include "php/php_operator.h"
#include "support/reach_rows.h"
#include "support/scan_record.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Lexer = scan_record::RuntimeTest;

// One token as "<kind> <text>": W word, I integer, L literal, S separator,
// O operator; a true/false word (no name) reads "B1" or "B0", a text the
// lexer kept as bytes (no name) "T " and its bytes, a NUL as "\0".
std::string render(const _qz_token* t) {
  if (!t->name && t->value.type == TOKEN_STRING) {
    auto* s = static_cast<const _qz_string*>(t->value.ptr);
    std::string out = "T ";
    for (size_t i = 0; i < s->length; i++)
      out += s->text[i] ? std::string(1, s->text[i]) : std::string("\\0");
    return out;
  }
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

// Reads src to its end with a fresh lexer state, releasing each token.
Toks lex_source(qz_io_handle* src, std::vector<unsigned long>* lines = nullptr) {
  php_lex_reset();
  Toks out;
  while (_qz_token* t = php_lex_get_token(src, 0)) {
    out.push_back(render(t));
    if (lines) lines->push_back(t->lineno);
    qz_token_free(t);
  }
  return out;
}

Toks lex(const std::string& text, std::vector<unsigned long>* lines = nullptr) {
  buf_file_handle src(text.c_str());
  return lex_source(&src, lines);
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
      {"true and false in any letter case", "<?php true TRUE tRuE false False FALSE", {"B1", "B1", "B1", "B0", "B0", "B0"}},
      {"longer and shorter words are words", "<?php truex fals t f falsey $true",
       {"W truex", "W fals", "W t", "W f", "W falsey", "W $true"}},
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

// The same text's tokens with and without QZ_OPT_INTERPRETER_REACH.
void check_reach(const std::vector<reach_rows::Row>& rows) {
  reach_rows::check(rows, [](const std::string& text, unsigned long options) {
    qz_engine_set_options(options);
    return lex(text);
  });
}

const Toks kSemi = {"S ;"};

TEST_F(Lexer, ReachEscapesAndKeptCharacters) {
  // clang-format off
  check_reach({
      {"double-quoted escapes", "<?php \"\\n\\t\\r\\v\\e\\f\\\\\\$\\\"\";",
       {"L \n\t\r\v\x1b\f\\$\"", "S ;"}, {"L ntrvef\\$\"", "S ;"}},
      {"octal and hex escapes", "<?php \"\\101\\7\\1012\\x41\\x4g\\xqq\";",
       {"L A\aA2A\x04g\\xqq", "S ;"}, {"L 10171012A?\xEF", "S ;"}},
      {"octal wraps at a byte", "<?php \"\\777x\";", {"L \xFFx", "S ;"}, {"L 777x", "S ;"}},
      {"unicode escapes", "<?php \"\\u{41}\\u{e9}\\u{20AC}\\u{1F600}\";",
       {"L A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "S ;"}, {"L u{41}u{e9}u{20AC}u{1F600}", "S ;"}},
      {"malformed unicode escapes stay text", "<?php \"\\u41 \\u{} \\u{110000} \\u{4\";",
       {"L \\u41 \\u{} \\u{110000} \\u{4", "S ;"}, {"L u41 u{} u{110000} u{4", "S ;"}},
      {"unknown escape keeps its backslash", "<?php \"\\q\\'\";", {"L \\q\\'", "S ;"}, {"L q'", "S ;"}},
      {"a NUL keeps the bytes after it", "<?php \"ab\\0cd\" . \"\\x00\";",
       {"T ab\\0cd", "O .", "T \\0", "S ;"}, {"L ab0cd", "O .", "L ", "S ;"}},
      {"single quotes know two escapes", "<?php 'a\\nb\\\\c\\'d\\x41';",
       {"L a\\nb\\c'd\\x41", "S ;"}, {"L anb\\c'dA", "S ;"}},
      {"ignored characters stay in strings", "<?php 'a!b@c\r';", {"L a!b@c\r", "S ;"}, {"L abc", "S ;"}},
      {"newlines stay in strings", "<?php \"a\nb\";", {"L a\nb", "S ;"}, {"L ab", "S ;"}},
      {"a closing tag inside a string", "<?php '?>';", {"L ?>", "S ;"}, {"L ?>", "S ;"}},
      {"unterminated string", "<?php f(\"abc", {"W f", "S (", "L abc"}, {"W f", "S (", "W abc"}},
      {"long string kept", "<?php '" + std::string(6000, 's') + "';",
       {"L " + std::string(6000, 's'), "S ;"}, {"L " + std::string(QZ_LEX_TOKEN_MAX, 's'), "S ;"}},
  });
  // clang-format on
}

TEST_F(Lexer, ReachInterpolation) {
  const Toks cat_x = {"O .", "W $x"};
  // clang-format off
  check_reach({
      {"text around a variable", "<?php \"a $x b\";",
       {"L a ", "O .", "W $x", "O .", "L  b", "S ;"}, {"L a $x b", "S ;"}},
      {"variables side by side", "<?php \"$c$d\";", {"W $c", "O .", "W $d", "S ;"}, {"L $c$d", "S ;"}},
      {"name key", "<?php \"$a[k]\";", {"W $a", "S [", "L k", "S ]", "S ;"}, {"L $a[k]", "S ;"}},
      {"number key", "<?php \"$a[12].\";",
       {"W $a", "S [", "I 12", "S ]", "O .", "L .", "S ;"}, {"L $a[12].", "S ;"}},
      {"variable key", "<?php \"$a[$i]\";", {"W $a", "S [", "W $i", "S ]", "S ;"}, {"L $a[$i]", "S ;"}},
      {"keys that are text", "<?php \"$a[01]$a[-1]\";",
       {"W $a", "S [", "L 01", "S ]", "O .", "W $a", "S [", "L -1", "S ]", "S ;"}, {"L $a[01]$a[-1]", "S ;"}},
      {"malformed key is text", "<?php \"$a[x y]\";", {"W $a", "O .", "L [x y]", "S ;"}, {"L $a[x y]", "S ;"}},
      {"braced variable with quoted keys", "<?php \"{$a['k'][\"j\"]}x\";",
       {"W $a", "S [", "L k", "S ]", "S [", "L j", "S ]", "O .", "L x", "S ;"}, {"L {$a['k'][", "W j", "L ]}x", "S ;"}},
      {"braced variable variable", "<?php \"{$$n}\";", {"W $$n", "S ;"}, {"L {$$n}", "S ;"}},
      {"dollar brace", "<?php \"${x}y${a[1]}\";",
       {"W $x", "O .", "L y", "O .", "W $a", "S [", "I 1", "S ]", "S ;"}, {"L ${x}y${a[1]}", "S ;"}},
      {"a property stands as its object", "<?php \"{$o->p}-$o->q->r\";",
       {"W $o", "O .", "L -", "O .", "W $o", "O .", "L ->r", "S ;"}, {"L {$o->p}-$o->q->r", "S ;"}},
      {"dollars and braces that are text", "<?php \"$ 5 {x} $1 \\$y \\{$x}\";",
       cat({"L $ 5 {x} $1 $y \\{"}, cat(cat_x, {"O .", "L }", "S ;"})), {"L $ 5 {x} $1 $y {$x}", "S ;"}},
      {"single quotes take no variables", "<?php '$x';", {"L $x", "S ;"}, {"L $x", "S ;"}},
  });
  // clang-format on
}

TEST_F(Lexer, ReachBackticksHeredocsAndTags) {
  // clang-format off
  check_reach({
      {"backtick command", "<?php `ls -la {$d}`;",
       {"W shell_exec", "S (", "L ls -la ", "O .", "W $d", "S )", "S ;"},
       {"W `ls", "O -", "W la", "S {", "W $d", "S }", "W `", "S ;"}},
      {"empty backticks", "<?php $a=``;", {"W $a", "O =", "W shell_exec", "S (", "L ", "S )", "S ;"},
       {"W $a", "O =", "W ``", "S ;"}},
      {"escaped backtick", "<?php `a\\`\\\"`;", {"W shell_exec", "S (", "L a`\\\"", "S )", "S ;"},
       {"W `a\\`\\", "W `;"}},
      {"heredoc with a variable", "<?php <<<EOT\n  a $x\\t\"\\\"\n  EOT;\nf(1);",
       cat({"L   a ", "O .", "W $x", "O .", "L \t\"\\\"", "S ;"}, kF1),
       cat({"L a$x\\t\"\\\"\n", "S ;"}, kF1)},
      {"heredoc crlf lines", "<?php <<<\"EOT\"\r\nab\r\ncd\r\nEOT;\r\n",
       {"L ab\r\ncd", "S ;"}, {"L ab\r\ncd\r\n", "S ;"}},
      {"nowdoc reads text as it is", "<?php <<<'EOT'\n$x\\n\\\\\nEOT;",
       {"L $x\\n\\\\", "S ;"}, {"L $x\\n\\\\\n", "S ;"}},
      {"label as the start of a body word", "<?php <<<EO\nEOT\nEO;", {"L EOT", "S ;"}, {"L EOT\n", "S ;"}},
      {"label inside a line is text", "<?php <<<EOT\nabEOT;\nEOT;", {"L abEOT;", "S ;"}, {"L ab", "S ;", "W EOT", "S ;"}},
      {"empty heredoc", "<?php <<<EOT\nEOT;", {"L ", "S ;"}, {"L ", "S ;"}},
      {"unterminated heredoc", "<?php <<<EOT\nab $x", {"L ab ", "O .", "W $x"}, {"L ab$x"}},
      {"short tag with code", "<?eval(1);", {"W eval", "S (", "I 1", "S )", "S ;"}, {}},
      {"short tag with a variable", "<?$x=1;", {"W $x", "O =", "I 1", "S ;"}, {}},
      {"short tag with a space", "<? f(1);", kF1, {}},
      {"php tag in any case", "<?Php f(1);", kF1, {}},
      {"xml declaration stays text", "<?xml version=\"1.0\"?><?XML x?>", {}, {}},
      {"short echo tag needs the extended tags", "<?=f(1);", {}, {}},
  });
  // clang-format on
}

TEST_F(Lexer, ReachLinesAndBounds) {
  qz_engine_set_options(QZ_OPT_INTERPRETER_REACH);
  std::vector<unsigned long> lines;
  lex("<?php \"a\nb $x\n\";\nf(1);", &lines);
  EXPECT_EQ(lines, (std::vector<unsigned long>{3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4}));

  // A string of variables stops splitting when the queue is full: the rest is
  // text, the script goes on after it.
  Toks many = lex("<?php \"" + scan_record::repeat("$x ", 400) + "\";f(1);");
  ASSERT_GT(many.size(), kF1.size() + 1);
  Toks str(many.begin(), many.end() - kF1.size() - 1);
  EXPECT_LE(str.size(), static_cast<size_t>(QZ_LEX_STRING_PIECES));
  EXPECT_GE(str.size(), static_cast<size_t>(QZ_LEX_STRING_PIECES) - 8);
  EXPECT_EQ(str.back().substr(0, 6), "L  $x ");
  EXPECT_EQ(Toks(many.end() - kF1.size(), many.end()), kF1);

  // Past the per-string cap the rest of the literal is dropped.
  Toks capped = lex("<?php '" + std::string(QZ_MAX_STRING_LENGTH + 3, 'c') + "';f(1);");
  ASSERT_EQ(capped.size(), 2 + kF1.size());
  EXPECT_EQ(capped[0].size(), 2 + QZ_MAX_STRING_LENGTH);
  EXPECT_EQ(Toks(capped.begin() + 2, capped.end()), kF1);
}

// A nested read of another text between two tokens of one string leaves the
// string's remaining pieces to the outer read.
TEST_F(Lexer, ReachNestedReadKeepsPendingPieces) {
  qz_engine_set_options(QZ_OPT_INTERPRETER_REACH);
  php_lex_reset();
  buf_file_handle outer("<?php \"a $x b\";");
  Toks got;
  _qz_token* first = php_lex_get_token(&outer, 0);
  ASSERT_NE(first, nullptr);
  got.push_back(render(first));
  php_lex_saved saved;
  php_lex_save(&saved);
  php_lex_begin_text(0);
  buf_file_handle inner("\"$y c\"; `id`; \"$z");
  Toks nested;
  while (_qz_token* t = php_lex_get_token(&inner, 1)) nested.push_back(render(t));
  php_lex_restore(&saved);
  while (_qz_token* t = php_lex_get_token(&outer, 0)) got.push_back(render(t));
  EXPECT_EQ(got, (Toks{"L a ", "O .", "W $x", "O .", "L  b", "S ;"}));
  EXPECT_EQ(nested, (Toks{"W $y", "O .", "L  c", "S ;", "W shell_exec", "S (", "L id", "S )", "S ;",
                          "W $z"}));
}

// The library's two source kinds are read inline and every other kind
// through its virtual operations: a file and classes derived from a buffer
// and a file give the tokens and lines of a buffer, also across the stream's
// buffer boundaries and with a 0xFF byte as data. A host's source may return
// any int for a byte and is read by the low byte of each; it still ends at
// a 0xFF byte, so it is left out under the binary-safe option.
TEST_F(Lexer, EverySourceKindReadsTheSameTokens) {
  struct DerivedBuffer : buf_file_handle {
    using buf_file_handle::buf_file_handle;
  };
  struct DerivedFile : linux_file_handle {
    using linux_file_handle::linux_file_handle;
  };
  struct Shifted : qz_io_handle {
    explicit Shifted(const std::string& t) : text(t) {}
    int _getc() override {
      if (at >= text.size()) return -1;
      return static_cast<unsigned char>(text[at++]) - 1024;  // 0x18 reads as -1000
    }
    void _ungetc() override {
      if (at > 0) at--;
    }
    void unget_str(char* s) override { at -= std::min(at, std::strlen(s)); }
    std::string text;
    size_t at = 0;
  };
  const struct {
    std::string text;
    bool host;  // read through a host's source too (it has no get_str: no script tag)
  } texts[] = {
      {"abc <?php $a = 1; ?> def <?PHP echo 2;", true},
      {"<script language=php>f(1);</script>", false},
      {"<?php x /*/ y */ z; a&&b; $x === 1; $a<<$b; f(1)?>x", true},
      {"<?php 'a\\x41\\n' \"a\\\"b\" `ls {$d}` \"a $x[k] b\";", true},
      {"<?php <<<EOT\r\nx $y\r\nEOT;\r\nf(1);", true},
      {"<?php a; ?><?= $x ?><? f(1); <?eval(1);", true},
      {"<?php $a != $b; @f(); $\xE4x = 1; a\xFF b; g(2);", false},
      {"<?php if ($a != $b && $c !== 1) f();", true},
      {"<?php $a\x18z = 1; ?>x\x18y<?php f($a\x18z, 'q\x18');", true},
      {"t\x18<?php " + scan_record::repeat("w\x18", 50) + ";", true},
      {scan_record::repeat("$a=f($b,'x y')?>t<?php /*c*/ $c.=1;//d\n", 300), true},
  };
  const char* kinds[] = {"derived buffer", "file", "derived file", "host"};
  const unsigned long options[] = {0, QZ_OPT_BINARY_SAFE, QZ_OPT_INTERPRETER_REACH,
                                   QZ_OPT_EXTENDED_TAGS | QZ_OPT_INTERPRETER_REACH};
  for (unsigned long o : options) {
    qz_engine_set_options(o);
    for (const auto& [text, host] : texts) {
      std::vector<unsigned long> want_lines;
      const Toks want = lex(text, &want_lines);
      ASSERT_GT(want.size(), 1u) << text.substr(0, 40);
      for (int kind = 0; kind < 4; kind++) {
        if (kind == 3 && (!host || (o & QZ_OPT_BINARY_SAFE))) continue;
        SCOPED_TRACE(std::string(kinds[kind]) + ", options " + std::to_string(o) + ": " +
                     text.substr(0, 40));
        FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::rewind(f);
        DerivedBuffer buffer(text.c_str());
        linux_file_handle file(f);
        DerivedFile derived_file(f);
        Shifted host(text);
        qz_io_handle* sources[] = {&buffer, &file, &derived_file, &host};
        std::vector<unsigned long> lines;
        EXPECT_EQ(lex_source(sources[kind], &lines), want);
        EXPECT_EQ(lines, want_lines);
        std::fclose(f);
      }
    }
  }
}

// Every token's name is the scan's interned copy of its text, the engine's
// handle for a handle's text: names are compared by pointer.
TEST_F(Lexer, NamesAreTheInternedTexts) {
  const std::string text =
      "<?php ; , ( ) [ ] { } = == === > < >= <= ++ -- + - * / . .= => -> && || | ! % $ "
      "if else for do while function class try foreach switch echo print array int bool "
      "float string object integer boolean double real eval $_POST_DATA qz_decoded "
      "ECHO Echo iff $x foo 'lit' 12 ?>";
  for (unsigned long o : {0ul, static_cast<unsigned long>(QZ_OPT_INTERPRETER_REACH)}) {
    qz_engine_set_options(o);
    php_lex_reset();
    buf_file_handle src(text.c_str());
    unsigned long named = 0;
    while (_qz_token* t = php_lex_get_token(&src, 0)) {
      ASSERT_NE(t->name, nullptr);
      std::string copy = t->name;
      EXPECT_EQ(t->name, qz_engine_insert_sym(&copy[0])) << copy;
      named++;
      qz_token_free(t);
    }
    EXPECT_GT(named, 60u);
  }
  const struct {
    const char* text;
    char* const* handle;
  } handles[] = {{"<?php ;", &qz_engine_quote_handle},
                 {"<?php (", &qz_engine_sleft_handle},
                 {"<?php =>", &qz_engine_arrpair_handle},
                 {"<?php echo", &qz_engine_echo_handle},
                 {"<?php $_POST_DATA", &qz_engine_dangerous_data}};
  for (const auto& h : handles) {
    php_lex_reset();
    buf_file_handle src(h.text);
    _qz_token* t = php_lex_get_token(&src, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->name, *h.handle) << h.text;
    qz_token_free(t);
  }
}

// The ignored characters are php_ignore_syms as it stands, read up to its
// first NUL and never past its four bytes.
TEST_F(Lexer, IgnoredCharactersFollowTheSet) {
  char saved[sizeof php_ignore_syms];
  std::memcpy(saved, php_ignore_syms, sizeof saved);
  const struct {
    char syms[4];
    std::string text;
    Toks expected;
  } rows[] = {
      {{'\r', '!', '@', '\0'}, "<?php a@b!c;", {"W abc", "S ;"}},
      {{'x', '\0', '@', '\0'}, "<?php axb@c;", {"W ab@c", "S ;"}},  // '@' follows the NUL
      {{'x', 'y', 'z', 'w'}, "<?php axbyczwd@e;", {"W abcd@e", "S ;"}},
      {{'\0', '!', '@', '\r'}, "<?php a@b;", {"W a@b", "S ;"}},
      {{'<', '\0', '\0', '\0'}, "t <?php a; ?> u <?php b;", {}},  // no tag can open
  };
  for (const auto& r : rows) {
    std::memcpy(php_ignore_syms, r.syms, sizeof r.syms);
    EXPECT_EQ(lex(r.text), r.expected) << r.text;
  }
  std::memcpy(php_ignore_syms, saved, sizeof saved);
}

// Integer literals: base 10 from the leading digits without the extended
// reading, PHP's bases and separators with it; too large saturates.
TEST_F(Lexer, IntegerValues) {
  const struct {
    const char* text;
    long plain, reach;
  } rows[] = {
      {"0", 0, 0},
      {"42abc", 42, 42},
      {"0012", 12, 10},
      {"09", 9, 9},
      {"1_000", 1, 1000},
      {"0x1F", 0, 31},
      {"0b101", 0, 5},
      {"0o17", 0, 15},
      {"9223372036854775807", LONG_MAX, LONG_MAX},
      {"9223372036854775808", LONG_MAX, LONG_MAX},
      {"99999999999999999999999", LONG_MAX, LONG_MAX},
      {"18446744073709551626", LONG_MAX, LONG_MAX},
  };
  for (const auto& r : rows) {
    for (bool reach : {false, true}) {
      qz_engine_set_options(reach ? static_cast<unsigned long>(QZ_OPT_INTERPRETER_REACH) : 0ul);
      php_lex_reset();
      std::string text = std::string("<?php ") + r.text + ";";
      buf_file_handle src(text.c_str());
      _qz_token* t = php_lex_get_token(&src, 0);
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(t->type, TOKEN_INTEGER) << r.text;
      EXPECT_EQ(t->value.lval, reach ? r.reach : r.plain) << r.text << (reach ? " (reach)" : "");
      qz_token_free(t);
    }
  }
  qz_engine_set_options(0);
}

// The operator table: exact texts only, one to three characters.
TEST(OperatorTable, LookupMatchesWholeTexts) {
  const struct {
    const char* text;
    int precedence;  // -1: no operator
  } rows[] = {
      {"+=", 2}, {"=", 3},  {"==", 4},   {"===", 4},   {"!==", 4},  {"->", 3},
      {"=>", 4}, {"&&", 2}, {"||", 2},   {"|", 2},     {"!", 6},    {"*", 5},
      {".=", 2}, {"<=", 3}, {"&", -1},   {"====", -1}, {"=x", -1},  {"", -1},
      {"a", -1}, {"^", -1}, {"!=!", -1}, {"<<", -1},   {"+++", -1}, {"-->", -1},
  };
  for (const auto& r : rows) {
    std::string text = r.text;
    const php_operator* op = php_lookup_operator(&text[0]);
    if (r.precedence < 0) {
      EXPECT_EQ(op, nullptr) << r.text;
      continue;
    }
    ASSERT_NE(op, nullptr) << r.text;
    EXPECT_STREQ(op->text, r.text);
    EXPECT_EQ(op->length, text.size());
    EXPECT_EQ(op->precedence, r.precedence) << r.text;
  }
  EXPECT_EQ(php_lookup_operator(nullptr), nullptr);
}

}  // namespace
