// The test hooks of qzscan-testhooks (see scan_test_hooks.h). Built without
// QZSCAN_TEST_HOOKS, as in qzscan, this file holds only empty functions.

#include "scan_test_hooks.h"

#ifdef QZSCAN_TEST_HOOKS

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Whether the variable is set to a non-empty text that the path contains.
bool hook_on(const char* name, const std::string& path) {
  const char* text = std::getenv(name);
  return text && *text && path.find(text) != std::string::npos;
}

// The non-negative number a variable holds (a descriptor or a limit), or -1
// when it holds none.
int hook_fd(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return -1;
  char* end = nullptr;
  errno = 0;
  long fd = std::strtol(text, &end, 10);
  return errno || *end || fd < 0 || fd > INT_MAX ? -1 : static_cast<int>(fd);
}

void event(const char* word, const std::string& path) {
  const int fd = hook_fd("QZSCAN_TEST_EVENT_FD");
  if (fd < 0) return;
  const std::string line = std::string(word) + " " + path + "\n";
  while (write(fd, line.data(), line.size()) < 0 && errno == EINTR) {
  }
}

// Blocks until the test writes a byte to the release descriptor or closes
// it; at once when there is none.
void wait_for_release() {
  const int fd = hook_fd("QZSCAN_TEST_RELEASE_FD");
  char byte;
  while (fd >= 0 && read(fd, &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace

void test_hooks(const std::string& path) {
  if (hook_on("QZSCAN_TEST_CRASH_ON", path)) raise(SIGSEGV);
  if (hook_on("QZSCAN_TEST_HANG_ON", path))
    for (;;) pause();
  if (hook_on("QZSCAN_TEST_HOLD_ON", path)) {
    event("hold", path);
    wait_for_release();
  }
  event("open", path);
}

void test_hook_result_sent(const std::string& path) { event("done", path); }

const char* test_engine_version() { return std::getenv("QZSCAN_TEST_ENGINE_VERSION"); }

long test_max_watches() { return hook_fd("QZSCAN_TEST_MAX_WATCHES"); }

long test_watch_queue() { return hook_fd("QZSCAN_TEST_WATCH_QUEUE"); }

#else

void test_hooks(const std::string&) {}

void test_hook_result_sent(const std::string&) {}

const char* test_engine_version() { return nullptr; }

long test_max_watches() { return -1; }

long test_watch_queue() { return -1; }

#endif
