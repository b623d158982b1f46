// qzscan --daemon and its client, end to end: the daemon runs as a child
// with a socket in the test's folder, and the tests talk to it as callers
// would (one request a line, one JSON line a reply) or run qzscan
// --daemon-socket against it. Waits are for the daemon's replies, never for
// the clock.

#include "tools/qzscan_runner.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstdlib>

namespace qzscan_test {
namespace {

// A file a rule in kRules scores 3 (suspicious), one that kGoodReload makes a
// threat.
const char* const kCommand = "<?php\nexec('ls');\n";
const char* const kClean = "<?php\necho 'hello';\n";
// kRules with any command scored 10: a threat.
const char* const kGoodReload[] = {kRules[0], kRules[1],
                                   "define_behavior(exec,,10,runs a command)"};

int connect_to(const std::string& path) {
  sockaddr_un a = {};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool send_text(int fd, const std::string& text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// Sends the line with a descriptor beside it.
bool send_with_fd(int fd, const std::string& line, int passed) {
  iovec part = {const_cast<char*>(line.data()), line.size()};
  char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg = {};
  msg.msg_iov = &part;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&msg);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &passed, sizeof passed);
  return sendmsg(fd, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

// The next reply line, parsed; a JSON null when the connection ended or
// nothing came within kEventWaitSeconds.
json read_reply(int fd, std::string* buffer) {
  size_t end;
  while ((end = buffer->find('\n')) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kEventWaitSeconds * 1000) <= 0) return nullptr;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return nullptr;
    buffer->append(buf, static_cast<size_t>(n));
  }
  json j = json::parse(buffer->substr(0, end), nullptr, false);
  buffer->erase(0, end + 1);
  return j;
}

// One connection to the daemon.
struct Conn {
  int fd;
  std::string buffer;
  explicit Conn(const std::string& socket) : fd(connect_to(socket)) {}
  ~Conn() {
    if (fd >= 0) close(fd);
  }
  json ask(const std::string& line) {
    if (!send_text(fd, line + "\n")) return nullptr;
    return read_reply(fd, &buffer);
  }
  json next() { return read_reply(fd, &buffer); }
};

// "status verdict" of a scan reply, or its error.
std::string outcome(const json& r) {
  if (!r.is_object()) return "<no reply>";
  if (!r.contains("status")) return "error: " + r.value("error", std::string("?"));
  return r["status"].get<std::string>() +
         (r.contains("verdict") ? " " + r["verdict"].get<std::string>() : "");
}

class Daemon : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    socket_path = tmp + "/d.sock";
    put("shell.php", kShell);
    put("cmd.php", kCommand);
    put("clean.php", kClean);
  }
  void TearDown() override {
    stop_daemon();
    QzscanRun::TearDown();
  }

  // Starts the daemon and waits until its socket answers.
  void start_daemon(std::vector<std::string> extra = {}, std::vector<std::string> env = {}) {
    Launch l;
    l.args = {"--daemon", "--socket", socket_path, "-j", "2"};
    l.args.insert(l.args.end(), extra.begin(), extra.end());
    l.env = env;
    l.stdout_path = tmp + "/daemon.out";
    daemon = start(l);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kEventWaitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
      int fd = connect_to(socket_path);
      if (fd >= 0) {
        close(fd);
        return;
      }
      if (waitpid(daemon, nullptr, WNOHANG) == daemon) break;
      usleep(10000);
    }
    FAIL() << "the daemon did not start: " << slurp(tmp + "/err");
  }

  // SIGTERM; the exit status, or minus the signal.
  int stop_daemon() {
    if (daemon <= 0) return 0;
    kill(daemon, SIGTERM);
    int st = 0;
    waitpid(daemon, &st, 0);
    kill(-daemon, SIGKILL);
    daemon = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
  }

  std::string socket_path;
  pid_t daemon = -1;
};

