#ifndef QZSCAN_SCAN_HMAC_H
#define QZSCAN_SCAN_HMAC_H

// HMAC-SHA256 (RFC 2104), the keyed checksum of the verdict cache's rows.

#include <cstddef>
#include <string>

// The tag of `message` under `key`, as 64 lower-case hex digits (as
// sha256_hex writes a digest). The key may have any length: one longer than
// SHA-256's 64-byte block is hashed first, as RFC 2104 says.
std::string hmac_sha256_hex(const std::string& key, const std::string& message);

// The bytes of a digest as lower-case hex digits, two per byte: how qzscan
// writes every digest it shows or stores.
std::string digest_hex(const unsigned char* md, size_t n);

// True when a and b are the same bytes, in a time that depends only on their
// lengths: a forger learns nothing from how soon a wrong tag is refused.
bool same_bytes(const std::string& a, const std::string& b);

#endif
