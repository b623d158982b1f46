// The verdict cache of qzscan, on SQLite.

#include "scan_cache.h"

#include "scan_hmac.h"

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// Permissions of the files qzscan makes (the database and its key): the
// owner's alone, whatever the umask.
const mode_t kPrivateMode = 0600;
// Permission bits that let others change a file or a folder: the database,
// its folder and SQLite's files beside it must have none of them.
const mode_t kOthersWrite = S_IWGRP | S_IWOTH;
// ... and those that let others read or change the key: a key others can
// read lets them forge rows.
const mode_t kOthersAccess = S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
// Files SQLite keeps beside the database, named by these suffixes: what it
// finds there it takes as part of the database.
const char* const kSidecarSuffixes[] = {"-wal", "-shm", "-journal"};
// The key of the rows' checksums is kept beside the database in FILE.key.
const char* const kKeySuffix = ".key";
// Bytes of that key: as many as the tag's, as RFC 2104 advises.
const size_t kKeyBytes = 32;
// The descriptors of this process, to find the one SQLite opened.
const char* const kOwnDescriptors = "/proc/self/fd";

const char* const kCreate =
    "CREATE TABLE verdicts ("
    " file_sha256 TEXT NOT NULL,"
    " rules_sha256 TEXT NOT NULL,"
    " engine TEXT NOT NULL,"
    " options TEXT NOT NULL,"
    " outcome TEXT NOT NULL,"   // the scan outcome as the JSON report has it
    " checksum TEXT NOT NULL,"  // see row_checksum: a damaged or forged row is ignored
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

// What a row's checksum vouches for: its key columns and its outcome, each
// after its length, so that no other row has the same text. Rows written by
// earlier versions (a plain SHA-256 of the outcome) fail, and are replaced.
std::string row_checksum(const std::string& secret, const std::string& sha, const CacheKey& k,
                         const std::string& outcome) {
  std::string text;
  for (const std::string* part : {&sha, &k.rules_sha256, &k.engine, &k.options, &outcome})
    text += std::to_string(part->size()) + ":" + *part;
  return hmac_sha256_hex(secret, text);
}

// ---- whom the files can be trusted from ----

// "writable by others", "readable and writable by group", ...: what the
// bits of `mode` among `forbidden` allow, or empty when none is set.
std::string access_problem(mode_t mode, mode_t forbidden) {
  auto verb = [](mode_t rw) {
    return std::string(rw == (S_IROTH | S_IWOTH) ? "readable and writable"
                       : rw == S_IROTH           ? "readable"
                                                 : "writable");
  };
  const mode_t group = (mode & forbidden & (S_IRGRP | S_IWGRP)) >> 3;
  const mode_t others = mode & forbidden & (S_IROTH | S_IWOTH);
  if (group && group == others) return verb(group) + " by group and others";
  std::string r = group ? verb(group) + " by group" : "";
  if (others) r += (r.empty() ? "" : ", ") + verb(others) + " by others";
  return r;
}

// Why another user could change (or, with S_IRGRP or S_IROTH in
// `forbidden`, read) this file, or empty when no one can: a link, not a
// regular file, owned by another user, or with a bit of `forbidden` set.
// `subject` names the file in the text; empty, the text is bare ("writable
// by others") for the database itself.
std::string file_problem(const struct stat& st, const std::string& subject, mode_t forbidden) {
  std::string why;
  if (S_ISLNK(st.st_mode))
    why = "a symbolic link";
  else if (!S_ISREG(st.st_mode))
    why = "not a regular file";
  else if (st.st_uid != geteuid())
    why = "owned by uid " + std::to_string(st.st_uid) + ", not by the user running qzscan";
  else
    why = access_problem(st.st_mode, forbidden);
  return why.empty() || subject.empty() ? why : subject + " is " + why;
}

// The same of a path, not followed when it is a link; empty too when
// nothing is there.
std::string path_problem(const std::string& path, const std::string& subject, mode_t forbidden) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return file_problem(st, subject, forbidden);
  if (errno == ENOENT) return "";
  return "cannot check " + path + ": " + std::strerror(errno);
}

