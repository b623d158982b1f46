// Feeds arbitrary rule texts to the rule parsers and scores a few calls
// against whatever they accepted.

#include "behavior/qz_behavior_match.h"
#include "behavior/qz_behavior_rules.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(pos, end - pos);
    qz_behavior_define(&line[0]);
    pos = end + 1;
  }
  _fcall_argument args[2] = {};
  args[0].value = "$_POST_DATA";
  args[1].value = "x";
  char desc[100], detail[2000];
  for (const char* name : {"eval", "system", "fopen"}) {
    qz_behavior_check(1, 0, const_cast<char*>(name), 0, args, 2, desc, detail);
  }
  qz_behavior_check_file(detail);
  qz_behavior_file_end();
  qz_behavior_shutdown();
  return 0;
}
