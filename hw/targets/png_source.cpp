#include "hw/targets/png_source.h"

#include <png.h>

#include <utility>

namespace qzr::hw {
namespace {

// Bigger pictures are refused rather than held: 20000 x 20000 RGB is 1.2 GB.
constexpr std::uint64_t kMaxPixels = 100'000'000;

}  // namespace

std::unique_ptr<PngSource> PngSource::load(const std::string& path, std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    error = "picture '" + path + "': " + image.message;
    png_image_free(&image);
    return nullptr;
  }
  if (image.width == 0 || image.height == 0 ||
      std::uint64_t{image.width} * image.height > kMaxPixels) {
    error = "picture '" + path + "': " + std::to_string(image.width) + " x " +
            std::to_string(image.height) + " pixels is not a size this scanner takes";
    png_image_free(&image);
    return nullptr;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, rgb.data(), 0, nullptr)) {
    error = "picture '" + path + "': " + image.message;
    png_image_free(&image);
    return nullptr;
  }
  return std::unique_ptr<PngSource>(new PngSource(image.width, image.height, std::move(rgb)));
}

Rgb PngSource::sample(std::uint32_t x_units, std::uint32_t y_units) const {
  const auto column = static_cast<std::size_t>(std::uint64_t{x_units} * width_px_ / kBedWidthUnits);
  const auto row = static_cast<std::size_t>(std::uint64_t{y_units} * height_px_ / kBedLengthUnits);
  const std::size_t at = 3 * (row * width_px_ + column);
  return Rgb{rgb_[at], rgb_[at + 1], rgb_[at + 2]};
}

}  // namespace qzr::hw
