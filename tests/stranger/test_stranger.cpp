// A host that includes no project header: it declares the prototypes and the
// records it uses itself (threat record: engine name at 16, description 24,
// flag 56, line 64, score 72) and links the library by file, so a drift of
// names, types or layout fails its link or its run.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

struct _fcall_argument {
  char buf[16];
  const char* value;
};
namespace threat {
struct threat_info {
  unsigned char bytes[120];  // the host's record is larger than what the adapter writes
};
class threat_handler {
 public:
  virtual void notify(threat_info* info, int kind) { notified++, last = info, last_kind = kind; }
  virtual ~threat_handler() = default;
  int notified = 0, last_kind = 0;
  threat_info* last = nullptr;
};
}  // namespace threat

void qz_engine_startup();
void qz_engine_shutdown();
void qz_engine_scan_buff(const char* text);
void qz_engine_set_fcall_filter(unsigned char (*fn)(unsigned long, unsigned long, char*,
                                                    unsigned long, _fcall_argument*,
                                                    unsigned long));
bool qz_engine_wrapper_init(const char* rule_path);
void qz_engine_wrapper_uninit();
int qz_engine_wrapper_scan_file(threat::threat_info* info, char* path,
                                threat::threat_handler* handler);
int qz_engine_wrapper_scan_buff(char* text, unsigned long length, threat::threat_info* info,
                                threat::threat_handler* handler);
char* Encrypt(const char* plain, const char* pass_phrase);

namespace {

std::vector<std::string> calls;  // line:name(args) assigned-times

template <class T>
T at(const threat::threat_info& info, size_t offset) {
  T v;
  return std::memcpy(&v, info.bytes + offset, sizeof v), v;
}

unsigned char on_call(unsigned long line, unsigned long, char* name, unsigned long assign,
                      _fcall_argument* args, unsigned long n) {
  std::string c = std::to_string(line) + ":" + (name ? name : "?") + "(";
  for (unsigned long i = 0; i < n; i++) c += (i ? "," : "") + std::string(args[i].value);
  calls.push_back(c + ") " + std::to_string(assign));
  return 0;
}

TEST(StrangerHost, EngineFlow) {
  qz_engine_startup();
  qz_engine_set_fcall_filter(on_call);
  qz_engine_scan_buff("<html><?php system('ls');\n$f = 'exec'; $f($_GET['c']);");
  qz_engine_shutdown();
  EXPECT_EQ(calls, (std::vector<std::string>{"1:system(ls) 0", "2:qz_array_item($_GET,c) 0",
                                             "2:exec($_GET_DATA) 1"}));
}

// A suspicious and a definite report each write only their fields.
TEST(StrangerHost, AdapterFlow) {
  const std::string base = testing::TempDir() + "qz_stranger_" + std::to_string(getpid());
  std::string rules = base + ".rules", shell = base + ".php";
  std::ofstream f(rules);
  for (const char* r : {"define_behavior(boom,0=$_POST_DATA,9,runs request input)",
                        "define_behavior(hmm,,2,looks odd)"})
    f << std::unique_ptr<char[]>(Encrypt(r, "lindtre3095motive")).get() << "\r\n";
  f.close();
  std::ofstream(shell) << "<?php\n\n$x = 1;\nboom($_POST['x']);\n";
  threat::threat_info info, filled;
  std::memset(&filled, 0x5A, sizeof filled);
  threat::threat_handler h;
  // The record is the fill but for the [from, to) spans.
  auto written_only = [&](std::vector<std::pair<size_t, size_t>> spans) {
    threat::threat_info want = filled;
    for (auto s : spans)
      std::memcpy(want.bytes + s.first, info.bytes + s.first, s.second - s.first);
    return std::memcmp(&want, &info, sizeof info) == 0;
  };
  ASSERT_TRUE(qz_engine_wrapper_init(rules.c_str()));
  char odd[] = "<?php hmm(1);";
  info = filled;
  EXPECT_EQ(qz_engine_wrapper_scan_buff(odd, sizeof odd, &info, &h), 0);
  EXPECT_TRUE(written_only({{16, 32}, {56, 57}, {72, 80}}));
  EXPECT_EQ(info.bytes[56], 1);
  EXPECT_STREQ(at<const char*>(info, 24), "looks odd  ");
  EXPECT_EQ(at<unsigned long>(info, 72), 0u);
  info = filled;
  EXPECT_EQ(qz_engine_wrapper_scan_file(&info, &shell[0], &h), 1);
  EXPECT_TRUE(written_only({{16, 32}, {64, 80}}));
  EXPECT_STREQ(at<const char*>(info, 16), "qz_engine");
  EXPECT_STREQ(at<const char*>(info, 24), "runs request input  ");
  EXPECT_EQ(at<unsigned long>(info, 64), 4u);
  EXPECT_EQ(at<unsigned long>(info, 72), 9u);
  EXPECT_EQ(h.last, &info);
  EXPECT_EQ(h.notified, 2);
  EXPECT_EQ(h.last_kind, 1);
  qz_engine_wrapper_uninit();
  std::remove(rules.c_str()), std::remove(shell.c_str());
}

}  // namespace
