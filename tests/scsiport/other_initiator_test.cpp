// The real miniport sharing its bus with another initiator.
#include "hw/targets/other_initiator.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/scsiport/port_rig.h"

namespace qzr::nt::scsiport::test {
namespace {

constexpr std::uint8_t kRivalId = 6;

TEST(OtherInitiator, ABusHeldBusyEndsTheRequestWithBusy) {
  PortRig rig;
  ASSERT_EQ(rig.load_module(), 0u);
  hw::BusyHolder holder(rig.machine.clock(), rig.machine.bus(), kRivalId, rig.now_ns(),
                        rig.now_ns() + 10 * hw::kNsPerS);
  std::array<std::uint8_t, 36> data{};
  const RequestOutcome outcome = rig.port_driver.execute(inquiry(3, data));
  EXPECT_EQ(outcome.srb_status, SRB_STATUS_BUSY);
  // The miniport waits its bus-free rounds (about 1.5 s) before it gives up.
  EXPECT_GE(outcome.finished_ns - outcome.started_ns, 1 * hw::kNsPerS);
  EXPECT_TRUE(holder.holding());
  rig.expect_clean();
}

// When the adapter's BSY goes on the bus for a request to `target`, counted
// from the start of the request.
hw::TimeNs adapter_arbitration_offset_ns(UCHAR target) {
  PortRig rig;
  EXPECT_EQ(rig.load_module(), 0u);
  const hw::BusTrace& trace = rig.machine.bus().trace();
  const std::size_t from = trace.entries().size();
  const hw::TimeNs start_ns = rig.now_ns();
  std::array<std::uint8_t, 36> data{};
  rig.port_driver.execute(inquiry(target, data));
  for (std::size_t i = from; i < trace.entries().size(); ++i) {
    if (trace.entries()[i].signals & hw::sig::BSY) return trace.entries()[i].time_ns - start_ns;
  }
  return 0;
}

TEST(OtherInitiator, ALowerIdArbitratingAtTheSameMomentGivesWayToTheAdapter) {
  // The same machine twice: the second time a rival starts arbitrating at the
  // very moment the adapter did the first time.
  const hw::TimeNs offset_ns = adapter_arbitration_offset_ns(3);
  ASSERT_NE(offset_ns, 0u);
  PortRig rig;
  ASSERT_EQ(rig.load_module(), 0u);
  hw::ArbitratingInitiator rival(rig.machine.clock(), rig.machine.bus(), kRivalId,
                                 rig.now_ns() + offset_ns, 50 * hw::kNsPerUs);
  const hw::BusTrace& trace = rig.machine.bus().trace();
  const std::size_t from = trace.entries().size();
  std::array<std::uint8_t, 36> data{};
  const RequestOutcome outcome = rig.port_driver.execute(inquiry(3, data));

  bool both_ids_seen = false;
  for (std::size_t i = from; i < trace.entries().size(); ++i) {
    const hw::TraceEntry& entry = trace.entries()[i];
    both_ids_seen |= (entry.signals & hw::sig::BSY) && entry.data == 0xC0;
  }
  EXPECT_TRUE(both_ids_seen);
  // ID 7 has priority: the rival steps off, the adapter selects its target
  // (absent here).
  EXPECT_EQ(rival.state(), hw::ArbitratingInitiator::State::Lost);
  EXPECT_EQ(outcome.srb_status, SRB_STATUS_SELECTION_TIMEOUT);
  rig.expect_clean();
}

}  // namespace
}  // namespace qzr::nt::scsiport::test
