#include "hw/targets/other_initiator.h"

#include <gtest/gtest.h>

#include "tests/hw/test_initiator.h"

namespace qzr::hw {
namespace {

using testing::TestInitiator;

TEST(BusyHolder, HoldingBsyDelaysArbitrationUntilTheBusIsFreeLongEnough) {
  struct Case {
    TimeNs from_ns;
    TimeNs until_ns;
  };
  for (const Case& c : {Case{0, 0}, Case{0, 50 * kNsPerUs}, Case{0, 3 * kNsPerMs},
                        Case{10 * kNsPerUs, 70 * kNsPerUs}}) {
    SCOPED_TRACE(c.until_ns);
    Clock clock;
    ScsiBus bus(clock);
    TestInitiator initiator(clock, bus, 7);
    BusyHolder holder(clock, bus, 2, c.from_ns, c.until_ns);
    // Starting before the holder does, the initiator still meets it: the
    // bus must stay free for a whole bus-free delay first.
    clock.advance_to(c.from_ns);
    EXPECT_EQ(initiator.arbitrate(), TestInitiator::Arbitration::Won);
    const BusTimings& t = bus.timings();
    EXPECT_EQ(clock.now_ns(), c.until_ns + t.bus_free_delay_ns + t.arbitration_delay_ns);
    EXPECT_FALSE(holder.holding());
  }
}

TEST(ArbitratingInitiator, SimultaneousArbitrationShowsBothIdsAndTheHigherWins) {
  struct Case {
    std::uint8_t ours;
    std::uint8_t theirs;
  };
  for (const Case& c : {Case{6, 5}, Case{6, 7}, Case{0, 1}, Case{7, 0}}) {
    SCOPED_TRACE(::testing::Message() << "ours " << int(c.ours) << " theirs " << int(c.theirs));
    Clock clock;
    ScsiBus bus(clock);
    TestInitiator initiator(clock, bus, c.ours);
    const TimeNs hold_ns = 20 * kNsPerUs;
    ArbitratingInitiator rival(clock, bus, c.theirs, 0, hold_ns);

    const bool we_should_win = c.ours > c.theirs;
    const auto outcome = initiator.arbitrate();
    EXPECT_EQ(outcome == TestInitiator::Arbitration::Won, we_should_win);
    EXPECT_EQ(rival.arbitration_start_ns(), bus.timings().bus_free_delay_ns);

    bool both_ids_seen = false;
    for (const TraceEntry& e : bus.trace().entries()) {
      if (e.data == ((1u << c.ours) | (1u << c.theirs)) && (e.signals & sig::BSY) &&
          !(e.signals & sig::SEL)) {
        both_ids_seen = true;
      }
    }
    EXPECT_TRUE(both_ids_seen);

    if (we_should_win) {
      EXPECT_EQ(rival.state(), ArbitratingInitiator::State::Lost);
      // The loser is off the bus: only our ID with SEL and BSY.
      EXPECT_EQ(bus.state().data, 1u << c.ours);
      EXPECT_TRUE(bus.state().has(sig::BSY | sig::SEL));
    } else {
      EXPECT_EQ(rival.state(), ArbitratingInitiator::State::Holding);
      clock.advance_by(hold_ns);
      EXPECT_EQ(rival.state(), ArbitratingInitiator::State::Won);
      EXPECT_EQ(bus.state().signals, 0u);
      // After the rival lets go, the bus is ours at the next bus free.
      EXPECT_EQ(initiator.arbitrate(), TestInitiator::Arbitration::Won);
    }
  }
}

TEST(ArbitratingInitiator, WaitsForABusyBusThenLosesToAHigherId) {
  Clock clock;
  ScsiBus bus(clock);
  TestInitiator initiator(clock, bus, 7);
  BusyHolder holder(clock, bus, 1, 0, 30 * kNsPerUs);
  ArbitratingInitiator rival(clock, bus, 3, 5 * kNsPerUs, 10 * kNsPerUs);
  clock.advance_by(20 * kNsPerUs);
  EXPECT_EQ(rival.state(), ArbitratingInitiator::State::WaitBusFree);
  // The initiator (ID 7) joins the same arbitration at the same bus free and
  // wins; the rival is off the bus by the time SEL goes up.
  EXPECT_EQ(initiator.arbitrate(), TestInitiator::Arbitration::Won);
  EXPECT_EQ(rival.state(), ArbitratingInitiator::State::Lost);
  EXPECT_EQ(rival.arbitration_start_ns(), 30 * kNsPerUs + bus.timings().bus_free_delay_ns);
  EXPECT_EQ(bus.state().data, 0x80);
}

}  // namespace
}  // namespace qzr::hw
