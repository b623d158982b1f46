// The daemon's round trip over its socket: qzscan --daemon -j 2 is started
// with the default rules, then one 20 KB file is asked for one request at a
// time (median and p99 of the time from sending SCANFD to the whole reply),
// and small files are asked for with requests sent ahead, as qzscan
// --daemon-socket sends them (files per second). Targets: median <= 2 ms,
// p99 <= 10 ms, >= 2000 small files/s.
//   bench_daemon [ROUND_TRIPS [SMALL_FILES]]

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Size of the file timed one request at a time.
constexpr size_t kLargeBytes = 20 * 1024;
// Requests sent ahead while timing small files: the client's own window.
constexpr size_t kAhead = 32;
// Tries, 10 ms apart, to reach a daemon that is starting.
constexpr int kConnectTries = 500;
constexpr double kTargetMedianMs = 2, kTargetP99Ms = 10, kTargetFilesPerSecond = 2000;

int dial(const std::string& path) {
  sockaddr_un a = {};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  close(fd);
  return -1;
}

// One SCANFD line with the descriptor beside it.
bool ask_fd(int sock, int fd) {
  static char line[] = "SCANFD\n";
  iovec iov = {line, sizeof line - 1};
  alignas(cmsghdr) char ctl[CMSG_SPACE(sizeof fd)] = {};
  msghdr m = {};
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  m.msg_control = ctl;
  m.msg_controllen = sizeof ctl;
  cmsghdr* h = CMSG_FIRSTHDR(&m);
  *h = {CMSG_LEN(sizeof fd), SOL_SOCKET, SCM_RIGHTS};
  std::memcpy(CMSG_DATA(h), &fd, sizeof fd);
  return sendmsg(sock, &m, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof line - 1);
}

// Reads until `lines` more newlines came; false when the daemon is gone.
bool await(int sock, size_t lines, std::string& pending) {
  char buf[65536];
  while (lines) {
    for (size_t at; lines && (at = pending.find('\n')) != std::string::npos; lines--)
      pending.erase(0, at + 1);
    if (!lines) break;
    const ssize_t n = read(sock, buf, sizeof buf);
    if (n <= 0) return false;
    pending.append(buf, static_cast<size_t>(n));
  }
  return true;
}

void write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) std::exit(1);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  const size_t round_trips = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
  const size_t small_files = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
  char tmpl[] = "/tmp/bench_daemon_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string sock = dir + "/d.sock", large = dir + "/large.php", small = dir + "/small.php";
  std::string text = "<?php\n";
  for (int i = 0; text.size() < kLargeBytes; i++)
    text += "function f" + std::to_string(i) + "($a) { $b = strtolower(trim($a)); return " +
            "str_replace('x', 'y', $b) . " + std::to_string(i) + "; }\n";
  write_file(large, text.substr(0, kLargeBytes));
  write_file(small, "<?php\necho htmlspecialchars($_GET['q'] ?? '');\n");

  const pid_t daemon = fork();
  if (daemon == 0) {
    execl(QZ_BENCH_QZSCAN, "qzscan", "--rules", QZ_BENCH_RULES, "--daemon", "--socket",
          sock.c_str(), "-j", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  int s = -1;
  for (int i = 0; i < kConnectTries && s < 0; i++) {
    s = dial(sock);
    if (s < 0) usleep(10000);
  }
  if (s < 0) {
    std::fprintf(stderr, "bench_daemon: the daemon did not start\n");
    return 1;
  }
  std::string pending;
  const int large_fd = open(large.c_str(), O_RDONLY);
  std::vector<double> ms;
  for (size_t i = 0; i < round_trips; i++) {
    const auto t0 = Clock::now();
    if (!ask_fd(s, large_fd) || !await(s, 1, pending)) return 1;
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  const int small_fd = open(small.c_str(), O_RDONLY);
  const auto t0 = Clock::now();
  size_t sent = 0, answered = 0;
  while (answered < small_files) {
    while (sent < small_files && sent - answered < kAhead) {
      if (!ask_fd(s, small_fd)) return 1;
      sent++;
    }
    if (!await(s, 1, pending)) return 1;
    answered++;
  }
  const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  kill(daemon, SIGTERM);
  waitpid(daemon, nullptr, 0);
  unlink(large.c_str());
  unlink(small.c_str());
  rmdir(dir.c_str());
  const double median = percentile(ms, 0.5), p99 = percentile(ms, 0.99),
               rate = static_cast<double>(small_files) / secs;
  std::printf(
      "20 KB file, %zu round trips: median %.3f ms (target <= %.0f), p99 %.3f ms "
      "(target <= %.0f)\n",
      round_trips, median, kTargetMedianMs, p99, kTargetP99Ms);
  std::printf("small files, -j 2: %.0f files/s over %zu files (target >= %.0f)\n", rate,
              small_files, kTargetFilesPerSecond);
  return 0;
}
