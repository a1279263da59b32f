#include "hw/targets/processor.h"

#include <algorithm>
#include <utility>

namespace qzr::hw {

Processor::Processor(Identity identity, UnitTimings timings, bool unit_attention_on_reset)
    : UnitBase(scsi::device_type::PROCESSOR, std::move(identity), timings,
               unit_attention_on_reset) {}

CommandOutcome Processor::execute_command(std::span<const std::uint8_t> cdb) {
  switch (cdb[0]) {
    case scsi::op::TEST_UNIT_READY:
      return good(timings().command_latency_ns);
    case scsi::op::RECEIVE: {
      if (cdb[1] & 0x1F) return invalid_field();
      const std::size_t bytes = std::min<std::size_t>(cdb_field::be24(cdb, 2), buffer_.size());
      std::vector<std::uint8_t> out(buffer_.begin(), buffer_.begin() + static_cast<long>(bytes));
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(bytes));
      return data_in(std::move(out), bytes,
                     timings().command_latency_ns + transfer_ns(bytes / 512));
    }
    case scsi::op::SEND: {
      if (cdb[1] & 0x1F) return invalid_field();  // AEN and reserved bits: no async events here
      const std::uint32_t bytes = cdb_field::be24(cdb, 2);
      if (bytes > kBufferBytes - buffer_.size()) return invalid_field();
      return data_out(bytes, 0, timings().command_latency_ns);
    }
    default:
      return invalid_opcode();
  }
}

DataOutResult Processor::complete_data_out(std::span<const std::uint8_t> cdb,
                                           std::span<const std::uint8_t> data) {
  if (cdb.size() < 6 || cdb[0] != scsi::op::SEND) return UnitBase::complete_data_out(cdb, data);
  const std::size_t asked = cdb_field::be24(cdb, 2);
  const std::size_t room = kBufferBytes - buffer_.size();
  const auto taken = data.first(std::min({data.size(), asked, room}));
  buffer_.insert(buffer_.end(), taken.begin(), taken.end());
  return DataOutResult{scsi::status::GOOD, transfer_ns(taken.size() / 512)};
}

}  // namespace qzr::hw
