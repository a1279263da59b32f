// The guest-error log: every use of the hardware outside its reference
// behaviour, with the virtual time and the access. The driver's normal paths
// leave it empty.
#pragma once

#include <string>
#include <vector>

#include "hw/clock.h"

namespace qzr::hw {

struct GuestError {
  TimeNs time_ns = 0;
  std::string device;  // "qzr6140", "pci", ...
  std::string what;    // "read of HOST_BUFFER_PORT with no ready slot"
};

class GuestErrorLog {
 public:
  explicit GuestErrorLog(const Clock& clock) : clock_(clock) {}
  void record(std::string device, std::string what) {
    errors_.push_back(GuestError{clock_.now_ns(), std::move(device), std::move(what)});
  }
  const std::vector<GuestError>& entries() const { return errors_; }
  bool empty() const { return errors_.empty(); }
  void clear() { errors_.clear(); }
  // One line per entry: "[  12.345678 ms] qzr6140: what".
  std::string format() const;

 private:
  const Clock& clock_;
  std::vector<GuestError> errors_;
};

}  // namespace qzr::hw
