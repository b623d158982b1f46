#ifndef QZ_BEHAVIOR_RULES_H
#define QZ_BEHAVIOR_RULES_H

/*
 * Rule file loader and rule model.
 *
 * The rule file holds one enciphered rule text per line (uppercase
 * hexadecimal of RC4 under the built-in pass phrase). Four kinds of rule are
 * read into four tables, in file order:
 *   define_var(NAME,VALUE)
 *   define_behavior(FUNCTIONS,CONDITIONS,SCORE,DESCRIPTION[,EXACT])
 *   define_call_list(NAMES,SCORE,DESCRIPTION)
 *   define_repeat_call(FUNCTION,MIN_COUNT,SCORE,DESCRIPTION)
 * CONDITIONS is a list of items "N=PATTERN" (argument N holds a pattern),
 * "N^PATTERN" (argument N begins with a pattern) and "N:constant" (argument
 * N is a text the script fixed), joined by "&".
 * Text fields are cut to fit their fixed-width arrays; numbers are read as
 * strtol reads them and kept as signed 32-bit values. Lines that cannot be
 * deciphered or parsed are skipped silently.
 *
 * All state is process-global and unguarded: one thread, one scan at a time.
 */

#include <qzengine/export.h>

#include "common/qz_limits.h"

#include <cstdint>
#include <list>
#include <string>
#include <vector>

/* ---- Rule grammar ----
 * How the loader reads a rule text, stated once for the loader and for the
 * tools that check rule files the same way. */

/* Every keyword begins with this. */
#define QZ_RULE_KEYWORD_PREFIX "define_"
/* Ends each field but the last, from the left; the last runs to the last ")". */
#define QZ_RULE_FIELD_SEP ','
/* Separates the conditions of a behaviour rule and the names of a call list;
 * empty items are skipped. */
#define QZ_RULE_ITEM_SEP '&'
/* Separates a condition's argument position from its pattern. */
#define QZ_RULE_COND_SEP '='
/* Separates a condition's argument position from the name of a test, in an
 * item without QZ_RULE_COND_SEP: "N:constant". */
#define QZ_RULE_TEST_SEP ':'
/* The test that holds when the argument is a text the script fixed: not
 * empty, no "$" (request markers, variables left unresolved) and none of the
 * engine's own "qz_" markers (decoded, unknown or invalid values). */
#define QZ_RULE_CONSTANT_TEST "constant"
/* The pattern the loader stores for an "N:constant" condition, since the
 * record has no field for a kind. It begins with QZ_RULE_ITEM_SEP, which
 * splits items and so can never be part of a pattern cut from a rule text:
 * no pattern written in a rule file reads as this marker. */
#define QZ_RULE_CONSTANT_PATTERN "&constant"
/* Separates a condition's argument position from a pattern the argument
 * must begin with, in an item without QZ_RULE_COND_SEP: "N^PATTERN". */
#define QZ_RULE_PREFIX_SEP '^'
/* What the loader stores before the pattern of an "N^PATTERN" condition; it
 * begins with QZ_RULE_ITEM_SEP for the reason given above. */
#define QZ_RULE_PREFIX_MARK "&^"
/* Separates the alternatives of a function list, a pattern or a value. */
#define QZ_RULE_ALT_SEP '+'
/* A conditions field of at most this many characters ("", "0", "ab") stands
 * for no conditions, unless it holds QZ_RULE_TEST_SEP or QZ_RULE_PREFIX_SEP. */
#define QZ_RULE_NO_CONDITIONS_MAX 2
/* Longest plain rule text whose enciphered line (two hexadecimal digits per
 * character) and its LF fit one read of QZ_RULE_LINE_BUFFER bytes. */
#define QZ_RULE_PLAIN_MAX ((QZ_RULE_LINE_BUFFER - 2) / 2)

/* Fields of each kind of rule, up to its last ")". */
#define QZ_RULE_VAR_FIELDS 2         /* NAME, VALUE */
#define QZ_RULE_BEHAVIOR_FIELDS 4    /* FUNCTIONS, CONDITIONS, SCORE, DESCRIPTION[,EXACT] */
#define QZ_RULE_CALL_LIST_FIELDS 3   /* NAMES, SCORE, DESCRIPTION */
#define QZ_RULE_REPEAT_CALL_FIELDS 4 /* FUNCTION, MIN_COUNT, SCORE, DESCRIPTION */

enum qz_rule_kind {
  QZ_RULE_NONE,
  QZ_RULE_VAR,
  QZ_RULE_BEHAVIOR,
  QZ_RULE_CALL_LIST,
  QZ_RULE_REPEAT_CALL
};

struct qz_rule_keyword {
  const char* word;
  qz_rule_kind kind;
  int fields; /* the kind's QZ_RULE_*_FIELDS */
};

#define QZ_RULE_KEYWORD_COUNT 4
/* The keywords, in the order the loader tries them. */
extern const qz_rule_keyword qz_rule_keywords[QZ_RULE_KEYWORD_COUNT];

/* The keyword a rule text begins with, or null when none (or text is null).
 * Tried in table order and by prefix only: "define_variable(...)" is a
 * define_var rule. */
const qz_rule_keyword* qz_rule_keyword_of(const char* text);

/* A number field's value as a rule keeps it: the low 32 bits of what strtol
 * (base 10) read, taken as signed. " 7x" is 7, "x" is 0, 4294967295 is -1. */
int64_t qz_rule_number_kept(long value);

