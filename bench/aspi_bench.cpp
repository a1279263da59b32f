// ASPI clients on the whole stack: an A4 page scanned through torvik's
// SendASPI32Command (SET WINDOW, SCAN, READ in pieces) on the built-in
// machine, in virtual time against what the bus and the scanner allow, and
// the rate of single ASPI calls: an INQUIRY torvik answers from its cache
// and a TEST UNIT READY carried to the scanner.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hw/targets/scan_window.h"
#include "hw/targets/scanner.h"
#include "nt/runtime/machine_runtime.h"
#include "tools/common/aspi_exec_request.h"
#include "torvik.h"

namespace qzr::nt::runtime {
namespace {

constexpr UCHAR kScannerId = 2;
constexpr UCHAR kCdRomId = 3;                  // a built-in device torvik keeps inquiry data for
constexpr std::uint32_t kUnitsPerInch = 1200;  // the scanner's default measurement unit
// A4, 210 x 297 mm, in 1/1200 inch rounded down.
constexpr std::uint32_t kA4WidthUnits = 210 * kUnitsPerInch * 10 / 254;
constexpr std::uint32_t kA4LengthUnits = 297 * kUnitsPerInch * 10 / 254;
constexpr std::uint16_t kScanDpi = 300;
constexpr hw::TimeNs kFastHostPortAccessNs = 10;

// The built-in machine booted for torvik, with torvik attached to it.
class AspiRig {
 public:
  explicit AspiRig(hw::TimeNs port_access_ns = 500) {
    std::string error;
    booted_ = boot_machine(builtin_population, error);
    if (!booted_) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    booted_->machine.pci().set_port_access_ns(port_access_ns);
    booted_->machine.bus().trace().set_retention_limit(0);
    NumberOfHostAdapters = 0;
    ScannerSCSIID = NO_SCANNER;
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    if (ScannerSCSIID != kScannerId) {
      std::fprintf(stderr, "torvik found no scanner at ID %u\n", kScannerId);
      std::abort();
    }
  }
  ~AspiRig() { io::install_namespace(nullptr); }
  AspiRig(const AspiRig&) = delete;
  AspiRig& operator=(const AspiRig&) = delete;

  hw::Machine& machine() { return booted_->machine; }
  scsiport::PortDevice& port() { return booted_->port_driver.port(0); }
  hw::TimeNs now_ns() { return booted_->machine.clock().now_ns(); }
  const hw::Scanner& scanner() {
    return dynamic_cast<const hw::Scanner&>(*machine().target(kScannerId)->unit(0));
  }

  ULONG send(UCHAR target, std::vector<UCHAR> cdb, UCHAR* buffer, ULONG bytes, bool in) {
    qzr::tools::fill_exec_request(srb_, target, cdb.data(), cdb.size(), buffer, bytes, in);
    return SendASPI32Command(reinterpret_cast<LPSRB>(&srb_));
  }

