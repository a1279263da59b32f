#include "hw/targets/device_factory.h"

#include <sys/stat.h>

#include <exception>
#include <optional>
#include <utility>

#include "hw/targets/block_image.h"
#include "hw/targets/cdrom.h"
#include "hw/targets/disk.h"
#include "hw/targets/processor.h"
#include "hw/targets/scanner.h"
#include "hw/targets/test_chart.h"
#if QZR_HAVE_PNG
#include "hw/targets/png_source.h"
#endif
#include "hw/targets/tape.h"

namespace qzr::hw {
namespace {

using Kind = DeviceConfig::Kind;

bool file_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The image of a block device, opened or created; an empty optional without
// an error means no medium at all.
std::optional<BlockImage> block_image_for(const DeviceConfig& config, std::uint32_t block_bytes,
                                          bool read_only_medium, std::string& error) {
  const bool removable = config.kind != Kind::Disk;
  if (config.image_path.empty()) {
    if (removable && !config.medium_present) return std::nullopt;
    error = "no image file given";
    return std::nullopt;
  }
  const bool read_only = read_only_medium || config.read_only;
  if (!file_exists(config.image_path) && config.create_if_missing) {
    if (read_only) {
      error = "image '" + config.image_path + "': no such file (a read-only medium is not created)";
      return std::nullopt;
    }
    if (config.capacity_blocks == 0) {
      error = "image '" + config.image_path + "': no such file, and no capacity to create it with";
      return std::nullopt;
    }
    return BlockImage::create(config.image_path, block_bytes, config.capacity_blocks, error);
  }
  return BlockImage::open(config.image_path, block_bytes,
                          read_only ? BlockImage::Access::ReadOnly : BlockImage::Access::ReadWrite,
                          error);
}

std::optional<TapeImage> tape_image_for(const DeviceConfig& config, std::string& error) {
  if (config.image_path.empty()) {
    if (!config.medium_present) return std::nullopt;
    error = "no tape image file given";
    return std::nullopt;
  }
  if (!file_exists(config.image_path) && config.create_if_missing && !config.read_only) {
    return TapeImage::create(config.image_path, error);
  }
  return TapeImage::open(
      config.image_path,
      config.read_only ? TapeImage::Access::ReadOnly : TapeImage::Access::ReadWrite, error);
}

std::uint32_t usual_block_bytes(Kind kind) {
  return kind == Kind::CdRom || kind == Kind::WriteOnce ? CdRom::kBlockBytes : 512;
}

std::unique_ptr<ImageSource> scanner_source(const DeviceConfig& config, std::string& error) {
  if (config.image_path.empty()) return std::make_unique<TestChart>();
#if QZR_HAVE_PNG
  return PngSource::load(config.image_path, error);
#else
  error = "picture '" + config.image_path + "': this build cannot read PNG files (no libpng)";
  return nullptr;
#endif
}

std::unique_ptr<LogicalUnit> make_unit(const DeviceConfig& config, std::string& error,
                                       const Clock* clock) {
  Identity identity = config.identity;
  identity.removable =
      config.kind != Kind::Disk && config.kind != Kind::Processor && config.kind != Kind::Scanner;
  const std::uint32_t block_bytes =
      config.block_bytes == 0 ? usual_block_bytes(config.kind) : config.block_bytes;

  switch (config.kind) {
    case Kind::Disk:
    case Kind::RemovableDisk:
    case Kind::OpticalMemory: {
      auto image = block_image_for(config, block_bytes, false, error);
      if (!image && !error.empty()) return nullptr;
      const std::uint8_t type = config.kind == Kind::OpticalMemory
                                    ? scsi::device_type::OPTICAL_MEMORY
                                    : scsi::device_type::DIRECT_ACCESS;
      return std::make_unique<Disk>(type, identity, config.timings, config.unit_attention_on_reset,
                                    std::move(image), config.medium_present);
    }
    case Kind::CdRom:
    case Kind::WriteOnce: {
      if (config.kind == Kind::CdRom && block_bytes != CdRom::kBlockBytes) {
        error = "image '" + config.image_path + "': a CD-ROM has 2048-byte blocks, not " +
                std::to_string(block_bytes);
        return nullptr;
      }
      auto image = block_image_for(config, block_bytes, true, error);
      if (!image && !error.empty()) return nullptr;
      if (config.kind == Kind::CdRom) {
        return std::make_unique<CdRom>(identity, config.timings, config.unit_attention_on_reset,
                                       std::move(image), config.medium_present);
      }
      return std::make_unique<WriteOnce>(identity, config.timings, config.unit_attention_on_reset,
                                         std::move(image), config.medium_present);
    }
    case Kind::Tape: {
      if (block_bytes != TapeImage::kBlockBytes) {
        error = "tape image '" + config.image_path + "': a tape has 512-byte records, not " +
                std::to_string(block_bytes);
        return nullptr;
      }
      auto image = tape_image_for(config, error);
      if (!image && !error.empty()) return nullptr;
      return std::make_unique<Tape>(identity, config.timings, config.unit_attention_on_reset,
                                    std::move(image), config.medium_present,
                                    config.capacity_blocks);
    }
    case Kind::Processor:
      return std::make_unique<Processor>(identity, config.timings, config.unit_attention_on_reset);
    case Kind::Scanner: {
      if (clock == nullptr) {
        error = "no clock to scan by";
        return nullptr;
      }
      auto source = scanner_source(config, error);
      if (!source) return nullptr;
      return std::make_unique<Scanner>(identity, config.timings, config.unit_attention_on_reset,
                                       ScannerTimings{}, std::move(source), *clock);
    }
  }
  error = "unknown device kind";
  return nullptr;
}

}  // namespace

const char* device_kind_name(DeviceConfig::Kind kind) {
  switch (kind) {
    case Kind::Disk:
      return "disk";
    case Kind::RemovableDisk:
      return "removable disk";
    case Kind::OpticalMemory:
      return "optical memory";
    case Kind::CdRom:
      return "CD-ROM";
    case Kind::WriteOnce:
      return "write-once";
    case Kind::Tape:
      return "tape";
    case Kind::Processor:
      return "processor";
    case Kind::Scanner:
      return "scanner";
  }
  return "unknown device";
}

std::unique_ptr<LogicalUnit> make_logical_unit(const DeviceConfig& config, std::string& error,
                                               const Clock* clock) {
  error.clear();
  std::string problem;
  std::unique_ptr<LogicalUnit> unit;
  try {
    unit = make_unit(config, problem, clock);
  } catch (const std::exception& failure) {  // out of memory for a huge image read, say
    problem = failure.what();
  }
  if (!unit) error = std::string(device_kind_name(config.kind)) + ": " + problem;
  return unit;
}

}  // namespace qzr::hw
