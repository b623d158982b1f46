/*
 * The script driver.
 *
 * One run walks a token stream (from the lexer, or a given token list) and
 * cuts it into statements at the separator ";". It marks the word before a
 * "(" as a call, gives variables the word type, treats `while` by evaluating
 * its condition once as a statement of its own, and hands each statement of
 * more than three tokens to the evaluator. There is no parser and no control
 * flow: every statement of every branch is evaluated once, in source order.
 *
 * Runs nest: a while condition and evaluated code start a run inside a run.
 * A nested run moves the outer statement's runtime stacks aside and puts them
 * back afterwards, so the outer statement goes on as if nothing had happened;
 * it only ever releases the tokens of its own statements.
 */

#include "php/php_driver.h"

#include "builtins/php_lib_registry.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "php/php_eval.h"
#include "php/php_function.h"
#include "php/php_lex.h"
#include "php/php_reclaim.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_mempool.h"
#include "runtime/qz_symtable.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

/* ---- Driver state (process-global) ------------------------------------- */

/* Runs of php_debug active right now; 0 outside a scan. */
static unsigned long php_driver_run_depth;

unsigned long php_run_depth() { return php_driver_run_depth; }

/* Entry d holds the outer statement's stacks while the run at depth d
 * works. Kept between runs, its emptied stacks keep their capacity, so a
 * nested run (every function walk and loop round) starts with stacks that
 * need not grow again. */
static php_rt_saved driver_saved[QZ_MAX_NESTED_RUNS];

/* Gives back the stacks of a slot that a huge statement grew past
 * QZ_RUN_STACK_KEEP entries, so no slot holds that memory for good. */
static void driver_saved_trim(php_rt_saved* saved) {
  for (php_rt_stack* s : {&saved->arg_stk, &saved->data_stk, &saved->op_stk})
    if (s->capacity() > QZ_RUN_STACK_KEEP) php_rt_stack().swap(*s);
}

/* ---- Scratch tokens of nested list runs -------------------------------- */

/* A nested run over a token list (a function body, a loop body) reads
 * copies of the list's tokens, which it rewrites and drops within the run.
 * It takes them from a scratch area of its depth instead of the token pool:
 * a statement hands its copies back when it is released, and whatever else
 * the run made goes at once when the run ends. The blocks are kept from run
 * to run and freed when the scan ends. They are copies of code the scan
 * holds anyway, not values, so they are not charged to the scan's budget
 * (whose share for loop rounds is about values that grow); instead at most
 * QZ_DRIVER_SCRATCH_BLOCKS blocks are made in a scan, and copies beyond them
 * come from the pool again. Only nested runs use the area: no collection
 * runs while they work, so no collection needs to see these tokens. */
struct driver_scratch {
  std::vector<_qz_token*> blocks; /* QZ_DRIVER_SCRATCH_BLOCK tokens each */
  unsigned long taken = 0;        /* tokens handed out of the blocks in this run */
  std::vector<_qz_token*> spare;  /* handed back by released statements, zeroed */

  bool holds(const _qz_token* tk) const {
    for (const _qz_token* b : blocks)
      if (tk >= b && tk < b + QZ_DRIVER_SCRATCH_BLOCK) return true;
    return false;
  }
};

/* Entry d serves the run at depth d, as driver_saved does. */
static driver_scratch driver_scratch_at[QZ_MAX_NESTED_RUNS];
/* Blocks of every depth together, against QZ_DRIVER_SCRATCH_BLOCKS. */
static unsigned long driver_scratch_blocks = 0;

/* A copy of src as qz_token_clone makes it (prev and next null), from the
 * scratch area s; from the pool when s is null or full. */
static _qz_token* driver_scratch_clone(driver_scratch* s, _qz_token* src) {
  if (!s) return qz_token_clone(src);
  _qz_token* tk = nullptr;
  if (!s->spare.empty()) {
    tk = s->spare.back();
    s->spare.pop_back();
  } else {
    unsigned long block = s->taken / QZ_DRIVER_SCRATCH_BLOCK;
    if (block == s->blocks.size()) {
      if (driver_scratch_blocks >= QZ_DRIVER_SCRATCH_BLOCKS) return qz_token_clone(src);
      s->blocks.reserve(QZ_DRIVER_SCRATCH_BLOCKS);
      void* mem = qz_scan_malloc(QZ_DRIVER_SCRATCH_BLOCK * sizeof(_qz_token), false);
      if (!mem) return qz_token_clone(src);
      s->blocks.push_back(static_cast<_qz_token*>(mem));
      driver_scratch_blocks++;
    }
    tk = &s->blocks[block][s->taken % QZ_DRIVER_SCRATCH_BLOCK];
    s->taken++;
  }
  std::memcpy(static_cast<void*>(tk), src, sizeof(*tk));
  tk->value.note_copy();
  tk->prev = nullptr;
  tk->next = nullptr;
  return tk;
}

/* Ends the use of a scratch token: the copy of a growable string it counted
 * is given back, as qz_token_free gives it back for a pool token. */
static void driver_scratch_drop(_qz_token* tk) {
  if (tk->value.type == TOKEN_STRING && tk->value.ptr) {
    auto* str = static_cast<_qz_string*>(tk->value.ptr);
    if (str->refcount & QZ_STRING_GROWABLE) qz_string_drop_holder(str);
  }
  std::memset(static_cast<void*>(tk), 0, sizeof(*tk));
}

/* Releases the list from first, as qz_token_free does: its pool tokens go
 * back to the pool and its tokens of s back to s. */
static void driver_scratch_free(driver_scratch* s, _qz_token* first) {
  if (!s || s->blocks.empty() || !first) {
    qz_token_free(first);
    return;
  }
  /* The distinct tokens of the chain, each released alone: the successor is
   * read before a token is zeroed, and a pool token is cut off its list
   * first, so that qz_token_free releases it and nothing after it. */
  unsigned long n = qz_token_length(first);
  _qz_token* t = first;
  for (unsigned long i = 0; i < n && t; i++) {
    _qz_token* next = t->next;
    if (s->holds(t)) {
      driver_scratch_drop(t);
      s->spare.push_back(t);
    } else {
      t->next = nullptr;
      qz_token_free(t);
    }
    t = next;
  }
}

/* The end of a run that used s: every token it took is dropped. */
static void driver_scratch_end_run(driver_scratch* s) {
  unsigned long left = s->taken;
  for (unsigned long b = 0; b < s->blocks.size() && left; b++) {
    unsigned long n = std::min<unsigned long>(left, QZ_DRIVER_SCRATCH_BLOCK);
    for (unsigned long i = 0; i < n; i++)
      if (s->blocks[b][i].value.type == TOKEN_STRING) driver_scratch_drop(&s->blocks[b][i]);
    left -= n;
  }
  s->taken = 0;
  s->spare.clear();
}

/* Frees every depth's blocks (the end of a scan). */
static void driver_scratch_release_all() {
  for (driver_scratch& s : driver_scratch_at) {
    for (_qz_token* b : s.blocks) std::free(b);
    s.blocks.clear();
    s.blocks.shrink_to_fit();
    s.spare.clear();
    s.taken = 0;
  }
  driver_scratch_blocks = 0;
}

