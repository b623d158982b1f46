// The adapter's verdicts, row by row, through its exported entry points with
// a rule file written by the test.

#include <qzengine/qzwrapper.h>

#include "behavior/behavior_fixture.h"

#include <malloc.h>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using behavior_test::rule_file;
using behavior_test::TempFile;

const std::vector<std::string> kRules = {
    "define_behavior(susp_a,,4,suspicious A)",
    "define_behavior(definite_b,,5,definite B)",
    "define_behavior(low_c,,3,low C)",
    "define_behavior(long_1,,1,first long" + std::string(80, '.') + ")",
    "define_behavior(long_2,,1,second long" + std::string(79, '.') + ")",
    "define_behavior(long_3,,1,third long" + std::string(80, '.') + ")",
    "define_behavior(full_1,,1," + std::string(99, 'A') + ")",
    "define_behavior(full_2,,1," + std::string(66, 'B') + ")",
    "define_behavior(full_3,,1," + std::string(99, 'C') + ")",
    "define_call_list(list_x&list_y,7,definite list)",
    "define_call_list(slist_p&slist_q,2,suspicious list)",
};

struct Recorder : threat::threat_handler {
  int on_threat(threat::threat_info* info, int kind) override {
    return calls++, last_kind = kind, seen = info, 0;
  }
  int calls = 0, last_kind = 0;
  threat::threat_info* seen = nullptr;
};

// A record filled with a sentinel so that untouched fields can be told apart.
threat::threat_info sentinel_record() {
  threat::threat_info info;
  std::memset(&info, 0xAB, sizeof info);
  return info;
}
const uint64_t kUntouched64 = 0xABABABABABABABABull;

class Wrapper : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(qz_engine_wrapper_init(rules.path().c_str())); }
  void TearDown() override { qz_engine_wrapper_uninit(); }

  TempFile rules{rule_file(kRules)};
};

TEST_F(Wrapper, VerdictTable) {
  struct Row {
    const char* name;
    const char* script;
    int result;
    bool handler_called;
    uint64_t score;      // when the handler is called
    bool flag;           // suspicion byte written
    uint64_t file_line;  // line written by a file scan (0: untouched)
    const char* desc;    // expected file_desc
  };
  // clang-format off
  const Row rows[] = {
      {"nothing", "<?php harmless(1);", 0, false, 0, false, 0, ""},
      {"only suspicious", "<?php susp_a(1); susp_a(2); susp_a(3);", 0, true, 0, true, 0, "suspicious A  "},
      // the definite call ends the walk: the call after it never scores
      {"definite during the walk", "<?php susp_a(1);\ndefinite_b(1);\nlow_c(1);", 1, true, 5, false, 2, "suspicious A  definite B  "},
      {"suspicious and definite file-level", "<?php low_c(1); list_x(1); list_y(1);", 1, true, 7, true, 0, "low C  definite list  "},
      {"definite file-level alone", "<?php list_x(1); list_y(1);", 1, false, 0, false, 0, "definite list  "},
      {"suspicious file-level", "<?php slist_p(1); slist_q(1);", 0, true, 0, true, 0, "suspicious list  "},
  };
  // clang-format on
  for (const Row& r : rows) {
    for (bool as_file : {false, true}) {
      SCOPED_TRACE(std::string(r.name) + (as_file ? " (file)" : " (buffer)"));
      threat::threat_info info = sentinel_record();
      Recorder h;
      TempFile file(r.script);
      std::string text = as_file ? file.path() : r.script;
      EXPECT_EQ(as_file ? qz_engine_wrapper_scan_file(&info, &text[0], &h)
                        : qz_engine_wrapper_scan_buff(&text[0], text.size(), &info, &h),
                r.result);
      EXPECT_EQ(h.calls, r.handler_called ? 1 : 0);
      EXPECT_STREQ(file_desc, r.desc);
      if (!r.handler_called) {
        EXPECT_EQ(info.score, kUntouched64);
        EXPECT_EQ(info.line, kUntouched64);
        continue;
      }
      EXPECT_EQ(h.last_kind, 1);
      EXPECT_EQ(h.seen, &info);
      EXPECT_EQ(info.score, r.score);
      EXPECT_STREQ(info.engine_name, "qz_engine");
      EXPECT_EQ(info.description, file_desc);
      EXPECT_EQ(info.suspicious, r.flag ? 1 : 0xAB);
      uint64_t line = as_file && r.file_line ? r.file_line : kUntouched64;
      EXPECT_EQ(info.line, line);
    }
  }
}

