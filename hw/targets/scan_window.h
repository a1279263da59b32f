// The SCSI-2 scanner window descriptor as SET WINDOW carries it and GET
// WINDOW returns it, the measurement unit its coordinates are counted in,
// and what the scanner makes of a window: its pixels on the bed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hw/targets/image_source.h"

namespace qzr::hw {

// The basic measurement unit and divisor of mode page 03h: coordinates are
// counted in (basic unit / divisor).
struct MeasurementUnit {
  enum class Basic : std::uint8_t { Inch = 0, Millimetre = 1, Point = 2 };
  Basic basic = Basic::Inch;
  std::uint16_t divisor = 1200;

  // `value` units as 1/`per_inch` inch, rounded down.
  std::uint64_t to_fraction_of_inch(std::uint64_t value, std::uint64_t per_inch) const;
  // The most whole units that fit in `bed_units` (bed units, 1/9600 inch).
  std::uint32_t from_bed_units(std::uint32_t bed_units) const;
};

// One window, as the descriptor's 40 standard bytes hold it. Geometry is in
// the measurement unit in force when the window was set.
struct ScanWindow {
  static constexpr std::size_t kDescriptorBytes = 40;
  static constexpr std::size_t kHeaderBytes = 8;

  std::uint8_t id = 0;
  std::uint16_t x_resolution_dpi = 0;  // 0: the default resolution
  std::uint16_t y_resolution_dpi = 0;
  std::uint32_t upper_left_x = 0;
  std::uint32_t upper_left_y = 0;
  std::uint32_t width = 0;
  std::uint32_t length = 0;
  std::uint8_t brightness = 0;  // kept and reported; the image does not depend on it
  std::uint8_t threshold = 0;   // lineart: 0 means the default of 128
  std::uint8_t contrast = 0;    // kept and reported; the image does not depend on it
  std::uint8_t composition = 2;
  std::uint8_t bits_per_pixel = 8;
  std::uint16_t halftone_pattern = 0;
  bool reverse_image = false;  // RIF
  std::uint8_t padding_type = 0;
  std::uint16_t bit_ordering = 0;
  std::uint8_t compression_type = 0;
  std::uint8_t compression_argument = 0;

  static ScanWindow decode(std::span<const std::uint8_t> descriptor);
  // The 40 standard bytes.
  std::vector<std::uint8_t> encode() const;
  bool operator==(const ScanWindow&) const = default;
};

// The resolutions the scanner offers, in both directions independently.
constexpr std::uint16_t kScannerResolutionsDpi[] = {75, 100, 150, 200, 300, 600};
constexpr std::uint16_t kDefaultResolutionDpi = 300;

// The whole glass at the default resolution, in grey, in `unit`.
ScanWindow default_window(const MeasurementUnit& unit);

// The window's pixels, or nothing if the scanner cannot scan it: a resolution
// it does not offer, a composition and depth it does not produce, an area
// that is empty or leaves the glass, a compression or bit ordering it does
// not do.
std::optional<PixelWindow> pixel_window(const ScanWindow& window, const MeasurementUnit& unit);

}  // namespace qzr::hw