/* ---- The statement being collected ------------------------------------- */

/* The statement's tokens hang from a local head that the evaluator skips.
 * The tail and the running count make appending and the length test constant
 * time, however long the statement grows. */
struct php_statement {
  _qz_token head;
  _qz_token* tail;
  unsigned long count;     /* tokens after the head, the closing ";" included */
  driver_scratch* scratch; /* where the run's copies come from; null: the pool */
};

static void driver_stmt_init(php_statement* st, driver_scratch* scratch = nullptr) {
  qz_token_init(&st->head);
  st->head.type = TOKEN_IGNORED;
  st->tail = &st->head;
  st->count = 0;
  st->scratch = scratch;
}

static void driver_stmt_append(php_statement* st, _qz_token* tk) {
  st->tail->next = tk;
  tk->prev = st->tail;
  tk->next = nullptr;
  st->tail = tk;
  st->count++;
}

/* Releases the statement's tokens; the head is the caller's and stays. */
static void driver_stmt_release(php_statement* st) {
  _qz_token* first = st->head.next;
  st->head.next = nullptr;
  if (first) first->prev = nullptr;
  driver_scratch_free(st->scratch, first);
  st->tail = &st->head;
  st->count = 0;
}

static bool driver_is_statement_end(const _qz_token* tk) {
  return tk->type == TOKEN_SEPARATOR && tk->name == qz_engine_quote_handle;
}

/* A separator token named `handle` linked in after `at`. */
static bool driver_insert_separator(php_statement* st, _qz_token* at, char* handle) {
  _qz_token* t = qz_token_alloc(TOKEN_SEPARATOR, TOKEN_NONE, at->lineno);
  if (!t) return false;
  t->name = handle;
  t->prev = at;
  t->next = at->next;
  if (at->next) at->next->prev = t;
  at->next = t;
  if (st->tail == at) st->tail = t;
  st->count++;
  return true;
}

static bool driver_is_include_word(const _qz_token* tk) {
  static const char* const includes[] = {"include", "include_once", "require", "require_once"};
  if (tk->type != TOKEN_WORD || !tk->name) return false;
  char first = qz_ascii_lower(tk->name[0]);
  if (first != 'i' && first != 'r') return false; /* most words, settled cheaply */
  for (const char* k : includes)
    if (qz_ascii_fold_equal()(tk->name, k)) return true;
  return false;
}

static bool driver_is_new_word(const _qz_token* tk) {
  return tk->type == TOKEN_WORD && tk->name && (tk->name[0] == 'n' || tk->name[0] == 'N') &&
         qz_ascii_fold_equal()(tk->name, "new");
}

/* "new X" without an argument list gets an empty one, "new X()", so that X
 * is constructed and reported as it is with one. Not for a class named by a
 * variable ("new $c") or an anonymous class ("new class {...}"). */
static void driver_new_with_arguments(php_statement* st, _qz_token* word) {
  _qz_token* cls = word->next;
  if (!cls || cls->type != TOKEN_WORD || !cls->name || cls->name[0] == '$' ||
      qz_ascii_fold_equal()(cls->name, "class") ||
      (cls->next && qz_token_is_sep(cls->next, qz_engine_sleft_handle)))
    return;
  if (!driver_insert_separator(st, cls, qz_engine_sleft_handle)) return;
  if (!driver_insert_separator(st, cls->next, qz_engine_sright_handle)) return;
  cls->type = TOKEN_CALL;
}

/* Extended reading: "include EXPR;" (and include_once, require,
 * require_once) without parentheses is read as the call "include(EXPR);",
 * so the path's value is reported. The keyword may stand anywhere in the
 * statement ("return include EXPR;", "$c = require EXPR;"): as in PHP, the
 * path runs from the keyword to the end of the statement. "new X" without
 * an argument list is read on the same walk of the statement. */
static void driver_keywords_as_calls(php_statement* st) {
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH)) return;
  _qz_token* last = driver_is_statement_end(st->tail) ? st->tail->prev : st->tail;
  for (_qz_token* tk = st->head.next; tk && tk != last; tk = tk->next) {
    if (driver_is_new_word(tk)) driver_new_with_arguments(st, tk);
    if (!driver_is_include_word(tk)) continue;
    if (tk->next->type == TOKEN_SEPARATOR && tk->next->name == qz_engine_sleft_handle) return;
    if (!driver_insert_separator(st, last, qz_engine_sright_handle)) return;
    if (!driver_insert_separator(st, tk, qz_engine_sleft_handle)) return;
    tk->type = TOKEN_CALL;
    return;
  }
}

/* Extended reading: "$v = $v . ..." with $v never assigned starts from the
 * empty text, as PHP reads an undefined variable (junk-code generators build
 * names that way); otherwise the variable's name would be joined. */
static void driver_accumulate_from_empty(php_statement* st) {
  _qz_token* var = st->head.next;
  _qz_token* assign = var ? var->next : nullptr;
  _qz_token* again = assign ? assign->next : nullptr;
  _qz_token* cat = again ? again->next : nullptr;
  if (!cat || var->type != TOKEN_WORD || !var->name || var->name[0] != '$' ||
      assign->name != qz_engine_assign_handle || again->name != var->name ||
      cat->name != qz_engine_cat_handle)
    return;
  _qz_token* entry = php_reference_globals(var);
  if (!entry || entry->value.type != TOKEN_NONE || entry->ref || php_variable_is_superglobal(entry))
    return;
  entry->type = TOKEN_WORD;
  entry->value.type = TOKEN_LITERAL;
  entry->value.ptr = qz_engine_insert_sym(const_cast<char*>(""));
}

/* ---- list() and [...] on the left of "=" (extended reading) ----------- */

/* One place of a destructuring: the "$name" it assigns and the key that
 * picks its item (null: the place's position). */
struct driver_place {
  _qz_token* var;
  _qz_token* key;
};

static bool driver_is_variable(const _qz_token* t) {
  return t && t->type != TOKEN_LITERAL && t->name && t->name[0] == '$' && t->name[1];
}

/* The places between open and its matching close, read into *places; the
 * token after close is returned (null when the group never closes). A place
 * is "$v" or "key => $v"; any other (empty, nested, a property) keeps its
 * position and assigns nothing. */
static _qz_token* driver_read_places(_qz_token* open, std::vector<driver_place>* places) {
  unsigned long depth = 0;
  _qz_token* first = open->next; /* first token of the current place */
  for (_qz_token* t = open; t; t = t->next) {
    if (t->type == TOKEN_LITERAL) continue;
    bool opens =
        qz_token_is_sep(t, qz_engine_sleft_handle) || qz_token_is_sep(t, qz_engine_mleft_handle);
    bool closes =
        qz_token_is_sep(t, qz_engine_sright_handle) || qz_token_is_sep(t, qz_engine_mright_handle);
    if (opens) depth++;
    bool ends = depth == 1 && (closes || qz_token_is_sep(t, qz_engine_comma_handle));
    if (closes) depth--;
    if (!ends) continue;
    driver_place p{nullptr, nullptr};
    if (first != t && first->next == t && driver_is_variable(first)) p.var = first;
    if (first != t && first->next && first->next->name == qz_engine_arrpair_handle &&
        first->next->next && first->next->next->next == t &&
        driver_is_variable(first->next->next)) {
      p.key = first;
      p.var = first->next->next;
    }
    if (places->size() < QZ_MAX_DESTRUCTURE_PLACES) places->push_back(p);
    first = t->next;
    if (depth == 0) return t->next;
  }
  return nullptr;
}

