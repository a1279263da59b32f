#include "hw/targets/cdrom.h"

#include <algorithm>
#include <utility>

namespace qzr::hw {
namespace {

Identity removable_identity(Identity identity) {
  identity.removable = true;
  return identity;
}

}  // namespace

CdRom::CdRom(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
             std::optional<BlockImage> image, bool medium_present)
    : CdRom(scsi::device_type::CDROM, WriteRule::NoWriteCommand, std::move(identity), timings,
            unit_attention_on_reset, std::move(image), medium_present) {}

CdRom::CdRom(std::uint8_t device_type, WriteRule write_rule, Identity identity, UnitTimings timings,
             bool unit_attention_on_reset, std::optional<BlockImage> image, bool medium_present)
    : Disk(device_type, removable_identity(std::move(identity)), timings, unit_attention_on_reset,
           std::move(image), medium_present, write_rule, kBlockBytes) {}

ModeParameters CdRom::mode_parameters() const {
  ModeParameters parameters;
  parameters.device_specific = device_type() == scsi::device_type::WRITE_ONCE ? 0x80 : 0x00;
  parameters.block_count =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(capacity_blocks(), 0xFFFFFF));
  parameters.block_length = block_bytes();

  ModePage error_recovery{0x01, std::vector<std::uint8_t>(6, 0), std::vector<std::uint8_t>(6, 0)};
  error_recovery.current[1] = 1;  // read retry count

  // CD-ROM parameters: MSF addressing units, 60 seconds a minute, 75 frames a second.
  ModePage cd_parameters{0x0D, std::vector<std::uint8_t>(6, 0), std::vector<std::uint8_t>(6, 0)};
  put_be16(cd_parameters.current, 2, 60);
  put_be16(cd_parameters.current, 4, 75);

  parameters.pages = {error_recovery, cd_parameters};
  if (device_type() == scsi::device_type::WRITE_ONCE) parameters.pages.pop_back();
  return parameters;
}

WriteOnce::WriteOnce(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
                     std::optional<BlockImage> image, bool medium_present)
    : CdRom(scsi::device_type::WRITE_ONCE, WriteRule::Protected, std::move(identity), timings,
            unit_attention_on_reset, std::move(image), medium_present) {}

}  // namespace qzr::hw