TEST_F(Daemon, EachRequestGetsItsReply) {
  start_daemon();
  struct Row {
    std::string request, expected;
  } rows[] = {
      {"PING", "pong"},
      {"SCAN " + root + "/shell.php", "scanned threat"},
      {"SCAN " + root + "/cmd.php", "scanned suspicious"},
      {"SCAN " + root + "/clean.php", "scanned clean"},
      {"SCAN " + root + "/missing.php", "error No such file or directory"},
      {"SCAN " + root, "error not a regular file"},
      {"SCAN shell.php", "error: SCAN: expected an absolute path"},
      {"SCAN", "error: SCAN: expected an absolute path"},
      {"SCANFD", "error: SCANFD: no descriptor came with the request"},
      {"PING now", "error: PING: takes no argument"},
      {"ping", "error: unknown request \"ping\""},
      {"", "error: unknown request \"\""},
      {"SCAN " + root + "/shell.php\r", "scanned threat"},
      {std::string(9000, 'A'), "error: request line longer than 8192 bytes"},
      {"PING", "pong"},
  };
  Conn c(socket_path);
  ASSERT_GE(c.fd, 0);
  for (const Row& row : rows) {
    const json r = c.ask(row.request);
    std::string got = outcome(r);
    if (r.is_object() && r.contains("pong")) got = "pong";
    if (r.value("status", "") == "error") got = "error " + r.value("error", "");
    EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << row.request.substr(0, 80);
    if (row.expected == "scanned threat") {
      EXPECT_EQ(r["path"], root + "/shell.php");
      EXPECT_EQ(r["sha256"], sha256_of(root + "/shell.php"));
    }
  }
  const json v = c.ask("VERSION");
  EXPECT_EQ(v["rules"]["count"], 3) << v;
  EXPECT_EQ(v["rules"]["path"], rules) << v;
  // An oversize line sent in pieces is refused once, and the line after it
  // is answered.
  ASSERT_TRUE(send_text(c.fd, std::string(20000, 'B')));
  ASSERT_TRUE(send_text(c.fd, std::string(20000, 'B') + "\nPING\n"));
  EXPECT_EQ(outcome(c.next()).substr(0, 30), "error: request line longer tha");
  EXPECT_TRUE(c.next().contains("pong"));
  EXPECT_EQ(stop_daemon(), 0);
  EXPECT_FALSE(fs::exists(socket_path)) << "SIGTERM leaves the socket";
}

