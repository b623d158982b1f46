// A host that declares the documented prototypes and records itself and
// includes no project header: a drift of names, types or layout fails its
// link or its run.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

struct _fcall_argument {
  char buf[16];
  const char* value;
};

void qz_engine_startup();
void qz_engine_shutdown();
void qz_engine_scan_file(char* path);
void qz_engine_scan_buff(const char* text);
void qz_engine_set_exception_handler(void (*fn)(char*, int, char*));
void qz_engine_set_fcall_filter(unsigned char (*fn)(unsigned long, unsigned long, char*,
                                                    unsigned long, _fcall_argument*,
                                                    unsigned long));
int qz_engine_get_performace(unsigned long& used_tokens, unsigned long& token_capacity,
                             unsigned long& used_symbols, unsigned long& symbol_blocks);

namespace {

struct Call {
  unsigned long line, assign;
  std::string name;
  std::vector<std::string> args;
};
std::vector<Call> calls;
std::vector<std::string> faults;

unsigned char on_call(unsigned long line, unsigned long, char* name, unsigned long assign,
                      _fcall_argument* args, unsigned long n) {
  calls.push_back({line, assign, name ? name : "", {}});
  for (unsigned long i = 0; i < n; i++)
    calls.back().args.push_back(args[i].value ? args[i].value : "");
  return 0;
}
void on_fault(char* file, int line, char* msg) {
  faults.push_back(std::string(file) + ":" + std::to_string(line) + ":" + msg);
}

void start() {
  qz_engine_startup();
  qz_engine_set_fcall_filter(on_call);
  qz_engine_set_exception_handler(on_fault);
}

// One host flow: nothing is scanned outside the engine's lifetime; inside it
// a missing file or text is an empty scan, calls and faults reach the host,
// a file is scanned from its first line and the counters return to rest.
TEST(StrangerHost, EngineFlow) {
  std::string name = "/tmp/qz_stranger_host_scan_" + std::to_string(getpid()) + ".php";
  std::ofstream(name) << "text before\n<?php\nassert($_POST['x']);\n";
  calls.clear(), faults.clear(), start();
  qz_engine_shutdown();
  qz_engine_scan_file(&name[0]);
  qz_engine_scan_buff("<?php system('x');");
  EXPECT_TRUE(calls.empty());

  start();
  char missing[] = "/nonexistent/qz/stranger.php";
  qz_engine_scan_file(missing);
  qz_engine_scan_buff(nullptr);
  EXPECT_TRUE(calls.empty());
  qz_engine_scan_buff("<html><?php system('ls'); $f = 'exec'; $f($_GET['c']); $g = ''; $g(1);");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "system");
  EXPECT_EQ(calls[0].args, std::vector<std::string>{"ls"});
  EXPECT_EQ(calls.back().name, "exec");
  EXPECT_EQ(calls.back().assign, 1u);
  EXPECT_EQ(calls.back().args, std::vector<std::string>{"$_GET_DATA"});
  EXPECT_EQ(faults.size(), 1u) << "a call through an empty name is reported as a fault";
  calls.clear();
  qz_engine_scan_file(&name[0]);
  std::remove(name.c_str());
  ASSERT_EQ(calls.size(), 2u);  // the item read, then the call
  EXPECT_EQ(calls.back().name, "assert");
  EXPECT_EQ(calls.back().line, 3u);
  unsigned long tokens = 1, capacity = 0, symbols = 1, blocks = 0;
  EXPECT_EQ(qz_engine_get_performace(tokens, capacity, symbols, blocks), 1);
  EXPECT_EQ(tokens + symbols, 0u);
  EXPECT_GT(capacity, 0u);
  EXPECT_EQ(blocks, 1u);
  qz_engine_shutdown();
}

}  // namespace
