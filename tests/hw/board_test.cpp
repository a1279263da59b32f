// The board logic through raw register accesses: block reads and writes
// through the host buffer, the block counter, the interrupt latch, board
// reset and the guest-error log.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>
#include <string>

#include "tests/hw/board_rig.h"
#include "tests/hw/scripted_target.h"

namespace qzr::hw::test {
namespace {

using namespace ncr;

constexpr int kTargetId = 2;
const std::vector<std::uint8_t> kRead10 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
const std::vector<std::uint8_t> kWrite10 = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};

std::vector<ScriptStep> read_script(const std::vector<std::uint8_t>& data,
                                    std::size_t cdb_bytes = 10) {
  return {{Phase::MessageOut, {}, 1},
          {Phase::Command, {}, cdb_bytes},
          {Phase::DataIn, data},
          {Phase::Status, {0x00}},
          {Phase::MessageIn, {0x00}}};
}

std::vector<ScriptStep> write_script(std::size_t take_bytes) {
  return {{Phase::MessageOut, {}, 1},
          {Phase::Command, {}, 10},
          {Phase::DataOut, {}, take_bytes},
          {Phase::Status, {0x00}},
          {Phase::MessageIn, {0x00}}};
}

void connect(BoardRig& rig, const std::vector<std::uint8_t>& cdb) {
  ASSERT_TRUE(rig.select(kTargetId, true));
  rig.pio_send(Phase::MessageOut, {0x80}, true);
  rig.pio_send(Phase::Command, cdb);
}

TEST(Board, PciIdentity) {
  BoardRig rig;
  EXPECT_EQ(rig.pci.config_read32(0, 0x00), 0x00011F7Cu);
  EXPECT_EQ(rig.pci.config_read32(0, 0x08) >> 16, 0x0100u) << "mass storage, SCSI";
  rig.pci.config_write32(0, 0x10, 0xFFFFFFFF);
  EXPECT_EQ(rig.pci.config_read32(0, 0x10), 0xFFFFFFE1u) << "32-byte I/O window";
}

// The exact register sequence software uses for a 36-byte INQUIRY: the
// target stops short of the first block, the host takes the partial block by
// a forced swap without touching BUFFER_ACCESS.
TEST(BoardBlockRead, InquiryByForcedSwapLeavesNoGuestErrors) {
  BoardRig rig;
  const std::vector<std::uint8_t> inquiry = pattern(36, 0x10);
  ScriptedTarget target(rig.bus, kTargetId, read_script(inquiry, 6));
  connect(rig, {0x12, 0, 0, 0, 36, 0});

  rig.wr(reg::TARGET_COMMAND, 1);
  rig.rd(reg::RESET_PARITY_INTERRUPT);
  rig.wr(board::SWAP_CONTROL, 1);
  rig.wr(reg::INITIATOR_COMMAND, rig.rd(reg::INITIATOR_COMMAND) | 0x01);
  rig.wr(reg::MODE, 0x0E);
  rig.wr(board::BOARD_CONTROL, 0x50);
  rig.wr(reg::START_DMA_INITIATOR_RECEIVE, 0);
  rig.wr(board::BUFFER_ACCESS, 0x20);
  rig.wr(board::BLOCK_COUNT_LOW, 1);

  // The target sends 36 bytes and asks for Status: the engine stops there.
  ASSERT_TRUE(rig.poll(board::BOARD_STATUS,
                       board::status::NCR5380_ENABLE | board::status::BUFFER_BUSY,
                       board::status::NCR5380_ENABLE | board::status::BUFFER_BUSY));
  EXPECT_TRUE(rig.irq_line()) << "phase mismatch interrupt";
  EXPECT_EQ(rig.read_block_count(), 1) << "no block completed";
  rig.wr(board::SWAP_CONTROL, 2);
  EXPECT_EQ(rig.rd(board::SWAP_CONTROL), 36);
  rig.wr(board::SWAP_CONTROL, 1);
  std::vector<std::uint8_t> got;
  rig.read_slot(got, 128, false);
  EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.begin() + 36), inquiry);
  EXPECT_EQ(rig.finish_command(), (std::vector<std::uint8_t>{0x00, 0x00}));
  EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
}

