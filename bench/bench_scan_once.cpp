// The program bench/callgrind counts: scans a script through the verdict
// adapter as qzscan's workers do, the given number of times (default 1), and
// prints the verdict. The script is the typical 20 KB application file, or
// one of the scaling benchmark's shapes at a given size (bench_scripts.h).
// Instruction counts of this run judge a change without timing noise.
//
//   bench_scan_once [TIMES [SHAPE BYTES]]
//   SHAPE: ordinary long_statement deep_nesting many_variables long_strings many_appends

#include "bench_adapter_scan.h"
#include "bench_scripts.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const struct {
  const char* name;
  bench::Shape shape;
} kShapes[] = {
    {"ordinary", bench::Shape::Ordinary},        {"long_statement", bench::Shape::LongStatement},
    {"deep_nesting", bench::Shape::DeepNesting}, {"many_variables", bench::Shape::ManyVariables},
    {"long_strings", bench::Shape::LongStrings}, {"many_appends", bench::Shape::ManyAppends},
};

}  // namespace

int main(int argc, char** argv) {
  long times = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
  std::string script = bench::typical_app_file();
  if (argc > 3) {
    size_t bytes = std::strtoul(argv[3], nullptr, 10);
    bool known = false;
    for (const auto& s : kShapes)
      if (std::strcmp(s.name, argv[2]) == 0) {
        script = bench::make_script(s.shape, bytes);
        known = true;
      }
    if (!known) {
      std::fprintf(stderr, "bench_scan_once: unknown shape %s\n", argv[2]);
      return 2;
    }
  }
  bench::TempScript file(script);
  bench::start_adapter();
  int threats = 0;
  for (long i = 0; i < times; i++) threats += file.scan();
  std::printf("%ld scans of %zu bytes, %d threats, score %lu, suspicious %lu\n", times,
              script.size(), threats, g_current_file_score, g_current_file_suspicious_score);
  qz_engine_wrapper_uninit();
  return 0;
}
