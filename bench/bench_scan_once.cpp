// The program bench/callgrind counts: scans the typical 20 KB application
// file (bench_scripts.h) through the verdict adapter as qzscan's workers do,
// the given number of times (default 1), and prints the verdict. Instruction
// counts of this run judge a change without timing noise.
//
//   bench_scan_once [TIMES]

#include "bench_adapter_scan.h"
#include "bench_scripts.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  long times = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
  bench::TempScript file(bench::typical_app_file());
  bench::start_adapter();
  int threats = 0;
  for (long i = 0; i < times; i++) threats += file.scan();
  std::printf("%ld scans, %d threats, score %lu, suspicious %lu\n", times, threats,
              g_current_file_score, g_current_file_suspicious_score);
  qz_engine_wrapper_uninit();
  return 0;
}
