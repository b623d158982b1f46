// Watch mode: kernel events in, batches of files through the workers out
// (see scan_watch.h).

#include "scan_watch.h"

#include "scan_test_hooks.h"

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

using json = nlohmann::json;

// Bytes read from the event descriptor at once: many events per read, well
// above the largest single event (a header and a name of NAME_MAX bytes).
constexpr size_t kEventBufferBytes = 64 * 1024;
// What the inotify backend asks of each directory: files closed after
// writing, names moved in or out, directories made, deleted files (to drop
// them from the queue), and the directory itself deleted or moved.
constexpr uint32_t kInotifyMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                  IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                  IN_EXCL_UNLINK;
// What the fanotify backend asks of each file system: files closed after
// writing, and files and directories moved in.
constexpr uint64_t kFanotifyMask = FAN_CLOSE_WRITE | FAN_MOVED_TO | FAN_ONDIR;
// Where the kernel says how many inotify watches a user may hold.
const char* const kMaxWatchesSysctl = "/proc/sys/fs/inotify/max_user_watches";

// Why a file is in a batch, as its JSON line says.
enum class Cause { Written, Moved, Found };

const char* cause_name(Cause c) {
  switch (c) {
    case Cause::Written: return "written";
    case Cause::Moved: return "moved";
    case Cause::Found: return "found";
  }
  return "found";
}

// The stop signal that ended the watch, set by its handler; 0 until then.
volatile sig_atomic_t g_watch_signal = 0;
// The write end of the pipe that wakes the main loop on a stop signal.
int g_signal_pipe = -1;

void on_watch_signal(int sig) {
  g_watch_signal = sig;
  const char byte = static_cast<char>(sig);
  (void)!write(g_signal_pipe, &byte, 1);
}

// A pipe whose two ends are closed with the object; both close-on-exec and
// non-blocking, so that a wake-up never blocks its writer.
struct Pipe {
  int fds[2] = {-1, -1};
  bool open() { return pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0; }
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  void wake() const {
    const char byte = 0;
    (void)!write(fds[1], &byte, 1);
  }
  void drain() const {
    char buf[256];
    while (read(fds[0], buf, sizeof buf) > 0) {
    }
  }
};

