// A processor-type unit holding a byte store, for transfers of any length:
// RECEIVE (6) reads its first N bytes, SEND (6) overwrites them (the length
// sits in bytes 2-4). `block_bytes` cuts the data into logical blocks for a
// target that disconnects every few blocks, so that disconnections fall
// inside host-buffer blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "hw/targets/logical_unit.h"

namespace qzr::nt::scsiport::stack_test {

class ByteStore final : public hw::LogicalUnit {
 public:
  ByteStore(std::vector<std::uint8_t> bytes, std::uint32_t block_bytes)
      : bytes_(std::move(bytes)), block_bytes_(block_bytes) {}
  std::uint8_t device_type() const override { return 0x03; }
  hw::CommandOutcome execute(std::span<const std::uint8_t> cdb) override {
    hw::CommandOutcome outcome;
    // Never beyond the store, whatever the command says.
    const std::size_t length = std::min<std::size_t>(
        (std::uint32_t{cdb[2]} << 16) | (cdb[3] << 8) | cdb[4], bytes_.size());
    switch (cdb[0]) {
      case 0x12: {  // INQUIRY
        std::vector<std::uint8_t> data(36, ' ');
        data[0] = 0x03;
        data[1] = 0;
        data[2] = 2;
        data[3] = 2;
        data[4] = 31;
        data[5] = data[6] = data[7] = 0;
        data.resize(std::min<std::size_t>(data.size(), cdb[4]));
        outcome.direction = hw::DataDirection::In;
        outcome.data_in = std::move(data);
        return outcome;
      }
      case 0x08:  // RECEIVE
        outcome.direction = hw::DataDirection::In;
        outcome.data_in.assign(bytes_.begin(), bytes_.begin() + length);
        outcome.block_bytes = block_bytes_;
        return outcome;
      case 0x0A:  // SEND
        outcome.direction = hw::DataDirection::Out;
        outcome.data_out_bytes = static_cast<std::uint32_t>(length);
        outcome.block_bytes = block_bytes_;
        return outcome;
      default:
        return outcome;
    }
  }
  hw::DataOutResult complete_data_out(std::span<const std::uint8_t>,
                                      std::span<const std::uint8_t> data) override {
    std::copy_n(data.begin(), std::min(data.size(), bytes_.size()), bytes_.begin());
    return {};
  }
  void reset() override {}
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t block_bytes_;
};

}  // namespace qzr::nt::scsiport::stack_test
