#ifndef QZSCAN_SCAN_BUILD_ID_H
#define QZSCAN_SCAN_BUILD_ID_H

// The build identity of the programs and libraries this process runs: the
// GNU build ID the linker writes into each object (a digest of its code and
// data), which differs between two builds of one version number.

#include <string>

// The build ID, in lower-case hex, of the first loaded shared library whose
// file name (the part after the last "/") begins with `name_prefix`
// ("libqzengine.so"); empty when none is loaded or it carries no build ID.
std::string library_build_id(const char* name_prefix);

#endif
