// Moving threats into the quarantine and back, through descriptors only.

#include "scan_quarantine.h"

#include "scan_allow.h"
#include "scan_report.h"

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

using json = nlohmann::json;

namespace {

// The names inside an item.
const char* const kItemFile = "file";
const char* const kManifest = "manifest.json";
const char* const kRestored = "restored.json";
// Modes of what the quarantine makes: the folder and items only for their
// owner, the quarantined file for nobody.
const mode_t kDirMode = 0700;
const mode_t kManifestMode = 0600;
const mode_t kQuarantinedFileMode = 0;
// Permission bits, with set-id and sticky, as restored.
const mode_t kModeBits = 07777;
const mode_t kSetIdBits = S_ISUID | S_ISGID;
// Write permission for anyone but the owner.
const mode_t kOthersWrite = S_IWGRP | S_IWOTH;
// Tries at a free item id before giving up: each try adds to a counter, so
// only a crowd of items made in the same second by the same process id
// exhausts them.
const unsigned kIdTries = 1000;
// Spaces per level of the manifest's JSON.
const int kManifestIndent = 2;
// Largest manifest read back: a manifest holds a path and a few rule
// descriptions, far below this; a larger one is not ours.
const off_t kMaxManifestBytes = 1 << 20;
// Hexadecimal digits of a SHA-256 digest.
const size_t kSha256HexDigits = 64;
// Nanoseconds in a second: a time's nanoseconds lie below this.
const long kNanosPerSecond = 1000000000L;
// How the folders of a path are walked: without read permission (O_PATH),
// never through a link.
const int kWalkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string errno_text() { return std::strerror(errno); }

// An open descriptor, closed when it goes.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int f = -1) {
    if (fd >= 0) close(fd);
    fd = f;
  }
  int release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

// The non-empty components of a path.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t pos = 0; pos < path.size();) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    if (end > pos) parts.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

// An absolute path in its one normal form: no empty, "." or ".." component,
// no trailing slash, no NUL. Only such a path is restored to.
bool normal_absolute(const std::string& path) {
  if (path.size() < 2 || path[0] != '/' || path.back() == '/' ||
      path.find('\0') != std::string::npos || path.find("//") != std::string::npos)
    return false;
  for (const std::string& c : components(path))
    if (c == "." || c == "..") return false;
  return true;
}

std::string uid_text(uid_t uid) { return "uid " + std::to_string(uid); }

// Why a folder with this status cannot be trusted, or an empty text. Above
// the quarantine, a folder may belong to root or to the running user and
// may be writable by others only when sticky (others can then neither
// remove nor rename what is not theirs); the quarantine itself belongs to
// the running user and is written by nobody else.
std::string distrust(const struct stat& st, const std::string& shown, bool quarantine) {
  const uid_t me = geteuid();
  if (!S_ISDIR(st.st_mode)) return shown + " is not a directory";
  if (quarantine && st.st_uid != me)
    return shown + " is owned by " + uid_text(st.st_uid) + ", not by the user running qzscan (" +
           uid_text(me) + ")";
  if (st.st_uid != me && st.st_uid != 0)
    return shown + " is owned by " + uid_text(st.st_uid) +
           ", neither root nor the user running qzscan";
  if ((st.st_mode & kOthersWrite) && (quarantine || !(st.st_mode & S_ISVTX)))
    return shown + " is writable by its group or by others";
  return "";
}

