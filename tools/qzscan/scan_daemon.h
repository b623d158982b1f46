#ifndef QZSCAN_SCAN_DAEMON_H
#define QZSCAN_SCAN_DAEMON_H

// qzscan --daemon: the rules loaded once, a pool of persistent workers, and
// a Unix socket that answers one request per line with one JSON line:
//
//   SCAN PATH      scans the file at the absolute PATH, opened by a worker
//                  with the daemon's rights
//   SCANFD [NAME]  scans the descriptor passed with the line (SCM_RIGHTS),
//                  so that a caller can have a file scanned that the daemon
//                  may not open; NAME, if given, is the path in the reply
//   PING           {"pong":true}
//   VERSION        the versions, and the rule file in use
//   RELOAD         re-reads and checks the rule file; a file that fails the
//                  check leaves the rules in use as they were, and says so
//
// A scan's reply is the file's object of the JSON report ("path", "size",
// "status", then the outcome, the reason or the error). A request that
// cannot be answered so gets {"error": "..."}. A client may send requests
// ahead of the replies (at most kMaxInFlight are taken at a time); the
// replies keep the order of the requests.

#include "scan_worker.h"

#include <string>

// Where the socket is made when --socket is not given.
constexpr const char* kDefaultSocketPath = "/run/qzengine/qzscand.sock";
// The socket's mode when --socket-mode is not given: the owner and the group.
constexpr const char* kDefaultSocketMode = "0660";

struct DaemonOptions {
  WorkerOptions workers;      // the pool's settings; rules_path is the rule file
  bool strict_rules = false;  // a rule file with a dropped line fails RELOAD
  std::string socket_path = kDefaultSocketPath;
  std::string socket_mode = kDefaultSocketMode;  // octal
  std::string socket_group;                      // group that owns the socket, or empty
  std::string user;                              // user to run as after binding, or empty
  std::string version;                           // qzscan's version, for VERSION
};

// Serves until SIGTERM or SIGINT (SIGHUP reloads the rules as RELOAD does),
// then stops the workers and removes the socket it made (not one it was
// handed by the service manager through LISTEN_FDS). Returns the exit status:
// 0 after a clean stop, 2, after saying why on standard error, when the
// socket, the user, the rules or the workers cannot be set up.
int run_daemon(const DaemonOptions& opt);

#endif
