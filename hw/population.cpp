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
      units[lun] = make_logical_unit(device, why);
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
  std::vector<TargetConfig> targets;

  TargetConfig disk;
  disk.settings.id = 0;
  disk.settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  DeviceConfig disk_unit;
  disk_unit.kind = DeviceConfig::Kind::Disk;
  disk_unit.identity = identity("QZRSIM", "HD-540S", "2.10");
  disk_unit.image_path = (image_dir / "disk0.img").string();
  disk_unit.capacity_blocks = 131'072;  // 64 MiB of 512-byte blocks
  disk_unit.create_if_missing = true;
  disk.units.emplace_back(0, disk_unit);
  targets.push_back(disk);

  TargetConfig cdrom;
  cdrom.settings.id = 3;
  cdrom.settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  DeviceConfig cd_unit;
  cd_unit.kind = DeviceConfig::Kind::CdRom;
  cd_unit.identity = identity("QZRSIM", "CD-ROM XM-4", "1.05");
  cd_unit.image_path = (image_dir / "cdrom3.iso").string();
  cdrom.units.emplace_back(0, cd_unit);
  targets.push_back(cdrom);

  TargetConfig tape;
  tape.settings.id = 5;
  tape.settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  DeviceConfig tape_unit;
  tape_unit.kind = DeviceConfig::Kind::Tape;
  tape_unit.identity = identity("QZRSIM", "TAPE DAT-4", "1.00");
  tape_unit.image_path = (image_dir / "tape5.tap").string();
  tape_unit.create_if_missing = true;
  tape.units.emplace_back(0, tape_unit);
  targets.push_back(tape);

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
