// Scans the whole glass through the ASPI interface and writes the page to a
// PNG file: an ASPI client like any other, on the machine the runtime boots.
//
//   qzr_aspi_scan OUTPUT.png [DPI] [lineart|gray|color]
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "aspi_srb.h"

namespace {

constexpr unsigned kUnitsPerInch = 1200;
constexpr unsigned kGlassWidthUnits = kUnitsPerInch * 85 / 10;    // 8.5 inch
constexpr unsigned kGlassLengthUnits = kUnitsPerInch * 117 / 10;  // 11.7 inch
constexpr unsigned kPieceBytes = 16384;

UCHAR scanner_id = 0xFF;

ULONG send(const std::vector<UCHAR>& cdb, UCHAR* buffer, ULONG bytes, bool in,
           SRB_ExecSCSICmd& srb) {
  std::memset(&srb, 0, sizeof srb);
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_Flags = in ? SRB_DIR_IN : SRB_DIR_OUT;
  srb.SRB_Target = scanner_id;
  srb.SRB_BufLen = bytes;
  srb.SRB_BufPointer = buffer;
  srb.SRB_SenseLen = 14;
  srb.SRB_CDBLen = static_cast<UCHAR>(cdb.size());
  std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
  return SendASPI32Command(reinterpret_cast<LPSRB>(&srb));
}

void fail(const char* step, const SRB_ExecSCSICmd& srb) {
  std::fprintf(stderr, "%s failed: status 0x%02X, sense key %u, ASC 0x%02X\n", step, srb.SRB_Status,
               srb.SenseArea[2] & 0x0Fu, srb.SenseArea[12]);
}

void put_be(std::vector<UCHAR>& out, std::size_t at, unsigned value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8) out[at + i] = static_cast<UCHAR>(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [DPI] [lineart|gray|color]\n", argv[0]);
    return 2;
  }
  const unsigned dpi = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 100;
  const std::string mode = argc > 3 ? argv[3] : "gray";
  UCHAR composition = 2, bits = 8;
  if (mode == "lineart") composition = 0, bits = 1;
  if (mode == "color") composition = 5, bits = 24;

  if ((GetASPI32SupportInfo() & 0xFF) == 0) {
    std::fprintf(stderr, "no ASPI host adapter\n");
    return 1;
  }
  // The scanner is the one target that answers as type 6.
  SRB_ExecSCSICmd srb;
  for (UCHAR id = 0; id < 8 && scanner_id == 0xFF; ++id) {
    UCHAR inquiry[36] = {};
    scanner_id = id;
    if (send({0x12, 0, 0, 0, 36, 0}, inquiry, 36, true, srb) != SS_COMP || inquiry[0] != 6) {
      scanner_id = 0xFF;
    }
  }
  if (scanner_id == 0xFF) {
    std::fprintf(stderr, "no scanner\n");
    return 1;
  }

  // SET WINDOW: window 0, the whole glass.
  std::vector<UCHAR> window(8 + 40, 0);
  window[7] = 40;
  put_be(window, 8 + 2, dpi, 2);
  put_be(window, 8 + 4, dpi, 2);
  put_be(window, 8 + 14, kGlassWidthUnits, 4);
  put_be(window, 8 + 18, kGlassLengthUnits, 4);
  window[8 + 25] = composition;
  window[8 + 26] = bits;
  if (send({0x24, 0, 0, 0, 0, 0, 0, 0, static_cast<UCHAR>(window.size()), 0}, window.data(),
           static_cast<ULONG>(window.size()), false, srb) != SS_COMP) {
    fail("SET WINDOW", srb);
    return 1;
  }
  if (send({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false, srb) != SS_COMP) {
    fail("SCAN", srb);
    return 1;
  }

  const unsigned width = kGlassWidthUnits * dpi / kUnitsPerInch;
  const unsigned lines = kGlassLengthUnits * dpi / kUnitsPerInch;
  const unsigned line_bytes = bits == 1 ? (width + 7) / 8 : width * bits / 8;
  std::vector<UCHAR> image(std::size_t{line_bytes} * lines);
  for (std::size_t at = 0; at < image.size(); at += kPieceBytes) {
    const auto piece = static_cast<unsigned>(std::min<std::size_t>(kPieceBytes, image.size() - at));
    if (send({0x28, 0, 0, 0, 0, 0, static_cast<UCHAR>(piece >> 16), static_cast<UCHAR>(piece >> 8),
              static_cast<UCHAR>(piece), 0},
             image.data() + at, piece, true, srb) != SS_COMP) {
      fail("READ", srb);
      return 1;
    }
  }

  // Lineart is written as grey: 1 = black.
  std::vector<UCHAR> pixels;
  if (bits == 1) {
    pixels.resize(std::size_t{width} * lines);
    for (unsigned y = 0; y < lines; ++y) {
      for (unsigned x = 0; x < width; ++x) {
        bool black = (image[std::size_t{y} * line_bytes + x / 8] >> (7 - x % 8)) & 1;
        pixels[std::size_t{y} * width + x] = black ? 0 : 255;
      }
    }
  } else {
    pixels = std::move(image);
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = width;
  png.height = lines;
  png.format = bits == 24 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&png, argv[1], 0, pixels.data(), 0, nullptr)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], png.message);
    return 1;
  }
  std::printf("%s: %u x %u at %u dpi, %s\n", argv[1], width, lines, dpi, mode.c_str());
  return 0;
}