/* The value a place takes from the value v being taken apart: an array's
 * item by the place's key or position; a text that carries request data
 * whole (each piece of it is request data too); else nothing. */
static bool driver_place_value(const _qz_value& v, const driver_place& p, unsigned long position,
                               _qz_value* out) {
  if ((v.type == TOKEN_ARRAY || v.type == TOKEN_ARRAY_REF) && v.ptr) {
    auto* arr = static_cast<_qz_array*>(v.ptr);
    _qz_bucket* b = nullptr;
    if (!p.key)
      b = qz_array_item(arr, position);
    else if (p.key->type == TOKEN_INTEGER && p.key->value.lval >= 0)
      b = qz_array_item(arr, static_cast<unsigned long>(p.key->value.lval));
    else if (p.key->type == TOKEN_LITERAL && p.key->name)
      b = qz_array_item(arr, p.key->name);
    if (!b) return false;
    *out = b->value;
    return true;
  }
  const char* text = php_value_text(v);
  if (!text || !php_text_request_marker_in(text)) return false;
  *out = v;
  return true;
}

/* "list($a, , $b) = EXPR" and "[$a, 'k' => $b] = EXPR" from first on (a
 * statement, or a loop condition): EXPR is evaluated (its calls reported)
 * and each variable takes the item its place picks; the construct itself is
 * no call. *taken (may be null) tells whether EXPR gave an array, as the
 * assignment's value does in a condition. False, touching nothing, for
 * anything else. */
static bool driver_destructure_from(_qz_token* first, bool* taken) {
  if (taken) *taken = false;
  if (!first || first->type == TOKEN_LITERAL) return false;
  _qz_token* open = nullptr;
  if (first->name && qz_ascii_fold_equal()(first->name, "list") &&
      qz_token_is_sep(first->next, qz_engine_sleft_handle))
    open = first->next;
  else if (qz_token_is_sep(first, qz_engine_mleft_handle))
    open = first;
  if (!open) return false;
  std::vector<driver_place> places;
  _qz_token* assign = driver_read_places(open, &places);
  if (!assign || assign->type == TOKEN_LITERAL || assign->name != qz_engine_assign_handle ||
      !assign->next || driver_is_statement_end(assign->next))
    return false;
  _qz_token* r = php_eval_expr(assign->next, nullptr);
  _qz_value v = php_variable_value(r);
  if (taken) *taken = (v.type == TOKEN_ARRAY || v.type == TOKEN_ARRAY_REF) && v.ptr;
  for (unsigned long i = 0; i < places.size(); i++) {
    _qz_value item;
    if (!places[i].var || !driver_place_value(v, places[i], i, &item)) continue;
    _qz_token* entry = php_reference_globals(places[i].var);
    if (!entry || php_variable_is_superglobal(entry)) continue;
    entry->type = TOKEN_WORD;
    entry->value = item;
    qz_token_inc_assign_time(entry);
  }
  qz_token_free(r);
  return true;
}

/* Whether first may open a destructuring ("list" or "["): settled without a
 * call for the statements, nearly all, that open otherwise. */
static inline bool driver_may_destructure(const _qz_token* first) {
  return first && first->type != TOKEN_LITERAL && first->name &&
         (first->name == qz_engine_mleft_handle || (first->name[0] | 0x20) == 'l');
}

static bool driver_destructure(php_statement* st) {
  return driver_may_destructure(st->head.next) && driver_destructure_from(st->head.next, nullptr);
}

/* Whether t is the word "if", "else" or "elseif", in any letter case. */
static bool driver_is_if_word(const _qz_token* t) {
  /* Most statements begin with another word: settled by the first byte. */
  const char c0 = qz_ascii_lower(t->name[0]);
  if (c0 != 'i' && c0 != 'e') return false;
  return qz_ascii_fold_equal()(t->name, "if") || qz_ascii_fold_equal()(t->name, "else") ||
         qz_ascii_fold_equal()(t->name, "elseif");
}

/* Extended reading: "$v = clean($v);", clean one of the text cleaners that
 * scripts of old PHP's request globals put their input through, is shown to
 * the call module before the statement runs (php_call_note_self_clean): as
 * the statement, or after a "{" or "}" of an "if" statement, or of a "}"
 * that ends a block, that holds it (a block's last statement takes in what
 * follows it). Not in or after a loop, whose rounds assign again. */
static void driver_note_self_clean(php_statement* st) {
  static const char* const cleaners[] = {"stripslashes", "stripcslashes", "trim",
                                         "urldecode",    "rawurldecode",  "base64_decode"};
  static const char* const loops[] = {"while", "for", "foreach", "do"};
  _qz_token* first = st->head.next;
  if (php_run_depth() != 1 || !first || first->type == TOKEN_LITERAL || !first->name) return;
  const bool block = !driver_is_variable(first);
  if (block && !qz_token_is_sep(first, qz_engine_lright_handle) && !driver_is_if_word(first))
    return;
  for (_qz_token* var = first; var; var = block ? var->next : nullptr) {
    if (block && var->type != TOKEN_LITERAL && var->name)
      for (const char* l : loops)
        if (qz_ascii_fold_equal()(var->name, l)) return;
    if ((var != first && !qz_token_is_sep(var->prev, qz_engine_lleft_handle) &&
         !qz_token_is_sep(var->prev, qz_engine_lright_handle)) ||
        !driver_is_variable(var) || !var->next || var->next->name != qz_engine_assign_handle)
      continue;
    _qz_token* name = var->next->next;
    _qz_token* open = name ? name->next : nullptr;
    _qz_token* again = open ? open->next : nullptr;
    _qz_token* close = again ? again->next : nullptr;
    if (!close || name->type == TOKEN_LITERAL || !name->name ||
        !qz_token_is_sep(open, qz_engine_sleft_handle) || again->type == TOKEN_LITERAL ||
        again->name != var->name || !qz_token_is_sep(close, qz_engine_sright_handle) ||
        (close->next && !qz_token_is_sep(close->next, qz_engine_quote_handle)))
      continue;
    for (const char* c : cleaners)
      if (qz_ascii_fold_equal()(name->name, c)) php_call_note_self_clean(var);
  }
}

/* Evaluates a statement unless it is too short to (a function's "return"
 * is its walk's), then releases it. */
