#include "behavior/qz_cipher.h"

#include "common/qz_ascii.h"
#include "common/qz_limits.h"

#include <cstdio>
#include <cstring>
#include <new>

/* The rule-file pass phrase, stored masked so that the library's plain
 * strings do not show it. Enciphering unmasks it into a stack buffer for
 * each use; deciphering keeps only its key schedule (see
 * qz_cipher_rule_schedule).
 * Byte i is the phrase's byte i XOR qz_cipher_phrase_mask. */
static const unsigned char qz_cipher_phrase_mask = 0x5a;
static const unsigned char qz_cipher_masked_phrase[QZ_CIPHER_PHRASE_LENGTH] = {
    0x36, 0x33, 0x34, 0x3e, 0x2e, 0x28, 0x3f, 0x69, 0x6a,
    0x63, 0x6f, 0x37, 0x35, 0x2e, 0x33, 0x2c, 0x3f};

static void qz_cipher_unmask_phrase(char out[QZ_CIPHER_PHRASE_LENGTH + 1]) {
  for (int i = 0; i < QZ_CIPHER_PHRASE_LENGTH; ++i)
    out[i] = static_cast<char>(qz_cipher_masked_phrase[i] ^ qz_cipher_phrase_mask);
  out[QZ_CIPHER_PHRASE_LENGTH] = '\0';
}

int GetKey(const unsigned char* key, int key_len, unsigned char* state) {
  if (key == nullptr || state == nullptr || key_len < 1) return 0;
  for (int i = 0; i < 256; ++i) state[i] = static_cast<unsigned char>(i);
  unsigned j = 0;
  for (int i = 0; i < 256; ++i) {
    j = (j + state[i] + key[i % key_len]) & 0xff;
    unsigned char t = state[i];
    state[i] = state[j];
    state[j] = t;
  }
  return -1;
}

int RC4(const unsigned char* input, int in_len, const unsigned char* key, int key_len,
        unsigned char* output, int* out_len) {
  if (input == nullptr || key == nullptr || output == nullptr || key_len < 1) return 0;
  unsigned char* state = new (std::nothrow) unsigned char[256];
  if (state == nullptr) return 0;
  GetKey(key, key_len, state);
  unsigned i = 0, j = 0;
  for (int n = 0; n < in_len; ++n) {
    i = (i + 1) & 0xff;
    j = (j + state[i]) & 0xff;
    unsigned char t = state[i];
    state[i] = state[j];
    state[j] = t;
    output[n] = input[n] ^ state[(state[i] + state[j]) & 0xff];
  }
  if (out_len != nullptr) *out_len = in_len;
  delete[] state;
  return -1;
}

/* Value of one hexadecimal digit in the uppercase form ByteToHex writes, or
 * QZ_ASCII_NOT_HEX: a lowercase digit is refused. */
static int qz_cipher_hex_digit(char c) {
  return qz_ascii_is_lower(c) ? QZ_ASCII_NOT_HEX : qz_ascii_hex_value(c);
}

unsigned char* HexToByte(const char* text) {
  if (text == nullptr) return nullptr;
  size_t len = strlen(text);
  if (len == 0 || (len & 1) != 0 || len / 2 > static_cast<size_t>(QZ_CIPHER_MAX_BYTES))
    return nullptr;
  unsigned char* out = new (std::nothrow) unsigned char[len / 2];
  if (out == nullptr) return nullptr;
  for (size_t k = 0; k < len; k += 2) {
    int hi = qz_cipher_hex_digit(text[k]);
    int lo = qz_cipher_hex_digit(text[k + 1]);
    if (hi < 0 || lo < 0) {
      delete[] out;
      return nullptr;
    }
    out[k / 2] = static_cast<unsigned char>(hi * 16 + lo);
  }
  return out;
}