TEST(BoardBlockRead, TransfersOfEveryShape) {
  const struct {
    std::size_t bytes;
    std::uint16_t blocks;
    bool terminal_count;
    int swapped_bytes;
  } cases[] = {
      {36, 1, false, 36},
      {128, 1, true, -1},
      {4096, 32, true, -1},
      {300, 3, false, 44},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    BoardRig rig;
    const std::vector<std::uint8_t> data = pattern(c.bytes, 0x33);
    ScriptedTarget target(rig.bus, kTargetId, read_script(data));
    connect(rig, kRead10);
    rig.start_dma_read(c.blocks);
    const BoardRig::ReadResult result = rig.drain_dma_read();
    EXPECT_EQ(result.bytes, data);
    EXPECT_EQ(result.end_of_dma, c.terminal_count);
    EXPECT_EQ(result.swapped_bytes, c.swapped_bytes);
    EXPECT_EQ(rig.read_block_count(), c.terminal_count ? 0 : 1);
    EXPECT_TRUE(rig.irq_line()) << (c.terminal_count ? "end of process" : "phase mismatch");
    EXPECT_EQ(rig.finish_command(), (std::vector<std::uint8_t>{0x00, 0x00}));
    EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
  }
}

TEST(BoardBlockRead, TargetWaitsWhileBothSlotsAreFull) {
  BoardRig rig;
  ScriptedTarget target(rig.bus, kTargetId, read_script(pattern(512)));
  connect(rig, kRead10);
  rig.start_dma_read(4);
  rig.clock.advance_by(2 * kNsPerMs);
  EXPECT_EQ(rig.read_block_count(), 2) << "two slots filled, no more room";
  EXPECT_NE(rig.bus.state().signals & sig::REQ, 0) << "third block's first byte waits";
  EXPECT_EQ(rig.bus.state().signals & sig::ACK, 0);
  const BoardRig::ReadResult result = rig.drain_dma_read();
  EXPECT_EQ(result.bytes, pattern(512));
  EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
}

TEST(BoardBlockRead, BytesOfferedBeforeArmingWaitUnacknowledged) {
  BoardRig rig;
  ScriptedTarget target(rig.bus, kTargetId, read_script(pattern(128)));
  connect(rig, kRead10);
  rig.wr(reg::TARGET_COMMAND, static_cast<std::uint8_t>(Phase::DataIn));
  rig.wr(reg::MODE, mode::DMA_MODE);
  rig.wr(board::BOARD_CONTROL, board::control::DIR_IN);
  rig.wr(reg::START_DMA_INITIATOR_RECEIVE, 0);
  rig.clock.advance_by(100 * kNsPerUs);
  EXPECT_EQ(rig.bus.state().signals & (sig::REQ | sig::ACK), sig::REQ);
  rig.program_block_count(1);
  const BoardRig::ReadResult result = rig.drain_dma_read();
  EXPECT_EQ(result.bytes, pattern(128));
  EXPECT_TRUE(result.end_of_dma);
}

// Terminal count while the target still offers data: no phase change muddles
// the interrupt, so it comes from Enable EOP Interrupt alone.
TEST(BoardBlockEngine, TerminalCountSetsEndOfDmaAndInterruptsOnlyWhenEnabled) {
  for (const bool eop_interrupt : {true, false}) {
    SCOPED_TRACE(eop_interrupt);
    BoardRig rig;
    ScriptedTarget target(rig.bus, kTargetId, read_script(pattern(256)));
    connect(rig, kRead10);
    rig.start_dma_read(1);
    if (!eop_interrupt) rig.wr(reg::MODE, mode::MONITOR_BUSY | mode::DMA_MODE);
    ASSERT_TRUE(rig.poll(board::BOARD_STATUS, board::status::NCR5380_ENABLE,
                         board::status::NCR5380_ENABLE));
    rig.clock.advance_by(100 * kNsPerUs);
    EXPECT_NE(rig.bus.state().signals & sig::REQ, 0) << "the target waits for its 129th byte";
    EXPECT_NE(rig.rd(reg::BUS_AND_STATUS) & bsr::END_OF_DMA, 0);
    EXPECT_EQ((rig.rd(reg::BUS_AND_STATUS) & bsr::IRQ_ACTIVE) != 0, eop_interrupt);
    EXPECT_EQ(rig.irq_line(), eop_interrupt);
    EXPECT_EQ(rig.rd(reg::TARGET_COMMAND) & tcr::LAST_BYTE_SENT, 0) << "a receive sends nothing";
    rig.wr(reg::MODE, mode::MONITOR_BUSY);
    EXPECT_EQ(rig.rd(reg::BUS_AND_STATUS) & bsr::END_OF_DMA, 0) << "cleared with DMA Mode";
  }
}

