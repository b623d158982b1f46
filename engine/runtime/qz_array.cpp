/*
 * Arrays and buckets.
 *
 * An array is a singly linked list of buckets in insertion order. Lookups
 * answer "the FIRST bucket whose key (pointer) / index (number) matches",
 * appending a marker-valued bucket when there is none. Short arrays are
 * searched by walking the list. Once an array holds more than
 * QZ_ARRAY_INDEX_MIN_BUCKETS buckets, the first lookup builds a
 * qz_array_index beside it: two hash maps from key pointer and from index
 * to the first bucket that has it. From then on every push and every bucket
 * appended by a lookup enters the maps (only when no earlier bucket holds the
 * same key or index, so "first" is kept). A hit is checked against the
 * bucket before it is trusted; a mismatch means a bucket was changed behind
 * our back and the maps are rebuilt from the list.
 *
 * Indexes are heap objects listed in qz_array_indexes and freed together with
 * the pools by qz_array_free_all, like everything else of a scan.
 */

#include "runtime/qz_array.h"

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_flat_index.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

/* Arrays and buckets of the running scan; freed by qz_array_free_all. */
qz_mempool<_qz_array> qz_engine_array_pool(true);
qz_mempool<_qz_bucket> qz_engine_bucket_pool(true);

/* The index maps take key pointers and numbers as they are: the flat index
 * mixes them with its per-process seed, so numbers a script chooses cannot
 * pile into one run. */
struct qz_array_entry {
  uint64_t key; /* as it was when the bucket entered: see qz_array_find */
  _qz_bucket* bucket;
};
struct qz_array_key_hash {
  size_t operator()(uint64_t x) const { return static_cast<size_t>(x); }
};
struct qz_array_key_equal {
  bool operator()(const qz_array_entry& e, uint64_t key) const { return e.key == key; }
};
typedef qz_flat_index<qz_array_entry, qz_array_key_hash, qz_array_key_equal> qz_array_map;

struct qz_array_index {
  qz_array_map by_key;
  qz_array_map by_number;
};

/* Every index made since the last qz_array_free_all. */
static std::vector<qz_array_index*> qz_array_indexes;

static uint64_t qz_key_of(const char* key) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
}

/* Enters b into the maps unless an earlier bucket already holds its key or
 * index. On memory exhaustion the index is dropped and the array falls back
 * to walking its list. */
static void qz_array_index_add(_qz_array* arr, _qz_bucket* b) {
  qz_array_index* ix = arr->index;
  if (!ix) return;
  try {
    if (b->key) ix->by_key.emplace(qz_key_of(b->key), qz_array_entry{qz_key_of(b->key), b});
    ix->by_number.emplace(uint64_t{b->index}, qz_array_entry{b->index, b});
  } catch (const std::bad_alloc&) {
    ix->by_key.clear();
    ix->by_number.clear();
    arr->index = nullptr; /* stays listed, freed with the others */
  }
}

/* (Re)builds the maps from the list; false when memory ran out (the array
 * then has no index). */
static bool qz_array_index_build(_qz_array* arr) {
  qz_array_index* ix = arr->index;
  try {
    if (!ix) {
      if (qz_array_indexes.size() == qz_array_indexes.capacity())
        qz_array_indexes.reserve(2 * qz_array_indexes.size() + 16);
      ix = new qz_array_index();
      qz_array_indexes.push_back(ix);
      arr->index = ix;
    }
    ix->by_key.clear();
    ix->by_number.clear();
    /* Every bucket has a number; few may have a key. */
    ix->by_number.reserve(arr->next_index);
  } catch (const std::bad_alloc&) {
    if (ix) {
      ix->by_key.clear();
      ix->by_number.clear();
    }
    arr->index = nullptr;
    return false;
  }
  /* The list has no loop: pushes refuse a bucket that would close one. */
  for (_qz_bucket* b = arr->head; b && arr->index; b = b->next) qz_array_index_add(arr, b);
  return arr->index != nullptr;
}

