#include "hw/clock.h"

#include <cassert>

namespace qzr::hw {

std::uint64_t Random::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint64_t Random::uniform(std::uint64_t lo, std::uint64_t hi) {
  assert(lo <= hi);
  const std::uint64_t span = hi - lo + 1;
  if (span == 0) return next();  // the whole 64-bit range
  // Rejection keeps the choice unbiased.
  const std::uint64_t limit = UINT64_MAX - (UINT64_MAX % span);
  std::uint64_t value;
  do {
    value = next();
  } while (value >= limit);
  return lo + value % span;
}

bool Random::chance(std::uint32_t numerator, std::uint32_t denominator) {
  if (denominator == 0 || numerator == 0) return false;
  return uniform(0, denominator - 1) < numerator;
}

Clock::EventId Clock::schedule_in(TimeNs delay_ns, Callback callback) {
  return schedule_at(now_ns_ + delay_ns, std::move(callback));
}

Clock::EventId Clock::schedule_at(TimeNs when_ns, Callback callback) {
  EventId id{when_ns < now_ns_ ? now_ns_ : when_ns, next_sequence_++};
  events_.emplace(id, std::move(callback));
  return id;
}

bool Clock::cancel(EventId& id) {
  if (!id.valid()) return false;
  const bool erased = events_.erase(id) > 0;
  id = EventId{};
  return erased;
}

void Clock::run_event_at_front() {
  auto it = events_.begin();
  now_ns_ = it->first.when_ns;
  Callback callback = std::move(it->second);
  events_.erase(it);
  callback();
}

void Clock::advance_to(TimeNs when_ns) {
  while (!events_.empty() && events_.begin()->first.when_ns <= when_ns) run_event_at_front();
  if (when_ns > now_ns_) now_ns_ = when_ns;
}

void Clock::run_due() { advance_to(now_ns_); }

bool Clock::run_next_event(TimeNs limit_ns) {
  if (events_.empty() || events_.begin()->first.when_ns > limit_ns) {
    if (limit_ns > now_ns_) now_ns_ = limit_ns;
    return false;
  }
  run_event_at_front();
  return true;
}

std::optional<TimeNs> Clock::next_event_ns() const {
  if (events_.empty()) return std::nullopt;
  return events_.begin()->first.when_ns;
}

}  // namespace qzr::hw
