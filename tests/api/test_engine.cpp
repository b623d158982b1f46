// The engine's re-entry guard, scan status, reset cost, memory budget and
// repeated start.

#include <qzengine/qzwrapper.h>

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_mempool.h"
#include "runtime/qz_token.h"
#include "source/qz_source.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <functional>

#include <new>

#include <string>
#include <vector>

namespace {

std::vector<std::string> seen_calls;
bool reenter = false;

// Records the call; with reenter set, also tries every re-entry a careless
// host might attempt from inside a callback. A call of "boom" throws as an
// allocation that failed in the host's own code.
unsigned char record_call(unsigned long, unsigned long, char* name, unsigned long, _fcall_argument*,
                          unsigned long) {
  seen_calls.push_back(name);
  char missing[] = "/nonexistent.php";
  if (reenter) qz_engine_scan_buff("<?php inner_call(1);"), qz_engine_scan_file(missing);
  if (reenter) qz_engine_release_all_resource();
  if (std::string(name) == "boom") throw std::bad_alloc();
  return 0;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    seen_calls.clear();
    qz_engine_startup();
  }
  void TearDown() override {
    qz_engine_set_fcall_filter(nullptr);
    qz_engine_shutdown();
  }
};

// The reset after a scan costs what that scan used: small scans after a big
// one zero no more token slabs than the same scans alone, and the big scan's
// slabs past the kept number go back to the heap.
TEST_F(Engine, ResetWorkDoesNotFollowHistory) {
  std::string big = "<?php ", small = "<?php ";
  for (int i = 0; i < 60000; i++) big += "f($v, 1, 2, 3, 4);\n";
  for (int i = 0; i < 20; i++) small += "g($w, 'x');\n";
  auto& pool = qz_engine_memory_pool_for_token;
  auto small_scans = [&] {
    unsigned long before = pool.zeroed_slabs;
    for (int i = 0; i < 10; i++) qz_engine_scan_buff(small.c_str());
    return pool.zeroed_slabs - before;
  };
  unsigned long alone = small_scans();
  unsigned long before_big = pool.zeroed_slabs;
  qz_engine_scan_buff(big.c_str());
  EXPECT_GT(pool.zeroed_slabs - before_big, 1u) << "the big scan must grow the pool";
  EXPECT_LE(pool.slab_count(), static_cast<unsigned long>(QZ_POOL_KEEP_SLABS));
  unsigned long after_big = small_scans();
  EXPECT_GE(alone, 10u);
  EXPECT_LE(after_big * 5, alone * 6);
}

// Under the memory budget a runaway scan ends early with what it found so
// far, flagged; without the option, or within the budget, scans run whole. A
// scan that could not read its input never reads as complete. An allocation
// that throws inside a scan (here from the host's own callback, deep in
// evaluated code) ends that scan as out of memory with what it saw so far. A
// scan started from inside a callback is refused. The status belongs to the
// last scan only, and each scan starts from a clean state.
TEST_F(Engine, ScanStatus) {
  qz_engine_set_fcall_filter(record_call);
  // Eight strings of 16 MB, all still held by variables: past any budget of
  // a small input however much is reclaimed.
  std::string runaway = "<?php system('id'); $a = 'x';\n";
  for (int i = 0; i < 23; i++) runaway += "$a = $a . $a;\n";
  for (char v = 'b'; v < 'j'; v++) runaway += std::string("$") + v + " = $a . $a;\n";
  runaway += "after($a);";
  char missing[] = "/nonexistent/dir/x.php", dir[] = "/";
  using calls = std::vector<std::string>;
  const unsigned long oom = QZ_SCAN_OUT_OF_MEMORY;
  const struct {
    unsigned long options;
    const char* text;  // scanned from memory, else path is scanned as a file,
    char* path;        // else the engine is handed no input at all
    unsigned long status;
    calls seen;
    bool reenter = false;  // the callback tries to scan again
  } rows[] = {
      // clang-format off
      {0, runaway.c_str(), nullptr, 0, {"system", "after"}},
      {QZ_OPT_MEMORY_BUDGET, runaway.c_str(), nullptr, QZ_SCAN_MEMORY_BUDGET, {"system"}},
      {QZ_OPT_MEMORY_BUDGET, "<?php system('id'); after(1);", nullptr, 0, {"system", "after"}},
      {0, nullptr, missing, QZ_SCAN_INPUT_UNREADABLE, {}},
      {0, nullptr, dir, QZ_SCAN_INPUT_UNREADABLE, {}},
      {0, nullptr, nullptr, QZ_SCAN_INPUT_UNREADABLE, {}},
      {0, "", nullptr, 0, {}},
      // A loop the walk cannot settle, splicing its text into itself: its
      // later rounds stop before the budget, and the script is read on.
      {QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH,
       "<?php $s = 'ab'; while ($p < strlen($s) && more($s)) { $p = strlen($s); $s = substr_replace($s, $s, 0, 1); } after(1);",
       nullptr, 0, {"strlen", "more", "strlen", "substr_replace", "after"}},
      {0, "<?php before(1); eval('x(1); boom(2); y(3);'); after(4);", nullptr, oom, {"before", "x", "boom"}},
      {0, "<?php eval('x(1);'); after(4);", nullptr, 0, {"x", "eval", "after"}},
      {0, "<?php outer_call(1); after_call(2);", nullptr, 0, {"outer_call", "after_call"}, true},
      // clang-format on
  };
  for (auto& r : rows) {
    SCOPED_TRACE("row " + std::to_string(&r - rows));
    seen_calls.clear();
    qz_engine_set_options(r.options);
    reenter = r.reenter;
    r.text   ? qz_engine_scan_buff(r.text)
    : r.path ? qz_engine_scan_file(r.path)
             : qz_engine_real_scan(nullptr);
    reenter = false;
    EXPECT_EQ(qz_engine_scan_status(), r.status);
    EXPECT_EQ(seen_calls, r.seen);
    // Also a scan that a throw ended deep in evaluated code.
    EXPECT_EQ(qz_engine_eval_depth(), 0u);
  }
  qz_engine_set_options(0);
  // Nothing is refused between scans.
  EXPECT_NE(qz_token_alloc(1ul), nullptr);
}

