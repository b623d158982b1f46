#ifndef QZ_TOKEN_H
#define QZ_TOKEN_H

/*
 * Tokens: the unit the whole interpreter works on. A token carries what was
 * read (line, interned name, lexical type) and what it currently holds (a
 * value). Tokens come only from the token pool and are reclaimed in bulk after
 * every scan; a token list is a doubly linked chain through prev/next, named
 * by its first token.
 */

#include <qzengine/export.h>

#include "runtime/qz_mempool.h"
#include "runtime/qz_string.h"

/* The type of a token and the type of a value share one enumeration. */
enum _token_type : int {
  TOKEN_NONE = 0,
  TOKEN_INTEGER = 5,
  TOKEN_STRING = 7,
  TOKEN_LITERAL = 8,
  TOKEN_ARRAY = 9,
  TOKEN_ARRAY_REF = 10,
  TOKEN_WORD = 11,
  TOKEN_SEPARATOR = 12,
  TOKEN_OPERATOR = 13,
  TOKEN_CALL = 14,
  TOKEN_IGNORED = 16,
  TOKEN_ARG_SPLITTER = 17,
  TOKEN_PAIR = 18,
};

/* A value; always copied whole. ptr is a _qz_string* (STRING), constant text
 * living to the end of the scan (LITERAL), a _qz_array* (ARRAY, ARRAY_REF) or
 * the pair's _qz_bucket* (PAIR).
 *
 * Copying a value (construction or assignment) counts the copy on a string
 * that an append may grow in place (qz_string_note_copy), so such a string
 * is never grown while a copy can see it. A value's string must therefore
 * reach another value only by a copy of the value, or through
 * qz_reference_string; moving the pointer by hand would hide a holder. */
struct _qz_value {
  _token_type type;
  long lval;
  unsigned long spare1; /* provenance bits (extended reading only; else 0) */
  unsigned long spare2;
  unsigned long assign_time;
  void* ptr;

  _qz_value() = default;
  _qz_value(const _qz_value& o)
      : type(o.type),
        lval(o.lval),
        spare1(o.spare1),
        spare2(o.spare2),
        assign_time(o.assign_time),
        ptr(o.ptr) {
    note_copy();
  }
  _qz_value& operator=(const _qz_value& o) {
    type = o.type;
    lval = o.lval;
    spare1 = o.spare1;
    spare2 = o.spare2;
    assign_time = o.assign_time;
    ptr = o.ptr;
    note_copy();
    return *this;
  }

  /* Counts a copy made byte for byte (a whole token copied with memcpy). */
  void note_copy() {
    if (type == TOKEN_STRING && ptr) qz_string_note_copy(static_cast<_qz_string*>(ptr));
  }
};

/* A provenance bit of _qz_value.spare1: the text came out of a decoder, or
 * was made from text that did. Copies of the value keep it. */
#define QZ_VALUE_DECODED 1ul
/* A provenance bit of _qz_value.spare1: the value was made from the
 * script's own path (__FILE__, __DIR__) by a built-in, text or not. Copies
 * of the value keep it. */
#define QZ_VALUE_OWN_PATH 2ul
/* A provenance bit of _qz_value.spare1 (extended reading): the value is an
 * item of an array variable that the script's top-level code never assigned,
 * read there ("$cmd['c']" with no $cmd), which old PHP's request globals
 * filled from the request ("?cmd[c]=..."). Copies of the value keep it. */
#define QZ_VALUE_GLOBAL_ITEM 4ul
/* A provenance bit of _qz_value.spare1 (extended reading): the text is one
 * character picked from a longer text by its position ("$s[94]"), or a join
 * of such picks alone; a join with anything else drops it. Copies of the
 * value keep it. */
#define QZ_VALUE_SPELLED 8ul

/* A mark of _qz_value.spare2 on an argument the evaluator read after "..."
 * (extended reading): the call spreads it into its items. */
#define QZ_VALUE_SPREAD 1ul
/* A mark of _qz_value.spare2 on a value the evaluator read after a "&" that
 * takes a reference ("$b = &$a", extended reading): an assignment shares
 * such an array rather than copying it. */
#define QZ_VALUE_REFERENCE 2ul
/* A mark of _qz_value.spare2 on the qz_var_var call of "A::${...}"
 * (extended reading): the text names a static property of a class, not a
 * variable. */
#define QZ_VALUE_STATIC_NAME 4ul

struct _qz_token {
  unsigned long lineno;
  char* name; /* interned: compared by pointer */
  _token_type type;
  _qz_value value;
  _qz_value* ref; /* set when the token stands for a value stored elsewhere */
  _qz_token* prev;
  _qz_token* next;
};

/* True when t is the separator named `handle` (an interned handle such as
 * qz_engine_sleft_handle); false for null. */
inline bool qz_token_is_sep(const _qz_token* t, const char* handle) {
  return t && t->type == TOKEN_SEPARATOR && t->name == handle;
}

/* Every token: slabs grow during a scan, are zeroed (not freed) after it and
 * freed at engine shutdown. */
QZ_EXPORT extern qz_mempool<_qz_token> qz_engine_memory_pool_for_token;

/* Typed allocation: a zeroed token with lineno, type and value.type set;
 * null (reported through the exception handler) when no slot can be had. */
QZ_EXPORT _qz_token* qz_token_alloc(_token_type type, _token_type value_type, unsigned long lineno);
/* Untyped allocation: a zeroed token with lineno set; null on failure,
 * reported only when the pool cannot get its first slab. */
QZ_EXPORT _qz_token* qz_token_alloc(unsigned long lineno);
/* Zeroes every field of tk (a local list head, say); null: nothing. */
QZ_EXPORT void qz_token_init(_qz_token* tk);
/* A new token with every field of src but prev/next (null); null for null src (reported). */
QZ_EXPORT _qz_token* qz_token_clone(_qz_token* src);
/* Links tk, with everything after it, behind the last token of list. Walks
 * list to its end, so a caller building a long list passes its known last
 * token for constant time. No change when either is null, when list never
 * ends (a loop) or when tk is already on list (that would make one). */
QZ_EXPORT void qz_token_append(_qz_token* list, _qz_token* tk);
/* Links tk alone behind the last token of list, cutting its former
 * successors off (their first token's prev becomes null). No change when
 * either is null or list never ends. */
QZ_EXPORT void qz_token_append_one(_qz_token* list, _qz_token* tk);
/* Builds a list in constant time per token: links tk alone behind *tail, or
 * starts the list with it when *head is null; *head and *tail follow. */
void qz_token_link(_qz_token** head, _qz_token** tail, _qz_token* tk);
/* Number of tokens from tk to the end of its list (distinct tokens when the
 * chain runs into a loop); 0 for null (reported). */
QZ_EXPORT unsigned long qz_token_length(_qz_token* tk);
/* Releases tk and every token after it. Tokens outside the pool (a caller's
 * local list head) are skipped; a cyclic list is released once. */
QZ_EXPORT void qz_token_free(_qz_token* tk);
/* Counts one more assignment to tk's value (value.assign_time); null: nothing. */
QZ_EXPORT void qz_token_inc_assign_time(_qz_token* tk);

#endif
