// Builds a logical unit from plain settings: the kind of device, what
// INQUIRY says, its image and its timings. A user's mistake (a missing image,
// a wrong size) comes back as one line naming the file, never a crash.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hw/targets/logical_unit.h"
#include "hw/targets/target_settings.h"
#include "hw/targets/unit_base.h"

namespace qzr::hw {

struct DeviceConfig {
  enum class Kind : std::uint8_t {
    Disk,           // type 0, fixed
    RemovableDisk,  // type 0, removable
    OpticalMemory,  // type 7, removable, read-write
    CdRom,          // type 5, read-only 2048-byte blocks
    WriteOnce,      // type 4, read-only here
    Tape,           // type 1, 512-byte records
    Processor,      // type 3, no medium
    Scanner,        // type 6, flatbed; scans `image_path` (a PNG) or the built-in chart
  };

  Kind kind = Kind::Disk;
  Identity identity;  // RMB is set from the kind
  // Empty: no medium (allowed for removable kinds with no medium present).
  // A scanner: the PNG picture on its glass; empty, the built-in test chart.
  std::string image_path;
  // For a new image: its size in blocks. For a tape: records that fit (0: no bound).
  std::uint64_t capacity_blocks = 0;
  std::uint32_t block_bytes =
      0;  // 0: the kind's usual size (512, or 2048 for CD-ROM and write-once)
  bool create_if_missing = false;
  bool read_only = false;  // disks, optical memory and tapes: write protected
  bool medium_present = true;
  UnitTimings timings;
  bool unit_attention_on_reset = false;
};

const char* device_kind_name(DeviceConfig::Kind kind);

// Null, with `error` set, if the configuration cannot be honoured. A scanner
// needs the machine's clock (it produces lines as time passes); the other
// kinds ignore it.
std::unique_ptr<LogicalUnit> make_logical_unit(const DeviceConfig& config, std::string& error,
                                               const Clock* clock = nullptr);

}  // namespace qzr::hw
