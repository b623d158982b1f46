// Base64 written apart from the engine's decoders, for the tests that build
// encoded scripts or read the byte fields of a JSON report.

#ifndef TESTS_SUPPORT_CODEC_H
#define TESTS_SUPPORT_CODEC_H

#include <string>

namespace codec {

inline const char kBase64Digits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard base64 with '=' padding.
inline std::string base64(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned long n = static_cast<unsigned long>(static_cast<unsigned char>(in[i])) << 16;
    if (i + 1 < in.size())
      n |= static_cast<unsigned long>(static_cast<unsigned char>(in[i + 1])) << 8;
    if (i + 2 < in.size()) n |= static_cast<unsigned char>(in[i + 2]);
    out += kBase64Digits[(n >> 18) & 63];
    out += kBase64Digits[(n >> 12) & 63];
    out += i + 1 < in.size() ? kBase64Digits[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? kBase64Digits[n & 63] : '=';
  }
  return out;
}

// Decodes base64 up to its padding (a foreign character garbles the result).
inline std::string unbase64(const std::string& text) {
  const std::string digits = kBase64Digits;
  std::string out;
  unsigned bits = 0, n = 0;
  for (size_t i = 0; i < text.size() && text[i] != '='; i++) {
    bits = (bits << 6) | static_cast<unsigned>(digits.find(text[i]) & 63);
    if ((n += 6) >= 8) out += static_cast<char>((bits >> (n -= 8)) & 0xFF);
  }
  return out;
}

// code wrapped in the given number of eval(base64_decode('...')) layers.
inline std::string eval_layers(std::string code, int layers) {
  for (int i = 0; i < layers; i++) code = "eval(base64_decode('" + base64(code) + "'));";
  return code;
}

}  // namespace codec

#endif
