// The whole stack under load: 64 KiB reads and writes from a disk through the
// port driver and the miniport, in virtual time against what the bus allows,
// the share of a write's time the miniport's per-block write delay costs, and
// the host time of a full scan of the default population.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hw/machine.h"
#include "hw/population.h"
#include "nt/scsiport/port_driver.h"

// Last: its register names are macros that would clash with the model's.
#include "driver/qzr6140.h"

namespace qzr::nt::scsiport {
namespace {

constexpr const char* kRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qzr6140";
constexpr std::uint16_t kBlocksPerRequest = 128;  // 64 KiB of 512-byte blocks
constexpr std::uint32_t kBytesPerRequest = kBlocksPerRequest * 512u;
constexpr std::uint32_t kDiskBlocks = 65'536;
constexpr hw::TimeNs kFastHostPortAccessNs = 10;

std::filesystem::path bench_dir(const char* what) {
  auto dir = std::filesystem::temp_directory_path() /
             ("qzr-stack-bench-" + std::string(what) + "-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

struct StackDiskRig {
  std::filesystem::path dir = bench_dir("disk");
  std::unique_ptr<hw::Machine> machine;
  std::unique_ptr<PortDriver> port_driver;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kBytesPerRequest, 0x5A);
  std::uint32_t next_block = 0;

  StackDiskRig(hw::TimeNs port_access_ns, bool unprofiled_write_delay) {
    hw::MachineSettings settings;
    settings.port_access_ns = port_access_ns;
    machine = std::make_unique<hw::Machine>(settings);
    machine->bus().trace().set_retention_limit(0);
    hw::TargetConfig disk;
    disk.settings.id = 0;
    hw::DeviceConfig unit;
    unit.image_path = (dir / "bench.img").string();
    unit.capacity_blocks = kDiskBlocks;
    unit.create_if_missing = true;
    disk.units.emplace_back(0, unit);
    std::string error;
    std::vector<hw::TargetConfig> targets{disk};
    if (!hw::populate(*machine, targets, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    port_driver = std::make_unique<PortDriver>(*machine);
    if (!port_driver->load_miniport(QZR_MINIPORT_MODULE, kRegistryPath, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    if (unprofiled_write_delay) {
      // The same disk as if the scan had given it no write delay.
      static_cast<ADAPTER_EXTENSION*>(port_driver->port(0).device_extension())->BlockWriteDelay[0] =
          0;
    }
  }
  ~StackDiskRig() {
    port_driver.reset();
    machine.reset();
    std::filesystem::remove_all(dir);
  }

  bool transfer(bool write) {
    const std::uint32_t block = next_block;
    next_block = (next_block + kBlocksPerRequest) % kDiskBlocks;
    ScsiRequest request;
    request.cdb = {static_cast<std::uint8_t>(write ? 0x2A : 0x28),
                   0,
                   static_cast<std::uint8_t>(block >> 24),
                   static_cast<std::uint8_t>(block >> 16),
                   static_cast<std::uint8_t>(block >> 8),
                   static_cast<std::uint8_t>(block),
                   0,
                   kBlocksPerRequest >> 8,
                   kBlocksPerRequest & 0xFF,
                   0};
    request.direction = write ? DataDirection::Out : DataDirection::In;
    request.buffer = buffer;
    const RequestOutcome outcome = port_driver->execute(request);
    return outcome.srb_status == SRB_STATUS_SUCCESS && outcome.bytes == kBytesPerRequest;
  }
};

// The data phase of one transfer, first REQ to last: the handshake rate on
// the bus. With a host fifty times faster than the default the host buffer
// never holds the target back, so that is the bus's own limit.
double data_phase_mbps(hw::TimeNs port_access_ns, bool write) {
  StackDiskRig rig(port_access_ns, false);
  rig.machine->bus().trace().set_retention_limit(10'000'000);
  if (!rig.transfer(write)) return 0;
  const std::uint16_t data_phase = write ? 0 : hw::sig::IO;
  hw::TimeNs first = 0, last = 0;
  std::uint64_t bytes = 0;
  std::uint16_t previous = 0;
  for (const auto& e : rig.machine->bus().trace().entries()) {
    const bool req_rises = (e.signals & hw::sig::REQ) && !(previous & hw::sig::REQ);
    previous = e.signals;
    if (!req_rises ||
        (e.signals & (hw::sig::PHASE | hw::sig::BSY)) != (data_phase | hw::sig::BSY)) {
      continue;
    }
    if (bytes++ == 0) first = e.time_ns;
    last = e.time_ns;
  }
  if (bytes < 2) return 0;
  return static_cast<double>(bytes - 1) * 1e3 / static_cast<double>(last - first);
}

// Args: 0 read / 1 write; 1: the disk keeps the write delay its profile gave.
void BM_StackSustained64K(benchmark::State& state) {
  const bool write = state.range(0) != 0;
  const bool profiled = state.range(1) != 0;
  const hw::TimeNs port_access_ns = 500;
  StackDiskRig rig(port_access_ns, !profiled);
  const hw::TimeNs start_ns = rig.machine->clock().now_ns();
  for (auto _ : state) {
    if (!rig.transfer(write)) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  const double virtual_s =
      static_cast<double>(rig.machine->clock().now_ns() - start_ns) / hw::kNsPerS;
  const double bytes = static_cast<double>(state.iterations()) * kBytesPerRequest;
  state.counters["virtual_s_per_host_s"] =
      benchmark::Counter(virtual_s, benchmark::Counter::kIsRate);
  state.counters["sim_MBps"] = bytes / virtual_s / 1e6;
  state.counters["bus_limit_MBps"] = data_phase_mbps(kFastHostPortAccessNs, write);
  state.counters["write_delay_us"] =
      static_cast<const ADAPTER_EXTENSION*>(rig.port_driver->port(0).device_extension())
          ->BlockWriteDelay[0];
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_StackSustained64K)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 0})
    ->ArgNames({"write", "profiled"})
    ->Unit(benchmark::kMillisecond);

// Module load, board start and the scan of the default population.
void BM_StackDefaultPopulationScan(benchmark::State& state) {
  const auto dir = bench_dir("population");
  std::string error;
  if (!hw::prepare_default_images(dir, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const auto population = hw::default_population(dir);
  double virtual_s = 0;
  for (auto _ : state) {
    hw::Machine machine;
    machine.bus().trace().set_retention_limit(0);
    if (!hw::populate(machine, population, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    PortDriver port_driver(machine);
    if (!port_driver.load_miniport(QZR_MINIPORT_MODULE, kRegistryPath, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(port_driver.port(0).inquiry_data().size());
    virtual_s = static_cast<double>(machine.clock().now_ns()) / hw::kNsPerS;
  }
  state.counters["virtual_s_per_scan"] = virtual_s;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_StackDefaultPopulationScan)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qzr::nt::scsiport
