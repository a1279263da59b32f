#include "hw/population.h"

#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

namespace qzr::hw {

bool populate(Machine& machine, std::span<const TargetConfig> targets, std::string& error) {
  // Build every device first, so a mistake anywhere attaches nothing.
  std::set<std::uint8_t> ids;
  std::vector<ScsiTarget::Units> built;
  for (const TargetConfig& t : targets) {
    const std::string where = "target " + std::to_string(t.settings.id);
    if (t.settings.id > 7) {
      error = where + ": SCSI IDs run from 0 to 7";
      return false;
    }
    if (!ids.insert(t.settings.id).second || machine.target(t.settings.id)) {
      error = where + ": the ID is taken twice";
      return false;
    }
    ScsiTarget::Units units;
    for (const auto& [lun, device] : t.units) {
      if (lun >= units.size() || units[lun]) {
        error = where + ": LUN " + std::to_string(lun) + " is out of range or taken twice";
        return false;
      }
      std::string why;
      units[lun] = make_logical_unit(device, why, &machine.clock());
      if (!units[lun]) {
        error = where + " LUN " + std::to_string(lun) + ": " + why;
        return false;
      }
    }
    built.push_back(std::move(units));
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    machine.add_target(targets[i].settings, std::move(built[i]));
  }
  return true;
}

namespace {

constexpr std::uint32_t kCdSectorBytes = 2048;
constexpr std::uint32_t kCdSectors = 512;  // 1 MiB

Identity identity(const char* vendor, const char* product, const char* revision) {
  Identity id;
  id.vendor = vendor;
  id.product = product;
  id.revision = revision;
  return id;
}

}  // namespace

std::vector<TargetConfig> default_population(const std::filesystem::path& image_dir) {
  auto target = [](std::uint8_t id, DeviceConfig unit) {
    TargetConfig t;
    t.settings.id = id;
    t.settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
    t.units.emplace_back(0, std::move(unit));
    return t;
  };
  auto device = [&](DeviceConfig::Kind kind, Identity id, const char* image, std::uint64_t blocks) {
    DeviceConfig d;
    d.kind = kind;
    d.identity = std::move(id);
    d.image_path = *image ? (image_dir / image).string() : std::string();
    d.capacity_blocks = blocks;
    d.create_if_missing = kind != DeviceConfig::Kind::CdRom;
    return d;
  };

  std::vector<TargetConfig> targets;
  targets.push_back(
      target(0, device(DeviceConfig::Kind::Disk, identity("FUJITSU", "M1606S", "6237"), "disk0.img",
                       524'288)));  // 256 MiB
  targets.push_back(target(
      2, device(DeviceConfig::Kind::Scanner, identity("QZRSIM", "FLATBED A4", "1.00"), "", 0)));
  targets.push_back(target(3, device(DeviceConfig::Kind::CdRom,
                                     identity("QZRSIM", "CD-ROM XM-4", "1.05"), "cdrom3.iso", 0)));
  targets.push_back(target(4, device(DeviceConfig::Kind::Tape,
                                     identity("QZRSIM", "TAPE DAT-4", "1.00"), "tape4.tap", 0)));
  targets.push_back(target(5, device(DeviceConfig::Kind::RemovableDisk,
                                     identity("IOMEGA", "ZIP 100", "R.41"), "zip5.img",
                                     196'608)));  // 96 MiB
  return targets;
}

bool prepare_default_images(const std::filesystem::path& image_dir, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(image_dir, ec);
  if (ec) {
    error = image_dir.string() + ": cannot create: " + ec.message();
    return false;
  }
  const auto cd = image_dir / "cdrom3.iso";
  if (std::filesystem::exists(cd, ec)) return true;
  return master_cdrom_image(cd, kCdSectors, "QZR_DEMO", error);
}

bool master_cdrom_image(const std::filesystem::path& path, std::uint32_t sectors,
                        const std::string& volume, std::string& error) {
  const auto temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = path.string() + ": cannot create: " + std::strerror(errno);
      return false;
    }
    std::vector<char> sector(kCdSectorBytes);
    for (std::uint32_t lba = 0; lba < sectors; ++lba) {
      if (lba == 16) {
        // A primary volume descriptor in outline: type 1, "CD001", version 1,
        // the volume identifier at byte 40 (32 characters, space padded).
        std::fill(sector.begin(), sector.end(), '\0');
        sector[0] = 1;
        std::memcpy(sector.data() + 1, "CD001", 5);
        sector[6] = 1;
        std::fill(sector.begin() + 40, sector.begin() + 72, ' ');
        std::memcpy(sector.data() + 40, volume.data(), std::min<std::size_t>(volume.size(), 32));
      } else {
        for (std::uint32_t i = 0; i < kCdSectorBytes; i += 4) {
          const std::uint32_t word = lba ^ (i << 16);
          std::memcpy(sector.data() + i, &word, 4);
        }
      }
      out.write(sector.data(), static_cast<std::streamsize>(sector.size()));
    }
    if (!out.flush()) {
      error = path.string() + ": write failed";
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    error = path.string() + ": cannot rename: " + ec.message();
    return false;
  }
  return true;
}

}  // namespace qzr::hw
