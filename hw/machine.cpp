#include "hw/machine.h"

namespace qzr::hw {

Machine::Machine(const MachineSettings& settings)
    : settings_(settings),
      clock_(settings.seed),
      guest_errors_(clock_),
      bus_(clock_, settings.bus_timings),
      pci_(clock_, guest_errors_, settings.port_access_ns),
      board_(bus_, guest_errors_) {
  pci_.plug(settings_.board_slot, board_, settings_.interrupt_line);
}

ScsiTarget* Machine::add_target(TargetSettings settings, ScsiTarget::Units units) {
  const std::uint8_t id = settings.id;
  if (id >= targets_.size() || targets_[id]) return nullptr;
  targets_[id] =
      &adopt(std::make_unique<ScsiTarget>(clock_, bus_, std::move(settings), std::move(units)));
  return targets_[id];
}

}  // namespace qzr::hw
