// Putting devices on the bus: what each SCSI ID holds (its target settings
// and the devices at its LUNs), and the built-in default population the
// demonstration and the benchmarks use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "hw/machine.h"
#include "hw/targets/device_factory.h"
#include "hw/targets/target_settings.h"

namespace qzr::hw {

struct TargetConfig {
  TargetSettings settings;
  std::vector<std::pair<std::uint8_t, DeviceConfig>> units;  // LUN, device
};

// Builds every target's devices and attaches the targets to the machine's
// bus. On a mistake nothing is attached and `error` says what and where.
bool populate(Machine& machine, std::span<const TargetConfig> targets, std::string& error);

// A fixed disk at ID 0, a scanner at ID 2 (scanning the built-in chart), a
// CD-ROM at ID 3, a tape at ID 4 and a removable
// disk at ID 5, with their images in `image_dir` (created when missing:
// sparse disk images, a mastered CD-ROM image, an empty tape).
std::vector<TargetConfig> default_population(const std::filesystem::path& image_dir);
bool prepare_default_images(const std::filesystem::path& image_dir, std::string& error);

// Writes a read-only CD-ROM image of `sectors` 2048-byte sectors: a volume
// descriptor at sector 16 naming `volume`, and every other sector filled
// with its own address so a read can be checked.
bool master_cdrom_image(const std::filesystem::path& path, std::uint32_t sectors,
                        const std::string& volume, std::string& error);

}  // namespace qzr::hw
