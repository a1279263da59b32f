// A bulk read from a disk driven by the raw register loop: how fast the host
// simulates it (virtual seconds per host second), and how fast it goes in
// virtual time against what the bus allows.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

#include "hw/machine.h"
#include "hw/population.h"
#include "tools/rawscsi/raw_initiator.h"

namespace qzr::hw {
namespace {

constexpr std::uint16_t kBlocksPerRead = 128;  // 64 KiB of 512-byte blocks
constexpr std::uint32_t kBytesPerRead = kBlocksPerRead * 512u;
constexpr TimeNs kFastHostPortAccessNs = 10;

struct DiskRig {
  std::filesystem::path dir;
  std::unique_ptr<Machine> machine;
  std::unique_ptr<rawscsi::RawInitiator> initiator;

  explicit DiskRig(TimeNs port_access_ns) {
    dir = std::filesystem::temp_directory_path() / ("qzr-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    MachineSettings settings;
    settings.port_access_ns = port_access_ns;
    machine = std::make_unique<Machine>(settings);
    machine->bus().trace().set_retention_limit(0);  // counted and hashed, not kept
    TargetConfig disk;
    disk.settings.id = 0;
    DeviceConfig unit;
    unit.image_path = (dir / "bench.img").string();
    unit.capacity_blocks = 65'536;
    unit.create_if_missing = true;
    disk.units.emplace_back(0, unit);
    std::string error;
    std::vector<TargetConfig> targets{disk};
    if (!populate(*machine, targets, error)) std::abort();
    initiator = std::make_unique<rawscsi::RawInitiator>(machine->pci(), machine->clock(),
                                                        machine->board_io_base());
    initiator->reset_board();
  }
  ~DiskRig() {
    initiator.reset();
    machine.reset();
    std::filesystem::remove_all(dir);
  }

  bool read() {
    rawscsi::Request r;
    r.cdb = {0x28, 0, 0, 0, 0, 0, 0, kBlocksPerRead >> 8, kBlocksPerRead & 0xFF, 0};
    r.data_in_bytes = kBytesPerRead;
    const auto result = initiator->run(r);
    return result.outcome == rawscsi::Outcome::Completed && result.data_in.size() == kBytesPerRead;
  }
};

// The Data In phase of one read, from its first REQ to its last: the rate the
// handshake achieved on the bus. With a host fifty times faster than the
// default (10 ns a port access) the host buffer never holds the target back,
// so that rate is the bus's own limit.
double data_phase_mbps(TimeNs port_access_ns) {
  DiskRig rig(port_access_ns);
  rig.machine->bus().trace().set_retention_limit(10'000'000);
  if (!rig.read()) return 0;
  TimeNs first = 0, last = 0;
  std::uint64_t bytes = 0;
  std::uint16_t previous = 0;
  for (const auto& e : rig.machine->bus().trace().entries()) {
    const bool req_rises = (e.signals & sig::REQ) && !(previous & sig::REQ);
    previous = e.signals;
    if (!req_rises || (e.signals & (sig::PHASE | sig::BSY)) != (sig::IO | sig::BSY)) continue;
    if (bytes++ == 0) first = e.time_ns;
    last = e.time_ns;
  }
  if (bytes < 2) return 0;
  return static_cast<double>(bytes - 1) * 1e3 / static_cast<double>(last - first);
}

void BM_BulkRead64K(benchmark::State& state) {
  const TimeNs port_access_ns = static_cast<TimeNs>(state.range(0));
  DiskRig rig(port_access_ns);
  const TimeNs start = rig.machine->clock().now_ns();
  for (auto _ : state) {
    if (!rig.read()) {
      state.SkipWithError("read failed");
      break;
    }
  }
  const double virtual_s = static_cast<double>(rig.machine->clock().now_ns() - start) / 1e9;
  const double bytes = static_cast<double>(state.iterations()) * kBytesPerRead;
  state.counters["virtual_s_per_host_s"] = benchmark::Counter(virtual_s, benchmark::Counter::kIsRate);
  state.counters["sim_MBps"] = bytes / virtual_s / 1e6;
  state.counters["data_phase_MBps"] = data_phase_mbps(port_access_ns);
  state.counters["bus_limit_MBps"] = data_phase_mbps(kFastHostPortAccessNs);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_BulkRead64K)->Arg(500)->ArgName("port_access_ns")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qzr::hw
