// Worker processes for qzscan: each runs its own engine and scans the files
// the parent hands it, one at a time, over a pipe. Frames on both pipes are a
// 4-byte length and that many bytes: a path towards the worker, a JSON result
// back.

#include "scan_worker.h"

#include <qzengine/qzwrapper.h>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <set>
#include <thread>

using json = nlohmann::json;

namespace {

// Characters of one argument text kept in a scored-call record.
const size_t kArgTextMax = 120;
// Decoder calls remembered per file for explaining evaluated code.
const size_t kDecoderMemory = 64;
// Decoder calls attached to one scored call.
const size_t kDecodersPerCall = 8;
// How often the parent wakes up to check timeouts, in milliseconds.
const int kPollMillis = 100;
// Exit status of a worker whose engine cannot load the rules; apart from 0 and
// from what a crash gives, so that the parent can name the cause.
const int kWorkerExitNoRules = 3;
// Bytes read at a time while hashing a file.
const size_t kHashChunk = 65536;
// Separates the rule descriptions the engine collects for a file.
const std::string kDescriptionSeparator = "  ";
// Member of a worker's result that carries a failure instead of an outcome.
const char* const kResultError = "error";

bool write_all(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool read_all(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n) {
    ssize_t r = read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool write_frame(int fd, const std::string& s) {
  uint32_t n = static_cast<uint32_t>(s.size());
  return write_all(fd, &n, sizeof n) && write_all(fd, s.data(), s.size());
}

bool read_frame(int fd, std::string* s) {
  uint32_t n = 0;
  if (!read_all(fd, &n, sizeof n)) return false;
  s->resize(n);
  return n == 0 || read_all(fd, &(*s)[0], n);
}

// ---- inside a worker ----

struct Decoder {
  unsigned long depth;
  std::string text;
};

std::vector<ScoredCall> g_calls;
std::deque<Decoder> g_decoders;

const std::set<std::string>& decoder_names() {
  static const std::set<std::string> names = {
      "base64_decode", "gzinflate",   "gzuncompress", "gzdecode",     "str_rot13",
      "strrev",        "urldecode",   "rawurldecode", "str_replace",  "hex2bin",
      "convert_uudecode", "strtr",    "pack",         "chr",          "create_function"};
  return names;
}

std::string lower(const char* s) {
  std::string r = s ? s : "";
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Wraps the adapter's own filter: the adapter scores the call exactly as it
// would for any host, and the difference of its sums tells which calls scored.
unsigned char explain_filter(unsigned long line, unsigned long reserved, char* name,
                             unsigned long assign, _fcall_argument* args, unsigned long n) {
  unsigned long depth = qz_engine_eval_depth();
  if (name && decoder_names().count(lower(name))) {
    g_decoders.push_back({depth, std::string(name) + "@" + std::to_string(line)});
    if (g_decoders.size() > kDecoderMemory) g_decoders.pop_front();
  }
  unsigned long before = g_current_file_score + g_current_file_suspicious_score;
  unsigned char r = qz_engine_wrapper_fcall_filter(line, reserved, name, assign, args, n);
  unsigned long after = g_current_file_score + g_current_file_suspicious_score;
  if (after > before) {
    ScoredCall c;
    c.line = line;
    c.name = name ? name : "";
    for (unsigned long i = 0; i < n; i++) {
      std::string a = args[i].value ? args[i].value : "";
      if (a.size() > kArgTextMax) a = a.substr(0, kArgTextMax) + "...";
      c.args.push_back(a);
    }
    unsigned long score = 0;
    c.description = qz_engine_wrapper_last_match(&score);
    c.score = after - before;
    c.depth = depth;
    if (depth > 0)
      for (auto it = g_decoders.rbegin(); it != g_decoders.rend() && c.decoders.size() < kDecodersPerCall; ++it)
        if (it->depth < depth) c.decoders.insert(c.decoders.begin(), it->text);
    g_calls.push_back(std::move(c));
  }
  return r;
}

class Handler : public threat::threat_handler {
 public:
  int on_threat(threat::threat_info*, int) override {
    called = true;
    return 0;
  }
  bool called = false;
};

std::string sha256_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  char buf[kHashChunk];
  while (in) {
    in.read(buf, sizeof buf);
    if (in.gcount() > 0) EVP_DigestUpdate(ctx, buf, static_cast<size_t>(in.gcount()));
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx, md, &len);
  EVP_MD_CTX_free(ctx);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < len; i++) {
    std::snprintf(two, sizeof two, "%02x", md[i]);
    hex += two;
  }
  return hex;
}

// Test hooks: make a worker crash or hang on a file whose path contains the
// given text, so that the parent's recovery can be tested end to end.
void test_hooks(const std::string& path) {
  const char* crash = std::getenv("QZSCAN_TEST_CRASH_ON");
  if (crash && *crash && path.find(crash) != std::string::npos) raise(SIGSEGV);
  const char* hang = std::getenv("QZSCAN_TEST_HANG_ON");
  if (hang && *hang && path.find(hang) != std::string::npos)
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// The rule descriptions of the file just scanned, in the order they scored.
std::vector<std::string> file_descriptions() {
  std::vector<std::string> descs;
  std::string d = file_desc;
  for (size_t pos = 0; pos < d.size();) {
    size_t end = d.find(kDescriptionSeparator, pos);
    if (end == std::string::npos) end = d.size();
    if (end > pos) descs.push_back(d.substr(pos, end - pos));
    pos = end + kDescriptionSeparator.size();
  }
  return descs;
}

ScanOutcome scan_one(const std::string& path) {
  test_hooks(path);
  g_calls.clear();
  g_decoders.clear();
  threat::threat_info info{};
  Handler handler;
  std::string p = path;
  int threat = qz_engine_wrapper_scan_file(&info, &p[0], &handler);
  ScanOutcome r;
  r.sha256 = sha256_of(path);
  r.verdict = threat ? Verdict::Threat : handler.called ? Verdict::Suspicious : Verdict::Clean;
  r.score = g_current_file_score;
  r.suspicious_score = g_current_file_suspicious_score;
  r.line = threat ? info.line : 0;
  r.descriptions = file_descriptions();
  r.calls = g_calls;
  return r;
}

[[noreturn]] void worker_main(int in_fd, int out_fd, const WorkerOptions& opt) {
  if (!qz_engine_wrapper_init(opt.rules_path.c_str())) _exit(kWorkerExitNoRules);
  if (opt.extensions) qz_engine_set_options(QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE);
  qz_engine_set_fcall_filter(explain_filter);
  std::string path;
  while (read_frame(in_fd, &path)) {
    json r;
    try {
      r = scan_one(path);
    } catch (const std::exception& e) {
      r = json{{kResultError, std::string("engine failure: ") + e.what()}};
    }
    if (!write_frame(out_fd, r.dump(-1, ' ', false, json::error_handler_t::replace))) break;
  }
  qz_engine_wrapper_uninit();
  _exit(0);
}

// ---- in the parent ----

struct Worker {
  pid_t pid = -1;
  int to_fd = -1;
  int from_fd = -1;
  long file = -1;  // index being scanned, -1 when idle
  std::chrono::steady_clock::time_point started;
};

// The parent's ends of every worker's pipes. A worker closes them all at
// start: holding another worker's request pipe open would keep that worker
// from ever seeing the end of its input.
std::set<int> g_parent_fds;

bool spawn(Worker* w, const WorkerOptions& opt) {
  int down[2], up[2];
  if (pipe(down) != 0) return false;
  if (pipe(up) != 0) {
    close(down[0]);
    close(down[1]);
    return false;
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(down[0]); close(down[1]); close(up[0]); close(up[1]);
    return false;
  }
  if (pid == 0) {
    close(down[1]);
    close(up[0]);
    for (int fd : g_parent_fds) close(fd);
    worker_main(down[0], up[1], opt);
  }
  close(down[0]);
  close(up[1]);
  g_parent_fds.insert(down[1]);
  g_parent_fds.insert(up[0]);
  w->pid = pid;
  w->to_fd = down[1];
  w->from_fd = up[0];
  w->file = -1;
  return true;
}

std::string reap(Worker* w) {
  close(w->to_fd);
  close(w->from_fd);
  g_parent_fds.erase(w->to_fd);
  g_parent_fds.erase(w->from_fd);
  int status = 0;
  waitpid(w->pid, &status, 0);
  w->pid = -1;
  if (WIFSIGNALED(status)) return "worker crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
  if (WIFEXITED(status) && WEXITSTATUS(status) == kWorkerExitNoRules)
    return "worker could not load the rules";
  return "worker exited unexpectedly";
}

void apply_result(FileResult& f, const json& r) {
  if (r.contains(kResultError)) {
    f.error = r[kResultError].get<std::string>();
    return;
  }
  f.scanned = true;
  from_json(r, static_cast<ScanOutcome&>(f));
}

std::string cannot_start() { return std::string("cannot start a worker: ") + std::strerror(errno); }

// Hands the files out to the workers one at a time and collects the results.
// A file is done once it has a result or an error; on_done sees the files in
// order, each as soon as it and every file before it are done.
struct Scheduler {
  std::vector<FileResult>& files;
  const WorkerOptions& opt;
  const std::function<void(size_t)>& on_done;
  std::vector<bool> done;
  std::deque<size_t> queue;  // files still to hand out
  size_t next_out = 0;       // first file not yet passed to on_done
  std::vector<Worker> workers;
  size_t busy = 0;  // workers with a file

  // Queues every file still to scan and reports those already settled.
  void queue_files() {
    done.assign(files.size(), false);
    for (size_t i = 0; i < files.size(); i++) {
      if (!files[i].skipped.empty() || !files[i].error.empty())
        done[i] = true;
      else
        queue.push_back(i);
    }
    emit();
  }

  // No more workers than files; none at all when there is nothing to scan.
  bool start_workers(std::string* why) {
    unsigned n = std::max(1u, std::min<unsigned>(opt.jobs, static_cast<unsigned>(queue.size())));
    workers.resize(queue.empty() ? 0 : n);
    for (Worker& w : workers)
      if (!spawn(&w, opt)) {
        *why = cannot_start();
        return false;
      }
    return true;
  }

  void emit() {
    while (next_out < files.size() && done[next_out]) on_done(next_out++);
  }

  // Settles the worker's file with an error and leaves the worker idle.
  void fail(Worker& w, const std::string& error) {
    files[static_cast<size_t>(w.file)].error = error;
    done[static_cast<size_t>(w.file)] = true;
    w.file = -1;
    busy--;
  }

  // Gives every idle worker the next file, first replacing a worker that was
  // reaped. A file whose worker cannot be started fails; the worker stays
  // idle until the next round.
  void hand_out() {
    for (Worker& w : workers) {
      if (w.file >= 0 || queue.empty()) continue;
      size_t next = queue.front();
      queue.pop_front();
      if (w.pid < 0 && !spawn(&w, opt)) {
        files[next].error = cannot_start();
        done[next] = true;
        continue;
      }
      w.file = static_cast<long>(next);
      w.started = std::chrono::steady_clock::now();
      busy++;
      if (!write_frame(w.to_fd, files[next].path)) fail(w, reap(&w));
    }
  }

  void take_result(Worker& w) {
    std::string frame;
    if (!read_frame(w.from_fd, &frame)) {
      fail(w, reap(&w));
      return;
    }
    FileResult& f = files[static_cast<size_t>(w.file)];
    json r = json::parse(frame, nullptr, false);
    if (r.is_discarded())
      f.error = "worker sent an unreadable result";
    else
      apply_result(f, r);
    done[static_cast<size_t>(w.file)] = true;
    w.file = -1;
    busy--;
  }

  // Waits up to one poll interval, then takes every result that arrived and
  // replaces every worker over the timeout. False when no worker is busy.
  bool collect() {
    std::vector<pollfd> fds;
    for (Worker& w : workers)
      if (w.file >= 0) fds.push_back({w.from_fd, POLLIN, 0});
    if (fds.empty()) return false;
    poll(fds.data(), fds.size(), kPollMillis);
    auto now = std::chrono::steady_clock::now();
    for (Worker& w : workers) {
      if (w.file < 0) continue;
      const pollfd* pf = nullptr;
      for (const pollfd& p : fds)
        if (p.fd == w.from_fd) pf = &p;
      if (pf && (pf->revents & (POLLIN | POLLHUP | POLLERR))) {
        take_result(w);
      } else if (now - w.started > std::chrono::seconds(opt.timeout_seconds)) {
        kill(w.pid, SIGKILL);
        reap(&w);
        fail(w, "timed out after " + std::to_string(opt.timeout_seconds) + " seconds");
      }
    }
    return true;
  }

  void run() {
    while (!queue.empty() || busy) {
      hand_out();
      if (!collect()) {
        if (queue.empty()) break;
        continue;
      }
      emit();
    }
    for (Worker& w : workers)
      if (w.pid >= 0) reap(&w);
    emit();
  }
};

}  // namespace

bool scan_in_workers(std::vector<FileResult>& files, const WorkerOptions& opt,
                     const std::function<void(size_t)>& on_done, std::string* why) {
  if (FILE* f = std::fopen(opt.rules_path.c_str(), "r")) {
    std::fclose(f);
  } else {
    *why = opt.rules_path + ": cannot open the rule file: " + std::strerror(errno);
    return false;
  }
  signal(SIGPIPE, SIG_IGN);
  Scheduler s{files, opt, on_done, {}, {}, 0, {}, 0};
  s.queue_files();
  if (!s.start_workers(why)) return false;
  s.run();
  return true;
}
