#include "hw/guest_errors.h"

#include <cstdio>

namespace qzr::hw {

std::string GuestErrorLog::format() const {
  std::string out;
  for (const GuestError& e : errors_) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "[%14.6f ms] ", static_cast<double>(e.time_ns) / 1e6);
    out += stamp + e.device + ": " + e.what + '\n';
  }
  return out;
}

}  // namespace qzr::hw
