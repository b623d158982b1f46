#ifndef QZSCAN_SCAN_FILES_H
#define QZSCAN_SCAN_FILES_H

// File selection: walks the given paths and decides which files to scan.

#include "scan_types.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Default size limit in MiB: larger files are rarely hand-written scripts and
// would hold a worker for long, so only their start and end are scanned.
constexpr unsigned kDefaultMaxFilesizeMiB = 16;
// The size limit that --max-filesize 0 asks for: no file is over it.
constexpr uint64_t kNoSizeLimit = UINT64_MAX;

// Reasons given for a file that is skipped or cannot be scanned, wherever
// that is found out.
extern const char* const kLargerThanLimit;
extern const char* const kNotRegularFile;

struct SelectOptions {
  std::vector<std::string> extensions;  // lower case, without the dot
  bool all_files = false;
  std::vector<std::string> excludes;  // globs, matched against the path and the base name
  uint64_t max_filesize = uint64_t{kDefaultMaxFilesizeMiB} << 20;
  bool skip_large = false;  // a file over max_filesize is listed as skipped
  bool follow_symlinks = false;
  // Files modified before this time are passed over, walked or named; 0: none.
  time_t newer_than = 0;
  // Directories on another file system than the PATH they were reached from
  // are passed over.
  bool one_file_system = false;
  // Directories (device, inode) never walked: the quarantine.
  std::set<std::pair<uint64_t, uint64_t>> pass_over_dirs;
  // Called after each directory read, with the directories read and files
  // listed so far, for a progress line; may be empty.
  std::function<void(uint64_t dirs, uint64_t files)> on_walk;
};

// The extensions scanned by default.
std::vector<std::string> default_extensions();

// Walks every path (file or directory, recursively, sorted by name) and
// returns the files in a stable order. With skip_large, a file larger than
// max_filesize is listed with `skipped` set; an unreadable file or directory, a missing path,
// a symbolic-link loop and a path named here that is not a regular file
// (a device, a FIFO) are listed with `error` set; such files met inside a
// directory are passed over, as are files older than newer_than and, with
// one_file_system, directories on another device than their PATH. With links followed, each
// directory is walked and each file listed once, at the first path that reaches it. Nothing is
// fatal.
std::vector<FileResult> select_files(const std::vector<std::string>& paths,
                                     const SelectOptions& opt);

// Lists `path` as a walk lists an entry it meets inside a directory: an
// excluded path, a file without a scanned extension, a link (unless links
// are followed) and what is neither a regular file nor a directory are
// passed over, and a directory is walked. A path that no longer exists
// gives nothing, as it would have been met by no walk.
std::vector<FileResult> select_found(const std::string& path, const SelectOptions& opt);

// Whether the path or its last name matches one of the --exclude globs.
bool path_excluded(const std::string& path, const SelectOptions& opt);

// Parses "16M", "512k", "1G" or a plain byte count; false when malformed.
bool parse_size(const std::string& text, uint64_t* out);

#endif
