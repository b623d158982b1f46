/*
 * Input sources: a text in memory and an open stdio stream, read one
 * character at a time by the lexer.
 */

#include <qzengine/qz_io_handle.h>

#include "common/qz_host.h"
#include "source/qz_source.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <typeinfo>

int qz_io_handle::_getc() { return -1; }
bool qz_io_handle::get_str(char, char*, unsigned long*) { return false; }
void qz_io_handle::reset() {}
void qz_io_handle::_ungetc() {}
void qz_io_handle::unget_str(char*) {}
void qz_io_handle::close() {}

/* The concrete source kinds a read may consult, as dynamic_cast finds them
 * for one source object. */
struct io_kinds {
  const qz_io_handle* source; /* the object these casts were made for */
  const std::type_info* type; /* its dynamic type when they were made */
  buf_file_handle* buf;
  linux_file_handle* file;
};

/* The casts of the source read last: a scan reads one source byte after
 * byte, and a cast per byte would cost more than the read. Valid while the
 * same object with the same dynamic type is read, which is all the casts
 * depend on; any other source is cast afresh. */
static io_kinds io_last_kinds = {nullptr, nullptr, nullptr, nullptr};

static const io_kinds& io_kinds_of(qz_io_handle* src) {
  const std::type_info* type = &typeid(*src);
  if (io_last_kinds.source != src || io_last_kinds.type != type)
    io_last_kinds = {src, type, dynamic_cast<buf_file_handle*>(src),
                     dynamic_cast<linux_file_handle*>(src)};
  return io_last_kinds;
}

/* Whether the -1 that src->_getc just returned was a 0xFF byte of the input;
 * position_before is a buf_file_handle's position before that read. */
static bool io_read_was_data(const io_kinds& kinds, unsigned long position_before) {
  if (kinds.buf) return kinds.buf->position > position_before;
  if (kinds.file)
    return kinds.file->stream && !std::feof(kinds.file->stream) && !std::ferror(kinds.file->stream);
  return false;
}

int qz_source_getc(qz_io_handle* src) { return qz_source_next(src); }

int qz_source_getc_any(qz_io_handle* src) {
  if (!(qz_engine_options & QZ_OPT_BINARY_SAFE)) {
    int ch = src->_getc();
    return (ch & 0xFF) == 0xFF ? QZ_SOURCE_END : ch;
  }
  const io_kinds& kinds = io_kinds_of(src);
  unsigned long before = kinds.buf ? kinds.buf->position : 0;
  int ch = src->_getc();
  if ((ch & 0xFF) != 0xFF) return ch;
  /* _getc may have read another source (a host's own reading one through
   * another): ask about src itself. */
  return io_read_was_data(io_kinds_of(src), before) ? 0xFF : QZ_SOURCE_END;
}

/* Reads through the source's own _getc up to and including delim into out,
 * which the caller sized for *size characters plus a terminator; the first
 * *size bytes are zeroed first. False at end of input (without
 * QZ_OPT_BINARY_SAFE also at a 0xFF byte, see qz_source_getc) and when
 * *size characters were stored without meeting delim; the character that
 * found the buffer full is consumed and not stored. */
static bool io_read_run(qz_io_handle* src, char delim, char* out, unsigned long* size) {
  if (!out || !size) return false;
  unsigned long cap = *size;
  std::memset(out, 0, cap);
  for (unsigned long i = 0;; i++) {
    int ch = qz_source_getc(src);
    if (ch == QZ_SOURCE_END) return false;
    if (i >= cap) return false;
    out[i] = static_cast<char>(ch);
    if (static_cast<char>(ch) == delim) return true;
  }
}

int buf_file_handle::_getc() {
  if (!buffer) return -1;
  char ch = buffer[position];
  if (ch == '\0') return -1;
  position++;
  return static_cast<signed char>(ch);
}

bool buf_file_handle::get_str(char delim, char* out, unsigned long* size) {
  return io_read_run(this, delim, out, size);
}

void buf_file_handle::reset() { position = 0; }

void buf_file_handle::_ungetc() {
  if (position > 0) position--;
}

void buf_file_handle::unget_str(char* s) {
  if (!s) return;
  unsigned long n = std::strlen(s);
  position = n > position ? 0 : position - n;
}

void buf_file_handle::close() {}

/* A scan has the stream to itself while it runs (one scan at a time), so
 * the read takes no stream lock. */
int linux_file_handle::_getc() {
  if (!stream) return -1;
  int ch = getc_unlocked(stream);
  if (ch == EOF) {
    last_char = static_cast<char>(-1);
    return -1;
  }
  last_char = static_cast<char>(ch);
  return static_cast<signed char>(ch);
}

/* Script tags in files are read the same way as in buffers, so that a file
 * scan and a buffer scan of the same text agree. */
bool linux_file_handle::get_str(char delim, char* out, unsigned long* size) {
  return io_read_run(this, delim, out, size);
}

void linux_file_handle::reset() {
  if (stream) std::fseek(stream, 0, SEEK_SET);
}

/* Steps back over the byte before the stream's position. When the stream's
 * buffer still holds that byte, its read pointer steps back over it and the
 * end-of-file mark is cleared, which is all glibc's ungetc does when handed
 * back that very byte; otherwise, and at the end of the file, the position
 * is sought. */
void linux_file_handle::_ungetc() {
  if (!stream) return;
#ifdef __GLIBC__
  if (stream->_IO_read_ptr > stream->_IO_read_base) {
    stream->_IO_read_ptr--;
    stream->_flags &= ~_IO_EOF_SEEN;
    return;
  }
#endif
  long pos = std::ftell(stream);
  if (pos > 0) std::fseek(stream, pos - 1, SEEK_SET);
}

void linux_file_handle::unget_str(char* s) {
  if (!stream || !s) return;
  for (size_t n = std::strlen(s); n > 0; n--)
    std::ungetc(static_cast<unsigned char>(s[n - 1]), stream);
}

void linux_file_handle::close() {
  if (stream) {
    std::fclose(stream);
    stream = nullptr;
  }
}

/* The bytes of a stream without a descriptor (one over memory), found by
 * seeking to its end and back. */
static unsigned long source_stream_size(FILE* stream) {
  long here = std::ftell(stream);
  if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return QZ_SOURCE_SIZE_UNKNOWN;
  long end = std::ftell(stream);
  if (std::fseek(stream, here, SEEK_SET) != 0 || end < 0) return QZ_SOURCE_SIZE_UNKNOWN;
  return static_cast<unsigned long>(end);
}

unsigned long qz_source_size(qz_io_handle* src) {
  if (auto* file = dynamic_cast<linux_file_handle*>(src)) {
    struct stat st;
    if (file->stream && fileno(file->stream) < 0) return source_stream_size(file->stream);
    if (file->stream && fstat(fileno(file->stream), &st) == 0 && S_ISREG(st.st_mode))
      return static_cast<unsigned long>(st.st_size);
  } else if (auto* buf = dynamic_cast<buf_file_handle*>(src)) {
    return buf->buffer ? std::strlen(buf->buffer) : 0;
  }
  return QZ_SOURCE_SIZE_UNKNOWN;
}
