// Peak memory of one scan, and the cost of small scans after a large one.
//
// Each input is written to a file and scanned in a forked child, once with
// the baseline options and once with the memory budget on; the child's peak
// resident size (ru_maxrss) is printed next to the bound the budget aims at,
// 64 MB plus four times the file size. The inputs scale with the first
// argument (a divisor, default 1: the full sizes); quadratic rows shrink
// with its square in the baseline run.
//
// The history figure times 200 small scans (best of five rounds) alone and again after one 4 MB
// scan in the same process.

#include "common/qz_host.h"

#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// Address space a child may take, so a baseline run cannot exhaust the host.
const rlim_t kChildAddressSpace = 8ul << 30;
const unsigned long kMB = 1024 * 1024;

using Writer = std::function<void(FILE*, unsigned long)>;

void repeat(FILE* f, const std::string& text, unsigned long times) {
  for (unsigned long i = 0; i < times; i++) std::fputs(text.c_str(), f);
}

// Base64 of the raw deflate of `bytes` zero bytes.
std::string deflated_zeros(unsigned long bytes) {
  std::vector<unsigned char> in(bytes, 0), out(compressBound(bytes) + 64);
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(bytes);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string b64;
  for (size_t i = 0; i < out.size(); i += 3) {
    unsigned v = out[i] << 16 | (i + 1 < out.size() ? out[i + 1] << 8 : 0) |
                 (i + 2 < out.size() ? out[i + 2] : 0);
    b64 += abc[v >> 18 & 63];
    b64 += abc[v >> 12 & 63];
    b64 += i + 1 < out.size() ? abc[v >> 6 & 63] : '=';
    b64 += i + 2 < out.size() ? abc[v & 63] : '=';
  }
  return b64;
}

struct Row {
  const char* name;
  bool quadratic;  // memory of the baseline grows as the square of the count
  Writer write;    // writes the input for divisor d
};

const Row kRows[] = {
    {"'$a .= 10 bytes' x 20000", true,
     [](FILE* f, unsigned long d) {
       std::fputs("<?php $a = '';\n", f);
       repeat(f, "$a .= \"xxxxxxxxxx\";\n", 20000 / d);
     }},
    {"'x' . 'x' ... 100000 terms", true,
     [](FILE* f, unsigned long d) {
       std::fputs("<?php $a = 'x'", f);
       repeat(f, " . 'x'", 100000 / d);
       std::fputs(";\n", f);
     }},
    {"200 x ($b = $a . $a), 8 MB $a", false,
     [](FILE* f, unsigned long d) {
       std::fputs("<?php $a = 'x';\n", f);
       unsigned long doublings = 23;
       for (unsigned long s = d; s > 1; s /= 2) doublings--;
       repeat(f, "$a = $a . $a;\n", doublings);
       repeat(f, "$b = $a . $a;\n", 200);
     }},
    {"200 inflations to 15 MB", false,
     [](FILE* f, unsigned long d) {
       std::fprintf(f, "<?php $p = base64_decode('%s');\n", deflated_zeros(15 * kMB / d).c_str());
       repeat(f, "$x = gzinflate($p);\n", 200);
     }},
    {"16 MB of '$a[] = 1;'", false,
     [](FILE* f, unsigned long d) {
       std::fputs("<?php ", f);
       repeat(f, "$a[] = 1;\n", 16 * kMB / 10 / d);
     }},
    {"16 MB statement without ';'", false,
     [](FILE* f, unsigned long d) {
       std::fputs("<?php $a = 1", f);
       repeat(f, " + 1", 16 * kMB / 4 / d);
     }},
    {"16 MB of ordinary PHP", false,
     [](FILE* f, unsigned long d) {
       std::string block =
           "<?php\nfunction greet($name) {\n  $text = 'Hello, ' . $name . '!';\n"
           "  if (strlen($name) > 3) { echo htmlspecialchars($text); }\n  return $text;\n}\n"
           "$items = array('a' => 1, 'b' => 2);\nforeach ($items as $k => $v) { "
           "$out[] = greet($k . $v); }\n$db = mysqli_connect('localhost', 'u', 'p');\n"
           "$r = mysqli_query($db, 'SELECT 1');\n?>\n<p>page</p>\n";
       repeat(f, block, 16 * kMB / block.size() / d);
     }},
};

long file_size(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  long n = std::ftell(f);
  std::fclose(f);
  return n;
}

// Peak resident kilobytes of a child that scans `path` with `options`; -1
// when the child failed.
long child_peak_kb(const char* path, unsigned long options, unsigned long* status) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    rlimit lim{kChildAddressSpace, kChildAddressSpace};
    setrlimit(RLIMIT_AS, &lim);
    qz_engine_startup();
    qz_engine_set_options(options);
    qz_engine_scan_file(const_cast<char*>(path));
    unsigned long st = qz_engine_scan_status();
    if (write(fds[1], &st, sizeof st) != sizeof st) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  *status = 0;
  if (read(fds[0], status, sizeof *status) != sizeof *status) *status = ~0ul;
  close(fds[0]);
  int ws = 0;
  rusage ru{};
  if (wait4(pid, &ws, 0, &ru) != pid || !WIFEXITED(ws) || WEXITSTATUS(ws) != 0) return -1;
  return ru.ru_maxrss;
}

// Best of five rounds of 200 small scans: the machine is shared, the minimum
// is the figure least disturbed by others.
double small_scans_ms(const std::string& small) {
  double best = 1e300;
  for (int round = 0; round < 5; round++) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; i++) qz_engine_scan_buff(small.c_str());
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - t0;
    if (took.count() < best) best = took.count();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long d = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
  if (d == 0) d = 1;
  char path[] = "/tmp/qz_bench_memory_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return 1;
  close(fd);
  std::printf("%-32s %10s %14s %14s %12s\n", "input (divisor)", "bytes", "baseline KB", "budget KB",
              "bound KB");
  for (const Row& r : kRows) {
    long peak[2];
    unsigned long st[2];
    long size = 0;
    for (int on = 0; on < 2; on++) {
      unsigned long div = on || !r.quadratic ? d : d * d;
      FILE* f = std::fopen(path, "wb");
      if (!f) return 1;
      r.write(f, div);
      std::fclose(f);
      size = file_size(path);
      peak[on] = child_peak_kb(
          path, on ? QZ_OPT_FULL_DECODE | QZ_OPT_MEMORY_BUDGET : QZ_OPT_FULL_DECODE, &st[on]);
    }
    std::printf("%-32s %10ld %14ld %14ld %12ld  status %lu/%lu\n", r.name, size, peak[0], peak[1],
                (64 * static_cast<long>(kMB) + 4 * size) / 1024, st[0], st[1]);
  }
  std::remove(path);

  std::string small = "<?php ", large = "<?php ";
  for (int i = 0; i < 50; i++) small += "f" + std::to_string(i) + "($v, 'x');\n";
  while (large.size() < 4 * kMB) large += "g($w, 1, 2, 'abc');\n";
  qz_engine_startup();
  double alone = small_scans_ms(small);
  qz_engine_scan_buff(large.c_str());
  double after = small_scans_ms(small);
  std::printf("200 small scans: %.1f ms alone, %.1f ms after a 4 MB scan (ratio %.2f)\n", alone,
              after, after / alone);
  qz_engine_shutdown();
  return 0;
}
