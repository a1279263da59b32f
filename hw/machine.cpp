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

}  // namespace qzr::hw
