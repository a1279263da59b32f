// The flatbed scanner: windows kept and reported as set, every refusal with
// its sense, scans equal to the chart's own rendering at any resolution and
// in any composition, READ in pieces, lines appearing as virtual time passes,
// the carriage going home, the measurement unit, pictures from PNG files, and
// a scan carried over the bus.
#include "hw/targets/scanner.h"

#include <gtest/gtest.h>

#if QZR_HAVE_PNG
#include <png.h>
#endif

#include <string>
#include <vector>

#include "hw/targets/device_factory.h"
#include "hw/targets/scsi_target.h"
#include "hw/targets/test_chart.h"
#include "tests/hw/device_test_support.h"
#include "tests/hw/test_initiator.h"

namespace qzr::hw {
namespace {

using namespace qzr::hw::testing;
namespace sk = scsi::sense_key;

// Window coordinates in the default unit, 1/1200 inch.
constexpr std::uint32_t kInch = 1200;

constexpr TimeNs kCommandNs = UnitTimings{}.command_latency_ns;

// Round numbers, so the expected times below can be worked out by hand.
constexpr ScannerTimings kTimings{
    .motor_start_ns = 10 * kNsPerMs,
    .travel_ns_per_inch = 100 * kNsPerMs,
    .line_exposure_ns = 1 * kNsPerMs,
    .pixel_readout_ns = 100,
};

Bytes be24_bytes(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}

Bytes set_window_cdb(std::uint32_t bytes) {
  const Bytes n = be24_bytes(bytes);
  return {scsi::op::SET_WINDOW, 0, 0, 0, 0, 0, n[0], n[1], n[2], 0};
}
Bytes get_window_cdb(bool single, std::uint8_t id, std::uint32_t allocation = 255) {
  const Bytes n = be24_bytes(allocation);
  return {scsi::op::GET_WINDOW,
          static_cast<std::uint8_t>(single ? 1 : 0),
          0,
          0,
          0,
          id,
          n[0],
          n[1],
          n[2],
          0};
}
Bytes read_cdb(std::uint32_t bytes, std::uint8_t data_type = 0) {
  const Bytes n = be24_bytes(bytes);
  return {scsi::op::READ_SCANNED_DATA, 0, data_type, 0, 0, 0, n[0], n[1], n[2], 0};
}
Bytes scan_cdb(std::uint8_t windows = 1) {
  return cdb6(scsi::op::SCAN, 0, 0, 0, windows);
}
Bytes buffer_status_cdb(bool wait) {
  return {scsi::op::GET_DATA_BUFFER_STATUS,
          static_cast<std::uint8_t>(wait ? 1 : 0),
          0,
          0,
          0,
          0,
          0,
          0,
          12,
          0};
}
Bytes object_position_cdb(std::uint8_t type) {
  return {scsi::op::OBJECT_POSITION, type, 0, 0, 0, 0, 0, 0, 0, 0};
}
Bytes mode_select_cdb(std::uint8_t bytes, bool save = false) {
  return cdb6(scsi::op::MODE_SELECT_6, static_cast<std::uint8_t>(0x10 | (save ? 1 : 0)), 0, 0,
              bytes);
}
// A mode parameter list holding the measurement-unit page.
Bytes unit_page(std::uint8_t basic, std::uint16_t divisor) {
  return {0,
          0,
          0,
          0,
          0x03,
          6,
          basic,
          0,
          static_cast<std::uint8_t>(divisor >> 8),
          static_cast<std::uint8_t>(divisor),
          0,
          0};
}

// A SET WINDOW parameter list: the header, then each descriptor padded to
// `descriptor_bytes` (vendor bytes past the standard 40 are zero).
Bytes window_list(const std::vector<ScanWindow>& windows, std::uint16_t descriptor_bytes = 40) {
  Bytes out(8, 0);
  out[6] = static_cast<std::uint8_t>(descriptor_bytes >> 8);
  out[7] = static_cast<std::uint8_t>(descriptor_bytes);
  for (const ScanWindow& w : windows) {
    Bytes d = w.encode();
    d.resize(descriptor_bytes, 0);
    out.insert(out.end(), d.begin(), d.end());
  }
  return out;
}

ScanWindow make_window(std::uint8_t id, std::uint16_t dpi, std::uint32_t x, std::uint32_t y,
                       std::uint32_t width, std::uint32_t length,
                       Composition composition = Composition::Grayscale) {
  ScanWindow w;
  w.id = id;
  w.x_resolution_dpi = dpi;
  w.y_resolution_dpi = dpi;
  w.upper_left_x = x;
  w.upper_left_y = y;
  w.width = width;
  w.length = length;
  w.composition = static_cast<std::uint8_t>(composition);
  w.bits_per_pixel = composition == Composition::Lineart ? 1
                     : composition == Composition::Color ? 24
                                                         : 8;
  return w;
}

// The pixels a window in 1/1200 inch covers, worked out here on their own
// rather than asked of the scanner.
PixelWindow pixels_of(const ScanWindow& w) {
  PixelWindow p;
  p.x_resolution_dpi = w.x_resolution_dpi;
  p.y_resolution_dpi = w.y_resolution_dpi;
  p.left_px = w.upper_left_x * w.x_resolution_dpi / kInch;
  p.top_px = w.upper_left_y * w.y_resolution_dpi / kInch;
  p.width_px = w.width * w.x_resolution_dpi / kInch;
  p.lines = w.length * w.y_resolution_dpi / kInch;
  p.composition = static_cast<Composition>(w.composition);
  p.threshold = w.threshold == 0 ? 128 : w.threshold;
  p.reverse = w.reverse_image;
  return p;
}

bool ili(const Bytes& sense) {
  return sense.size() > 2 && (sense[2] & 0x20);
}

class ScannerTest : public ::testing::Test {
 protected:
  Exchange set_windows(const std::vector<ScanWindow>& windows) {
    const Bytes list = window_list(windows);
    return run(scanner, set_window_cdb(static_cast<std::uint32_t>(list.size())), list);
  }
  // Sets `w` as window 0 and starts scanning it.
  void start(const ScanWindow& w) {
    ASSERT_EQ(set_windows({w}).status, scsi::status::GOOD);
    ASSERT_EQ(run(scanner, scan_cdb(), {w.id}).status, scsi::status::GOOD);
  }
  // The rest of the image, `piece_bytes` at a time.
  Bytes read_all(std::uint32_t piece_bytes) {
    Bytes image;
    while (scanner.scanning()) {
      const Exchange e = run(scanner, read_cdb(piece_bytes));
      image.insert(image.end(), e.data_in.begin(), e.data_in.end());
      if (e.status != scsi::status::GOOD) break;
    }
    return image;
  }
  Bytes unit_buffer_status(bool wait, TimeNs* latency_ns = nullptr) {
    const Exchange e = run(scanner, buffer_status_cdb(wait));
    if (latency_ns) *latency_ns = e.latency_ns;
    return e.data_in;
  }
  static std::uint32_t available(const Bytes& status) {
    return (std::uint32_t{status[7]} << 16) | (std::uint32_t{status[8]} << 8) | status[9];
  }

