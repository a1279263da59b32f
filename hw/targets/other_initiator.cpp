#include "hw/targets/other_initiator.h"

#include <string>

namespace qzr::hw {

BusyHolder::BusyHolder(Clock& clock, ScsiBus& bus, std::uint8_t id, TimeNs from_ns, TimeNs until_ns)
    : clock_(clock), bus_(bus), agent_(bus.attach("busy holder " + std::to_string(id), nullptr)) {
  const auto id_bit = static_cast<std::uint8_t>(1u << id);
  start_ = clock_.schedule_at(from_ns, [this, id_bit] {
    holding_ = true;
    bus_.drive(agent_, sig::BSY, id_bit);
  });
  stop_ = clock_.schedule_at(until_ns, [this] {
    holding_ = false;
    bus_.release(agent_);
  });
}

BusyHolder::~BusyHolder() {
  clock_.cancel(start_);
  clock_.cancel(stop_);
  bus_.detach(agent_);
}

ArbitratingInitiator::ArbitratingInitiator(Clock& clock, ScsiBus& bus, std::uint8_t id,
                                           TimeNs at_ns, TimeNs hold_ns,
                                           std::optional<TimeNs> decision_delay_ns)
    : clock_(clock),
      bus_(bus),
      id_(id),
      hold_ns_(hold_ns),
      decision_delay_ns_(decision_delay_ns),
      agent_(bus.attach("arbitrating initiator " + std::to_string(id), this)) {
  // The bus has been free at least since its last recorded change, when that
  // change is the bus as it is now; otherwise count from now.
  free_since_ns_ = clock_.now_ns();
  const auto& entries = bus_.trace().entries();
  if (!entries.empty() && !busy(bus_.state()) && entries.back().signals == bus_.state().signals &&
      entries.back().data == bus_.state().data && entries.back().time_ns <= free_since_ns_) {
    free_since_ns_ = entries.back().time_ns;
  }
  schedule_at(at_ns, &ArbitratingInitiator::begin);
}

ArbitratingInitiator::~ArbitratingInitiator() {
  clock_.cancel(timer_);
  bus_.detach(agent_);
}

void ArbitratingInitiator::schedule_at(TimeNs when_ns, void (ArbitratingInitiator::*step)()) {
  clock_.cancel(timer_);
  timer_ = clock_.schedule_at(when_ns, [this, step] {
    timer_ = {};
    (this->*step)();
  });
}

void ArbitratingInitiator::on_bus_change(const BusState& before, const BusState& now) {
  if (busy(before) && !busy(now)) free_since_ns_ = clock_.now_ns();
  if (!busy(before) && busy(now)) busy_since_ns_ = clock_.now_ns();
  switch (state_) {
    case State::WaitBusFree:
      wait_bus_free();
      break;
    case State::Arbitrating:
      // Someone else won: losers release BSY and their ID once SEL shows.
      if (now.has(sig::SEL)) lose();
      break;
    default:
      break;
  }
}

void ArbitratingInitiator::begin() {
  state_ = State::WaitBusFree;
  wait_bus_free();
}

// The bus-free delay counts from the moment the bus went free, so a bus that
// has long been free is taken at once.
void ArbitratingInitiator::wait_bus_free() {
  const BusState& bus = bus_.state();
  if (busy(bus)) {
    // BSY rising at the very instant our bus-free delay ends is another
    // device arbitrating with us: both go ahead.
    // So is BSY rising at the very instant we start on a bus that had been
    // free for the bus-free delay: we saw it free too.
    const bool free_until_now = busy_since_ns_ == clock_.now_ns() &&
                                busy_since_ns_ >= free_since_ns_ + bus_.timings().bus_free_delay_ns;
    const bool arbitrating_with_us =
        ((clock_.pending(timer_) && timer_.when_ns <= clock_.now_ns()) ||
         (state_ == State::WaitBusFree && free_until_now)) &&
        !bus.any(sig::SEL | sig::RST);
    if (!arbitrating_with_us) {
      clock_.cancel(timer_);
    } else if (!clock_.pending(timer_)) {
      bus_free_elapsed();
    }
    return;
  }
  const TimeNs free_at_ns = free_since_ns_ + bus_.timings().bus_free_delay_ns;
  if (clock_.now_ns() >= free_at_ns) {
    bus_free_elapsed();
  } else if (!clock_.pending(timer_)) {
    schedule_at(free_at_ns, &ArbitratingInitiator::bus_free_elapsed);
  }
}

void ArbitratingInitiator::bus_free_elapsed() {
  if (state_ != State::WaitBusFree || bus_.state().any(sig::SEL | sig::RST)) return;
  state_ = State::Arbitrating;
  arbitration_start_ns_ = clock_.now_ns();
  schedule_at(clock_.now_ns() + decision_delay_ns_.value_or(bus_.timings().arbitration_delay_ns),
              &ArbitratingInitiator::evaluate);
  bus_.drive(agent_, sig::BSY, static_cast<std::uint8_t>(1u << id_));
}

void ArbitratingInitiator::evaluate() {
  const BusState& bus = bus_.state();
  const auto higher_ids = static_cast<std::uint8_t>(0xFF << (id_ + 1));
  if (bus.has(sig::SEL) || (bus.data & higher_ids)) {
    lose();
    return;
  }
  state_ = State::Holding;
  schedule_at(clock_.now_ns() + hold_ns_, &ArbitratingInitiator::release);
  bus_.drive(agent_, sig::BSY | sig::SEL, static_cast<std::uint8_t>(1u << id_));
}

void ArbitratingInitiator::lose() {
  state_ = State::Lost;
  clock_.cancel(timer_);
  bus_.release(agent_);
}

void ArbitratingInitiator::release() {
  state_ = State::Won;
  bus_.release(agent_);
}

}  // namespace qzr::hw
