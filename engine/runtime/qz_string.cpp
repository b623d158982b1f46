/*
 * Runtime strings.
 *
 * A string is one zero-filled heap block: the two header words, the text and
 * a run of zero bytes behind it, so `text` can always be read as a C string
 * while `length` stays authoritative (texts may hold NUL bytes). Every string
 * made here is appended to qz_engine_all_strings and lives until
 * qz_string_free_all, or until a collection finds nothing holding it
 * (qz_string_sweep); the reference count only records sharing.
 *
 * A string is immutable once made, with one exception: qz_string_append may
 * grow the text of a string that an earlier append made for the same owner,
 * into room kept behind it, while no other value holds it. The count that
 * tells so is kept by value copies and token releases (runtime/qz_token.h);
 * a string that any other value may see is never written again.
 *
 * Sizes are checked before any block is requested: a text longer than
 * QZ_MAX_STRING_LENGTH is never built. Such a request yields a new string
 * holding the invalid-string text instead, so the scan goes on with a value
 * that the rules read as "not available".
 */

#include "runtime/qz_string.h"

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_mempool.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

/* Every live string in creation order; emptied by qz_string_free_all. */
std::list<_qz_string*> qz_engine_all_strings;

/* Strings made since the last qz_string_free_all, freed ones included. */
static unsigned long qz_string_made = 0;
/* Bytes of every string block made over the process's life. */
static unsigned long qz_string_bytes_total = 0;

/* Zero bytes kept behind every text. */
static const size_t qz_string_pad = 9;

/* What a string that qz_string_append made keeps in front of its header
 * (QZ_STRING_GROWABLE): other strings are charged nothing for it. */
struct qz_string_room {
  unsigned long capacity; /* bytes of text the block has room for, >= length */
  const void* owner;      /* the holder an append may grow the text for */
};

static bool qz_string_growable(const _qz_string* s) {
  return (s->refcount & QZ_STRING_GROWABLE) != 0;
}

static qz_string_room* qz_string_room_of(_qz_string* s) {
  return reinterpret_cast<qz_string_room*>(reinterpret_cast<char*>(s) - sizeof(qz_string_room));
}

/* Bytes of the block of a string with room for n bytes of text. */
static size_t qz_string_block_bytes(size_t n, bool growable = false) {
  return (growable ? sizeof(qz_string_room) : 0) + offsetof(_qz_string, text) + n + qz_string_pad;
}

/* Bytes of s's block, as charged when it was made. */
static size_t qz_string_bytes_of(_qz_string* s) {
  if (qz_string_growable(s)) return qz_string_block_bytes(qz_string_room_of(s)->capacity, true);
  return qz_string_block_bytes(s->length);
}

/* The start of s's block, which std::free takes. */
static void* qz_string_block_of(_qz_string* s) {
  return qz_string_growable(s) ? static_cast<void*>(qz_string_room_of(s)) : s;
}

static const char qz_string_invalid_text[] = QZ_INVALID_STRING_TEXT;

/* Makes the block for a text of n bytes with room for `room` (n <= room <=
 * QZ_MAX_STRING_LENGTH, so the sum cannot wrap), with length n, refcount 1
 * and zero bytes from n to the end of the block, and lists it. A growable
 * string (room record in front, see above) belongs to `owner`. The caller
 * copies the n bytes of text in: they are not zeroed first, since a
 * concatenation would then write every byte twice. Null when the heap
 * refuses. */
static _qz_string* qz_string_new_block(size_t n, size_t room, bool growable, const void* owner) {
  size_t bytes = qz_string_block_bytes(room, growable);
  void* block = qz_scan_malloc(bytes, true);
  if (!block) return nullptr;
  _qz_string* s = static_cast<_qz_string*>(block);
  if (growable) {
    auto* r = static_cast<qz_string_room*>(block);
    r->capacity = room;
    r->owner = owner;
    s = reinterpret_cast<_qz_string*>(r + 1);
  }
  s->length = n;
  s->refcount = growable ? QZ_STRING_GROWABLE | 1 : 1;
  std::memset(s->text + n, 0, room - n + qz_string_pad);
  try {
    qz_engine_all_strings.push_back(s);
  } catch (const std::bad_alloc&) {
    std::free(block);
    qz_scan_memory_credit(bytes);
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    return nullptr;
  }
  qz_string_made++;
  qz_string_bytes_total += bytes;
  return s;
}

