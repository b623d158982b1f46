#ifndef QZENGINE_EXPORT_H
#define QZENGINE_EXPORT_H

/* The library is built with hidden visibility: only names marked QZ_EXPORT
 * are part of its interface. */
#if defined(QZ_BUILDING_ENGINE)
#define QZ_EXPORT __attribute__((visibility("default")))
#else
#define QZ_EXPORT
#endif

#endif
