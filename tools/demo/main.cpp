// ./qzr demo: the built-in default machine, driven through the board's
// registers with no driver at all. An INQUIRY of the disk at ID 0 goes over
// the simulated bus phase by phase; the answer is printed and the bus trace
// written as a VCD waveform. Then every ID is asked who it is.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "hw/machine.h"
#include "hw/population.h"
#include "tools/rawscsi/raw_initiator.h"

namespace {

using qzr::hw::kNsPerMs;

constexpr const char* kUsage =
    "usage: qzr_demo [--dir DIR] [--seed N]\n"
    "\n"
    "Builds the default machine (disk at ID 0, scanner at ID 2, CD-ROM at ID 3,\n"
    "tape at ID 4, removable disk at ID 5),\n"
    "sends INQUIRY to the disk through the QZR6140's registers with no driver,\n"
    "prints every bus phase and the answer, and writes the bus trace to\n"
    "DIR/inquiry.vcd (open it with gtkwave). Images live in DIR (default\n"
    "out/demo) and are created when missing.\n";

std::string printable(const std::vector<std::uint8_t>& data, std::size_t from, std::size_t n) {
  std::string s;
  for (std::size_t i = from; i < from + n && i < data.size(); ++i) {
    s += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<char>(data[i]) : '.';
  }
  return s;
}

// An INQUIRY text field, without its space padding.
std::string text_field(const std::vector<std::uint8_t>& data, std::size_t from, std::size_t n) {
  std::string s = printable(data, from, n);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void hex_dump(const std::vector<std::uint8_t>& data) {
  for (std::size_t row = 0; row < data.size(); row += 16) {
    std::printf("    %04zx ", row);
    for (std::size_t i = row; i < row + 16; ++i) {
      if (i < data.size())
        std::printf(" %02x", data[i]);
      else
        std::printf("   ");
    }
    std::printf("  |%s|\n", printable(data, row, 16).c_str());
  }
}

const char* type_name(std::uint8_t type) {
  static const char* const kNames[] = {
      "direct access", "sequential access", "printer",        "processor",      "write-once",
      "CD-ROM",        "scanner",           "optical memory", "medium changer", "communications"};
  return type < 10 ? kNames[type] : "other";
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path dir = "out/demo";
  std::uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((arg == "--dir" || arg == "--seed") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--dir") {
        dir = value;
      } else {
        char* end = nullptr;
        seed = std::strtoull(value.c_str(), &end, 0);
        if (value.empty() || *end) {
          std::fprintf(stderr, "qzr_demo: --seed takes a number, not '%s'\n", value.c_str());
          return 2;
        }
      }
      continue;
    }
    std::fprintf(stderr, "qzr_demo: unknown argument '%s'\n%s", arg.c_str(), kUsage);
    return 2;
  }

  std::string error;
  if (!qzr::hw::prepare_default_images(dir, error)) {
    std::fprintf(stderr, "qzr_demo: %s\n", error.c_str());
    return 1;
  }
  qzr::hw::MachineSettings settings;
  settings.seed = seed;
  qzr::hw::Machine machine(settings);
  const auto population = qzr::hw::default_population(dir);
  if (!qzr::hw::populate(machine, population, error)) {
    std::fprintf(stderr, "qzr_demo: %s\n", error.c_str());
    return 1;
  }

  std::printf("QZR6140 at PCI slot %d, I/O 0x%04X-0x%04X, interrupt line %u\n",
              machine.board_slot(), machine.board_io_base(), machine.board_io_base() + 31,
              settings.interrupt_line);
  std::printf(
      "Bus: disk at ID 0, CD-ROM at ID 3, tape at ID 4, removable disk at ID 5;"
      " the adapter is ID 7\n\n");

  qzr::rawscsi::RawInitiator initiator(machine.pci(), machine.clock(), machine.board_io_base());
  initiator.reset_board();

  qzr::rawscsi::Request inquiry;
  inquiry.target = 0;
  inquiry.cdb = {0x12, 0x00, 0x00, 0x00, 36, 0x00};
  inquiry.data_in_bytes = 36;
  const auto t0 = machine.clock().now_ns();
  const auto accesses0 = machine.pci().port_accesses();
  const auto result = initiator.run(inquiry);
  const auto elapsed_ns = machine.clock().now_ns() - t0;

  std::printf("INQUIRY to target 0, through the registers:\n");
  for (const auto& line : result.transcript) std::printf("  %s\n", line.c_str());
  std::printf("  => %s, status 0x%02X, %zu bytes, %.1f us of virtual time, %llu port accesses\n\n",
              qzr::rawscsi::outcome_name(result.outcome), result.status, result.data_in.size(),
              static_cast<double>(elapsed_ns) / 1000.0,
              static_cast<unsigned long long>(machine.pci().port_accesses() - accesses0));
  if (result.outcome != qzr::rawscsi::Outcome::Completed || result.data_in.size() < 36) {
    std::fprintf(stderr, "qzr_demo: the INQUIRY did not complete: %s\n", result.error.c_str());
    return 1;
  }
  hex_dump(result.data_in);
  const auto& d = result.data_in;
  std::printf("\n  peripheral type %u (%s), ANSI version %u, removable %s\n", d[0] & 0x1F,
              type_name(d[0] & 0x1F), d[2] & 7, (d[1] & 0x80) ? "yes" : "no");
  std::printf("  vendor \"%s\", product \"%s\", revision \"%s\"\n\n", text_field(d, 8, 8).c_str(),
              text_field(d, 16, 16).c_str(), text_field(d, 32, 4).c_str());

  const auto vcd = dir / "inquiry.vcd";
  if (!machine.bus().trace().write_vcd_file(vcd.string(), error)) {
    std::fprintf(stderr, "qzr_demo: %s\n", error.c_str());
    return 1;
  }
  std::printf("Bus trace: %llu changes written to %s (open with: gtkwave %s)\n\n",
              static_cast<unsigned long long>(machine.bus().trace().changes()), vcd.c_str(),
              vcd.c_str());

  std::printf("Who is on the bus:\n  ID  type                vendor    product           rev\n");
  for (std::uint8_t id = 0; id < 7; ++id) {
    qzr::rawscsi::Request ask = inquiry;
    ask.target = id;
    const auto answer = initiator.run(ask);
    if (answer.outcome != qzr::rawscsi::Outcome::Completed || answer.data_in.size() < 36) {
      std::printf("  %u   (%s)\n", id, qzr::rawscsi::outcome_name(answer.outcome));
      continue;
    }
    const auto& a = answer.data_in;
    std::printf("  %u   %-19s %-9s %-17s %s\n", id, type_name(a[0] & 0x1F),
                text_field(a, 8, 8).c_str(), text_field(a, 16, 16).c_str(),
                text_field(a, 32, 4).c_str());
  }
  std::printf("\nVirtual time %.3f ms; guest errors: %zu\n",
              static_cast<double>(machine.clock().now_ns()) / kNsPerMs,
              machine.guest_errors().entries().size());
  if (!machine.guest_errors().empty()) std::fputs(machine.guest_errors().format().c_str(), stdout);
  return machine.guest_errors().empty() ? 0 : 1;
}
