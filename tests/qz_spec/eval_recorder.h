// Records what a host sees of one scan: every reported call as
// "line:name:assign(arg|arg)", every fault report as "!file:line:message" in
// the same sequence, and the variable dump as "name=text".

#ifndef TESTS_QZ_SPEC_EVAL_RECORDER_H
#define TESTS_QZ_SPEC_EVAL_RECORDER_H

#include <qzengine/qzengine.h>

#include <string>
#include <vector>

namespace eval_recorder {

struct Seen {
  std::vector<std::string> events; // calls and faults, in order
  std::vector<std::string> dump;

  bool dumped(const std::string& row) const {
    for (const auto& d : dump)
      if (d == row) return true;
    return false;
  }
};

inline Seen*& sink() {
  static Seen* s = nullptr;
  return s;
}

inline unsigned char on_call(unsigned long line, unsigned long reserved, char* name,
                             unsigned long assign, _fcall_argument* args, unsigned long n) {
  std::string e = std::to_string(line) + ":" + name + ":" + std::to_string(assign) + "(";
  for (unsigned long i = 0; i < n; i++) {
    if (i) e += "|";
    e += args[i].value ? args[i].value : "<null>";
  }
  e += ")";
  if (reserved != 0) e += "<reserved!=0>";
  if ((n == 0) != (args == nullptr)) e += "<args-pointer-mismatch>";
  sink()->events.push_back(e);
  return 0;
}

inline void on_fault(char* file, int line, char* message) {
  sink()->events.push_back("!" + std::string(file) + ":" + std::to_string(line) + ":" + message);
}

inline void on_dump(char* name, char* text) { sink()->dump.push_back(std::string(name) + "=" + text); }

// Scans text (engine already started) with the recorder installed.
inline Seen scan(const std::string& text) {
  Seen seen;
  sink() = &seen;
  qz_engine_set_fcall_filter(on_call);
  qz_engine_set_exception_handler(on_fault);
  qz_engine_set_var_dump_handler(on_dump);
  qz_engine_scan_buff(text.c_str());
  qz_engine_set_fcall_filter(nullptr);
  qz_engine_set_exception_handler(nullptr);
  qz_engine_set_var_dump_handler(nullptr);
  sink() = nullptr;
  return seen;
}

inline std::string repeat(const std::string& unit, size_t n) {
  std::string s;
  s.reserve(unit.size() * n);
  for (size_t i = 0; i < n; i++) s += unit;
  return s;
}

}  // namespace eval_recorder

#endif
