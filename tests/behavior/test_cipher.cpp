// The rule cipher: RC4 against a published vector and an independent
// implementation, the digest's known answers, and refusal of malformed input.

#include "behavior/qz_cipher.h"
#include "behavior_fixture.h"
#include "common/qz_limits.h"

#include <memory>

using namespace behavior_test;

namespace {

using Text = std::unique_ptr<char[]>;
using Bytes = std::unique_ptr<unsigned char[]>;

/* The published keystream of a 40-bit key; RC4 writes just the input's length. */
TEST(Cipher, Rc4KnownAnswer) {
  const unsigned char key[] = {1, 2, 3, 4, 5}, zeros[16] = {0};
  std::vector<unsigned char> out(17, 0xEE);
  int out_len = -7;
  ASSERT_NE(RC4(zeros, 16, key, 5, out.data(), &out_len), 0);
  EXPECT_EQ(out_len, 16);
  EXPECT_EQ(hex_of(out.data(), 16), "B2396305F03DC027CCC3524A0A1118A8");
  EXPECT_EQ(out[16], 0xEE) << "wrote past the input length";
}

/* Encrypt agrees with the fixture's RC4 over every byte value and Decrypt
 * undoes it; a zero byte inside the plain text ends it. */
TEST(Cipher, RoundTripAgainstIndependentRc4) {
  std::string all_bytes;
  for (int c = 1; c < 256; ++c) all_bytes.push_back(static_cast<char>(c));
  for (const std::string& t : {std::string("define_repeat_call(eval,3,6,x)"), all_bytes}) {
    Text enc(Encrypt(t.c_str(), kPhrase));
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc.get(), independent_encipher(t));
    EXPECT_STREQ(Text(Decrypt(enc.get(), kPhrase)).get(), t.c_str());
    EXPECT_STREQ(Text(qz_cipher_rule_decrypt(enc.get())).get(), t.c_str());
  }
  Text cut(Decrypt(independent_encipher(std::string("a\0b", 3), "pw").c_str(), "pw"));
  ASSERT_TRUE(cut);
  EXPECT_STREQ(cut.get(), "a");
}

/* Absent, empty or malformed input is refused, leaving the outputs alone. */
TEST(Cipher, Refusals) {
  unsigned char key[] = {1}, buf[4] = {0};
  int out_len = 42;
  EXPECT_EQ(RC4(nullptr, 1, key, 1, buf, &out_len), 0);
  EXPECT_EQ(RC4(buf, 1, key, 0, buf, &out_len), 0);
  EXPECT_EQ(out_len, 42);
  EXPECT_FALSE(Text(Encrypt("abc", "")));
  EXPECT_FALSE(Text(ByteToHex(buf, QZ_CIPHER_MAX_BYTES + 1))) << "hex length would not fit";
  const std::string enc = independent_encipher("system");
  /* Hex text is uppercase digits in pairs: each neighbour of the digit
   * ranges and a byte above 127 are refused, as are odd lengths. */
  for (std::string hex :
       {std::string(""), enc.substr(1), lowercase(enc), std::string("0G"), std::string("@0"),
        std::string("0:"), std::string("/0"), std::string("\xC1\x41"), std::string("A ")}) {
    EXPECT_FALSE(Bytes(HexToByte(hex.c_str()))) << hex;
    EXPECT_FALSE(Text(Decrypt(hex.c_str(), kPhrase))) << hex;
  }
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
  }
}

}  // namespace
