#ifndef QZSCAN_SCAN_WORKER_H
#define QZSCAN_SCAN_WORKER_H

// Parallel scanning in worker processes. The engine is process-global, so
// each worker is a process with its own engine; a worker that crashes, runs
// out of its memory or overruns the per-file timeout is replaced and its file
// reported as an error, and the run goes on. Workers die with the parent.

#include "scan_files.h"
#include "scan_types.h"

#include <poll.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdint>

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Default seconds per file before its worker is replaced: far above what a
// normal script takes, short enough that a hang does not stall the run.
constexpr unsigned kDefaultTimeoutSeconds = 30;
// Default address space of a worker, in MiB: several times what the engine
// needs for the largest file it scans by default (strings stop at 16 MiB,
// evaluated code at 64 MiB a scan), low enough that a few workers cannot
// exhaust a host.
constexpr unsigned kDefaultWorkerMemoryMiB = 2048;
// Scored calls kept per file for the report; the rest are only counted, so
// that a file with millions of them cannot exhaust the parent's memory.
constexpr size_t kMaxCallsKept = 1000;

// The engine options a worker sets before its first scan: with the
// extensions, those qzscan turns on; without them 0, the library's defaults.
unsigned long worker_engine_options(bool extensions);

struct WorkerOptions {
  std::string rules_path;
  unsigned jobs = 1;
  unsigned timeout_seconds = kDefaultTimeoutSeconds;
  bool extensions = true;  // the engine's extended tags and full decoding
  // Files are opened through a final symbolic link only when links are
  // followed or the path was named on the command line.
  bool follow_symlinks = false;
  std::set<std::string> named_paths;
  // A larger file is scanned as its first and last max_filesize bytes; a
  // file over it whose size changes while it is read is an error.
  uint64_t max_filesize = uint64_t{kDefaultMaxFilesizeMiB} << 20;
  // Instead, a file over max_filesize, also one that has grown past it since
  // it was listed, is skipped without being scanned.
  bool skip_large = false;
  uint64_t memory_limit = uint64_t{kDefaultWorkerMemoryMiB} << 20;  // bytes; 0: none
  // Files are hashed (SHA-256) as they are read; off only for a run that uses
  // no digest (a text report without cache, baseline or quarantine), whose
  // results then carry an empty one.
  bool digest = true;
};

// Workers are forked without exec, so a worker starts with every lock of
// the parent as it stood at the fork, the allocator's among them; one held
// by another thread of the parent is never released in the worker, whose
// first allocation then waits for ever. A thread of the parent that works
// beside the pool (the watch's event reader) holds this lock whenever it is
// not waiting in the kernel; every fork of a worker holds it too.
std::mutex& fork_guard();

// SHA-256 of the bytes, as lowercase hexadecimal.
std::string sha256_hex(const std::string& bytes);

// How a run of the workers ended.
struct WorkerRun {
  bool started = false;  // false (with why set) when no worker could start
  std::string why;
  int stop_signal = 0;  // the SIGINT, SIGTERM or SIGHUP that stopped the run, else 0
};

// Scans every file of `files` that is neither skipped nor in error, filling
// in its result. on_done is called in the parent for each file, in the
// order of `files`, as soon as it and every file before it are complete.
// SIGINT, SIGTERM and SIGHUP stop the run: the workers are killed, on_done
// sees the files finished by then, and the unfinished ones are removed from
// `files`.
WorkerRun scan_in_workers(std::vector<FileResult>& files, const WorkerOptions& opt,
                          const std::function<void(size_t)>& on_done);

// One file for the pool to scan.
struct PoolJob {
  uint64_t tag = 0;  // the owner's name for the job, handed back with its result
  // The path the worker opens; with a descriptor, the name the file goes by.
  std::string path;
  bool follow = false;  // the worker may open the path through a final symbolic link
  // A descriptor of the file to scan from its start instead of the path, or
  // -1. The pool owns it from submit() on and closes it once it is sent.
  int fd = -1;
};

// How a job ended: `error` when its worker crashed, timed out or could not
// be started, else the worker's result as it sent it.
struct PoolResult {
  uint64_t tag = 0;
  std::string error;
  std::string result;
};

// Fills in f (size, identity and outcome, skip reason or error) from the
// result of its job.
void apply_pool_result(FileResult& f, const PoolResult& r);

struct Worker;

// Worker processes that persist between jobs, as scan_in_workers and the
// daemon use them. Single-threaded: the owner polls the descriptors that
// add_poll_fds gives and calls service() with what poll found; results come
// back through `done`, in the order they end. A worker that crashes, exits
// or passes the timeout is replaced at its next job and its job ends in
// error. The destructor kills and reaps every worker.
class WorkerPool {
 public:
  explicit WorkerPool(const WorkerOptions& opt);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts n workers; false, with *why set, when one cannot be started.
  bool start(unsigned n, std::string* why);
  // Queues a job; hand_out() gives it to the next idle worker.
  void submit(PoolJob job);
  // Jobs queued or being scanned.
  size_t load() const;
  size_t size() const;  // workers, running or to be replaced
  // Gives every idle worker the next queued job, replacing a worker that was
  // reaped first; a job whose worker cannot be started or sent the job ends
  // in error through `done`.
  void hand_out(const std::function<void(PoolResult&&)>& done);
  // The result descriptors of busy workers, for the owner's poll.
  void add_poll_fds(std::vector<pollfd>* fds) const;
  // Takes every result that poll found in fds, and ends in error the jobs
  // of workers over the timeout, killing those workers.
  void service(const std::vector<pollfd>& fds, const std::function<void(PoolResult&&)>& done);
  // Workers load the rule file at path from now on: idle ones are replaced
  // at once, busy ones once their job is done. No job is dropped.
  void use_rules(const std::string& path);
  // Kills the busy workers and reaps all of them; queued jobs stay queued.
  void kill_all();

 private:
  struct State;
  bool spawn_current(Worker* w);
  std::unique_ptr<State> s_;
};

// The signals that stop a run: SIGINT, SIGTERM and SIGHUP.
constexpr size_t kStopSignalCount = 3;
extern const int kStopSignals[kStopSignalCount];

// Catches the stop signals with `handler` for the life of the object,
// without SA_RESTART so that a wait in poll ends at once, and puts back the
// actions they had before when it is destroyed.
class StopSignalScope {
 public:
  explicit StopSignalScope(void (*handler)(int));
  ~StopSignalScope();
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;

 private:
  struct sigaction before_[kStopSignalCount];
};

// The owner's descriptors that a worker must not keep (its listening and
// client sockets): every worker closes them when it starts. Release one
// before closing it.
void keep_from_workers(int fd);
void release_from_workers(int fd);

// Descriptors taken from one read of a Unix socket at most; the kernel
// closes any beyond them, and the request that needed one is refused.
constexpr size_t kMaxPassedPerRead = 16;

// Sends the bytes (at least one) over a Unix stream socket with fd passed
// beside them (SCM_RIGHTS); the caller keeps its own fd. Returns the bytes
// sent, which may be fewer than asked (the rest goes by ordinary writes), or
// -1 with errno set. Never raises SIGPIPE.
ssize_t send_with_descriptor(int sock, const void* data, size_t size, int fd);
// Receives up to `size` bytes like recv(2) with `flags`, appending the
// descriptors that came with them (close-on-exec; the caller owns them) to
// *fds. Returns what recv would.
ssize_t receive_with_descriptors(int sock, void* data, size_t size, int flags,
                                 std::vector<int>* fds);

#endif
