#include "hw/clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace qzr::hw {
namespace {

TEST(Clock, EventsRunInTimeThenSchedulingOrder) {
  Clock clock;
  std::vector<int> order;
  clock.schedule_at(300, [&] { order.push_back(3); });
  clock.schedule_at(100, [&] { order.push_back(1); });
  clock.schedule_at(100, [&] { order.push_back(2); });
  clock.advance_to(250);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(clock.now_ns(), 250u);
  clock.advance_by(50);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Clock, EventSeesItsOwnTimeAndMayScheduleMore) {
  Clock clock;
  std::vector<TimeNs> seen;
  clock.schedule_at(10, [&] {
    seen.push_back(clock.now_ns());
    clock.schedule_in(0, [&] { seen.push_back(clock.now_ns()); });
    clock.schedule_in(5, [&] { seen.push_back(clock.now_ns()); });
  });
  clock.advance_to(100);
  EXPECT_EQ(seen, (std::vector<TimeNs>{10, 10, 15}));
}

TEST(Clock, CancelledEventNeverRuns) {
  Clock clock;
  bool ran = false;
  auto id = clock.schedule_in(10, [&] { ran = true; });
  EXPECT_TRUE(clock.pending(id));
  EXPECT_TRUE(clock.cancel(id));
  EXPECT_FALSE(clock.cancel(id));
  clock.advance_by(100);
  EXPECT_FALSE(ran);
}

TEST(Clock, IdleWaitJumpsToNextEventWithinLimit) {
  Clock clock;
  int runs = 0;
  clock.schedule_at(5'000, [&] { ++runs; });
  EXPECT_FALSE(clock.run_next_event(1'000));
  EXPECT_EQ(clock.now_ns(), 1'000u);
  EXPECT_TRUE(clock.run_next_event(10'000));
  EXPECT_EQ(clock.now_ns(), 5'000u);
  EXPECT_EQ(runs, 1);
}

TEST(Random, SameSeedSameSequenceAndUniformStaysInRange) {
  Random a(42), b(42), c(43);
  bool differs = false;
  for (int i = 0; i < 1000; ++i) {
    const auto x = a.uniform(3, 9);
    EXPECT_EQ(x, b.uniform(3, 9));
    EXPECT_GE(x, 3u);
    EXPECT_LE(x, 9u);
    differs |= x != c.uniform(3, 9);
  }
  EXPECT_TRUE(differs);
  // Pinned so that a change of generator (which would break replay of old
  // seeds) is noticed.
  EXPECT_EQ(Random(1).next(), 0x910A2DEC89025CC1ULL);
}

}  // namespace
}  // namespace qzr::hw
