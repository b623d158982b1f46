#ifndef QZSCAN_SCAN_WATCH_H
#define QZSCAN_SCAN_WATCH_H

// Watch mode (--watch DIR...): scans each selected file of the watched trees
// when it is closed after writing or moved in, until a stop signal.
//
// Events come from fanotify when the kernel and the process's rights allow
// it (a filesystem mark reporting directory handles and names, which needs
// CAP_SYS_ADMIN), else from inotify (a watch per directory, added as
// directories appear). A reader thread turns events into paths in a bounded
// queue where a path pending twice is kept once; the calling thread takes
// what is pending as one batch and scans it through scan_in_workers. Nothing
// is lost silently: when the kernel's queue or ours overflows, that is said
// on standard error and the directories concerned are walked again, as is
// each directory that appears (its files may have been written before its
// watch existed).

#include "scan_files.h"
#include "scan_report.h"
#include "scan_types.h"
#include "scan_worker.h"

#include <functional>
#include <string>
#include <vector>

enum class WatchBackend { Auto, Fanotify, Inotify };

// Files pending in the queue at most: beyond it a file's directory is kept
// for a rescan instead, so that a storm costs bounded memory.
constexpr size_t kWatchMaxPendingFiles = 65536;
// Directories kept for a rescan at most: beyond it every watched tree is
// walked again.
constexpr size_t kWatchMaxRescanDirs = 1024;
// Files handed to the workers in one batch at most, so that results of a
// long storm keep coming while it lasts.
constexpr size_t kWatchMaxBatchFiles = 4096;

struct WatchOptions {
  std::vector<std::string> dirs;  // the trees to watch, as named
  WatchBackend backend = WatchBackend::Auto;
  SelectOptions select;          // which files are scanned, as in a normal run
  WorkerOptions workers;         // how they are scanned
  Format format = Format::Text;  // Json: one JSON object per line and file
  ReportOutput* out = nullptr;   // where results go; must stay open
  // The quarantine folder (absolute), empty when none: what is moved there
  // is not scanned again.
  std::string quarantine_dir;
};

// What the caller does around each batch; each may be empty.
struct WatchHooks {
  // Before the scan: settles the files the allowlist or the cache know.
  std::function<void(std::vector<FileResult>&)> settle;
  // For each file of the batch once done, in order: says its error, stores
  // its verdict, quarantines a threat and writes its text result. The JSON
  // line, if any, is written after it, with the quarantine filled in.
  std::function<void(std::vector<FileResult>&, size_t)> on_done;
  // After each batch: commits the cache.
  std::function<void()> after_batch;
};

// Watches until SIGINT, SIGTERM or SIGHUP, then scans what is pending and
// returns true. Says on standard error which backend watches. False, after
// saying why, when no directory can be watched (one missing or not a
// directory, the inotify watch limit reached while adding the first
// watches, no worker can start) or when every watched directory is gone.
bool watch_dirs(const WatchOptions& opt, const WatchHooks& hooks);

#endif
