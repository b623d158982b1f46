// Evaluator throughput through the whole scan path: statements per second on
// scripts of growing size. Linear cost shows as a steady items/second across
// the sizes of one benchmark.

#include <qzengine/qzengine.h>

#include <benchmark/benchmark.h>

#include <string>

namespace {

unsigned char count_calls(unsigned long, unsigned long, char*, unsigned long, _fcall_argument*,
                          unsigned long) {
  return 0;
}

// Statements typical of a small web shell and of ordinary code: request
// input, decoding, concatenation, array items, calls through variables.
std::string ordinary(size_t statements) {
  std::string s = "<?php\n";
  for (size_t i = 0; i < statements; i += 5) {
    std::string n = std::to_string(i % 300);
    s += "$a" + n + " = base64_decode($_POST['p" + n + "']);\n";
    s += "$b" + n + " = $a" + n + " . \"-\" . strlen($a" + n + ") * 2 + 1;\n";
    s += "$c" + n + "['k'] = str_replace('x', 'y', $b" + n + ");\n";
    s += "if ($c" + n + "['k'] == 'z') { echo htmlspecialchars($c" + n + "['k']);\n";
    s += "} $f = 'sys' . 'tem'; $f($_GET['c']);\n";
  }
  return s;
}

// Every statement names two variables never seen before.
std::string distinct_variables(size_t statements) {
  std::string s = "<?php\n";
  for (size_t i = 0; i < statements; i++)
    s += "$v" + std::to_string(i) + " = $w" + std::to_string(i) + " . 'x';\n";
  return s;
}

// One statement with no ";": the argument is the number of calls in it.
std::string one_statement(size_t calls) {
  std::string s = "<?php ";
  for (size_t i = 0; i < calls; i++)
    s += "$v" + std::to_string(i % 100) + " = f($x . \"a\", 1 + 2) ";
  return s;
}

// Calls nested as deep as the argument: beyond the bound the statement is
// dropped, which must cost no more than reading it.
std::string nested_calls(size_t depth) {
  std::string s = "<?php ";
  for (size_t i = 0; i < depth; i++) s += "f(";
  s += "1";
  s += std::string(depth, ')');
  s += "; g(1);";
  return s;
}

void scan(benchmark::State& state, const std::string& script, size_t items) {
  qz_engine_startup();
  qz_engine_set_fcall_filter(count_calls);
  for (auto _ : state) qz_engine_scan_buff(script.c_str());
  qz_engine_set_fcall_filter(nullptr);
  qz_engine_shutdown();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
}

void BM_OrdinaryStatements(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  scan(state, ordinary(n), n);
}
BENCHMARK(BM_OrdinaryStatements)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DistinctVariables(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  scan(state, distinct_variables(n), n);
}
BENCHMARK(BM_DistinctVariables)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_OneStatementNoSemicolon(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  scan(state, one_statement(n), n);
}
BENCHMARK(BM_OneStatementNoSemicolon)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

void BM_NestedCalls(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  scan(state, nested_calls(n), n);
}
BENCHMARK(BM_NestedCalls)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
