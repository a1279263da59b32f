// A CD-ROM drive (type 5) and a write-once drive (type 4): removable,
// read-only media. A CD-ROM has no WRITE at all; a write-once drive has one
// but the medium here is always protected, so WRITE gets DATA PROTECT.
#pragma once

#include <optional>

#include "hw/targets/disk.h"

namespace qzr::hw {

class CdRom : public Disk {
 public:
  static constexpr std::uint32_t kBlockBytes = 2048;

  // `image` should be opened read-only; any medium is treated as protected.
  CdRom(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
        std::optional<BlockImage> image, bool medium_present);

 protected:
  CdRom(std::uint8_t device_type, WriteRule write_rule, Identity identity, UnitTimings timings,
        bool unit_attention_on_reset, std::optional<BlockImage> image, bool medium_present);
  ModeParameters mode_parameters() const override;
};

class WriteOnce : public CdRom {
 public:
  WriteOnce(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
            std::optional<BlockImage> image, bool medium_present);
};

}  // namespace qzr::hw
