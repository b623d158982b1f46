// The verdict cache of qzscan, on SQLite.

#include "scan_cache.h"

#include "scan_worker.h"

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <cstring>

using json = nlohmann::json;

namespace {

// Marks a database as this program's cache (PRAGMA application_id): "qzVC".
const int kApplicationId = 0x717A5643;
// Layout of the tables (PRAGMA user_version); another value is another
// program version's cache, used by neither.
const int kLayoutVersion = 1;
// Milliseconds to wait for another run that holds the write lock.
const int kBusyTimeoutMillis = 10000;
// Rows written per transaction: large enough that commits cost little, small
// enough that an interrupted run keeps most of what it scanned.
const size_t kRowsPerTransaction = 512;

const char* const kCreate =
    "CREATE TABLE verdicts ("
    " file_sha256 TEXT NOT NULL,"
    " rules_sha256 TEXT NOT NULL,"
    " engine TEXT NOT NULL,"
    " options TEXT NOT NULL,"
    " outcome TEXT NOT NULL,"   // the scan outcome as the JSON report has it
    " checksum TEXT NOT NULL,"  // SHA-256 of outcome: a damaged row is ignored
    " PRIMARY KEY (file_sha256, rules_sha256, engine, options)) WITHOUT ROWID";
const char* const kSelect =
    "SELECT outcome, checksum FROM verdicts WHERE file_sha256 = ?1 AND rules_sha256 = ?2 AND "
    "engine = ?3 AND options = ?4";
// ?1 is bound but unused, so that the key binds as in the other statements.
const char* const kAnyForKey =
    "SELECT 1 FROM verdicts WHERE ?1 IS NOT NULL AND rules_sha256 = ?2 AND engine = ?3 AND "
    "options = ?4 LIMIT 1";
const char* const kInsert =
    "INSERT OR REPLACE INTO verdicts (file_sha256, rules_sha256, engine, options, outcome, "
    "checksum) VALUES (?1, ?2, ?3, ?4, ?5, ?6)";

// The one integer a pragma returns; -1 when it fails.
int pragma_int(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  int v = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    v = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  return v;
}

std::string pragma_text(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  std::string v;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
    v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  return v;
}

void bind_key(sqlite3_stmt* st, const std::string& sha, const CacheKey& k) {
  sqlite3_bind_text(st, 1, sha.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, k.rules_sha256.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 3, k.engine.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 4, k.options.c_str(), -1, SQLITE_TRANSIENT);
}

// A stored outcome is used only when it reads back whole: a verdict this
// program writes and the digest it is stored under.
bool valid_outcome(const json& j, const std::string& sha) {
  if (!j.is_object() || j.value("sha256", "") != sha) return false;
  auto v = j.find("verdict");
  if (v == j.end() || !v->is_string()) return false;
  const std::string verdict = *v;
  return verdict == "clean" || verdict == "suspicious" || verdict == "threat";
}

}  // namespace

VerdictCache::~VerdictCache() { close(); }

void VerdictCache::close() {
  if (!db_) return;
  flush();
  release();
}

void VerdictCache::release() {
  sqlite3_finalize(select_);
  sqlite3_finalize(insert_);
  select_ = insert_ = nullptr;
  sqlite3_close(db_);
  db_ = nullptr;
}

void VerdictCache::fail(const char* what) {
  if (warning_.empty())
    warning_ = path_ + ": " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open") +
               "; going on without the cache";
  if (!db_) return;
  // Nothing more is read or written: what was committed stays.
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  pending_ = 0;
  release();
}