  Clock clock;
  Scanner scanner{Identity{}, UnitTimings{}, false, kTimings, std::make_unique<TestChart>(), clock};
};

// --- Windows -------------------------------------------------------------------

TEST_F(ScannerTest, WindowsComeBackAsTheyWereSet) {
  ScanWindow line_art =
      make_window(1, 600, 0, 0, 85 * kInch / 10, 117 * kInch / 10, Composition::Lineart);
  line_art.threshold = 90;
  line_art.reverse_image = true;
  line_art.halftone_pattern = 0x0102;
  line_art.padding_type = 3;
  ScanWindow colour =
      make_window(3, 75, 1 * kInch, 2 * kInch, 3 * kInch, 4 * kInch, Composition::Color);
  colour.x_resolution_dpi = 150;
  colour.brightness = 140;
  colour.contrast = 120;
  // Vendor bytes past the standard 40 are accepted and not kept.
  const Bytes list = window_list({line_art, colour}, 48);
  ASSERT_EQ(run(scanner, set_window_cdb(static_cast<std::uint32_t>(list.size())), list).status,
            scsi::status::GOOD);

  for (const ScanWindow& w : {line_art, colour}) {
    const Exchange e = run(scanner, get_window_cdb(true, w.id));
    ASSERT_EQ(e.status, scsi::status::GOOD);
    ASSERT_EQ(e.data_in.size(), 48u);
    EXPECT_EQ(e.data_in[1], 46) << "window data length counts the bytes after it";
    EXPECT_EQ(e.data_in[7], 40) << "descriptor length";
    EXPECT_EQ(ScanWindow::decode(std::span(e.data_in).subspan(8)), w);
  }

  // All windows: the default window 0, then 1 and 3 in order.
  const Exchange all = run(scanner, get_window_cdb(false, 0));
  ASSERT_EQ(all.data_in.size(), 8u + 3 * 40);
  EXPECT_EQ(all.data_in[8 + 0], 0);
  EXPECT_EQ(ScanWindow::decode(std::span(all.data_in).subspan(8 + 40)), line_art);
  EXPECT_EQ(ScanWindow::decode(std::span(all.data_in).subspan(8 + 80)), colour);
  EXPECT_EQ(ScanWindow::decode(std::span(all.data_in).subspan(8)),
            make_window(0, 300, 0, 0, 10200, 14040))
      << "window 0 starts as the whole glass in grey at 300 dpi";
}

TEST_F(ScannerTest, SetWindowKeepsNothingWhenAnyWindowIsRefused) {
  const ScanWindow good = make_window(1, 100, 0, 0, kInch, kInch);
  const ScanWindow off_the_glass = make_window(2, 100, 8 * kInch, 0, kInch, kInch);
  const Failure f =
      run_for_sense(scanner, set_window_cdb(8 + 80), window_list({good, off_the_glass}));
  EXPECT_EQ(f.status, scsi::status::CHECK_CONDITION);
  EXPECT_FALSE(scanner.window(1).has_value());
}

// --- Refusals --------------------------------------------------------------------

struct Misuse {
  const char* what;
  std::vector<Bytes> before;  // commands run first, without data
  Bytes cdb;
  Bytes data_out;
  SenseView expected;
};

Bytes one_window(const ScanWindow& w) {
  return window_list({w});
}

ScanWindow with(ScanWindow w, void (*change)(ScanWindow&)) {
  change(w);
  return w;
}

TEST_F(ScannerTest, MisuseEndsInCheckConditionWithItsSense) {
  const ScanWindow base = make_window(0, 100, kInch, kInch, 2 * kInch, 2 * kInch);
  const auto bad_window = [&](void (*change)(ScanWindow&)) {
    return one_window(with(base, change));
  };
  const auto parameter = sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
  const auto cdb_field = sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB);
  const auto list_length = sense(sk::ILLEGAL_REQUEST, scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
  const Bytes short_list = [&] {
    Bytes l = one_window(base);
    l.resize(8 + 41, 0);
    return l;
  }();
  const Bytes cut_window = [&] {
    Bytes l = one_window(base);
    l.resize(30);
    return l;
  }();
  const Bytes cut_page = [] {
    Bytes l = unit_page(0, 600);
    l.resize(10);
    return l;
  }();
  const Bytes small_descriptors = [&] {
    Bytes l = one_window(base);
    l[7] = 30;
    return l;
  }();

  const std::vector<Misuse> cases = {
      {"READ before any SCAN",
       {},
       read_cdb(100),
       {},
       sense(sk::ILLEGAL_REQUEST, scsi::asc::COMMAND_SEQUENCE_ERROR)},
      {"window past the right edge",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.upper_left_x = 7 * kInch; }),
       parameter},
      {"window past the bottom edge",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.length = 11 * kInch; }),
       parameter},
      {"empty window",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.width = 0; }),
       parameter},
      {"halftone composition",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.composition = 1; }),
       parameter},
      {"grey with 1 bit per pixel",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.bits_per_pixel = 1; }),
       parameter},
      {"colour with 8 bits per pixel",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.composition = 5; }),
       parameter},
      {"123 dpi",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.x_resolution_dpi = 123; }),
       parameter},
      {"1200 dpi",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.y_resolution_dpi = 1200; }),
       parameter},
      {"compression",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.compression_type = 1; }),
       parameter},
      {"window identifier 4",
       {},
       set_window_cdb(48),
       bad_window([](ScanWindow& w) { w.id = 4; }),
       parameter},
      {"descriptor length under 40", {}, set_window_cdb(48), small_descriptors, parameter},
      {"SET WINDOW list shorter than one window", {}, set_window_cdb(20), {}, list_length},
      {"SET WINDOW list not whole windows", {}, set_window_cdb(8 + 41), short_list, list_length},
      {"SET WINDOW data cut short", {}, set_window_cdb(48), cut_window, list_length},
      {"READ of another data type", {scan_cdb(0)}, read_cdb(100, 0x80), {}, cdb_field},
      {"GET WINDOW of an undefined window", {}, get_window_cdb(true, 3), {}, cdb_field},
      {"SCAN of an undefined window", {}, scan_cdb(1), {2}, parameter},
      {"SCAN of two windows", {}, scan_cdb(2), {0, 1}, cdb_field},
      {"OBJECT POSITION absolute", {}, object_position_cdb(2), {}, cdb_field},
      {"MODE SELECT of another page",
       {},
       mode_select_cdb(12),
       {0, 0, 0, 0, 0x01, 6, 0, 0, 0, 0, 0, 0},
       parameter},
      {"MODE SELECT of an unknown unit", {}, mode_select_cdb(12), unit_page(3, 1200), parameter},
      {"MODE SELECT of divisor 0", {}, mode_select_cdb(12), unit_page(0, 0), parameter},
      {"MODE SELECT with a block descriptor",
       {},
       mode_select_cdb(12),
       {0, 0, 0, 8, 0x03, 6, 0, 0, 4, 0xB0, 0, 0},
       parameter},
      {"MODE SELECT with a cut page", {}, mode_select_cdb(10), cut_page, list_length},
      {"MODE SELECT saving pages",
       {},
       mode_select_cdb(12, true),
       unit_page(0, 600),
       sense(sk::ILLEGAL_REQUEST, scsi::asc::SAVING_PARAMETERS_NOT_SUPPORTED)},
  };
  for (const Misuse& c : cases) {
    SCOPED_TRACE(c.what);
    Scanner fresh{Identity{}, UnitTimings{}, false, kTimings, std::make_unique<TestChart>(), clock};
    for (const Bytes& before : c.before) {
      ASSERT_EQ(run(fresh, before).status, scsi::status::GOOD);
    }
    const Failure f = run_for_sense(fresh, c.cdb, c.data_out);
    EXPECT_EQ(f.status, scsi::status::CHECK_CONDITION);
    EXPECT_EQ(f.sense, c.expected);
  }
}

