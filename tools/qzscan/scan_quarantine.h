#ifndef QZSCAN_SCAN_QUARANTINE_H
#define QZSCAN_SCAN_QUARANTINE_H

// Quarantine (--quarantine DIR) and restore (--restore DIR [ID...]).
// Each file found to be a threat is moved into an item of its own,
// DIR/ID/, holding the file (as `file`, with no permission bits, so that
// nothing serves or runs it) and `manifest.json`: the original absolute
// path, owner, group, mode, access and modification times, size, SHA-256
// and the verdict. Nothing is ever deleted or overwritten: a move or a
// restore that cannot complete leaves the file where it was. A restored
// item keeps its manifest, renamed `restored.json`.
//
// qzscan runs as root over trees that other users own and may change while
// it works, so nothing here acts on a path after checking it:
// - DIR is trusted only when qzscan made it, or when it and every folder
//   above it belong to root or to the user running qzscan and no one else
//   can write to them (a sticky folder such as /tmp may stand above it);
//   anything else is refused before any file is touched.
// - Every step goes through directory descriptors with O_NOFOLLOW: a file
//   is moved by its name in its parent's descriptor, and only when that name
//   is the inode the worker hashed; a restore walks to the original folder
//   one component at a time, refusing a symbolic link anywhere, creates
//   nothing over an existing name, and sets owner, mode and times on its own
//   descriptor, never on a path.

#include "scan_types.h"

#include <string>
#include <vector>

// Where threats go. Only the parent process uses it, one file at a time.
class Quarantine {
 public:
  Quarantine() = default;
  Quarantine(const Quarantine&) = delete;
  Quarantine& operator=(const Quarantine&) = delete;
  ~Quarantine();

  // Makes DIR (mode 0700, owned by the running user) when missing and holds
  // a descriptor of it. False, with *why set, when DIR or a folder above it
  // fails the trust check, or DIR cannot be made or opened.
  bool open(const std::string& dir, std::string* why);
  bool active() const { return fd_ >= 0; }
  // The folder as an absolute path, for messages and reports.
  const std::string& dir() const { return dir_; }
  // The folder's device and inode, so that the walk can pass it over.
  bool identity(uint64_t* dev, uint64_t* ino) const;

  // Moves the threat's file into a new item, checking first that it is
  // still the file scanned: a regular file (not a link), the inode f.dev and
  // f.ino, with the SHA-256 f.sha256. A rename moves it on the same file
  // system; across file systems it is copied, synced and checked against
  // the digest before the original is unlinked. True with *id set when
  // moved; false with *why set when not, and the file is then where it was.
  bool move(const FileResult& f, std::string* id, std::string* why);

 private:
  std::string dir_;       // absolute
  int fd_ = -1;           // the folder, held for the run
  unsigned counter_ = 0;  // items made by this run, for unique ids
};

// Puts the items named by `ids` (every item not yet restored when empty)
// of the quarantine folder `dir` back at their original paths with their
// owner, group, mode and times; set-user-id and set-group-id bits only when
// `restore_setid`. A folder that fails the trust check is refused whole. An
// item whose path exists again, whose path passes through a symbolic link,
// whose manifest is malformed, or whose file no longer has the digest of its
// manifest, is not restored and stays as it is. Writes one line per item
// restored to standard output and one per failure to standard error;
// returns the number of failures.
size_t restore_items(const std::string& dir, const std::vector<std::string>& ids,
                     bool restore_setid);

#endif
