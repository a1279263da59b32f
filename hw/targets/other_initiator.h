// Other initiators sharing the bus with the host adapter: agents that only
// occupy the bus, so that arbitration, bus-free waits and reselection meet
// traffic they do not control.
#pragma once

#include <cstdint>
#include <optional>

#include "hw/clock.h"
#include "hw/scsi_bus.h"

namespace qzr::hw {

// Holds BSY (with its ID bit on the data bus, as a connected initiator's
// target would see it) from `from_ns` until `until_ns`.
class BusyHolder final {
 public:
  BusyHolder(Clock& clock, ScsiBus& bus, std::uint8_t id, TimeNs from_ns, TimeNs until_ns);
  ~BusyHolder();
  BusyHolder(const BusyHolder&) = delete;
  BusyHolder& operator=(const BusyHolder&) = delete;

  bool holding() const { return holding_; }

 private:
  Clock& clock_;
  ScsiBus& bus_;
  ScsiBus::AgentId agent_;
  Clock::EventId start_;
  Clock::EventId stop_;
  bool holding_ = false;
};

// From `at_ns` on, arbitrates once with `id` as SCSI-2 has it: waits until
// BSY and SEL have been false for a bus-free delay, asserts BSY and its ID
// bit, and after the arbitration delay wins if no higher ID is on the bus
// and nobody asserted SEL. A winner asserts SEL, holds the bus for `hold_ns`
// and releases it; a loser steps off at once. One try either way.
// Devices differ in how long after the arbitration delay they look at the
// bus: `decision_delay_ns` is that time, counted from asserting BSY (none:
// the arbitration delay itself). Until it passes, the ID bit stays on the bus
// unless someone asserts SEL.
class ArbitratingInitiator final : public BusAgent {
 public:
  enum class State : std::uint8_t { Waiting, WaitBusFree, Arbitrating, Holding, Won, Lost };

  ArbitratingInitiator(Clock& clock, ScsiBus& bus, std::uint8_t id, TimeNs at_ns, TimeNs hold_ns,
                       std::optional<TimeNs> decision_delay_ns = std::nullopt);
  ~ArbitratingInitiator() override;
  ArbitratingInitiator(const ArbitratingInitiator&) = delete;
  ArbitratingInitiator& operator=(const ArbitratingInitiator&) = delete;

  State state() const { return state_; }
  // Set once arbitration is decided: when BSY and the ID went on the bus.
  TimeNs arbitration_start_ns() const { return arbitration_start_ns_; }

  void on_bus_change(const BusState& before, const BusState& now) override;

 private:
  static bool busy(const BusState& bus) { return bus.any(sig::BSY | sig::SEL | sig::RST); }
  void begin();
  void wait_bus_free();
  void bus_free_elapsed();
  void evaluate();
  void lose();
  void release();
  void schedule_at(TimeNs when_ns, void (ArbitratingInitiator::*step)());

  Clock& clock_;
  ScsiBus& bus_;
  std::uint8_t id_;
  TimeNs hold_ns_;
  std::optional<TimeNs> decision_delay_ns_;
  ScsiBus::AgentId agent_;
  State state_ = State::Waiting;
  TimeNs free_since_ns_ = 0;
  TimeNs busy_since_ns_ = 0;
  TimeNs arbitration_start_ns_ = 0;
  Clock::EventId timer_;
};

}  // namespace qzr::hw
