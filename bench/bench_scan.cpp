// A whole scan of a typical 20 KB application file through the verdict
// adapter with the default rules, as qzscan's workers scan a file: reading
// the file, lexing, walking, reporting calls and scoring them.

#include "bench_adapter_scan.h"
#include "bench_scripts.h"

#include <benchmark/benchmark.h>

namespace {

void BM_TypicalAppFile(benchmark::State& state) {
  std::string script = bench::typical_app_file();
  bench::TempScript file(script);
  bench::start_adapter();
  int threats = 0;
  for (auto _ : state) threats += file.scan();
  qz_engine_wrapper_uninit();
  if (threats) state.SkipWithError("the typical file was found a threat");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
}
BENCHMARK(BM_TypicalAppFile)->Unit(benchmark::kMicrosecond);

}  // namespace