// --- Images ------------------------------------------------------------------------

TEST_F(ScannerTest, AScanIsTheChartsRenderingOfTheWindow) {
  struct Case {
    Composition composition;
    std::uint16_t x_dpi, y_dpi;
  };
  const Case cases[] = {
      {Composition::Lineart, 75, 75},     {Composition::Lineart, 300, 300},
      {Composition::Grayscale, 100, 100}, {Composition::Grayscale, 600, 200},
      {Composition::Color, 150, 150},     {Composition::Color, 300, 75},
  };
  // Across the frame, the colour bars and the grey ramp; the left edge falls
  // mid-byte for lineart at most resolutions.
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.composition) << " at " << c.x_dpi << "x" << c.y_dpi);
    ScanWindow w = make_window(0, c.x_dpi, 250, 1500, 3 * kInch + 37, kInch + 600, c.composition);
    w.y_resolution_dpi = c.y_dpi;
    start(w);
    const Bytes image = read_all(1 << 20);
    const Bytes expected = render_test_chart(pixels_of(w));
    ASSERT_EQ(image.size(), pixels_of(w).total_bytes());
    EXPECT_TRUE(image == expected);
  }
}

TEST_F(ScannerTest, PixelsOfTheChartInEachComposition) {
  struct Case {
    const char* where;
    std::uint32_t x, y;  // 1/1200 inch
    Bytes colour, grey, line_art;
  };
  // One pixel at 75 dpi (16 units), its centre 8 units in.
  const Case cases[] = {
      {"glass outside the frame", 100, 100, {255, 255, 255}, {255}, {0x00}},
      {"frame", 336, 1200, {0, 0, 0}, {0}, {0x80}},
      {"yellow bar", 1800, 1200, {255, 255, 0}, {luminance({255, 255, 0})}, {0x00}},
      {"blue bar", 7400, 1200, {0, 0, 255}, {luminance({0, 0, 255})}, {0x80}},
      {"red disc", 3000, 9600, {220, 30, 30}, {luminance({220, 30, 30})}, {0x80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    for (auto [composition, expected] :
         {std::pair{Composition::Color, c.colour}, std::pair{Composition::Grayscale, c.grey},
          std::pair{Composition::Lineart, c.line_art}}) {
      start(make_window(0, 75, c.x, c.y, 16, 16, composition));
      EXPECT_EQ(read_all(64), expected) << int(composition);
    }
  }
}

TEST_F(ScannerTest, LineArtPacksFromTheTopBitWithBlackAsOneAndZeroPadding) {
  // Ten pixels at 100 dpi across the frame's left side, which is 0.1 inch of black.
  ScanWindow w = make_window(0, 100, 300, 1200, 120, 12, Composition::Lineart);
  start(w);
  EXPECT_EQ(read_all(64), (Bytes{0xFF, 0xC0}));
  w.reverse_image = true;  // RIF inverts the pixels, not the padding
  start(w);
  EXPECT_EQ(read_all(64), (Bytes{0x00, 0x00}));
}

TEST_F(ScannerTest, ReadingInPiecesGivesTheSameBytes) {
  // 200 pixels of colour: 600 bytes a line, 50 lines.
  const ScanWindow w =
      make_window(0, 100, kInch / 2, 2 * kInch, 2 * kInch, kInch / 2, Composition::Color);
  const Bytes whole = render_test_chart(pixels_of(w));
  for (std::uint32_t piece : {1u, 7u, 599u, 600u, 601u, 4096u, 30000u, 50000u}) {
    SCOPED_TRACE(piece);
    start(w);
    const Bytes image = read_all(piece);
    EXPECT_TRUE(image == whole);
    EXPECT_FALSE(scanner.scanning()) << "the scan ends with its last byte";
  }
}

TEST_F(ScannerTest, AReadPastTheEndReturnsTheRestWithTheResidue) {
  start(make_window(0, 75, 0, 0, 160, 160));  // 10 x 10 grey pixels
  ASSERT_EQ(run(scanner, read_cdb(30)).status, scsi::status::GOOD);
  const Exchange last = run(scanner, read_cdb(100));
  EXPECT_EQ(last.status, scsi::status::CHECK_CONDITION);
  EXPECT_EQ(last.data_in.size(), 70u);
  const Bytes raw = run(scanner, cdb6(scsi::op::REQUEST_SENSE, 0, 0, 0, 18)).data_in;
  EXPECT_TRUE(ili(raw));
  EXPECT_EQ(decode_sense(raw), (SenseView{sk::NO_SENSE, 0, 0, true, 30}));
  EXPECT_EQ(run_for_sense(scanner, read_cdb(1)).sense,
            sense(sk::ILLEGAL_REQUEST, scsi::asc::COMMAND_SEQUENCE_ERROR))
      << "nothing is left to read once the image is out";
}

// --- Time ------------------------------------------------------------------------------

TEST_F(ScannerTest, LinesTakeTimeByWidthAndColour) {
  struct Case {
    Composition composition;
    std::uint32_t top;  // 1/1200 inch
    TimeNs line_ns;
    TimeNs first_line_ns;  // from SCAN's arrival
  };
  // 100 pixels: 1 ms exposure per channel and 10 us of readout per line;
  // 10 ms for the motor and 100 ms an inch of travel to the window's top.
  const Case cases[] = {
      {Composition::Grayscale, 0, 1'010'000, kCommandNs + 10'000'000 + 1'010'000},
      {Composition::Lineart, 2 * kInch, 1'010'000, kCommandNs + 210'000'000 + 1'010'000},
      {Composition::Color, kInch / 2, 3'010'000, kCommandNs + 60'000'000 + 3'010'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.composition));
    const ScanWindow w = make_window(0, 100, 0, c.top, kInch, kInch, c.composition);
    const std::uint32_t line_bytes = pixels_of(w).bytes_per_line();
    start(w);
    const TimeNs scan_ns = clock.now_ns();

    EXPECT_EQ(available(unit_buffer_status(false)), 0u);
    clock.advance_to(scan_ns + c.first_line_ns - 1);
    EXPECT_EQ(available(unit_buffer_status(false)), 0u);
    clock.advance_to(scan_ns + c.first_line_ns);
    EXPECT_EQ(available(unit_buffer_status(false)), line_bytes);
    clock.advance_by(2 * c.line_ns);
    EXPECT_EQ(available(unit_buffer_status(false)), 3 * line_bytes);

    // Reading what is there takes no waiting; the next line is waited for.
    EXPECT_EQ(run(scanner, read_cdb(3 * line_bytes)).latency_ns, kCommandNs);
    EXPECT_EQ(available(unit_buffer_status(false)), 0u);
    TimeNs waited_ns = 0;
    EXPECT_EQ(available(unit_buffer_status(true, &waited_ns)), line_bytes);
    EXPECT_EQ(waited_ns, kCommandNs + c.line_ns);
    EXPECT_EQ(run(scanner, read_cdb(2 * line_bytes)).latency_ns, kCommandNs + 2 * c.line_ns);
  }
}

TEST_F(ScannerTest, BufferStatusReportsTheBufferSize) {
  const Bytes status = unit_buffer_status(false);
  ASSERT_EQ(status.size(), 10u);
  EXPECT_EQ(status[2], 7) << "length of what follows";
  EXPECT_EQ((std::uint32_t{status[4]} << 16) | (status[5] << 8) | status[6],
            Scanner::kDataBufferBytes);
  EXPECT_EQ(available(status), 0u) << "no scan, nothing to read";
}

TEST_F(ScannerTest, UnloadSendsTheCarriageHomeAndEndsTheScan) {
  // The window's top is 2 inches down; 50 lines at 100 dpi are another half inch.
  const ScanWindow w = make_window(0, 100, 0, 2 * kInch, kInch, kInch);
  start(w);
  clock.advance_by(kCommandNs + 210'000'000 + 50 * 1'010'000);  // 50 lines scanned
  const Exchange unload = run(scanner, object_position_cdb(0));
  EXPECT_EQ(unload.status, scsi::status::GOOD);
  EXPECT_EQ(unload.latency_ns, kCommandNs + 250'000'000) << "2.5 inches at 100 ms an inch";
  EXPECT_FALSE(scanner.scanning());
  EXPECT_EQ(run_for_sense(scanner, read_cdb(1)).sense,
            sense(sk::ILLEGAL_REQUEST, scsi::asc::COMMAND_SEQUENCE_ERROR));
  EXPECT_EQ(run(scanner, object_position_cdb(1)).status, scsi::status::GOOD)
      << "load: the page is on the glass already";
  EXPECT_EQ(run(scanner, object_position_cdb(0)).latency_ns, kCommandNs) << "already home";
}

// --- Measurement unit ---------------------------------------------------------------------

TEST_F(ScannerTest, MeasurementUnitPageReadsAndChanges) {
  Exchange sensed = run(scanner, mode_sense(0x03));
  ASSERT_EQ(sensed.status, scsi::status::GOOD);
  EXPECT_EQ(sensed.data_in, (Bytes{11, 0, 0, 0, 0x03, 6, 0, 0, 0x04, 0xB0, 0, 0}))
      << "inches / 1200, no block descriptor";
  EXPECT_EQ(run(scanner, mode_sense(0x43)).data_in,
            (Bytes{11, 0, 0, 0, 0x03, 6, 0xFF, 0, 0xFF, 0xFF, 0, 0}))
      << "changeable: the unit and the divisor";

  ASSERT_EQ(run(scanner, mode_select_cdb(12), unit_page(1, 10)).status, scsi::status::GOOD);
  EXPECT_EQ(run(scanner, mode_sense(0x03)).data_in,
            (Bytes{11, 0, 0, 0, 0x03, 6, 1, 0, 0, 10, 0, 0}));
  EXPECT_EQ(scanner.window(0)->width, 2159u) << "window 0 is the whole glass again, in 0.1 mm";
  EXPECT_EQ(scanner.window(0)->length, 2971u);
}

TEST_F(ScannerTest, TheSameAreaInAnyUnitScansTheSame) {
  struct Case {
    const char* unit;
    std::uint8_t basic;
    std::uint16_t divisor;
    std::uint32_t inch;  // one inch in that unit
  };
  const Case cases[] = {{"1/1200 inch", 0, 1200, 1200},
                        {"inch", 0, 1, 1},
                        {"0.1 mm", 1, 10, 254},
                        {"point", 2, 1, 72}};
  const Bytes expected =
      render_test_chart(pixels_of(make_window(0, 100, kInch, kInch, 2 * kInch, kInch)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    ASSERT_EQ(run(scanner, mode_select_cdb(12), unit_page(c.basic, c.divisor)).status,
              scsi::status::GOOD);
    start(make_window(0, 100, c.inch, c.inch, 2 * c.inch, c.inch));
    EXPECT_TRUE(read_all(1 << 16) == expected);
  }
}

TEST_F(ScannerTest, ResetForgetsTheScanTheWindowsAndTheUnit) {
  ASSERT_EQ(run(scanner, mode_select_cdb(12), unit_page(2, 1)).status, scsi::status::GOOD);
  start(make_window(1, 100, 0, 0, 72, 72));
  scanner.reset();
  EXPECT_FALSE(scanner.scanning());
  EXPECT_FALSE(scanner.window(1).has_value());
  EXPECT_EQ(scanner.measurement_unit().divisor, 1200);
}

// --- Making one ------------------------------------------------------------------------------

TEST(ScannerFactory, AScannerIsTypeSixAndNeedsTheClock) {
  DeviceConfig config;
  config.kind = DeviceConfig::Kind::Scanner;
  std::string error;
  EXPECT_EQ(make_logical_unit(config, error), nullptr);
  EXPECT_NE(error.find("scanner"), std::string::npos) << error;

  Clock clock;
  auto unit = make_logical_unit(config, error, &clock);
  ASSERT_NE(unit, nullptr) << error;
  const Bytes answer = run(*unit, inquiry(36)).data_in;
  EXPECT_EQ(answer[0], scsi::device_type::SCANNER);
  EXPECT_EQ(answer[1], 0) << "not removable";
}

#if QZR_HAVE_PNG

// A 4 x 3 picture, each pixel its own colour; one corner fully transparent.
class PngScanTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kWidth = 4, kHeight = 3;
  static Rgb colour(std::uint32_t column, std::uint32_t row) {
    return Rgb{static_cast<std::uint8_t>(40 * column + 10), static_cast<std::uint8_t>(60 * row + 5),
               static_cast<std::uint8_t>(200 - 30 * column)};
  }
  std::string write_picture() {
    std::vector<std::uint8_t> rgba;
    for (std::uint32_t row = 0; row < kHeight; ++row) {
      for (std::uint32_t column = 0; column < kWidth; ++column) {
        const Rgb c = colour(column, row);
        const bool clear = row == kHeight - 1 && column == kWidth - 1;
        rgba.insert(rgba.end(), {c.r, c.g, c.b, static_cast<std::uint8_t>(clear ? 0 : 255)});
      }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGBA;
    const std::string path = dir.file("picture.png");
    EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr))
        << image.message;
    return path;
  }

  ScratchDir dir;
  Clock clock;
};

