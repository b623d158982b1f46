// The rule cipher: RC4 against a published vector and an independent
// implementation, the digest's known answers, and refusal of malformed input.

#include "behavior/qz_cipher.h"
#include "behavior_fixture.h"
#include "common/qz_limits.h"

#include <memory>
#include <string>
#include <vector>

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

/* The rule-file decipher starts every line from the same cached key
 * schedule: line after line, with refused lines in between (a bad digit at
 * the start, middle or end, an odd length, the empty text), it gives what
 * Decrypt gives under the phrase, and each good line its own plain text. */
TEST(Cipher, RuleDecryptLineAfterLine) {
  struct Row {
    std::string hex;
    std::string plain;  // what the line holds, up to a zero byte
    bool good;
  };
  std::vector<Row> rows;
  unsigned seed = 7;
  for (size_t len = 1; len <= 260; ++len) {
    std::string plain;
    for (size_t k = 0; k < len; ++k) {
      seed = seed * 1103515245u + 12345u;
      plain.push_back(static_cast<char>(1 + (seed >> 16) % 255));
    }
    if (len % 37 == 0) plain[len / 2] = '\0';
    const std::string hex = independent_encipher(plain);
    rows.push_back({hex, plain.substr(0, plain.find('\0')), true});
    if (len % 5 == 0) {
      std::string bad = hex;
      bad[(len % 3) * (hex.size() - 1) / 2] = (len % 2) ? 'g' : 'a';
      rows.push_back({bad, "", false});
    }
    if (len % 11 == 0) rows.push_back({hex.substr(1), "", false});
  }
  rows.push_back({"", "", false});
  rows.push_back({independent_encipher("define_var(a,b)"), "define_var(a,b)", true});
  for (const Row& r : rows) {
    Text fast(qz_cipher_rule_decrypt(r.hex.c_str()));
    Text slow(Decrypt(r.hex.c_str(), kPhrase));
    ASSERT_EQ(static_cast<bool>(fast), r.good) << r.hex;
    ASSERT_EQ(static_cast<bool>(slow), r.good) << r.hex;
    if (r.good) {
      EXPECT_EQ(std::string(fast.get()), r.plain) << r.hex;
      EXPECT_STREQ(fast.get(), slow.get()) << r.hex;
    }
  }
  EXPECT_FALSE(Text(qz_cipher_rule_decrypt(nullptr)));
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
