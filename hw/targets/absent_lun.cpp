#include "hw/targets/absent_lun.h"

#include <algorithm>
#include <array>

namespace qzr::hw {
namespace {

std::array<std::uint8_t, AbsentLun::kInquiryBytes> inquiry_data() {
  std::array<std::uint8_t, AbsentLun::kInquiryBytes> data{};
  data[0] = scsi::device_type::NO_LOGICAL_UNIT;
  data[2] = 2;  // ANSI version: what the target speaks, whatever the LUN
  data[3] = 2;  // response data format
  data[4] = AbsentLun::kInquiryBytes - 5;
  std::fill(data.begin() + 8, data.end(), ' ');  // vendor, product, revision
  return data;
}

template <std::size_t N>
CommandOutcome data_in(const std::array<std::uint8_t, N>& bytes, std::size_t allocation_length) {
  CommandOutcome outcome;
  outcome.direction = DataDirection::In;
  outcome.data_in.assign(bytes.begin(), bytes.begin() + std::min(N, allocation_length));
  return outcome;
}

}  // namespace

CommandOutcome AbsentLun::execute(std::span<const std::uint8_t> cdb) {
  if (cdb.size() < 6) return CommandOutcome::check_condition();
  switch (cdb[0]) {
    case scsi::op::INQUIRY:
      return data_in(inquiry_data(), cdb[4]);
    // SCSI-2: an allocation length of 0 asks for the four-byte format.
    case scsi::op::REQUEST_SENSE: {
      const auto sense = Sense::of(scsi::sense_key::ILLEGAL_REQUEST,
                                   scsi::asc::LOGICAL_UNIT_NOT_SUPPORTED)
                             .bytes(cdb[4] == 0 ? 4 : cdb[4]);
      CommandOutcome outcome;
      outcome.direction = DataDirection::In;
      outcome.data_in = sense;
      return outcome;
    }
    default:
      return CommandOutcome::check_condition();
  }
}

DataOutResult AbsentLun::complete_data_out(std::span<const std::uint8_t>,
                                           std::span<const std::uint8_t>) {
  return DataOutResult{scsi::status::CHECK_CONDITION, 0};
}

}  // namespace qzr::hw
