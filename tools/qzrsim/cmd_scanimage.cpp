// scanimage: the whole glass scanned through torvik, as a scanner
// application would (SET WINDOW, SCAN, READ in pieces), to a PNG file.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qzrsim/aspi_client.h"
#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"
#include "tools/qzrsim/text.h"

#ifdef QZRSIM_PNG
#include <png.h>
#endif

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim scanimage OUT.png [--dpi N] [--mode lineart|gray|color]\n"
    "\n"
    "Boots the machine, loads torvik and scans the whole glass (8.5 x 11.7 inch)\n"
    "through it: the NT scanner device, the port driver, the miniport, the\n"
    "board and the scanner. Writes the page to OUT.png; lineart is written as\n"
    "grey. On a terminal a progress line shows on standard error.\n"
    "\n"
    "  --dpi N    resolution (default 100); the scanner offers 75, 100, 150,\n"
    "             200, 300 and 600 and refuses others\n"
    "  --mode M   lineart, gray (default) or color\n"
    "\n"
    "Exit 1 when there is no scanner or a command fails.\n";

#ifdef QZRSIM_PNG
constexpr unsigned kUnitsPerInch = 1200;
constexpr unsigned kGlassWidthUnits = kUnitsPerInch * 85 / 10;
constexpr unsigned kGlassLengthUnits = kUnitsPerInch * 117 / 10;
constexpr unsigned kPieceBytes = 16384;

void put_be(std::vector<std::uint8_t>& out, std::size_t at, unsigned value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8) out[at + i] = static_cast<std::uint8_t>(value);
}

int step_failed(const char* step, const SRB_ExecSCSICmd& srb, ULONG status) {
  std::string text = std::string(step) + " failed: " + aspi_status_name(status);
  if (srb.SRB_TargStat) {
    text += ", target status " + hex8(srb.SRB_TargStat) + ", sense " +
            describe_sense(std::span<const std::uint8_t>(srb.SenseArea));
  }
  return fail(kExitFailed, text);
}

#endif

int run(Session& session, Args& args) {
  const auto dpi_text = args.option("--dpi");
  const auto mode_text = args.option("--mode");
  const auto words = args.positionals();
  args.finish();
  if (words.size() != 1) throw UsageError{"give one output file"};
  const std::string path = words.front();
  const auto dpi = static_cast<unsigned>(dpi_text ? parse_number("--dpi", *dpi_text, 1200) : 100);
  if (dpi == 0) throw UsageError{"--dpi takes a number from 1 to 1200, not '0'"};
  const std::string mode = mode_text.value_or("gray");
  std::uint8_t composition = 2, bits = 8;
  if (mode == "lineart") {
    composition = 0, bits = 1;
  } else if (mode == "color") {
    composition = 5, bits = 24;
  } else if (mode != "gray") {
    throw UsageError{"--mode takes lineart, gray or color, not '" + mode + "'"};
  }
#ifndef QZRSIM_PNG
  (void)session;
  (void)composition;
  (void)bits;
  return fail(kExitFailed, "scanimage writes PNG files, which this 32-bit build cannot");
#else
  std::string error;
  if (!session.machine(error)) return fail(kExitMachine, error);
  const AspiLibrary* aspi = load_aspi(error);
  if (!aspi) return fail(kExitFailed, error);
  if ((aspi->GetASPI32SupportInfo() & 0xFF) == 0) {
    return fail(kExitFailed, "torvik found no host adapter with a scanner");
  }

  // The scanner is the target that answers as type 6.
  SRB_ExecSCSICmd srb;
  std::uint8_t scanner = 0xFF;
  for (std::uint8_t id = 0; id < 8 && scanner == 0xFF; ++id) {
    std::uint8_t answer[36] = {};
    const std::uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof answer, 0};
    if (aspi_exec(*aspi, srb, id, cdb, sizeof cdb, answer, sizeof answer, true) == SS_COMP &&
        (answer[0] & 0x1F) == 6) {
      scanner = id;
    }
  }
  if (scanner == 0xFF) return fail(kExitFailed, "no scanner answers through torvik");

  std::vector<std::uint8_t> window(8 + 40, 0);
  window[7] = 40;
  put_be(window, 8 + 2, dpi, 2);
  put_be(window, 8 + 4, dpi, 2);
  put_be(window, 8 + 14, kGlassWidthUnits, 4);
  put_be(window, 8 + 18, kGlassLengthUnits, 4);
  window[8 + 25] = composition;
  window[8 + 26] = bits;
  const std::uint8_t set_window[10] = {
      0x24, 0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(window.size()), 0};
  if (ULONG s = aspi_exec(*aspi, srb, scanner, set_window, sizeof set_window, window.data(),
                          static_cast<ULONG>(window.size()), false);
      s != SS_COMP) {
    return step_failed("SET WINDOW", srb, s);
  }
  const std::uint8_t scan[6] = {0x1B, 0, 0, 0, 0, 0};
  if (ULONG s = aspi_exec(*aspi, srb, scanner, scan, sizeof scan, nullptr, 0, false);
      s != SS_COMP) {
    return step_failed("SCAN", srb, s);
  }

  const unsigned width = kGlassWidthUnits * dpi / kUnitsPerInch;
  const unsigned lines = kGlassLengthUnits * dpi / kUnitsPerInch;
  const unsigned line_bytes = bits == 1 ? (width + 7) / 8 : width * bits / 8;
  std::vector<std::uint8_t> image(std::size_t{line_bytes} * lines);
  const bool progress = isatty(fileno(stderr));
  for (std::size_t at = 0; at < image.size(); at += kPieceBytes) {
    const auto piece = static_cast<unsigned>(std::min<std::size_t>(kPieceBytes, image.size() - at));
    const std::uint8_t read[10] = {0x28,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   static_cast<std::uint8_t>(piece >> 16),
                                   static_cast<std::uint8_t>(piece >> 8),
                                   static_cast<std::uint8_t>(piece),
                                   0};
    if (ULONG s = aspi_exec(*aspi, srb, scanner, read, sizeof read, image.data() + at, piece, true);
        s != SS_COMP) {
      if (progress) std::fputc('\n', stderr);
      return step_failed("READ", srb, s);
    }
    if (progress) {
      std::fprintf(stderr, "\rscanning %s at %u dpi: %3zu%%", mode.c_str(), dpi,
                   (at + piece) * 100 / image.size());
    }
  }
  if (progress) std::fputc('\n', stderr);

  std::vector<std::uint8_t> pixels;
  if (bits == 1) {
    // 1 = black in lineart.
    pixels.resize(std::size_t{width} * lines);
    for (unsigned y = 0; y < lines; ++y) {
      for (unsigned x = 0; x < width; ++x) {
        const bool black = (image[std::size_t{y} * line_bytes + x / 8] >> (7 - x % 8)) & 1;
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
  if (!png_image_write_to_file(&png, path.c_str(), 0, pixels.data(), 0, nullptr)) {
    return fail(kExitFailed, "cannot write " + path + ": " + png.message);
  }
  std::printf("%s: %u x %u pixels at %u dpi, %s, scanner at ID %u\n", path.c_str(), width, lines,
              dpi, mode.c_str(), scanner);
  return kExitOk;
#endif
}

}  // namespace

const Command kScanImageCommand = {"scanimage", "scan the page through torvik to a PNG file",
                                   kUsage, run};

}  // namespace qzr::qzrsim
