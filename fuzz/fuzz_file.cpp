// Feeds bytes to the engine as a file, NUL bytes included, through the stdio
// input source: once with the option flags off, once with every extension on.
//
// The call filter keeps a trace of every reported call: its line, name,
// assignment count and a digest of each argument text (read in full, so that
// a bad pointer handed to the host shows up under the sanitizers). A file
// scan and a buffer scan of the same text must agree, so for an input
// without NUL bytes (which a buffer cannot hold) the text is scanned from
// memory as well and the two traces must be equal; a difference aborts with
// both traces printed from the first call that differs.

#include <qzengine/qzengine.h>

#include "fuzz_input_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> trace;

unsigned char record_call(unsigned long line, unsigned long, char* name, unsigned long assigned,
                          _fcall_argument* args, unsigned long n) {
  std::string row =
      std::to_string(line) + " " + (name ? name : "<null>") + " " + std::to_string(assigned) + " (";
  for (unsigned long i = 0; i < n; i++) {
    const char* v = args[i].value;
    size_t digest = v ? std::hash<std::string_view>()(std::string_view(v, std::strlen(v))) : 0;
    row += (i ? ", " : "") + std::to_string(digest);
  }
  trace.push_back(row + ")");
  return 0;
}

std::vector<std::string> scan_file(char* path) {
  trace.clear();
  qz_engine_scan_file(path);
  return std::move(trace);
}

std::vector<std::string> scan_buffer(const std::string& text) {
  trace.clear();
  qz_engine_scan_buff(text.c_str());
  return std::move(trace);
}

[[noreturn]] void report_difference(unsigned long options, const std::vector<std::string>& file,
                                    const std::vector<std::string>& buffer) {
  size_t first = 0;
  while (first < file.size() && first < buffer.size() && file[first] == buffer[first]) first++;
  std::fprintf(stderr, "file and buffer scans differ (options %lu) from call %zu on:\n", options,
               first);
  for (size_t i = first; i < file.size() && i < first + 5; i++)
    std::fprintf(stderr, "  file:   %s\n", file[i].c_str());
  for (size_t i = first; i < buffer.size() && i < first + 5; i++)
    std::fprintf(stderr, "  buffer: %s\n", buffer[i].c_str());
  std::fprintf(stderr, "  (%zu calls from the file, %zu from the buffer)\n", file.size(),
               buffer.size());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz_input_file input("fuzz_file");
  static bool started = [] {
    qz_engine_startup();
    qz_engine_set_fcall_filter(record_call);
    return true;
  }();
  (void)started;

  char* path = input.hold(data, size);
  std::string text(reinterpret_cast<const char*>(data), size);
  bool buffer_reads_all = text.find('\0') == std::string::npos;
  for (unsigned long options :
       {0ul, 0ul + (QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_INTERPRETER_REACH)}) {
    qz_engine_set_options(options);
    std::vector<std::string> from_file = scan_file(path);
    if (!buffer_reads_all) continue;
    std::vector<std::string> from_buffer = scan_buffer(text);
    if (from_file != from_buffer) report_difference(options, from_file, from_buffer);
  }
  return 0;
}
