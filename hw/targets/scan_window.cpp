#include "hw/targets/scan_window.h"

#include <algorithm>

namespace qzr::hw {
namespace {

// A basic unit as a fraction of an inch: numerator / denominator.
struct InchFraction {
  std::uint64_t numerator;
  std::uint64_t denominator;
};

InchFraction inch_fraction(MeasurementUnit::Basic basic) {
  switch (basic) {
    case MeasurementUnit::Basic::Inch:
      return {1, 1};
    case MeasurementUnit::Basic::Millimetre:
      return {10, 254};
    case MeasurementUnit::Basic::Point:
      return {1, 72};
  }
  return {1, 1};
}

std::uint32_t be16(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 8) | b[at + 1];
}
std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
  return (be16(b, at) << 16) | be16(b, at + 2);
}
void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v >> 16);
  put16(b, at + 2, v);
}

bool offered(std::uint16_t dpi) {
  return std::find(std::begin(kScannerResolutionsDpi), std::end(kScannerResolutionsDpi), dpi) !=
         std::end(kScannerResolutionsDpi);
}

}  // namespace

std::uint64_t MeasurementUnit::to_fraction_of_inch(std::uint64_t value,
                                                   std::uint64_t per_inch) const {
  const InchFraction f = inch_fraction(basic);
  return value * per_inch * f.numerator / (f.denominator * divisor);
}

std::uint32_t MeasurementUnit::from_bed_units(std::uint32_t bed_units) const {
  const InchFraction f = inch_fraction(basic);
  return static_cast<std::uint32_t>(std::uint64_t{bed_units} * divisor * f.denominator /
                                    (f.numerator * kBedUnitsPerInch));
}

ScanWindow ScanWindow::decode(std::span<const std::uint8_t> d) {
  ScanWindow w;
  w.id = d[0];
  w.x_resolution_dpi = static_cast<std::uint16_t>(be16(d, 2));
  w.y_resolution_dpi = static_cast<std::uint16_t>(be16(d, 4));
  w.upper_left_x = be32(d, 6);
  w.upper_left_y = be32(d, 10);
  w.width = be32(d, 14);
  w.length = be32(d, 18);
  w.brightness = d[22];
  w.threshold = d[23];
  w.contrast = d[24];
  w.composition = d[25];
  w.bits_per_pixel = d[26];
  w.halftone_pattern = static_cast<std::uint16_t>(be16(d, 27));
  w.reverse_image = d[29] & 0x80;
  w.padding_type = d[29] & 0x07;
  w.bit_ordering = static_cast<std::uint16_t>(be16(d, 30));
  w.compression_type = d[32];
  w.compression_argument = d[33];
  return w;
}

std::vector<std::uint8_t> ScanWindow::encode() const {
  std::vector<std::uint8_t> d(kDescriptorBytes, 0);
  d[0] = id;
  put16(d, 2, x_resolution_dpi);
  put16(d, 4, y_resolution_dpi);
  put32(d, 6, upper_left_x);
  put32(d, 10, upper_left_y);
  put32(d, 14, width);
  put32(d, 18, length);
  d[22] = brightness;
  d[23] = threshold;
  d[24] = contrast;
  d[25] = composition;
  d[26] = bits_per_pixel;
  put16(d, 27, halftone_pattern);
  d[29] = static_cast<std::uint8_t>((reverse_image ? 0x80 : 0) | (padding_type & 0x07));
  put16(d, 30, bit_ordering);
  d[32] = compression_type;
  d[33] = compression_argument;
  return d;
}

ScanWindow default_window(const MeasurementUnit& unit) {
  ScanWindow w;
  w.x_resolution_dpi = kDefaultResolutionDpi;
  w.y_resolution_dpi = kDefaultResolutionDpi;
  w.width = unit.from_bed_units(kBedWidthUnits);
  w.length = unit.from_bed_units(kBedLengthUnits);
  return w;
}

std::optional<PixelWindow> pixel_window(const ScanWindow& w, const MeasurementUnit& unit) {
  PixelWindow p;
  p.x_resolution_dpi = w.x_resolution_dpi == 0 ? kDefaultResolutionDpi : w.x_resolution_dpi;
  p.y_resolution_dpi = w.y_resolution_dpi == 0 ? kDefaultResolutionDpi : w.y_resolution_dpi;
  if (!offered(static_cast<std::uint16_t>(p.x_resolution_dpi)) ||
      !offered(static_cast<std::uint16_t>(p.y_resolution_dpi))) {
    return std::nullopt;
  }
  switch (w.composition) {
    case static_cast<std::uint8_t>(Composition::Lineart):
      if (w.bits_per_pixel != 1) return std::nullopt;
      break;
    case static_cast<std::uint8_t>(Composition::Grayscale):
      if (w.bits_per_pixel != 8) return std::nullopt;
      break;
    case static_cast<std::uint8_t>(Composition::Color):
      if (w.bits_per_pixel != 24) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  p.composition = static_cast<Composition>(w.composition);
  if (w.compression_type != 0 || w.bit_ordering != 0) return std::nullopt;

  // The area must lie on the glass: compare in bed units, rounded down, so a
  // window one unit past the edge in a coarse unit is still caught.
  const std::uint64_t right =
      unit.to_fraction_of_inch(std::uint64_t{w.upper_left_x} + w.width, kBedUnitsPerInch);
  const std::uint64_t bottom =
      unit.to_fraction_of_inch(std::uint64_t{w.upper_left_y} + w.length, kBedUnitsPerInch);
  if (right > kBedWidthUnits || bottom > kBedLengthUnits) return std::nullopt;

  p.left_px =
      static_cast<std::uint32_t>(unit.to_fraction_of_inch(w.upper_left_x, p.x_resolution_dpi));
  p.top_px =
      static_cast<std::uint32_t>(unit.to_fraction_of_inch(w.upper_left_y, p.y_resolution_dpi));
  p.width_px = static_cast<std::uint32_t>(unit.to_fraction_of_inch(w.width, p.x_resolution_dpi));
  p.lines = static_cast<std::uint32_t>(unit.to_fraction_of_inch(w.length, p.y_resolution_dpi));
  if (p.width_px == 0 || p.lines == 0) return std::nullopt;
  p.threshold = w.threshold == 0 ? 128 : w.threshold;
  p.reverse = w.reverse_image;
  return p;
}

}  // namespace qzr::hw
