#ifndef QZENGINE_THREAT_H
#define QZENGINE_THREAT_H

/*
 * The host's verdict record and handler, as the adapter uses them.
 *
 * The adapter writes exactly five fields of the record, by their byte offsets:
 * the engine name (16), the description (24), the suspicion flag (56), the
 * line (64) and the score (72); everything else belongs to the host. It then
 * calls the handler's first virtual function with the record and 1. A host
 * may define its own types in namespace threat instead of these, as long as
 * those offsets and that first virtual function are the same.
 */

#include <cstddef>
#include <cstdint>

namespace threat {

struct threat_info {
  unsigned char host_reserved0[16];
  const char* engine_name; /* "qz_engine" */
  const char* description; /* descriptions of the scored behaviours; valid until the next scan */
  unsigned char host_reserved1[24];
  unsigned char suspicious; /* 1 in a report of suspicious findings only */
  unsigned char host_reserved2[7];
  uint64_t line;  /* line of the deciding call, in a definite report of a file scan */
  uint64_t score; /* sum of the definite scores */
};

static_assert(offsetof(threat_info, engine_name) == 16, "host record layout");
static_assert(offsetof(threat_info, description) == 24, "host record layout");
static_assert(offsetof(threat_info, suspicious) == 56, "host record layout");
static_assert(offsetof(threat_info, line) == 64, "host record layout");
static_assert(offsetof(threat_info, score) == 72, "host record layout");

class threat_handler {
 public:
  /* Receives the filled record and the constant 1; the result is ignored.
   * Must stay the first virtual function of the class. */
  virtual int on_threat(threat_info* info, int kind) = 0;
  virtual ~threat_handler() = default;
};

}  // namespace threat

#endif
