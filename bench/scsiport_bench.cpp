// Host cost of the port driver and the miniport module on the simulated
// machine, for the two waits that dominate an idle bus: the selection
// time-out of an absent target and the start-up scan of eight absent IDs.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hw/machine.h"
#include "nt/scsiport/port_driver.h"

namespace qzr::nt::scsiport {
namespace {

constexpr const char* kRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qzr6140";

void load_or_die(PortDriver& port_driver) {
  std::string error;
  if (!port_driver.load_miniport(QZR_MINIPORT_MODULE, kRegistryPath, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
}

// One request to an absent target: about a million polls of the bus (a
// second of virtual time) until the miniport gives up the selection.
void BM_SelectionTimeOut(benchmark::State& state) {
  hw::Machine machine;
  machine.bus().trace().set_retention_limit(0);
  PortDriver port_driver(machine);
  load_or_die(port_driver);
  std::array<std::uint8_t, 36> data{};
  ScsiRequest scsi_request;
  scsi_request.target_id = 3;
  scsi_request.cdb = {0x12, 0, 0, 0, static_cast<std::uint8_t>(data.size()), 0};
  scsi_request.direction = DataDirection::In;
  scsi_request.buffer = data;
  const hw::TimeNs start_ns = machine.clock().now_ns();
  for (auto _ : state) {
    const RequestOutcome outcome = port_driver.execute(scsi_request);
    benchmark::DoNotOptimize(outcome.srb_status);
  }
  state.counters["virtual_s_per_request"] =
      static_cast<double>(machine.clock().now_ns() - start_ns) / hw::kNsPerS /
      static_cast<double>(state.iterations());
}
BENCHMARK(BM_SelectionTimeOut)->Unit(benchmark::kMillisecond);

// A machine started from nothing: module load, board start and a scan of
// eight IDs with nobody on the bus.
void BM_IdleBusScan(benchmark::State& state) {
  for (auto _ : state) {
    hw::Machine machine;
    machine.bus().trace().set_retention_limit(0);
    PortDriver port_driver(machine);
    load_or_die(port_driver);
    benchmark::DoNotOptimize(port_driver.port(0).inquiry_data().size());
  }
}
BENCHMARK(BM_IdleBusScan)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qzr::nt::scsiport
