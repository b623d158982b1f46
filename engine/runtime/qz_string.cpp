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
 * Sizes are checked before any block is requested: a text longer than
 * QZ_MAX_STRING_LENGTH is never built. Such a request yields a new string
 * holding the invalid-string text instead, so the scan goes on with a value
 * that the rules read as "not available".
 */

#include "runtime/qz_string.h"

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_mempool.h"

#include <cstddef>
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

/* Bytes of the block of a string of n bytes of text. */
static size_t qz_string_block_bytes(size_t n) {
  return offsetof(_qz_string, text) + n + qz_string_pad;
}

static const char qz_string_invalid_text[] = QZ_INVALID_STRING_TEXT;

/* Makes the block for a text of n bytes (n within QZ_MAX_STRING_LENGTH, so
 * the sum cannot wrap), with length n, refcount 1 and the zero bytes after
 * the text, and lists it. The caller copies the n bytes of text in: the
 * block is not zeroed first, since a concatenation would then write every
 * byte twice. Null when the heap refuses. */
static _qz_string* qz_string_new_block(size_t n) {
  size_t bytes = qz_string_block_bytes(n);
  auto* s = static_cast<_qz_string*>(qz_scan_malloc(bytes, true));
  if (!s) return nullptr;
  s->length = n;
  s->refcount = 1;
  std::memset(s->text + n, 0, qz_string_pad);
  try {
    qz_engine_all_strings.push_back(s);
  } catch (const std::bad_alloc&) {
    std::free(s);
    qz_scan_memory_credit(bytes);
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    return nullptr;
  }
  qz_string_made++;
  qz_string_bytes_total += bytes;
  return s;
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

_qz_string* qz_string_concat(_qz_string* a, _qz_string* b) {
  if (!a || !b) return nullptr;
  /* Written so that neither the test nor the sum can wrap. */
  if (a->length > QZ_MAX_STRING_LENGTH || b->length > QZ_MAX_STRING_LENGTH - a->length)
    return qz_string_refuse_long();
  size_t n = a->length + b->length;
  _qz_string* s = qz_string_new_block(n);
  if (!s) return nullptr;
  if (a->length) std::memcpy(s->text, a->text, a->length);
  if (b->length) std::memcpy(s->text + a->length, b->text, b->length);
  return s;
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

unsigned long qz_string_sweep(const std::unordered_set<const void*>& live) {
  unsigned long kept = 0;
  for (auto it = qz_engine_all_strings.begin(); it != qz_engine_all_strings.end();) {
    _qz_string* s = *it;
    size_t bytes = qz_string_block_bytes(s->length);
    if (live.count(s) || live.count(s->text)) {
      kept += bytes;
      ++it;
      continue;
    }
    qz_scan_memory_credit(bytes);
    std::free(s);
    it = qz_engine_all_strings.erase(it);
  }
  return kept;
}

void qz_string_free_all() {
  for (_qz_string* s : qz_engine_all_strings) std::free(s);
  qz_engine_all_strings.clear();
  qz_string_made = 0;
  qz_string_refused = 0;
}