bool gone(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

std::string join_path(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Whether `path` is `dir` or lies below it, as the paths say.
bool within(const std::string& path, const std::string& dir) {
  return path.compare(0, dir.size(), dir) == 0 &&
         (path.size() == dir.size() || path[dir.size()] == '/' || dir.back() == '/');
}

std::string errno_text(int err) { return std::strerror(err); }

// What to say when inotify refuses a watch for want of watches.
std::string watch_limit_text() {
  std::string limit = "?";
  if (FILE* f = std::fopen(kMaxWatchesSysctl, "r")) {
    unsigned long n = 0;
    if (std::fscanf(f, "%lu", &n) == 1) limit = std::to_string(n);
    std::fclose(f);
  }
  return "the inotify watch limit is reached (fs.inotify.max_user_watches = " + limit +
         "); raise it, e.g. sysctl -w fs.inotify.max_user_watches=" +
         (limit == "?" ? std::string("524288") : std::to_string(std::stoul(limit) * 2));
}

// What is waiting to be scanned, shared by the reader thread (which adds)
// and the main loop (which takes). Every member is guarded by `mutex`.
class EventQueue {
 public:
  EventQueue(size_t max_files, const Pipe& wake) : max_files_(max_files), wake_(wake) {}

  // Queues a file; a file already pending keeps its place. When the queue
  // is full the file's directory is kept for a rescan instead.
  void add(const std::string& path, Cause cause) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.count(path)) return;
    if (pending_.size() >= max_files_) {
      if (!full_said_)
        warnings_.push_back("more than " + std::to_string(max_files_) +
                            " files are pending; the directories of further files will be "
                            "walked again");
      full_said_ = true;
      add_rescan(folder_of(path));
    } else {
      pending_.emplace(path, cause);
      order_.push_back(path);
    }
    wake_.wake();
  }
  // A file deleted or moved away is no longer pending.
  void drop(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(path);
  }
  // Walks `dir` again soon; `why`, when not empty, is said first.
  void rescan(const std::string& dir, const std::string& why = "") {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!why.empty()) warnings_.push_back(why);
    add_rescan(dir);
    wake_.wake();
  }
  void rescan_all(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    warnings_.push_back(why);
    rescan_all_ = true;
    wake_.wake();
  }
  void warn(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    warnings_.push_back(text);
    wake_.wake();
  }

  struct Taken {
    std::vector<std::pair<std::string, Cause>> files;
    std::vector<std::string> dirs;
    bool all = false;
    std::vector<std::string> warnings;
    bool empty() const { return files.empty() && dirs.empty() && !all && warnings.empty(); }
  };
  // Everything pending: at most max_batch files, the rescans and the
  // warnings to say.
  Taken take(size_t max_batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    Taken t;
    while (!order_.empty() && t.files.size() < max_batch) {
      auto it = pending_.find(order_.front());
      if (it != pending_.end()) {
        t.files.emplace_back(it->first, it->second);
        pending_.erase(it);
      }
      order_.pop_front();
    }
    if (order_.empty()) full_said_ = false;
    t.dirs.assign(rescan_.begin(), rescan_.end());
    rescan_.clear();
    t.all = rescan_all_;
    rescan_all_ = false;
    t.warnings.swap(warnings_);
    if (!order_.empty()) wake_.wake();
    return t;
  }

 private:
  void add_rescan(const std::string& dir) {
    if (rescan_.size() >= kWatchMaxRescanDirs)
      rescan_all_ = true;
    else
      rescan_.insert(dir);
  }

  std::mutex mutex_;
  const size_t max_files_;
  const Pipe& wake_;  // tells the main loop that something is pending
  std::unordered_map<std::string, Cause> pending_;
  std::deque<std::string> order_;  // arrival order; may name files dropped since
  std::set<std::string> rescan_;
  bool rescan_all_ = false;
  bool full_said_ = false;  // the full queue was said since it last emptied
  std::vector<std::string> warnings_;
};

// A watched tree: the path as named and as the kernel resolves it.
struct Root {
  std::string given, canonical;
};

// What both backends share: the trees, the selection, the queue.
class Reader {
 public:
  Reader(const std::vector<Root>& roots, const WatchOptions& opt, EventQueue& queue)
      : roots_(roots), opt_(opt), queue_(queue) {}
  virtual ~Reader() {
    if (fd_ >= 0) close(fd_);
  }
  virtual std::string describe() const = 0;
  // Takes every event the kernel has, without blocking.
  virtual void read_events() = 0;
  // True once every watched directory is gone; only the reader thread asks.
  virtual bool lost_all() const { return false; }
  // True once the reader ended because every watched directory is gone.
  bool lost() const { return lost_; }

  // Reads events until stop is woken, then takes what is left. Between two
  // waits it holds the fork guard: workers are forked while it works.
  void run(const Pipe& stop) {
    for (;;) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {stop.fds[0], POLLIN, 0}};
      if (poll(p, 2, -1) < 0 && errno != EINTR) break;
      std::lock_guard<std::mutex> working(fork_guard());
      if (p[1].revents) break;
      if (p[0].revents) read_events();
      if (lost_all()) {
        lost_ = true;
        queue_.warn("");
        return;
      }
    }
    std::lock_guard<std::mutex> working(fork_guard());
    read_events();
  }

 protected:
  // A directory under a root that is not to be watched or walked: excluded,
  // or the quarantine.
  bool passed_over(const std::string& dir, const struct stat& st) const {
    return opt_.select.pass_over_dirs.count({st.st_dev, st.st_ino}) != 0 ||
           path_excluded(dir, opt_.select);
  }

  const std::vector<Root>& roots_;
  const WatchOptions& opt_;
  EventQueue& queue_;
  int fd_ = -1;
  std::atomic<bool> lost_{false};
  std::unique_ptr<char[]> buffer_{new char[kEventBufferBytes]};
};

// ---- inotify: one watch per directory ----

