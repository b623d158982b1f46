/*
 * The collector: marks what the scan still reaches (variables, runtime
 * stacks, array items, lists and values modules hold, the lexer's waiting
 * tokens) and sweeps the token pool and the runtime strings of the rest.
 * When it runs is set by what the scan has made since the last collection,
 * so its work stays in proportion to the scan's.
 */

#include "php/php_reclaim.h"

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_eval.h"
#include "php/php_lex.h"
#include "runtime/qz_array.h"
#include "runtime/qz_mempool.h"
#include "runtime/qz_string.h"

#include <algorithm>
#include <new>
#include <vector>

static bool reclaim_armed = false;

/* Bytes made so far: strings, tokens and array items, as running totals. */
static unsigned long reclaim_bytes_made() {
  return qz_string_bytes_made() + qz_engine_memory_pool_for_token.allocations * sizeof(_qz_token) +
         qz_engine_bucket_pool.allocations * sizeof(_qz_bucket);
}

/* The next collection runs once reclaim_bytes_made() reaches this. */
static unsigned long reclaim_next = 0;

/* Half what the last collection kept, at least QZ_RECLAIM_MIN_STEP: the
 * scan's peak stays near one and a half times what it holds, and each
 * collection's work (in proportion to what it keeps) is paid for by at
 * least half as many bytes made. Near the memory budget the step shrinks
 * to half the room left, so garbage alone cannot end a scan, but never
 * below an eighth of the least step, which bounds the work of a scan whose
 * kept data fills its budget. */
static void reclaim_schedule(unsigned long kept) {
  unsigned long step = std::max(kept / 2, QZ_RECLAIM_MIN_STEP);
  if (qz_scan_memory_budget) {
    unsigned long room =
        qz_scan_memory_budget - std::min(qz_scan_memory_used, qz_scan_memory_budget);
    step = std::min(step, std::max(room / 2, QZ_RECLAIM_MIN_STEP / 8));
  }
  reclaim_next = reclaim_bytes_made() + step;
}

/* Values the scan's last collection kept: the next one sizes its set for as many,
 * sparing the set its step-by-step growth. */
static size_t reclaim_last_values = 0;

/* Lists held for the whole scan (php_reclaim_keep). */
static std::vector<_qz_token*> reclaim_kept_lists;
/* Value vectors held until released (php_reclaim_hold), innermost last. */
static std::vector<const std::vector<_qz_value>*> reclaim_held_values;

void php_reclaim_scan_begin() {
  reclaim_armed = true;
  reclaim_last_values = 0;
  reclaim_kept_lists.clear();
  reclaim_held_values.clear();
  reclaim_schedule(0);
}

void php_reclaim_scan_end() {
  reclaim_armed = false;
  reclaim_kept_lists.clear();
  reclaim_held_values.clear();
}

void php_reclaim_hold(const std::vector<_qz_value>* values) {
  try {
    reclaim_held_values.push_back(values);
  } catch (const std::bad_alloc&) {
    /* Unheld, the values' strings could be freed while held: collect no more. */
    reclaim_armed = false;
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
  }
}

void php_reclaim_release(const std::vector<_qz_value>* values) {
  auto it = std::find(reclaim_held_values.rbegin(), reclaim_held_values.rend(), values);
  if (it != reclaim_held_values.rend()) reclaim_held_values.erase(std::next(it).base());
}

void php_reclaim_keep(_qz_token* list) {
  try {
    reclaim_kept_lists.push_back(list);
  } catch (const std::bad_alloc&) {
    /* Unkept, the list would be collected while held: collect no more. */
    reclaim_armed = false;
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
  }
}

bool php_reclaim_arm(bool armed) {
  bool was = reclaim_armed;
  reclaim_armed = armed;
  return was;
}

namespace {
struct reclaim_marks {
  qz_mempool<_qz_token>::marks tokens;
  qz_string_live values; /* what the kept values point at */

  void keep_value(const _qz_value& v) { values.insert(v.ptr); }
  /* Keeps tk and the list it is linked into, both ways. Tokens outside the
   * pool (a caller's list head, the evaluator's tag) end a walk: they are
   * never released, and what hangs from a list head is kept through it. */
  void keep_list(_qz_token* tk) {
    qz_mempool<_qz_token>& pool = qz_engine_memory_pool_for_token;
    if (tk && !pool.slab_of(tk)) tk = tk->next;
    for (_qz_token* t = tk; t && pool.mark(tokens, t); t = t->next) keep_value(t->value);
    if (!tk) return;
    for (_qz_token* t = tk->prev; t && pool.mark(tokens, t); t = t->prev) keep_value(t->value);
  }
  void keep_stack(const php_rt_stack& s) {
    for (_qz_token* t : s) keep_list(t);
  }
};
}  // namespace

/* A collection keeping, beyond the variables, stacks, array items, the
 * scan's kept lists and the lexer's waiting tokens, the statement chain from
 * `first` and the walk's tokens a and b. */
static void reclaim_collect(_qz_token* first, _qz_token* a, _qz_token* b) {
  unsigned long kept = 0;
  try {
    reclaim_marks m;
    m.values.reserve(reclaim_last_values);
    /* The list holds distinct pool tokens, so it cannot be longer than the
     * pool's count; the bound only guards against a list run into a loop. */
    unsigned long steps = qz_engine_memory_pool_for_token.count;
    for (_qz_token* e = php_rt_state.var_list; e && steps; e = e->next, steps--) {
      qz_engine_memory_pool_for_token.mark(m.tokens, e);
      m.keep_value(e->value);
    }
    for (_qz_token* list : reclaim_kept_lists) m.keep_list(list);
    for (const std::vector<_qz_value>* held : reclaim_held_values)
      for (const _qz_value& v : *held) m.keep_value(v);
    for (unsigned long i = 0; i < php_lex_pending_count(); i++) m.keep_list(php_lex_pending_at(i));
    m.keep_list(first);
    m.keep_list(a);
    m.keep_list(b);
    m.keep_stack(php_rt_state.arg_stk);
    m.keep_stack(php_rt_state.data_stk);
    m.keep_stack(php_rt_state.op_stk);
    qz_engine_bucket_pool.for_each_used([&m](const _qz_bucket* bk) { m.keep_value(bk->value); });
    qz_engine_memory_pool_for_token.sweep(m.tokens);
    reclaim_last_values = m.values.size();
    kept = qz_string_sweep(m.values);
  } catch (const std::bad_alloc&) {
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
  }
  kept += qz_engine_memory_pool_for_token.count * sizeof(_qz_token) +
          qz_engine_bucket_pool.count * sizeof(_qz_bucket);
  reclaim_schedule(kept);
}

/* A point of the statement walk where every token in use is on the stacks,
 * in the chain or one of a and b. */
static void reclaim_point(_qz_token* first, _qz_token* a, _qz_token* b) {
  if (!reclaim_armed || !(qz_engine_options & QZ_OPT_MEMORY_BUDGET)) return;
  if (reclaim_bytes_made() < reclaim_next) return;
  reclaim_collect(first, a, b);
}

void php_reclaim_point() {
  if (php_eval_nesting() == 0) reclaim_point(nullptr, nullptr, nullptr);
}

void php_reclaim_statement_point(_qz_token* first, _qz_token* a, _qz_token* b) {
  reclaim_point(first, a, b);
}
