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

#include "scan_types.h"

#include <string>
#include <vector>

// Where threats go. Only the parent process uses it, one file at a time.
class Quarantine {
 public:
  // Makes DIR (mode 0700) when missing. False, with *why set, when it is
  // not a directory that can be written.
  bool open(const std::string& dir, std::string* why);
  bool active() const { return !dir_.empty(); }
  const std::string& dir() const { return dir_; }

  // Moves the threat's file into a new item, checking first that it is
  // still the file scanned: a regular file (not a link) whose SHA-256 is
  // f.sha256. A rename moves it on the same file system; across file
  // systems it is copied, synced and checked against the digest before the
  // original is unlinked. True with *id set when moved; false with *why set
  // when not, and the file is then where it was.
  bool move(const FileResult& f, std::string* id, std::string* why);

 private:
  std::string dir_;       // absolute
  unsigned counter_ = 0;  // items made by this run, for unique ids
};

// Puts the items named by `ids` (every item not yet restored when empty)
// back at their original paths with their owner, group, mode and times.
// An item whose path exists again, or whose file no longer has the digest
// of its manifest, is not restored. Writes one line per item restored to
// standard output and one per failure to standard error; returns the
// number of failures.
size_t restore_items(const std::string& dir, const std::vector<std::string>& ids);

#endif
