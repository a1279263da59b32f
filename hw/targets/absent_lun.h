// The logical unit behind a LUN that does not exist. INQUIRY says so
// (peripheral qualifier 3, type 0x1F); every other command fails with
// ILLEGAL REQUEST / LOGICAL UNIT NOT SUPPORTED, which REQUEST SENSE reports.
#pragma once

#include "hw/targets/logical_unit.h"

namespace qzr::hw {

class AbsentLun final : public LogicalUnit {
 public:
  static constexpr std::size_t kInquiryBytes = 36;

  std::uint8_t device_type() const override { return scsi::device_type::NO_LOGICAL_UNIT; }
  CommandOutcome execute(std::span<const std::uint8_t> cdb) override;
  DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) override;
  void reset() override {}
};

}  // namespace qzr::hw