TEST_F(PngScanTest, ThePictureCoversTheGlass) {
  DeviceConfig config;
  config.kind = DeviceConfig::Kind::Scanner;
  config.image_path = write_picture();
  std::string error;
  auto unit = make_logical_unit(config, error, &clock);
  ASSERT_NE(unit, nullptr) << error;
  auto& scanner = static_cast<Scanner&>(*unit);

  // One 75-dpi pixel in the middle of each picture pixel.
  for (std::uint32_t row = 0; row < kHeight; ++row) {
    for (std::uint32_t column = 0; column < kWidth; ++column) {
      SCOPED_TRACE(::testing::Message() << column << "," << row);
      const std::uint32_t x = (2 * column + 1) * 10200 / (2 * kWidth);
      const std::uint32_t y = (2 * row + 1) * 14040 / (2 * kHeight);
      const Bytes list = window_list({make_window(0, 75, x, y, 16, 16, Composition::Color)});
      ASSERT_EQ(run(scanner, set_window_cdb(48), list).status, scsi::status::GOOD);
      ASSERT_EQ(run(scanner, scan_cdb(0)).status, scsi::status::GOOD);
      const Rgb c = row == kHeight - 1 && column == kWidth - 1 ? Rgb{} : colour(column, row);
      EXPECT_EQ(run(scanner, read_cdb(3)).data_in, (Bytes{c.r, c.g, c.b}));
    }
  }
}