// Why the database at `path` cannot be trusted, or empty when it can: it
// (when it exists), its key and SQLite's files beside it (when they exist)
// must be regular files, not links, owned by the user running qzscan and
// writable by no one else (the key readable by no one else); the folder
// that holds them must belong to that user or root and be writable by no
// one else, since whoever can write there can put files beside the
// database before SQLite opens them (a sticky folder such as /tmp is no
// exception: the names are free for anyone to take first).
std::string trust_problem(const std::string& path) {
  const std::string folder = folder_of(path);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0)
    return "cannot check its folder " + folder + ": " + std::strerror(errno);
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "its folder " + folder + " is owned by uid " + std::to_string(st.st_uid) +
           ", not by the user running qzscan or root";
  const std::string access = access_problem(st.st_mode, kOthersWrite);
  if (!access.empty()) return "its folder " + folder + " is " + access;
  std::string why = path_problem(path, "", kOthersWrite);
  for (const char* suffix : kSidecarSuffixes)
    if (why.empty()) why = path_problem(path + suffix, path + suffix, kOthersWrite);
  if (why.empty())
    why = path_problem(path + kKeySuffix, "the key file " + path + kKeySuffix, kOthersAccess);
  return why;
}

// Opens the database file that trust_problem passed, or makes it (mode
// 0600, never through a link, never over a file made meanwhile), to take
// its identity: -1, with *why set, when it is no longer what was checked.
int open_database_file(const std::string& path, struct stat* st, std::string* why) {
  const int existing = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), existing);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateMode);
    if (fd >= 0 && fchmod(fd, kPrivateMode) != 0) {
      *why = std::string("cannot create the cache: ") + std::strerror(errno);
      ::close(fd);
      return -1;
    }
    // Another run made it meanwhile: it is checked as any other.
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), existing);
  }
  if (fd < 0) {
    *why = errno == ELOOP ? "a symbolic link"
                          : std::string("cannot open the cache: ") + std::strerror(errno);
    return -1;
  }
  if (fstat(fd, st) != 0) {
    *why = std::string("cannot open the cache: ") + std::strerror(errno);
  } else {
    *why = file_problem(*st, "", kOthersWrite);
    if (why->empty()) return fd;
  }
  ::close(fd);
  return -1;
}

// True when one of this process's descriptors is open on the file `st`
// names: after sqlite3_open_v2, that is SQLite's, on the file that was
// checked. Without /proc the path is looked at again instead.
bool holds_file(const std::string& path, const struct stat& want) {
  auto same = [&](const struct stat& st) {
    return st.st_dev == want.st_dev && st.st_ino == want.st_ino;
  };
  DIR* dir = opendir(kOwnDescriptors);
  struct stat st;
  if (!dir) return lstat(path.c_str(), &st) == 0 && same(st);
  bool found = false;
  while (const dirent* e = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(e->d_name, &end, 10);
    if (end != e->d_name && *end == 0 && fd != dirfd(dir) && fstat(static_cast<int>(fd), &st) == 0)
      found = found || same(st);
  }
  closedir(dir);
  return found;
}

// Makes the key file at `path`: the key is written to a file of its own,
// then linked into place, so that another run never reads half a key, and
// a key another run made meanwhile is kept. False, with *why set, when it
// cannot be made.
bool make_key(const std::string& path, std::string* why) {
  unsigned char key[kKeyBytes];
  for (size_t got = 0; got < sizeof key;) {
    const ssize_t n = getrandom(key + got, sizeof key - got, 0);
    if (n < 0 && errno != EINTR) {
      *why = "cannot make the key file " + path + ": " + std::strerror(errno);
      return false;
    }
    got += n > 0 ? static_cast<size_t>(n) : 0;
  }
  const std::string temp = path + "." + std::to_string(static_cast<long>(getpid())) + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateMode);
  bool made =
      fd >= 0 && fchmod(fd, kPrivateMode) == 0 && write_all(fd, key, sizeof key) && fsync(fd) == 0;
  if (fd >= 0 && ::close(fd) != 0) made = false;
  made = made && (link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
  if (!made) *why = "cannot make the key file " + path + ": " + std::strerror(errno);
  if (fd >= 0) unlink(temp.c_str());
  return made;
}

