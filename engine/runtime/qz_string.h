#ifndef QZ_STRING_H
#define QZ_STRING_H

/*
 * Runtime strings: counted, length-prefixed, always NUL-terminated heap blocks.
 * Every string is listed in qz_engine_all_strings and freed in bulk at the end
 * of a scan, or earlier by a collection that found nothing holding it; the
 * reference count is bookkeeping and frees nothing.
 */

#include <qzengine/export.h>

#include <cstddef>
#include <list>
#include <vector>

struct _qz_string {
  unsigned long length; /* bytes of text, terminator not counted */
  /* 1 at creation, raised by qz_reference_string. The top bit
   * (QZ_STRING_GROWABLE) marks a string that qz_string_append made: its
   * block also holds, in front of this header, the room and the owner that
   * let a later append grow the text in place. For such a string the count
   * also counts every copy of a value holding it and is lowered when a pool
   * token holding it is released: it is never below the number of values
   * that hold it. */
  unsigned long refcount;
  char text[1]; /* length bytes, then at least eight zero bytes */
};

/* The flag bit of _qz_string.refcount described above. */
#define QZ_STRING_GROWABLE (1ul << (sizeof(unsigned long) * 8 - 1))

/* Every string made since the last qz_string_free_all, in creation order. */
QZ_EXPORT extern std::list<_qz_string*> qz_engine_all_strings;

/* A new string holding a copy of s; null s means the invalid-string text. A
 * text longer than QZ_MAX_STRING_LENGTH yields the invalid-string text. Null
 * when the heap refuses. */
QZ_EXPORT _qz_string* qz_string_alloc(const char* s);
/* A new string of a's text followed by b's (lengths decide, inner NULs kept);
 * null if either is null or the heap refuses; the invalid-string text when the
 * result would exceed QZ_MAX_STRING_LENGTH. */
QZ_EXPORT _qz_string* qz_string_concat(_qz_string* a, _qz_string* b);
/* The same with b made a string of its own first (listed even when a is
 * null; a null b stands for the invalid-string text). */
QZ_EXPORT _qz_string* qz_string_concat(_qz_string* a, const char* b);
/* A new string of exactly n bytes copied from s (may hold NULs); the
 * invalid-string text when n exceeds QZ_MAX_STRING_LENGTH. */
_qz_string* qz_string_alloc_n(const char* s, unsigned long n);
/* The text of a followed by b's, for ".=" into the value that `owner` (may
 * be null) holds a in. When a is owner's own (an earlier append for owner
 * made it) and no other value holds it (refcount 1), a is grown in place and
 * returned: its room grows geometrically, so a run of appends costs time in
 * proportion to the text made. Otherwise a new string owned by `owner`,
 * with a left unchanged. Results as qz_string_concat: null if a or b is null
 * or the heap or budget refuses (a is then unchanged), the invalid-string
 * text past QZ_MAX_STRING_LENGTH. b may be a itself. */
_qz_string* qz_string_append(_qz_string* a, _qz_string* b, const void* owner);
/* A value holding s was copied: counts the copy when an append made s. */
inline void qz_string_note_copy(_qz_string* s) {
  if (s->refcount & QZ_STRING_GROWABLE) s->refcount++;
}
/* A value holding s is gone for good (its token released): lowers the
 * count of a string an append made, never below 1. */
inline void qz_string_drop_holder(_qz_string* s) {
  if ((s->refcount & QZ_STRING_GROWABLE) && (s->refcount & ~QZ_STRING_GROWABLE) > 1) s->refcount--;
}
/* Raises s's reference count and returns s; null s is reported and gives null. */
QZ_EXPORT _qz_string* qz_reference_string(_qz_string* s);
/* Do nothing: a string lives until qz_string_free_all whatever its count. */
QZ_EXPORT void qz_dereference_string(_qz_string* s);
QZ_EXPORT void qz_string_free(_qz_string* s);
/* Number of strings made since the last qz_string_free_all (an append
 * that grows a text in place counts as one): a count of work, which a
 * collection does not lower. */
QZ_EXPORT unsigned long qz_string_count();
/* The addresses a collection found held, which qz_string_sweep asks about:
 * a set of pointers kept in one open-addressed table, so that adding one
 * costs no allocation of its own (a collection adds one per kept value, a
 * million in a large script). Growing the table may throw std::bad_alloc. */
class qz_string_live {
 public:
  /* Makes room for n addresses without growing. */
  void reserve(size_t n);
  /* Adds p; null is never held. */
  void insert(const void* p);
  bool contains(const void* p) const;
  /* Distinct addresses added. */
  size_t size() const { return count_; }

 private:
  std::vector<const void*> slots_; /* a power of two of them, null when empty */
  size_t count_ = 0;
  void rehash(size_t slots);
  size_t home(const void* p) const;
};

/* Frees every listed string whose address and whose text's address are both
 * missing from `live` (a value may hold either), crediting the scan's memory
 * budget. Every other pointer to a freed string is invalid afterwards.
 * Returns the bytes of the strings kept. */
unsigned long qz_string_sweep(const qz_string_live& live);
/* Texts refused since the last qz_string_free_all for passing
 * QZ_MAX_STRING_LENGTH (each gave the invalid-string text instead). */
unsigned long qz_string_refused_long();
/* Bytes of every string made over the process's life: a running total
 * whose differences tell how much a stretch of work made. */
unsigned long qz_string_bytes_made();
/* Frees every string made so far (end of a scan): every _qz_string pointer
 * handed out before is invalid afterwards. */
QZ_EXPORT void qz_string_free_all();

#endif
