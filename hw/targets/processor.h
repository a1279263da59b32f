// A processor device (type 3): INQUIRY, TEST UNIT READY, REQUEST SENSE, and
// SEND / RECEIVE over a loopback buffer, so what one initiator sends the
// next RECEIVE returns.
#pragma once

#include <cstdint>
#include <deque>
#include <span>

#include "hw/targets/unit_base.h"

namespace qzr::hw {

class Processor : public UnitBase {
 public:
  static constexpr std::size_t kBufferBytes = 64 * 1024;

  Processor(Identity identity, UnitTimings timings, bool unit_attention_on_reset);

  DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) override;
  std::size_t buffered_bytes() const { return buffer_.size(); }

 protected:
  CommandOutcome execute_command(std::span<const std::uint8_t> cdb) override;
  void on_reset() override { buffer_.clear(); }

 private:
  std::deque<std::uint8_t> buffer_;
};

}  // namespace qzr::hw
