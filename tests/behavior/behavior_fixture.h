#ifndef TESTS_BEHAVIOR_FIXTURE_H
#define TESTS_BEHAVIOR_FIXTURE_H

/* Helpers for the behaviour and rule-tool tests: an RC4 written apart from the
 * engine's, temporary rule files, calls scored as the interpreter reports
 * them, and the rule tables in a compact text form. */

#include "behavior/qz_behavior_match.h"
#include "behavior/qz_behavior_rules.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace behavior_test {

inline const char* kPhrase = "lindtre3095motive";

/* Uppercase hexadecimal of n bytes. */
inline std::string hex_of(const unsigned char* b, size_t n) {
  std::string hex;
  for (size_t i = 0; i < n; ++i)
    hex += {"0123456789ABCDEF"[b[i] >> 4], "0123456789ABCDEF"[b[i] & 15]};
  return hex;
}

/* Textbook RC4 (key schedule, then keystream XOR), as uppercase hex. */
inline std::string independent_encipher(const std::string& plain,
                                        const std::string& key = kPhrase) {
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) % 256;
    std::swap(s[i], s[j]);
  }
  std::string out;
  for (size_t n = 0, i = 0, j = 0; n < plain.size(); ++n) {
    i = (i + 1) % 256;
    j = (j + s[i]) % 256;
    std::swap(s[i], s[j]);
    out += static_cast<char>(plain[n] ^ s[(s[i] + s[j]) % 256]);
  }
  return hex_of(reinterpret_cast<const unsigned char*>(out.data()), out.size());
}

inline std::string lowercase(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

/* A file in a private temporary directory, removed with the object. */
class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    char tmpl[] = "/tmp/qz_bh_XXXXXX";
    close(mkstemp(tmpl));
    path_ = tmpl;
    std::ofstream(path_, std::ios::binary) << contents;
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/* Enciphers each plain text into one line with the given line end. */
inline std::string rule_file(const std::vector<std::string>& plains, const char* eol = "\n") {
  std::string out;
  for (const std::string& p : plains) out += independent_encipher(p) + eol;
  return out;
}

/* What one reported call scores: the score, description and detail text. */
struct Outcome {
  unsigned long score;
  std::string desc, detail;
};

/* Scores a call as the interpreter reports it, one record per argument. */
inline Outcome check(std::string name, const std::vector<std::string>& args = {}) {
  std::vector<_fcall_argument> recs(args.size());
  for (size_t i = 0; i < args.size(); ++i) recs[i].value = args[i].c_str();
  char desc[QZ_RULE_DESC_BUFFER] = {0}, detail[QZ_RULE_DETAIL_BUFFER] = {0};
  unsigned long score = qz_behavior_check(7, 0, &name[0], 0, recs.empty() ? nullptr : recs.data(),
                                          recs.size(), desc, detail);
  return {score, desc, detail};
}

/* One line per record, in table order:
 *   V name|value
 *   B functions|description|score|exact|idx=pattern;...
 *   L description|score|name&name...
 *   R function|min_count|score|description */
inline std::string dump_tables() {
  std::string out;
  auto n = [](long long v) { return "|" + std::to_string(v) + "|"; };
  for (auto* v : qz_behavior_vars)
    out += std::string("V ") + v->var_name + "|" + v->var_value + "\n";
  for (auto* b : qz_behaviors) {
    out += std::string("B ") + b->functions + "|" + b->description + n(b->score) +
           std::to_string(b->exact_match) + "|";
    for (uint64_t k = 0; k < b->cond_count; ++k)
      out += (k ? ";" : "") + std::to_string(b->conds[k].arg_index) + "=" + b->conds[k].pattern;
    out += "\n";
  }
  for (auto* l : qz_behavior_call_lists) {
    out += std::string("L ") + l->description + n(l->score);
    for (uint64_t k = 0; k < l->call_count; ++k) out += (k ? "&" : "") + std::string(l->calls[k]);
    out += "\n";
  }
  for (auto* r : qz_behavior_repeat_calls)
    out += std::string("R ") + r->function + n(r->min_count) + std::to_string(r->score) + "|" +
           r->description + "\n";
  return out;
}

/* Defines every plain text as the loader would, after emptying the tables. */
inline void define_all(const std::vector<std::string>& plains) {
  qz_behavior_shutdown();
  for (std::string p : plains) qz_behavior_define(&p[0]);
}

/* Empties the tables, loads an enciphered rule file's contents (which must
 * succeed) and gives the tables as dump_tables shows them. */
inline std::string load_file(const std::string& contents) {
  qz_behavior_shutdown();
  TempFile f(contents);
  EXPECT_EQ(qz_behavior_startup(f.path().c_str()), 1);
  EXPECT_EQ(qz_behavior_startup_i(), 1);
  return dump_tables();
}

/* Every test starts and ends with empty tables and history. */
class BehaviorTest : public ::testing::Test {
 protected:
  void SetUp() override { qz_behavior_shutdown(), call_history.clear(); }
  void TearDown() override { SetUp(); }
};

}  // namespace behavior_test

#endif
