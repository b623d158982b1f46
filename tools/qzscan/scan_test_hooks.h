#ifndef QZSCAN_SCAN_TEST_HOOKS_H
#define QZSCAN_SCAN_TEST_HOOKS_H

// Hooks through which the end-to-end tests steer a run. They act only in
// qzscan-testhooks, the binary the test build makes from the same sources
// with QZSCAN_TEST_HOOKS defined; it is never installed. In qzscan they are
// empty and read nothing from the environment, so that whoever controls the
// environment of a root scan cannot crash, stall or mislead it through them.
//
// In qzscan-testhooks, for a file whose path contains TEXT:
//   QZSCAN_TEST_CRASH_ON=TEXT  the worker dies of SIGSEGV before opening it;
//   QZSCAN_TEST_HANG_ON=TEXT   the worker never opens it (only a kill ends it);
//   QZSCAN_TEST_HOLD_ON=TEXT   the worker writes the event "hold PATH" and
//                              waits for one byte (or the end) on the
//                              descriptor QZSCAN_TEST_RELEASE_FD before going
//                              on; without that descriptor it goes on at once.
// For every file, when QZSCAN_TEST_EVENT_FD names a descriptor (inherited
// from the test), the worker writes the event "open PATH" just before it opens
// the file, after any hold, and "done PATH" once it has sent the file's result
// to the parent (not after an out-of-memory result: that worker just exits).
// An event is one line, "WORD PATH\n", with the path as the parent sent it, in
// a single write: lines of a few workers on one pipe do not mix while they fit
// in PIPE_BUF bytes. A failed write is ignored.
//   QZSCAN_TEST_ENGINE_VERSION=TEXT  the verdict cache takes TEXT for the
//                              engine's version, standing in for an upgrade.
//   QZSCAN_TEST_MAX_WATCHES=N  the watch mode's inotify backend fails to add
//                              more than N directory watches, as the kernel
//                              does at fs.inotify.max_user_watches;
//   QZSCAN_TEST_WATCH_QUEUE=N  the watch mode keeps at most N files pending,
//                              so that a test reaches its full queue.

#include <string>

// In a worker, before it opens the file at path (the crash, hang and hold
// hooks, then the "open" event).
void test_hooks(const std::string& path);

// In a worker, after it has sent the result for the file at path.
void test_hook_result_sent(const std::string& path);

// The engine version the verdict cache is to be keyed by instead of the real
// one, or null. The text belongs to the environment.
const char* test_engine_version();

// The limits QZSCAN_TEST_MAX_WATCHES and QZSCAN_TEST_WATCH_QUEUE set, or -1
// when unset or not a number.
long test_max_watches();
long test_watch_queue();

#endif  // QZSCAN_SCAN_TEST_HOOKS_H
