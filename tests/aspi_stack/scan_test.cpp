// A whole scan through torvik: SET WINDOW, SCAN and READ in pieces, carried
// by the miniport to the scanner, and the image compared with the chart's
// own rendering of the window.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hw/targets/scan_window.h"
#include "hw/targets/test_chart.h"
#include "tests/aspi_stack/stack_fixture.h"
#include "tools/common/aspi_exec_request.h"
#include "torvik.h"

namespace qzr::aspi_stack_test {
namespace {

constexpr std::uint32_t kUnitsPerInch = 1200;  // the scanner's default measurement unit

class ScanThroughTorvik : public Stack {
 protected:
  void SetUp() override {
    Stack::SetUp();
    ASSERT_NO_FATAL_FAILURE(attach_torvik());
    ASSERT_EQ(ScannerSCSIID, kScannerId);
  }

  ULONG send(std::vector<std::uint8_t> cdb, std::uint8_t* buffer, ULONG bytes, bool in,
             SRB_ExecSCSICmd& srb) {
    qzr::tools::fill_exec_request(srb, kScannerId, cdb.data(), cdb.size(), buffer, bytes, in);
    return SendASPI32Command(reinterpret_cast<LPSRB>(&srb));
  }
};

TEST_F(ScanThroughTorvik, TheImageIsTheChartsRenderingOfTheWindow) {
  struct Case {
    std::uint16_t dpi;
    hw::Composition composition;
    std::uint8_t bits_per_pixel;
  };
  const Case cases[] = {
      {150, hw::Composition::Lineart, 1},   {300, hw::Composition::Lineart, 1},
      {150, hw::Composition::Grayscale, 8}, {300, hw::Composition::Grayscale, 8},
      {150, hw::Composition::Color, 24},    {300, hw::Composition::Color, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dpi << " dpi, " << int(c.bits_per_pixel) << " bits");
    // Half an inch wide and a tenth long, over the colour bars' edge.
    hw::ScanWindow window;
    window.x_resolution_dpi = window.y_resolution_dpi = c.dpi;
    window.upper_left_x = kUnitsPerInch;
    window.upper_left_y = kUnitsPerInch * 19 / 10;
    window.width = kUnitsPerInch / 2;
    window.length = kUnitsPerInch / 10;
    window.composition = static_cast<std::uint8_t>(c.composition);
    window.bits_per_pixel = c.bits_per_pixel;
    std::vector<std::uint8_t> parameters(hw::ScanWindow::kHeaderBytes, 0);
    parameters[7] = hw::ScanWindow::kDescriptorBytes;
    const auto descriptor = window.encode();
    parameters.insert(parameters.end(), descriptor.begin(), descriptor.end());

    SRB_ExecSCSICmd srb;
    const auto length = static_cast<std::uint8_t>(parameters.size());
    ASSERT_EQ(send({0x24, 0, 0, 0, 0, 0, 0, 0, length, 0}, parameters.data(), length, false, srb),
              ULONG{SS_COMP})
        << "SET WINDOW, sense key " << int(srb.SenseArea[2]);
    ASSERT_EQ(send({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false, srb), ULONG{SS_COMP}) << "SCAN";

    hw::PixelWindow pixels;
    pixels.x_resolution_dpi = pixels.y_resolution_dpi = c.dpi;
    pixels.left_px = window.upper_left_x * c.dpi / kUnitsPerInch;
    pixels.top_px = window.upper_left_y * c.dpi / kUnitsPerInch;
    pixels.width_px = window.width * c.dpi / kUnitsPerInch;
    pixels.lines = window.length * c.dpi / kUnitsPerInch;
    pixels.composition = c.composition;
    const std::vector<std::uint8_t> expected = hw::render_test_chart(pixels);

    std::vector<std::uint8_t> image(expected.size(), 0xCC);
    constexpr std::size_t kPieceBytes = 1000;
    for (std::size_t at = 0; at < image.size(); at += kPieceBytes) {
      const auto piece = static_cast<std::uint32_t>(std::min(kPieceBytes, image.size() - at));
      ASSERT_EQ(send({0x28, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(piece >> 16),
                      static_cast<std::uint8_t>(piece >> 8), static_cast<std::uint8_t>(piece), 0},
                     image.data() + at, piece, true, srb),
                ULONG{SS_COMP})
          << "READ at " << at << ", sense key " << int(srb.SenseArea[2]);
    }
    EXPECT_EQ(image, expected);
  }
}

}  // namespace
}  // namespace qzr::aspi_stack_test
