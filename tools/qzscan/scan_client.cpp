// The daemon's client: one connection per run, requests sent ahead of the
// replies within a window so that the daemon's workers all have work, and
// the replies (which come in the order of the requests) read back into the
// run's results.

#include "scan_client.h"

#include "scan_files.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

using json = nlohmann::json;

namespace {

// Requests sent before their replies are read: enough to keep a daemon's
// workers busy, and below what the daemon takes from one client at a time,
// so that a send never waits for the daemon to read.
constexpr size_t kWindow = 32;
// Longest wait for one reply, in milliseconds. The daemon ends each scan
// within its own timeout; only a daemon that stopped answering reaches this.
constexpr int kReplyWaitMillis = 15 * 60 * 1000;
// Bytes read from the socket at a time.
constexpr size_t kReadChunk = 65536;
// Longest reply line accepted: a report entry holds at most kMaxCallsKept
// calls, each with a few short texts.
constexpr size_t kMaxReplyLine = 64u << 20;
// How the client opens a file to pass it: as a worker would.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

// The path as the daemon, whose working folder is not ours, must see it.
std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

// Fills f from the daemon's reply: a report entry, or a request's error.
void apply_reply(FileResult& f, const json& j) {
  if (!j.is_object()) {
    f.error = "the daemon sent an unreadable reply";
    return;
  }
  const std::string status = j.value("status", "");
  if (j.contains("size") && j["size"].is_number_unsigned()) f.size = j["size"].get<uint64_t>();
  if (status == "scanned") {
    from_json(j, static_cast<ScanOutcome&>(f));
    f.scanned = true;
  } else if (status == "skipped") {
    f.skipped = json_text(j, "reason");
  } else if (status == "error" || j.contains("error")) {
    f.error = (status.empty() ? "daemon: " : "") + json_text(j, "error");
  } else {
    f.error = "the daemon sent an unreadable reply";
  }
}

}  // namespace

DaemonClient::~DaemonClient() {
  if (fd_ >= 0) close(fd_);
}

bool DaemonClient::send_text(const std::string& text) {
  return write_all(fd_, text.data(), text.size());
}

bool DaemonClient::read_reply(std::string* line, std::string* why) {
  size_t end;
  while ((end = in_.find('\n')) == std::string::npos) {
    if (in_.size() > kMaxReplyLine) {
      *why = "the daemon sent a reply longer than " + std::to_string(kMaxReplyLine) + " bytes";
      return false;
    }
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do ready = poll(&p, 1, kReplyWaitMillis);
    while (ready < 0 && errno == EINTR);
    if (ready == 0) {
      *why = "no reply from the daemon in " + std::to_string(kReplyWaitMillis / 1000) + " seconds";
      return false;
    }
    char buf[kReadChunk];
    const ssize_t n = ready < 0 ? -1 : read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = n == 0 ? "the daemon closed the connection" : std::strerror(errno);
      return false;
    }
    in_.append(buf, static_cast<size_t>(n));
  }
  *line = in_.substr(0, end);
  in_.erase(0, end + 1);
  return true;
}

bool DaemonClient::connect(const std::string& socket_path, RuleFileInfo* rules, std::string* why) {
  sockaddr_un a = {};
  a.sun_family = AF_UNIX;
  if (socket_path.empty() || socket_path.size() >= sizeof a.sun_path) {
    *why = socket_path + ": not a usable socket path";
    return false;
  }
  std::memcpy(a.sun_path, socket_path.data(), socket_path.size());
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    *why = socket_path + ": cannot reach the daemon: " + std::strerror(errno);
    return false;
  }
  std::string line;
  if (!send_text("VERSION\n") || !read_reply(&line, why)) {
    *why = socket_path + ": " + (why->empty() ? std::strerror(errno) : *why);
    return false;
  }
  const json v = json::parse(line, nullptr, false);
  if (v.is_discarded() || !v.is_object() || !v.contains("rules") || !v["rules"].is_object()) {
    *why = socket_path + ": the daemon's answer to VERSION is not one";
    return false;
  }
  const json& r = v["rules"];
  rules->path = r.value("path", "");
  rules->sha256 = r.value("sha256", "");
  rules->rules = r.value("count", 0ul);
  return true;
}

WorkerRun DaemonClient::scan(std::vector<FileResult>& files, const WorkerOptions& opt,
                             const std::function<void(size_t)>& on_done) {
  WorkerRun run;
  run.started = true;
  std::vector<bool> done(files.size(), false);
  size_t next_out = 0;
  const auto emit = [&] {
    while (next_out < files.size() && done[next_out]) on_done(next_out++);
  };
  std::deque<size_t> in_flight;
  std::string lost;  // why the connection is unusable, once it is
  const auto take_reply = [&] {
    const size_t i = in_flight.front();
    in_flight.pop_front();
    std::string line;
    if (lost.empty() && !read_reply(&line, &lost)) lost = "daemon: " + lost;
    if (!lost.empty())
      files[i].error = lost;
    else
      apply_reply(files[i], json::parse(line, nullptr, false));
    done[i] = true;
    emit();
  };
  for (size_t i = 0; i < files.size(); i++) {
    FileResult& f = files[i];
    if (f.settled()) {
      done[i] = true;
      emit();
      continue;
    }
    const bool follow = opt.follow_symlinks || opt.named_paths.count(f.path) != 0;
    const int fd = open(f.path.c_str(), kOpenFlags | (follow ? 0 : O_NOFOLLOW));
    bool sent = false;
    if (!lost.empty()) {
      f.error = lost;
    } else if (fd >= 0) {
      struct stat st;
      if (fstat(fd, &st) == 0) {
        f.dev = static_cast<uint64_t>(st.st_dev);
        f.ino = static_cast<uint64_t>(st.st_ino);
      }
      static const char kRequest[] = "SCANFD\n";
      const ssize_t n = send_with_descriptor(fd_, kRequest, sizeof kRequest - 1, fd);
      sent = n >= 0 && write_all(fd_, kRequest + n, sizeof kRequest - 1 - static_cast<size_t>(n));
      if (!sent) lost = std::string("daemon: ") + std::strerror(errno);
    } else if (errno == EACCES || errno == EPERM) {
      // Perhaps the daemon may open what we may not.
      const std::string path = absolute(f.path);
      if (path.find('\n') != std::string::npos) {
        f.error = std::string(std::strerror(EACCES)) + " (a path with a newline cannot be sent)";
      } else {
        sent = send_text("SCAN " + path + "\n");
        if (!sent) lost = std::string("daemon: ") + std::strerror(errno);
      }
    } else {
      f.error = errno == ELOOP && !follow ? "a symbolic link, not followed" : std::strerror(errno);
    }
    if (fd >= 0) close(fd);
    if (!sent && f.error.empty()) f.error = lost;
    if (!sent) {
      done[i] = true;
      emit();
      continue;
    }
    in_flight.push_back(i);
    while (in_flight.size() >= kWindow) take_reply();
  }
  while (!in_flight.empty()) take_reply();
  return run;
}
