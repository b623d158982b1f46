// A host written only from the engine's documented interface. It includes no
// header of the project: every prototype, callback type and record below is
// declared here exactly as the documentation gives it, so any drift of a name
// or a parameter type in the library fails this program's link or its run.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct _fcall_argument {
  char buf[16];
  const char* value;
};

class qz_io_handle {
 public:
  virtual int _getc();
  virtual bool get_str(char delim, char* out, unsigned long* size);
  virtual void reset();
  virtual void _ungetc();
  virtual void unget_str(char* s);
  virtual void close();
};

void qz_engine_startup();
void qz_engine_shutdown();
void qz_engine_scan_file(char* path);
void qz_engine_scan_buff(const char* text);
void qz_engine_scan_file_w(wchar_t* path);
void qz_engine_real_scan(qz_io_handle* source);
void qz_engine_release_all_resource();
void qz_engine_interupt();
unsigned char qz_engine_is_interupt();
void qz_engine_set_exception_handler(void (*fn)(char*, int, char*));
void qz_engine_throw_exception(char* file, int line, char* message);
void qz_engine_set_fcall_filter(unsigned char (*fn)(unsigned long, unsigned long, char*,
                                                    unsigned long, _fcall_argument*,
                                                    unsigned long));
unsigned char qz_engine_call_fcall_filter(unsigned long line_no, unsigned long reserved,
                                          char* func_name, unsigned long assign_times,
                                          _fcall_argument* args, unsigned long arg_count);
void qz_engine_set_performace_filter(void (*fn)(unsigned long, unsigned long, unsigned long,
                                                unsigned long, unsigned long, unsigned long,
                                                unsigned long));
void qz_engine_call_performace_filter(unsigned long, unsigned long, unsigned long, unsigned long,
                                      unsigned long, unsigned long, unsigned long);
void qz_engine_set_output_handler(void (*fn)(char*));
void qz_call_output(char* text);
void qz_engine_set_var_dump_handler(void (*fn)(char*, char*));
void qz_call_vardump(char*, char*);
int qz_engine_get_performace(unsigned long& used_tokens, unsigned long& token_capacity,
                             unsigned long& used_symbols, unsigned long& symbol_blocks);
void qz_report_performance(unsigned long line_no);

namespace {

struct Call {
  unsigned long line, reserved, assign;
  std::string name;
  std::vector<std::string> args;
};
struct Perf {
  unsigned long line, tokens, capacity, symbols, blocks, arrays, strings;
};

std::vector<Call> calls;
std::vector<Perf> perfs;
std::vector<std::string> faults;
std::vector<std::string> outputs;
std::vector<std::pair<std::string, std::string>> dumps;

unsigned char on_call(unsigned long line, unsigned long reserved, char* name, unsigned long assign,
                      _fcall_argument* args, unsigned long n) {
  Call c{line, reserved, assign, name ? name : "", {}};
  for (unsigned long i = 0; i < n; i++) c.args.push_back(args[i].value ? args[i].value : "(null)");
  calls.push_back(c);
  return 0;
}
void on_perf(unsigned long a, unsigned long b, unsigned long c, unsigned long d, unsigned long e,
             unsigned long f, unsigned long g) {
  perfs.push_back({a, b, c, d, e, f, g});
}
void on_fault(char* file, int line, char* msg) {
  faults.push_back(std::string(file) + ":" + std::to_string(line) + ":" + msg);
}
void on_output(char* t) { outputs.push_back(t); }
void on_dump(char* n, char* v) { dumps.emplace_back(n, v); }

// A source of the host's own making, fed to the engine through its base class.
class string_source : public qz_io_handle {
 public:
  explicit string_source(const char* t) : text(t) {}
  int _getc() override { return text[pos] ? static_cast<signed char>(text[pos++]) : -1; }
  void _ungetc() override {
    if (pos) pos--;
  }
  const char* text;
  size_t pos = 0;
};

class StrangerHost : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    perfs.clear();
    faults.clear();
    outputs.clear();
    dumps.clear();
    qz_engine_startup();
    qz_engine_set_fcall_filter(on_call);
    qz_engine_set_performace_filter(on_perf);
    qz_engine_set_exception_handler(on_fault);
    qz_engine_set_output_handler(on_output);
    qz_engine_set_var_dump_handler(on_dump);
  }
  void TearDown() override {
    qz_engine_set_fcall_filter(nullptr);
    qz_engine_set_performace_filter(nullptr);
    qz_engine_set_exception_handler(nullptr);
    qz_engine_set_output_handler(nullptr);
    qz_engine_set_var_dump_handler(nullptr);
    qz_engine_shutdown();
  }
};

