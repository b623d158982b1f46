#ifndef TESTS_TOOLS_QZSCAN_RUNNER_H
#define TESTS_TOOLS_QZSCAN_RUNNER_H

// Runs the built qzscan with an exact argument vector in a temporary working
// directory, so that paths in its output begin as given and names may hold
// any byte; its standard output and error are read back from files. A run
// that uses a test hook runs qzscan-testhooks, the same program with the
// hooks of tools/qzscan/scan_test_hooks.h; a test that needs a run to reach
// a point first waits for the run's events, never for the clock.

#include "behavior/qz_cipher.h"
#include "support/codec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qzscan_test {

using json = nlohmann::json;
namespace fs = std::filesystem;

inline const char* const kRules[] = {"define_var(REQ,$_GET_DATA+$_POST_DATA+$_REQUEST_DATA)",
                                     "define_behavior(eval+system,0=REQ,10,runs request input)",
                                     "define_behavior(exec,,3,runs a command)"};

// A shell run on request input: a threat under kRules.
inline const char* const kShell = "<?php\nsystem($_GET['c']);\n";

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The entries of a quarantine folder (its item ids), sorted; none when it
// does not exist.
inline std::vector<std::string> quarantine_items(const std::string& q) {
  std::vector<std::string> ids;
  if (fs::is_directory(q))
    for (const auto& e : fs::directory_iterator(q)) ids.push_back(e.path().filename());
  std::sort(ids.begin(), ids.end());
  return ids;
}

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline std::string encipher(const char* rule) {
  return std::unique_ptr<char[]>(qz_cipher_rule_encrypt(rule)).get();
}

inline std::string sha256_of(const std::string& path) {
  std::string digest = "<no sha256sum>";
  if (FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r")) {
    char hex[65] = {};
    if (std::fscanf(p, "%64s", hex) == 1) digest = hex;
    pclose(p);
  }
  return digest;
}

// Each file of a JSON report, by its exact path (path_bytes decoded when
// the path is not UTF-8), as "status[ verdict][ known][ cached]"; output
// that is not a report gives one entry holding it.
inline std::multimap<std::string, std::string> report_files(const std::string& out) {
  const json report = json::parse(out, nullptr, false);
  if (report.is_discarded() || !report.contains("files")) return {{"<not a report>", out}};
  std::multimap<std::string, std::string> files;
  for (const json& f : report["files"]) {
    std::string status = f["status"];
    if (f.contains("verdict")) status += " " + f["verdict"].get<std::string>();
    if (f.value("known", false)) status += " known";
    if (f.value("cached", false)) status += " cached";
    files.emplace(
        f.contains("path_bytes") ? codec::unbase64(f["path_bytes"]) : f["path"].get<std::string>(),
        status);
  }
  return files;
}

// The longest wait for an event of a run. A sound run on the slowest machine
// is far quicker; only a broken run reaches it, which then fails instead of
// hanging the tests.
inline const int kEventWaitSeconds = 60;

