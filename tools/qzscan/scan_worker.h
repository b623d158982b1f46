#ifndef QZSCAN_SCAN_WORKER_H
#define QZSCAN_SCAN_WORKER_H

// Parallel scanning in worker processes. The engine is process-global, so
// each worker is a process with its own engine; a worker that crashes, runs
// out of its memory or overruns the per-file timeout is replaced and its file
// reported as an error, and the run goes on. Workers die with the parent.

#include "scan_files.h"
#include "scan_types.h"

#include <cstdint>
#include <functional>
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
};

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

#endif