bool VerdictCache::exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool VerdictCache::open(const std::string& path, const CacheKey& key, std::string* warning) {
  path_ = path;
  key_ = key;
  warning_.clear();
  auto refuse = [&](const std::string& why) {
    *warning = path + ": " + why + "; scanning without the cache";
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    return false;
  };
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK)
    return refuse(std::string("cannot open the cache: ") +
                  (db_ ? sqlite3_errmsg(db_) : "out of memory"));
  sqlite3_busy_timeout(db_, kBusyTimeoutMillis);
  // Reading the header is where a file that is no database shows itself.
  const int app = pragma_int(db_, "PRAGMA application_id");
  if (app < 0) return refuse(std::string("not a qzscan cache: ") + sqlite3_errmsg(db_));
  const int tables = pragma_int(db_, "SELECT count(*) FROM sqlite_master");
  if (tables < 0) return refuse(std::string("not a qzscan cache: ") + sqlite3_errmsg(db_));
  if (app == 0 && tables == 0) {
    // A new database: made in one transaction, so that it is whole or absent.
    const std::string init =
        "BEGIN IMMEDIATE; PRAGMA application_id = " + std::to_string(kApplicationId) +
        "; PRAGMA user_version = " + std::to_string(kLayoutVersion) + "; " + kCreate + "; COMMIT";
    if (!exec(init.c_str())) {
      std::string why = sqlite3_errmsg(db_);
      exec("ROLLBACK");
      return refuse("cannot create the cache: " + why);
    }
  } else if (app != kApplicationId) {
    return refuse("not a qzscan cache (a database of another program)");
  } else if (pragma_int(db_, "PRAGMA user_version") != kLayoutVersion) {
    return refuse("a cache of another qzscan version");
  }
  if (pragma_text(db_, "PRAGMA journal_mode = WAL") != "wal")
    return refuse(std::string("cannot use a write-ahead log: ") + sqlite3_errmsg(db_));
  exec("PRAGMA synchronous = NORMAL");
  if (sqlite3_prepare_v2(db_, kSelect, -1, &select_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, kInsert, -1, &insert_, nullptr) != SQLITE_OK) {
    std::string why = sqlite3_errmsg(db_);
    sqlite3_finalize(select_);
    select_ = nullptr;
    return refuse("not a qzscan cache: " + why);
  }
  return true;
}

bool VerdictCache::has_verdicts_for_key() {
  if (!db_) return false;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, kAnyForKey, -1, &st, nullptr) != SQLITE_OK) {
    fail("cannot read the cache");
    return false;
  }
  bind_key(st, "", key_);
  const int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail("cannot read the cache");
  return rc == SQLITE_ROW;
}

bool VerdictCache::lookup(const std::string& sha256, ScanOutcome* out) {
  if (!db_) return false;
  sqlite3_reset(select_);
  bind_key(select_, sha256, key_);
  const int rc = sqlite3_step(select_);
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) {
    fail("cannot read the cache");
    return false;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(select_, 0));
  const char* check = reinterpret_cast<const char*>(sqlite3_column_text(select_, 1));
  if (!text || !check || sha256_hex(text) != check) return false;
  const json j = json::parse(text, nullptr, false);
  if (!valid_outcome(j, sha256)) return false;
  from_json(j, *out);
  return true;
}

void VerdictCache::store(const ScanOutcome& outcome) {
  if (!db_ || outcome.sha256.empty()) return;
  if (pending_ == 0 && !exec("BEGIN IMMEDIATE")) return fail("cannot write to the cache");
  const std::string text = json(outcome).dump(-1, ' ', false, json::error_handler_t::replace);
  const std::string check = sha256_hex(text);
  sqlite3_reset(insert_);
  bind_key(insert_, outcome.sha256, key_);
  sqlite3_bind_text(insert_, 5, text.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert_, 6, check.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(insert_) != SQLITE_DONE) return fail("cannot write to the cache");
  if (++pending_ >= kRowsPerTransaction) flush();
}

void VerdictCache::flush() {
  if (!db_ || pending_ == 0) return;
  if (!exec("COMMIT")) return fail("cannot write to the cache");
  pending_ = 0;
}

std::string VerdictCache::take_warning() {
  std::string w;
  w.swap(warning_);
  return w;
}
