// A minimal host: starts the engine, scans each file named on the command
// line and prints every call the engine reports, one line each:
//   path:line: name(arg, arg, ...)
// It is the smallest example of driving the engine through its callbacks.

#include <qzengine/qzengine.h>

#include <cstdio>
#include <string>

static const char* current_path = "";
static unsigned long reported = 0;

static unsigned char print_call(unsigned long line, unsigned long, char* name, unsigned long,
                                _fcall_argument* args, unsigned long n) {
  std::string text;
  for (unsigned long i = 0; i < n; i++) {
    if (i) text += ", ";
    std::string a = args[i].value ? args[i].value : "";
    if (a.size() > 60) a = a.substr(0, 57) + "...";
    text += a;
  }
  std::printf("%s:%lu: %s(%s)\n", current_path, line, name ? name : "", text.c_str());
  reported++;
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qzsmoke FILE...\n");
    return 2;
  }
  qz_engine_startup();
  qz_engine_set_options(QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE);
  qz_engine_set_fcall_filter(print_call);
  for (int i = 1; i < argc; i++) {
    current_path = argv[i];
    qz_engine_scan_file(argv[i]);
  }
  qz_engine_shutdown();
  std::printf("%lu calls reported in %d files\n", reported, argc - 1);
  return 0;
}