class InotifyReader : public Reader {
 public:
  using Reader::Reader;

  // Adds a watch to every directory of every tree. False, with *why set,
  // when inotify cannot be used or a tree cannot be watched whole.
  bool start(std::string* why) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
      *why = "cannot use inotify: " + errno_text(errno) +
             (errno == EMFILE ? " (the limit is fs.inotify.max_user_instances)" : "");
      return false;
    }
    max_watches_ = test_max_watches();
    for (const Root& r : roots_) {
      const int wd = add_watch(r.given, true, why);
      if (wd < 0) {
        *why = escape_text(r.given) + ": cannot watch: " + *why;
        return false;
      }
      root_wds_.insert(wd);
      if (!add_tree(r.given, why)) return false;
    }
    return true;
  }

  std::string describe() const override {
    return "inotify (" + std::to_string(dirs_.size()) + " directory watches)";
  }

  bool lost_all() const override { return dirs_.empty(); }

  void read_events() override {
    for (;;) {
      ssize_t n = read(fd_, buffer_.get(), kEventBufferBytes);
      if (n <= 0) return;
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer_.get() + at);
        handle(*e);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
  }

 private:
  // The watch descriptor, or -1 with *why and at_limit_ set.
  int add_watch(const std::string& dir, bool root, std::string* why) {
    at_limit_ = max_watches_ >= 0 && dirs_.size() >= static_cast<size_t>(max_watches_);
    const int wd =
        at_limit_ ? -1
                  : inotify_add_watch(fd_, dir.c_str(), kInotifyMask | (root ? 0 : IN_DONT_FOLLOW));
    if (wd < 0) {
      at_limit_ = at_limit_ || errno == ENOSPC;
      *why = at_limit_ ? watch_limit_text() : errno_text(errno);
      return -1;
    }
    auto old = dirs_.find(wd);
    if (old != dirs_.end()) wds_.erase(old->second);
    dirs_[wd] = dir;
    wds_[dir] = wd;
    return wd;
  }

  // Watches the directories below `top` (already watched). False, with *why
  // set, at the watch limit; a directory that vanished meanwhile is passed
  // over, and one that cannot be watched otherwise is said.
  bool add_tree(const std::string& top, std::string* why) {
    std::vector<std::string> todo{top};
    while (!todo.empty()) {
      const std::string dir = todo.back();
      todo.pop_back();
      DIR* d = opendir(dir.c_str());
      if (!d) continue;
      std::vector<std::string> subdirs;
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
        subdirs.push_back(join_path(dir, e->d_name));
      }
      closedir(d);
      for (const std::string& sub : subdirs) {
        struct stat st;
        if (lstat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || passed_over(sub, st)) continue;
        if (add_watch(sub, false, why) < 0) {
          if (at_limit_) {
            *why = escape_text(sub) + ": cannot watch: " + *why;
            return false;
          }
          if (errno != ENOENT && errno != ENOTDIR)
            queue_.warn(escape_text(sub) + ": cannot watch: " + *why +
                        "; changes there are not seen");
          continue;
        }
        todo.push_back(sub);
      }
    }
    return true;
  }

  // A directory that appeared: watched with its subdirectories, and walked
  // for the files written before the watches were in place.
  void appeared(const std::string& dir) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || passed_over(dir, st)) return;
    std::string why;
    if (add_watch(dir, false, &why) < 0) {
      if (at_limit_ || errno != ENOENT)
        queue_.warn(escape_text(dir) + ": cannot watch: " + why + "; changes there are not seen");
    } else if (!add_tree(dir, &why)) {
      queue_.warn(why + "; changes there are not seen");
    }
    queue_.rescan(dir);
  }

  // Drops the watches of `dir` and of every directory below it.
  void forget_tree(const std::string& dir) {
    for (auto it = wds_.begin(); it != wds_.end();) {
      if (within(it->first, dir)) {
        inotify_rm_watch(fd_, it->second);
        dirs_.erase(it->second);
        it = wds_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void handle(const inotify_event& e) {
    if (e.mask & IN_Q_OVERFLOW) {
      queue_.rescan_all(
          "the kernel's event queue overflowed (its length is fs.inotify.max_queued_events); "
          "walking the watched trees again");
      return;
    }
    auto at = dirs_.find(e.wd);
    if (at == dirs_.end()) return;
    const std::string dir = at->second;
    if (e.mask & IN_IGNORED) {
      wds_.erase(dir);
      dirs_.erase(at);
      return;
    }
    if (e.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
      if (root_wds_.count(e.wd))
        queue_.warn(escape_text(dir) + ": the watched directory was " +
                    (e.mask & IN_DELETE_SELF ? "deleted" : "moved") + "; it is no longer watched");
      if (e.mask & IN_MOVE_SELF) forget_tree(dir);
      return;
    }
    if (!e.len) return;
    const std::string path = join_path(dir, e.name);
    if (e.mask & IN_ISDIR) {
      if (e.mask & (IN_CREATE | IN_MOVED_TO)) appeared(path);
      if (e.mask & IN_MOVED_FROM) forget_tree(path);
      return;
    }
    if (e.mask & IN_CLOSE_WRITE) queue_.add(path, Cause::Written);
    if (e.mask & IN_MOVED_TO) queue_.add(path, Cause::Moved);
    if (e.mask & (IN_DELETE | IN_MOVED_FROM)) queue_.drop(path);
  }

  std::unordered_map<int, std::string> dirs_;  // watch descriptor -> directory
  std::map<std::string, int> wds_;             // directory -> watch descriptor
  std::set<int> root_wds_;                     // the watches of the named trees
  long max_watches_ = -1;                      // a test's lower limit, or -1
  bool at_limit_ = false;                      // the last add_watch met the watch limit
};

// ---- fanotify: one mark per file system ----

class FanotifyReader : public Reader {
 public:
  using Reader::Reader;
  ~FanotifyReader() override {
    for (Mount& m : mounts_) close(m.fd);
  }

  // Marks the file system of every tree. False, with *why set, when the
  // kernel or the process's rights do not allow it.
  bool start(std::string* why) {
    fd_ = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME,
                        O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    if (fd_ < 0) {
      *why = "cannot use fanotify: " + errno_text(errno) +
             (errno == EPERM ? " (it needs CAP_SYS_ADMIN)" : "");
      return false;
    }
    for (const Root& r : roots_) {
      Mount m;
      struct statfs sfs;
      m.fd = open(r.given.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (m.fd < 0 || fstatfs(m.fd, &sfs) != 0) {
        *why = escape_text(r.given) + ": " + errno_text(errno);
        if (m.fd >= 0) close(m.fd);
        return false;
      }
      std::memcpy(&m.fsid, &sfs.f_fsid, sizeof m.fsid);
      mounts_.push_back(m);
      if (fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kFanotifyMask, m.fd, nullptr) !=
          0) {
        *why = escape_text(r.given) +
               ": cannot mark its file system for fanotify: " + errno_text(errno) +
               (errno == EPERM ? " (it needs CAP_SYS_ADMIN)" : "");
        return false;
      }
    }
    return true;
  }

  std::string describe() const override { return "fanotify (file system marks)"; }

  void read_events() override {
    for (;;) {
      ssize_t n = read(fd_, buffer_.get(), kEventBufferBytes);
      if (n <= 0) return;
      // An event's length follows the name it carries, so the next one may
      // start at any byte: each is copied to aligned memory before its
      // fields are read.
      const size_t got = static_cast<size_t>(n);
      for (size_t off = 0; got - off >= sizeof(fanotify_event_metadata);) {
        fanotify_event_metadata m;
        std::memcpy(&m, buffer_.get() + off, sizeof m);
        if (m.event_len < sizeof m || m.event_len > got - off) break;
        std::memcpy(record_.get(), buffer_.get() + off, m.event_len);
        off += m.event_len;
        if (m.fd >= 0) close(m.fd);
        if (m.vers != FANOTIFY_METADATA_VERSION) continue;
        if (m.mask & FAN_Q_OVERFLOW) {
          queue_.rescan_all(
              "the kernel's fanotify queue overflowed; walking the watched trees again");
          continue;
        }
        handle(m, record_.get());
      }
    }
  }

 private:
  struct Mount {
    int fd = -1;  // the named tree, through which handles on its file system open
    __kernel_fsid_t fsid{};
  };

  // The directory a handle names, as an absolute path; empty when it is
  // gone or on no marked file system.
  std::string dir_of(const fanotify_event_info_fid& info) {
    for (const Mount& mt : mounts_) {
      if (std::memcmp(&mt.fsid, &info.fsid, sizeof mt.fsid) != 0) continue;
      auto* handle = reinterpret_cast<file_handle*>(const_cast<unsigned char*>(info.handle));
      int dfd = open_by_handle_at(mt.fd, handle, O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (dfd < 0) continue;
      char buf[PATH_MAX];
      const std::string link = "/proc/self/fd/" + std::to_string(dfd);
      ssize_t len = readlink(link.c_str(), buf, sizeof buf);
      close(dfd);
      if (len <= 0 || static_cast<size_t>(len) >= sizeof buf || buf[0] != '/') return "";
      return std::string(buf, static_cast<size_t>(len));
    }
    return "";
  }

  // The path under a watched tree, as the tree was named, or empty when
  // the file lies outside every tree, in the quarantine or under an
  // excluded directory.
  std::string watched_path(const std::string& absolute) const {
    if (!opt_.quarantine_dir.empty() && within(absolute, opt_.quarantine_dir)) return "";
    for (const Root& r : roots_) {
      if (!within(absolute, r.canonical) || absolute.size() == r.canonical.size()) continue;
      std::string rest = absolute.substr(r.canonical.size());
      if (rest[0] == '/') rest.erase(0, 1);
      std::string path = r.given;
      for (size_t from = 0;;) {
        const size_t slash = rest.find('/', from);
        path = join_path(path, rest.substr(from, slash - from));
        if (slash == std::string::npos) return path;
        if (path_excluded(path, opt_.select)) return "";
        from = slash + 1;
      }
    }
    return "";
  }

  // The event m, whose whole record (m.event_len bytes) is at `record`.
  // Its information records follow one another unaligned too: the one
  // read is copied to aligned memory first.
  void handle(const fanotify_event_metadata& m, const char* record) {
    const char* end = record + m.event_len;
    const char* at = record + m.metadata_len;
    while (at + sizeof(fanotify_event_info_header) <= end) {
      fanotify_event_info_header hdr;
      std::memcpy(&hdr, at, sizeof hdr);
      if (hdr.len < sizeof hdr || hdr.len > static_cast<size_t>(end - at)) return;
      const char* here = at;
      at += hdr.len;
      if (hdr.info_type != FAN_EVENT_INFO_TYPE_DFID_NAME ||
          hdr.len < sizeof(fanotify_event_info_fid) + sizeof(file_handle))
        continue;
      std::memcpy(info_.get(), here, hdr.len);
      const auto* info = reinterpret_cast<const fanotify_event_info_fid*>(info_.get());
      const char* info_end = info_.get() + hdr.len;
      const auto* handle = reinterpret_cast<const file_handle*>(info->handle);
      const char* name = reinterpret_cast<const char*>(handle->f_handle);
      if (handle->handle_bytes >= static_cast<size_t>(info_end - name)) continue;
      name += handle->handle_bytes;
      if (!*name || !std::memchr(name, '\0', static_cast<size_t>(info_end - name)) ||
          std::strcmp(name, ".") == 0)
        continue;
      const std::string dir = dir_of(*info);
      if (dir.empty()) continue;
      const std::string path = watched_path(join_path(dir, name));
      if (path.empty()) continue;
      if (m.mask & FAN_ONDIR)
        queue_.rescan(path);
      else
        queue_.add(path, m.mask & FAN_MOVED_TO ? Cause::Moved : Cause::Written);
    }
  }

  std::vector<Mount> mounts_;
  // Aligned copies of the event being read and of its information record.
  std::unique_ptr<char[]> record_{new char[kEventBufferBytes]};
  std::unique_ptr<char[]> info_{new char[kEventBufferBytes]};
};

// ---- the main loop ----

// Starts the reader thread with the stop signals blocked in it.
std::thread start_reader(Reader& reader, const Pipe& stop) {
  sigset_t block, old;
  sigemptyset(&block);
  for (int s : kStopSignals) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  std::thread t([&reader, &stop] { reader.run(stop); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return t;
}

void say(const std::string& text) { std::fprintf(stderr, "qzscan: %s\n", text.c_str()); }

// Scans what the queue gave, in batches; false once a stop signal ended a
// batch (the files left unscanned are said).
class BatchScanner {
 public:
  BatchScanner(const WatchOptions& opt, const WatchHooks& hooks, const std::vector<Root>& roots)
      : opt_(opt), hooks_(hooks), roots_(roots) {}

  bool scan(const EventQueue::Taken& t) {
    for (const std::string& w : t.warnings)
      if (!w.empty()) say("warning: " + w);
    std::vector<std::string> dirs = t.dirs;
    if (t.all) {
      dirs.clear();
      for (const Root& r : roots_) dirs.push_back(r.given);
    }
    std::vector<FileResult> files;
    std::vector<Cause> causes;
    std::set<std::string> seen;
    const auto add = [&](const std::string& path, Cause cause) {
      for (FileResult& f : select_found(path, opt_.select))
        if (seen.insert(f.path).second) {
          files.push_back(std::move(f));
          causes.push_back(path == files.back().path ? cause : Cause::Found);
        }
    };
    for (const auto& [path, cause] : t.files) add(path, cause);
    for (const std::string& d : dirs) add(d, Cause::Found);
    for (size_t from = 0; from < files.size(); from += kWatchMaxBatchFiles) {
      const size_t to = std::min(files.size(), from + kWatchMaxBatchFiles);
      std::vector<FileResult> batch(std::make_move_iterator(files.begin() + from),
                                    std::make_move_iterator(files.begin() + to));
      if (!scan_batch(batch, std::vector<Cause>(causes.begin() + from, causes.begin() + to))) {
        for (size_t i = to; i < files.size(); i++) not_scanned(files[i].path);
        return false;
      }
    }
    return true;
  }

 private:
  void not_scanned(const std::string& path) {
    say(escape_text(path) + ": not scanned: the watch was stopped");
  }

  bool scan_batch(std::vector<FileResult>& batch, const std::vector<Cause>& causes) {
    std::vector<std::string> paths;
    for (const FileResult& f : batch) paths.push_back(f.path);
    if (hooks_.settle) hooks_.settle(batch);
    WorkerRun run = scan_in_workers(batch, opt_.workers, [&](size_t i) {
      FileResult& f = batch[i];
      // Deleted before its worker opened it: nothing is left to judge.
      if (!f.error.empty() && gone(f.path)) return;
      if (hooks_.on_done) hooks_.on_done(batch, i);
      if (opt_.format != Format::Json) return;
      json j = f;
      j["event"] = cause_name(causes[i]);
      opt_.out->write(j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
      opt_.out->flush();
    });
    if (hooks_.after_batch) hooks_.after_batch();
    if (!run.started) {
      for (const std::string& p : paths) say(escape_text(p) + ": not scanned: " + run.why);
      return true;
    }
    if (!run.stop_signal) return true;
    g_watch_signal = run.stop_signal;
    std::set<std::string> finished;
    for (const FileResult& f : batch) finished.insert(f.path);
    for (const std::string& p : paths)
      if (!finished.count(p)) not_scanned(p);
    return false;
  }

  const WatchOptions& opt_;
  const WatchHooks& hooks_;
  const std::vector<Root>& roots_;
};

// The trees as named and resolved. False, after saying why, when one is not
// a directory.
bool resolve_roots(const std::vector<std::string>& dirs, std::vector<Root>* roots) {
  for (const std::string& d : dirs) {
    struct stat st;
    const bool found = stat(d.c_str(), &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
      say(escape_text(d) + ": cannot watch: " + (found ? "not a directory" : errno_text(errno)));
      return false;
    }
    char* real = realpath(d.c_str(), nullptr);
    if (!real) {
      say(escape_text(d) + ": cannot watch: " + errno_text(errno));
      return false;
    }
    roots->push_back({d, real});
    std::free(real);
  }
  return true;
}

// The reader the options ask for, started; null after saying why when none
// can start.
std::unique_ptr<Reader> start_backend(const std::vector<Root>& roots, const WatchOptions& opt,
                                      EventQueue& queue) {
  std::string why;
  if (opt.backend != WatchBackend::Inotify) {
    auto fan = std::make_unique<FanotifyReader>(roots, opt, queue);
    if (fan->start(&why)) return fan;
    if (opt.backend == WatchBackend::Fanotify) {
      say(why);
      return nullptr;
    }
    say("fanotify is not available (" + why + "); using inotify");
  }
  auto ino = std::make_unique<InotifyReader>(roots, opt, queue);
  if (ino->start(&why)) return ino;
  say(why);
  return nullptr;
}

}  // namespace

bool watch_dirs(const WatchOptions& options, const WatchHooks& hooks) {
  std::vector<Root> roots;
  if (!resolve_roots(options.dirs, &roots)) return false;
  // Events name files by their resolved paths; so must the quarantine.
  WatchOptions opt = options;
  if (char* real =
          opt.quarantine_dir.empty() ? nullptr : realpath(opt.quarantine_dir.c_str(), nullptr)) {
    opt.quarantine_dir = real;
    std::free(real);
  }
  Pipe wake, stop, signals;
  if (!wake.open() || !stop.open() || !signals.open()) {
    say(std::string("cannot make a pipe: ") + std::strerror(errno));
    return false;
  }
  const long test_queue = test_watch_queue();
  EventQueue queue(test_queue > 0 ? static_cast<size_t>(test_queue) : kWatchMaxPendingFiles, wake);
  std::unique_ptr<Reader> reader = start_backend(roots, opt, queue);
  if (!reader) return false;
  say("watching " + std::to_string(roots.size()) +
      (roots.size() == 1 ? " directory" : " directories") + " with " + reader->describe());
  // The stop signals are caught while the watch lasts (scan_in_workers
  // takes them over for each batch and gives them back); the reader thread
  // blocks them, so that they reach the main loop.
  g_watch_signal = 0;
  g_signal_pipe = signals.fds[1];
  StopSignalScope watch_signals(on_watch_signal);
  std::thread thread = start_reader(*reader, stop);
  BatchScanner scanner(opt, hooks, roots);
  bool ok = true, stopped = false;
  while (!g_watch_signal) {
    pollfd p[2] = {{wake.fds[0], POLLIN, 0}, {signals.fds[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0 && errno != EINTR) break;
    wake.drain();
    if (g_watch_signal) break;
    EventQueue::Taken t = queue.take(kWatchMaxBatchFiles);
    if (t.empty()) continue;
    if (!scanner.scan(t)) {
      stopped = true;
      break;
    }
    if (reader->lost()) {
      for (const std::string& w : queue.take(0).warnings)
        if (!w.empty()) say("warning: " + w);
      say("no watched directory is left");
      ok = false;
      break;
    }
  }
  // The reader takes what the kernel still holds; then, unless a second
  // signal came, everything pending is scanned.
  stop.wake();
  thread.join();
  const int first_signal = g_watch_signal;
  signals.drain();
  g_watch_signal = 0;
  while (!stopped) {
    EventQueue::Taken t = queue.take(kWatchMaxBatchFiles);
    if (t.empty()) break;
    stopped = !scanner.scan(t) || g_watch_signal;
  }
  const EventQueue::Taken left = queue.take(SIZE_MAX);
  for (const auto& file : left.files)
    say(escape_text(file.first) + ": not scanned: the watch was stopped");
  for (const std::string& dir : left.dirs)
    say(escape_text(dir) + ": not walked again: the watch was stopped");
  if (left.all) say("the watched trees were not walked again: the watch was stopped");
  if (first_signal) say(std::string("stopped by ") + strsignal(first_signal));
  return ok;
}
