// The rule cipher and the routines beside it: RC4 against published vectors
// and an independent implementation, the digest, and refusal of every absent
// or malformed input.

#include "behavior/qz_cipher.h"
#include "behavior_fixture.h"
#include "common/qz_limits.h"

#include <memory>

using namespace behavior_test;

namespace {

using Text = std::unique_ptr<char[]>;
using Bytes = std::unique_ptr<unsigned char[]>;

/* The published keystream of a 40-bit key: the engine's RC4 and the one
 * written in the fixture both give it, and RC4 writes just the input's length. */
TEST(Cipher, Rc4MatchesThePublishedKeystream) {
  const unsigned char key[] = {1, 2, 3, 4, 5};
  const std::string zeros(16, '\0'), keystream = "B2396305F03DC027CCC3524A0A1118A8";
  std::vector<unsigned char> out(17, 0xEE);
  int out_len = -7;
  ASSERT_NE(
      RC4(reinterpret_cast<const unsigned char*>(zeros.data()), 16, key, 5, out.data(), &out_len),
      0);
  EXPECT_EQ(out_len, 16);
  EXPECT_EQ(hex_of(out.data(), 16), keystream);
  EXPECT_EQ(out[16], 0xEE) << "wrote past the input length";
  EXPECT_EQ(independent_encipher(zeros, std::string(reinterpret_cast<const char*>(key), 5)),
            keystream);
}

/* Encrypt agrees with the RC4 written in the fixture (hex of every byte
 * value included), and Decrypt undoes it; the rule cipher is the same under
 * the built-in phrase. */
TEST(Cipher, EncryptDecryptRoundTrip) {
  std::string all_bytes;
  for (int c = 1; c < 256; ++c) all_bytes.push_back(static_cast<char>(c));
  const std::vector<std::string> texts = {"", "define_behavior(eval,0=$_POST_DATA,10,exec)",
                                          all_bytes};
  for (const char* phrase : {kPhrase, "k"}) {
    for (const std::string& t : texts) {
      Text enc(Encrypt(t.c_str(), phrase));
      ASSERT_TRUE(enc);
      EXPECT_EQ(enc.get(), independent_encipher(t, phrase));
      Text dec(Decrypt(enc.get(), phrase));
      /* the empty cipher text does not decipher */
      EXPECT_EQ(dec ? std::string(dec.get()) : "<refused>", t.empty() ? "<refused>" : t);
    }
  }
  const std::string rule = "define_repeat_call(eval,3,6,many evals)";
  Text ours(qz_cipher_rule_encrypt(rule.c_str()));
  ASSERT_TRUE(ours);
  EXPECT_EQ(ours.get(), independent_encipher(rule));
  EXPECT_STREQ(Text(qz_cipher_rule_decrypt(ours.get())).get(), rule.c_str());
}

/* Every absent, empty or malformed input is refused, and a refused call
 * leaves its outputs alone. */
TEST(Cipher, Refusals) {
  unsigned char state[256], key[] = {1}, buf[4] = {0};
  const unsigned char three[] = {0x00, 0xAB, 0x7F};
  int out_len = 42;
  const std::string enc = independent_encipher("system");
  EXPECT_EQ(GetKey(nullptr, 1, state) + GetKey(key, 0, state), 0);
  EXPECT_EQ(RC4(nullptr, 1, key, 1, buf, &out_len), 0);
  EXPECT_EQ(RC4(buf, 1, nullptr, 1, buf, &out_len), 0);
  EXPECT_EQ(RC4(buf, 1, key, 1, nullptr, &out_len), 0);
  EXPECT_EQ(RC4(buf, 1, key, 0, buf, &out_len), 0);
  for (const char* phrase : {static_cast<const char*>(nullptr), "", kPhrase}) {
    EXPECT_FALSE(Text(Encrypt(phrase == kPhrase ? nullptr : "abc", phrase)));
    EXPECT_FALSE(Text(Decrypt(phrase == kPhrase ? nullptr : enc.c_str(), phrase)));
  }
  EXPECT_FALSE(Text(Decrypt(enc.substr(1).c_str(), kPhrase))) << "odd length";
  EXPECT_FALSE(Text(Decrypt(lowercase(enc).c_str(), kPhrase))) << "lowercase digits";
  EXPECT_FALSE(Text(ByteToHex(nullptr, 3)));
  EXPECT_FALSE(Text(ByteToHex(three, -1)));
  /* refused before a byte is read: the hex text's length would not fit */
  EXPECT_FALSE(Text(ByteToHex(three, QZ_CIPHER_MAX_BYTES + 1)));
  EXPECT_FALSE(Bytes(HexToByte(nullptr)));
  EXPECT_EQ(out_len, 42);
  /* Hex text is uppercase digits in pairs: each neighbour of the digit
   * ranges and a byte above 127 are refused. */
  for (const char* hex : {"ABC", "", "ab", "0G", "@0", "0:", "/0", "\xC1\x41", "A "})
    EXPECT_FALSE(Bytes(HexToByte(hex))) << hex;
  EXPECT_NE(RC4(buf, -3, key, 1, buf, &out_len), 0);
  EXPECT_EQ(out_len, -3);
  /* A zero byte inside the plain text ends it. */
  Text cut(Decrypt(independent_encipher(std::string("a\0b", 3), "pw").c_str(), "pw"));
  ASSERT_TRUE(cut);
  EXPECT_STREQ(cut.get(), "a");
}

TEST(Cipher, Md5KnownAnswers) {
  const std::pair<std::string, const char*> rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto r : rows) {
    CMD5 d;
    d.GenerateMD5(reinterpret_cast<unsigned char*>(&r.first[0]), static_cast<int>(r.first.size()));
    EXPECT_EQ(d.ToString(), r.second) << r.first;
    EXPECT_TRUE(CMD5(r.second) == d) << "the text form reads back";
  }
  /* A negative length digests nothing; absent, short or foreign text reads
   * as the all-zero digest, never past its end. */
  CMD5 neg;
  neg.GenerateMD5(reinterpret_cast<unsigned char*>(const_cast<char*>("abc")), -5);
  EXPECT_EQ(neg.ToString(), rows[0].second);
  for (const char* t :
       {"", "9001", "900150983cd24fb0d6963f7d28e17f7", "900150983cd24fb0d6963f7d28e17fzz"})
    EXPECT_TRUE(CMD5(t) == CMD5()) << t;
  EXPECT_TRUE(CMD5(static_cast<const char*>(nullptr)) == CMD5());
}

}  // namespace
