// Moving threats into the quarantine and back.

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
#include <fstream>

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
// Tries at a free item id before giving up: each try adds to a counter, so
// only a crowd of items made in the same second by the same process id
// exhausts them.
const unsigned kIdTries = 1000;
// Spaces per level of the manifest's JSON.
const int kManifestIndent = 2;

std::string errno_text() { return std::strerror(errno); }

// An open descriptor, closed when it goes.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

std::string folder_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The path made absolute through its folder, keeping its last name as it
// is (that may be a link, which is not resolved).
bool absolute_path(const std::string& path, std::string* abs) {
  char* folder = realpath(folder_of(path).c_str(), nullptr);
  if (!folder) return false;
  std::string f = folder;
  std::free(folder);
  *abs = (f == "/" ? "" : f) + "/" + base_of(path);
  return true;
}

// Syncs a folder, so that a rename or a new name in it survives a crash.
void sync_dir(const std::string& dir) {
  Fd d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

// Renames without ever replacing what is at `to`; where the file system
// cannot promise that, a hard link and an unlink do the same.
int rename_no_replace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (link(from.c_str(), to.c_str()) != 0) return -1;
  return unlink(from.c_str());
}

// Copies the open file `src` to the new file `to` (never over an existing
// one), syncs it and checks its digest. False, with *why set, when any step
// fails; the partial copy is then removed.
bool copy_checked(int src, const std::string& to, const std::string& sha256, std::string* why) {
  Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kManifestMode));
  if (out.fd < 0) {
    *why = "cannot create " + to + ": " + errno_text();
    return false;
  }
  std::string copied, check;
  bool ok = copy_and_hash(src, out.fd, &copied) && fsync(out.fd) == 0;
  if (!ok) *why = "cannot copy: " + errno_text();
  Fd back(open(to.c_str(), O_RDONLY | O_CLOEXEC));
  if (ok && (back.fd < 0 || !copy_and_hash(back.fd, -1, &check))) {
    *why = "cannot read the copy back: " + errno_text();
    ok = false;
  }
  if (ok && (copied != sha256 || check != sha256)) {
    *why = "the copy does not have the file's digest";
    ok = false;
  }
  if (!ok) unlink(to.c_str());
  return ok;
}

json times_json(const struct timespec& t) { return {{"sec", t.tv_sec}, {"nsec", t.tv_nsec}}; }

struct timespec json_times(const json& j) {
  struct timespec t = {};
  t.tv_sec = j.value("sec", static_cast<time_t>(0));
  t.tv_nsec = j.value("nsec", 0L);
  return t;
}

std::string now_text() {
  char when[32];
  const time_t now = time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return when;
}

bool write_manifest(const std::string& path, const json& manifest, std::string* why) {
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kManifestMode));
  const std::string text =
      manifest.dump(kManifestIndent, ' ', false, json::error_handler_t::replace) + "\n";
  if (fd.fd < 0 || !write_all(fd.fd, text.data(), text.size()) || fsync(fd.fd) != 0) {
    *why = "cannot write the manifest: " + errno_text();
    return false;
  }
  return true;
}

// Removes an item this run made and that holds no file of the user's.
void drop_item(const std::string& item) {
  unlink((item + "/" + kManifest).c_str());
  rmdir(item.c_str());
}

// ---- restore ----

std::vector<std::string> all_items(const std::string& dir, std::string* why) {
  std::vector<std::string> ids;
  DIR* d = opendir(dir.c_str());
  if (!d) {
    *why = dir + ": " + errno_text();
    return ids;
  }
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    struct stat st;
    if (name != "." && name != ".." && stat((dir + "/" + name + "/" + kManifest).c_str(), &st) == 0)
      ids.push_back(name);
  }
  closedir(d);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Sets what the manifest says of the restored file; false, with *why set,
// on the first failure.
bool apply_metadata(const std::string& path, const json& m, std::string* why) {
  // Owner first: changing it clears the set-id bits that chmod then sets.
  if (lchown(path.c_str(), m.value("uid", static_cast<uid_t>(-1)),
             m.value("gid", static_cast<gid_t>(-1))) != 0) {
    *why = "restored, but its owner could not be set: " + errno_text();
    return false;
  }
  if (chmod(path.c_str(), m.value("mode", 0600u) & kModeBits) != 0) {
    *why = "restored, but its mode could not be set: " + errno_text();
    return false;
  }
  struct timespec times[2] = {json_times(m.value("atime", json::object())),
                              json_times(m.value("mtime", json::object()))};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    *why = "restored, but its times could not be set: " + errno_text();
    return false;
  }
  return true;
}

