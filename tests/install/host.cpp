// A tiny host built against an installed tree: it loads the installed
// default rules, scans one shell and one clean text, and checks the verdicts.
#include <qzengine/qzwrapper.h>

#include <cstdio>
#include <cstring>

namespace {
class Handler : public threat::threat_handler {
 public:
  int on_threat(threat::threat_info*, int) override { return ++calls; }
  int calls = 0;
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || !qz_engine_wrapper_init(argv[1])) {
    std::fprintf(stderr, "host: cannot load rules\n");
    return 1;
  }
  threat::threat_info info{};
  Handler h;
  char shell[] = "<?php system($_GET['c']);";
  char clean[] = "<?php echo strtoupper('hello');";
  int bad = qz_engine_wrapper_scan_buff(shell, std::strlen(shell), &info, &h);
  int good = qz_engine_wrapper_scan_buff(clean, std::strlen(clean), &info, &h);
  qz_engine_wrapper_uninit();
  if (bad != 1 || good != 0 || h.calls != 1) {
    std::fprintf(stderr, "host: wrong verdicts %d %d %d\n", bad, good, h.calls);
    return 1;
  }
  std::puts("host: ok");
  return 0;
}
