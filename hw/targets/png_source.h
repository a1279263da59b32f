// A picture from a PNG file laid on the glass: the picture is stretched to
// cover the whole glass (8.5 x 11.7 inches) and each scanned pixel takes the
// colour of the picture's pixel under its centre (nearest neighbour).
// Grey, palette and alpha pictures are turned into RGB on loading (alpha
// composed over white). Only in builds with libpng (QZR_HAVE_PNG).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hw/targets/image_source.h"

namespace qzr::hw {

class PngSource final : public ImageSource {
 public:
  // Null, with `error` naming the file and the reason, if it cannot be read.
  static std::unique_ptr<PngSource> load(const std::string& path, std::string& error);

  Rgb sample(std::uint32_t x_units, std::uint32_t y_units) const override;
  std::uint32_t width_px() const { return width_px_; }
  std::uint32_t height_px() const { return height_px_; }

 private:
  PngSource(std::uint32_t width_px, std::uint32_t height_px, std::vector<std::uint8_t> rgb)
      : width_px_(width_px), height_px_(height_px), rgb_(std::move(rgb)) {}

  std::uint32_t width_px_;
  std::uint32_t height_px_;
  std::vector<std::uint8_t> rgb_;  // row by row, 3 bytes a pixel
};

}  // namespace qzr::hw
