// Captures the engine's fault reports for the runtime-memory tests.
#ifndef RT_FAULT_CAPTURE_H
#define RT_FAULT_CAPTURE_H

#include <qzengine/qzengine.h>

#include <string>
#include <vector>

struct rt_fault {
  std::string file;
  int line;
  std::string message;
  bool operator==(const rt_fault& o) const {
    return file == o.file && line == o.line && message == o.message;
  }
};

inline std::vector<rt_fault>& rt_faults() {
  static std::vector<rt_fault> faults;
  return faults;
}

inline void rt_record_fault(char* file, int line, char* message) {
  rt_faults().push_back({file, line, message});
}

// Installs the recorder for one test's lifetime.
struct rt_fault_scope {
  rt_fault_scope() {
    rt_faults().clear();
    qz_engine_set_exception_handler(rt_record_fault);
  }
  ~rt_fault_scope() { qz_engine_set_exception_handler(nullptr); }
};

#endif
