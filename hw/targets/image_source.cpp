#include "hw/targets/image_source.h"

#include <algorithm>

namespace qzr::hw {
namespace {

// The centre of pixel `index` at `dpi`, in bed units, clamped to the glass.
std::uint32_t pixel_centre_units(std::uint32_t index, std::uint32_t dpi, std::uint32_t limit) {
  const std::uint64_t units = (2 * std::uint64_t{index} + 1) * (kBedUnitsPerInch / 2) / dpi;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(units, limit - 1));
}

}  // namespace

std::uint32_t PixelWindow::bytes_per_line() const {
  switch (composition) {
    case Composition::Lineart:
      return (width_px + 7) / 8;
    case Composition::Grayscale:
      return width_px;
    case Composition::Color:
      return 3 * width_px;
  }
  return 0;
}

void render_lines(const ImageSource& source, const PixelWindow& window, std::uint32_t first_line,
                  std::uint32_t count, std::vector<std::uint8_t>& out) {
  const auto end_line = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(window.lines, std::uint64_t{first_line} + count));
  if (first_line >= end_line) return;
  // Column positions are the same on every line: work them out once.
  std::vector<std::uint32_t> x_units(window.width_px);
  for (std::uint32_t i = 0; i < window.width_px; ++i) {
    x_units[i] = pixel_centre_units(window.left_px + i, window.x_resolution_dpi, kBedWidthUnits);
  }
  const std::size_t line_bytes = window.bytes_per_line();
  out.reserve(out.size() + line_bytes * (end_line - first_line));
  const std::uint8_t invert = window.reverse ? 0xFF : 0x00;
  for (std::uint32_t line = first_line; line < end_line; ++line) {
    const std::uint32_t y =
        pixel_centre_units(window.top_px + line, window.y_resolution_dpi, kBedLengthUnits);
    const std::size_t start = out.size();
    out.resize(start + line_bytes, 0);
    std::uint8_t* row = out.data() + start;
    for (std::uint32_t i = 0; i < window.width_px; ++i) {
      const Rgb c = source.sample(x_units[i], y);
      switch (window.composition) {
        case Composition::Lineart: {
          const bool black = (luminance(c) < window.threshold) != window.reverse;
          if (black) row[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
          break;
        }
        case Composition::Grayscale:
          row[i] = luminance(c) ^ invert;
          break;
        case Composition::Color:
          row[3 * i] = c.r ^ invert;
          row[3 * i + 1] = c.g ^ invert;
          row[3 * i + 2] = c.b ^ invert;
          break;
      }
    }
  }
}

std::vector<std::uint8_t> render(const ImageSource& source, const PixelWindow& window) {
  std::vector<std::uint8_t> out;
  render_lines(source, window, 0, window.lines, out);
  return out;
}

}  // namespace qzr::hw
