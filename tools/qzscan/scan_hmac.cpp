// HMAC-SHA256 built on OpenSSL's low-level SHA-256. qzscan links only the
// digest's few objects from OpenSSL's static archive: its HMAC and EVP
// interfaces would pull in the provider machinery, whose start-up costs each
// run millions of instructions, for a construction that takes a few lines.

#define OPENSSL_SUPPRESS_DEPRECATED

#include "scan_hmac.h"

#include <openssl/sha.h>

namespace {

// SHA-256's block: the key is padded (or first hashed) to this length.
constexpr size_t kBlockBytes = 64;
// The inner and outer pads of RFC 2104.
constexpr unsigned char kInnerPad = 0x36, kOuterPad = 0x5C;
const char* const kHexDigits = "0123456789abcdef";
// Bits in a hex digit, and hex digits in a byte.
constexpr unsigned kNibbleBits = 4, kNibbleMask = 0xF;

// SHA-256 of `head` (64 bytes, or none) followed by `text`, into md.
void digest(const unsigned char* head, const void* text, size_t size,
            unsigned char md[SHA256_DIGEST_LENGTH]) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  if (head) SHA256_Update(&ctx, head, kBlockBytes);
  SHA256_Update(&ctx, text, size);
  SHA256_Final(md, &ctx);
}

// The key padded to a block and xored with the pad.
void pad_key(const unsigned char* block, unsigned char pad, unsigned char* padded) {
  for (size_t i = 0; i < kBlockBytes; i++) padded[i] = static_cast<unsigned char>(block[i] ^ pad);
}

}  // namespace

std::string hmac_sha256_hex(const std::string& key, const std::string& message) {
  unsigned char block[kBlockBytes] = {}, padded[kBlockBytes];
  if (key.size() > kBlockBytes)
    digest(nullptr, key.data(), key.size(), block);
  else
    key.copy(reinterpret_cast<char*>(block), key.size());
  unsigned char inner[SHA256_DIGEST_LENGTH], outer[SHA256_DIGEST_LENGTH];
  pad_key(block, kInnerPad, padded);
  digest(padded, message.data(), message.size(), inner);
  pad_key(block, kOuterPad, padded);
  digest(padded, inner, sizeof inner, outer);
  return digest_hex(outer, sizeof outer);
}

std::string digest_hex(const unsigned char* md, size_t n) {
  std::string hex;
  hex.reserve(2 * n);
  for (size_t i = 0; i < n; i++) {
    hex += kHexDigits[md[i] >> kNibbleBits];
    hex += kHexDigits[md[i] & kNibbleMask];
  }
  return hex;
}

bool same_bytes(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); i++) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}
