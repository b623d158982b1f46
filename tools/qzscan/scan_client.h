#ifndef QZSCAN_SCAN_CLIENT_H
#define QZSCAN_SCAN_CLIENT_H

// qzscan --daemon-socket: the files of a run scanned by a running daemon
// (see scan_daemon.h) instead of local workers. Each file the client can
// open goes as its descriptor (SCANFD), so that the daemon needs no access
// to it; a file the client may not open goes as its absolute path (SCAN),
// for a daemon with more rights. The daemon's rules and scan limits apply.

#include "scan_worker.h"

#include <functional>
#include <string>
#include <vector>

class DaemonClient {
 public:
  DaemonClient() = default;
  DaemonClient(const DaemonClient&) = delete;
  DaemonClient& operator=(const DaemonClient&) = delete;
  ~DaemonClient();

  // Connects to the daemon's socket and asks for the rule file it uses.
  // False, with *why set, when the daemon cannot be reached or answers
  // otherwise than a daemon does.
  bool connect(const std::string& socket_path, RuleFileInfo* rules, std::string* why);

  // Scans every file of `files` that is neither skipped nor in error
  // through the daemon, as scan_in_workers does locally: results are filled
  // in and on_done is called for each file in order. A file whose request
  // or reply was lost with the connection is in error. Follows symbolic
  // links as opt says.
  WorkerRun scan(std::vector<FileResult>& files, const WorkerOptions& opt,
                 const std::function<void(size_t)>& on_done);

 private:
  // The next reply line, without its newline; false when the connection
  // ended or no reply came in time (*why says which).
  bool read_reply(std::string* line, std::string* why);
  bool send_text(const std::string& text);

  int fd_ = -1;
  std::string in_;  // bytes received after the last reply taken
};

#endif