// The events of one run of qzscan-testhooks: a pipe its workers write event
// lines to ("hold PATH", "open PATH", "done PATH"; see scan_test_hooks.h) and
// a socket through which the test lets held workers go on (a socket, so that
// a release after the run ended fails instead of raising SIGPIPE). start()
// hands the run its ends and closes the test's copies of them; the test's own
// ends are close-on-exec, so that no other child holds them, and a read sees
// the end of the pipe once the run and every worker are gone.
class Events {
 public:
  Events() {
    int pipe_fds[2], socket_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socket_fds) != 0)
      throw std::runtime_error(std::string("cannot make the event pipes: ") + std::strerror(errno));
    from_run_ = pipe_fds[0];
    run_writes_ = pipe_fds[1];
    to_run_ = socket_fds[0];
    run_reads_ = socket_fds[1];
  }
  Events(const Events&) = delete;
  Events& operator=(const Events&) = delete;
  ~Events() {
    for (int fd : {from_run_, run_writes_, to_run_, run_reads_})
      if (fd >= 0) close(fd);
  }

  // The settings that give the run its ends.
  std::vector<std::string> env() const {
    return {"QZSCAN_TEST_EVENT_FD=" + std::to_string(run_writes_),
            "QZSCAN_TEST_RELEASE_FD=" + std::to_string(run_reads_)};
  }
  // In the child, before exec: the run's ends stay open in the run.
  void keep_in_child() const {
    fcntl(run_writes_, F_SETFD, 0);
    fcntl(run_reads_, F_SETFD, 0);
  }
  // In the test, once the run is forked: only the run holds its ends now.
  void handed_over() {
    close(run_writes_);
    close(run_reads_);
    run_writes_ = run_reads_ = -1;
  }

  // Waits until the run has written the event line (without its newline),
  // now or before; false when the pipe ended or kEventWaitSeconds passed
  // without it. A path with a newline cannot be waited for.
  bool wait(const std::string& line) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kEventWaitSeconds);
    while (log_.find("\n" + line + "\n") == std::string::npos)
      if (!read_more(deadline)) return false;
    return true;
  }
  // Waits until every writer is gone: the run and all of its workers have
  // ended. False when one is still there after kEventWaitSeconds.
  bool wait_end() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kEventWaitSeconds);
    while (read_more(deadline)) {
    }
    return ended_;
  }
  // Lets n held workers go on, one byte each.
  void release(size_t n = 1) {
    const std::string bytes(n, 'r');
    EXPECT_EQ(send(to_run_, bytes.data(), n, MSG_NOSIGNAL), static_cast<ssize_t>(n))
        << std::strerror(errno);
  }
  // Every event line so far, each after a newline.
  const std::string& log() const { return log_; }

 private:
  // Appends what the run wrote next to the log; false at the pipe's end or
  // the deadline.
  bool read_more(std::chrono::steady_clock::time_point deadline) {
    if (ended_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{from_run_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[4096];
    ssize_t n = read(from_run_, buf, sizeof buf);
    if (n <= 0) {
      ended_ = true;
      return false;
    }
    log_.append(buf, static_cast<size_t>(n));
    return true;
  }

  int from_run_ = -1, run_writes_ = -1;  // the event pipe
  int to_run_ = -1, run_reads_ = -1;     // the release socket
  std::string log_ = "\n";
  bool ended_ = false;  // the pipe ended: no writer is left
};

// Which qzscan a launch runs.
enum class Binary {
  ByHooks,    // qzscan-testhooks when the launch sets a QZSCAN_TEST_ variable or has events
  Release,    // qzscan, whatever the environment says
  TestHooks,  // qzscan-testhooks
};

inline std::string qzscan_binary(Binary b) {
  return b == Binary::Release ? QZ_BINARY_DIR "/tools/qzscan/qzscan"
                              : QZ_BINARY_DIR "/tools/qzscan/qzscan-testhooks";
}

struct Launch {
  std::vector<std::string> args;      // after --rules RULES
  std::vector<std::string> env = {};  // NAME=value, added to the environment
  std::string stdout_path = "";       // empty: a file the runner reads back
  long max_file_bytes = -1;           // a file size limit, with SIGXFSZ ignored
  std::string stdin_data = "";        // what the run reads on standard input
  bool as_nobody = false;             // drop root's rights first, for permission tests
  Events* events = nullptr;           // the run's events, when the test follows them
  Binary binary = Binary::ByHooks;
};

// The binary the launch runs, with Binary::ByHooks resolved.
inline Binary binary_of(const Launch& l) {
  if (l.binary != Binary::ByHooks) return l.binary;
  bool hooks = l.events != nullptr;
  for (const std::string& e : l.env) hooks = hooks || e.rfind("QZSCAN_TEST_", 0) == 0;
  return hooks ? Binary::TestHooks : Binary::Release;
}

// The user and group that runs qzscan under Launch::as_nobody.
inline const uid_t kNobody = 65534;

struct Ran {
  int status;  // the exit status, or minus the signal
  std::string out, err;
  bool group_ended = true;  // nothing of the process group outlived the wait
};

class QzscanRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzscan_test_XXXXXX";
    tmp = mkdtemp(tmpl);
    root = tmp + "/root";
    rules = tmp + "/rules";
    fs::create_directory(root);
    std::ofstream r(rules);
    for (const char* rule : kRules) r << encipher(rule) << "\n";
  }
  void TearDown() override { fs::remove_all(tmp); }

  // Writes a file under root, making its directories.
  void put(const std::string& name, const std::string& text) {
    fs::create_directories(fs::path(root + "/" + name).parent_path());
    std::ofstream(root + "/" + name, std::ios::binary) << text;
  }

  // Starts qzscan in a process group of its own; the group is its pid.
  pid_t start(const Launch& l) {
    const std::string out = l.stdout_path.empty() ? tmp + "/out" : l.stdout_path;
    const std::string qzscan = qzscan_binary(binary_of(l)), err = tmp + "/err";
    const std::string in = tmp + "/in";
    std::vector<std::string> env = l.env;
    if (l.events)
      for (const std::string& e : l.events->env()) env.push_back(e);
    std::ofstream(in, std::ios::binary) << l.stdin_data;
    std::vector<const char*> argv = {qzscan.c_str(), "--rules", rules.c_str()};
    for (const std::string& a : l.args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      if (chdir(root.c_str()) != 0) _exit(127);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      dup2(open(in.c_str(), O_RDONLY), STDIN_FILENO);
      if (l.as_nobody && getuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(126);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      if (l.events) l.events->keep_in_child();
      if (l.max_file_bytes >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(l.max_file_bytes), static_cast<rlim_t>(l.max_file_bytes)};
        setrlimit(RLIMIT_FSIZE, &lim);
      }
      execv(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    setpgid(pid, pid);
    if (l.events) l.events->handed_over();
    return pid;
  }

  Ran finish(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st), slurp(tmp + "/out"),
            slurp(tmp + "/err")};
  }

  Ran run(const Launch& l) { return finish(start(l)); }

  // The arguments split at spaces; leading NAME=value words go to the
  // environment. The run reads input on its standard input.
  Ran run(const std::string& args, const std::string& input = "") {
    Launch l;
    l.stdin_data = input;
    std::istringstream in(args);
    for (std::string a; in >> a;)
      (l.args.empty() && a.find('=') != std::string::npos ? l.env : l.args).push_back(a);
    return run(l);
  }

  // Starts the run with events, sends the signal once every one of the
  // event lines has come (say, workers announcing that they hold a file),
  // then waits for the whole group to end; workers orphaned by a kill come
  // back to us and are reaped.
  Ran stop(Launch l, int sig, const std::vector<std::string>& before) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    Events events;
    l.events = &events;
    pid_t pid = start(l);
    for (const std::string& line : before) EXPECT_TRUE(events.wait(line)) << line << events.log();
    kill(pid, sig);
    Ran r = finish(pid);
    r.group_ended = events.wait_end();
    while (waitpid(-pid, nullptr, r.group_ended ? 0 : WNOHANG) > 0) {
    }
    r.group_ended = r.group_ended && kill(-pid, 0) != 0 && errno == ESRCH;
    kill(-pid, SIGKILL);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    return r;
  }

  std::string tmp, root, rules;  // root is the working directory
};

}  // namespace qzscan_test

#endif  // TESTS_TOOLS_QZSCAN_RUNNER_H
