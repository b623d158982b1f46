#ifndef QZENGINE_QZ_IO_HANDLE_H
#define QZENGINE_QZ_IO_HANDLE_H

#include <qzengine/export.h>

#include <cstdio>

/*
 * Input sources: the lexer pulls characters one at a time through these six
 * operations. A source is a stack object of its concrete type; there is no
 * virtual destructor on purpose.
 *
 * _getc returns the byte read sign-extended from a signed char, so byte 0xFF
 * reads as -1, the end-of-input value.
 */
class QZ_EXPORT qz_io_handle {
 public:
  virtual int _getc();
  /* Reads characters up to and including delim into out (at most *size of
   * them); true when the delimiter was read and stored. */
  virtual bool get_str(char delim, char* out, unsigned long* size);
  virtual void reset();
  virtual void _ungetc();
  virtual void unget_str(char* s);
  virtual void close();
};

/* A NUL-terminated text in memory; the caller keeps it alive for the scan. */
class QZ_EXPORT buf_file_handle : public qz_io_handle {
 public:
  buf_file_handle(const char* text = nullptr) : buffer(text), position(0) {}
  int _getc() override;
  bool get_str(char delim, char* out, unsigned long* size) override;
  void reset() override;
  void _ungetc() override; /* never moves below the start of the buffer */
  void unget_str(char* s) override;
  void close() override;

  const char* buffer;
  unsigned long position;
};

/* An open stdio stream (mode "rb"); a null stream reads as empty input. */
class QZ_EXPORT linux_file_handle : public qz_io_handle {
 public:
  linux_file_handle(FILE* f = nullptr) : stream(f), last_char(0) {}
  int _getc() override;
  bool get_str(char delim, char* out, unsigned long* size) override;
  void reset() override;
  void _ungetc() override;
  void unget_str(char* s) override;
  void close() override;

  FILE* stream;
  char last_char;
};

#endif
