// Virtual time: the machine's one clock, its event scheduler and its one
// seeded random generator. Nothing in the machine reads the wall clock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace qzr::hw {

using TimeNs = std::uint64_t;

constexpr TimeNs kNsPerUs = 1'000;
constexpr TimeNs kNsPerMs = 1'000'000;
constexpr TimeNs kNsPerS = 1'000'000'000;

// SplitMix64: tiny, fast and specified bit for bit, so a seed replays the
// same choices on every host and word size.
class Random {
 public:
  explicit Random(std::uint64_t seed = 1) : state_(seed) {}
  std::uint64_t next();
  // Uniform in [lo, hi], both inclusive.
  std::uint64_t uniform(std::uint64_t lo, std::uint64_t hi);
  bool chance(std::uint32_t numerator, std::uint32_t denominator);
  std::uint64_t seed_state() const { return state_; }

 private:
  std::uint64_t state_;
};

class Clock {
 public:
  using Callback = std::function<void()>;

  // Identifies a scheduled event; ordering is by time, then by scheduling
  // order, so two events due at the same moment run in the order they were
  // scheduled.
  struct EventId {
    TimeNs when_ns = 0;
    std::uint64_t sequence = 0;
    bool valid() const { return sequence != 0; }
    auto operator<=>(const EventId&) const = default;
  };

  explicit Clock(std::uint64_t seed = 1) : random_(seed) {}
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  TimeNs now_ns() const { return now_ns_; }

  EventId schedule_in(TimeNs delay_ns, Callback callback);
  // A time in the past is taken as now.
  EventId schedule_at(TimeNs when_ns, Callback callback);
  // Returns false when the event already ran or was cancelled. Cancelling an
  // invalid id is harmless.
  bool cancel(EventId& id);
  bool pending(const EventId& id) const { return id.valid() && events_.contains(id); }

  // Time passes by delay_ns; every event due on the way runs at its own time.
  void advance_by(TimeNs delay_ns) { advance_to(now_ns_ + delay_ns); }
  void advance_to(TimeNs when_ns);
  // Runs every event due at the current time.
  void run_due();

  // Idle waiting: jump to the next event and run it, if there is one due no
  // later than limit_ns. Returns false, with the clock at limit_ns, otherwise.
  bool run_next_event(TimeNs limit_ns);
  std::optional<TimeNs> next_event_ns() const;
  std::size_t pending_events() const { return events_.size(); }

  Random& random() { return random_; }

 private:
  void run_event_at_front();

  TimeNs now_ns_ = 0;
  std::uint64_t next_sequence_ = 1;
  std::map<EventId, Callback> events_;
  Random random_;
};

}  // namespace qzr::hw