// The reply to a scan is the file's object of a JSON report.
TEST_F(Daemon, ScanReplyIsTheReportEntry) {
  start_daemon();
  Conn c(socket_path);
  const json reply = c.ask("SCAN " + root + "/shell.php");
  const Ran local = run("--format json " + root + "/shell.php");
  const json report = json::parse(local.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << local.out;
  EXPECT_EQ(reply, report["files"][0]);
}

TEST_F(Daemon, ClientsThatLeaveMidRequestDoNotStopIt) {
  start_daemon();
  for (int i = 0; i < 10; i++) {
    Conn gone(socket_path);
    std::string burst;
    for (int k = 0; k < 20; k++)
      burst += "SCAN " + root + "/shell.php\nSCAN " + root + "/cmd.php\n";
    ASSERT_TRUE(send_text(gone.fd, burst + "SCAN " + root + "/cl"));
    if (i % 2) shutdown(gone.fd, SHUT_RDWR);
  }
  Conn c(socket_path);
  EXPECT_EQ(outcome(c.ask("SCAN " + root + "/shell.php")), "scanned threat");
  EXPECT_TRUE(c.ask("PING").contains("pong"));
}

TEST_F(Daemon, HundredClientsAtOnce) {
  start_daemon();
  std::vector<std::unique_ptr<Conn>> conns;
  for (int i = 0; i < 100; i++) {
    conns.push_back(std::make_unique<Conn>(socket_path));
    ASSERT_GE(conns.back()->fd, 0) << i;
    const std::string file = i % 2 ? "/shell.php" : "/clean.php";
    ASSERT_TRUE(send_text(conns.back()->fd, "SCAN " + root + file + "\nPING\n"));
  }
  for (int i = 0; i < 100; i++) {
    EXPECT_EQ(outcome(conns[i]->next()), i % 2 ? "scanned threat" : "scanned clean") << i;
    EXPECT_TRUE(conns[i]->next().contains("pong")) << i;
  }
}

// A descriptor is scanned whatever happened to its path: removed here, and
// below in a folder the daemon's user may not enter.
TEST_F(Daemon, ScanfdReadsWhatThePathNoLongerGives) {
  start_daemon();
  Conn c(socket_path);
  const int fd = open((root + "/shell.php").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(read(fd, nullptr, 0), 0);
  fs::remove(root + "/shell.php");
  ASSERT_TRUE(send_with_fd(c.fd, "SCANFD upload.php\n", fd));
  char skip[4];
  ASSERT_EQ(read(fd, skip, sizeof skip), 4);  // the daemon scans from the start anyway
  close(fd);
  const json r = c.next();
  EXPECT_EQ(outcome(r), "scanned threat") << r;
  EXPECT_EQ(r["path"], "upload.php");
  const int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_TRUE(send_with_fd(c.fd, "SCANFD\n", dir));
  close(dir);
  EXPECT_EQ(outcome(c.next()), "error") << "a directory's descriptor";
}

TEST_F(Daemon, DroppedToAUserItScansOnlyWhatItIsPassed) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to drop to nobody";
  // The test's folder is root's, mode 0700: nobody cannot open the file.
  struct stat st;
  ASSERT_EQ(stat(tmp.c_str(), &st), 0);
  ASSERT_EQ(st.st_mode & 07, 0u);
  start_daemon({"--user", "nobody"});
  Conn c(socket_path);
  EXPECT_EQ(c.ask("SCAN " + root + "/shell.php").value("error", ""), "Permission denied");
  const int fd = open((root + "/shell.php").c_str(), O_RDONLY);
  ASSERT_TRUE(send_with_fd(c.fd, "SCANFD\n", fd));
  close(fd);
  EXPECT_EQ(outcome(c.next()), "scanned threat");
}

TEST_F(Daemon, ReloadKeepsServingAndKeepsGoodRulesOverBadOnes) {
  start_daemon();
  Conn busy(socket_path), admin(socket_path);
  const size_t kLoad = 60;
  std::string burst;
  for (size_t i = 0; i < kLoad; i++) burst += "SCAN " + root + "/cmd.php\n";
  ASSERT_TRUE(send_text(busy.fd, burst));
  {
    std::ofstream r(rules);
    for (const char* rule : kGoodReload) r << encipher(rule) << "\n";
  }
  const std::string good_sha = sha256_of(rules);
  const json good = admin.ask("RELOAD");
  EXPECT_EQ(good.value("reloaded", false), true) << good;
  EXPECT_EQ(good["rules"]["sha256"], good_sha);
  std::ofstream(rules) << "not a rule\n";
  const json bad = admin.ask("RELOAD");
  EXPECT_NE(bad.value("error", "").find("stay in use"), std::string::npos) << bad;
  EXPECT_EQ(bad["rules"]["sha256"], good_sha) << bad;
  for (size_t i = 0; i < kLoad; i++) {
    const std::string got = outcome(busy.next());
    EXPECT_TRUE(got == "scanned suspicious" || got == "scanned threat") << i << ": " << got;
  }
  // What the good reload loaded is what scans now, after the bad one.
  EXPECT_EQ(outcome(admin.ask("SCAN " + root + "/cmd.php")), "scanned threat");
  EXPECT_EQ(admin.ask("VERSION")["rules"]["sha256"], good_sha);
}

TEST_F(Daemon, CrashedWorkerIsReportedAndReplaced) {
  start_daemon({}, {"QZSCAN_TEST_CRASH_ON=crash"});
  put("crash.php", kShell);
  Conn c(socket_path);
  const json r = c.ask("SCAN " + root + "/crash.php");
  EXPECT_EQ(r.value("status", ""), "error");
  EXPECT_NE(r.value("error", "").find("worker crashed"), std::string::npos) << r;
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(outcome(c.ask("SCAN " + root + "/shell.php")), "scanned threat");
}

// Output and exit status of a run through the daemon match a local run, in
// every format (the seconds of a summary aside).
TEST_F(Daemon, ClientPrintsAsALocalScan) {
  start_daemon();
  chmod((root + "/clean.php").c_str(), 0);  // still read as root: as a path via SCAN
  struct Row {
    std::string args;
  } rows[] = {{"-q ."},
              {"--format json ."},
              {"--format sarif ."},
              {"--print0 ."},
              {"-q clean.php cmd.php"},
              {"-q --fail-on suspicious cmd.php"},
              {"-q nothere.php clean.php"},
              {"--format json --explain shell.php"}};
  const auto without_seconds = [](std::string text) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded()) return text;
    json copy = j;
    if (copy.contains("summary")) copy["summary"].erase("seconds");
    if (copy.contains("runs")) copy["runs"][0].erase("invocations");
    return copy.dump();
  };
  for (const Row& row : rows) {
    const Ran local = run(row.args);
    const Ran remote = run("--daemon-socket " + socket_path + " " + row.args);
    EXPECT_EQ(remote.status, local.status) << row.args << "\n" << remote.err;
    EXPECT_EQ(without_seconds(remote.out), without_seconds(local.out)) << row.args;
  }
}

TEST_F(Daemon, UnreachableDaemonFailsUnlessFallingBack) {
  const std::string nowhere = tmp + "/none.sock";
  const Ran failed = run("--daemon-socket " + nowhere + " -q shell.php");
  EXPECT_EQ(failed.status, 2);
  EXPECT_NE(failed.err.find("cannot reach the daemon"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out, "");
  const Ran fallback = run("--daemon-socket " + nowhere + " --fallback -q shell.php");
  EXPECT_EQ(fallback.status, 1) << fallback.err;
  EXPECT_NE(fallback.out.find("shell.php: THREAT"), std::string::npos) << fallback.out;
  EXPECT_NE(fallback.err.find("--fallback"), std::string::npos) << fallback.err;
}

TEST_F(Daemon, RefusesASocketPathInUseOrNotASocket) {
  start_daemon();
  const Ran second = run("--daemon --socket " + socket_path);
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("another daemon"), std::string::npos) << second.err;
  const Ran file = run("--daemon --socket " + root + "/clean.php");
  EXPECT_EQ(file.status, 2);
  EXPECT_NE(file.err.find("not a socket"), std::string::npos) << file.err;
  EXPECT_TRUE(fs::exists(root + "/clean.php"));
}

}  // namespace
}  // namespace qzscan_test
