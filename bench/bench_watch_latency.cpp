// Latency of qzscan --watch: the time from the close of a written file to
// its JSON line on qzscan's output, for files written one at a time (each
// after the previous one was reported), so that what is measured is the
// path of one upload, not the throughput of a storm. Prints the median,
// 90th percentile and maximum against the target median.
//
//   bench_watch_latency [FILES [BACKEND]]   (default 200 files, auto)

#include "bench_scripts.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The target: a file written is reported within this many milliseconds
// (median) of its close.
constexpr double kTargetMedianMillis = 200;
// Longest wait for qzscan to start or to report one file: only a broken run
// reaches it.
constexpr int kWaitMillis = 60000;

// Reads from fd until `text` has been seen in what was read since `from`;
// false at the end of the output or after kWaitMillis.
bool wait_for(int fd, std::string& seen, size_t from, const std::string& text) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMillis);
  while (seen.find(text, from) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[65536];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = std::max(1, argc > 1 ? std::atoi(argv[1]) : 200);
  const std::string backend = argc > 2 ? argv[2] : "auto";
  char tmpl[] = "/tmp/bench_watch_XXXXXX";
  if (!mkdtemp(tmpl)) return 2;
  const std::string dir = tmpl;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(err[0]);
    execl(QZ_BENCH_QZSCAN, QZ_BENCH_QZSCAN, "--rules", QZ_BENCH_RULES, "--watch", "--format",
          "json", "-j", "2", "--watch-backend", backend.c_str(), dir.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  std::string said, lines;
  if (!wait_for(err[0], said, 0, "watching")) {
    std::fprintf(stderr, "bench_watch_latency: qzscan did not start: %s\n", said.c_str());
    return 2;
  }
  std::fprintf(stderr, "%s", said.c_str());
  const std::string script = bench::typical_app_file();
  std::vector<double> millis;
  for (int i = 0; i < files; i++) {
    const std::string name = "upload" + std::to_string(i) + ".php";
    const size_t from = lines.size();
    int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, script.data(), script.size()) != static_cast<ssize_t>(script.size()))
      return 2;
    close(fd);
    const auto closed = Clock::now();
    if (!wait_for(out[0], lines, from, "/" + name + "\"")) {
      std::fprintf(stderr, "bench_watch_latency: %s was not reported\n", name.c_str());
      return 2;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - closed).count());
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::sort(millis.begin(), millis.end());
  const double median = millis[millis.size() / 2];
  std::printf(
      "%d files of %zu bytes, close to report: median %.1f ms, p90 %.1f ms, max %.1f ms "
      "(target median <= %.0f ms: %s)\n",
      files, script.size(), median, millis[millis.size() * 9 / 10], millis.back(),
      kTargetMedianMillis, median <= kTargetMedianMillis ? "met" : "missed");
  return 0;
}
