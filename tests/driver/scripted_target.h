// A target on the far side of the recording port, for the programmed-I/O
// phases: it shows each step's phase with REQ, hands its byte to the driver
// (or takes the driver's byte) on ACK, drops REQ, and moves to the next step
// once ACK is released. After the last step the bus reads `after_script`.
#pragma once

#include <vector>

#include "tests/driver/recording_port.h"

namespace qzr::driver_test {

// Bus phases as Current SCSI Bus Status shows them (MSG, C/D, I/O).
inline constexpr UCHAR kDataOut = 0x00;
inline constexpr UCHAR kDataIn = 0x04;
inline constexpr UCHAR kCommand = 0x08;
inline constexpr UCHAR kStatus = 0x0C;
inline constexpr UCHAR kMessageOut = 0x18;
inline constexpr UCHAR kMessageIn = 0x1C;

struct TargetStep {
  UCHAR phase;
  UCHAR byte = 0;          // the byte offered in Status, Message In and Data In
  bool keeps_req = false;  // REQ never falls: the handshake times out
};

class ScriptedTarget {
 public:
  static constexpr UCHAR kBsy = 0x40;
  static constexpr UCHAR kReq = 0x20;

  ScriptedTarget(RecordingPort& port, std::vector<TargetStep> steps, UCHAR after_script = 0x00)
      : steps_(std::move(steps)), after_script_(after_script) {
    port.on_read(4, [this](std::uint64_t) { return bus_status(); });
    port.on_read(0, [this](std::uint64_t) { return at_end() ? UCHAR{0} : steps_[position_].byte; });
    port.on_write(0, [this](UCHAR value) { output_data_ = value; });
    port.on_write(1, [this](UCHAR value) { initiator_command(value); });
  }

  UCHAR bus_status() const {
    if (at_end()) return after_script_;
    return static_cast<UCHAR>(kBsy | (req_ ? kReq : 0) | steps_[position_].phase);
  }
  bool at_end() const { return position_ >= steps_.size(); }
  std::size_t position() const { return position_; }
  UCHAR phase() const { return at_end() ? 0xFF : steps_[position_].phase; }
  // The board's block engine moved this step's data: go on to the next.
  void skip() {
    if (at_end()) return;
    ++position_;
    req_ = true;
    acked_ = false;
  }
  // Bytes the driver handed over, in order.
  const std::vector<UCHAR>& received() const { return received_; }

 private:
  void initiator_command(UCHAR value) {
    if (at_end()) return;
    if ((value & 0x10) != 0) {  // ACK
      if (req_ && !acked_) {
        acked_ = true;
        UCHAR phase = steps_[position_].phase;
        if (phase == kDataOut || phase == kCommand || phase == kMessageOut) {
          received_.push_back(output_data_);
        }
        if (!steps_[position_].keeps_req) req_ = false;
      }
    } else if (acked_ && !req_) {
      acked_ = false;
      ++position_;
      req_ = true;
    }
  }

  std::vector<TargetStep> steps_;
  UCHAR after_script_;
  std::size_t position_ = 0;
  bool req_ = true;
  bool acked_ = false;
  UCHAR output_data_ = 0;
  std::vector<UCHAR> received_;
};

}  // namespace qzr::driver_test