char* ByteToHex(const unsigned char* bytes, int count) {
  if (bytes == nullptr || count < 0 || count > QZ_CIPHER_MAX_BYTES) return nullptr;
  static const char digits[] = "0123456789ABCDEF";
  char* out = new (std::nothrow) char[2 * static_cast<size_t>(count) + 1];
  if (out == nullptr) return nullptr;
  for (int n = 0; n < count; ++n) {
    out[2 * n] = digits[bytes[n] >> 4];
    out[2 * n + 1] = digits[bytes[n] & 0x0f];
  }
  out[2 * static_cast<size_t>(count)] = '\0';
  return out;
}

char* Encrypt(const char* plain, const char* pass_phrase) {
  if (plain == nullptr || pass_phrase == nullptr) return nullptr;
  size_t len = strlen(plain);
  size_t key_len = strlen(pass_phrase);
  if (key_len == 0 || len > static_cast<size_t>(QZ_CIPHER_MAX_BYTES) ||
      key_len > static_cast<size_t>(QZ_CIPHER_MAX_BYTES))
    return nullptr;
  /* One spare byte so that the empty text still gets a real buffer. */
  unsigned char* scratch = new (std::nothrow) unsigned char[len + 1];
  if (scratch == nullptr) return nullptr;
  int out_len = 0;
  char* hex = nullptr;
  if (RC4(reinterpret_cast<const unsigned char*>(plain), static_cast<int>(len),
          reinterpret_cast<const unsigned char*>(pass_phrase), static_cast<int>(key_len), scratch,
          &out_len))
    hex = ByteToHex(scratch, out_len);
  delete[] scratch;
  return hex;
}

char* Decrypt(const char* cipher_text, const char* pass_phrase) {
  if (cipher_text == nullptr || pass_phrase == nullptr) return nullptr;
  size_t len = strlen(cipher_text);
  size_t key_len = strlen(pass_phrase);
  if ((len & 1) != 0 || key_len == 0 || key_len > static_cast<size_t>(QZ_CIPHER_MAX_BYTES))
    return nullptr;
  unsigned char* bytes = HexToByte(cipher_text);
  if (bytes == nullptr) return nullptr;
  char* plain = new (std::nothrow) char[len / 2 + 1];
  if (plain == nullptr) {
    delete[] bytes;
    return nullptr;
  }
  int out_len = 0;
  if (!RC4(bytes, static_cast<int>(len / 2), reinterpret_cast<const unsigned char*>(pass_phrase),
           static_cast<int>(key_len), reinterpret_cast<unsigned char*>(plain), &out_len)) {
    delete[] bytes;
    delete[] plain;
    return nullptr;
  }
  plain[out_len] = '\0';
  delete[] bytes;
  return plain;
}