TEST_F(StrangerHost, InvokersPassArgumentsThrough) {
  _fcall_argument arg{};
  arg.value = "x";
  char name[] = "f", file[] = "a/b", msg[] = "m", text[] = "out", n[] = "$a", v[] = "1";
  qz_engine_call_fcall_filter(7, 99, name, 2, &arg, 1);
  qz_engine_call_performace_filter(1, 2, 3, 4, 5, 6, 7);
  qz_engine_throw_exception(file, 3, msg);
  qz_call_output(text);
  qz_call_vardump(n, v);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].line, 7u);
  EXPECT_EQ(calls[0].reserved, 0u);  // whatever the caller gives, the filter sees 0
  EXPECT_EQ(calls[0].assign, 2u);
  EXPECT_EQ(calls[0].args, std::vector<std::string>{"x"});
  ASSERT_EQ(perfs.size(), 1u);
  EXPECT_EQ(perfs[0].arrays, 6u);
  EXPECT_EQ(perfs[0].strings, 7u);
  EXPECT_EQ(faults, std::vector<std::string>{"a/b:3:m"});
  EXPECT_EQ(outputs, std::vector<std::string>{"out"});
  EXPECT_EQ(dumps.size(), 1u);
  qz_engine_set_fcall_filter(nullptr);
  EXPECT_EQ(qz_engine_call_fcall_filter(1, 0, name, 0, nullptr, 0), 0);
}

TEST_F(StrangerHost, BufferScanReportsCallsAndCountersReturnToRest) {
  qz_engine_interupt();  // raised before a scan: cleared when the scan starts
  qz_engine_scan_buff("<html><?php system('ls'); $f = 'exec'; $f($_GET['c']);");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "system");
  EXPECT_EQ(calls[0].args, std::vector<std::string>{"ls"});
  EXPECT_EQ(calls.back().name, "exec");
  EXPECT_EQ(calls.back().assign, 1u);
  EXPECT_EQ(calls.back().args, std::vector<std::string>{"$_GET_DATA"});
  EXPECT_EQ(qz_engine_is_interupt(), 0);
  unsigned long tokens = 1, capacity = 0, symbols = 1, blocks = 0;
  EXPECT_EQ(qz_engine_get_performace(tokens, capacity, symbols, blocks), 1);
  EXPECT_EQ(tokens + symbols, 0u);
  EXPECT_GT(capacity, 0u);
  EXPECT_EQ(blocks, 1u);
}

// A missing file is an empty scan with one report; a real one is scanned.
TEST_F(StrangerHost, FileScans) {
  char missing[] = "/nonexistent/qz/stranger.php";
  qz_engine_scan_file(missing);
  EXPECT_TRUE(calls.empty());
  ASSERT_EQ(perfs.size(), 1u);
  EXPECT_EQ(perfs[0].line, 0u);
  EXPECT_TRUE(faults.empty());

  std::string name = "/tmp/qz_stranger_host_scan_" + std::to_string(getpid()) + ".php";
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("text before\n<?php\nassert($_POST['x']);\n", f);
  std::fclose(f);
  qz_engine_scan_file(&name[0]);
  std::remove(name.c_str());
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().name, "assert");
  EXPECT_EQ(calls.back().line, 3u);

  const size_t before = calls.size();
  wchar_t wpath[] = L"/tmp/x.php";
  qz_engine_scan_file_w(wpath);
  EXPECT_EQ(calls.size(), before);
}

TEST_F(StrangerHost, HostSourceThroughRealScan) {
  string_source src("<?php passthru('id');");
  qz_engine_real_scan(&src);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "passthru");
  qz_engine_real_scan(nullptr);  // only clears the interrupt flag
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(StrangerHost, ScansAreRefusedOutsideTheEngineLifetime) {
  qz_engine_shutdown();
  qz_engine_scan_buff("<?php system('x');");
  EXPECT_TRUE(calls.empty());
  qz_engine_startup();
  qz_engine_scan_buff(nullptr);  // an empty scan
  EXPECT_TRUE(calls.empty());
}

}  // namespace
