#ifndef QZ_ARRAY_H
#define QZ_ARRAY_H

/*
 * Arrays: ordered, singly linked lists of buckets with a numeric index and an
 * interned string key (compared by pointer). Looking up a missing item appends
 * one whose value is the array's marker text, which is how request arrays
 * stay tainted. Arrays and buckets come from two slab pools and die together
 * at the end of the scan.
 */

#include <qzengine/export.h>

#include "runtime/qz_mempool.h"
#include "runtime/qz_token.h"

struct _qz_bucket {
  unsigned long index;
  char* key; /* null for an item reached by number */
  _qz_value value;
  _qz_bucket* next;
};

struct qz_array_index; /* lookup index, built once an array grows */

struct _qz_array {
  long refcount;
  unsigned long next_index; /* index of the next push; also the size */
  char* item_marker;        /* value text of items created by lookup; null: invalid-string text */
  _qz_bucket* tail;
  _qz_bucket* head;
  qz_array_index* index; /* owned; released by qz_array_free_all */
};

/* Every array and every bucket of the scan; emptied by qz_array_free_all. */
QZ_EXPORT extern qz_mempool<_qz_array> qz_engine_array_pool;
QZ_EXPORT extern qz_mempool<_qz_bucket> qz_engine_bucket_pool;

/* A new zeroed array or bucket of the scan (freed only by
 * qz_array_free_all); null when the pool cannot grow. */
QZ_EXPORT _qz_array* qz_array_alloc();
QZ_EXPORT _qz_bucket* qz_bucket_alloc();
/* Appends a bucket holding a copy of *v with the next index; null when no bucket can be had. */
QZ_EXPORT _qz_bucket* qz_array_push(_qz_array* arr, _qz_value* v);
/* Appends the existing bucket b, giving it the next index; returns b. A
 * bucket with a successor, or the array's own tail, is refused (null): it
 * would make the list run into itself. */
QZ_EXPORT _qz_bucket* qz_array_push(_qz_array* arr, _qz_bucket* b);
/* First bucket whose key is the pointer key; a missing one is appended with
 * the marker value. Null key: reported, null. */
QZ_EXPORT _qz_bucket* qz_array_item(_qz_array* arr, char* key);
/* First bucket whose index is n; a missing one is appended with the marker value. */
QZ_EXPORT _qz_bucket* qz_array_item(_qz_array* arr, unsigned long n);
/* True when qz_array_item(arr, key) finds or makes a bucket: a missing key
 * is appended with the marker value, so this is true whenever memory lasts. */
QZ_EXPORT bool qz_array_in(_qz_array* arr, char* key);
/* Buckets appended so far (the next index); 0 for null. */
QZ_EXPORT unsigned long qz_array_size(_qz_array* arr);
/* Whether p is an array of the array pool in use: a value typed as an
 * array may hold another pointer, which nothing may read as an array. */
bool qz_array_is_live(const void* p);
/* A copy of arr for a variable that takes it by value (extended reading):
 * new buckets with the same keys, indexes and values, the marker kept, and
 * nested arrays copied too down to QZ_ARRAY_COPY_DEPTH levels (deeper ones
 * shared), QZ_ARRAY_COPY_ITEMS buckets in all. Null, nothing made, when arr
 * holds more items than that (the caller then shares it, as arrays were
 * before) or is no live array (qz_array_is_live). A copy cut short by
 * memory holds fewer items. */
_qz_array* qz_array_copy(const _qz_array* arr);
/* Raise or lower the reference count (bookkeeping only; null: nothing);
 * qz_reference_array returns arr. */
QZ_EXPORT _qz_array* qz_reference_array(_qz_array* arr);
QZ_EXPORT void qz_dereference_array(_qz_array* arr);
/* Does nothing: arrays die together in qz_array_free_all. */
QZ_EXPORT void qz_array_free(_qz_array* arr);
/* A new untyped token (line 0) with a copy of b's value and ref pointing at it. */
QZ_EXPORT _qz_token* qz_bucket_to_token(_qz_bucket* b);
/* Arrays in use in the array pool. */
QZ_EXPORT unsigned long qz_array_count();
/* Frees every array, bucket and lookup index (end of a scan): pointers to
 * them handed out before are invalid afterwards. The first
 * QZ_ARRAY_KEEP_SLABS slabs of each pool stay, zeroed, for the next scan. */
QZ_EXPORT void qz_array_free_all();

#endif