  // SET WINDOW and SCAN; false with `failed` naming the step.
  bool start_scan(const hw::ScanWindow& window, const char*& failed) {
    std::vector<UCHAR> parameters(hw::ScanWindow::kHeaderBytes, 0);
    parameters[7] = hw::ScanWindow::kDescriptorBytes;
    const auto descriptor = window.encode();
    parameters.insert(parameters.end(), descriptor.begin(), descriptor.end());
    const auto length = static_cast<UCHAR>(parameters.size());
    if (send(kScannerId, {0x24, 0, 0, 0, 0, 0, 0, 0, length, 0}, parameters.data(), length,
             false) != SS_COMP) {
      failed = "SET WINDOW";
      return false;
    }
    if (send(kScannerId, {0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false) != SS_COMP) {
      failed = "SCAN";
      return false;
    }
    return true;
  }

  bool read(UCHAR* data, std::uint32_t bytes) {
    return send(kScannerId,
                {0x28, 0, 0, 0, 0, 0, static_cast<UCHAR>(bytes >> 16),
                 static_cast<UCHAR>(bytes >> 8), static_cast<UCHAR>(bytes), 0},
                data, bytes, true) == SS_COMP;
  }

 private:
  std::unique_ptr<BootedMachine> booted_;
  SRB_ExecSCSICmd srb_;
};

hw::ScanWindow a4_gray_window() {
  hw::ScanWindow window;
  window.x_resolution_dpi = window.y_resolution_dpi = kScanDpi;
  window.width = kA4WidthUnits;
  window.length = kA4LengthUnits;
  window.composition = 2;
  window.bits_per_pixel = 8;
  return window;
}

// The Data In handshake rate of one scanner READ, first REQ to last, on a
// host fifty times faster than the default, where the host buffer never
// holds the scanner back: the bus's own limit for image data. 0 if the
// scan or the READ failed.
double scanner_data_in_limit_mbps() {
  AspiRig rig(kFastHostPortAccessNs);
  hw::ScanWindow window = a4_gray_window();
  window.length = kUnitsPerInch / 2;
  const char* failed = nullptr;
  if (!rig.start_scan(window, failed)) return 0;
  // The miniport's polls are counted in port accesses, so on this host they
  // give up fifty times sooner: let the carriage scan the window first, so
  // the READ waits for nothing but the bus.
  const auto pixels = hw::pixel_window(window, rig.scanner().measurement_unit());
  if (!pixels) return 0;
  rig.machine().clock().advance_by(rig.scanner().start_delay_ns(*pixels) +
                                   pixels->lines * rig.scanner().line_ns(*pixels));
  std::vector<UCHAR> data(65'536);
  hw::BusTrace& trace = rig.machine().bus().trace();
  trace.clear();
  trace.set_retention_limit(10'000'000);
  if (!rig.read(data.data(), static_cast<std::uint32_t>(data.size()))) return 0;
  hw::TimeNs first = 0, last = 0;
  std::uint64_t bytes = 0;
  std::uint16_t previous = 0;
  for (const hw::TraceEntry& e : trace.entries()) {
    const bool req_rises = (e.signals & hw::sig::REQ) && !(previous & hw::sig::REQ);
    previous = e.signals;
    if (!req_rises ||
        (e.signals & (hw::sig::PHASE | hw::sig::BSY)) != (hw::sig::IO | hw::sig::BSY)) {
      continue;
    }
    if (bytes++ == 0) first = e.time_ns;
    last = e.time_ns;
  }
  if (bytes < 2) return 0;
  return static_cast<double>(bytes - 1) * 1e3 / static_cast<double>(last - first);
}

// An A4 page at 300 dpi in grey (2480 x 3507 pixels, 8.7 MB), read in
// pieces of range(0) KiB as a client would. Each scan takes seconds of host
// time, so one scan per run.
void BM_AspiScanA4Gray300(benchmark::State& state) {
  const auto piece_bytes = static_cast<std::uint32_t>(state.range(0) * 1024);
  // Measured on a machine of its own, before this one boots: the two would
  // share the process's device namespace and torvik's state.
  const double bus_limit_mbps = scanner_data_in_limit_mbps();
  if (bus_limit_mbps == 0) {
    state.SkipWithError("the scanner's READ on the fast host failed");
    return;
  }
  AspiRig rig;
  const hw::ScanWindow window = a4_gray_window();
  const auto pixels = hw::pixel_window(window, rig.scanner().measurement_unit());
  if (!pixels) {
    state.SkipWithError("the scanner cannot scan an A4 window");
    return;
  }
  const std::size_t image_bytes = std::size_t{pixels->width_px} * pixels->lines;
  std::vector<UCHAR> image(image_bytes);
  hw::TimeNs virtual_ns = 0;
  for (auto _ : state) {
    const hw::TimeNs start_ns = rig.now_ns();
    const char* failed = nullptr;
    if (!rig.start_scan(window, failed)) {
      state.SkipWithError(failed);
      return;
    }
    for (std::size_t at = 0; at < image_bytes; at += piece_bytes) {
      const auto piece =
          static_cast<std::uint32_t>(std::min<std::size_t>(piece_bytes, image_bytes - at));
      if (!rig.read(image.data() + at, piece)) {
        state.SkipWithError("READ failed");
        return;
      }
    }
    virtual_ns += rig.now_ns() - start_ns;
    benchmark::DoNotOptimize(image.data());
  }
  const double virtual_s = static_cast<double>(virtual_ns) / hw::kNsPerS;
  const double scans = static_cast<double>(state.iterations());
  state.counters["virtual_s"] = virtual_s / scans;
  state.counters["virtual_s_per_host_s"] =
      benchmark::Counter(virtual_s, benchmark::Counter::kIsRate);
  state.counters["image_MBps"] = scans * static_cast<double>(image_bytes) / virtual_s / 1e6;
  state.counters["bus_limit_MBps"] = bus_limit_mbps;
  state.counters["scanner_limit_MBps"] = static_cast<double>(pixels->width_px) * 1e3 /
                                         static_cast<double>(rig.scanner().line_ns(*pixels));
  state.SetBytesProcessed(static_cast<std::int64_t>(scans * static_cast<double>(image_bytes)));
}
BENCHMARK(BM_AspiScanA4Gray300)
    ->Arg(16)
    ->Arg(64)
    ->ArgName("piece_KiB")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// One ASPI call per iteration: INQUIRY of the CD-ROM, which torvik answers
// from the inquiry data it kept at attach (range(0) 0), or TEST UNIT READY
// to the scanner through the device interface, the port driver, the miniport
// and the bus (range(0) 1).
void BM_AspiCall(benchmark::State& state) {
  const bool to_scanner = state.range(0) != 0;
  AspiRig rig;
  UCHAR inquiry[36];
  const auto start_io_calls = rig.port().start_io_calls();
  const hw::TimeNs start_ns = rig.now_ns();
  for (auto _ : state) {
    const ULONG status = to_scanner ? rig.send(kScannerId, {0x00, 0, 0, 0, 0, 0}, nullptr, 0, false)
                                    : rig.send(kCdRomId, {0x12, 0, 0, 0, 36, 0}, inquiry, 36, true);
    if (status != SS_COMP) {
      state.SkipWithError("the call failed");
      return;
    }
  }
  const bool reached_miniport = rig.port().start_io_calls() != start_io_calls;
  if (reached_miniport != to_scanner) {
    state.SkipWithError(to_scanner ? "TEST UNIT READY never reached the miniport"
                                   : "the cached INQUIRY reached the miniport");
    return;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["virtual_us_per_call"] =
      static_cast<double>(rig.now_ns() - start_ns) / 1e3 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AspiCall)->Arg(0)->Arg(1)->ArgName("to_scanner")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qzr::nt::runtime