static _qz_string* qz_string_new_block(size_t n) {
  return qz_string_new_block(n, n, false, nullptr);
}

/* A new string of exactly n bytes of src (n within the cap). */
static _qz_string* qz_string_make(const char* src, size_t n) {
  _qz_string* s = qz_string_new_block(n);
  if (s && n) std::memcpy(s->text, src, n);
  return s;
}

/* Texts refused for passing QZ_MAX_STRING_LENGTH since the last
 * qz_string_free_all. */
static unsigned long qz_string_refused = 0;

unsigned long qz_string_refused_long() { return qz_string_refused; }

static _qz_string* qz_string_make_invalid() {
  return qz_string_make(qz_string_invalid_text, sizeof(qz_string_invalid_text) - 1);
}

/* The invalid-string text in place of a text longer than the cap. */
static _qz_string* qz_string_refuse_long() {
  qz_string_refused++;
  return qz_string_make_invalid();
}

_qz_string* qz_string_alloc(const char* s) {
  if (!s) return qz_string_make_invalid();
  /* strnlen stops one byte past the cap, so a huge text is never walked whole. */
  size_t n = strnlen(s, QZ_MAX_STRING_LENGTH + 1);
  if (n > QZ_MAX_STRING_LENGTH) return qz_string_refuse_long();
  return qz_string_make(s, n);
}

_qz_string* qz_string_alloc_n(const char* s, unsigned long n) {
  if (!s) return qz_string_make_invalid();
  if (n > QZ_MAX_STRING_LENGTH) return qz_string_refuse_long();
  return qz_string_make(s, n);
}

/* Room for a text of n bytes that appends keep growing: QZ_STRING_APPEND_GROWTH
 * times n, within the length cap, and with a scan budget, within
 * QZ_STRING_APPEND_BUDGET_SHARE of what the block of n bytes would leave of
 * it (so the room never ends a scan: an exact block that fits the budget
 * leaves the room's block fitting too). */
static size_t qz_string_append_room(size_t n) {
  size_t room = n <= QZ_MAX_STRING_LENGTH / QZ_STRING_APPEND_GROWTH ? QZ_STRING_APPEND_GROWTH * n
                                                                    : QZ_MAX_STRING_LENGTH;
  if (qz_scan_memory_budget) {
    size_t exact = qz_string_block_bytes(n, true);
    size_t left = qz_scan_memory_budget - std::min(qz_scan_memory_used, qz_scan_memory_budget);
    size_t spare = left > exact ? (left - exact) / QZ_STRING_APPEND_BUDGET_SHARE : 0;
    room = std::min(room, n + spare);
  }
  return room;
}

_qz_string* qz_string_append(_qz_string* a, _qz_string* b, const void* owner) {
  if (!a || !b) return nullptr;
  /* Written so that neither the test nor the sum can wrap. */
  if (a->length > QZ_MAX_STRING_LENGTH || b->length > QZ_MAX_STRING_LENGTH - a->length)
    return qz_string_refuse_long();
  size_t n = a->length + b->length;
  qz_string_room* r = qz_string_growable(a) ? qz_string_room_of(a) : nullptr;
  bool own = owner && r && r->owner == owner && a->refcount == (QZ_STRING_GROWABLE | 1);
  if (own && n <= r->capacity) {
    /* b's bytes land past a's text, so they cannot overlap b even when b is
     * a itself; the bytes behind the new end were zeroed with the block. */
    if (b->length) std::memcpy(a->text + a->length, b->text, b->length);
    a->length = n;
    qz_string_made++;
    return a;
  }
  /* An owner's second append starts keeping room; a one-off append makes
   * an exact block, as a concatenation does, and without an owner a plain
   * string. */
  _qz_string* s =
      qz_string_new_block(n, own ? qz_string_append_room(n) : n, owner != nullptr, owner);
  if (!s) return nullptr;
  if (a->length) std::memcpy(s->text, a->text, a->length);
  if (b->length) std::memcpy(s->text + a->length, b->text, b->length);
  return s;
}

