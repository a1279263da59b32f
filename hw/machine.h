// One simulated machine: the virtual clock, the PCI bus with the QZR6140 in
// its slot, the SCSI bus and every agent on it. This is the front of hw/:
// the port driver stand-in reaches the board only through pci(), as a
// processor would.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "hw/clock.h"
#include "hw/guest_errors.h"
#include "hw/pci.h"
#include "hw/qzr6140_board.h"
#include "hw/scsi_bus.h"
#include "hw/targets/scsi_target.h"

namespace qzr::hw {

struct MachineSettings {
  std::uint64_t seed = 1;
  TimeNs port_access_ns = 500;
  // 0: the board has no interrupt line.
  std::uint8_t interrupt_line = 11;
  int board_slot = 4;
  BusTimings bus_timings;
};

class Machine {
 public:
  explicit Machine(const MachineSettings& settings = {});
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const MachineSettings& settings() const { return settings_; }
  Clock& clock() { return clock_; }
  GuestErrorLog& guest_errors() { return guest_errors_; }
  ScsiBus& bus() { return bus_; }
  PciBus& pci() { return pci_; }
  Qzr6140Board& board() { return board_; }
  int board_slot() const { return settings_.board_slot; }
  std::uint32_t board_io_base() const { return pci_.io_base(settings_.board_slot); }

  // Puts a target on the bus. An ID already taken is a caller's mistake:
  // returns null and attaches nothing.
  ScsiTarget* add_target(TargetSettings settings, ScsiTarget::Units units);
  ScsiTarget* target(std::uint8_t id) const {
    return id < targets_.size() ? targets_[id] : nullptr;
  }

  // The machine owns the agents on its bus (targets, other initiators).
  template <typename Agent>
  Agent& adopt(std::unique_ptr<Agent> agent) {
    Agent& ref = *agent;
    agents_.push_back(std::move(agent));
    return ref;
  }

 private:
  MachineSettings settings_;
  Clock clock_;
  GuestErrorLog guest_errors_;
  ScsiBus bus_;
  PciBus pci_;
  Qzr6140Board board_;
  std::vector<std::unique_ptr<BusAgent>> agents_;
  std::array<ScsiTarget*, 8> targets_{};
};

}  // namespace qzr::hw