// Function bodies stay as tokens for the whole scan, several times the
// bytes of their source: a large file made of nothing else is still read to
// its end within the memory budget, with no collection running away.
TEST_F(Engine, LargeFileOfFunctionsFitsItsBudget) {
  qz_engine_set_fcall_filter(record_call);
  std::string script = "<?php\n";
  for (unsigned long n = 0; script.size() < 5ul * 1024 * 1024; n++)
    script += "function render_" + std::to_string(n) +
              "($items, $title) {\n  $rows = array();\n  foreach ($items as $k => $v) {\n"
              "    $rows[] = '<li>' . $k . ': ' . $v . '</li>';\n  }\n"
              "  return '<h2>' . $title . '</h2><ul>' . implode('', $rows) . '</ul>';\n}\n";
  script += "after(1);";
  seen_calls.clear();
  qz_engine_set_options(QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH);
  qz_engine_scan_buff(script.c_str());
  qz_engine_set_options(0);
  // Walking every one of them may meet a work limit; memory must not end it.
  EXPECT_EQ(qz_engine_scan_status() & (QZ_SCAN_MEMORY_BUDGET | QZ_SCAN_OUT_OF_MEMORY), 0ul);
  EXPECT_NE(std::find(seen_calls.begin(), seen_calls.end(), "after"), seen_calls.end());
}

// A scan's memory budget follows the size of its input, whether the script
// comes from a file or from a stream over memory (as qzscan hands it over);
// a stream that cannot tell its size (a pipe) gets the budget of an unknown
// size.
TEST_F(Engine, BudgetFollowsTheSizeOfAFileOrAMemoryStream) {
  static unsigned long budget_seen;
  qz_engine_set_fcall_filter([](unsigned long, unsigned long, char*, unsigned long,
                                _fcall_argument*, unsigned long) -> unsigned char {
    budget_seen = qz_scan_memory_budget;
    return 0;
  });
  std::string script = "<?php probe(1);\n" + std::string(100000, ' ');
  const unsigned long sized = QZ_SCAN_BUDGET_BASE + QZ_SCAN_BUDGET_PER_INPUT_BYTE * script.size();
  char path[] = "/tmp/qz_budget_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
  close(fd);
  const struct {
    const char* what;
    std::function<FILE*()> open;
    unsigned long budget;
  } rows[] = {
      {"file", [&] { return std::fopen(path, "rb"); }, sized},
      {"memory", [&] { return fmemopen(&script[0], script.size(), "rb"); }, sized},
      {"pipe", [&] { return popen((std::string("cat ") + path).c_str(), "r"); },
       QZ_SCAN_BUDGET_UNKNOWN_SIZE},
  };
  qz_engine_set_options(QZ_OPT_MEMORY_BUDGET);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    FILE* stream = r.open();
    ASSERT_NE(stream, nullptr);
    linux_file_handle source(stream);
    budget_seen = 0;
    qz_engine_real_scan(&source);
    EXPECT_EQ(budget_seen, r.budget);
    std::string("pipe") == r.what ? pclose(source.stream) : std::fclose(source.stream);
  }
  qz_engine_set_options(0);
  unlink(path);
}

