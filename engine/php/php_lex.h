#ifndef PHP_LEX_H
#define PHP_LEX_H

/*
 * The loose PHP lexer: pulls characters from an input source and hands back
 * one token per call. Text outside PHP tags is skipped; keywords are not told
 * from identifiers; php_accept classifies the collected text.
 * All lexer state is process-global and shared with nested (raw) reads.
 */

#include <qzengine/export.h>
#include <qzengine/qz_io_handle.h>

#include "common/qz_limits.h"
#include "runtime/qz_token.h"

#include <string>

struct php_lex_state_t {
  unsigned char in_php;     /* inside PHP code */
  unsigned char in_string;  /* inside a quoted string */
  unsigned char quote;      /* the quote that opened the string */
  unsigned char word_start; /* informational */
  unsigned char script_tag; /* informational: entered through a script tag */
};

/* Tokens already made and not yet handed out, oldest first: with
 * QZ_OPT_INTERPRETER_REACH one string may become several tokens, which
 * php_lex_get_token then returns one per call before reading on. */
struct php_lex_queue {
  _qz_token* tokens[QZ_LEX_STRING_PIECES];
  unsigned long first; /* index of the oldest */
  unsigned long count;
};

/* The tokens waiting in the running read's queue, oldest first: a
 * collection must keep them. */
unsigned long php_lex_pending_count();
_qz_token* php_lex_pending_at(unsigned long i);

/* Lexer state, process-global: one read at a time; php_lex_reset starts
 * every scan afresh, nested reads go through php_lex_save/restore below. */

/* Flags of the running read. */
QZ_EXPORT extern php_lex_state_t php_lex_state;
/* Text of the token being collected, always NUL-terminated; empty between
 * two tokens. */
QZ_EXPORT extern char php_lex_temp_buffer[QZ_LEX_TOKEN_MAX + 1];
/* Characters in php_lex_temp_buffer, 0 to QZ_LEX_TOKEN_MAX. */
QZ_EXPORT extern unsigned long php_lex_temp_buff_idx;
/* Current script line, 1 at the start of a scan; stamped on every token. */
QZ_EXPORT extern unsigned long php_lex_cur_lineno;
/* Characters dropped wherever they stand: carriage return, '!' and '@'
 * (with QZ_OPT_INTERPRETER_REACH, not inside strings). */
QZ_EXPORT extern char php_ignore_syms[4];

/* The next token of source, or null when the input is exhausted and nothing is
 * buffered or made ahead (a null source counts as exhausted). raw nonzero: the text is PHP
 * code from its first character. The token is new, owned by the caller, who
 * releases it with qz_token_free (or leaves it to the pool's reset after the
 * scan); its name is interned for the scan. A token that cannot be allocated
 * also gives null, which ends the caller's read like the end of input. */
QZ_EXPORT _qz_token* php_lex_get_token(qz_io_handle* source, unsigned char raw);
/* 1 for the 23 separator characters (+ - * / % = . > ! < ( ) , [ ] { } ? : ;
 * & | and space), else 0. */
QZ_EXPORT unsigned char php_is_char_seperator(char c);
/* 1 for a character of php_ignore_syms, else 0 (0 for NUL). */
QZ_EXPORT unsigned char php_ignore_chr(char c);
/* Appends c to the token buffer, unless the buffer is full (the character is
 * dropped) or c is a space or tab outside a string. */
QZ_EXPORT void php_append_char(char c);
/* Makes a token of the lexer's buffer and empties the buffer; kind is
 * TOKEN_WORD or TOKEN_LITERAL. Null for an empty word or a failed allocation. */
QZ_EXPORT _qz_token* php_accept(_token_type kind);
/* Drops the buffer's last character, if any. */
QZ_EXPORT void php_unappend_char();
/* One balanced group from the first `open` token to its matching `close`;
 * null (nothing kept) at end of input. */
QZ_EXPORT _qz_token* php_lex_get_token_pair(char* open, char* close, qz_io_handle* source);
/* The tokens from the next one up to the first named name (interned; that
 * one is released, not returned), or to the end of input; a new list owned
 * by the caller. Null when the input is exhausted at once. */
QZ_EXPORT _qz_token* php_lex_get_token_until(char* name, qz_io_handle* source);

/* Resets the lexer for a new scan: flags cleared, line 1, buffer empty, no
 * source ended, no doc comment. */
void php_lex_reset();

/* Extended reading: the text between the opening slash and two stars and
 * the closing star and slash of the last doc comment read (at most
 * QZ_DOC_COMMENT_MAX_BYTES of it), and the line it ended on; the empty text
 * and 0 before any. Valid until the next read. */
const std::string& php_lex_doc_comment(unsigned long* end_line);

/* The reading state that a nested read changes: the flags, the line counter,
 * the source whose end the lexer has met (every later read of that source
 * reports the end at once, since a 0xFF byte is not sticky in the source) and
 * the tokens made ahead of the outer read. The token buffer is not part of
 * it: it is empty between two tokens. */
struct php_lex_saved {
  php_lex_state_t state;
  unsigned long lineno;
  qz_io_handle* ended_source;
  php_lex_queue pending;
};

/* Records the reading state in *saved (the caller's record). */
void php_lex_save(php_lex_saved* saved);
/* Prepares the lexer to read another text in the middle of the current read:
 * outside any string, with lines counted from line (0: the count goes on),
 * and with no tokens made ahead: those of the outer read wait in the record
 * of the php_lex_save just before, until php_lex_restore. */
void php_lex_begin_text(unsigned long line);
/* Puts the whole recorded state back, so that after another text was read in
 * between (code a built-in evaluates) the outer read goes on unchanged.
 * Tokens the other text's read made ahead and never handed out (it was
 * interrupted) are dropped, left to the pool's reset; only after
 * php_lex_begin_text, or with nothing handed out since php_lex_save. */
void php_lex_restore(const php_lex_saved* saved);
/* Puts back only which source has ended. For a nested run that may read on
 * in the outer source itself (a while condition meeting another while): what
 * it read stays read, but a source that died with the run must not be taken
 * for a later source at the same address. */
void php_lex_restore_ended(const php_lex_saved* saved);

#endif