// A repeated description is added once; past 169 characters no description
// is added, while its score still counts; at 169 one more append is cut at
// the buffer's end instead of running past it.
TEST_F(Wrapper, DescriptionBufferIsBoundedAndDeduplicated) {
  const struct {
    const char* script;
    std::string desc;
    unsigned long score;
  } rows[] = {
      {"<?php long_1(1); long_1(2); long_2(1); long_3(1);",
       "first long" + std::string(80, '.') + "  second long" + std::string(79, '.') + "  ", 4},
      {"<?php full_1(1); full_2(1); full_3(1);",
       std::string(99, 'A') + "  " + std::string(66, 'B') + "  " + std::string(80, 'C'), 3},
  };
  for (const auto& r : rows) {
    threat::threat_info info = sentinel_record();
    Recorder h;
    std::string text = r.script;
    qz_engine_wrapper_scan_buff(&text[0], 0, &info, &h);
    EXPECT_EQ(std::string(file_desc), r.desc);
    EXPECT_EQ(file_desc[sizeof(file_desc) - 1], '\0');
    EXPECT_EQ(g_current_file_suspicious_score, r.score);
  }
}

std::vector<std::pair<std::string, unsigned long>> depth_seen;

unsigned char record_depth(unsigned long, unsigned long, char* name, unsigned long,
                           _fcall_argument*, unsigned long) {
  depth_seen.emplace_back(name, qz_engine_eval_depth());
  return 0;
}

TEST_F(Wrapper, EvalDepthCountsEvaluatedCodeOnly) {
  depth_seen.clear();
  qz_engine_set_fcall_filter(record_depth);
  char script[] =
      "<?php while (cond(1)) { body(1); } eval('inner(1); eval(\"deeper(1);\");'); after(1);";
  qz_engine_wrapper_scan_buff(script, 0, nullptr, nullptr);
  qz_engine_set_fcall_filter(qz_engine_wrapper_fcall_filter);
  const std::vector<std::pair<std::string, unsigned long>> expected = {
      {"cond", 0}, {"body", 0}, {"inner", 1}, {"deeper", 2},
      {"eval", 1}, {"eval", 0}, {"after", 0}};
  EXPECT_EQ(depth_seen, expected);
}

// Null inputs are a clean zero; init again without uninit takes no memory;
// without rules or after uninit nothing is scanned.
TEST_F(Wrapper, LifecycleAndRefusals) {
  Recorder h;
  threat::threat_info info = sentinel_record();
  char script[] = "<?php definite_b(1);";
  EXPECT_EQ(qz_engine_wrapper_scan_file(&info, nullptr, &h), 0);
  EXPECT_EQ(qz_engine_wrapper_scan_buff(nullptr, 0, &info, &h), 0);
  size_t heap = mallinfo2().uordblks;
  for (int i = 0; i < 1000; i++) ASSERT_TRUE(qz_engine_wrapper_init(rules.path().c_str()));
  EXPECT_LT(mallinfo2().uordblks, heap + 4096);
  EXPECT_EQ(h.calls, 0);
  EXPECT_EQ(qz_engine_wrapper_scan_buff(script, 0, &info, &h), 1);
  EXPECT_EQ(h.calls, 1);
  EXPECT_FALSE(qz_engine_wrapper_init(nullptr));
  EXPECT_FALSE(qz_engine_wrapper_init("/nonexistent/qz/rules"));
  EXPECT_EQ(qz_engine_wrapper_scan_buff(script, 0, &info, &h), 0);
  qz_engine_wrapper_uninit();
  EXPECT_EQ(qz_engine_wrapper_scan_buff(script, 0, &info, &h), 0);
  EXPECT_EQ(h.calls, 1);
}

// Code evaluated deeper than the engine walks: with limits reported as
// findings the default rules' limit rules call it a threat; without, the
// verdict is what it always was. Only the limit rules are taken, since the
// others already flag this loader by what its decoded text calls.
TEST(WrapperLimits, CodeNestedPastTheBoundIsAThreat) {
  std::ifstream in(std::string(QZ_SOURCE_DIR) + "/rules/default.rules.txt");
  std::vector<std::string> plain;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("define_behavior(qz_limit_reached,", 0) == 0) plain.push_back(line);
  ASSERT_FALSE(plain.empty());
  TempFile defaults(rule_file(plain));
  // Decoded code that evaluates itself again: nested past the bound of runs.
  char script[] = "<?php $c = base64_decode('ZXZhbCgkYyk7'); eval($c);";
  ASSERT_TRUE(qz_engine_wrapper_init(defaults.path().c_str()));
  const unsigned long all = QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_BINARY_SAFE;
  for (unsigned long options : {all, all | QZ_OPT_LIMIT_FINDINGS}) {
    qz_engine_set_options(options);
    threat::threat_info info = sentinel_record();
    Recorder h;
    EXPECT_EQ(qz_engine_wrapper_scan_buff(script, 0, &info, &h),
              options & QZ_OPT_LIMIT_FINDINGS ? 1 : 0)
        << file_desc;
    EXPECT_TRUE(qz_engine_scan_status() & QZ_SCAN_LIMIT_REACHED);
  }
  qz_engine_set_options(0);
  qz_engine_wrapper_uninit();
}

}  // namespace