// A call above the definition of a top-level function gets the function's
// value from every source that can be read twice: the definitions are read
// first and the source is read again from its start. A pipe is read once, as
// before: the call above the definition gets nothing.
TEST_F(Engine, FunctionsAreDefinedBeforeTheFirstStatementWhereTheSourceCanBeReread) {
  std::string script =
      "<?php\n$f = g();\n$f(1);\nfunction g() { return 'sys' . 'tem'; }\nlast(2);\n";
  char path[] = "/tmp/qz_hoist_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
  close(fd);
  const std::vector<std::string> hoisted = {"g", "system", "last"};
  const struct {
    const char* what;
    std::function<FILE*()> open;  // null: scanned from a buffer
    std::vector<std::string> seen;
  } rows[] = {
      {"buffer", nullptr, hoisted},
      {"file", [&] { return std::fopen(path, "rb"); }, hoisted},
      {"memory", [&] { return fmemopen(&script[0], script.size(), "rb"); }, hoisted},
      {"pipe",
       [&] { return popen((std::string("cat ") + path).c_str(), "r"); },
       {"g", "qz_unknown_callee", "last"}},
  };
  qz_engine_set_fcall_filter(record_call);
  qz_engine_set_options(QZ_OPT_INTERPRETER_REACH);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    seen_calls.clear();
    if (!r.open) {
      qz_engine_scan_buff(script.c_str());
    } else {
      FILE* stream = r.open();
      ASSERT_NE(stream, nullptr);
      linux_file_handle source(stream);
      qz_engine_real_scan(&source);
      std::string("pipe") == r.what ? pclose(source.stream) : std::fclose(source.stream);
    }
    EXPECT_EQ(seen_calls, r.seen);
  }
  qz_engine_set_options(0);
  unlink(path);
}

// A scan reports the same calls whatever the scans before it in the process
// left behind. The script fills a quarter of its memory budget (where loops
// stop running further rounds) up to a little less or more than the token
// and array slabs it uses: whether its loop runs on, and so what probe()
// gets, follows what the scan is charged for those slabs, which must be the
// same whether they are new or kept from an earlier scan. Each row scans its
// predecessors on a restarted engine, then the script, whose report must
// equal the one it gave with no predecessor.
TEST_F(Engine, ScanDoesNotDependOnTheScansBefore) {
  static std::vector<std::string> calls;
  qz_engine_set_fcall_filter([](unsigned long, unsigned long, char* name, unsigned long,
                                _fcall_argument* args, unsigned long n) -> unsigned char {
    std::string c = std::string(name) + "(";
    for (unsigned long i = 0; i < n; i++)
      c += (i ? ", " : "") + std::string(args[i].value ? args[i].value : "");
    calls.push_back(c + ")");
    return 0;
  });
  auto script = [](unsigned long fill) {
    return "<?php $big = str_repeat('a', " + std::to_string(fill) +
           "); for ($i = 0; $i < 40; $i++) { $n = $i; } probe($n);";
  };
  std::string many_tokens = "<?php ";
  for (int i = 0; i < 5000; i++) many_tokens += "f($v, 1, 2, 3, 'x');\n";
  const std::string small = "<?php g(1);";
  const unsigned long quarter =
      (QZ_SCAN_BUDGET_BASE + QZ_SCAN_BUDGET_PER_INPUT_BYTE * script(10000000).size()) /
      QZ_LOOP_BUDGET_SHARE;
  qz_engine_set_options(QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH);
  std::vector<std::string> probes;  // what probe() got, over the fills
  for (unsigned long fill = quarter - 1350000; fill <= quarter + 150000; fill += 150000) {
    SCOPED_TRACE("fill " + std::to_string(fill));
    const std::string a = script(fill);
    const std::vector<std::vector<std::string>> rows = {
        {}, {a}, {small}, {many_tokens}, {a, many_tokens, small, a},
    };
    std::vector<std::string> first;
    for (const auto& predecessors : rows) {
      SCOPED_TRACE("after " + std::to_string(predecessors.size()) + " scans, row " +
                   std::to_string(&predecessors - rows.data()));
      qz_engine_shutdown();
      qz_engine_startup();
      for (const std::string& p : predecessors) qz_engine_scan_buff(p.c_str());
      calls.clear();
      qz_engine_scan_buff(a.c_str());
      if (first.empty()) first = calls;
      EXPECT_EQ(calls, first);
    }
    ASSERT_FALSE(first.empty());
    probes.push_back(first.back());
  }
  qz_engine_set_options(0);
  // The fills reach both sides of the threshold: the loop ran on for some.
  EXPECT_NE(std::find(probes.begin(), probes.end(), "probe(b)"), probes.end());
  EXPECT_NE(probes.front(), probes.back());
}

// A start while started changes nothing: no memory is taken, the interned
// handles and the symbol blocks stay, and scans go on as before.
TEST_F(Engine, RepeatedStartupKeepsTheEngine) {
  qz_engine_set_fcall_filter(record_call);
  char* eval_handle = qz_engine_dangerous_call;
  unsigned long tokens = 0, capacity = 0, symbols = 0, blocks = 0, blocks2 = 0;
  qz_engine_get_performace(tokens, capacity, symbols, blocks);
  size_t heap = mallinfo2().uordblks;
  for (int i = 0; i < 1000; i++) qz_engine_startup();
  EXPECT_LT(mallinfo2().uordblks, heap + 4096);
  qz_engine_get_performace(tokens, capacity, symbols, blocks2);
  EXPECT_EQ(blocks2, blocks);
  EXPECT_EQ(qz_engine_dangerous_call, eval_handle);
  qz_engine_scan_buff("<?php f(1);");
  EXPECT_EQ(seen_calls, (std::vector<std::string>{"f"}));
}

}  // namespace