/* Makes sure an array long enough to profit has its index. */
static qz_array_index* qz_array_index_for(_qz_array* arr) {
  if (!arr->index && arr->next_index > QZ_ARRAY_INDEX_MIN_BUCKETS) qz_array_index_build(arr);
  return arr->index;
}

/* The first bucket whose `field` equals value, or null, found through the
 * index map `map` under map_key. A map hit that no longer matches its bucket
 * makes the maps be rebuilt once; if that fails for lack of memory the list
 * is walked. */
template <class V>
static _qz_bucket* qz_array_find(_qz_array* arr,
                                 decltype(qz_array_index::by_key) qz_array_index::*map,
                                 uint64_t map_key, V _qz_bucket::*field, V value) {
  for (int attempt = 0; attempt < 2; attempt++) {
    qz_array_index* ix = qz_array_index_for(arr);
    if (!ix) break;
    qz_array_entry* hit = (ix->*map).find(map_key);
    if (!hit) return nullptr;
    if (hit->bucket->*field == value) return hit->bucket;
    if (attempt == 0 && !qz_array_index_build(arr)) break;
  }
  for (_qz_bucket* b = arr->head; b; b = b->next)
    if (b->*field == value) return b;
  return nullptr;
}

/* The first bucket whose key is the pointer key, or null. */
static _qz_bucket* qz_array_find_key(_qz_array* arr, char* key) {
  return qz_array_find(arr, &qz_array_index::by_key, qz_key_of(key), &_qz_bucket::key, key);
}

/* The first bucket whose index is n, or null. */
static _qz_bucket* qz_array_find_number(_qz_array* arr, unsigned long n) {
  return qz_array_find(arr, &qz_array_index::by_number, n, &_qz_bucket::index, n);
}

/* The marker text that a missing item takes as its value. */
static char* qz_array_marker(_qz_array* arr) {
  static char fallback[] = QZ_INVALID_STRING_TEXT;
  if (arr->item_marker) return arr->item_marker;
  return qz_engine_invalid_string_handle ? qz_engine_invalid_string_handle : fallback;
}

/* Links b behind the tail and gives it the next index; the index maps are
 * the caller's business. */
static void qz_array_link(_qz_array* arr, _qz_bucket* b) {
  if (!arr->head) {
    arr->head = b;
  } else {
    arr->tail->next = b;
  }
  arr->tail = b;
  b->index = arr->next_index++;
}

/* Appends a bucket holding the marker value; the caller sets its key or
 * index and then enters it into the maps. */
static _qz_bucket* qz_array_push_marker(_qz_array* arr) {
  _qz_bucket* b = qz_engine_bucket_pool.alloc(nullptr);
  if (!b) return nullptr;
  std::memset(static_cast<void*>(b), 0, sizeof(*b));
  b->value.type = TOKEN_LITERAL;
  b->value.ptr = qz_array_marker(arr);
  qz_array_link(arr, b);
  return b;
}

_qz_array* qz_array_alloc() {
  _qz_array* arr = qz_engine_array_pool.alloc(nullptr);
  if (arr) std::memset(static_cast<void*>(arr), 0, sizeof(*arr));
  return arr;
}

_qz_bucket* qz_bucket_alloc() {
  _qz_bucket* b = qz_engine_bucket_pool.alloc(nullptr);
  if (b) std::memset(static_cast<void*>(b), 0, sizeof(*b));
  return b;
}

_qz_bucket* qz_array_push(_qz_array* arr, _qz_value* v) {
  if (!arr || !v) return nullptr;
  _qz_bucket* b = qz_engine_bucket_pool.alloc(nullptr);
  if (!b) return nullptr;
  std::memset(static_cast<void*>(b), 0, sizeof(*b));
  b->value = *v;
  qz_array_link(arr, b);
  qz_array_index_add(arr, b);
  return b;
}