unsigned int _httoi(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  if (p[0] == '0' && p[1] == 'X') p += 2;
  uint32_t value = 0;
  for (;; ++p) {
    /* Lowercase digits only: an uppercase one ends the number. */
    int digit = qz_ascii_is_upper(*p) ? QZ_ASCII_NOT_HEX : qz_ascii_hex_value(*p);
    if (digit == QZ_ASCII_NOT_HEX) break;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

char* qz_cipher_rule_encrypt(const char* plain) {
  char phrase[QZ_CIPHER_PHRASE_LENGTH + 1];
  qz_cipher_unmask_phrase(phrase);
  char* out = Encrypt(plain, phrase);
  memset(phrase, 0, sizeof phrase);
  return out;
}

/* The RC4 state that the key schedule of the rule-file pass phrase yields.
 * Every rule line starts from this same state, so it is made once, on first
 * use, and each line deciphers from a copy. It is kept for the life of the
 * process; it reveals no more than the masked phrase beside it does. */
struct qz_cipher_schedule {
  unsigned char state[256];
};

static const qz_cipher_schedule& qz_cipher_rule_schedule() {
  /* A function-local static: made once even if two threads race for it. */
  static const qz_cipher_schedule schedule = [] {
    qz_cipher_schedule s;
    char phrase[QZ_CIPHER_PHRASE_LENGTH + 1];
    qz_cipher_unmask_phrase(phrase);
    GetKey(reinterpret_cast<const unsigned char*>(phrase), QZ_CIPHER_PHRASE_LENGTH, s.state);
    memset(phrase, 0, sizeof phrase);
    return s;
  }();
  return schedule;
}

/* Value of each byte as an uppercase hexadecimal digit, or -1: the digits
 * qz_cipher_hex_digit accepts, as a table for the per-line path. */
struct qz_cipher_hex_table {
  signed char value[256];
};

static constexpr qz_cipher_hex_table qz_cipher_make_hex_table() {
  qz_cipher_hex_table t{};
  for (int c = 0; c < 256; ++c) t.value[c] = -1;
  for (int c = '0'; c <= '9'; ++c) t.value[c] = static_cast<signed char>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t.value[c] = static_cast<signed char>(c - 'A' + 10);
  return t;
}

static constexpr qz_cipher_hex_table qz_cipher_hex = qz_cipher_make_hex_table();

/* Same result as Decrypt under the unmasked phrase, in one pass and one
 * allocation: the hex pairs are read and deciphered together from a copy of
 * the cached key schedule. */
char* qz_cipher_rule_decrypt(const char* cipher_text) {
  if (cipher_text == nullptr) return nullptr;
  size_t len = strlen(cipher_text);
  if (len == 0 || (len & 1) != 0 || len / 2 > static_cast<size_t>(QZ_CIPHER_MAX_BYTES))
    return nullptr;
  size_t count = len / 2;
  char* plain = new (std::nothrow) char[count + 1];
  if (plain == nullptr) return nullptr;
  unsigned char state[256];
  memcpy(state, qz_cipher_rule_schedule().state, sizeof state);
  const unsigned char* hex = reinterpret_cast<const unsigned char*>(cipher_text);
  unsigned i = 0, j = 0;
  for (size_t n = 0; n < count; ++n) {
    int hi = qz_cipher_hex.value[hex[2 * n]];
    int lo = qz_cipher_hex.value[hex[2 * n + 1]];
    if ((hi | lo) < 0) {
      delete[] plain;
      return nullptr;
    }
    i = (i + 1) & 0xff;
    j = (j + state[i]) & 0xff;
    unsigned char t = state[i];
    state[i] = state[j];
    state[j] = t;
    plain[n] = static_cast<char>((hi << 4 | lo) ^ state[(state[i] + state[j]) & 0xff]);
  }
  plain[count] = '\0';
  return plain;
}

/* ---- CMD5 ---- */

static unsigned char* qz_md5_bytes(unsigned long* words) {
  return reinterpret_cast<unsigned char*>(words);
}

CMD5::CMD5() { memset(m_data, 0, sizeof m_data); }

CMD5::CMD5(const char* text) {
  memset(m_data, 0, sizeof m_data);
  if (text == nullptr) return;
  unsigned char digest[16];
  /* The loop stops at the terminator, so a short text is never read past. */
  for (int k = 0; k < 32; ++k) {
    int d = qz_ascii_hex_value(text[k]);
    if (d == QZ_ASCII_NOT_HEX) return;
    if (k % 2 == 0)
      digest[k / 2] = static_cast<unsigned char>(d << 4);
    else
      digest[k / 2] |= static_cast<unsigned char>(d);
  }
  memcpy(m_data, digest, sizeof digest);
}

CMD5::CMD5(unsigned long* words) {
  memset(m_data, 0, sizeof m_data);
  if (words != nullptr) memcpy(m_data, words, 16);
}

void CMD5::GenerateMD5(unsigned char* data, int len) {
  md5_context ctx;
  md5_starts(&ctx);
  if (data != nullptr && len > 0) md5_update(&ctx, data, static_cast<unsigned long>(len));
  unsigned char digest[16];
  md5_finish(&ctx, digest);
  memset(m_data, 0, sizeof m_data);
  memcpy(m_data, digest, sizeof digest);
}

std::string CMD5::ToString() {
  const unsigned char* b = qz_md5_bytes(m_data);
  char text[33];
  for (int k = 0; k < 16; ++k) snprintf(text + 2 * k, 3, "%02x", b[k]);
  return std::string(text, 32);
}

CMD5 CMD5::operator+(CMD5 other) {
  CMD5 sum;
  unsigned char* out = qz_md5_bytes(sum.m_data);
  const unsigned char* a = qz_md5_bytes(m_data);
  const unsigned char* b = qz_md5_bytes(other.m_data);
  for (int k = 0; k < 16; ++k) out[k] = a[k] ^ b[k];
  return sum;
}

bool CMD5::operator==(CMD5 other) { return memcmp(m_data, other.m_data, 16) == 0; }

static uint32_t qz_md5_get_le(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

static void qz_md5_put_le(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

void CMD5::md5_starts(md5_context* ctx) {
  ctx->total[0] = 0;
  ctx->total[1] = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xEFCDAB89;
  ctx->state[2] = 0x98BADCFE;
  ctx->state[3] = 0x10325476;
  memset(ctx->buffer, 0, sizeof ctx->buffer);
}

static inline uint32_t qz_md5_rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void CMD5::md5_process(md5_context* ctx, unsigned char* block) {
  static const uint32_t K[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const int S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  uint32_t X[16];
  for (int k = 0; k < 16; ++k) X[k] = qz_md5_get_le(block + 4 * k);
  uint32_t A = ctx->state[0], B = ctx->state[1], C = ctx->state[2], D = ctx->state[3];
  for (int k = 0; k < 64; ++k) {
    uint32_t f;
    int g;
    if (k < 16) {
      f = (B & C) | (~B & D);
      g = k;
    } else if (k < 32) {
      f = (D & B) | (~D & C);
      g = (5 * k + 1) % 16;
    } else if (k < 48) {
      f = B ^ C ^ D;
      g = (3 * k + 5) % 16;
    } else {
      f = C ^ (B | ~D);
      g = (7 * k) % 16;
    }
    uint32_t t = D;
    D = C;
    C = B;
    B = B + qz_md5_rotl(A + f + K[k] + X[g], S[k]);
    A = t;
  }
  ctx->state[0] += A;
  ctx->state[1] += B;
  ctx->state[2] += C;
  ctx->state[3] += D;
}

void CMD5::md5_update(md5_context* ctx, unsigned char* data, unsigned long len) {
  if (len == 0 || data == nullptr) return;
  uint32_t left = (ctx->total[0] >> 3) & 0x3f;
  /* Bit count: the low word wraps modulo 2^32 and carries into the high word;
   * the bits of len*8 above 32 go into the high word directly. */
  uint32_t add_low = static_cast<uint32_t>(len << 3);
  ctx->total[0] += add_low;
  if (ctx->total[0] < add_low) ctx->total[1]++;
  ctx->total[1] += static_cast<uint32_t>(len >> 29);
  uint32_t fill = 64 - left;
  if (left != 0 && len >= fill) {
    memcpy(ctx->buffer + left, data, fill);
    md5_process(ctx, ctx->buffer);
    data += fill;
    len -= fill;
    left = 0;
  }
  while (len >= 64) {
    md5_process(ctx, data);
    data += 64;
    len -= 64;
  }
  if (len > 0) memcpy(ctx->buffer + left, data, len);
}

void CMD5::md5_finish(md5_context* ctx, unsigned char* digest) {
  unsigned char msglen[8];
  qz_md5_put_le(ctx->total[0], msglen);
  qz_md5_put_le(ctx->total[1], msglen + 4);
  uint32_t last = (ctx->total[0] >> 3) & 0x3f;
  uint32_t padn = (last < 56) ? (56 - last) : (120 - last);
  unsigned char padding[64] = {0x80};
  md5_update(ctx, padding, padn);
  md5_update(ctx, msglen, 8);
  for (int k = 0; k < 4; ++k) qz_md5_put_le(ctx->state[k], digest + 4 * k);
}