// Restores one item; false, with *why set, when it was not restored whole.
bool restore_one(const std::string& item, std::string* path, std::string* why) {
  std::ifstream in(item + "/" + kManifest, std::ios::binary);
  if (!in) {
    struct stat st;
    *why = stat((item + "/" + kRestored).c_str(), &st) == 0 ? "already restored"
                                                            : "no manifest: " + errno_text();
    return false;
  }
  const json m = json::parse(in, nullptr, false);
  if (m.is_discarded() || !m.is_object() || json_text(m, "path").empty()) {
    *why = "the manifest cannot be read";
    return false;
  }
  *path = json_text(m, "path");
  const std::string file = item + "/" + kItemFile;
  struct stat st;
  if (lstat(path->c_str(), &st) == 0) {
    *why = "something is at the original path; it is not replaced";
    return false;
  }
  Fd src(open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  std::string digest;
  if (src.fd < 0 || !copy_and_hash(src.fd, -1, &digest)) {
    *why = "cannot read the quarantined file: " + errno_text();
    return false;
  }
  if (digest != m.value("sha256", "")) {
    *why = "the quarantined file no longer has the digest of its manifest";
    return false;
  }
  if (rename_no_replace(file, *path) != 0) {
    if (errno != EXDEV) {
      *why = "cannot move it back: " + errno_text();
      return false;
    }
    if (!copy_checked(src.fd, *path, digest, why)) return false;
    sync_dir(folder_of(*path));
    unlink(file.c_str());
  }
  sync_dir(folder_of(*path));
  const bool whole = apply_metadata(*path, m, why);
  if (rename((item + "/" + kManifest).c_str(), (item + "/" + kRestored).c_str()) != 0 && whole) {
    *why = "restored, but the manifest could not be marked: " + errno_text();
    return false;
  }
  return whole;
}

}  // namespace

bool Quarantine::open(const std::string& dir, std::string* why) {
  if (mkdir(dir.c_str(), kDirMode) != 0 && errno != EEXIST) {
    *why = dir + ": " + errno_text();
    return false;
  }
  char* abs = realpath(dir.c_str(), nullptr);
  struct stat st;
  if (!abs || stat(abs, &st) != 0 || !S_ISDIR(st.st_mode)) {
    *why = dir + ": " + (abs ? "not a directory" : errno_text());
    std::free(abs);
    return false;
  }
  dir_ = abs;
  std::free(abs);
  if (access(dir_.c_str(), W_OK | X_OK) != 0) {
    *why = dir + ": " + errno_text();
    dir_.clear();
    return false;
  }
  return true;
}

bool Quarantine::move(const FileResult& f, std::string* id, std::string* why) {
  std::string original;
  if (!absolute_path(f.path, &original)) {
    *why = errno_text();
    return false;
  }
  struct stat before, opened;
  if (lstat(original.c_str(), &before) != 0) {
    *why = errno_text();
    return false;
  }
  if (!S_ISREG(before.st_mode)) {
    *why = S_ISLNK(before.st_mode) ? "a symbolic link; the file it names is left alone"
                                   : "not a regular file";
    return false;
  }
  Fd src(::open(original.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::string digest;
  if (src.fd < 0 || fstat(src.fd, &opened) != 0 || !copy_and_hash(src.fd, -1, &digest)) {
    *why = errno_text();
    return false;
  }
  if (!same_inode(before, opened) || digest != f.sha256) {
    *why = "changed since it was scanned";
    return false;
  }

  // A new item, never an existing one.
  char stamp[32];
  const time_t now = time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", std::gmtime(&now));
  std::string item;
  for (unsigned i = 0; i < kIdTries; i++) {
    *id = std::string(stamp) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter_);
    item = dir_ + "/" + *id;
    if (mkdir(item.c_str(), kDirMode) == 0) break;
    if (errno != EEXIST || i + 1 == kIdTries) {
      *why = "cannot make a quarantine item in " + dir_ + ": " + errno_text();
      return false;
    }
  }
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
  if (!write_manifest(item + "/" + kManifest, manifest, why)) {
    drop_item(item);
    return false;
  }

  const std::string target = item + "/" + kItemFile;
  struct stat last;
  if (fstat(src.fd, &last) != 0 || !unchanged(opened, last)) {
    *why = "changed since it was scanned";
    drop_item(item);
    return false;
  }
  if (rename_no_replace(original, target) == 0) {
    struct stat moved;
    if (lstat(target.c_str(), &moved) != 0 || !same_inode(moved, opened)) {
      // Another file took the path between the check and the rename: it goes back.
      if (rename_no_replace(target, original) == 0) drop_item(item);
      *why = "changed since it was scanned";
      return false;
    }
  } else if (errno == EXDEV) {
    if (!copy_checked(src.fd, target, digest, why)) {
      drop_item(item);
      return false;
    }
    sync_dir(item);
    // The original goes only once the copy is safe, and only if it is still
    // the file copied.
    struct stat still = {};
    const bool same = lstat(original.c_str(), &still) == 0 && unchanged(opened, still);
    if (!same || unlink(original.c_str()) != 0) {
      *why = same ? "cannot unlink it: " + errno_text() : "changed since it was scanned";
      unlink(target.c_str());
      drop_item(item);
      return false;
    }
  } else {
    *why = "cannot move it: " + errno_text();
    drop_item(item);
    return false;
  }
  chmod(target.c_str(), kQuarantinedFileMode);
  sync_dir(item);
  sync_dir(folder_of(original));
  return true;
}

size_t restore_items(const std::string& dir, const std::vector<std::string>& ids) {
  std::string why;
  std::vector<std::string> items = ids;
  if (items.empty()) {
    items = all_items(dir, &why);
    if (!why.empty()) {
      std::fprintf(stderr, "qzscan: %s\n", escape_text(why).c_str());
      return 1;
    }
  }
  size_t failures = 0;
  for (const std::string& id : items) {
    std::string path;
    why.clear();
    if (id.empty() || id.find('/') != std::string::npos || id == "." || id == "..") {
      why = "not a quarantine item id";
    } else if (restore_one(dir + "/" + id, &path, &why)) {
      std::printf("restored %s: %s\n", escape_text(id).c_str(), escape_text(path).c_str());
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
