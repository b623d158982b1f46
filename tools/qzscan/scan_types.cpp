// The JSON form of qzscan's results.

#include "scan_types.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using json = nlohmann::json;

namespace {

struct VerdictName {
  Verdict verdict;
  const char* name;
};
const VerdictName kVerdictNames[] = {
    {Verdict::Clean, "clean"}, {Verdict::Suspicious, "suspicious"}, {Verdict::Threat, "threat"}};

// Well-formed UTF-8 (the Unicode standard's table of byte sequences): the
// range of the lead byte, the sequence's length and the range of its second
// byte. Every later byte is a plain continuation byte.
struct Utf8Form {
  unsigned char lead_lo, lead_hi;
  size_t length;
  unsigned char second_lo, second_hi;
};
const Utf8Form kUtf8Forms[] = {
    {0x00, 0x7F, 1, 0, 0},       {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F}};
// The range of a continuation byte (10xxxxxx).
const unsigned char kContinuationLo = 0x80, kContinuationHi = 0xBF;
// U+FFFD REPLACEMENT CHARACTER, in UTF-8: stands for each byte that is not
// part of a well-formed sequence.
const char* const kReplacement = "\xEF\xBF\xBD";

// Suffix of the member that keeps a text's exact bytes.
const char* const kBytesSuffix = "_bytes";
// The base64 alphabet (RFC 4648, section 4) and its padding character.
const char* const kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kBase64Pad = '=';
// Base64 carries 3 bytes in 4 characters of 6 bits each.
const size_t kBase64GroupBytes = 3, kBase64GroupChars = 4;
const unsigned kBase64Bits = 6, kByteBits = 8;
const unsigned kBase64Mask = 0x3F;

bool valid_utf8(const std::string& s) {
  for (size_t i = 0, n; i < s.size(); i += n)
    if (!(n = utf8_sequence_length(s, i))) return false;
  return true;
}

std::string lossy_utf8(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size();) {
    size_t n = utf8_sequence_length(s, i);
    if (n) {
      r.append(s, i, n);
      i += n;
    } else {
      r += kReplacement;
      i++;
    }
  }
  return r;
}

std::string base64_encode(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); i += kBase64GroupBytes) {
    size_t take = std::min(kBase64GroupBytes, s.size() - i);
    unsigned group = 0;
    for (size_t k = 0; k < kBase64GroupBytes; k++)
      group = (group << kByteBits) | (k < take ? static_cast<unsigned char>(s[i + k]) : 0u);
    for (size_t k = 0; k < kBase64GroupChars; k++) {
      unsigned shift = kBase64Bits * static_cast<unsigned>(kBase64GroupChars - 1 - k);
      r += k <= take ? kBase64Alphabet[(group >> shift) & kBase64Mask] : kBase64Pad;
    }
  }
  return r;
}

// False when `text` is not padded base64.
bool base64_decode(const std::string& text, std::string* out) {
  if (text.size() % kBase64GroupChars) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += kBase64GroupChars) {
    unsigned group = 0;
    size_t pad = 0;
    for (size_t k = 0; k < kBase64GroupChars; k++) {
      const char c = text[i + k];
      const char* at = c ? std::strchr(kBase64Alphabet, c) : nullptr;
      bool last_group = i + kBase64GroupChars == text.size();
      if (c == kBase64Pad && last_group && k >= kBase64GroupChars - 2)
        pad++;
      else if (!at || pad)
        return false;
      group = (group << kBase64Bits) | (at ? static_cast<unsigned>(at - kBase64Alphabet) : 0u);
    }
    for (size_t k = 0; k < kBase64GroupBytes - pad; k++)
      *out += static_cast<char>(
          static_cast<unsigned char>(group >> (kByteBits * (kBase64GroupBytes - 1 - k))));
  }
  return true;
}

// Sets j[key] to the text as valid UTF-8 and, when that lost bytes,
// j[key + "_bytes"] to the exact bytes.
void put_text(json& j, const std::string& key, const std::string& text) {
  j[key] = lossy_utf8(text);
  if (!valid_utf8(text)) j[key + kBytesSuffix] = base64_encode(text);
}

void put_texts(json& j, const std::string& key, const std::vector<std::string>& texts) {
  json lossy = json::array(), exact = json::array();
  bool lost = false;
  for (const std::string& t : texts) {
    lossy.push_back(lossy_utf8(t));
    exact.push_back(base64_encode(t));
    lost = lost || !valid_utf8(t);
  }
  j[key] = lossy;
  if (lost) j[key + kBytesSuffix] = exact;
}

std::string get_text(const json& j, const std::string& key) {
  auto exact = j.find(key + kBytesSuffix);
  std::string bytes;
  if (exact != j.end() && exact->is_string() && base64_decode(exact->get<std::string>(), &bytes))
    return bytes;
  return j.value(key, "");
}