TEST(BoardBlockEngine, LastByteSentHoldsUntilTheNextSend) {
  BoardRig rig;
  ScriptedTarget target(rig.bus, kTargetId, write_script(128));
  connect(rig, kWrite10);
  rig.start_dma_write(1);
  const std::vector<std::uint8_t> data = pattern(128);
  ASSERT_TRUE(rig.write_block(data.data(), 128));
  ASSERT_TRUE(
      rig.poll(board::BOARD_STATUS, board::status::NCR5380_ENABLE, board::status::NCR5380_ENABLE));
  EXPECT_NE(rig.rd(reg::TARGET_COMMAND) & tcr::LAST_BYTE_SENT, 0);
  rig.rd(reg::RESET_PARITY_INTERRUPT);
  EXPECT_NE(rig.rd(reg::TARGET_COMMAND) & tcr::LAST_BYTE_SENT, 0);
  rig.wr(reg::START_DMA_SEND, 0);
  EXPECT_EQ(rig.rd(reg::TARGET_COMMAND) & tcr::LAST_BYTE_SENT, 0);
}

// The engine gives up the bus handshake on each event that ends a transfer,
// and says so through NCR5380_ENABLE.
TEST(BoardBlockEngine, StopsOnMismatchBusyLossAndReset) {
  const struct {
    const char* name;
    int target_signals;
  } cases[] = {
      {"phase mismatch", sig::BSY | sig::REQ | phase_signals(Phase::Status)},
      {"loss of BSY", 0},
      {"bus reset", sig::RST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    const auto target = rig.bus.attach("target", nullptr);
    rig.bus.drive(target, sig::BSY | phase_signals(Phase::DataIn), 0);
    rig.start_dma_read(2);
    EXPECT_EQ(rig.rd(board::BOARD_STATUS) & board::status::NCR5380_ENABLE, 0) << "engine runs";
    // One byte by hand, so the engine is known to be acknowledging.
    rig.bus.drive(target, sig::BSY | sig::REQ | phase_signals(Phase::DataIn), 0x42);
    rig.clock.advance_by(kNsPerUs);
    EXPECT_NE(rig.bus.state().signals & sig::ACK, 0);
    rig.bus.drive(target, sig::BSY | phase_signals(Phase::DataIn), 0);
    rig.clock.advance_by(kNsPerUs);
    EXPECT_EQ(rig.bus.state().signals & sig::ACK, 0);

    rig.bus.drive(target, static_cast<std::uint16_t>(c.target_signals), 0);
    EXPECT_NE(rig.rd(board::BOARD_STATUS) & board::status::NCR5380_ENABLE, 0);
    EXPECT_TRUE(rig.irq_line());
    rig.bus.drive(target, sig::BSY | sig::REQ | phase_signals(Phase::DataIn), 0x43);
    rig.clock.advance_by(10 * kNsPerUs);
    EXPECT_EQ(rig.bus.state().signals & sig::ACK, 0) << "no more handshakes";
    EXPECT_EQ(rig.rd(ncr::reg::BUS_AND_STATUS) & bsr::END_OF_DMA, 0) << "not terminal count";
  }
}

TEST(BoardBlockWrite, FullPaddedAndCutShort) {
  const struct {
    const char* name;
    std::size_t host_bytes;    // what the host has to send
    std::size_t target_takes;  // what the target takes before Status
    std::uint16_t blocks;
    bool terminal_count;
    std::uint16_t count_left;
    bool buffer_busy_after;  // no free slot once the engine stopped
    // SWAP_CONTROL in the write direction: bytes of the oldest held slot
    // the target took. With the count it places the cut to the byte.
    std::uint8_t taken_of_held;
  } cases[] = {
      {"full", 384, 384, 3, true, 0, false, 0},
      {"padded last block", 100, 100, 1, false, 1, false, 100},
      {"cut short, both slots full", 256, 50, 2, false, 2, true, 50},
      {"cut inside the second block", 256, 200, 2, false, 1, false, 72},
      {"cut at a block boundary", 384, 256, 3, false, 1, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    const std::vector<std::uint8_t> data = pattern(c.host_bytes, 0x55);
    ScriptedTarget target(rig.bus, kTargetId, write_script(c.target_takes));
    connect(rig, kWrite10);
    rig.start_dma_write(c.blocks);
    for (std::size_t at = 0; at < data.size(); at += 128) {
      ASSERT_TRUE(rig.write_block(data.data() + at, std::min<std::size_t>(128, data.size() - at)));
    }
    ASSERT_TRUE(rig.poll(board::BOARD_STATUS, board::status::NCR5380_ENABLE,
                         board::status::NCR5380_ENABLE));
    const std::size_t sent = std::min(c.host_bytes, c.target_takes);
    std::vector<std::uint8_t> expected = {0x80};
    expected.insert(expected.end(), kWrite10.begin(), kWrite10.end());
    expected.insert(expected.end(), data.begin(), data.begin() + static_cast<long>(sent));
    EXPECT_EQ(target.taken(), expected);
    EXPECT_EQ((rig.rd(reg::BUS_AND_STATUS) & bsr::END_OF_DMA) != 0, c.terminal_count);
    EXPECT_EQ((rig.rd(reg::TARGET_COMMAND) & tcr::LAST_BYTE_SENT) != 0, c.terminal_count);
    EXPECT_EQ(rig.read_block_count(), c.count_left);
    EXPECT_EQ((rig.rd(board::BOARD_STATUS) & board::status::BUFFER_BUSY) != 0, c.buffer_busy_after);
    EXPECT_EQ(rig.rd(board::SWAP_CONTROL), c.taken_of_held);
    EXPECT_EQ(rig.finish_command(), (std::vector<std::uint8_t>{0x00, 0x00}));
    EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
  }
}

TEST(BoardBlockWrite, ArmingDiscardsWhatACutShortWriteLeft) {
  BoardRig rig;
  ScriptedTarget target(rig.bus, kTargetId, write_script(10));
  connect(rig, kWrite10);
  rig.start_dma_write(2);
  const std::vector<std::uint8_t> data = pattern(256);
  ASSERT_TRUE(rig.write_block(data.data(), 128));
  ASSERT_TRUE(rig.write_block(data.data() + 128, 128));
  ASSERT_TRUE(
      rig.poll(board::BOARD_STATUS, board::status::NCR5380_ENABLE, board::status::NCR5380_ENABLE));
  EXPECT_NE(rig.rd(board::BOARD_STATUS) & board::status::BUFFER_BUSY, 0);
  rig.wr(reg::START_DMA_SEND, 0);
  rig.program_block_count(1);
  EXPECT_EQ(rig.rd(board::BOARD_STATUS) & board::status::BUFFER_BUSY, 0);
}

TEST(BoardCounter, ProgrammedValuesReadBackAndCountDownPerBlock) {
  const struct {
    std::uint16_t blocks;
    std::uint8_t high_register;
    std::uint8_t low_register;
    std::uint16_t after_one_block;
  } cases[] = {
      {1, 0x00, 0x01, 0},       {255, 0x00, 0xFF, 254},
      {256, 0x10, 0x00, 255},   {300, 0x10, 0x2C, 299},
      {4095, 0xF0, 0xFF, 4094}, {0, 0x00, 0x00, 0xFFF},  // a count of 0 wraps: 4096 blocks
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.blocks);
    BoardRig rig;
    ScriptedTarget target(rig.bus, kTargetId, read_script(pattern(256)));
    connect(rig, kRead10);
    rig.start_dma_read(c.blocks);
    EXPECT_EQ(rig.rd(board::BLOCK_COUNT_HIGH) & board::BLOCK_COUNT_HIGH_MASK, c.high_register);
    EXPECT_EQ(rig.rd(board::BLOCK_COUNT_LOW), c.low_register);
    ASSERT_TRUE(rig.poll(board::BOARD_STATUS, board::status::BUFFER_BUSY, 0));
    EXPECT_EQ(rig.read_block_count(), c.after_one_block);
    const bool terminal = c.after_one_block == 0;
    EXPECT_EQ((rig.rd(reg::BUS_AND_STATUS) & bsr::END_OF_DMA) != 0, terminal);
    EXPECT_EQ((rig.rd(board::BOARD_STATUS) & board::status::NCR5380_ENABLE) != 0, terminal);
  }
}

TEST(BoardInterrupts, LatchClearsOnlyAfterChipIrqThenOneMoreStatusRead) {
  BoardRig rig;
  int line_changes = 0;
  bool last_level = false;
  rig.pci.set_interrupt_listener([&] {
    if (rig.irq_line() != last_level) ++line_changes;
    last_level = rig.irq_line();
  });
  rig.wr(board::BOARD_CONTROL, board::control::INT_ENABLE);
  const auto other = rig.bus.attach("other", nullptr);
  rig.bus.drive(other, sig::RST, 0);
  rig.bus.release(other);
  EXPECT_TRUE(rig.irq_line());

  using board::status::INT_PENDING;
  EXPECT_NE(rig.rd(board::BOARD_STATUS) & INT_PENDING, 0);
  EXPECT_TRUE(rig.irq_line()) << "chip IRQ still active: the latch holds";
  rig.rd(reg::RESET_PARITY_INTERRUPT);
  EXPECT_TRUE(rig.irq_line()) << "the latch outlives the chip's IRQ";
  EXPECT_NE(rig.rd(board::BOARD_STATUS) & INT_PENDING, 0) << "returned once more";
  EXPECT_FALSE(rig.irq_line());
  EXPECT_EQ(rig.rd(board::BOARD_STATUS) & INT_PENDING, 0);
  EXPECT_EQ(line_changes, 2);
}

TEST(BoardInterrupts, ChipIrqReachesTheLineOnlyWithIntEnable) {
  BoardRig rig;
  const auto other = rig.bus.attach("other", nullptr);
  rig.bus.drive(other, sig::RST, 0);
  rig.bus.release(other);
  EXPECT_FALSE(rig.irq_line());
  EXPECT_EQ(rig.rd(board::BOARD_STATUS) & board::status::INT_PENDING, 0);
  rig.wr(board::BOARD_CONTROL, board::control::INT_ENABLE);
  EXPECT_TRUE(rig.irq_line()) << "an IRQ already active is latched when enabled";
}

TEST(BoardReset, ClearsBoardStateButNotTheChip) {
  BoardRig rig;
  ScriptedTarget target(rig.bus, kTargetId, read_script(pattern(300)));
  connect(rig, kRead10);
  rig.start_dma_read(3);
  ASSERT_TRUE(rig.poll(board::BOARD_STATUS, board::status::BUFFER_BUSY, 0));
  rig.wr(board::BUFFER_ACCESS, board::buffer_access::HOST_MOVING);
  rig.wr(board::SWAP_CONTROL, board::swap::FORCE);

  rig.wr(board::BOARD_CONTROL,
         board::control::BOARD_RESET | board::control::DIR_IN | board::control::INT_ENABLE);
  EXPECT_FALSE(rig.irq_line());
  EXPECT_EQ(rig.read_block_count(), 0);
  EXPECT_EQ(rig.rd(board::SWAP_CONTROL), 0);
  EXPECT_EQ(rig.rd(board::BOARD_STATUS), board::status::NCR5380_ENABLE | board::status::DIR_IN |
                                             board::status::INT_ENABLE |
                                             board::status::BUFFER_BUSY);
  EXPECT_EQ(rig.rd(reg::MODE), mode::ENABLE_EOP_INTERRUPT | mode::MONITOR_BUSY | mode::DMA_MODE);
  EXPECT_EQ(rig.rd(reg::TARGET_COMMAND), static_cast<std::uint8_t>(Phase::DataIn));
  rig.clock.advance_by(kNsPerMs);
  EXPECT_EQ(rig.bus.state().signals & sig::ACK, 0) << "the engine no longer acknowledges";
  rig.wr(board::BOARD_CONTROL, board::control::DIR_IN);
  EXPECT_EQ(rig.rd(board::BOARD_STATUS),
            board::status::NCR5380_ENABLE | board::status::DIR_IN | board::status::BUFFER_BUSY);
}

TEST(BoardGuestErrors, EachMisuseIsRecordedWithItsRegister) {
  const struct {
    const char* name;
    std::function<void(BoardRig&)> misuse;
    const char* says;
  } cases[] = {
      {"Input Data read", [](BoardRig& r) { r.rd(6); }, "Input Data"},
      {"Start DMA Target Receive", [](BoardRig& r) { r.wr(6, 0); }, "Target Receive"},
      {"unassigned offset", [](BoardRig& r) { r.wr(11, 0); }, "offset 11"},
      {"offset 31", [](BoardRig& r) { r.rd(31); }, "offset 31"},
      {"8-bit buffer port", [](BoardRig& r) { r.rd(board::HOST_BUFFER_PORT); }, "32-bit accesses"},
      {"32-bit status", [](BoardRig& r) { r.rd32(board::BOARD_STATUS); }, "BOARD_STATUS"},
      {"BUFFER_ACCESS read", [](BoardRig& r) { r.rd(board::BUFFER_ACCESS); }, "write-only"},
      {"DMA without DMA Mode", [](BoardRig& r) { r.wr(reg::START_DMA_SEND, 0); }, "DMA Mode"},
      {"target mode", [](BoardRig& r) { r.wr(reg::MODE, mode::TARGET_MODE); }, "Target Mode"},
      {"parity", [](BoardRig& r) { r.wr(reg::MODE, mode::ENABLE_PARITY_CHECK); }, "Parity"},
      {"buffer read with no ready slot",
       [](BoardRig& r) {
         r.wr(board::BOARD_CONTROL, board::control::DIR_IN);
         EXPECT_EQ(r.rd32(board::HOST_BUFFER_PORT), 0xFFFFFFFFu);
       },
       "no ready slot"},
      {"buffer write with no free slot",
       [](BoardRig& r) {
         for (int i = 0; i < 65; ++i) r.wr32(board::HOST_BUFFER_PORT, 0);
       },
       "no free slot"},
      {"full block without BUFFER_ACCESS",
       [](BoardRig& r) {
         for (int i = 0; i < 32; ++i) r.wr32(board::HOST_BUFFER_PORT, 0);
       },
       "BUFFER_ACCESS at 0x22"},
      {"forced swap writing", [](BoardRig& r) { r.wr(board::SWAP_CONTROL, board::swap::FORCE); },
       "SWAP_CONTROL"},
      {"SWAP_CONTROL value", [](BoardRig& r) { r.wr(board::SWAP_CONTROL, 3); }, "SWAP_CONTROL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    c.misuse(rig);
    ASSERT_FALSE(rig.errors.empty());
    EXPECT_NE(rig.errors.entries().back().what.find(c.says), std::string::npos)
        << rig.errors.format();
    EXPECT_EQ(rig.errors.entries().back().device, "qzr6140");
  }
}

TEST(BoardGuestErrors, BufferWriteWithNoFreeSlotIsDropped) {
  BoardRig rig;
  rig.wr(board::BUFFER_ACCESS, board::buffer_access::HOST_MOVING);
  for (int i = 0; i < 64; ++i) rig.wr32(board::HOST_BUFFER_PORT, 0);
  EXPECT_TRUE(rig.errors.empty()) << rig.errors.format();
  EXPECT_NE(rig.rd(board::BOARD_STATUS) & board::status::BUFFER_BUSY, 0);
  rig.wr32(board::HOST_BUFFER_PORT, 0);
  EXPECT_EQ(rig.errors.entries().size(), 1u);
}

TEST(BoardLogging, CategoriesGoToTheSinkOnlyWhenEnabled) {
  BoardRig rig;
  std::vector<std::string> lines;
  rig.board.log().set_sink([&](std::string_view line) { lines.emplace_back(line); });
  rig.rd(board::BOARD_STATUS);
  rig.wr(reg::MODE, mode::ARBITRATE);
  rig.clock.advance_by(kNsPerMs);
  EXPECT_TRUE(lines.empty());

  std::ostringstream stream;
  rig.board.log().set_stream(&stream);
  rig.board.log().enable(log_category::REGISTER_READ | log_category::ARBITRATION);
  rig.rd(board::BOARD_STATUS);
  rig.wr(reg::MODE, 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("BOARD_STATUS"), std::string::npos);
  EXPECT_NE(lines[1].find("arbitration"), std::string::npos);
  EXPECT_NE(stream.str().find("BOARD_STATUS"), std::string::npos);
}

}  // namespace
}  // namespace qzr::hw::test