static void driver_stmt_finish(php_statement* st) {
  driver_keywords_as_calls(st);
  if (qz_engine_options & QZ_OPT_INTERPRETER_REACH) {
    driver_accumulate_from_empty(st);
    driver_note_self_clean(st);
  }
  /* Extended reading evaluates "$i++;" and "++$i;" too: a loop counter
   * stepped in a loop body moves. */
  unsigned long shortest = (qz_engine_options & QZ_OPT_INTERPRETER_REACH)
                               ? QZ_SHORT_STATEMENT_TOKENS - 1
                               : QZ_SHORT_STATEMENT_TOKENS;
  bool reach = (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0;
  if ((!reach || !driver_destructure(st)) && !php_function_return(&st->head) &&
      st->count > shortest)
    qz_token_free(php_eval_expr(&st->head, nullptr));
  driver_stmt_release(st);
}

/* True when tk would grow a statement that holds QZ_MAX_STATEMENT_TOKENS
 * already, under the memory bounds: such tokens are dropped up to the ";"
 * that ends the statement, and the limit is reported (once per scan). */
static bool driver_statement_full(const php_statement* st, const _qz_token* tk) {
  if (st->count < QZ_MAX_STATEMENT_TOKENS || !(qz_engine_options & QZ_OPT_MEMORY_BUDGET))
    return false;
  if (driver_is_statement_end(tk)) return false;
  php_call_limit_reached(PHP_LIMIT_STATEMENT_TOKENS, tk->lineno);
  return true;
}

/* ---- for (extended reading) -------------------------------------------- */

static bool driver_for_copy_part(_qz_token** pos, char* stop, _qz_token** out);
static void driver_for_mark_calls(_qz_token* from, char* stop);
static _qz_token* driver_last(_qz_token* list);

/* Loop rounds after the first walked in this scan, against
 * QZ_MAX_LOOP_ROUNDS_PER_SCAN. */
static unsigned long driver_loop_rounds = 0;
/* Tokens those rounds walked, against QZ_MAX_LOOP_TOKENS_PER_SCAN. */
static unsigned long driver_loop_tokens = 0;

/* Where a run reads its tokens: its source, or the token list it walks (a
 * function body, a loop body), whose tokens it hands out as clones. */
struct driver_input {
  qz_io_handle* source;
  _qz_token** cursor;      /* the list's next token; used when source is null */
  driver_scratch* scratch; /* where the copies come from; null: the pool */

  bool readable() const { return source || cursor; }

  _qz_token* next() {
    if (source) return php_lex_get_token(source, 0);
    while (cursor && *cursor) {
      _qz_token* src = *cursor;
      *cursor = src->next;
      if (_qz_token* c = driver_scratch_clone(scratch, src)) return c;
    }
    return nullptr;
  }

  /* The group from the next "open" through its matching "close", what came
   * before it dropped (php_lex_get_token_pair, over either input); null
   * when the input ends first. */
  _qz_token* group(char* open, char* close) {
    if (source) return php_lex_get_token_pair(open, close, source);
    _qz_token *head = nullptr, *tail = nullptr;
    unsigned long depth = 0;
    for (_qz_token* t; (t = next());) {
      bool bracket = t->type != TOKEN_LITERAL;
      if (!head && !(bracket && t->name == open)) {
        qz_token_free(t);
        continue;
      }
      qz_token_link(&head, &tail, t);
      if (bracket && t->name == open) depth++;
      if (bracket && t->name == close && --depth == 0) return head;
    }
    qz_token_free(head);
    return nullptr;
  }
};

/* The body of a loop: a "{ ... }" group from its "{" (first), or one
 * statement from first through its ";". A list owned by the caller; what the
 * end of input cut short is the list so far. */
static _qz_token* driver_read_body(_qz_token* first, driver_input* in) {
  bool group = first->type == TOKEN_SEPARATOR && first->name == qz_engine_lleft_handle;
  _qz_token *head = nullptr, *tail = nullptr;
  qz_token_link(&head, &tail, first);
  unsigned long depth = group ? 1 : 0;
  if (!group && driver_is_statement_end(first)) return first;
  for (_qz_token* t; (t = in->next());) {
    qz_token_link(&head, &tail, t);
    if (t->type != TOKEN_SEPARATOR) continue;
    if (t->name == qz_engine_lleft_handle) depth++;
    if (t->name == qz_engine_lright_handle && depth && --depth == 0 && group) break;
    if (!group && depth == 0 && driver_is_statement_end(t)) break;
  }
  return first;
}

/* Whether the scan has used more of its memory budget than later loop
 * rounds may take: they only compute values, and a loop whose condition the
 * walk cannot settle may keep growing its texts (a string spliced into itself
 * each round) where the real loop would have stopped. The rest of the script
 * keeps the room. */
static bool driver_loop_memory_spent() {
  return qz_scan_memory_budget != 0 &&
         qz_scan_memory_used > qz_scan_memory_budget / QZ_LOOP_BUDGET_SHARE;
}

/* Extended reading: a loop condition that takes an array apart
 * ("while (list($k, $v) = each($a))") goes on while the array is there;
 * *go (may be null) tells. False for any other condition. */
static bool driver_destructure_condition(_qz_token* cond, bool* go) {
  return (qz_engine_options & QZ_OPT_INTERPRETER_REACH) && driver_may_destructure(cond) &&
         driver_destructure_from(cond, go);
}

/* Whether a loop condition's value lets the loop go on. */
static bool driver_goes_on(_qz_token* cond) {
  if (!cond) return true; /* "for (;;)" */
  bool taken = false;
  if (driver_destructure_condition(cond, &taken)) return taken;
  _qz_token* r = php_eval_expr(cond, nullptr);
  bool go = r && r->value.type == TOKEN_INTEGER && r->value.lval != 0;
  qz_token_free(r);
  return go;
}

/* Clones of the tokens from `from` up to `stop` (not included; the end of
 * the list when null), as a new list of the caller's. */
static _qz_token* driver_copy_range(_qz_token* from, const _qz_token* stop) {
  _qz_token *head = nullptr, *tail = nullptr;
  for (_qz_token* t = from; t && t != stop; t = t->next)
    if (_qz_token* c = qz_token_clone(t)) qz_token_link(&head, &tail, c);
  return head;
}

/* A loop header's condition: everything between the header's "(" and its
 * last ")", its calls marked, as a new list of the caller's. */
static _qz_token* driver_header_condition(_qz_token* header) {
  driver_for_mark_calls(header->next, nullptr);
  return driver_copy_range(header->next, driver_last(header));
}

/* Whether a loop's stop condition holds: anything but the integer 0 (a
 * value the walk cannot know included) ends the loop. */
static bool driver_stops(_qz_token* stop) {
  _qz_token* r = php_eval_expr(stop, nullptr);
  bool ends = !(r && r->value.type == TOKEN_INTEGER && r->value.lval == 0);
  qz_token_free(r);
  return ends;
}

/* The condition C of the first "if (C) break;" or "if (C) { break; }"
 * standing directly in a loop's "{ ... }" body, as a new list with its
 * calls marked (the caller's); null when there is none. */
static _qz_token* driver_break_condition(_qz_token* body) {
  if (!body || body->type != TOKEN_SEPARATOR || body->name != qz_engine_lleft_handle)
    return nullptr;
  auto is_word = [](const _qz_token* t, const char* w) {
    return t && t->type != TOKEN_LITERAL && t->name && qz_ascii_fold_equal()(t->name, w);
  };
  auto is_sep = [](const _qz_token* t, const char* handle) {
    return t && t->type == TOKEN_SEPARATOR && t->name == handle;
  };
  unsigned long depth = 0;
  for (_qz_token* t = body; t; t = t->next) {
    if (is_sep(t, qz_engine_lleft_handle)) depth++;
    if (is_sep(t, qz_engine_lright_handle) && --depth == 0) return nullptr;
    if (depth != 1 || !is_word(t, "if") || !is_sep(t->next, qz_engine_sleft_handle)) continue;
    /* The condition runs to the ")" that closes the "(" after "if". */
    _qz_token* close = nullptr;
    unsigned long parens = 0;
    for (_qz_token* u = t->next; u; u = u->next) {
      if (is_sep(u, qz_engine_sleft_handle)) parens++;
      if (is_sep(u, qz_engine_sright_handle) && --parens == 0) {
        close = u;
        break;
      }
    }
    if (!close || close == t->next->next) return nullptr;
    _qz_token* after = close->next;
    bool braced = is_sep(after, qz_engine_lleft_handle);
    _qz_token* word = braced ? after->next : after;
    if (!is_word(word, "break") || !word->next || !driver_is_statement_end(word->next) ||
        (braced && !is_sep(word->next->next, qz_engine_lright_handle)))
      continue;
    _qz_token* cond = driver_copy_range(t->next->next, close);
    driver_for_mark_calls(cond, nullptr);
    return cond;
  }
  return nullptr;
}

/* Whether a loop body (a list read by driver_read_body) joins texts with
 * ".="; *size is set to its number of tokens. */
static bool driver_joins_text(const _qz_token* body, unsigned long* size) {
  bool joins = false;
  *size = 0;
  for (const _qz_token* t = body; t; t = t->next) {
    ++*size;
    joins = joins || (t->type == TOKEN_OPERATOR && t->name && std::strcmp(t->name, ".=") == 0);
  }
  return joins;
}

/* The rounds of a loop over body (a list read by driver_read_body): the
 * first whatever the condition, later ones, quietly, while cond gives a
 * nonzero integer (never when cond is missing or a fixed number), at most
 * QZ_FOR_LOOP_MAX rounds (QZ_REACH_LOOP_MAX for a short body that joins
 * texts), and in the scan at most
 * QZ_MAX_LOOP_ROUNDS_PER_SCAN rounds walking QZ_MAX_LOOP_TOKENS_PER_SCAN
 * body tokens, and none once the scan has used 1/QZ_LOOP_BUDGET_SHARE of its
 * memory budget. step (may be null) follows each
 * round's body. With cond_first, the first round evaluates cond aloud too
 * (its calls are reported) before its body. */
static void driver_loop_run(_qz_token* cond, bool cond_first, _qz_token* body, _qz_token* step) {
  php_call_loop_scope in_loop;
  bool group = body->type == TOKEN_SEPARATOR && body->name == qz_engine_lleft_handle;
  /* A loop whose condition is missing or fixed ("for (;;)", "while (true)")
   * ends only at a break: it runs on while the condition of an
   * "if (C) break;" of its body does not hold, and without one it is
   * walked once. */
  bool fixed = !cond || (!cond->next && cond->value.type == TOKEN_INTEGER &&
                         !(cond->name && cond->name[0] == '$'));
  _qz_token* stop = fixed && (qz_engine_options & QZ_OPT_INTERPRETER_REACH)
                        ? driver_break_condition(body)
                        : nullptr;
  unsigned long size = 0;
  /* A short body that joins texts is how a decoder builds its payload: it
   * may run up to the longer bound; any other loop stops at the baseline's. */
  unsigned long most = driver_joins_text(body, &size) && size <= QZ_FOREACH_ROUND_TOKENS
                           ? QZ_REACH_LOOP_MAX
                           : QZ_FOR_LOOP_MAX;
  for (unsigned long round = 0; round < most && !qz_engine_is_interupt(); round++) {
    if (round > 0) {
      if ((fixed && !stop) || driver_loop_rounds >= QZ_MAX_LOOP_ROUNDS_PER_SCAN ||
          size > QZ_MAX_LOOP_TOKENS_PER_SCAN - driver_loop_tokens || driver_loop_memory_spent())
        break;
      php_call_quiet++;
    }
    if (round == 0 && cond_first && cond && !driver_destructure_condition(cond, nullptr))
      qz_token_free(php_eval_expr(cond, nullptr));
    bool go = round == 0 || (stop ? !driver_stops(stop) : driver_goes_on(cond));
    /* Only a round whose body runs counts against the scan's bounds: the
     * test that ends a loop is no round of it. */
    if (go && round > 0) {
      driver_loop_rounds++;
      driver_loop_tokens += size;
    }
    if (go) {
      php_debug(group ? body->next : body, nullptr, 1);
      if (step) qz_token_free(php_eval_expr(step, nullptr));
    }
    if (round > 0) php_call_quiet--;
    if (!go) break;
  }
  qz_token_free(stop);
}

/* A loop's header group "( ... )" and its body (*body, driver_read_body's
 * list): both lists belong to the caller. Null, with nothing held, when the
 * input ends before the body begins. */
static _qz_token* driver_loop_header(driver_input* in, _qz_token** body) {
  _qz_token* header = in->group(qz_engine_sleft_handle, qz_engine_sright_handle);
  _qz_token* first = header ? in->next() : nullptr;
  if (!first) {
    qz_token_free(header);
    return nullptr;
  }
  *body = driver_read_body(first, in);
  return header;
}

/* "while (cond) body" with extended reading: cond is evaluated aloud and
 * the body walked once, then the loop runs on quietly while cond holds, as a
 * for loop does (a decoder written as a while loop computes its output). */
static void driver_while(driver_input* in) {
  _qz_token* body;
  _qz_token* header = driver_loop_header(in, &body);
  if (!header) return;
  bool armed = php_reclaim_arm(false);
  _qz_token* cond = driver_header_condition(header);
  driver_loop_run(cond, true, body, nullptr);
  php_reclaim_arm(armed);
  qz_token_free(header);
  qz_token_free(body);
  qz_token_free(cond);
}

/* "do body while (cond);" with extended reading: the body is walked once,
 * then runs on quietly while cond holds, as a while loop's rounds do. A token
 * read after the body that does not go on as "while (...)" (or after it as
 * its ";") is handed back through *unread, to be read as code. */
static void driver_do(driver_input* in, _qz_token** unread) {
  *unread = nullptr;
  _qz_token* first = in->next();
  if (!first) return;
  _qz_token* body = driver_read_body(first, in);
  bool group = body->type == TOKEN_SEPARATOR && body->name == qz_engine_lleft_handle;
  _qz_token* word = in->next();
  bool armed = php_reclaim_arm(false);
  if (!word || word->type == TOKEN_LITERAL || word->name != qz_engine_while_handle) {
    php_debug(group ? body->next : body, nullptr, 1);
    *unread = word;
  } else {
    qz_token_free(word);
    _qz_token* header = in->group(qz_engine_sleft_handle, qz_engine_sright_handle);
    _qz_token* cond = header ? driver_header_condition(header) : nullptr;
    /* The condition is read aloud once, before the first round, so that
     * its calls are reported as a while loop's are. */
    if (cond)
      driver_loop_run(cond, true, body, nullptr);
    else
      php_debug(group ? body->next : body, nullptr, 1);
    qz_token_free(header);
    qz_token_free(cond);
    _qz_token* end = header ? in->next() : nullptr;
    if (end && !driver_is_statement_end(end))
      *unread = end;
    else
      qz_token_free(end);
  }
  php_reclaim_arm(armed);
  qz_token_free(body);
}

/* "for (init; cond; step) body": init runs once; the body and the step run
 * once whatever the condition (so that what the body does is always seen),
 * then again while the condition gives a nonzero integer, at most
 * driver_loop_run's bound of rounds and QZ_MAX_LOOP_ROUNDS_PER_SCAN in the scan. The
 * later rounds compute values (a decoder loop's output) without reporting
 * calls again. */
static void driver_for(driver_input* in) {
  _qz_token* body;
  _qz_token* header = driver_loop_header(in, &body);
  if (!header) return;
  /* The lists below are held here only: no collection may run meanwhile. */
  bool armed = php_reclaim_arm(false);
  _qz_token *init = nullptr, *cond = nullptr, *step = nullptr;
  /* The three parts are statements: calls are marked in all of them before
   * they are copied, so that "$n = count($a)" calls count, never assigns a
   * variable named after it. The step runs to the header's own ")", past
   * the ")" of any call it makes. */
  driver_for_mark_calls(header->next, nullptr);
  _qz_token* pos = header->next;
  if (driver_for_copy_part(&pos, qz_engine_quote_handle, &init)) {
    pos = pos->next;
    if (driver_for_copy_part(&pos, qz_engine_quote_handle, &cond) && pos->next)
      step = driver_copy_range(pos->next, driver_last(header));
  }
  if (init) qz_token_free(php_eval_expr(init, nullptr));
  driver_loop_run(cond, false, body, step);
  php_reclaim_arm(armed);
  qz_token_free(header);
  qz_token_free(body);
  qz_token_free(init);
  qz_token_free(cond);
  qz_token_free(step);
}

/* ---- foreach (extended reading) ----------------------------------------- */

/* Gives the variable named by tk (a "$name" word; anything else: nothing)
 * the value v. */
static void driver_foreach_bind(_qz_token* tk, const _qz_value& v) {
  if (!tk || !tk->name || tk->name[0] != '$' || tk->name[1] == '\0') return;
  tk->type = TOKEN_WORD;
  _qz_token* e = php_reference_globals(tk);
  if (!e) return;
  e->type = TOKEN_WORD;
  e->ref = nullptr;
  e->value = v;
  qz_token_inc_assign_time(e);
}

/* Appends the keys and values of the items after the first of v, an array
 * a foreach walks, as pairs (key, value) in order: at most
 * QZ_REACH_LOOP_MAX - 1 of them. Nothing when v holds at most one item, or its
 * items are all one request marker. */
static void driver_foreach_rest(const _qz_value& v, std::vector<_qz_value>* pairs) {
  if (v.type != TOKEN_ARRAY || !v.ptr) return;
  const auto* arr = static_cast<const _qz_array*>(v.ptr);
  if (arr->item_marker || !arr->head || !arr->head->next) return;
  for (const _qz_bucket* b = arr->head->next; b && pairs->size() < 2 * (QZ_REACH_LOOP_MAX - 1);
       b = b->next) {
    pairs->push_back(php_value_bucket_key(b));
    pairs->push_back(b->value);
  }
}

/* Extended reading, a foreach over an array of several items: its body is
 * read here, as a loop's is, and walked with the first item bound (already)
 * and its calls reported. A body of at most QZ_FOREACH_ROUND_TOKENS tokens
 * that joins texts (".=") is then walked again, quietly, for each later item
 * of pairs (driver_foreach_rest), under the bounds of a for loop's later
 * rounds: that is how a loop builds a name or a payload piece by piece,
 * while the other rounds of an ordinary loop over a settings table would
 * only cost time. pairs was taken before the first round, as PHP iterates
 * over a copy of the array. */
static void driver_foreach_rounds(driver_input* in, _qz_token* key_var, _qz_token* value_var,
                                  const std::vector<_qz_value>& pairs) {
  php_call_loop_scope in_loop;
  _qz_token* first = in->next();
  if (!first) return;
  _qz_token* body = driver_read_body(first, in);
  bool group = body->type == TOKEN_SEPARATOR && body->name == qz_engine_lleft_handle;
  unsigned long size = 0;
  bool joins = driver_joins_text(body, &size);
  php_debug(group ? body->next : body, nullptr, 1);
  size_t walked = joins && size <= QZ_FOREACH_ROUND_TOKENS ? pairs.size() : 0;
  for (size_t i = 0; i + 1 < walked && !qz_engine_is_interupt(); i += 2) {
    if (driver_loop_rounds >= QZ_MAX_LOOP_ROUNDS_PER_SCAN ||
        size > QZ_MAX_LOOP_TOKENS_PER_SCAN - driver_loop_tokens || driver_loop_memory_spent())
      break;
    driver_loop_rounds++;
    driver_loop_tokens += size;
    if (key_var != value_var) driver_foreach_bind(key_var, pairs[i]);
    driver_foreach_bind(value_var, pairs[i + 1]);
    php_call_quiet++;
    php_debug(group ? body->next : body, nullptr, 1);
    php_call_quiet--;
  }
  qz_token_free(body);
}

/* "foreach (EXPR as $v)" and "foreach (EXPR as $k => $v)": the header is
 * read whole, EXPR is evaluated once as a statement of its own (its calls are
 * reported), and the loop variables get what its first iteration would give
 * them; the body that follows is read on as ordinary statements, or, over
 * an array of several items, walked once per item (driver_foreach_rounds).
 * Nothing of a header without "as" is evaluated. True when the body was
 * read and walked here. */
static bool driver_foreach(driver_input* in) {
  _qz_token* group = in->group(qz_engine_sleft_handle, qz_engine_sright_handle);
  if (!group) return false;
  bool walked = false;
  /* The evaluation below may collect; the header is held only here. */
  bool armed = php_reclaim_arm(false);
  _qz_token* as = group->next;
  while (as && !(as->type == TOKEN_WORD && as->name && strcasecmp(as->name, "as") == 0))
    as = as->next;
  if (as) {
    php_statement st;
    driver_stmt_init(&st);
    _qz_token* prev = nullptr;
    for (_qz_token* t = group->next; t != as; t = t->next) {
      _qz_token* c = qz_token_clone(t);
      if (!c) continue;
      if (c->type != TOKEN_LITERAL && c->name && c->name[0] == '$') c->type = TOKEN_WORD;
      if (prev && c->type == TOKEN_SEPARATOR && c->name == qz_engine_sleft_handle &&
          prev->name != qz_engine_mright_handle && php_paren_opens_call(prev))
        prev->type = TOKEN_CALL;
      driver_stmt_append(&st, c);
      prev = c;
    }
    _qz_token* value = st.count ? php_eval_expr(&st.head, nullptr) : nullptr;
    driver_stmt_release(&st);
    _qz_token *key_var = nullptr, *value_var = nullptr;
    for (_qz_token* t = as->next; t && t->name != qz_engine_sright_handle; t = t->next) {
      if (t->name == qz_engine_arrpair_handle) key_var = value_var;
      if (t->type != TOKEN_LITERAL && t->name && t->name[0] == '$') value_var = t;
    }
    /* A bare variable comes back as itself: its entry holds the value. */
    _qz_value item, key;
    std::vector<_qz_value> rest;
    if (value && php_value_first_item(php_variable_value(value), &item, &key)) {
      if (key_var != value_var) driver_foreach_bind(key_var, key);
      driver_foreach_bind(value_var, item);
      driver_foreach_rest(php_variable_value(value), &rest);
    }
    qz_token_free(value);
    if (!rest.empty()) {
      php_reclaim_hold(&rest);
      driver_foreach_rounds(in, key_var, value_var, rest);
      php_reclaim_release(&rest);
      walked = true;
    }
  }
  php_reclaim_arm(armed);
  qz_token_free(group);
  return walked;
}

/* ---- Runs -------------------------------------------------------------- */

/* Extended reading: which braces of a run open class bodies, so that a
 * function defined inside one is recorded as a method. Function bodies are
 * read whole by their definitions, so the braces seen here are those of
 * classes and of control statements. */
namespace {
struct driver_classes {
  std::vector<unsigned long> starts; /* brace depth of each open class body */
  std::vector<const char*> names;    /* its class's name (interned), null if none */
  unsigned long depth = 0;
  bool pending = false;               /* a class keyword was met; its body opens next */
  const char* pending_name = nullptr; /* the word after that keyword */

  void see(const _qz_token* tk, const _qz_token* before) {
    if (!tk->name) return;
    if (tk->type == TOKEN_SEPARATOR && tk->name == qz_engine_lleft_handle) {
      depth++;
      if (pending) {
        starts.push_back(depth);
        names.push_back(pending_name);
      }
      pending = false;
    } else if (tk->type == TOKEN_SEPARATOR && tk->name == qz_engine_lright_handle) {
      if (!starts.empty() && starts.back() == depth) {
        starts.pop_back();
        names.pop_back();
      }
      if (depth) depth--;
    } else if (tk->type == TOKEN_WORD &&
               (tk->name == qz_engine_class_handle || qz_ascii_fold_equal()(tk->name, "trait") ||
                qz_ascii_fold_equal()(tk->name, "interface"))) {
      /* "X::class" names a class; it opens nothing. */
      pending = !(before && before->name && std::strcmp(before->name, ":") == 0);
      pending_name = nullptr;
    } else if (pending && !pending_name && tk->type == TOKEN_WORD && before &&
               before->name == qz_engine_class_handle) {
      pending_name = tk->name;
      /* A doc comment that ends on the line before the class, or on its
       * own line, is the class's: reflection reads it. */
      unsigned long end = 0;
      const std::string& doc = php_lex_doc_comment(&end);
      if (end && tk->lineno >= end && tk->lineno - end <= 1) php_function_class_doc(tk->name, doc);
    }
  }
  bool inside() const { return !starts.empty(); }
  const char* name() const { return names.empty() ? nullptr : names.back(); }
};
}  // namespace

/* Extended reading: the word "fn" opens an arrow function, unless it names
 * a method ("->fn", "::fn"). */
static bool driver_is_arrow_keyword(const _qz_token* tk, const _qz_token* before) {
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || tk->type != TOKEN_WORD || !tk->name ||
      !qz_ascii_fold_equal()(tk->name, "fn"))
    return false;
  return !(before && before->type != TOKEN_LITERAL && before->name &&
           (std::strcmp(before->name, "->") == 0 || std::strcmp(before->name, ":") == 0));
}

