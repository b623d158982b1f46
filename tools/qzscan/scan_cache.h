#ifndef QZSCAN_SCAN_CACHE_H
#define QZSCAN_SCAN_CACHE_H

// The verdict cache (--cache FILE): an SQLite database of scan outcomes
// keyed by the file's SHA-256, the rule file's SHA-256, the engine's version
// and build ID and the scan options. A file whose key is stored is not
// scanned again. A change of rules, engine or options gives other keys, so
// stale verdicts are never met. Only the parent process opens the database:
// it looks up verdicts before the scan and writes new ones, in batched
// transactions, with a write-ahead log so that other runs can read meanwhile.
//
// The database is trusted data: a row says a file is clean without scanning
// it. So it is used only when no one but the user running qzscan (and root)
// can change it: open() refuses it otherwise, and each row carries an
// HMAC-SHA256 of its key columns and outcome under a secret kept beside the
// database in FILE.key, so that a row written by anything but qzscan, or
// moved to another file's digest, fails its check and the file is scanned.

#include "scan_types.h"

#include <cstddef>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// What a stored verdict holds for, besides the file's digest.
struct CacheKey {
  std::string rules_sha256;
  std::string engine;   // engine and tool versions
  std::string options;  // the scan options that change verdicts
};

class VerdictCache {
 public:
  VerdictCache() = default;
  VerdictCache(const VerdictCache&) = delete;
  VerdictCache& operator=(const VerdictCache&) = delete;
  // Commits what is pending and closes the database.
  ~VerdictCache();

  // Opens the database at `path`, creating it (mode 0600) when missing, and
  // reads its key, FILE.key, making one when missing. False, with *warning
  // set ("PATH: reason; scanning without the cache"), when it cannot be
  // used: the database, its folder, its key or SQLite's -wal, -shm or
  // -journal file beside it may be changed by another user (see
  // trust_problem in scan_cache.cpp) or is a link or not a regular file;
  // not a database, corrupt, made by another program or another version of
  // this one, or not writable. The files are then left as they were, and the
  // cache stays inactive.
  bool open(const std::string& path, const CacheKey& key, std::string* warning);
  bool active() const { return db_ != nullptr; }
  // True when the database holds a verdict for this run's rules, engine and
  // options: with none, hashing the files to look them up would be wasted.
  bool has_verdicts_for_key();

  // The stored outcome for a file with this digest. False when there is
  // none, when the stored row fails its check (then it is ignored), or when
  // the database fails, which also ends the cache for the run with a
  // warning (see take_warning).
  bool lookup(const std::string& sha256, ScanOutcome* out);
  // Stores the outcome of a file just scanned; written in batches.
  void store(const ScanOutcome& outcome);
  // Commits what is pending.
  void flush();
  // The first failure met since the cache was opened, once; empty when none.
  std::string take_warning();

 private:
  void fail(const char* what);
  bool exec(const char* sql);
  void close();
  // Finalizes the statements and closes the database, committing nothing.
  void release();

  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  CacheKey key_;
  std::string secret_;  // the HMAC key of the rows, read from FILE.key
  std::string path_, warning_;
  size_t pending_ = 0;  // rows written in the open transaction
};

#endif
