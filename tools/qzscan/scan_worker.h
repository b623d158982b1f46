#ifndef QZSCAN_SCAN_WORKER_H
#define QZSCAN_SCAN_WORKER_H

// Parallel scanning in worker processes. The engine is process-global, so
// each worker is a process with its own engine; a worker that crashes or
// overruns the per-file timeout is replaced and its file reported as an
// error, and the run goes on.

#include "scan_types.h"

#include <functional>
#include <string>
#include <vector>

// Default seconds per file before its worker is replaced: far above what a
// normal script takes, short enough that a hang does not stall the run.
constexpr unsigned kDefaultTimeoutSeconds = 30;

struct WorkerOptions {
  std::string rules_path;
  unsigned jobs = 1;
  unsigned timeout_seconds = kDefaultTimeoutSeconds;
  bool extensions = true;  // the engine's extended tags and full decoding
};

// Scans every file of `files` that is neither skipped nor in error, filling
// in its result. on_done is called in the parent for each file, in the
// order of `files`, as soon as it and every file before it are complete.
// Returns false (with *why set) when no worker could start, e.g. when the
// rule file cannot be opened.
bool scan_in_workers(std::vector<FileResult>& files, const WorkerOptions& opt,
                     const std::function<void(size_t)>& on_done, std::string* why);

#endif