/* The statement loop of one run; see php_debug. */
static void driver_loop(_qz_token* tokens, qz_io_handle* source, unsigned char raw,
                        driver_scratch* scratch) {
  php_statement st;
  driver_stmt_init(&st, scratch);
  php_call_run_begin();
  _qz_token* cursor = tokens;
  _qz_token* pending = nullptr; /* read ahead by a definition, not yet taken */
  driver_classes classes;
  php_call_foreach_bodies foreach_bodies;
  /* Loops read their header and body from the same input as the run. */
  driver_input in{tokens ? nullptr : source, tokens ? &cursor : nullptr, scratch};
  bool reach = (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0;
  for (;;) {
    if (qz_engine_is_interupt()) {
      qz_token_free(pending);
      driver_stmt_release(&st);
      return;
    }
    _qz_token* tk = nullptr;
    if (pending) { /* one token, or a closure's name and what ended it */
      tk = pending;
      pending = tk->next;
      tk->next = nullptr;
      if (pending) pending->prev = nullptr;
    } else if (!tokens) {
      tk = php_lex_get_token(source, raw);
    } else if (cursor) {
      _qz_token* src = cursor;
      cursor = cursor->next;
      tk = driver_scratch_clone(scratch, src);
      if (!tk) continue;
    }
    if (!tk) {
      driver_stmt_finish(&st);
      return;
    }
    if (driver_statement_full(&st, tk)) {
      qz_token_free(tk);
      continue;
    }

    if (st.count > 0 && tk->type == TOKEN_SEPARATOR && tk->name == qz_engine_sleft_handle &&
        st.tail->name != qz_engine_mright_handle && php_paren_opens_call(st.tail))
      st.tail->type = TOKEN_CALL;
    if (tk->type != TOKEN_CALL && tk->type != TOKEN_LITERAL && tk->name && tk->name[0] == '$')
      tk->type = TOKEN_WORD;
    if (tk->type != TOKEN_LITERAL) {
      if (qz_engine_options & QZ_OPT_INTERPRETER_REACH) {
        classes.see(tk, st.count ? st.tail : nullptr);
        foreach_bodies.see(tk);
      }
      if (tk->name == qz_engine_while_handle) {
        if (reach && in.readable())
          driver_while(&in);
        else if (source)
          php_parse_while(tk, source);
        qz_token_free(tk);
        continue;
      }
      /* "do" opens a statement; "->do" and "::do" name methods. */
      if (reach && !pending && st.count == 0 && in.readable() && tk->type == TOKEN_WORD &&
          tk->name && qz_ascii_fold_equal()(tk->name, "do")) {
        qz_token_free(tk);
        driver_do(&in, &pending);
        continue;
      }
      if (tk->name == qz_engine_for_handle && reach && in.readable()) {
        qz_token_free(tk);
        driver_for(&in);
        continue;
      }
      if (tk->name == qz_engine_foreach_handle && reach && in.readable()) {
        qz_token_free(tk);
        if (!driver_foreach(&in)) foreach_bodies.opened();
        continue;
      }
      bool arrow = driver_is_arrow_keyword(tk, st.count ? st.tail : nullptr);
      if (tk->name == qz_engine_function_handle || (arrow && source)) {
        /* "use function name;" imports a function of a namespace: it
         * defines none. */
        bool imported = !arrow && st.count && st.tail && st.tail->name &&
                        st.tail->type != TOKEN_LITERAL && qz_ascii_fold_equal()(st.tail->name, "use");
        if (imported && (qz_engine_options & QZ_OPT_INTERPRETER_REACH)) {
          /* read on as plain words */
        } else if (source && (qz_engine_options & QZ_OPT_INTERPRETER_REACH)) {
          bool replaces = false;
          _qz_token* unread = nullptr;
          pending = arrow ? php_function_define_arrow(tk, source, &replaces, &unread)
                          : php_function_define(tk, source, classes.inside(), classes.name(),
                                                &replaces, &unread);
          if (unread) { /* cut short: its tokens are code like any other */
            driver_stmt_append(&st, tk);
            driver_stmt_finish(&st);
            php_debug(unread, nullptr, 1);
            qz_token_free(unread);
            continue;
          }
          if (!pending || replaces) { /* recorded whole; a closure reads as its name */
            qz_token_free(tk);
            continue;
          }
        } else {
          php_parse_functiondef(tk, source);
        }
      }
    }

    driver_stmt_append(&st, tk);
    if (driver_is_statement_end(tk)) {
      driver_stmt_finish(&st);
      php_reclaim_point();
    }
  }
}

int php_debug(_qz_token* tokens, qz_io_handle* source, unsigned char raw) {
  if (php_driver_run_depth >= QZ_MAX_NESTED_RUNS) {
    php_call_limit_reached(PHP_LIMIT_NESTED_RUNS, php_lex_cur_lineno);
    return 0;
  }
  bool nested = php_driver_run_depth > 0;
  php_rt_saved& saved = driver_saved[php_driver_run_depth];
  php_lex_saved lex;
  php_lex_save(&lex);
  if (nested) php_rt_save(&saved);
  /* A nested run's native callers hold tokens no collection can see. */
  bool armed = nested ? php_reclaim_arm(false) : false;
  /* A nested run over a list copies its tokens into its depth's scratch. */
  driver_scratch* scratch = nested && tokens ? &driver_scratch_at[php_driver_run_depth] : nullptr;
  if (!nested && !tokens) php_function_hoist(source, raw);
  php_driver_run_depth++;
  driver_loop(tokens, source, raw, scratch);
  if (scratch) driver_scratch_end_run(scratch);
  if (!nested && !qz_engine_is_interupt()) php_function_walk_uncalled();
  php_driver_run_depth--;
  if (nested) {
    php_reclaim_arm(armed);
    php_rt_restore(&saved);
    driver_saved_trim(&saved);
    php_lex_restore_ended(&lex);
  }
  return 0;
}

/* ---- Scan set-up and tear-down ----------------------------------------- */

void php_startup() {
  driver_scratch_release_all();
  php_function_scan_begin();
  driver_loop_rounds = 0;
  driver_loop_tokens = 0;
  php_call_quiet = 0;
  php_lex_reset();
  php_rt_state.call_depth = 0;
  php_driver_run_depth = 0;
  php_call_limits_reset();
  php_lib_startup();
}

void php_shutdown() {
  php_function_scan_begin();
  driver_scratch_release_all();
  php_clear_rt_stk();
  php_variable_clear();
  php_rt_state.call_depth = 0;
  php_lib_shutdown();
}

/* ---- Control statements ------------------------------------------------ */

static _qz_token* driver_last(_qz_token* list) {
  while (list && list->next) list = list->next;
  return list;
}

/* The condition group "( ... )" is read whole and evaluated once, as one
 * statement whose "(" is skipped and whose ")" becomes its end; the body
 * that follows is read on by the caller as ordinary statements. */
int php_parse_while(_qz_token* tok, qz_io_handle* source) {
  if (tok) tok->type = TOKEN_IGNORED;
  if (!source) return 0;
  _qz_token* group =
      php_lex_get_token_pair(qz_engine_sleft_handle, qz_engine_sright_handle, source);
  if (!group) return 0;
  group->type = TOKEN_IGNORED;
  _qz_token* last = driver_last(group);
  last->type = TOKEN_SEPARATOR;
  last->name = qz_engine_quote_handle;
  php_debug(group, source, 1);
  qz_token_free(group);
  return 0;
}

int php_parse_functiondef(_qz_token*, qz_io_handle*) { return 0; }

int php_parse_if(_qz_token* tok, qz_io_handle*) {
  if (tok) tok->type = TOKEN_IGNORED;
  return 0;
}

/* Copies the tokens from *pos up to (not including) the first separator named
 * stop into a new list of clones and leaves *pos on that separator. False when
 * the list ends first. */
static bool driver_for_copy_part(_qz_token** pos, char* stop, _qz_token** out) {
  _qz_token* head = nullptr;
  _qz_token* tail = nullptr;
  _qz_token* t = *pos;
  for (; t; t = t->next) {
    if (t->type == TOKEN_SEPARATOR && t->name == stop) break;
    _qz_token* c = qz_token_clone(t);
    if (c) qz_token_link(&head, &tail, c);
  }
  *out = head;
  *pos = t;
  return t != nullptr;
}

/* The call marking of the driver, applied inside one part of a loop header
 * (stop: the separator that ends the part; null: the whole list). */
static void driver_for_mark_calls(_qz_token* from, char* stop) {
  _qz_token* prev = nullptr;
  for (_qz_token* t = from; t; t = t->next) {
    if (t->type == TOKEN_SEPARATOR && t->name == stop) break;
    if (prev && t->type == TOKEN_SEPARATOR && t->name == qz_engine_sleft_handle &&
        prev->name != qz_engine_mright_handle && php_paren_opens_call(prev))
      prev->type = TOKEN_CALL;
    prev = t;
  }
}

/* A bounded emulation of a for loop: init once, then condition, body and
 * step at most QZ_FOR_LOOP_MAX times. The driver itself never calls it. */
int php_parse_for(_qz_token*, qz_io_handle* source) {
  static char for_text[] = "for";
  qz_call_output(for_text);
  _qz_token* header =
      php_lex_get_token_pair(qz_engine_sleft_handle, qz_engine_sright_handle, source);
  _qz_token* body =
      header ? php_lex_get_token_pair(qz_engine_lleft_handle, qz_engine_lright_handle, source)
             : nullptr;
  _qz_token *init = nullptr, *cond = nullptr, *step = nullptr;
  bool ok = header && body;
  if (ok) {
    _qz_token* pos = header->next;
    ok = driver_for_copy_part(&pos, qz_engine_quote_handle, &init);
    if (ok) {
      pos = pos->next;
      driver_for_mark_calls(pos, qz_engine_quote_handle);
      ok = driver_for_copy_part(&pos, qz_engine_quote_handle, &cond);
    }
    if (ok) {
      pos = pos->next;
      ok = pos != nullptr && driver_for_copy_part(&pos, qz_engine_sright_handle, &step);
    }
  }
  if (ok) {
    qz_token_free(php_eval_expr(init, nullptr));
    for (unsigned long n = 0;; n++) {
      _qz_token* r = php_eval_expr(cond, nullptr);
      if (!r) break;
      bool go = r->value.type == TOKEN_INTEGER && r->value.lval != 0;
      qz_token_free(r);
      if (!go || n >= QZ_FOR_LOOP_MAX) break;
      php_debug(body, source, 0);
      qz_token_free(php_eval_expr(step, nullptr));
    }
  }
  qz_token_free(header);
  qz_token_free(body);
  qz_token_free(init);
  qz_token_free(cond);
  qz_token_free(step);
  return 0;
}
