// Host cost of the simulated hardware.
#include <benchmark/benchmark.h>

#include "hw/board_registers.h"
#include "hw/guest_errors.h"
#include "hw/pci.h"
#include "hw/qzr6140_board.h"
#include "hw/scsi_bus.h"

namespace qzr::hw {
namespace {

// Host nanoseconds per simulated port access: the poll of BOARD_STATUS that
// every wait of a block transfer spins on.
void BM_BoardStatusPoll(benchmark::State& state) {
  Clock clock;
  GuestErrorLog errors(clock);
  ScsiBus bus(clock);
  PciBus pci(clock, errors);
  Qzr6140Board board(bus, errors);
  pci.plug(4, board, 11);
  const std::uint32_t port = pci.io_base(4) + board::BOARD_STATUS;
  for (auto _ : state) benchmark::DoNotOptimize(pci.read8(port));
  state.counters["virtual_ns_per_access"] =
      static_cast<double>(clock.now_ns()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BoardStatusPoll);

}  // namespace
}  // namespace qzr::hw
