// A minimal host: starts the engine, scans each file named on the command
// line and prints every call the engine reports, one line each:
//   path:line: name(arg, arg, ...)
// It is the smallest example of driving the engine through its callbacks.
//
// By default it sets the extended tags and full decoding only, and shortens
// each argument to 60 characters. --extensions sets every option flag qzscan
// sets. --full-args prints the name and each argument whole, with backslash,
// control characters, commas and bytes of 0x7F and above written as \\, \n,
// \r, \t and \xHH, so that one call is always one line, the arguments split
// at ", ", and a marker deep inside a long text stays visible to a script
// that reads the output.

#include <qzengine/qzengine.h>

#include <cstdio>
#include <cstring>
#include <string>

static const char* current_path = "";
static unsigned long reported = 0;
// Set by --full-args for the whole run.
static bool full_args = false;

static void append_escaped(std::string& out, const char* text) {
  static const char hex[] = "0123456789abcdef";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    unsigned char c = *p;
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F || c == ',') {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}

static unsigned char print_call(unsigned long line, unsigned long, char* name, unsigned long,
                                _fcall_argument* args, unsigned long n) {
  std::string text;
  for (unsigned long i = 0; i < n; i++) {
    if (i) text += ", ";
    const char* value = args[i].value ? args[i].value : "";
    if (full_args) {
      append_escaped(text, value);
      continue;
    }
    std::string a = value;
    if (a.size() > 60) a = a.substr(0, 57) + "...";
    text += a;
  }
  std::string callee;
  if (full_args) {
    append_escaped(callee, name ? name : "");
  } else {
    callee = name ? name : "";
  }
  std::printf("%s:%lu: %s(%s)\n", current_path, line, callee.c_str(), text.c_str());
  reported++;
  return 0;
}

static int usage() {
  std::fprintf(stderr, "usage: qzsmoke [--extensions] [--full-args] FILE...\n");
  return 2;
}

int main(int argc, char** argv) {
  unsigned long options = QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE;
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; first++) {
    if (std::strcmp(argv[first], "--") == 0) {
      first++;
      break;
    }
    if (std::strcmp(argv[first], "--extensions") == 0) {
      options = QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_BINARY_SAFE |
                QZ_OPT_LIMIT_FINDINGS | QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH;
    } else if (std::strcmp(argv[first], "--full-args") == 0) {
      full_args = true;
    } else {
      std::fprintf(stderr, "qzsmoke: %s: unknown option\n", argv[first]);
      return usage();
    }
  }
  if (first >= argc) return usage();
  qz_engine_startup();
  qz_engine_set_options(options);
  qz_engine_set_fcall_filter(print_call);
  for (int i = first; i < argc; i++) {
    current_path = argv[i];
    qz_engine_scan_file(argv[i]);
  }
  qz_engine_shutdown();
  std::printf("%lu calls reported in %d files\n", reported, argc - first);
  return 0;
}