std::vector<std::string> get_texts(const json& j, const std::string& key) {
  auto lossy = j.value(key, std::vector<std::string>{});
  auto exact = j.find(key + kBytesSuffix);
  if (exact == j.end() || !exact->is_array() || exact->size() != lossy.size()) return lossy;
  std::vector<std::string> texts(lossy.size());
  for (size_t i = 0; i < texts.size(); i++)
    if (!(*exact)[i].is_string() || !base64_decode((*exact)[i].get<std::string>(), &texts[i]))
      return lossy;
  return texts;
}

}  // namespace

size_t utf8_sequence_length(const std::string& s, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  for (const Utf8Form& f : kUtf8Forms) {
    if (lead < f.lead_lo || lead > f.lead_hi) continue;
    if (s.size() - i < f.length) return 0;
    for (size_t k = 1; k < f.length; k++) {
      const unsigned char c = static_cast<unsigned char>(s[i + k]);
      if (c < (k == 1 ? f.second_lo : kContinuationLo) ||
          c > (k == 1 ? f.second_hi : kContinuationHi))
        return 0;
    }
    return f.length;
  }
  return 0;
}

const char* verdict_name(Verdict v) {
  for (const VerdictName& n : kVerdictNames)
    if (n.verdict == v) return n.name;
  return "clean";
}

void to_json(json& j, Verdict v) { j = verdict_name(v); }

void from_json(const json& j, Verdict& v) {
  v = Verdict::Clean;
  const std::string text = j.get<std::string>();
  for (const VerdictName& n : kVerdictNames)
    if (text == n.name) v = n.verdict;
}

void to_json(json& j, const ScoredCall& c) {
  j = {{"line", c.line},
       {"score", c.score},
       {"definite", c.definite},
       {"depth", c.depth},
       {"decoders", c.decoders}};
  put_text(j, "name", c.name);
  put_texts(j, "args", c.args);
  put_text(j, "description", c.description);
}

void from_json(const json& j, ScoredCall& c) {
  c.line = j.value("line", 0ull);
  c.name = get_text(j, "name");
  c.args = get_texts(j, "args");
  c.description = get_text(j, "description");
  c.score = j.value("score", 0ull);
  c.definite = j.value("definite", false);
  c.depth = j.value("depth", 0ull);
  c.decoders = j.value("decoders", std::vector<std::string>{});
}

void to_json(json& j, const ScanOutcome& o) {
  j = {{"sha256", o.sha256},
       {"verdict", o.verdict},
       {"score", o.score},
       {"suspicious_score", o.suspicious_score},
       {"line", o.line},
       {"calls", o.calls},
       {"calls_dropped", o.calls_dropped}};
  put_texts(j, "descriptions", o.descriptions);
  if (o.partial()) j["partial"] = {{"head_bytes", o.head_bytes}, {"tail_bytes", o.tail_bytes}};
}

void from_json(const json& j, ScanOutcome& o) {
  o.sha256 = j.value("sha256", "");
  o.verdict = j.value("verdict", Verdict::Clean);
  o.score = j.value("score", 0ull);
  o.suspicious_score = j.value("suspicious_score", 0ull);
  o.line = j.value("line", 0ull);
  o.descriptions = get_texts(j, "descriptions");
  o.calls = j.value("calls", std::vector<ScoredCall>{});
  o.calls_dropped = j.value("calls_dropped", 0ul);
  const auto partial = j.find("partial");
  if (partial != j.end() && partial->is_object()) {
    o.head_bytes = partial->value("head_bytes", 0ull);
    o.tail_bytes = partial->value("tail_bytes", 0ull);
  }
}

void json_put_text(json& j, const std::string& key, const std::string& text) {
  put_text(j, key, text);
}

std::string json_text(const json& j, const std::string& key) {
  return j.is_object() ? get_text(j, key) : std::string();
}

void to_json(json& j, const FileResult& f) {
  if (f.allowed) {
    j = {{"status", "allowed"}, {"sha256", f.sha256}};
  } else if (!f.error.empty()) {
    j = {{"status", "error"}};
    put_text(j, "error", f.error);
  } else if (!f.skipped.empty()) {
    j = {{"status", "skipped"}};
    put_text(j, "reason", f.skipped);
  } else {
    to_json(j, static_cast<const ScanOutcome&>(f));
    j["status"] = "scanned";
    if (f.cached) j["cached"] = true;
    if (f.known) j["known"] = true;
    if (!f.quarantine_id.empty()) j["quarantine"] = {{"id", f.quarantine_id}};
    if (!f.quarantine_error.empty()) put_text(j["quarantine"], "error", f.quarantine_error);
  }
  put_text(j, "path", f.path);
  j["size"] = f.size;
}

void to_json(json& j, const RuleFileInfo& r) {
  j = {{"sha256", r.sha256}, {"count", r.rules}};
  put_text(j, "path", r.path);
}

bool write_all(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
