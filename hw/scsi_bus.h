// The SCSI bus: every control signal and data line is the wired-OR of what
// each attached agent drives. Agents tell the bus what they drive; the bus
// computes the lines, records every change in the trace, and tells every
// agent that the lines changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hw/bus_trace.h"
#include "hw/clock.h"

namespace qzr::hw {

// Control signals as bits of one word (asserted = 1, whatever the electrical
// polarity on a real cable).
namespace sig {
constexpr std::uint16_t BSY = 0x001;
constexpr std::uint16_t SEL = 0x002;
constexpr std::uint16_t RST = 0x004;
constexpr std::uint16_t ATN = 0x008;
constexpr std::uint16_t ACK = 0x010;
constexpr std::uint16_t REQ = 0x020;
constexpr std::uint16_t MSG = 0x040;
constexpr std::uint16_t CD = 0x080;
constexpr std::uint16_t IO = 0x100;
constexpr std::uint16_t PHASE = MSG | CD | IO;
constexpr std::uint16_t ALL = 0x1FF;
}  // namespace sig

// Information-transfer phases, coded MSG:C/D:I/O as the 5380's Target
// Command register codes them.
enum class Phase : std::uint8_t {
  DataOut = 0,
  DataIn = 1,
  Command = 2,
  Status = 3,
  Reserved4 = 4,
  Reserved5 = 5,
  MessageOut = 6,
  MessageIn = 7,
};

std::uint16_t phase_signals(Phase phase);
const char* phase_name(Phase phase);
// "BSY REQ I/O", or "-" for none.
std::string signal_names(std::uint16_t signals);

struct BusState {
  std::uint16_t signals = 0;
  std::uint8_t data = 0;

  bool has(std::uint16_t s) const { return (signals & s) == s; }
  bool any(std::uint16_t s) const { return (signals & s) != 0; }
  Phase phase() const {
    return static_cast<Phase>(((signals & sig::MSG) ? 4 : 0) | ((signals & sig::CD) ? 2 : 0) |
                              ((signals & sig::IO) ? 1 : 0));
  }
  bool operator==(const BusState&) const = default;
};

// SCSI-2 bus timings (single-ended, asynchronous). Machine settings.
struct BusTimings {
  TimeNs arbitration_delay_ns = 2'400;
  TimeNs assertion_period_ns = 90;
  TimeNs bus_clear_delay_ns = 800;
  TimeNs bus_free_delay_ns = 800;
  TimeNs bus_set_delay_ns = 1'800;
  TimeNs bus_settle_delay_ns = 400;
  TimeNs cable_skew_ns = 10;
  TimeNs data_release_delay_ns = 400;
  TimeNs deskew_delay_ns = 45;
  TimeNs hold_time_ns = 45;
  TimeNs negation_period_ns = 90;
  TimeNs reset_hold_time_ns = 25'000;
  TimeNs selection_abort_time_ns = 200'000;
  TimeNs selection_timeout_ns = 250 * kNsPerMs;
};

class BusAgent {
 public:
  virtual ~BusAgent() = default;
  // The lines changed from `before` to `now`. An agent may drive the bus from
  // here; the bus then notifies every agent again, in attach order.
  virtual void on_bus_change(const BusState& before, const BusState& now) = 0;
};

class ScsiBus {
 public:
  using AgentId = std::size_t;

  explicit ScsiBus(Clock& clock, BusTimings timings = {});
  ScsiBus(const ScsiBus&) = delete;
  ScsiBus& operator=(const ScsiBus&) = delete;

  // listener may be null for an agent that only drives.
  AgentId attach(std::string name, BusAgent* listener);
  void detach(AgentId agent);

  void drive(AgentId agent, std::uint16_t signals, std::uint8_t data);
  void drive_signals(AgentId agent, std::uint16_t signals);
  void drive_data(AgentId agent, std::uint8_t data);
  void release(AgentId agent) { drive(agent, 0, 0); }

  const BusState& state() const { return state_; }
  std::uint16_t signals_of(AgentId agent) const { return agents_.at(agent).signals; }
  std::uint8_t data_of(AgentId agent) const { return agents_.at(agent).data; }
  const std::string& name_of(AgentId agent) const { return agents_.at(agent).name; }

  const BusTimings& timings() const { return timings_; }
  void set_timings(const BusTimings& timings) { timings_ = timings; }
  Clock& clock() { return clock_; }
  BusTrace& trace() { return trace_; }
  const BusTrace& trace() const { return trace_; }

 private:
  struct Agent {
    std::string name;
    BusAgent* listener = nullptr;
    std::uint16_t signals = 0;
    std::uint8_t data = 0;
    bool attached = false;
  };

  void recompute();
  void notify();

  Clock& clock_;
  BusTimings timings_;
  std::vector<Agent> agents_;
  BusState state_;
  BusState notified_;  // the state every agent has last been told of
  bool notifying_ = false;
  BusTrace trace_;
};

}  // namespace qzr::hw