/* Without an owner an append is a plain concatenation into an exact block. */
_qz_string* qz_string_concat(_qz_string* a, _qz_string* b) {
  return qz_string_append(a, b, nullptr);
}

_qz_string* qz_string_concat(_qz_string* a, const char* b) {
  /* The string made from b is listed even when a is null. */
  _qz_string* sb = qz_string_alloc(b);
  return qz_string_concat(a, sb);
}

_qz_string* qz_reference_string(_qz_string* s) {
  if (!s) {
    qz_report_fault(QZ_FAULT_STRING_REF_NULL);
    return nullptr;
  }
  s->refcount++;
  return s;
}

void qz_dereference_string(_qz_string*) {}

void qz_string_free(_qz_string*) {}

unsigned long qz_string_count() { return qz_string_made; }

unsigned long qz_string_bytes_made() { return qz_string_bytes_total; }

/* Slots of a qz_string_live table when it is first made; it stays at most
 * half full, so that a search meets an empty slot within a few probes. */
static const size_t qz_string_live_min_slots = 64;

size_t qz_string_live::home(const void* p) const {
  /* Addresses share their low bits (alignment) and high bits (one heap):
   * a multiplicative mix spreads them over the table. */
  uint64_t x = reinterpret_cast<uintptr_t>(p);
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  return static_cast<size_t>(x) & (slots_.size() - 1);
}

void qz_string_live::rehash(size_t slots) {
  std::vector<const void*> old(slots, nullptr);
  old.swap(slots_);
  count_ = 0;
  for (const void* p : old)
    if (p) insert(p);
}

void qz_string_live::reserve(size_t n) {
  size_t slots = qz_string_live_min_slots;
  while (slots / 2 < n) slots *= 2;
  if (slots > slots_.size()) rehash(slots);
}

void qz_string_live::insert(const void* p) {
  if (!p) return;
  if (slots_.empty() || (count_ + 1) * 2 > slots_.size())
    rehash(std::max(qz_string_live_min_slots, slots_.size() * 2));
  for (size_t i = home(p);; i = (i + 1) & (slots_.size() - 1)) {
    if (slots_[i] == p) return;
    if (!slots_[i]) {
      slots_[i] = p;
      count_++;
      return;
    }
  }
}

bool qz_string_live::contains(const void* p) const {
  if (!p || slots_.empty()) return false;
  for (size_t i = home(p);; i = (i + 1) & (slots_.size() - 1)) {
    if (slots_[i] == p) return true;
    if (!slots_[i]) return false;
  }
}

unsigned long qz_string_sweep(const qz_string_live& live) {
  unsigned long kept = 0;
  for (auto it = qz_engine_all_strings.begin(); it != qz_engine_all_strings.end();) {
    _qz_string* s = *it;
    size_t bytes = qz_string_bytes_of(s);
    if (live.contains(s) || live.contains(s->text)) {
      kept += bytes;
      ++it;
      continue;
    }
    qz_scan_memory_credit(bytes);
    std::free(qz_string_block_of(s));
    it = qz_engine_all_strings.erase(it);
  }
  return kept;
}

void qz_string_free_all() {
  for (_qz_string* s : qz_engine_all_strings) std::free(qz_string_block_of(s));
  qz_engine_all_strings.clear();
  qz_string_made = 0;
  qz_string_refused = 0;
}
