#include "hw/targets/test_chart.h"

#include <array>

namespace qzr::hw {
namespace {

// Chart geometry in hundredths of an inch, turned into bed units.
constexpr std::uint32_t at(std::uint32_t hundredths) {
  return hundredths * kBedUnitsPerInch / 100;
}

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

struct Box {
  std::uint32_t left, top, right, bottom;  // right and bottom excluded
  constexpr bool contains(std::uint32_t x, std::uint32_t y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
};

constexpr Box kFrameOuter{at(25), at(25), at(825), at(1145)};
constexpr Box kFrameInner{at(35), at(35), at(815), at(1135)};
constexpr Box kColourBars{at(50), at(50), at(800), at(200)};
constexpr Box kGreyRamp{at(50), at(225), at(800), at(325)};
constexpr Box kWedge{at(50), at(350), at(800), at(550)};
constexpr std::uint32_t kWedgeMiddle = at(450);
constexpr Box kCheckerboard{at(450), at(650), at(800), at(950)};
constexpr std::uint32_t kDiscX = at(250), kDiscY = at(800), kDiscRadius = at(150);
constexpr std::uint32_t kTextLeft = at(50), kTextTop = at(1000), kTextDot = at(10);

constexpr std::array<Rgb, 8> kBars{
    kWhite,           Rgb{255, 255, 0}, Rgb{0, 255, 255}, Rgb{0, 255, 0},
    Rgb{255, 0, 255}, Rgb{255, 0, 0},   Rgb{0, 0, 255},   kBlack};

// Line-pair periods of the wedge's six groups, in bed units (9600 / pairs per inch).
constexpr std::array<std::uint32_t, 6> kWedgePeriods{960, 480, 240, 120, 64, 32};
constexpr std::uint32_t kWedgeGroupWidth = at(125);

// 5 x 7 dot glyphs, one row per entry, bit 4 the leftmost dot.
using Glyph = std::array<std::uint8_t, 7>;
constexpr Glyph kGlyphQ{0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D};
constexpr Glyph kGlyphZ{0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F};
constexpr Glyph kGlyphR{0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11};
constexpr Glyph kGlyphSpace{};
constexpr Glyph kGlyph6{0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E};
constexpr Glyph kGlyph1{0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E};
constexpr Glyph kGlyph4{0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02};
constexpr Glyph kGlyph0{0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E};
constexpr std::array<const Glyph*, 8> kText{&kGlyphQ, &kGlyphZ, &kGlyphR, &kGlyphSpace,
                                            &kGlyph6, &kGlyph1, &kGlyph4, &kGlyph0};
constexpr std::uint32_t kGlyphCellDots = 6;  // 5 dots and a space
constexpr Rgb kTextColour{20, 20, 120};

bool text_dot(std::uint32_t x, std::uint32_t y) {
  if (x < kTextLeft || y < kTextTop) return false;
  const std::uint32_t column = (x - kTextLeft) / kTextDot;
  const std::uint32_t row = (y - kTextTop) / kTextDot;
  const std::uint32_t glyph = column / kGlyphCellDots;
  const std::uint32_t dot = column % kGlyphCellDots;
  if (row >= 7 || glyph >= kText.size() || dot >= 5) return false;
  return ((*kText[glyph])[row] >> (4 - dot)) & 1;
}

bool in_disc(std::uint32_t x, std::uint32_t y) {
  const std::int64_t dx = std::int64_t{x} - kDiscX;
  const std::int64_t dy = std::int64_t{y} - kDiscY;
  return dx * dx + dy * dy <= std::int64_t{kDiscRadius} * kDiscRadius;
}

// Black on the first half of each line pair, counted from `start`.
bool wedge_line(std::uint32_t along, std::uint32_t start, std::uint32_t group) {
  return ((along - start) / (kWedgePeriods[group] / 2)) % 2 == 0;
}

}  // namespace

Rgb TestChart::sample(std::uint32_t x, std::uint32_t y) const {
  if (kFrameOuter.contains(x, y) && !kFrameInner.contains(x, y)) return kBlack;
  if (kColourBars.contains(x, y)) {
    const std::uint32_t bar =
        (x - kColourBars.left) * kBars.size() / (kColourBars.right - kColourBars.left);
    return kBars[bar];
  }
  if (kGreyRamp.contains(x, y)) {
    const auto grey =
        static_cast<std::uint8_t>((x - kGreyRamp.left) * 256 / (kGreyRamp.right - kGreyRamp.left));
    return Rgb{grey, grey, grey};
  }
  if (kWedge.contains(x, y)) {
    const std::uint32_t group = (x - kWedge.left) / kWedgeGroupWidth;
    if (group >= kWedgePeriods.size()) return kWhite;
    const bool black = y < kWedgeMiddle
                           ? wedge_line(x, kWedge.left + group * kWedgeGroupWidth, group)
                           : wedge_line(y, kWedgeMiddle, group);
    return black ? kBlack : kWhite;
  }
  if (kCheckerboard.contains(x, y)) {
    const std::uint32_t square = at(25);
    const bool black =
        (((x - kCheckerboard.left) / square) + ((y - kCheckerboard.top) / square)) % 2;
    return black ? kBlack : kWhite;
  }
  if (in_disc(x, y)) return Rgb{220, 30, 30};
  if (text_dot(x, y)) return kTextColour;
  return kWhite;
}

std::vector<std::uint8_t> render_test_chart(const PixelWindow& window) {
  return render(TestChart{}, window);
}

}  // namespace qzr::hw
