#ifndef QZSCAN_SCAN_ALLOW_H
#define QZSCAN_SCAN_ALLOW_H

// What is known of files before any scan: the digests of files an operator
// trusts (--allowlist, written by --make-allowlist), the findings of an
// earlier report (--baseline), and the parent's own hashing of the selected
// files that both, and the verdict cache, look up by.

#include "scan_report.h"
#include "scan_types.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// SHA-256 digests as lowercase hexadecimal.
using DigestSet = std::unordered_set<std::string>;

// Reads an allowlist: one digest per line (64 hex digits, either case),
// optionally followed by white space and a path, which is only a note for
// readers (so `sha256sum` output serves); blank lines and lines starting with
// "#" are skipped. False, with *why set to "FILE:LINE: what was expected"
// (or "FILE: reason" when it cannot be read), on the first bad line.
bool load_allowlist(const std::string& path, DigestSet* digests, std::string* why);

// The findings (threats and suspicious files) of a JSON report written by
// qzscan, as (path, sha256) pairs with the exact path bytes.
using FindingSet = std::set<std::pair<std::string, std::string>>;

// Reads the findings of an earlier JSON report. False, with *why set, when
// the file cannot be read or is not a qzscan JSON report.
bool load_baseline(const std::string& path, FindingSet* findings, std::string* why);

// How the parent opens a file to hash it: as a worker would.
struct DigestOptions {
  unsigned threads = 1;
  bool follow_symlinks = false;
  const std::set<std::string>* named_paths = nullptr;  // opened through a final link
  uint64_t max_filesize = 0;
  bool skip_large = false;  // a file over max_filesize is not hashed
  // A file that cannot be hashed gets `error` set; otherwise it is left for
  // a worker, which reports what it finds.
  bool record_errors = false;
  // Called now and then from the calling thread with the number of files
  // looked at so far, for a progress line; may be empty.
  std::function<void(size_t done)> on_progress;
};

// Hashes what is left to read of `from` (SHA-256, lowercase hex) and, when
// `copy_to` is not negative, writes the same bytes there. False, with errno
// set, on a read or write error.
bool sha256_stream(int from, int copy_to, std::string* hex);

// Sets the sha256 of every file of `files` that is not settled, reading
// files in opt.threads threads. A file that is not a regular file, is over
// the size limit under skip_large or cannot be read keeps an empty digest.
void hash_files(std::vector<FileResult>& files, const DigestOptions& opt);

// Writes an allowlist of the hashed files: a comment line naming `title`,
// then "DIGEST  PATH" per file (the path escaped as text output escapes it,
// so that it stays on its line). Files in error or skipped are left out.
void write_allowlist(ReportOutput& out, const std::vector<FileResult>& files,
                     const std::string& title);

#endif
