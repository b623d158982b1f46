// Scan time per byte of synthetic scripts of 10 KB, 100 KB, 1 MB and 10 MB,
// each of six shapes (bench_scripts.h), through the verdict adapter as
// qzscan's workers run it. The time_per_byte counter is the figure to read:
// for each shape it should stay within a factor of 1.5 from the smallest
// size to the largest. A larger growth means some cost is worse than linear
// in the size of the script.

#include "bench_adapter_scan.h"
#include "bench_scripts.h"

#include <benchmark/benchmark.h>

namespace {

void scan_shape(benchmark::State& state, bench::Shape shape) {
  std::string script = bench::make_script(shape, static_cast<size_t>(state.range(0)));
  bench::TempScript file(script);
  bench::start_adapter();
  int threats = 0;
  for (auto _ : state) threats += file.scan();
  qz_engine_wrapper_uninit();
  if (threats) state.SkipWithError("the script was found a threat: the walk stopped early");
  auto bytes = static_cast<double>(script.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
  state.counters["time_per_byte"] = benchmark::Counter(
      bytes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// 10 KB to 10 MB by factors of ten.
void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(scan_shape, ordinary, bench::Shape::Ordinary)->Apply(sizes);
BENCHMARK_CAPTURE(scan_shape, long_statement, bench::Shape::LongStatement)->Apply(sizes);
BENCHMARK_CAPTURE(scan_shape, deep_nesting, bench::Shape::DeepNesting)->Apply(sizes);
BENCHMARK_CAPTURE(scan_shape, many_variables, bench::Shape::ManyVariables)->Apply(sizes);
BENCHMARK_CAPTURE(scan_shape, long_strings, bench::Shape::LongStrings)->Apply(sizes);
BENCHMARK_CAPTURE(scan_shape, many_appends, bench::Shape::ManyAppends)->Apply(sizes);

}  // namespace
