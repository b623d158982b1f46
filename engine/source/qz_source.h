#ifndef QZ_SOURCE_H
#define QZ_SOURCE_H

/*
 * Reading a source as the engine's readers do: what a byte read means
 * depends on the option flags, not only on the value _getc returned.
 */

#include <qzengine/qz_io_handle.h>

/* What qz_source_getc returns when the input has ended. */
#define QZ_SOURCE_END (-1)

/* The next character of src, or QZ_SOURCE_END. Without QZ_OPT_BINARY_SAFE a
 * read whose low byte is 0xFF is the end, as it always was. With it, a 0xFF
 * byte of a buf_file_handle (its position moved on) or of a
 * linux_file_handle (its stream is neither at end of file nor in error) is
 * returned as 0xFF, data like any other byte; a host's own source still ends
 * at a read of 0xFF. Other characters come back as _getc returned them. */
int qz_source_getc(qz_io_handle* src);

#endif
