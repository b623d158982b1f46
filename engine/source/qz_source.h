#ifndef QZ_SOURCE_H
#define QZ_SOURCE_H

/*
 * Reading a source as the engine's readers do: what a byte read means
 * depends on the option flags, not only on the value _getc returned.
 *
 * The lexer reads every byte of a script, so qz_source_next reads the
 * library's own two source kinds inline, straight from their buffer or stdio
 * stream, with the very results their _getc and the checks of
 * qz_source_getc would give. A source of any other dynamic type (a host's
 * own, or a class derived from one of the two) goes through its virtual
 * operations.
 */

#include <qzengine/qz_io_handle.h>

#include "common/qz_host.h"

#include <cstdio>
#include <typeinfo>

/* What qz_source_getc returns when the input has ended. */
#define QZ_SOURCE_END (-1)

/* The next character of src (not null), or QZ_SOURCE_END. Without
 * QZ_OPT_BINARY_SAFE a read whose low byte is 0xFF is the end, as it always
 * was. With it, a 0xFF byte of a buf_file_handle (its position moved on) or of a
 * linux_file_handle (its stream is neither at end of file nor in error) is
 * returned as 0xFF, data like any other byte; a host's own source still ends
 * at a read of 0xFF. Other characters come back as _getc returned them
 * (sign-extended from a signed char). */
int qz_source_getc(qz_io_handle* src);
/* qz_source_getc for a source of any dynamic type, through its _getc. */
int qz_source_getc_any(qz_io_handle* src);

/* True when src is exactly of type T, not of a class derived from it. The
 * type_info objects of the two library classes are the library's own, so
 * equal addresses mean equal types; unequal addresses only cost the fast
 * path. */
template <class T>
inline bool qz_source_is(const qz_io_handle* src) {
  return &typeid(*src) == &typeid(T);
}

/* qz_source_getc of a source known to be exactly a buf_file_handle. */
inline int qz_source_buf_next(buf_file_handle* b) {
  if (!b->buffer) return QZ_SOURCE_END;
  unsigned char u = static_cast<unsigned char>(b->buffer[b->position]);
  if (u == 0) return QZ_SOURCE_END;
  b->position++;
  if (u != 0xFF) return static_cast<signed char>(u);
  return (qz_engine_options & QZ_OPT_BINARY_SAFE) ? 0xFF : QZ_SOURCE_END;
}

/* qz_source_getc of a source known to be exactly a linux_file_handle. */
inline int qz_source_file_next(linux_file_handle* l) {
  if (!l->stream) return QZ_SOURCE_END;
  int ch = getc_unlocked(l->stream);
  if (ch == EOF) {
    l->last_char = static_cast<char>(-1);
    return QZ_SOURCE_END;
  }
  l->last_char = static_cast<char>(ch);
  if (ch != 0xFF) return static_cast<signed char>(ch);
  bool data =
      (qz_engine_options & QZ_OPT_BINARY_SAFE) && !std::feof(l->stream) && !std::ferror(l->stream);
  return data ? 0xFF : QZ_SOURCE_END;
}

/* qz_source_getc, inline for the lexer's loops. */
inline int qz_source_next(qz_io_handle* src) {
  if (qz_source_is<buf_file_handle>(src))
    return qz_source_buf_next(static_cast<buf_file_handle*>(src));
  if (qz_source_is<linux_file_handle>(src))
    return qz_source_file_next(static_cast<linux_file_handle*>(src));
  return qz_source_getc_any(src);
}

/* What qz_source_size gives for a source whose size cannot be known
 * before it is read. */
#define QZ_SOURCE_SIZE_UNKNOWN (~0ul)

/* Bytes src holds from its start: a regular file's size, a memory stream's
 * (found by seeking to its end and back), a buffer's text length;
 * QZ_SOURCE_SIZE_UNKNOWN for any other source or a stream that cannot
 * seek. The read position is left where it was. */
unsigned long qz_source_size(qz_io_handle* src);

/* Steps src (not null) back over the character read last, as its _ungetc
 * does. */
inline void qz_source_ungetc(qz_io_handle* src) {
  if (qz_source_is<buf_file_handle>(src)) {
    auto* b = static_cast<buf_file_handle*>(src);
    if (b->position > 0) b->position--;
    return;
  }
  src->_ungetc();
}

#endif
