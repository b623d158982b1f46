// Runs a script through the engine and records what the host would see: every
// reported call as "name(arg|arg)" and every dumped variable as "name=text".

#ifndef TESTS_QZ_SPEC_BUILTIN_TRACE_H
#define TESTS_QZ_SPEC_BUILTIN_TRACE_H

#include <qzengine/qzengine.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace builtin_trace {

struct Trace {
  std::vector<std::string> calls;
  std::vector<unsigned long> lines;
  std::vector<std::string> dump;

  // How many reported calls have exactly this rendering.
  long count(const std::string& call) const {
    return std::count(calls.begin(), calls.end(), call);
  }
  // How many reported calls are of this function, whatever their arguments.
  long count_name(const std::string& name) const {
    return std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
      return c.compare(0, name.size() + 1, name + "(") == 0;
    });
  }
  bool has(const std::string& call) const { return count(call) > 0; }
  std::string joined() const {
    std::string all;
    for (const auto& c : calls) all += c + "\n";
    return all;
  }
};

inline Trace*& current() {
  static Trace* t = nullptr;
  return t;
}

inline unsigned char record_call(unsigned long line, unsigned long, char* name, unsigned long,
                                 _fcall_argument* args, unsigned long n) {
  std::string call = std::string(name) + "(";
  for (unsigned long i = 0; i < n; i++) {
    if (i) call += "|";
    call += args[i].value ? args[i].value : "<null>";
  }
  call += ")";
  current()->calls.push_back(call);
  current()->lines.push_back(line);
  return 0;
}

inline void record_dump(char* name, char* value) {
  current()->dump.push_back(std::string(name) + "=" + value);
}

// Scans script with the given option flags and returns the trace.
inline Trace run(const std::string& script, unsigned long options = 0) {
  Trace trace;
  current() = &trace;
  qz_engine_set_options(options);
  qz_engine_set_fcall_filter(record_call);
  qz_engine_set_var_dump_handler(record_dump);
  qz_engine_scan_buff(script.c_str());
  qz_engine_set_fcall_filter(nullptr);
  qz_engine_set_var_dump_handler(nullptr);
  qz_engine_set_options(0);
  current() = nullptr;
  return trace;
}

inline std::string b64(const std::string& in) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
    out += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], abc[v & 63]};
  }
  if (in.size() - i == 1) {
    unsigned v = (unsigned char)in[i] << 16;
    out += {abc[v >> 18], abc[(v >> 12) & 63], '=', '='};
  } else if (in.size() - i == 2) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
    out += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], '='};
  }
  return out;
}

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override { qz_engine_startup(); }
  void TearDown() override { qz_engine_shutdown(); }
};

}  // namespace builtin_trace

#endif
