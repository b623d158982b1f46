#ifndef PHP_LEX_STRING_H
#define PHP_LEX_STRING_H

/*
 * Extended reading of strings (QZ_OPT_INTERPRETER_REACH). With the flag, a string is read whole as
 * soon as its opening quote (or heredoc label) is met, in PHP's terms: every character is kept,
 * escapes are decoded as the kind of string decodes them, up to QZ_MAX_STRING_LENGTH characters are
 * kept, and variables in a double-quoted string, a heredoc or a backtick command split it into
 * pieces joined with "." (the tokens of 'a ' . $x . ' b'). The pieces wait in php_lex_pending;
 * php_lex_get_token hands them out one per call. Texts are interned as C strings, so a NUL that an
 * escape makes ("\0", "\x00") ends the text of its piece there. */

#include "php/php_lex.h"

/* The kinds of string, by how PHP reads their text. */
enum lex_str_kind {
  LEX_STR_SINGLE,   /* '...': only \\ and \' are escapes */
  LEX_STR_DOUBLE,   /* "...": every escape, variables */
  LEX_STR_BACKTICK, /* `...`: as "...", with \` for \" */
  LEX_STR_HEREDOC,  /* <<<LABEL: as "...", but \" is no escape */
  LEX_STR_NOWDOC,   /* <<<'LABEL': no escapes, no variables */
};

/* Reads a whole string of the given kind from source (its opening quote or
 * label line already read) into the queue and returns its first token (null
 * when no token could be had). A backtick command becomes the tokens of
 * shell_exec("...") . A string cut at QZ_MAX_STRING_LENGTH is reported as
 * reaching that limit. quote: the closing quote; label (label_len bytes):
 * a heredoc's closing label. */
_qz_token* php_lex_string_read(qz_io_handle* source, lex_str_kind kind, char quote,
                               const char* label, unsigned long label_len);
/* The oldest piece read and not yet handed out, or null when none waits. */
_qz_token* php_lex_string_next();
/* The queue of those pieces, for the lexer's reset, save and restore. */
php_lex_queue& php_lex_string_queue();

/* What the string reader takes from the lexer (php_lex.cpp). */
/* Fills the lexer's buffer with text and makes a word token of it. */
_qz_token* php_lex_word_of(const char* text);
/* Whether c may be part of a word (a name, a label). */
bool php_lex_is_word_byte(char c);
/* Whether c is one of the lexer's separators. */
bool php_lex_is_separator(char c);
/* Remembers that source has ended: every later read of it gives the end. */
void php_lex_note_ended(qz_io_handle* source);

#endif
