#ifndef QZ_API_ENGINE_H
#define QZ_API_ENGINE_H

/*
 * Lifecycle and scan entry points. The exported functions are declared in
 * the public headers (qzengine.h, qzwrapper.h); this header adds what the
 * adapter needs beyond them.
 */

#include <qzengine/qzengine.h>
#include <qzengine/qzwrapper.h>
#include <qzengine/version.h>

/* True while the engine is started and no scan is running; scans refuse to
 * start otherwise. */
bool qz_engine_can_scan();

#endif