// Reads the key of the rows' checksums from `path`, making it when missing.
// False, with *why set, when it cannot be read or trusted.
bool load_key(const std::string& path, std::string* key, std::string* why) {
  const std::string what = "the key file " + path;
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (!make_key(path, why)) return false;
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) {
    *why = errno == ELOOP ? what + " is a symbolic link"
                          : "cannot read the key file " + path + ": " + std::strerror(errno);
    return false;
  }
  // Checked on the descriptor it is read from: nothing can come between.
  struct stat st;
  char buf[kKeyBytes + 1];
  ssize_t n = -1;
  if (fstat(fd, &st) != 0) {
    *why = "cannot read the key file " + path + ": " + std::strerror(errno);
  } else if ((*why = file_problem(st, what, kOthersAccess)).empty()) {
    n = read(fd, buf, sizeof buf);
    if (n < 0)
      *why = "cannot read the key file " + path + ": " + std::strerror(errno);
    else if (static_cast<size_t>(n) != kKeyBytes)
      *why = what + " does not hold a key of " + std::to_string(kKeyBytes) + " bytes";
  }
  ::close(fd);
  if (!why->empty()) return false;
  key->assign(buf, kKeyBytes);
  return true;
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
  // The files are checked by path and SQLite opens them by path. What is
  // left between the two: since only the user running qzscan and root can
  // change what the folder holds, another file can come in only through a
  // folder further up that someone else may rename. The database SQLite
  // holds is checked to be the file that passed, by identity; its -wal and
  // -shm files and the key, opened later, rest on the folder alone. That is
  // acceptable: a folder above the cache that another user may rename gives
  // that user the cache's place whatever qzscan checks, and choosing that
  // place is the operator's.
  std::string why = trust_problem(path);
  if (!why.empty()) return refuse(why);
  struct stat checked;
  const int fd = open_database_file(path, &checked, &why);
  if (fd < 0) return refuse(why);
  // Closed before SQLite locks the file: closing any descriptor of a file
  // drops the process's locks on it.
  ::close(fd);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
      SQLITE_OK)
    return refuse(std::string("cannot open the cache: ") +
                  (db_ ? sqlite3_errmsg(db_) : "out of memory"));
  if (!holds_file(path, checked)) return refuse("replaced while it was being opened");
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
      why = sqlite3_errmsg(db_);
      exec("ROLLBACK");
      return refuse("cannot create the cache: " + why);
    }
  } else if (app != kApplicationId) {
    return refuse("not a qzscan cache (a database of another program)");
  } else if (pragma_int(db_, "PRAGMA user_version") != kLayoutVersion) {
    return refuse("a cache of another qzscan version");
  }
  if (!load_key(path + kKeySuffix, &secret_, &why)) return refuse(why);
  if (pragma_text(db_, "PRAGMA journal_mode = WAL") != "wal")
    return refuse(std::string("cannot use a write-ahead log: ") + sqlite3_errmsg(db_));
  exec("PRAGMA synchronous = NORMAL");
  if (sqlite3_prepare_v2(db_, kSelect, -1, &select_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, kInsert, -1, &insert_, nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(db_);
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
  if (!text || !check || !same_bytes(row_checksum(secret_, sha256, key_, text), check))
    return false;
  const json j = json::parse(text, nullptr, false);
  if (!valid_outcome(j, sha256)) return false;
  from_json(j, *out);
  return true;
}

void VerdictCache::store(const ScanOutcome& outcome) {
  if (!db_ || outcome.sha256.empty()) return;
  if (pending_ == 0 && !exec("BEGIN IMMEDIATE")) return fail("cannot write to the cache");
  const std::string text = json(outcome).dump(-1, ' ', false, json::error_handler_t::replace);
  const std::string check = row_checksum(secret_, outcome.sha256, key_, text);
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
