#ifndef QZ_CIPHER_H
#define QZ_CIPHER_H

/*
 * Rule-text cipher and digests.
 *
 * Rule-file lines are RC4 under a pass phrase, written as uppercase
 * hexadecimal. Every routine is a pure function of its arguments. Every
 * buffer a routine returns is allocated with new[] and belongs to the caller,
 * who releases it with delete[]. Failures are null or 0, never an exception,
 * and no routine reads outside the text it is given.
 */

#include <qzengine/export.h>

#include <cstdint>
#include <string>

/* Fills the 256-byte RC4 state from the key (standard key schedule, key bytes
 * used directly). key_len must be at least 1. Returns -1 (all bits set) on
 * success, 0 when key or state is null or key_len is below 1. */
QZ_EXPORT int GetKey(const unsigned char* key, int key_len, unsigned char* state);

/* Enciphers (equivalently deciphers) in_len bytes of input into output, which
 * must hold at least in_len bytes, and stores in_len in *out_len. No keystream
 * is dropped. A negative in_len processes nothing. Returns -1 on success, 0
 * when input, key or output is null or key_len is below 1 (then *out_len is
 * left alone). out_len may be null. */
QZ_EXPORT int RC4(const unsigned char* input, int in_len, const unsigned char* key, int key_len,
                  unsigned char* output, int* out_len);

/* Uppercase hexadecimal text to bytes: a new array of strlen(text)/2 bytes
 * (not terminated). Null for a null, empty or odd-length text and for any
 * character other than 0-9 and A-F. */
QZ_EXPORT unsigned char* HexToByte(const char* text);

/* Bytes to uppercase hexadecimal: a new zero-terminated text of 2*count
 * characters. Null when bytes is null or count is negative. */
QZ_EXPORT char* ByteToHex(const unsigned char* bytes, int count);

/* RC4 of the text's strlen bytes under the pass phrase's strlen bytes, as
 * uppercase hexadecimal (the empty text gives the empty text). Null for a
 * null or empty pass phrase or a null text. */
QZ_EXPORT char* Encrypt(const char* plain, const char* pass_phrase);

/* Inverse of Encrypt: a new zero-terminated plain text. Null for a null text
 * or pass phrase, an empty or odd-length text, or any character that is not
 * an uppercase hexadecimal digit. A zero byte inside the result ends it as a
 * string. */
QZ_EXPORT char* Decrypt(const char* cipher_text, const char* pass_phrase);

/* Reads a hexadecimal number: an optional "0X" prefix (uppercase X only),
 * then the digits 0-9 and a-f (lowercase only) up to the first other
 * character. More than eight digits shift the oldest out. Null or no digit
 * gives 0. */
QZ_EXPORT unsigned int _httoi(const char* text);

/* Enciphers and deciphers with the engine's own rule-file pass phrase; same
 * results and ownership as Encrypt and Decrypt. The first decipher computes
 * the phrase's key schedule and keeps it for the life of the process, so
 * that a rule file of many lines schedules the key once; the cache is made
 * safely even when threads race for it. */
char* qz_cipher_rule_encrypt(const char* plain);
char* qz_cipher_rule_decrypt(const char* cipher_text);

/* One 128-bit MD5 digest value. The 16 digest bytes lie at the start of
 * m_data in digest order. */
class QZ_EXPORT CMD5 {
 public:
  /* Running state of one MD5 computation. */
  struct md5_context {
    uint32_t total[2];        /* message length in bits: low word, high word */
    uint32_t state[4];        /* chaining words A, B, C, D */
    unsigned char buffer[64]; /* bytes of an incomplete block */
  };

  /* The all-zero digest. */
  CMD5();
  /* Reads 32 hexadecimal characters (either letter case) into the digest.
   * Null, the empty text, a shorter text or one with any other character
   * among its first 32 gives the all-zero digest. Characters after the 32nd
   * are ignored. */
  CMD5(const char* text);
  /* Takes the first 16 bytes of words as they lie in memory; null gives the
   * all-zero digest. */
  CMD5(unsigned long* words);

  /* Digest of len bytes of data, stored in this object. A null data pointer
   * or a negative len digests the empty message. */
  void GenerateMD5(unsigned char* data, int len);
  /* 32 lowercase hexadecimal characters, two per byte in digest order. */
  std::string ToString();
  /* Byte-wise exclusive or of two digests. */
  CMD5 operator+(CMD5 other);
  /* True when all 16 bytes are equal. */
  bool operator==(CMD5 other);

  void md5_starts(md5_context* ctx);
  /* Feeds len bytes (data may be null only when len is 0). */
  void md5_update(md5_context* ctx, unsigned char* data, unsigned long len);
  /* Compresses one 64-byte block into ctx->state. */
  void md5_process(md5_context* ctx, unsigned char* block);
  /* Pads, appends the bit count and writes the 16-byte digest. */
  void md5_finish(md5_context* ctx, unsigned char* digest);

  unsigned long m_data[4];
};

#endif
