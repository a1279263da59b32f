// The 53C80 through raw register accesses: arbitration, selection,
// programmed handshakes, what it drives on the data bus, and its interrupt
// causes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/hw/board_rig.h"
#include "tests/hw/scripted_target.h"

namespace qzr::hw::test {
namespace {

using namespace ncr;

// Direct register accesses here: a port access costs time, and these
// tests measure the bus-free delay to the nanosecond.
TEST(Ncr5380Arbitration, WaitsForBusFreeThenDrivesBsyAndId) {
  BoardRig rig;
  const auto other = rig.bus.attach("other", nullptr);
  rig.bus.drive(other, sig::BSY, 0);
  rig.board.io_write8(reg::OUTPUT_DATA, 0x80);
  rig.board.io_write8(reg::MODE, mode::ARBITRATE);
  rig.clock.advance_by(10 * kNsPerUs);
  EXPECT_EQ(rig.board.io_read8(reg::INITIATOR_COMMAND) & icr::AIP, 0) << "bus is busy";
  EXPECT_EQ(rig.bus.signals_of(rig.board.chip().bus_id()), 0);

  rig.bus.release(other);
  // The bus must stay free for a bus-free delay before the chip goes.
  rig.clock.advance_by(rig.bus.timings().bus_free_delay_ns - 100);
  EXPECT_EQ(rig.board.io_read8(reg::INITIATOR_COMMAND) & icr::AIP, 0);
  rig.clock.advance_by(200);
  EXPECT_EQ(rig.board.io_read8(reg::INITIATOR_COMMAND) & (icr::AIP | icr::LA), icr::AIP);
  EXPECT_EQ(rig.bus.state().signals, sig::BSY);
  EXPECT_EQ(rig.rd(reg::CURRENT_SCSI_DATA), 0x80);

  rig.wr(reg::MODE, 0);
  EXPECT_EQ(rig.board.io_read8(reg::INITIATOR_COMMAND) & icr::AIP, 0);
  EXPECT_EQ(rig.bus.state().signals, 0) << "arbitration's BSY ends with Arbitrate";
  EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
}

TEST(Ncr5380Arbitration, BusyDuringBusFreeDelayRestartsTheWait) {
  BoardRig rig;
  const auto other = rig.bus.attach("other", nullptr);
  rig.board.io_write8(reg::MODE, mode::ARBITRATE);
  rig.clock.advance_by(300);
  rig.bus.drive(other, sig::SEL, 0x01);
  rig.bus.release(other);
  rig.clock.advance_by(rig.bus.timings().bus_free_delay_ns - 100);
  EXPECT_EQ(rig.board.io_read8(reg::INITIATOR_COMMAND) & icr::AIP, 0);
  rig.clock.advance_by(200);
  EXPECT_NE(rig.board.io_read8(reg::INITIATOR_COMMAND) & icr::AIP, 0);
}

struct ArbitrationCase {
  const char* name;
  std::uint16_t other_signals;  // what another device drives once we arbitrate
  std::uint8_t other_data;
  bool our_sel_first;  // we assert SEL before the other device shows up
  bool lost;
  std::uint8_t data_bus;
};

TEST(Ncr5380Arbitration, OutcomeDependsOnOtherDevices) {
  const ArbitrationCase cases[] = {
      {"alone", 0, 0, false, false, 0x40},
      {"higher ID arbitrates too", sig::BSY, 0x80, false, false, 0xC0},
      {"other device selects", sig::BSY | sig::SEL, 0x81, false, true, 0xC1},
      {"our SEL hides theirs", sig::BSY | sig::SEL, 0x81, true, false, 0xC1},
  };
  for (const ArbitrationCase& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    const auto other = rig.bus.attach("other", nullptr);
    ASSERT_TRUE(rig.arbitrate(6));
    if (c.our_sel_first) rig.wr(reg::INITIATOR_COMMAND, icr::ASSERT_SEL | icr::ASSERT_BSY);
    rig.bus.drive(other, c.other_signals, c.other_data);
    const std::uint8_t icr_value = rig.rd(reg::INITIATOR_COMMAND);
    EXPECT_NE(icr_value & icr::AIP, 0);
    EXPECT_EQ((icr_value & icr::LA) != 0, c.lost);
    EXPECT_EQ(rig.rd(reg::CURRENT_SCSI_DATA), c.data_bus);
    rig.bus.release(other);
    if (c.lost) {
      EXPECT_NE(rig.rd(reg::INITIATOR_COMMAND) & icr::LA, 0) << "LA stays until Arbitrate clears";
      rig.wr(reg::MODE, 0);
      EXPECT_EQ(rig.rd(reg::INITIATOR_COMMAND) & icr::LA, 0);
    }
  }
}

TEST(Ncr5380Selection, AnsweredOnlyByThePresentTarget) {
  const struct {
    int target_id;
    bool answered;
  } cases[] = {{2, true}, {5, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target_id);
    BoardRig rig;
    ScriptedTarget target(rig.bus, 2, {{Phase::MessageOut, {}, 1}});
    const TimeNs start = rig.clock.now_ns();
    EXPECT_EQ(rig.select(c.target_id, true), c.answered);
    if (c.answered) {
      EXPECT_TRUE(target.atn_at_selection());
      EXPECT_LT(rig.clock.now_ns() - start, 100 * kNsPerUs);
    } else {
      EXPECT_GE(rig.clock.now_ns() - start, 250 * kNsPerMs) << "software's selection time-out";
      EXPECT_EQ(target.state(), ScriptedTarget::State::idle);
      EXPECT_EQ(rig.bus.state().signals, 0) << "the chip let go of SEL";
    }
    EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
  }
}

TEST(Ncr5380ProgrammedTransfer, CommandWithStatusAndMessage) {
  BoardRig rig;
  const std::vector<std::uint8_t> cdb = {0x12, 0x00, 0x00, 0x00, 0x04, 0x00};
  ScriptedTarget target(rig.bus, 3,
                        {{Phase::MessageOut, {}, 1},
                         {Phase::Command, {}, 6},
                         {Phase::DataIn, {0x05, 0x80, 0x02, 0x02}},
                         {Phase::Status, {0x00}},
                         {Phase::MessageIn, {0x00}}});
  ASSERT_TRUE(rig.select(3, true));
  rig.pio_send(Phase::MessageOut, {0xC0}, true);
  rig.pio_send(Phase::Command, cdb);
  EXPECT_EQ(rig.pio_receive(Phase::DataIn, 4), (std::vector<std::uint8_t>{0x05, 0x80, 0x02, 0x02}));
  EXPECT_EQ(rig.pio_receive(Phase::Status, 1), (std::vector<std::uint8_t>{0x00}));
  EXPECT_EQ(rig.pio_receive(Phase::MessageIn, 1), (std::vector<std::uint8_t>{0x00}));

  std::vector<std::uint8_t> expected_out = {0xC0};
  expected_out.insert(expected_out.end(), cdb.begin(), cdb.end());
  EXPECT_EQ(target.taken(), expected_out);
  EXPECT_TRUE(rig.poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::BSY, 0)) << "target went bus free";
  EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
}

TEST(Ncr5380ProgrammedTransfer, AckFollowsTheRegisterWithoutDelay) {
  BoardRig rig;
  const TimeNs before = rig.clock.now_ns();
  rig.board.io_write8(reg::INITIATOR_COMMAND, icr::ASSERT_ACK | icr::ASSERT_ATN);
  EXPECT_EQ(rig.bus.state().signals, sig::ACK | sig::ATN);
  EXPECT_EQ(rig.clock.now_ns(), before);
  EXPECT_EQ(rig.rd(reg::BUS_AND_STATUS) & (bsr::ACK | bsr::ATN), bsr::ACK | bsr::ATN);
  rig.wr(reg::INITIATOR_COMMAND, 0);
  EXPECT_EQ(rig.bus.state().signals, 0);
}

TEST(Ncr5380DataBus, AssertDataBusDrivesOnlyInAMatchingOutPhase) {
  const struct {
    const char* name;
    Phase bus_phase;
    Phase target_command;
    bool drives;
  } cases[] = {
      {"data out, matching", Phase::DataOut, Phase::DataOut, true},
      {"command, matching", Phase::Command, Phase::Command, true},
      {"message out, matching", Phase::MessageOut, Phase::MessageOut, true},
      {"command, Target Command says data out", Phase::Command, Phase::DataOut, false},
      {"data in, matching (I/O true)", Phase::DataIn, Phase::DataIn, false},
      {"status, matching (I/O true)", Phase::Status, Phase::Status, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    const auto target = rig.bus.attach("target", nullptr);
    rig.bus.drive(target, sig::BSY | phase_signals(c.bus_phase), 0);
    rig.wr(reg::TARGET_COMMAND, static_cast<std::uint8_t>(c.target_command));
    rig.wr(reg::OUTPUT_DATA, 0x5A);
    rig.wr(reg::INITIATOR_COMMAND, icr::ASSERT_DATA_BUS);
    EXPECT_EQ(rig.rd(reg::CURRENT_SCSI_DATA), c.drives ? 0x5A : 0x00);
    // The rule follows the bus: when the target changes phase the chip
    // stops driving without any register write.
    rig.bus.drive(target, sig::BSY | phase_signals(Phase::MessageIn), 0);
    EXPECT_EQ(rig.rd(reg::CURRENT_SCSI_DATA), 0x00);
  }
}

TEST(Ncr5380Registers, BusStatusShowsTheLiveSignals) {
  BoardRig rig;
  const auto target = rig.bus.attach("target", nullptr);
  rig.bus.drive(target, sig::BSY | sig::REQ | sig::IO | sig::CD, 0x03);
  EXPECT_EQ(rig.rd(reg::CURRENT_SCSI_BUS_STATUS),
            cbsr::BSY | cbsr::REQ | cbsr::CD | cbsr::IO | cbsr::DBP);
  rig.bus.drive(target, sig::SEL | sig::MSG, 0x01);
  EXPECT_EQ(rig.rd(reg::CURRENT_SCSI_BUS_STATUS), cbsr::SEL | cbsr::MSG);
  rig.wr(reg::TARGET_COMMAND, tcr::ASSERT_MSG);
  EXPECT_NE(rig.rd(reg::BUS_AND_STATUS) & bsr::PHASE_MATCH, 0);
  EXPECT_EQ(rig.rd(reg::TARGET_COMMAND), tcr::ASSERT_MSG);
}

TEST(Ncr5380Registers, InitiatorCommandIgnoresWrittenStatusBits) {
  BoardRig rig;
  rig.wr(reg::INITIATOR_COMMAND, 0xFF & ~icr::ASSERT_RST);
  EXPECT_EQ(rig.rd(reg::INITIATOR_COMMAND), 0x1F);
  EXPECT_EQ(rig.bus.state().signals, sig::ACK | sig::BSY | sig::SEL | sig::ATN);
  EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
}

// Each interrupt cause, with the register setting that gates it on and off.
struct IrqCase {
  const char* name;
  std::function<void(BoardRig&, ScsiBus::AgentId)> setup;
  std::function<void(BoardRig&, ScsiBus::AgentId)> trigger;
  bool irq;
  bool busy_error;
};

TEST(Ncr5380Interrupts, EachCauseLatchesUntilResetInterruptRead) {
  auto reselect = [](BoardRig& rig, ScsiBus::AgentId other) {
    rig.bus.drive(other, sig::SEL | sig::BSY | sig::IO, 0x84);
    rig.bus.drive(other, sig::SEL | sig::IO, 0x84);
  };
  auto req_in_status = [](BoardRig& rig, ScsiBus::AgentId other) {
    rig.bus.drive(other, sig::BSY | phase_signals(Phase::Status), 0);
    rig.bus.drive(other, sig::BSY | sig::REQ | phase_signals(Phase::Status), 0);
  };
  auto drop_bsy = [](BoardRig& rig, ScsiBus::AgentId other) { rig.bus.release(other); };
  auto hold_bsy = [](BoardRig& rig, ScsiBus::AgentId other) { rig.bus.drive(other, sig::BSY, 0); };
  const IrqCase cases[] = {
      {"reselection of our ID",
       [](BoardRig& r, ScsiBus::AgentId) { r.wr(reg::SELECT_ENABLE, 0x80); }, reselect, true,
       false},
      {"reselection of another ID",
       [](BoardRig& r, ScsiBus::AgentId) { r.wr(reg::SELECT_ENABLE, 0x40); }, reselect, false,
       false},
      {"REQ in another phase with DMA Mode",
       [](BoardRig& r, ScsiBus::AgentId) {
         r.wr(reg::TARGET_COMMAND, static_cast<std::uint8_t>(Phase::DataIn));
         r.wr(reg::MODE, mode::DMA_MODE);
       },
       req_in_status, true, false},
      {"REQ in the expected phase with DMA Mode",
       [](BoardRig& r, ScsiBus::AgentId) {
         r.wr(reg::TARGET_COMMAND, static_cast<std::uint8_t>(Phase::Status));
         r.wr(reg::MODE, mode::DMA_MODE);
       },
       req_in_status, false, false},
      {"REQ in another phase without DMA Mode",
       [](BoardRig& r, ScsiBus::AgentId) {
         r.wr(reg::TARGET_COMMAND, static_cast<std::uint8_t>(Phase::DataIn));
       },
       req_in_status, false, false},
      {"BSY lost with Monitor Busy",
       [&](BoardRig& r, ScsiBus::AgentId o) {
         hold_bsy(r, o);
         r.wr(reg::MODE, mode::MONITOR_BUSY);
       },
       drop_bsy, true, true},
      {"BSY lost without Monitor Busy", hold_bsy, drop_bsy, false, false},
      {"RST on the bus", [](BoardRig&, ScsiBus::AgentId) {},
       [](BoardRig& r, ScsiBus::AgentId o) {
         r.bus.drive(o, sig::RST, 0);
         r.bus.release(o);
       },
       true, false},
  };
  for (const IrqCase& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    const auto other = rig.bus.attach("other", nullptr);
    c.setup(rig, other);
    EXPECT_EQ(rig.rd(reg::BUS_AND_STATUS) & bsr::IRQ_ACTIVE, 0);
    c.trigger(rig, other);
    const std::uint8_t status = rig.rd(reg::BUS_AND_STATUS);
    EXPECT_EQ((status & bsr::IRQ_ACTIVE) != 0, c.irq);
    EXPECT_EQ((status & bsr::BUSY_ERROR) != 0, c.busy_error);
    rig.bus.release(other);
    EXPECT_EQ((rig.rd(reg::BUS_AND_STATUS) & bsr::IRQ_ACTIVE) != 0, c.irq) << "latched";
    rig.rd(reg::RESET_PARITY_INTERRUPT);
    EXPECT_EQ(rig.rd(reg::BUS_AND_STATUS) & (bsr::IRQ_ACTIVE | bsr::BUSY_ERROR), 0);
    EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
  }
}

TEST(Ncr5380Interrupts, OwnBusResetInterruptsAndReleasesTheBus) {
  BoardRig rig;
  rig.wr(reg::INITIATOR_COMMAND, icr::ASSERT_BSY | icr::ASSERT_ATN);
  rig.wr(reg::INITIATOR_COMMAND, icr::ASSERT_RST | icr::ASSERT_BSY | icr::ASSERT_ATN);
  EXPECT_EQ(rig.bus.state().signals, sig::RST);
  EXPECT_EQ(rig.rd(reg::INITIATOR_COMMAND), icr::ASSERT_RST);
  rig.clock.advance_by(rig.bus.timings().reset_hold_time_ns);
  rig.wr(reg::INITIATOR_COMMAND, 0);
  EXPECT_EQ(rig.bus.state().signals, 0);
  EXPECT_NE(rig.rd(reg::BUS_AND_STATUS) & bsr::IRQ_ACTIVE, 0);
}

}  // namespace
}  // namespace qzr::hw::test
