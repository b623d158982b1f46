// A host with threat types of its own: it shares only the documented offsets
// (engine name 16, description 24, flag 56, line 64, score 72) and the first
// virtual function, and checks which bytes of its record the adapter wrote.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace threat {
struct threat_info {
  unsigned char bytes[120];  // the host's record is larger than what the adapter writes
};
class threat_handler {
 public:
  virtual void notify(threat_info* info, int kind) { notified++, last = info, last_kind = kind; }
  virtual void unrelated() { unrelated_calls++; }
  virtual ~threat_handler() = default;
  int notified = 0, last_kind = 0, unrelated_calls = 0;
  threat_info* last = nullptr;
};
}  // namespace threat

bool qz_engine_wrapper_init(const char* rule_path);
void qz_engine_wrapper_uninit();
int qz_engine_wrapper_scan_file(threat::threat_info* info, char* path,
                                threat::threat_handler* handler);
int qz_engine_wrapper_scan_buff(char* text, unsigned long length, threat::threat_info* info,
                                threat::threat_handler* handler);
char* Encrypt(const char* plain, const char* pass_phrase);

namespace {

const unsigned char kFill = 0x5A;

template <class T>
T field(const threat::threat_info& info, size_t offset) {
  T v;
  std::memcpy(&v, info.bytes + offset, sizeof v);
  return v;
}

class StrangerAdapter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&info, kFill, sizeof info);
    std::ofstream f(rules);
    for (const char* r : {"define_behavior(boom,0=$_POST_DATA,9,runs request input)",
                          "define_behavior(hmm,,2,looks odd)"})
      f << std::unique_ptr<char[]>(Encrypt(r, "lindtre3095motive")).get() << "\r\n";
    f.close();
    ASSERT_TRUE(qz_engine_wrapper_init(rules.c_str()));
  }
  void TearDown() override {
    qz_engine_wrapper_uninit();
    std::remove(rules.c_str());
  }
  // Every byte of the record outside the [from, to) spans must keep the fill.
  void expect_written_only(const std::vector<std::pair<size_t, size_t>>& spans) {
    std::string got(info.bytes, std::end(info.bytes)), want(sizeof info.bytes, char(kFill));
    for (auto s : spans)
      want.replace(s.first, s.second - s.first, got, s.first, s.second - s.first);
    EXPECT_EQ(got, want);
  }
  std::string rules = testing::TempDir() + "qz_stranger_rules_" + std::to_string(getpid()) + ".txt";
  threat::threat_info info;
  threat::threat_handler h;
};

// A clean script leaves the record alone; a suspicious one writes the flag
// and no line; a definite file report writes the line and the score.
TEST_F(StrangerAdapter, ReportsWriteOnlyTheirFields) {
  char clean[] = "<?php echo 'hello';", script[] = "<?php hmm(1);";
  EXPECT_EQ(qz_engine_wrapper_scan_buff(clean, 0, &info, &h), 0);
  expect_written_only({});
  EXPECT_EQ(h.notified, 0);
  EXPECT_EQ(qz_engine_wrapper_scan_buff(script, sizeof script, &info, &h), 0);
  expect_written_only({{16, 32}, {56, 57}, {72, 80}});
  EXPECT_EQ(info.bytes[56], 1);
  EXPECT_EQ(field<unsigned long>(info, 72), 0u);
  EXPECT_STREQ(field<const char*>(info, 24), "looks odd  ");

  std::memset(&info, kFill, sizeof info);
  std::string path = testing::TempDir() + "qz_stranger_shell_" + std::to_string(getpid()) + ".php";
  std::ofstream(path) << "<?php\n\n$x = 1;\nboom($_POST['x']);\n";
  EXPECT_EQ(qz_engine_wrapper_scan_file(&info, &path[0], &h), 1);
  std::remove(path.c_str());
  expect_written_only({{16, 32}, {64, 80}});
  EXPECT_STREQ(field<const char*>(info, 16), "qz_engine");
  EXPECT_STREQ(field<const char*>(info, 24), "runs request input  ");
  EXPECT_EQ(field<unsigned long>(info, 64), 4u);
  EXPECT_EQ(field<unsigned long>(info, 72), 9u);
  EXPECT_EQ(h.last, &info);
  EXPECT_EQ(h.notified, 2);
  EXPECT_EQ(h.last_kind, 1);
  EXPECT_EQ(h.unrelated_calls, 0);
}

}  // namespace
