// The scanner's built-in test chart: a page defined by geometry alone, so any
// window at any resolution renders exactly, and a test can compare a scan
// with the chart's own rendering byte for byte.
//
// Layout, in inches from the glass's upper-left corner (8.5 x 11.7):
//   frame           black, 0.1 wide, outer edge 0.25 from the glass's edge
//   colour bars     y 0.5-2.0, x 0.5-8.0: white, yellow, cyan, green,
//                   magenta, red, blue, black
//   grey ramp       y 2.25-3.25, x 0.5-8.0, black to white left to right
//   resolution      y 3.5-4.5 vertical, y 4.5-5.5 horizontal line pairs
//   wedge           at 10, 20, 40, 80, 150 and 300 pairs per inch, 1.25 each
//   red disc        centre (2.5, 8.0), radius 1.5
//   checkerboard    x 4.5-8.0, y 6.5-9.5, squares of 0.25
//   block text      "QZR 6140" in 0.1-inch dots, from (0.5, 10.0)
// Everything else is white.
#pragma once

#include <cstdint>
#include <vector>

#include "hw/targets/image_source.h"

namespace qzr::hw {

class TestChart final : public ImageSource {
 public:
  Rgb sample(std::uint32_t x_units, std::uint32_t y_units) const override;
};

// The chart's rendering of `window`: what a scan of it returns.
std::vector<std::uint8_t> render_test_chart(const PixelWindow& window);

}  // namespace qzr::hw
