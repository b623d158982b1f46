/*
 * Input sources: a text in memory and an open stdio stream, read one
 * character at a time by the lexer.
 */

#include <qzengine/qz_io_handle.h>

#include "common/qz_host.h"
#include "source/qz_source.h"

#include <cstring>

int qz_io_handle::_getc() { return -1; }
bool qz_io_handle::get_str(char, char*, unsigned long*) { return false; }
void qz_io_handle::reset() {}
void qz_io_handle::_ungetc() {}
void qz_io_handle::unget_str(char*) {}
void qz_io_handle::close() {}

/* Whether the -1 that src->_getc just returned was a 0xFF byte of the input;
 * position_before is a buf_file_handle's position before that read. */
static bool io_read_was_data(qz_io_handle* src, unsigned long position_before) {
  if (auto* buf = dynamic_cast<buf_file_handle*>(src)) return buf->position > position_before;
  if (auto* file = dynamic_cast<linux_file_handle*>(src))
    return file->stream && !std::feof(file->stream) && !std::ferror(file->stream);
  return false;
}

int qz_source_getc(qz_io_handle* src) {
  if (!(qz_engine_options & QZ_OPT_BINARY_SAFE)) {
    int ch = src->_getc();
    return (ch & 0xFF) == 0xFF ? QZ_SOURCE_END : ch;
  }
  auto* buf = dynamic_cast<buf_file_handle*>(src);
  unsigned long before = buf ? buf->position : 0;
  int ch = src->_getc();
  if ((ch & 0xFF) != 0xFF) return ch;
  return io_read_was_data(src, before) ? 0xFF : QZ_SOURCE_END;
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

int linux_file_handle::_getc() {
  if (!stream) return -1;
  int ch = std::fgetc(stream);
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

void linux_file_handle::_ungetc() {
  if (!stream) return;
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
