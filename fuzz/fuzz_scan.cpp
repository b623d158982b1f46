// Feeds arbitrary bytes to the engine as a script, with the extensions off or
// on and a call filter that reads every argument text, so that any bad pointer
// handed to a host shows up under the sanitizers.

#include <qzengine/qzengine.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

static unsigned char read_every_argument(unsigned long, unsigned long, char* name, unsigned long,
                                         _fcall_argument* args, unsigned long n) {
  size_t total = name ? std::strlen(name) : 0;
  for (unsigned long i = 0; i < n; i++) total += args[i].value ? std::strlen(args[i].value) : 0;
  return total == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    qz_engine_startup();
    qz_engine_set_fcall_filter(read_every_argument);
    return true;
  }();
  (void)started;
  std::string text(reinterpret_cast<const char*>(data), size);
  // The input's length picks the options: none, the decoders, or every
  // extension (extended reading, the memory bounds and collections included).
  static const unsigned long option_sets[] = {0, QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE,
                                              QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE |
                                                  QZ_OPT_BINARY_SAFE | QZ_OPT_LIMIT_FINDINGS |
                                                  QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH};
  qz_engine_set_options(option_sets[size % 3]);
  qz_engine_scan_buff(text.c_str());
  return 0;
}
