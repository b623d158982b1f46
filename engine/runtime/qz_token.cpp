/*
 * Tokens and token lists.
 *
 * Tokens live only in qz_engine_memory_pool_for_token; the one exception is a
 * caller's zeroed local record used as a list head, which release recognises
 * as lying in no slab and leaves alone.
 *
 * Token lists come from hostile input and from code that splices them in
 * many ways, so every walk here is iterative and bounded: the walks detect a
 * cycle (Brent's method, constant memory) and treat the distinct tokens of
 * the chain as the list. Nothing here recurses.
 */

#include "runtime/qz_token.h"

#include "common/qz_host.h"
#include "runtime/qz_string.h"

#include <cstring>

/* The token pool: slabs grow during a scan and are zeroed, not freed, after
 * it; freed by engine shutdown and at unload. */
qz_mempool<_qz_token> qz_engine_memory_pool_for_token(true);

/* Number of distinct tokens reached from tk along next (tk included), which
 * is the list length for a proper list and the length of the prefix plus the
 * loop for a chain that runs into a cycle. *cyclic tells which. */
static unsigned long qz_token_distinct(_qz_token* tk, bool* cyclic) {
  *cyclic = false;
  if (!tk) return 0;
  /* Brent: the hare runs ahead in windows of doubling size; the tortoise
   * jumps to the hare at each window's start. */
  unsigned long power = 1, lambda = 1, steps = 1;
  _qz_token* tortoise = tk;
  _qz_token* hare = tk->next;
  while (hare && hare != tortoise) {
    if (power == lambda) {
      tortoise = hare;
      power *= 2;
      lambda = 0;
    }
    hare = hare->next;
    lambda++;
    steps++;
  }
  if (!hare) return steps;
  /* A loop of length lambda: find where it starts (mu tokens before it). */
  *cyclic = true;
  _qz_token* a = tk;
  _qz_token* b = tk;
  for (unsigned long i = 0; i < lambda; i++) b = b->next;
  unsigned long mu = 0;
  while (a != b) {
    a = a->next;
    b = b->next;
    mu++;
  }
  return mu + lambda;
}

/* The last token of list, or null when the chain from list never ends. When
 * `probe` lies on the chain, *contains is set. */
static _qz_token* qz_token_last(_qz_token* list, _qz_token* probe, bool* contains) {
  bool cyclic = false;
  unsigned long n = qz_token_distinct(list, &cyclic);
  *contains = false;
  if (cyclic) return nullptr;
  _qz_token* last = list;
  for (unsigned long i = 1;; i++) {
    if (last == probe) *contains = true;
    if (i == n) break;
    last = last->next;
  }
  return last;
}

/* Takes a slot, first-fit over the whole pool. The slot is zero: the pool
 * zeroes a record when it is released, swept or reset, and a new slab is
 * zero-filled, so no allocation here zeroes it again. */
static _qz_token* qz_token_take_slot() { return qz_engine_memory_pool_for_token.alloc(nullptr); }

/* Whether the pool has a slab or can get its first; reported when not. */
static bool qz_token_pool_ready() {
  if (qz_engine_memory_pool_for_token.first || qz_engine_memory_pool_for_token.add_slab())
    return true;
  qz_report_fault(QZ_FAULT_TOKEN_ALLOC);
  return false;
}

static void qz_token_zero(_qz_token* tk) { std::memset(static_cast<void*>(tk), 0, sizeof(*tk)); }

_qz_token* qz_token_alloc(_token_type type, _token_type value_type, unsigned long lineno) {
  if (!qz_token_pool_ready()) return nullptr;
  _qz_token* tk = qz_token_take_slot();
  if (!tk) {
    qz_report_fault(QZ_FAULT_TOKEN_ALLOC);
    return nullptr;
  }
  tk->lineno = lineno;
  tk->type = type;
  tk->value.type = value_type;
  return tk;
}

_qz_token* qz_token_alloc(unsigned long lineno) {
  if (!qz_token_pool_ready()) return nullptr;
  _qz_token* tk = qz_token_take_slot();
  if (!tk) return nullptr;
  tk->lineno = lineno;
  return tk;
}

void qz_token_init(_qz_token* tk) {
  if (tk) qz_token_zero(tk);
}

/* A clone takes its slot as qz_token_alloc(lineno) does, failures and
 * their reports included, and then sets every field. */
_qz_token* qz_token_clone(_qz_token* src) {
  if (!src) {
    qz_report_fault(QZ_FAULT_TOKEN_CLONE_NULL);
    return nullptr;
  }
  if (!qz_token_pool_ready()) return nullptr;
  _qz_token* tk = qz_token_take_slot();
  if (!tk) return nullptr;
  /* Byte for byte: the copy is counted once, below. */
  std::memcpy(static_cast<void*>(tk), src, sizeof(*tk));
  tk->value.note_copy();
  tk->prev = nullptr;
  tk->next = nullptr;
  return tk;
}

void qz_token_append(_qz_token* list, _qz_token* tk) {
  if (!list || !tk) return;
  bool contains = false;
  _qz_token* last = qz_token_last(list, tk, &contains);
  /* A list without an end has nowhere to append, and linking a token that is
   * already on the list would close a loop. */
  if (!last || contains) return;
  last->next = tk;
  tk->prev = last;
}

void qz_token_link(_qz_token** head, _qz_token** tail, _qz_token* tk) {
  tk->next = nullptr;
  tk->prev = *head ? *tail : nullptr;
  if (*head)
    (*tail)->next = tk;
  else
    *head = tk;
  *tail = tk;
}

void qz_token_append_one(_qz_token* list, _qz_token* tk) {
  if (!list || !tk) return;
  bool contains = false;
  _qz_token* last = qz_token_last(list, tk, &contains);
  if (!last) return;
  /* tk ends up last with no successor, so no loop can form even when tk was
   * already on the list. */
  last->next = tk;
  tk->prev = last;
  if (tk->next) tk->next->prev = nullptr;
  tk->next = nullptr;
}

unsigned long qz_token_length(_qz_token* tk) {
  if (!tk) {
    qz_report_fault(QZ_FAULT_TOKEN_LENGTH_NULL);
    return 0;
  }
  bool cyclic = false;
  return qz_token_distinct(tk, &cyclic);
}

void qz_token_free(_qz_token* tk) {
  bool cyclic = false;
  unsigned long n = qz_token_distinct(tk, &cyclic);
  /* Each of the n distinct tokens is visited once: the successor is read
   * before the token is zeroed, and no token is reached twice in n steps. */
  for (unsigned long i = 0; i < n && tk; i++) {
    _qz_token* next = tk->next;
    /* Only a slot in use held its value: a local list head or a slot
     * released before holds nothing that was counted. */
    if (tk->value.type == TOKEN_STRING && tk->value.ptr) {
      auto* s = static_cast<_qz_string*>(tk->value.ptr);
      if ((s->refcount & QZ_STRING_GROWABLE) && qz_engine_memory_pool_for_token.in_use(tk))
        qz_string_drop_holder(s);
    }
    qz_engine_memory_pool_for_token.release(tk);
    tk = next;
  }
}

void qz_token_inc_assign_time(_qz_token* tk) {
  if (tk) tk->value.assign_time++;
}