_qz_bucket* qz_array_push(_qz_array* arr, _qz_bucket* b) {
  if (!arr || !b) return nullptr;
  /* A bucket with successors, or the array's own tail, would make the list
   * run into itself or into another list: refused. */
  if (b->next || b == arr->tail) return nullptr;
  qz_array_link(arr, b);
  qz_array_index_add(arr, b);
  return b;
}

bool qz_array_is_live(const void* p) {
  return p && qz_engine_array_pool.in_use(static_cast<const _qz_array*>(p));
}

/* qz_array_copy down to `depth` levels, every bucket counted against
 * *budget. */
static _qz_array* qz_array_copy_within(const _qz_array* arr, unsigned depth,
                                       unsigned long* budget) {
  if (!qz_array_is_live(arr) || arr->next_index > *budget) return nullptr;
  _qz_array* out = qz_array_alloc();
  if (!out) return nullptr;
  out->refcount = 1;
  out->item_marker = arr->item_marker;
  for (const _qz_bucket* b = arr->head; b && *budget; b = b->next, --*budget) {
    _qz_bucket* c = qz_bucket_alloc();
    if (!c) break;
    c->index = b->index;
    c->key = b->key;
    c->value = b->value;
    if (c->value.type == TOKEN_ARRAY && depth > 1)
      if (_qz_array* inner =
              qz_array_copy_within(static_cast<const _qz_array*>(b->value.ptr), depth - 1, budget))
        c->value.ptr = inner;
    if (!out->head)
      out->head = c;
    else
      out->tail->next = c;
    out->tail = c;
  }
  out->next_index = arr->next_index;
  return out;
}

_qz_array* qz_array_copy(const _qz_array* arr) {
  unsigned long budget = QZ_ARRAY_COPY_ITEMS;
  return qz_array_copy_within(arr, QZ_ARRAY_COPY_DEPTH, &budget);
}

_qz_bucket* qz_array_item(_qz_array* arr, char* key) {
  if (!key) {
    qz_report_fault(QZ_FAULT_ARRAY_KEY_NULL);
    return nullptr;
  }
  if (!arr) return nullptr;
  if (_qz_bucket* found = qz_array_find_key(arr, key)) return found;
  _qz_bucket* b = qz_array_push_marker(arr);
  if (!b) return nullptr;
  b->key = key;
  qz_array_index_add(arr, b);
  return b;
}

_qz_bucket* qz_array_item(_qz_array* arr, unsigned long n) {
  if (!arr) return nullptr;
  if (_qz_bucket* found = qz_array_find_number(arr, n)) return found;
  _qz_bucket* b = qz_array_push_marker(arr);
  if (!b) return nullptr;
  b->index = n;
  qz_array_index_add(arr, b);
  return b;
}

bool qz_array_in(_qz_array* arr, char* key) { return qz_array_item(arr, key) != nullptr; }

unsigned long qz_array_size(_qz_array* arr) { return arr ? arr->next_index : 0; }

_qz_array* qz_reference_array(_qz_array* arr) {
  if (arr) arr->refcount++;
  return arr;
}

void qz_dereference_array(_qz_array* arr) {
  if (arr) arr->refcount--;
}

void qz_array_free(_qz_array*) {}

_qz_token* qz_bucket_to_token(_qz_bucket* b) {
  if (!b) return nullptr;
  _qz_token* tk = qz_token_alloc(0ul);
  if (!tk) return nullptr;
  tk->value = b->value;
  tk->ref = &b->value;
  return tk;
}

unsigned long qz_array_count() { return qz_engine_array_pool.count; }

void qz_array_free_all() {
  for (qz_array_index* ix : qz_array_indexes) delete ix;
  qz_array_indexes.clear();
  qz_engine_array_pool.reset_in_place(QZ_ARRAY_KEEP_SLABS);
  qz_engine_bucket_pool.reset_in_place(QZ_ARRAY_KEEP_SLABS);
}
