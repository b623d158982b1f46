// Lexer and driver throughput. Each script is built at the size given as the
// benchmark argument (in bytes) so that cost per byte can be compared across
// sizes: linear cost shows as a steady bytes/second.

#include "common/qz_host.h"
#include "php/php_lex.h"

#include <qzengine/qzengine.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

// Ordinary application code: assignments, calls, strings, comments, arrays,
// HTML between PHP blocks; a few hundred distinct names repeat.
std::string realistic_script(size_t size) {
  std::string s = "<?php\n";
  for (size_t i = 0; s.size() < size; i++) {
    std::string n = std::to_string(i % 400);
    s += "/* block " + n + " */\n";
    s += "$var_" + n + " = \"value \" . $i . 'x\\n';\n";
    s += "if (isset($_GET['k_" + n + "'])) { $x_" + n + " = strtolower(trim($_GET['k_" + n +
         "'])); }\n";
    s += "echo htmlspecialchars($x_" + n + ", ENT_QUOTES); // print it\n";
    s += "function f_" + n + "($a, $b) { return $a + $b * 2 - ($a / 3); }\n";
    s += "$arr_" + n + " = array('a' => 1, 'b' => \"two\", 'c' => f_" + n + "(1, 2));\n";
    s += "?>\n<div class=\"row\"><span>text " + n + "</span></div>\n<?php\n";
  }
  return s;
}

// One statement with no ";" at all.
std::string no_semicolon_script(size_t size) {
  std::string s = "<?php\n";
  for (size_t i = 0; s.size() < size; i++)
    s += "$a" + std::to_string(i % 100) + " = f(1, 'x') . $b\n";
  return s;
}

// Parentheses nested as deep as the size allows, in one statement.
std::string nested_parens_script(size_t size) {
  size_t depth = (size - 16) / 2;
  return "<?php $a = " + std::string(depth, '(') + "1" + std::string(depth, ')') + "; f(1);";
}

void lex_source(qz_io_handle* src) {
  php_lex_reset();
  while (_qz_token* t = php_lex_get_token(src, 0)) qz_token_free(t);
}

void lex_all(const std::string& text) {
  buf_file_handle src(text.c_str());
  lex_source(&src);
}

void BM_LexRealistic(benchmark::State& state) {
  qz_engine_startup();
  std::string text = realistic_script(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    lex_all(text);
    qz_engine_release_all_resource();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  qz_engine_shutdown();
}

// The same script read from a file with the extended reading on, as
// qzscan's workers read files.
void BM_LexRealisticFileReach(benchmark::State& state) {
  qz_engine_startup();
  qz_engine_set_options(QZ_OPT_INTERPRETER_REACH | QZ_OPT_EXTENDED_TAGS | QZ_OPT_BINARY_SAFE);
  std::string text = realistic_script(static_cast<size_t>(state.range(0)));
  FILE* f = std::tmpfile();
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    state.SkipWithError("cannot write a temporary file");
    qz_engine_shutdown();
    return;
  }
  for (auto _ : state) {
    std::rewind(f);
    linux_file_handle src(f);
    lex_source(&src);
    qz_engine_release_all_resource();
  }
  std::fclose(f);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  qz_engine_set_options(0);
  qz_engine_shutdown();
}

void scan_bench(benchmark::State& state, const std::string& text) {
  qz_engine_startup();
  for (auto _ : state) qz_engine_scan_buff(text.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  qz_engine_shutdown();
}

void BM_ScanRealistic(benchmark::State& state) {
  scan_bench(state, realistic_script(static_cast<size_t>(state.range(0))));
}

void BM_ScanNoSemicolon(benchmark::State& state) {
  scan_bench(state, no_semicolon_script(static_cast<size_t>(state.range(0))));
}

void BM_ScanNestedParens(benchmark::State& state) {
  scan_bench(state, nested_parens_script(static_cast<size_t>(state.range(0))));
}

constexpr int64_t kMB = 1 << 20;

BENCHMARK(BM_LexRealistic)->Arg(kMB)->Arg(10 * kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LexRealisticFileReach)->Arg(kMB)->Arg(10 * kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanRealistic)->Arg(kMB)->Arg(10 * kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanNoSemicolon)->Arg(kMB)->Arg(10 * kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanNestedParens)->Arg(kMB / 4)->Arg(kMB)->Unit(benchmark::kMillisecond);

}  // namespace