// Opens `path` as a trusted quarantine folder, making it first when
// `create` and it is missing, and returns its descriptor with *abs set to
// its absolute path; -1, with *why set, when it or a folder above it fails
// the trust check or cannot be opened. The folders above are resolved to
// their real path once, then walked from the root one component at a time
// without following links, so that what is checked is what is opened.
int open_trusted_folder(const std::string& path, bool create, std::string* abs, std::string* why) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::string base = base_of(p);
  char* real_parent = nullptr;
  if (base == "." || base == ".." || p == "/") {
    char* real = realpath(p.c_str(), nullptr);
    if (!real) {
      *why = path + ": " + errno_text();
      return -1;
    }
    p = real;
    std::free(real);
    base = base_of(p);
  }
  real_parent = realpath(folder_of(p).c_str(), nullptr);
  if (!real_parent) {
    *why = folder_of(p) + ": " + errno_text();
    return -1;
  }
  const std::string parent = real_parent;
  std::free(real_parent);
  if (base.empty()) {
    *why = path + ": the root folder cannot be a quarantine";
    return -1;
  }

  Fd dir(open("/", kWalkFlags));
  std::string shown = "/";
  struct stat st;
  if (dir.fd < 0 || fstat(dir.fd, &st) != 0) {
    *why = "/: " + errno_text();
    return -1;
  }
  if (!(*why = distrust(st, shown, false)).empty()) return -1;
  for (const std::string& c : components(parent)) {
    shown = (shown == "/" ? "" : shown) + "/" + c;
    Fd next(openat(dir.fd, c.c_str(), kWalkFlags));
    if (next.fd < 0 || fstat(next.fd, &st) != 0) {
      *why = shown + ": " + (errno == ENOTDIR ? "changed while it was checked" : errno_text());
      return -1;
    }
    if (!(*why = distrust(st, shown, false)).empty()) return -1;
    dir.reset(next.release());
  }
  *abs = (parent == "/" ? "" : parent) + "/" + base;
  bool made = false;
  if (create) {
    made = mkdirat(dir.fd, base.c_str(), kDirMode) == 0;
    if (!made && errno != EEXIST) {
      *why = *abs + ": " + errno_text();
      return -1;
    }
  }
  Fd q(openat(dir.fd, base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (q.fd < 0) {
    const std::string error = errno_text();
    *why = *abs + ": " +
           (fstatat(dir.fd, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)
                ? "a symbolic link; name the folder it points to"
                : error);
    return -1;
  }
  // A folder made here gets its mode whatever the umask.
  if (made) fchmod(q.fd, kDirMode);
  if (fstat(q.fd, &st) != 0) {
    *why = *abs + ": " + errno_text();
    return -1;
  }
  if (!(*why = distrust(st, *abs, true)).empty()) return -1;
  return q.release();
}

// Syncs a folder held by a descriptor that may have been opened without
// read permission, so that a rename or a new name in it survives a crash.
void sync_dir(int dir) {
  Fd d(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.fd >= 0) fsync(d.fd);
}

// Reads `from` from its start to its end, hashing it and, when `to` is not
// negative, writing it there. False, with errno set, on a read or write
// error.
bool copy_and_hash(int from, int to, std::string* hex) {
  return lseek(from, 0, SEEK_SET) == 0 && sha256_stream(from, to, hex);
}

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file is as it was when first looked at: no write, no change of its
// inode's data or status since.
bool unchanged(const struct stat& before, const struct stat& now) {
  return same_inode(before, now) && before.st_size == now.st_size &&
         before.st_mtim.tv_sec == now.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == now.st_mtim.tv_nsec &&
         before.st_ctim.tv_sec == now.st_ctim.tv_sec &&
         before.st_ctim.tv_nsec == now.st_ctim.tv_nsec;
}

// The name `name` in folder `dir` is the inode `want` (a link is not).
bool name_is(int dir, const std::string& name, const struct stat& want) {
  struct stat st;
  return fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && same_inode(st, want);
}

// Renames without ever replacing what is at `to`; where the file system
// cannot promise that, a hard link and an unlink do the same.
int rename_no_replace(int from_dir, const std::string& from, int to_dir, const std::string& to) {
  if (renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (linkat(from_dir, from.c_str(), to_dir, to.c_str(), 0) != 0) return -1;
  return unlinkat(from_dir, from.c_str(), 0);
}

// Copies the open file `src` to the new name `to` in folder `dir` (never
// over an existing name, never through a link), syncs it and checks its
// digest both as written and as read back. The descriptor of the copy, open
// for reading and writing; -1, with *why set, when any step fails, and the
// partial copy is then removed.
int copy_checked(int src, int dir, const std::string& to, const std::string& sha256,
                 std::string* why) {
  Fd out(
      openat(dir, to.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kManifestMode));
  if (out.fd < 0) {
    *why = "cannot create the copy: " + errno_text();
    return -1;
  }
  std::string copied, check;
  bool ok = copy_and_hash(src, out.fd, &copied) && fsync(out.fd) == 0;
  if (!ok) *why = "cannot copy: " + errno_text();
  if (ok && !copy_and_hash(out.fd, -1, &check)) {
    *why = "cannot read the copy back: " + errno_text();
    ok = false;
  }
  if (ok && (copied != sha256 || check != sha256)) {
    *why = "the copy does not have the file's digest";
    ok = false;
  }
  struct stat made;
  if (!ok && fstat(out.fd, &made) == 0 && name_is(dir, to, made)) unlinkat(dir, to.c_str(), 0);
  return ok ? out.release() : -1;
}

json times_json(const struct timespec& t) { return {{"sec", t.tv_sec}, {"nsec", t.tv_nsec}}; }

std::string now_text() {
  char when[32];
  const time_t now = time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return when;
}

bool write_manifest(int item, const json& manifest, std::string* why) {
  Fd fd(
      openat(item, kManifest, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kManifestMode));
  const std::string text =
      manifest.dump(kManifestIndent, ' ', false, json::error_handler_t::replace) + "\n";
  if (fd.fd < 0 || !write_all(fd.fd, text.data(), text.size()) || fsync(fd.fd) != 0) {
    *why = "cannot write the manifest: " + errno_text();
    return false;
  }
  return true;
}

// Removes an item this run made and that holds no file of the user's.
void drop_item(int quarantine, const std::string& id, int item) {
  unlinkat(item, kManifest, 0);
  unlinkat(quarantine, id.c_str(), AT_REMOVEDIR);
}

// Opens `folder` (through links, as the scan reached it) and sets *real to
// its absolute path without links, the path a restore walks back. The path
// is checked to lead to the folder opened, so that a link swapped in
// between cannot make the manifest name another folder. The descriptor
// (O_PATH); -1, with *why set, on failure.
int open_real_folder(const std::string& folder, std::string* real, std::string* why) {
  Fd dir(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  char* resolved = dir.fd >= 0 ? realpath(folder.c_str(), nullptr) : nullptr;
  if (!resolved) {
    *why = errno_text();
    return -1;
  }
  *real = resolved;
  std::free(resolved);
  Fd check(open(real->c_str(), kWalkFlags));
  struct stat a, b;
  if (check.fd < 0 || fstat(check.fd, &a) != 0 || fstat(dir.fd, &b) != 0 || !same_inode(a, b)) {
    *why = "its folder changed since it was scanned";
    return -1;
  }
  return dir.release();
}

// ---- restore ----

// What a manifest says of the file to restore, checked.
struct Manifest {
  std::string path, sha256;
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;
  struct timespec times[2] = {};  // access, modification
};

bool json_uint(const json& m, const char* key, uint64_t max, uint64_t* out) {
  auto v = m.find(key);
  if (v == m.end() || !v->is_number_unsigned() || v->get<uint64_t>() > max) return false;
  *out = v->get<uint64_t>();
  return true;
}

bool json_time(const json& m, const char* key, struct timespec* t) {
  auto v = m.find(key);
  if (v == m.end() || !v->is_object()) return false;
  auto sec = v->find("sec"), nsec = v->find("nsec");
  if (sec == v->end() || !sec->is_number_integer() || nsec == v->end() ||
      !nsec->is_number_integer())
    return false;
  t->tv_sec = sec->get<time_t>();
  t->tv_nsec = nsec->get<long>();
  return t->tv_nsec >= 0 && t->tv_nsec < kNanosPerSecond;
}

bool is_sha256_hex(const std::string& s) {
  return s.size() == kSha256HexDigits && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// Reads the item's manifest; false, with *why set, when it is missing, not
// a regular file of ours, too large, or does not hold what a restore needs
// in the form this program writes it.
bool read_manifest(int item, Manifest* m, std::string* why) {
  Fd fd(openat(item, kManifest, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.fd < 0) {
    struct stat st;
    *why = errno == ENOENT && fstatat(item, kRestored, &st, AT_SYMLINK_NOFOLLOW) == 0
               ? "already restored"
               : "no manifest: " + errno_text();
    return false;
  }
  struct stat st;
  if (fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      st.st_size > kMaxManifestBytes) {
    *why = "the manifest is not a file this program wrote";
    return false;
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  ssize_t n = text.empty() ? 0 : pread(fd.fd, &text[0], text.size(), 0);
  const json j =
      n == static_cast<ssize_t>(text.size()) ? json::parse(text, nullptr, false) : json(nullptr);
  uint64_t uid = 0, gid = 0, mode = 0;
  if (!j.is_object() || !json_uint(j, "uid", UINT32_MAX - 1, &uid) ||
      !json_uint(j, "gid", UINT32_MAX - 1, &gid) || !json_uint(j, "mode", kModeBits, &mode) ||
      !json_time(j, "atime", &m->times[0]) || !json_time(j, "mtime", &m->times[1]) ||
      !j.contains("sha256") || !j["sha256"].is_string()) {
    *why = "the manifest cannot be read";
    return false;
  }
  m->path = json_text(j, "path");
  m->sha256 = j["sha256"].get<std::string>();
  m->uid = static_cast<uid_t>(uid);
  m->gid = static_cast<gid_t>(gid);
  m->mode = static_cast<mode_t>(mode);
  if (!normal_absolute(m->path)) {
    *why = "the manifest's path is not an absolute path in normal form";
    return false;
  }
  if (!is_sha256_hex(m->sha256)) {
    *why = "the manifest's digest is not a SHA-256";
    return false;
  }
  return true;
}

// Walks from the root to the folder that holds `path`, one component at a
// time, never through a symbolic link. Its descriptor (O_PATH); -1, with
// *why set, when a component is a link, missing or no folder.
int open_parent(const std::string& path, std::string* why) {
  Fd dir(open("/", kWalkFlags));
  std::vector<std::string> parts = components(path);
  parts.pop_back();
  std::string shown;
  for (const std::string& c : parts) {
    if (dir.fd < 0) break;
    shown += "/" + c;
    Fd next(openat(dir.fd, c.c_str(), kWalkFlags));
    if (next.fd < 0) {
      struct stat st;
      const bool link =
          fstatat(dir.fd, c.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      *why = link ? shown + " is a symbolic link now; it is not followed"
                  : shown + ": " + errno_text();
      return -1;
    }
    dir.reset(next.release());
  }
  if (dir.fd < 0) *why = "/: " + errno_text();
  return dir.release();
}

// Gives the open file what the manifest says of it; false, with *why set,
// on the first failure. Owner first: changing it clears set-id bits, which
// the mode then sets.
bool apply_metadata(int fd, const Manifest& m, mode_t mode, std::string* why) {
  if (fchown(fd, m.uid, m.gid) != 0) {
    *why = "cannot set its owner: " + errno_text();
    return false;
  }
  if (fchmod(fd, mode) != 0) {
    *why = "cannot set its mode: " + errno_text();
    return false;
  }
  if (futimens(fd, m.times) != 0) {
    *why = "cannot set its times: " + errno_text();
    return false;
  }
  return true;
}

// Restores one item; false, with *why set, when it was not restored whole.
// *note is set when the file came back without its set-id bits.
bool restore_one(int quarantine, const std::string& id, bool restore_setid, std::string* path,
                 std::string* note, std::string* why) {
  Fd item(openat(quarantine, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (item.fd < 0 || fstat(item.fd, &st) != 0) {
    *why = errno == ENOENT ? "no such item" : "not a quarantine item: " + errno_text();
    return false;
  }
  if (!(*why = distrust(st, "the item", true)).empty()) return false;
  Manifest m;
  if (!read_manifest(item.fd, &m, why)) return false;
  *path = m.path;
  mode_t mode = m.mode;
  if ((mode & kSetIdBits) && !restore_setid) {
    mode &= ~kSetIdBits;
    char text[96];
    std::snprintf(text, sizeof text,
                  "restored with mode %04o, without the set-id bits of %04o (see --restore-setid)",
                  static_cast<unsigned>(mode), static_cast<unsigned>(m.mode));
    *note = text;
  }

  Fd src(openat(item.fd, kItemFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::string digest;
  if (src.fd < 0 || fstat(src.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      !copy_and_hash(src.fd, -1, &digest)) {
    *why = "cannot read the quarantined file: " + (src.fd < 0 ? errno_text() : "not a file");
    return false;
  }
  if (digest != m.sha256) {
    *why = "the quarantined file no longer has the digest of its manifest";
    return false;
  }
  Fd parent(open_parent(m.path, why));
  if (parent.fd < 0) return false;
  const std::string base = base_of(m.path);
  struct stat there, folder;
  if (fstatat(parent.fd, base.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
    *why = "something is at the original path; it is not replaced";
    return false;
  }
  if (fstat(parent.fd, &folder) != 0) {
    *why = errno_text();
    return false;
  }

  bool moved = false;
  if (folder.st_dev == st.st_dev) {
    // The inode itself goes back, with its owner, mode and times set while it
    // is still in the quarantine, where nobody else reaches it.
    if (!apply_metadata(src.fd, m, mode, why)) {
      fchmod(src.fd, kQuarantinedFileMode);
      return false;
    }
    moved = rename_no_replace(item.fd, kItemFile, parent.fd, base) == 0;
    if (!moved && errno != EXDEV) {
      *why = (errno == EEXIST ? std::string("something took the original path; it is not replaced")
                              : "cannot move it back: " + errno_text());
      fchmod(src.fd, kQuarantinedFileMode);
      return false;
    }
    if (!moved) fchmod(src.fd, kQuarantinedFileMode);
  }
  if (!moved) {
    Fd copy(copy_checked(src.fd, parent.fd, base, digest, why));
    if (copy.fd < 0) return false;
    struct stat made;
    if (!apply_metadata(copy.fd, m, mode, why) || fsync(copy.fd) != 0) {
      if (why->empty()) *why = "cannot sync the copy: " + errno_text();
      if (fstat(copy.fd, &made) == 0 && name_is(parent.fd, base, made))
        unlinkat(parent.fd, base.c_str(), 0);
      return false;
    }
    sync_dir(parent.fd);
    if (unlinkat(item.fd, kItemFile, 0) != 0) {
      *why = "restored, but the quarantined copy could not be removed: " + errno_text();
      return false;
    }
  }
  sync_dir(parent.fd);
  if (renameat(item.fd, kManifest, item.fd, kRestored) != 0) {
    *why = "restored, but the manifest could not be marked: " + errno_text();
    return false;
  }
  sync_dir(item.fd);
  return true;
}

// The ids of the items of the quarantine that still hold a manifest.
std::vector<std::string> all_items(int quarantine) {
  std::vector<std::string> ids;
  int listing = openat(quarantine, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
  if (!d) {
    if (listing >= 0) close(listing);
    return ids;
  }
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    struct stat st;
    if (name != "." && name != ".." &&
        fstatat(quarantine, (name + "/" + kManifest).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      ids.push_back(name);
  }
  closedir(d);
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace

Quarantine::~Quarantine() {
  if (fd_ >= 0) close(fd_);
}

bool Quarantine::open(const std::string& dir, std::string* why) {
  fd_ = open_trusted_folder(dir, true, &dir_, why);
  if (fd_ < 0) dir_.clear();
  return fd_ >= 0;
}

bool Quarantine::identity(uint64_t* dev, uint64_t* ino) const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
  *dev = st.st_dev;
  *ino = st.st_ino;
  return true;
}

bool Quarantine::move(const FileResult& f, std::string* id, std::string* why) {
  // The folder as the scan reached it; from there on, names only.
  std::string original;
  Fd parent(open_real_folder(folder_of(f.path), &original, why));
  if (parent.fd < 0) return false;
  const std::string name = base_of(f.path);
  original = (original == "/" ? "" : original) + "/" + name;
  struct stat before, opened;
  if (fstatat(parent.fd, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
    *why = errno_text();
    return false;
  }
  if (!S_ISREG(before.st_mode)) {
    *why = S_ISLNK(before.st_mode) ? "a symbolic link; the file it names is left alone"
                                   : "not a regular file";
    return false;
  }
  Fd src(openat(parent.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::string digest;
  if (src.fd < 0 || fstat(src.fd, &opened) != 0 || !copy_and_hash(src.fd, -1, &digest)) {
    *why = errno_text();
    return false;
  }
  if (!same_inode(before, opened) || opened.st_dev != f.dev || opened.st_ino != f.ino ||
      digest != f.sha256) {
    *why = "changed since it was scanned";
    return false;
  }

  // A new item, never an existing one.
  char stamp[32];
  const time_t now = time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", std::gmtime(&now));
  for (unsigned i = 0;; i++) {
    *id = std::string(stamp) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter_);
    if (mkdirat(fd_, id->c_str(), kDirMode) == 0) break;
    if (errno != EEXIST || i + 1 == kIdTries) {
      *why = "cannot make a quarantine item in " + dir_ + ": " + errno_text();
      return false;
    }
  }
  Fd item(openat(fd_, id->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (item.fd < 0) {
    *why = "cannot open the quarantine item: " + errno_text();
    unlinkat(fd_, id->c_str(), AT_REMOVEDIR);
    return false;
  }
  fchmod(item.fd, kDirMode);
  json manifest = {{"id", *id},
                   {"uid", opened.st_uid},
                   {"gid", opened.st_gid},
                   {"mode", opened.st_mode & kModeBits},
                   {"atime", times_json(opened.st_atim)},
                   {"mtime", times_json(opened.st_mtim)},
                   {"size", opened.st_size},
                   {"sha256", digest},
                   {"verdict", verdict_name(f.verdict)},
                   {"score", f.score},
                   {"quarantined", now_text()}};
  json_put_text(manifest, "path", original);
  json descriptions = json::array();
  for (const std::string& d : f.descriptions) {
    json one;
    json_put_text(one, "text", d);
    descriptions.push_back(one);
  }
  manifest["descriptions"] = descriptions;
  if (!write_manifest(item.fd, manifest, why)) {
    drop_item(fd_, *id, item.fd);
    return false;
  }

  struct stat last;
  if (fstat(src.fd, &last) != 0 || !unchanged(opened, last)) {
    *why = "changed since it was scanned";
    drop_item(fd_, *id, item.fd);
    return false;
  }
  int quarantined = src.fd;  // the descriptor of the file now in the item
  Fd copy;
  if (rename_no_replace(parent.fd, name, item.fd, kItemFile) == 0) {
    if (!name_is(item.fd, kItemFile, opened)) {
      // Another file took the name between the check and the rename: it goes
      // back, or, when the name was taken once more, stays in the item.
      *why = "changed since it was scanned";
      if (rename_no_replace(item.fd, kItemFile, parent.fd, name) == 0)
        drop_item(fd_, *id, item.fd);
      else
        *why += "; what took its place is kept in " + dir_ + "/" + *id;
      return false;
    }
  } else if (errno == EXDEV) {
    copy.reset(copy_checked(src.fd, item.fd, kItemFile, digest, why));
    if (copy.fd < 0) {
      drop_item(fd_, *id, item.fd);
      return false;
    }
    sync_dir(item.fd);
    // The original goes only once the copy is safe, and only if it is still
    // the file copied.
    struct stat still = {};
    const bool same = fstatat(parent.fd, name.c_str(), &still, AT_SYMLINK_NOFOLLOW) == 0 &&
                      unchanged(opened, still);
    if (!same || unlinkat(parent.fd, name.c_str(), 0) != 0) {
      *why = same ? "cannot unlink it: " + errno_text() : "changed since it was scanned";
      unlinkat(item.fd, kItemFile, 0);
      drop_item(fd_, *id, item.fd);
      return false;
    }
    quarantined = copy.fd;
  } else {
    *why = "cannot move it: " + errno_text();
    drop_item(fd_, *id, item.fd);
    return false;
  }
  fchmod(quarantined, kQuarantinedFileMode);
  sync_dir(item.fd);
  sync_dir(parent.fd);
  return true;
}

size_t restore_items(const std::string& dir, const std::vector<std::string>& ids,
                     bool restore_setid) {
  std::string why, abs;
  Fd quarantine(open_trusted_folder(dir, false, &abs, &why));
  if (quarantine.fd < 0) {
    std::fprintf(stderr, "qzscan: --restore: %s; nothing restored\n", escape_text(why).c_str());
    return std::max<size_t>(ids.size(), 1);
  }
  std::vector<std::string> items = ids.empty() ? all_items(quarantine.fd) : ids;
  size_t failures = 0;
  for (const std::string& id : items) {
    std::string path, note;
    why.clear();
    if (id.empty() || id.find('/') != std::string::npos || id == "." || id == "..") {
      why = "not a quarantine item id";
    } else if (restore_one(quarantine.fd, id, restore_setid, &path, &note, &why)) {
      std::printf("restored %s: %s\n", escape_text(id).c_str(), escape_text(path).c_str());
      if (!note.empty())
        std::fprintf(stderr, "qzscan: warning: %s: %s\n", escape_text(path).c_str(), note.c_str());
      continue;
    }
    failures++;
    std::fprintf(stderr, "qzscan: %s/%s: %s%s%s\n", escape_text(dir).c_str(),
                 escape_text(id).c_str(), path.empty() ? "" : escape_text(path).c_str(),
                 path.empty() ? "" : ": ", escape_text(why).c_str());
  }
  std::fflush(stdout);
  return failures;
}
