// File selection for qzscan: recursion, extensions, excludes, size limit and
// symbolic links, with every problem recorded on the file instead of ending
// the run.

#include "scan_files.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

const char* const kLargerThanLimit = "larger than the size limit";
const char* const kNotRegularFile = "not a regular file";

std::vector<std::string> default_extensions() {
  return {"php", "php3", "php4", "php5", "php7", "php8", "phtml", "pht", "phps", "inc"};
}

bool parse_size(const std::string& text, uint64_t* out) {
  if (text.empty()) return false;
  size_t i = 0;
  uint64_t v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    uint64_t d = static_cast<uint64_t>(text[i] - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
    i++;
  }
  if (i == 0) return false;
  unsigned shift = 0;
  if (i < text.size()) {
    switch (text[i] | 0x20) {
      case 'k': shift = 10; break;
      case 'm': shift = 20; break;
      case 'g': shift = 30; break;
      default: return false;
    }
    i++;
    if (i < text.size() && (text[i] | 0x20) == 'b') i++;
  }
  if (i != text.size()) return false;
  if (shift && v > (UINT64_MAX >> shift)) return false;
  *out = v << shift;
  return true;
}

bool path_excluded(const std::string& path, const SelectOptions& opt) {
  std::string base = path.substr(path.find_last_of('/') + 1);
  for (const std::string& g : opt.excludes)
    if (fnmatch(g.c_str(), path.c_str(), 0) == 0 || fnmatch(g.c_str(), base.c_str(), 0) == 0)
      return true;
  return false;
}

namespace {

// Names a file or directory whatever path reaches it.
using FileId = std::pair<dev_t, ino_t>;

struct Walker {
  const SelectOptions& opt;
  std::vector<FileResult> out;
  std::set<FileId> active_dirs;  // directories on the current path
  // With links followed: every directory and file met so far, so that each
  // is walked or listed once, at the first path that reaches it.
  std::set<FileId> met;
  dev_t root_dev = 0;  // the device of the PATH being walked
  uint64_t dirs_read = 0;

  // False when links are followed and the file or directory was met before.
  bool first_meeting(const struct stat& st) {
    return !opt.follow_symlinks || met.insert({st.st_dev, st.st_ino}).second;
  }

  bool excluded(const std::string& path) const { return path_excluded(path, opt); }

  bool wanted_extension(const std::string& path) const {
    if (opt.all_files) return true;
    std::string base = path.substr(path.find_last_of('/') + 1);
    size_t dot = base.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = base.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(opt.extensions.begin(), opt.extensions.end(), ext) != opt.extensions.end();
  }

  void add_error(const std::string& path, const std::string& why) {
    FileResult r;
    r.path = path;
    r.error = why;
    out.push_back(std::move(r));
  }

  // explicit: named on the command line, so its extension is not checked.
  void visit(const std::string& path, bool explicit_arg) {
    if (!explicit_arg && excluded(path)) return;
    struct stat lst;
    if (lstat(path.c_str(), &lst) != 0) {
      add_error(path, std::strerror(errno));
      return;
    }
    struct stat st = lst;
    if (S_ISLNK(lst.st_mode)) {
      if (!opt.follow_symlinks && !explicit_arg) return;
      if (stat(path.c_str(), &st) != 0) {
        add_error(path, std::string("broken symbolic link: ") + std::strerror(errno));
        return;
      }
    }
    if (S_ISDIR(st.st_mode)) {
      visit_dir(path, st);
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      if (explicit_arg) add_error(path, kNotRegularFile);
      return;
    }
    if (!explicit_arg && !wanted_extension(path)) return;
    if (opt.newer_than && st.st_mtime < opt.newer_than) return;
    if (!first_meeting(st)) return;
    FileResult r;
    r.path = path;
    r.size = static_cast<uint64_t>(st.st_size);
    if (opt.skip_large && r.size > opt.max_filesize)
      r.skipped = kLargerThanLimit;
    else if (access(path.c_str(), R_OK) != 0)
      r.error = std::strerror(errno);
    out.push_back(std::move(r));
  }

  void visit_dir(const std::string& path, const struct stat& st) {
    if (opt.one_file_system && st.st_dev != root_dev) return;
    if (opt.pass_over_dirs.count({st.st_dev, st.st_ino})) return;
    FileId key{st.st_dev, st.st_ino};
    if (active_dirs.count(key)) {
      add_error(path, "symbolic link loop");
      return;
    }
    if (!first_meeting(st)) return;
    DIR* d = opendir(path.c_str());
    if (!d) {
      add_error(path, std::strerror(errno));
      return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      names.push_back(e->d_name);
    }
    closedir(d);
    if (opt.on_walk) opt.on_walk(++dirs_read, out.size());
    std::sort(names.begin(), names.end());
    active_dirs.insert(key);
    std::string prefix = path.back() == '/' ? path : path + "/";
    for (const std::string& n : names) visit(prefix + n, false);
    active_dirs.erase(key);
  }
};

}  // namespace

std::vector<FileResult> select_files(const std::vector<std::string>& paths,
                                     const SelectOptions& opt) {
  Walker w{opt, {}, {}, {}, 0, 0};
  for (const std::string& p : paths) {
    struct stat st;
    if (opt.one_file_system) w.root_dev = stat(p.c_str(), &st) == 0 ? st.st_dev : 0;
    w.visit(p, true);
  }
  return std::move(w.out);
}

std::vector<FileResult> select_found(const std::string& path, const SelectOptions& opt) {
  Walker w{opt, {}, {}, {}, 0, 0};
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return {};
  w.root_dev = st.st_dev;
  w.visit(path, false);
  return std::move(w.out);
}
