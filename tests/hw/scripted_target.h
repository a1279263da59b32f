// A test double for a SCSI target: it answers selection of its ID and then
// plays a fixed script of phases, sending or taking bytes with proper REQ/ACK
// handshakes on the virtual clock, and goes bus free at the end. It knows no
// commands; it lets hardware tests drive the board against a target whose
// every move is known.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hw/clock.h"
#include "hw/scsi_bus.h"

namespace qzr::hw::test {

struct ScriptStep {
  Phase phase = Phase::DataIn;
  std::vector<std::uint8_t> send;  // bytes the target sends (I/O phases)
  std::size_t take_bytes = 0;      // bytes the target takes (out phases)
};

struct ScriptedTargetTimings {
  TimeNs selection_response_ns = 1'000;
  TimeNs phase_setup_ns = 400;  // phase lines (and data) settle before REQ
  TimeNs req_release_ns = 50;   // REQ falls this long after ACK
  TimeNs bus_free_ns = 800;     // after the last step the target lets go
};

inline bool target_sends(Phase phase) {
  return static_cast<std::uint8_t>(phase) & 1;
}

class ScriptedTarget final : public BusAgent {
 public:
  enum class State : std::uint8_t {
    idle,
    answering_selection,
    selected,  // BSY asserted, waiting for SEL to fall
    phase_setup,
    wait_ack,
    wait_ack_negated,
    done,
  };

  using Timings = ScriptedTargetTimings;

  ScriptedTarget(ScsiBus& bus, int id, std::vector<ScriptStep> script = {}, Timings timings = {})
      : bus_(bus),
        clock_(bus.clock()),
        id_(id),
        script_(std::move(script)),
        timings_(timings),
        agent_(bus.attach("target " + std::to_string(id), this)) {}
  ~ScriptedTarget() override {
    clock_.cancel(timer_);
    detaching_ = true;
    bus_.detach(agent_);
  }
  ScriptedTarget(const ScriptedTarget&) = delete;
  ScriptedTarget& operator=(const ScriptedTarget&) = delete;

  void set_script(std::vector<ScriptStep> script) { script_ = std::move(script); }
  void set_answers_selection(bool answers) { answers_selection_ = answers; }
  State state() const { return state_; }
  // Every byte the initiator sent, in order.
  const std::vector<std::uint8_t>& taken() const { return taken_; }
  // Whether ATN was asserted when selection was answered.
  bool atn_at_selection() const { return atn_at_selection_; }

  void on_bus_change(const BusState& before, const BusState& now) override {
    if (detaching_) return;
    if (now.any(sig::RST)) {
      clock_.cancel(timer_);
      bus_.release(agent_);
      state_ = State::idle;
      return;
    }
    switch (state_) {
      case State::idle:
        if (answers_selection_ && now.has(sig::SEL) && !now.any(sig::BSY | sig::IO) &&
            (now.data & (1u << id_))) {
          state_ = State::answering_selection;
          timer_ = clock_.schedule_in(timings_.selection_response_ns, [this] { answer(); });
        }
        break;
      case State::selected:
        if (before.any(sig::SEL) && !now.any(sig::SEL)) {
          step_ = 0;
          byte_ = 0;
          start_step();
        }
        break;
      case State::wait_ack:
        if (now.any(sig::ACK)) {
          if (!target_sends(script_[step_].phase)) taken_.push_back(now.data);
          state_ = State::wait_ack_negated;
          timer_ = clock_.schedule_in(timings_.req_release_ns, [this] {
            bus_.drive_signals(agent_,
                               static_cast<std::uint16_t>(bus_.signals_of(agent_) & ~sig::REQ));
          });
        }
        break;
      case State::wait_ack_negated:
        if (!now.any(sig::ACK) && !(bus_.signals_of(agent_) & sig::REQ)) {
          ++byte_;
          next_byte();
        }
        break;
      default:
        break;
    }
  }

 private:
  void answer() {
    const BusState& s = bus_.state();
    if (!(s.has(sig::SEL) && (s.data & (1u << id_)))) {
      state_ = State::idle;
      return;
    }
    atn_at_selection_ = s.any(sig::ATN);
    state_ = State::selected;
    bus_.drive(agent_, sig::BSY, 0);
  }

  std::size_t step_length() const {
    const ScriptStep& step = script_[step_];
    return target_sends(step.phase) ? step.send.size() : step.take_bytes;
  }

  void start_step() {
    while (step_ < script_.size() && step_length() == 0) ++step_;
    if (step_ >= script_.size()) {
      state_ = State::done;
      timer_ = clock_.schedule_in(timings_.bus_free_ns, [this] { bus_.release(agent_); });
      return;
    }
    byte_ = 0;
    state_ = State::phase_setup;
    const ScriptStep& step = script_[step_];
    bus_.drive(agent_, static_cast<std::uint16_t>(sig::BSY | phase_signals(step.phase)),
               target_sends(step.phase) ? step.send[0] : 0);
    timer_ = clock_.schedule_in(timings_.phase_setup_ns, [this] { raise_req(); });
  }

  void next_byte() {
    if (byte_ >= step_length()) {
      ++step_;
      start_step();
      return;
    }
    state_ = State::phase_setup;
    const ScriptStep& step = script_[step_];
    if (target_sends(step.phase)) bus_.drive_data(agent_, step.send[byte_]);
    timer_ = clock_.schedule_in(timings_.phase_setup_ns, [this] { raise_req(); });
  }

  void raise_req() {
    state_ = State::wait_ack;
    bus_.drive_signals(agent_, static_cast<std::uint16_t>(bus_.signals_of(agent_) | sig::REQ));
  }

  ScsiBus& bus_;
  Clock& clock_;
  int id_;
  std::vector<ScriptStep> script_;
  Timings timings_;
  ScsiBus::AgentId agent_;
  State state_ = State::idle;
  Clock::EventId timer_;
  std::size_t step_ = 0;
  std::size_t byte_ = 0;
  std::vector<std::uint8_t> taken_;
  bool answers_selection_ = true;
  bool atn_at_selection_ = false;
  bool detaching_ = false;
};

}  // namespace qzr::hw::test