TEST_F(PngScanTest, AnUnreadablePictureIsRefusedByName) {
  DeviceConfig config;
  config.kind = DeviceConfig::Kind::Scanner;
  config.image_path = dir.write_file("not.png", {1, 2, 3, 4});
  std::string error;
  EXPECT_EQ(make_logical_unit(config, error, &clock), nullptr);
  EXPECT_NE(error.find("not.png"), std::string::npos) << error;
  config.image_path = dir.file("missing.png");
  EXPECT_EQ(make_logical_unit(config, error, &clock), nullptr);
  EXPECT_NE(error.find("missing.png"), std::string::npos) << error;
}

#else

TEST(ScannerFactory, ThisBuildRefusesAPictureClearly) {
  DeviceConfig config;
  config.kind = DeviceConfig::Kind::Scanner;
  config.image_path = "page.png";
  Clock clock;
  std::string error;
  EXPECT_EQ(make_logical_unit(config, error, &clock), nullptr);
  EXPECT_NE(error.find("cannot read PNG"), std::string::npos) << error;
}

#endif

// --- Over the bus ------------------------------------------------------------------------------

TEST(ScannerOnTheBus, SetWindowScanAndReadThroughATarget) {
  Clock clock{3};
  ScsiBus bus{clock};
  TestInitiator initiator{clock, bus, 7};
  TargetSettings settings;
  settings.id = 2;
  settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  ScsiTarget::Units units;
  units[0] = std::make_unique<Scanner>(Identity{}, UnitTimings{}, false, kTimings,
                                       std::make_unique<TestChart>(), clock);
  ScsiTarget target{clock, bus, settings, std::move(units)};

  const ScanWindow w = make_window(0, 100, kInch / 2, kInch / 2, kInch, kInch / 2);
  const Bytes list = window_list({w});
  EXPECT_EQ(initiator.run_command(2, 0, set_window_cdb(48), list, true).status, scsi::status::GOOD);
  EXPECT_EQ(initiator.run_command(2, 0, scan_cdb(1), Bytes{0}, true).status, scsi::status::GOOD);
  const TimeNs scan_ns = clock.now_ns();

  const std::uint32_t total = static_cast<std::uint32_t>(pixels_of(w).total_bytes());
  const auto first = initiator.run_command(2, 0, read_cdb(total / 2), {}, true);
  const auto second = initiator.run_command(2, 0, read_cdb(total - total / 2), {}, true);
  EXPECT_EQ(first.status, scsi::status::GOOD);
  EXPECT_EQ(second.status, scsi::status::GOOD);
  Bytes image = first.data_in;
  image.insert(image.end(), second.data_in.begin(), second.data_in.end());
  EXPECT_TRUE(image == render_test_chart(pixels_of(w)));
  // 50 lines of 100 pixels, after 10 ms of motor and half an inch of travel.
  EXPECT_GE(clock.now_ns() - scan_ns, 10'000'000u + 50'000'000u + 50 * 1'010'000u);
}

}  // namespace
}  // namespace qzr::hw
