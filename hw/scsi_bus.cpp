#include "hw/scsi_bus.h"

#include <cassert>

namespace qzr::hw {

std::uint16_t phase_signals(Phase phase) {
  const auto code = static_cast<std::uint8_t>(phase);
  return static_cast<std::uint16_t>(((code & 4) ? sig::MSG : 0) | ((code & 2) ? sig::CD : 0) |
                                    ((code & 1) ? sig::IO : 0));
}

const char* phase_name(Phase phase) {
  switch (phase) {
    case Phase::DataOut: return "DATA OUT";
    case Phase::DataIn: return "DATA IN";
    case Phase::Command: return "COMMAND";
    case Phase::Status: return "STATUS";
    case Phase::MessageOut: return "MESSAGE OUT";
    case Phase::MessageIn: return "MESSAGE IN";
    default: return "RESERVED";
  }
}

std::string signal_names(std::uint16_t signals) {
  static constexpr struct {
    std::uint16_t bit;
    const char* name;
  } kNames[] = {{sig::RST, "RST"}, {sig::BSY, "BSY"}, {sig::SEL, "SEL"}, {sig::ATN, "ATN"},
                {sig::REQ, "REQ"}, {sig::ACK, "ACK"}, {sig::MSG, "MSG"}, {sig::CD, "C/D"},
                {sig::IO, "I/O"}};
  std::string out;
  for (const auto& entry : kNames) {
    if (!(signals & entry.bit)) continue;
    if (!out.empty()) out += ' ';
    out += entry.name;
  }
  return out.empty() ? "-" : out;
}

ScsiBus::ScsiBus(Clock& clock, BusTimings timings) : clock_(clock), timings_(timings) {
  trace_.record(clock_.now_ns(), state_.signals, state_.data);
}

ScsiBus::AgentId ScsiBus::attach(std::string name, BusAgent* listener) {
  agents_.push_back(Agent{std::move(name), listener, 0, 0, true});
  return agents_.size() - 1;
}

void ScsiBus::detach(AgentId agent) {
  drive(agent, 0, 0);
  agents_.at(agent).attached = false;
  agents_.at(agent).listener = nullptr;
}

void ScsiBus::drive(AgentId agent, std::uint16_t signals, std::uint8_t data) {
  Agent& a = agents_.at(agent);
  assert((signals & ~sig::ALL) == 0);
  if (a.signals == signals && a.data == data) return;
  a.signals = signals;
  a.data = data;
  recompute();
}

void ScsiBus::drive_signals(AgentId agent, std::uint16_t signals) {
  drive(agent, signals, agents_.at(agent).data);
}

void ScsiBus::drive_data(AgentId agent, std::uint8_t data) {
  drive(agent, agents_.at(agent).signals, data);
}

void ScsiBus::recompute() {
  BusState next;
  for (const Agent& a : agents_) {
    if (!a.attached) continue;
    next.signals |= a.signals;
    next.data |= a.data;
  }
  if (next == state_) return;
  state_ = next;
  trace_.record(clock_.now_ns(), state_.signals, state_.data);
  notify();
}

// Agents may drive the bus while they are being told of a change. Rather than
// recurse, the outer call tells everyone again, in order, until the lines
// settle; each round hands every agent the same before/now pair.
void ScsiBus::notify() {
  if (notifying_) return;
  notifying_ = true;
  // A bound on rounds at one instant: agents that keep changing the lines in
  // answer to each other without time passing are a modelling fault.
  for (int round = 0; notified_ != state_; ++round) {
    assert(round < 64 && "bus agents oscillate without time passing");
    if (round >= 64) break;
    const BusState before = notified_;
    const BusState now = state_;
    notified_ = now;
    for (std::size_t i = 0; i < agents_.size(); ++i) {
      if (agents_[i].attached && agents_[i].listener) agents_[i].listener->on_bus_change(before, now);
    }
  }
  notifying_ = false;
}

}  // namespace qzr::hw
