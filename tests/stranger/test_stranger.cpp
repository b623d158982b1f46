// A host that includes no project header: it declares the prototypes and the
// records it uses itself (threat record: engine name at 16, description 24,
// line 64, score 72) and links the library by file, so a drift of
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

// A definite report writes the engine name, description, line and score at
// their offsets and nothing else of the record.
TEST(StrangerHost, AdapterFlow) {
  const std::string base = testing::TempDir() + "qz_stranger_" + std::to_string(getpid());
  std::string rules = base + ".rules", shell = base + ".php";
  std::unique_ptr<char[]> rule(
      Encrypt("define_behavior(boom,0=$_POST_DATA,9,runs request input)", "lindtre3095motive"));
  std::ofstream(rules) << rule.get() << "\r\n";
  std::ofstream(shell) << "<?php\n\n$x = 1;\nboom($_POST['x']);\n";
  threat::threat_info info, want;
  std::memset(&info, 0x5A, sizeof info);
  threat::threat_handler h;
  ASSERT_TRUE(qz_engine_wrapper_init(rules.c_str()));
  EXPECT_EQ(qz_engine_wrapper_scan_file(&info, &shell[0], &h), 1);
  EXPECT_STREQ(at<const char*>(info, 16), "qz_engine");
  EXPECT_STREQ(at<const char*>(info, 24), "runs request input  ");
  EXPECT_EQ(at<unsigned long>(info, 64), 4u);
  EXPECT_EQ(at<unsigned long>(info, 72), 9u);
  std::memset(&want, 0x5A, sizeof want);
  std::memcpy(want.bytes + 16, info.bytes + 16, 16);
  std::memcpy(want.bytes + 64, info.bytes + 64, 16);
  EXPECT_EQ(std::memcmp(&want, &info, sizeof info), 0) << "a byte outside the fields was written";
  EXPECT_EQ(h.last, &info);
  EXPECT_EQ(h.notified, 1);
  EXPECT_EQ(h.last_kind, 1);
  qz_engine_wrapper_uninit();
  std::remove(rules.c_str()), std::remove(shell.c_str());
}

}  // namespace