/* Whether a condition item (the text between two QZ_RULE_ITEM_SEP) is the
 * constant test: one or more decimal digits, QZ_RULE_TEST_SEP and
 * QZ_RULE_CONSTANT_TEST, nothing else. When it is and arg_index is not null,
 * *arg_index receives the position as number fields keep it. */
bool qz_rule_constant_item(const char* item, int64_t* arg_index);

/* Whether a condition item is a begins-with test: one or more decimal
 * digits, QZ_RULE_PREFIX_SEP and a pattern of at least one character. When
 * it is, *arg_index (if not null) receives the position as number fields
 * keep it and *pattern (if not null) points at the pattern inside item. */
bool qz_rule_prefix_item(const char* item, int64_t* arg_index, const char** pattern);

/* One define_var line. */
struct _behavior_define_var {
  char var_name[QZ_RULE_FIELD_SIZE];
  char var_value[QZ_RULE_FIELD_SIZE]; /* alternatives separated by "+" */
};

/* One argument condition of a behaviour rule. */
struct _behavior_condition {
  int64_t arg_index; /* argument position from 0 */
  /* alternatives separated by "+", a variable name, or, for the constant
   * test, exactly QZ_RULE_CONSTANT_PATTERN, or, for a begins-with test,
   * QZ_RULE_PREFIX_MARK followed by alternatives or a variable name */
  char pattern[QZ_RULE_FIELD_SIZE];
};

/* Whether the condition is the constant test rather than a pattern. */
bool qz_rule_cond_is_constant(const _behavior_condition* cond);

/* The pattern of a begins-with condition (inside cond->pattern, after
 * QZ_RULE_PREFIX_MARK), or null when the condition is of another kind. */
const char* qz_rule_cond_prefix(const _behavior_condition* cond);

/* One define_behavior line. */
struct _behavior_descriptor {
  int64_t exact_match;                /* non-zero: patterns must equal the argument */
  char functions[QZ_RULE_FIELD_SIZE]; /* alternatives separated by "+", or a variable name */
  char description[QZ_RULE_FIELD_SIZE];
  int64_t score;
  uint64_t cond_count; /* 0 to QZ_RULE_MAX_ITEMS */
  _behavior_condition conds[QZ_RULE_ITEM_SLOTS];
};

/* One define_call_list line. */
struct _behavior_call_list {
  uint64_t call_count; /* 0 to QZ_RULE_MAX_ITEMS */
  int64_t score;
  char description[QZ_RULE_FIELD_SIZE];
  char calls[QZ_RULE_ITEM_SLOTS][QZ_RULE_NAME_SIZE];
};

/* One define_repeat_call line. */
struct _behavior_repeat_call {
  char function[QZ_RULE_NAME_SIZE];
  int64_t min_count;
  int64_t score;
  char description[QZ_RULE_FIELD_SIZE];
};

/* Path of the rule file, set by qz_behavior_startup; engine lifetime. */
QZ_EXPORT extern char g_szRulePath[QZ_RULE_PATH_SIZE];
/* 1 once the rule file has been read; 0 before and after shutdown. */
QZ_EXPORT extern int g_RuleLoaded;
/* The rule tables, in file order. They own their records (malloc'ed, zero
 * filled), which live until qz_behavior_shutdown. */
QZ_EXPORT extern std::vector<_behavior_define_var*> qz_behavior_vars;
QZ_EXPORT extern std::vector<_behavior_descriptor*> qz_behaviors;
QZ_EXPORT extern std::vector<_behavior_call_list*> qz_behavior_call_lists;
QZ_EXPORT extern std::vector<_behavior_repeat_call*> qz_behavior_repeat_calls;
/* Function names that the call check neither counts nor matches. */
QZ_EXPORT extern std::list<std::string> ignore_calls;

/* Remembers the rule file's path (cut to QZ_RULE_PATH_SIZE - 1 characters)
 * and checks that it opens for reading. Reads no rule. Returns 1 when the
 * file opened, 0 when it did not or path is null. */
QZ_EXPORT int qz_behavior_startup(const char* path);

/* Reads the rule file named at startup into the tables (appending to them).
 * Fills ignore_calls first. Returns 1 and sets g_RuleLoaded when the file was
 * read to its end, 0 when it cannot be opened (g_RuleLoaded stays 0). Bad
 * lines are skipped; a line over the 500-byte read buffer is handled as
 * several pieces, none of which forms a rule. */
QZ_EXPORT int qz_behavior_startup_i();

/* Frees every record, empties the four tables and clears g_RuleLoaded;
 * ignore_calls stays. Returns 1. */
QZ_EXPORT int qz_behavior_shutdown();

/* Parse one deciphered rule text in place (zero bytes are written at the
 * field separators) and append one record to the kind's table. A malformed
 * text (no "(", no ")" after it, a missing comma before the last ")", a
 * condition item with no "=" and neither of the forms "N:constant" and
 * "N^PATTERN") appends
 * nothing. text must be a writable,
 * zero-terminated string; null is ignored. */
QZ_EXPORT void define_var(char* text);
QZ_EXPORT void define_behavior(char* text);
QZ_EXPORT void define_call_list(char* text);
QZ_EXPORT void define_repeat_call(char* text);

/* Hands one deciphered rule text to the parser its keyword selects; a text
 * that begins with no keyword is ignored. Returns 1 when a record was
 * appended, else 0. text is parsed in place as above. */
int qz_behavior_define(char* text);

/* A number that changes whenever a table gains or loses records, so that
 * structures derived from the tables know when to rebuild. */
unsigned long qz_behavior_rules_version();

#endif
