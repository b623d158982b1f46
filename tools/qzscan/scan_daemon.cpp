// The scanning daemon: one thread, one poll loop over the listening socket,
// the clients and the pool's workers. Requests become pool jobs tagged with a
// request number; a client's replies wait in its queue until every earlier
// one is ready, so they go out in the order of the requests.

#include "scan_daemon.h"

#include "qzrules_lint.h"
#include "scan_report.h"

#include <qzengine/version.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_map>
#include <vector>

using json = nlohmann::json;

namespace {

// Longest request line, its newline excluded: a command word and a path of
// PATH_MAX bytes, with room to spare. A longer line is refused and skipped.
constexpr size_t kMaxRequestLine = 8192;
// Clients served at once; more wait in the listening queue until one leaves.
constexpr size_t kMaxClients = 512;
// Requests of one client taken before their replies are written; the client
// is not read further until replies go out, which bounds its memory.
constexpr size_t kMaxInFlight = 64;
// Bytes of replies waiting for a client that does not read them; beyond
// them it is not read further either.
constexpr size_t kMaxWaitingOutput = 1 << 20;
// Passed descriptors one client may have waiting for their SCANFD lines;
// more are closed, and the lines that needed them refused.
constexpr size_t kMaxWaitingDescriptors = 2 * kMaxInFlight;
// Seconds a client may hold a connection without a request in flight.
constexpr int kClientIdleSeconds = 300;
// Connections the kernel queues for accept.
constexpr int kListenBacklog = 128;
// Longest wait of the loop, in milliseconds: how often worker timeouts and
// idle clients are checked.
constexpr int kLoopMillis = 100;
// Bytes read from a client at a time.
constexpr size_t kReadChunk = 16384;
// Characters of an unknown command echoed in its error.
constexpr size_t kEchoedCommand = 64;
// The first descriptor a service manager passes (LISTEN_FDS).
constexpr int kListenFdsStart = 3;
// Mode of the socket's folder when the daemon makes it.
constexpr mode_t kSocketDirMode = 0755;

// Set by the signal handlers, read by the loop; 0 until then.
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_reload = 0;

void on_stop(int) { g_stop = 1; }
void on_reload(int) { g_reload = 1; }

std::string line_of(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json error_reply(const std::string& why) { return json{{"error", why}}; }

// The rule file as the workers load it: a private copy of the bytes that
// were checked, in an anonymous file that workers open through /proc, so
// that a file changed after the check cannot reach them.
struct Rules {
  int fd = -1;
  RuleFileInfo info;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
};

// Reads and checks the rule file; false, with *why set, when it cannot be
// read, has no rule that scores, or (strict) has a line the engine drops.
bool load_rules(const std::string& path, bool strict, Rules* r, std::string* why) {
  std::string contents;
  if (!qzrules_read_file(path, contents, *why)) return false;
  const qzrules_load_summary sum = qzrules_check_load(contents);
  if (sum.detecting == 0) {
    *why = "no usable rules (" + std::to_string(sum.rules) + " loaded, none that scores)";
    return false;
  }
  if (strict && !sum.dropped.empty()) {
    *why = std::to_string(sum.dropped.size()) + " lines cannot be deciphered or parsed";
    return false;
  }
  r->fd = memfd_create("qzscan-rules", 0);
  if (r->fd < 0 || !write_all(r->fd, contents.data(), contents.size())) {
    *why = std::string("cannot keep a copy of the rules: ") + std::strerror(errno);
    if (r->fd >= 0) close(r->fd);
    r->fd = -1;
    return false;
  }
  r->info.path = path;
  r->info.sha256 = sha256_hex(contents);
  r->info.rules = sum.rules;
  return true;
}

// A request of a client, and its reply once known.
struct Pending {
  uint64_t id = 0;
  bool ready = false;
  std::string reply;
};

struct Client {
  int fd = -1;
  std::string in;           // bytes read, not yet a whole line
  bool skipping = false;    // discarding the rest of an oversize line
  bool read_ended = false;  // the client sent its last request
  std::deque<int> passed;   // descriptors for the coming SCANFD lines
  std::deque<Pending> pending;
  std::string out;  // replies not yet written
  std::chrono::steady_clock::time_point last_active;
};

// The listening socket: handed over by the service manager, or made here.
struct Listener {
  int fd = -1;
  bool made = false;  // made here, so removed at the end
  std::string path;
};

// The socket the service manager passed, or -1. Its variables are removed
// so that no child takes the socket for its own.
int inherited_socket() {
  const char* pid = std::getenv("LISTEN_PID");
  const char* count = std::getenv("LISTEN_FDS");
  const bool ours = pid && count && std::strtol(pid, nullptr, 10) == getpid() &&
                    std::strtol(count, nullptr, 10) >= 1;
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  if (!ours) return -1;
  int listening = 0;
  socklen_t len = sizeof listening;
  if (getsockopt(kListenFdsStart, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) != 0 || !listening)
    return -1;
  fcntl(kListenFdsStart, F_SETFD, FD_CLOEXEC);
  fcntl(kListenFdsStart, F_SETFL, fcntl(kListenFdsStart, F_GETFL) | O_NONBLOCK);
  return kListenFdsStart;
}

bool socket_address(const std::string& path, sockaddr_un* a, std::string* why) {
  *a = {};
  a->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a->sun_path) {
    *why = "a socket path must have 1 to " + std::to_string(sizeof a->sun_path - 1) + " bytes";
    return false;
  }
  std::memcpy(a->sun_path, path.data(), path.size());
  return true;
}

// Makes the socket's folder when it is missing (one level), owned by the
// user the daemon will run as, so that it can remove the socket at the end.
bool make_socket_dir(const std::string& path, const passwd* user, std::string* why) {
  const std::string dir = folder_of(path);
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return true;
  if (mkdir(dir.c_str(), kSocketDirMode) != 0) {
    *why = dir + ": " + std::strerror(errno);
    return false;
  }
  if (user && chown(dir.c_str(), user->pw_uid, user->pw_gid) != 0) {
    *why = dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// A socket file left by a daemon that died is replaced; one that answers, or
// a path that is no socket, is not touched.
bool clear_stale_socket(const std::string& path, const sockaddr_un& a, std::string* why) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  if (!S_ISSOCK(st.st_mode)) {
    *why = path + ": exists and is not a socket";
    return false;
  }
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool answers =
      probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  if (probe >= 0) close(probe);
  if (answers) {
    *why = path + ": another daemon is listening on it";
    return false;
  }
  unlink(path.c_str());
  return true;
}

bool parse_mode(const std::string& text, mode_t* mode) {
  if (text.empty() || text.size() > 4) return false;
  mode_t m = 0;
  for (char c : text) {
    if (c < '0' || c > '7') return false;
    m = m * 8 + static_cast<mode_t>(c - '0');
  }
  *mode = m;
  return true;
}

bool bind_socket(const DaemonOptions& opt, const passwd* user, Listener* l, std::string* why) {
  l->path = opt.socket_path;
  mode_t mode = 0;
  if (!parse_mode(opt.socket_mode, &mode)) {
    *why = "--socket-mode: expected an octal mode such as 0660, not \"" +
           escape_text(opt.socket_mode) + "\"";
    return false;
  }
  gid_t gid = static_cast<gid_t>(-1);
  if (!opt.socket_group.empty()) {
    const group* g = getgrnam(opt.socket_group.c_str());
    if (!g) {
      *why = "--socket-group: no group named " + escape_text(opt.socket_group);
      return false;
    }
    gid = g->gr_gid;
  }
  sockaddr_un a;
  if (!socket_address(l->path, &a, why) || !make_socket_dir(l->path, user, why) ||
      !clear_stale_socket(l->path, a, why))
    return false;
  l->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // No moment in which the socket is open to everyone: made without any
  // permission, then given its mode.
  const mode_t before = umask(0777);
  const bool bound =
      l->fd >= 0 && bind(l->fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  umask(before);
  if (!bound || listen(l->fd, kListenBacklog) != 0) {
    *why = escape_text(l->path) + ": " + std::strerror(errno);
    if (bound) unlink(l->path.c_str());
    return false;
  }
  l->made = true;
  if (chmod(l->path.c_str(), mode) != 0 ||
      ((gid != static_cast<gid_t>(-1) || user) &&
       chown(l->path.c_str(), user ? user->pw_uid : static_cast<uid_t>(-1), gid) != 0)) {
    *why = escape_text(l->path) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Runs as the user from now on, with its groups; false when that fails or
// root's rights could be taken back.
bool drop_to(const passwd* user, std::string* why) {
  if (initgroups(user->pw_name, user->pw_gid) != 0 || setgid(user->pw_gid) != 0 ||
      setuid(user->pw_uid) != 0) {
    *why = std::string("--user: cannot become ") + user->pw_name + ": " + std::strerror(errno);
    return false;
  }
  if (user->pw_uid != 0 && setuid(0) == 0) {
    *why = "--user: root's rights could be taken back";
    return false;
  }
  return true;
}

class Daemon {
 public:
  Daemon(const DaemonOptions& opt, Listener l, Rules rules)
      : opt_(opt), listener_(std::move(l)), rules_(rules), pool_(with_rules(opt, rules)) {}

  ~Daemon() {
    for (auto& c : clients_) drop_client(c.second);
    if (rules_.fd >= 0) close(rules_.fd);
  }

  bool start(std::string* why) {
    keep_from_workers(listener_.fd);
    return pool_.start(opt_.workers.jobs, why);
  }

  void serve() {
    std::fprintf(stderr, "qzscan: listening on %s with %zu workers, rules %s (%lu)\n",
                 escape_text(listener_.path).c_str(), pool_.size(),
                 escape_text(rules_.info.path).c_str(), rules_.info.rules);
    sigset_t none;
    sigemptyset(&none);
    while (!g_stop) {
      if (g_reload) {
        g_reload = 0;
        reload();
      }
      pool_.hand_out(finished());
      std::vector<pollfd> fds;
      const bool accepting = clients_.size() < kMaxClients;
      fds.push_back({listener_.fd, static_cast<short>(accepting ? POLLIN : 0), 0});
      for (auto& c : clients_) {
        short events = 0;
        if (!c.second.read_ended && has_room(c.second)) events |= POLLIN;
        if (!c.second.out.empty()) events |= POLLOUT;
        fds.push_back({c.second.fd, events, 0});
      }
      const size_t worker_fds = fds.size();
      pool_.add_poll_fds(&fds);
      const timespec wait = {0, kLoopMillis * 1000000L};
      if (ppoll(fds.data(), fds.size(), &wait, &none) < 0 && errno != EINTR) break;
      if (g_stop) break;
      pool_.service(std::vector<pollfd>(fds.begin() + static_cast<long>(worker_fds), fds.end()),
                    finished());
      for (size_t i = 1; i < worker_fds; i++) serve_client(fds[i]);
      if (fds[0].revents & POLLIN) accept_clients();
      close_idle();
    }
  }

 private:
  static WorkerOptions with_rules(const DaemonOptions& opt, const Rules& r) {
    WorkerOptions w = opt.workers;
    w.rules_path = r.path();
    return w;
  }

  std::function<void(PoolResult&&)> finished() {
    return [this](PoolResult&& r) { job_done(std::move(r)); };
  }

  void job_done(PoolResult&& r) {
    auto job = jobs_.find(r.tag);
    if (job == jobs_.end()) return;
    const int client_fd = job->second.client;
    FileResult f;
    f.path = job->second.path;
    jobs_.erase(job);
    auto c = clients_.find(client_fd);
    // The client left before its reply: the result goes nowhere.
    if (c == clients_.end()) return;
    apply_pool_result(f, r);
    json reply = f;
    for (Pending& p : c->second.pending)
      if (p.id == r.tag) {
        p.ready = true;
        p.reply = line_of(reply);
      }
    take_lines(c->second);
  }

  static bool has_room(const Client& c) {
    return c.pending.size() < kMaxInFlight && c.out.size() < kMaxWaitingOutput;
  }

  void accept_clients() {
    while (clients_.size() < kMaxClients) {
      int fd = accept4(listener_.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      keep_from_workers(fd);
      Client& c = clients_[fd];
      c.fd = fd;
      c.last_active = std::chrono::steady_clock::now();
    }
  }

  void drop_client(Client& c) {
    for (int fd : c.passed) {
      release_from_workers(fd);
      close(fd);
    }
    c.passed.clear();
    release_from_workers(c.fd);
    close(c.fd);
  }

  void close_client(int fd) {
    auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    drop_client(it->second);
    clients_.erase(it);
  }

  void close_idle() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<int> idle;
    for (auto& c : clients_)
      if (c.second.pending.empty() && c.second.out.empty() &&
          c.second.in.find('\n') == std::string::npos &&
          (c.second.read_ended ||
           now - c.second.last_active > std::chrono::seconds(kClientIdleSeconds)))
        idle.push_back(c.first);
    for (int fd : idle) close_client(fd);
  }

  void serve_client(const pollfd& p) {
    auto it = clients_.find(p.fd);
    if (it == clients_.end()) return;
    Client& c = it->second;
    if (p.revents & POLLIN) read_client(c);
    if ((p.revents & (POLLERR | POLLNVAL)) || ((p.revents & POLLHUP) && !(p.revents & POLLIN))) {
      close_client(p.fd);
      return;
    }
    if (!c.out.empty() && !write_client(c)) close_client(p.fd);
  }

  void read_client(Client& c) {
    char buf[kReadChunk];
    std::vector<int> fds;
    ssize_t n = receive_with_descriptors(c.fd, buf, sizeof buf, MSG_DONTWAIT, &fds);
    for (int fd : fds) {
      if (c.passed.size() >= kMaxWaitingDescriptors) {
        close(fd);
        continue;
      }
      keep_from_workers(fd);
      c.passed.push_back(fd);
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
      // The end of its requests; what it asked is still answered, a last
      // line without its newline too. A reset shows up when the replies are
      // written.
      c.read_ended = true;
      if (!c.in.empty() && !c.skipping) c.in += '\n';
    } else {
      c.last_active = std::chrono::steady_clock::now();
      c.in.append(buf, static_cast<size_t>(n));
    }
    take_lines(c);
  }

  // Moves the ready replies at the head of the queue to the output, then
  // turns whole lines into requests while the client has room; an over-long
  // line is refused once and skipped to its end. Request numbers are never
  // reused, so a result for a client gone (whose descriptor a new client may
  // have) matches no request.
  void take_lines(Client& c) {
    size_t start = 0;
    for (;;) {
      while (!c.pending.empty() && c.pending.front().ready) {
        c.out += c.pending.front().reply;
        c.pending.pop_front();
      }
      if (!has_room(c)) break;
      const size_t end = c.in.find('\n', start);
      if (end == std::string::npos) break;
      if (c.skipping) {
        c.skipping = false;
      } else if (end - start > kMaxRequestLine) {
        refuse_oversize(c);
      } else {
        std::string line = c.in.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        request(c, line);
      }
      start = end + 1;
    }
    c.in.erase(0, start);
    if (c.in.find('\n') != std::string::npos) return;
    if (!c.skipping && c.in.size() > kMaxRequestLine) {
      refuse_oversize(c);
      c.skipping = true;
      take_lines(c);
    }
    if (c.skipping) c.in.clear();
  }

  void refuse_oversize(Client& c) {
    reply_now(
        c, error_reply("request line longer than " + std::to_string(kMaxRequestLine) + " bytes"));
  }

  void reply_now(Client& c, const json& reply) {
    Pending p;
    p.ready = true;
    p.reply = line_of(reply);
    c.pending.push_back(std::move(p));
  }

  void request(Client& c, const std::string& line) {
    const size_t space = line.find(' ');
    const std::string cmd = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (cmd == "PING" && arg.empty()) return reply_now(c, json{{"pong", true}});
    if (cmd == "VERSION" && arg.empty())
      return reply_now(c, json{{"version", opt_.version},
                               {"engine", qz_engine_version_string()},
                               {"rules", rules_.info}});
    if (cmd == "RELOAD" && arg.empty()) return reply_now(c, reload());
    if (cmd == "SCAN") {
      if (arg.empty() || arg[0] != '/' || arg.find('\0') != std::string::npos)
        return reply_now(c, error_reply("SCAN: expected an absolute path"));
      return scan(c, arg, -1);
    }
    if (cmd == "SCANFD") {
      if (c.passed.empty())
        return reply_now(c, error_reply("SCANFD: no descriptor came with the request"));
      const int fd = c.passed.front();
      c.passed.pop_front();
      release_from_workers(fd);
      return scan(c, arg, fd);
    }
    if (cmd == "PING" || cmd == "VERSION" || cmd == "RELOAD")
      return reply_now(c, error_reply(cmd + ": takes no argument"));
    reply_now(c, error_reply("unknown request \"" + cmd.substr(0, kEchoedCommand) +
                             "\" (expected SCAN PATH, SCANFD [NAME], PING, VERSION or RELOAD)"));
  }

  void scan(Client& c, const std::string& path, int fd) {
    PoolJob job;
    job.tag = next_id_++;
    job.path = path;
    job.follow = opt_.workers.follow_symlinks;
    job.fd = fd;
    Pending p;
    p.id = job.tag;
    c.pending.push_back(std::move(p));
    jobs_[job.tag] = {c.fd, path};
    pool_.submit(std::move(job));
  }

  // False when the client is gone.
  bool write_client(Client& c) {
    const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    c.out.erase(0, static_cast<size_t>(n));
    c.last_active = std::chrono::steady_clock::now();
    take_lines(c);
    return true;
  }

  // Re-reads the rule file; the reply says what is in use afterwards.
  json reload() {
    Rules fresh;
    std::string why;
    if (!load_rules(opt_.workers.rules_path, opt_.strict_rules, &fresh, &why)) {
      const std::string text = "RELOAD: " + opt_.workers.rules_path + ": " + why +
                               "; the rules loaded before stay in use";
      std::fprintf(stderr, "qzscan: %s\n", escape_text(text).c_str());
      json j = error_reply(text);
      j["rules"] = rules_.info;
      return j;
    }
    pool_.use_rules(fresh.path());
    close(rules_.fd);
    rules_ = fresh;
    std::fprintf(stderr, "qzscan: rules reloaded from %s (%lu)\n",
                 escape_text(rules_.info.path).c_str(), rules_.info.rules);
    return json{{"reloaded", true}, {"rules", rules_.info}};
  }

  struct Job {
    int client;        // the descriptor of the client that asked
    std::string path;  // the path its reply names
  };

  DaemonOptions opt_;
  Listener listener_;
  Rules rules_;
  WorkerPool pool_;
  std::map<int, Client> clients_;           // by descriptor
  std::unordered_map<uint64_t, Job> jobs_;  // by request number
  uint64_t next_id_ = 1;
};

}  // namespace

int run_daemon(const DaemonOptions& opt) {
  std::string why;
  const passwd* user = nullptr;
  if (!opt.user.empty() && !(user = getpwnam(opt.user.c_str()))) {
    std::fprintf(stderr, "qzscan: --user: no user named %s\n", escape_text(opt.user).c_str());
    return 2;
  }
  passwd user_copy = {};
  std::string user_name;
  if (user) {
    user_copy = *user;
    user_name = user->pw_name;
    user_copy.pw_name = &user_name[0];
    user = &user_copy;
  }
  Rules rules;
  if (!load_rules(opt.workers.rules_path, opt.strict_rules, &rules, &why)) {
    std::fprintf(stderr, "qzscan: %s: %s\n", escape_text(opt.workers.rules_path).c_str(),
                 why.c_str());
    return 2;
  }
  Listener l;
  l.fd = inherited_socket();
  if (l.fd >= 0) l.path = "the socket passed by the service manager (LISTEN_FDS)";
  if (l.fd < 0 && !bind_socket(opt, user, &l, &why)) {
    std::fprintf(stderr, "qzscan: %s\n", why.c_str());
    if (l.made) unlink(l.path.c_str());
    return 2;
  }
  if (user && !drop_to(user, &why)) {
    std::fprintf(stderr, "qzscan: %s\n", why.c_str());
    if (l.made) unlink(l.path.c_str());
    return 2;
  }
  // The stop and reload signals are taken only inside ppoll, so that none
  // can come between a check of its flag and the wait.
  sigset_t block;
  sigemptyset(&block);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, nullptr);
  struct sigaction sa = {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = on_stop;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sa.sa_handler = on_reload;
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int status = 0;
  {
    Daemon d(opt, l, rules);
    if (!d.start(&why)) {
      std::fprintf(stderr, "qzscan: %s\n", why.c_str());
      status = 2;
    } else {
      d.serve();
    }
  }
  if (l.made) unlink(l.path.c_str());
  close(l.fd);
  return status;
}
