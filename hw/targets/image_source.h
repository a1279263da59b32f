// What a scanner sees on its glass, and how a window of it becomes image
// data. A source answers the colour at any point of the bed; rendering
// samples it once per pixel at the pixel's centre, so the same window always
// gives the same bytes, whatever source or reader asks.
#pragma once

#include <cstdint>
#include <vector>

namespace qzr::hw {

// Positions on the bed, in 1/9600 inch: fine enough that the centre of a
// pixel at every supported resolution falls on a whole number.
constexpr std::uint32_t kBedUnitsPerInch = 9600;
// The glass: 8.5 x 11.7 inches.
constexpr std::uint32_t kBedWidthUnits = 85 * kBedUnitsPerInch / 10;
constexpr std::uint32_t kBedLengthUnits = 117 * kBedUnitsPerInch / 10;

struct Rgb {
  std::uint8_t r = 255, g = 255, b = 255;
  bool operator==(const Rgb&) const = default;
};

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  // The colour at (x, y) in bed units, x across the glass, y down it.
  virtual Rgb sample(std::uint32_t x_units, std::uint32_t y_units) const = 0;
};

enum class Composition : std::uint8_t {
  Lineart = 0,    // 1 bit per pixel, 8 pixels a byte, first pixel in bit 7, 1 = black
  Grayscale = 2,  // 8 bits per pixel, 255 = white
  Color = 5,      // 24 bits per pixel, R G B interleaved
};

// A window as pixels: where it starts on the bed at its resolution, and how
// its pixels are encoded.
struct PixelWindow {
  std::uint32_t x_resolution_dpi = 300;
  std::uint32_t y_resolution_dpi = 300;
  std::uint32_t left_px = 0;  // in pixels at the window's own resolution
  std::uint32_t top_px = 0;
  std::uint32_t width_px = 0;
  std::uint32_t lines = 0;
  Composition composition = Composition::Grayscale;
  std::uint8_t threshold = 128;  // lineart: a grey below it is black
  bool reverse = false;          // every pixel inverted (lineart pad bits stay 0)

  std::uint32_t bytes_per_line() const;
  std::uint64_t total_bytes() const { return std::uint64_t{bytes_per_line()} * lines; }
};

// Lines [first_line, first_line + count) of `window`, appended to `out`.
// Lines past the window's end are not rendered.
void render_lines(const ImageSource& source, const PixelWindow& window, std::uint32_t first_line,
                  std::uint32_t count, std::vector<std::uint8_t>& out);

// The whole window.
std::vector<std::uint8_t> render(const ImageSource& source, const PixelWindow& window);

// The grey a colour scans as (ITU-R 601 weights in 8-bit fixed point).
constexpr std::uint8_t luminance(Rgb c) {
  return static_cast<std::uint8_t>((77u * c.r + 150u * c.g + 29u * c.b) >> 8);
}

}  // namespace qzr::hw
