// Captures the engine's fault reports, each as "file:line:message", for the
// tests that drive the runtime's parts directly.
#ifndef RT_FAULT_CAPTURE_H
#define RT_FAULT_CAPTURE_H

#include <qzengine/qzengine.h>

#include <string>
#include <vector>

using rt_fault_list = std::vector<std::string>;

inline rt_fault_list rt_faults;

// Installs the recorder for one test's lifetime.
struct rt_fault_scope {
  rt_fault_scope() {
    rt_faults.clear();
    qz_engine_set_exception_handler([](char* file, int line, char* message) {
      rt_faults.push_back(std::string(file) + ":" + std::to_string(line) + ":" + message);
    });
  }
  ~rt_fault_scope() { qz_engine_set_exception_handler(nullptr); }
};

#endif
