// Data phases: the scanner's byte-by-byte writes and the block transfers
// through the host buffer, with the board scripted register by register.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/driver/driver_fixture.h"
#include "tests/driver/scripted_target.h"

namespace qzr::driver_test {
namespace {

constexpr UCHAR kCanary = 0xEE;

// BOARD_STATUS values: direction and interrupt enable as a transfer sets them.
constexpr UCHAR kReadIdle = DIR_IN | INT_ENABLE;                // block waiting
constexpr UCHAR kReadBusy = DIR_IN | INT_ENABLE | BUFFER_BUSY;  // none yet
constexpr UCHAR kReadStopped = NCR5380_ENABLE | kReadBusy;      // engine stopped, empty
constexpr UCHAR kReadDone = NCR5380_ENABLE | kReadIdle;         // handed back
constexpr UCHAR kWriteRoom = INT_ENABLE;
constexpr UCHAR kWriteFull = INT_ENABLE | BUFFER_BUSY;
constexpr UCHAR kWriteStopped = NCR5380_ENABLE | kWriteFull;
constexpr UCHAR kWriteDone = NCR5380_ENABLE | INT_ENABLE;

class TransferTest : public DriverTest {
 protected:
  TransferTest() {
    put_request_on_bus();
    port.echo_writes(MODE_REGISTER);
    port.echo_writes(INITIATOR_COMMAND);
    port.echo_writes(BLOCK_COUNT_LOW);
    port.echo_writes(BLOCK_COUNT_HIGH);
  }

  // A request buffer of `length` bytes followed by canaries.
  void give_request(std::size_t length, UCHAR fill = 0) {
    buffer.assign(length + 64, kCanary);
    for (std::size_t i = 0; i < length; ++i) buffer[i] = fill == 0 ? static_cast<UCHAR>(i) : fill;
    request.DataBuffer = buffer.data();
    request.DataTransferLength = static_cast<ULONG>(length);
    adapter.CurrentDataPointer = buffer.data();
    adapter.CurrentDataLength = static_cast<ULONG>(length);
    lu.SavedDataPointer = nullptr;
    lu.SavedDataLength = 0x12345;
  }

  void expect_pointers(std::size_t moved, std::size_t left) {
    EXPECT_EQ(adapter.CurrentDataPointer, buffer.data() + moved);
    EXPECT_EQ(adapter.CurrentDataLength, left);
    EXPECT_EQ(lu.SavedDataPointer, buffer.data() + moved);
    EXPECT_EQ(lu.SavedDataLength, left);
  }

  // BOARD_STATUS reads in order, then `then` for good.
  void board_status(std::vector<UCHAR> reads, UCHAR then) {
    port.on_read(BOARD_STATUS, [reads, then](std::uint64_t index) {
      return index < reads.size() ? reads[index] : then;
    });
  }

  bool touched_board() const {
    for (const Event& event : port.events()) {
      if ((event.call == Call::PortRead || event.call == Call::PortWrite) && event.reg >= 8) {
        return true;
      }
    }
    return port.count(Call::BufferRead) + port.count(Call::BufferWrite) != 0;
  }

  std::vector<UCHAR> buffer;
};

// A register value as the record prints it.
std::string hex(UCHAR value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

std::vector<UCHAR> pattern(std::size_t length, UCHAR first) {
  std::vector<UCHAR> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<UCHAR>(first + i);
  return bytes;
}

// ---- Byte-by-byte writes --------------------------------------------------------------

struct ByteWriteCase {
  const char* name;
  std::size_t length;
  std::size_t data_out_steps;  // REQs the target raises in Data Out
  int stuck_at;                // step whose REQ never falls, -1 for none
  UCHAR after_script;          // bus once the target stops asking
  BOOLEAN result;
  std::size_t moved;
};

const ByteWriteCase kByteWrites[] = {
    {"AllBytes", 64, 64, -1, 0x00, TRUE, 64},
    {"TargetSwitchesToMessageInAfter100Of512", 512, 100, -1, 0x7C, TRUE, 100},
    {"NothingToSend", 0, 4, -1, 0x00, TRUE, 0},
    {"RequestThatNeverComesEndsThePhaseQuietly", 32, 10, -1, 0x40, TRUE, 10},
    {"HandshakeTimeOutFails", 32, 32, 5, 0x00, FALSE, 5},
};

class ByteWriteTest : public TransferTest, public ::testing::WithParamInterface<ByteWriteCase> {};

TEST_P(ByteWriteTest, MovesWhatTheTargetTakes) {
  const ByteWriteCase& c = GetParam();
  give_request(c.length);
  std::vector<TargetStep> steps(c.data_out_steps, TargetStep{kDataOut});
  if (c.stuck_at >= 0) steps[c.stuck_at].keeps_req = true;
  ScriptedTarget target(port, steps, c.after_script);

  EXPECT_EQ(KLV528xWriteDataByte(&adapter), c.result);

  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_BYTE_WRITE);
  std::vector<UCHAR> sent(buffer.begin(), buffer.begin() + std::min(c.length, c.data_out_steps));
  if (c.stuck_at >= 0) sent.resize(c.stuck_at + 1);
  EXPECT_EQ(target.received(), sent);
  if (c.result) expect_pointers(c.moved, c.length - c.moved);
  EXPECT_FALSE(touched_board());
}

INSTANTIATE_TEST_SUITE_P(Cases, ByteWriteTest, ::testing::ValuesIn(kByteWrites),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, ByteWriteWithNothingLeftOnlyArmsThePhase) {
  give_request(0);
  EXPECT_EQ(KLV528xWriteDataByte(&adapter), TRUE);
  EXPECT_EQ(port.lines(), (Lines{"TCR <- 0x00", "RPI -> 0x00"}));
  expect_pointers(0, 0);
}

TEST_F(TransferTest, ByteWriteWaitingInVainForRequestSaysSo) {
  give_request(8);
  ScriptedTarget target(port, {{kDataOut}}, 0x40);
  EXPECT_EQ(KLV528xWriteDataByte(&adapter), TRUE);
  EXPECT_EQ(port.debug_lines(),
            (Lines{"\n Data Out Phase  ", "Fail to get REQ  ! ! !, 9c40, Write Byte"}));
}

// ---- Starting and ending a block transfer -------------------------------------------------

const Lines kEnableRead = {"TCR <- 0x01",  "stall 2",
                           "RPI -> 0x00",  "SWAP_CONTROL <- 0x01",
                           "ICR -> 0x00",  "ICR <- 0x01",
                           "MR <- 0x0e",   "BOARD_CONTROL <- 0x50",
                           "SDIR <- 0x00", "BUFFER_ACCESS <- 0x20"};
const Lines kEnableWrite = {"TCR <- 0x00", "stall 2",
                            "RPI -> 0x00", "SWAP_CONTROL <- 0x01",
                            "ICR -> 0x00", "ICR <- 0x01",
                            "MR <- 0x0e",  "BOARD_CONTROL <- 0x10",
                            "SDS <- 0x00", "BUFFER_ACCESS <- 0x20"};
const Lines kEndSequence = {"TCR <- 0x04", "ICR -> 0x01", "ICR <- 0x00", "stall 1",   "MR -> 0x0e",
                            "MR <- 0x04",  "stall 2",     "MR -> 0x04",  "MR <- 0x02"};

struct CountCase {
  const char* name;
  UCHAR direction;
  ULONG blocks;
  Lines count_lines;
};

const CountCase kCounts[] = {
    {"ReadOneBlock", DMA_READ, 1, {"BLOCK_COUNT_LOW <- 0x01"}},
    {"Read300BlocksIsNotReadBack",
     DMA_READ,
     300,
     {"BLOCK_COUNT_LOW <- 0x2c", "BLOCK_COUNT_HIGH <- 0x10"}},
    {"WriteOneBlock", DMA_WRITE, 1, {"BLOCK_COUNT_LOW <- 0x01", "BLOCK_COUNT_LOW -> 0x01"}},
    {"Write255Blocks", DMA_WRITE, 255, {"BLOCK_COUNT_LOW <- 0xff", "BLOCK_COUNT_LOW -> 0xff"}},
    {"Write256BlocksLeavesTheHighRegisterAlone",
     DMA_WRITE,
     256,
     {"BLOCK_COUNT_LOW <- 0x00", "BLOCK_COUNT_LOW -> 0x00"}},
    {"Write300Blocks",
     DMA_WRITE,
     300,
     {"BLOCK_COUNT_LOW <- 0x2c", "BLOCK_COUNT_HIGH <- 0x10", "BLOCK_COUNT_LOW -> 0x2c",
      "BLOCK_COUNT_HIGH -> 0x10"}},
    {"Write4095Blocks",
     DMA_WRITE,
     4095,
     {"BLOCK_COUNT_LOW <- 0xff", "BLOCK_COUNT_HIGH <- 0xf0", "BLOCK_COUNT_LOW -> 0xff",
      "BLOCK_COUNT_HIGH -> 0xf0"}},
};

class CountTest : public TransferTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(CountTest, ProgramsTheBlockCounter) {
  const CountCase& c = GetParam();
  EXPECT_EQ(EnableDMA(port.base(), c.direction, c.blocks), TRUE);
  EXPECT_EQ(port.lines(), (c.direction == DMA_READ ? kEnableRead : kEnableWrite) + c.count_lines);
}

INSTANTIATE_TEST_SUITE_P(Blocks, CountTest, ::testing::ValuesIn(kCounts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, WriteCountThatDidNotTakeIsLoadedAgain) {
  // The high nibble reads back wrong once (the low bits of the register float).
  port.answer(BLOCK_COUNT_HIGH, {0x00, 0x1f});
  EXPECT_EQ(EnableDMA(port.base(), DMA_WRITE, 300), TRUE);
  Lines lines = port.lines();
  EXPECT_EQ(
      Lines(lines.begin() + kEnableWrite.size(), lines.end()),
      (Lines{"BLOCK_COUNT_LOW <- 0x2c", "BLOCK_COUNT_HIGH <- 0x10", "BLOCK_COUNT_LOW -> 0x2c",
             "BLOCK_COUNT_HIGH -> 0x00", "BLOCK_COUNT_LOW <- 0x2c", "BLOCK_COUNT_HIGH <- 0x10",
             "BLOCK_COUNT_LOW -> 0x2c", "BLOCK_COUNT_HIGH -> 0x1f"}));
}

TEST_F(TransferTest, BoardThatNeverTakesTheWriteCountIsGivenUp) {
  port.set_default(BLOCK_COUNT_LOW, 0x00);
  port.echo_writes(BLOCK_COUNT_LOW);
  port.on_read(BLOCK_COUNT_LOW, [](std::uint64_t) -> UCHAR { return 0x00; });

  EXPECT_EQ(EnableDMA(port.base(), DMA_WRITE, 5), FALSE);

  EXPECT_EQ(port.count(Call::PortRead, BLOCK_COUNT_LOW), BLOCK_COUNT_REWRITES + 1u);
}

// ---- Block reads ---------------------------------------------------------------------------

TEST_F(TransferTest, InquiryReadIsDrainedThroughTheScratchBlock) {
  give_request(36);
  board_status({kReadBusy, kReadStopped, kReadStopped}, kReadDone);
  port.answer(SWAP_CONTROL, {36});
  std::vector<UCHAR> answer = pattern(36, 0x40);
  port.answer_buffer_bytes(answer);

  EXPECT_EQ(KLV528xReadDataBlock(&adapter), TRUE);

  EXPECT_EQ(port.lines(),
            (kEnableRead +
             Lines{"BLOCK_COUNT_LOW <- 0x01", "BOARD_STATUS -> 0x54", "BOARD_STATUS -> 0xd4",
                   "BOARD_STATUS -> 0xd4",
                   // the 5380 is back: drain the partial block
                   "BOARD_STATUS -> 0xd0", "SWAP_CONTROL <- 0x02", "SWAP_CONTROL -> 0x24",
                   "SWAP_CONTROL <- 0x01", "buffer read HOST_BUFFER_PORT x32"} +
             kEndSequence + Lines{"BOARD_STATUS -> 0xd0"} +
             Lines{"TCR <- 0x04", "ICR -> 0x00", "ICR <- 0x00", "stall 1", "MR -> 0x02",
                   "MR <- 0x00", "stall 2", "MR -> 0x00", "MR <- 0x02"}));
  EXPECT_EQ(std::vector<UCHAR>(buffer.begin(), buffer.begin() + 36), answer);
  EXPECT_EQ(buffer[36], kCanary);
  expect_pointers(36, 0);
  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_BLOCK_READ);
  // The whole answer stays in the scratch block for the profiling.
  EXPECT_EQ(reinterpret_cast<const UCHAR*>(Non128ByteData)[8], 0x48);
}

TEST_F(TransferTest, FullBlocksGoStraightIntoTheRequest) {
  give_request(4096);
  board_status(std::vector<UCHAR>(32, kReadIdle), kReadDone);
  std::vector<UCHAR> answer = pattern(4096, 7);
  port.answer_buffer_bytes(answer);

  EXPECT_EQ(KLV528xReadDataBlock(&adapter), TRUE);

  EXPECT_EQ(port.count(Call::BufferRead), 32u);
  EXPECT_EQ(port.count(Call::PortWrite, SWAP_CONTROL), 1u);  // only EnableDMA's: no drain
  EXPECT_EQ(std::vector<UCHAR>(buffer.begin(), buffer.begin() + 4096), answer);
  expect_pointers(4096, 0);
  Lines lines = port.lines();
  EXPECT_EQ(Lines(lines.end() - kEndSequence.size() - 1, lines.end()),
            (Lines{"BOARD_STATUS -> 0xd0"} + Lines{"TCR <- 0x04", "ICR -> 0x01", "ICR <- 0x00",
                                                   "stall 1", "MR -> 0x0e", "MR <- 0x04", "stall 2",
                                                   "MR -> 0x04", "MR <- 0x02"}));
}

TEST_F(TransferTest, ReadThatStopsToDisconnectCountsTheBlocksMoved) {
  give_request(4096);
  board_status(std::vector<UCHAR>(8, kReadIdle), kReadStopped);
  port.answer(SWAP_CONTROL, {0});

  EXPECT_EQ(KLV528xReadDataBlock(&adapter), TRUE);

  EXPECT_EQ(port.count(Call::BufferRead), 8u);
  expect_pointers(1024, 3072);
}

TEST_F(TransferTest, EmptyDataInFailsWithoutTouchingTheBoard) {
  give_request(0);
  EXPECT_EQ(KLV528xReadDataBlock(&adapter), FALSE);
  EXPECT_TRUE(port.events().empty());
}

TEST_F(TransferTest, EmptyDataOutSucceedsWithoutTouchingTheBoard) {
  give_request(0);
  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), TRUE);
  EXPECT_TRUE(port.events().empty());
  EXPECT_EQ(lu.SavedDataLength, 0x12345u);  // not even the pointers are saved
}

// A target that sends more than was asked for never writes past the request.
struct OverrunCase {
  const char* name;
  std::size_t length;
  std::vector<UCHAR> board;  // BOARD_STATUS reads, then kReadDone / kReadStopped
  UCHAR then;
  UCHAR valid_bytes;  // SWAP_CONTROL's count, for a drain
};

const OverrunCase kOverruns[] = {
    {"LastBlockArrivesFull", 100, {kReadIdle}, kReadDone, 0},
    {"PartialBlockHoldsMoreThanLeft", 36, {kReadBusy}, kReadStopped, 100},
    {"FullBlocksThenAnOverfullLastOne", 300, {kReadIdle, kReadIdle, kReadIdle}, kReadDone, 0},
};

class ReadOverrunTest : public TransferTest, public ::testing::WithParamInterface<OverrunCase> {};

TEST_P(ReadOverrunTest, KeepsOnlyWhatTheRequestHasRoomFor) {
  const OverrunCase& c = GetParam();
  give_request(c.length);
  board_status(c.board, c.then);
  port.answer(SWAP_CONTROL, {c.valid_bytes});
  port.answer_buffer_bytes(pattern(512, 0x10));

  EXPECT_EQ(KLV528xReadDataBlock(&adapter), TRUE);

  EXPECT_EQ(std::vector<UCHAR>(buffer.begin(), buffer.begin() + c.length), pattern(c.length, 0x10));
  for (std::size_t i = c.length; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kCanary) << i;
  expect_pointers(c.length, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadOverrunTest, ::testing::ValuesIn(kOverruns),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReadErrorCase {
  const char* name;
  std::vector<UCHAR> board;  // BOARD_STATUS reads, then the engine never hands back
  const char* message;
};

const ReadErrorCase kReadErrors[] = {
    {"NotHandedBackAfterTheTransferStopped",
     {kReadBusy, kReadStopped, kReadStopped},
     "\nReadDatablock error 1 "},
    {"NotHandedBackAfterTheLastBlock", {kReadIdle}, "\nReadDatablock error 6 "},
};

class ReadErrorTest : public TransferTest, public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(ReadErrorTest, FailsWithItsMessage) {
  const ReadErrorCase& c = GetParam();
  give_request(128);
  board_status(c.board, kReadIdle);

  EXPECT_EQ(KLV528xReadDataBlock(&adapter), FALSE);

  EXPECT_EQ(port.debug_lines(), (Lines{"\n Fail to wait 5380 become accessible ! ! !", c.message}));
  EXPECT_EQ(port.count(Call::PortWrite, TARGET_COMMAND), 1u);  // no end sequence
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadErrorTest, ::testing::ValuesIn(kReadErrors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, ReadGivesUpWhenTheRequestLosesTheBus) {
  give_request(256);
  port.on_read(BOARD_STATUS, [&](std::uint64_t index) -> UCHAR {
    if (index == 3) adapter.ActiveLu = nullptr;
    return kReadBusy;
  });
  EXPECT_EQ(KLV528xReadDataBlock(&adapter), FALSE);
  EXPECT_EQ(port.count(Call::PortRead, BOARD_STATUS), 4u);
}

TEST_F(TransferTest, ReadBeyondTheBlockCounterIsSplitIntoPhases) {
  const std::size_t length = (QZR_MAX_BLOCKS + 5) * 128;
  give_request(length);
  board_status(std::vector<UCHAR>(QZR_MAX_BLOCKS, kReadIdle), kReadDone);

  EXPECT_EQ(KLV528xReadDataBlock(&adapter), TRUE);

  EXPECT_EQ(port.count(Call::BufferRead), static_cast<std::size_t>(QZR_MAX_BLOCKS));
  Lines writes = port.lines({Call::PortWrite});
  EXPECT_EQ(Lines(writes.begin() + 7, writes.begin() + 9),
            (Lines{"BLOCK_COUNT_LOW <- 0xff", "BLOCK_COUNT_HIGH <- 0xf0"}));
  expect_pointers(QZR_MAX_BLOCKS * 128, 5 * 128);
}

// ---- Block writes ----------------------------------------------------------------------------

TEST_F(TransferTest, ShortWriteGoesAsOnePaddedBlock) {
  give_request(100);
  adapter.BlockWriteDelay[1] = 16;
  board_status({kWriteRoom}, kWriteDone);
  port.answer(TARGET_COMMAND, {LAST_BYTE_SEND});
  port.answer(SWAP_CONTROL, {100});  // the target took the data, not the padding
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x6C);

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), TRUE);

  EXPECT_EQ(port.lines(),
            (kEnableWrite +
             Lines{"BLOCK_COUNT_LOW <- 0x01", "BLOCK_COUNT_LOW -> 0x01", "BOARD_STATUS -> 0x10",
                   "stall 16", "BUFFER_ACCESS <- 0x22", "buffer write HOST_BUFFER_PORT x32",
                   "BUFFER_ACCESS <- 0x20", "BOARD_STATUS -> 0x90",
                   // how far the send got: the padded block is still counted
                   "BLOCK_COUNT_LOW -> 0x01", "SWAP_CONTROL -> 0x64",
                   // nothing left: wait for the last byte to leave the chip
                   "BLOCK_COUNT_LOW -> 0x01", "TCR -> 0x80", "CSBS -> 0x6c"} +
             kEndSequence));
  const Event& move = port.events()[kEnableWrite.size() + 5];
  std::vector<UCHAR> sent(128);
  for (std::size_t i = 0; i < 32; ++i) {
    for (std::size_t k = 0; k < 4; ++k) {
      sent[i * 4 + k] = static_cast<UCHAR>(port.detail(move).words[i] >> (8 * k));
    }
  }
  EXPECT_EQ(std::vector<UCHAR>(sent.begin(), sent.begin() + 100),
            std::vector<UCHAR>(buffer.begin(), buffer.begin() + 100));
  expect_pointers(100, 0);
  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_BLOCK_WRITE);
}

// A target that stops taking data with both slots full: the pointer goes back
// to the first byte it did not take, as the block counter and SWAP_CONTROL
// place it, so that exactly that data goes again after reselection.
struct CutCase {
  const char* name;
  UCHAR count;  // BLOCK_COUNT_LOW once the engine stopped (8 programmed, 4 handed)
  UCHAR taken;  // SWAP_CONTROL: bytes of the oldest held block taken
  BOOLEAN result;
  std::size_t moved;
};

const CutCase kCuts[] = {
    {"TwoWholeBlocksHeld", 6, 0, TRUE, 256},
    {"CutInsideTheOldestHeldBlock", 6, 72, TRUE, 328},
    // More held than the buffer has: what the target got is unknown.
    {"ImpossibleCount", 8, 0, FALSE, 512},
};

class WriteCutTest : public TransferTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(WriteCutTest, BacksUpToTheFirstByteNotTaken) {
  const CutCase& c = GetParam();
  give_request(1024);
  board_status(
      {kWriteRoom, kWriteRoom, kWriteRoom, kWriteRoom, kWriteFull, kWriteStopped, kWriteStopped},
      kWriteStopped);
  port.answer(BLOCK_COUNT_LOW, {0x08, c.count, c.count});
  port.answer(SWAP_CONTROL, {c.taken});
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x7C);  // the target went to Message In

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), c.result);

  EXPECT_EQ(port.count(Call::BufferWrite), 4u);
  EXPECT_EQ(adapter.CurrentDataPointer, buffer.data() + c.moved);
  EXPECT_EQ(adapter.CurrentDataLength, 1024 - c.moved);
  if (!c.result) {
    EXPECT_EQ(port.count(Call::PortWrite, TARGET_COMMAND), 1u);  // no end sequence
    return;
  }
  expect_pointers(c.moved, 1024 - c.moved);
  Lines lines = port.lines();
  EXPECT_EQ(Lines(lines.end() - kEndSequence.size() - 4, lines.end()),
            (Lines{"BLOCK_COUNT_LOW -> 0x06", "SWAP_CONTROL -> " + hex(c.taken),
                   "BLOCK_COUNT_LOW -> 0x06", "CSBS -> 0x7c"} +
             kEndSequence));
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteCutTest, ::testing::ValuesIn(kCuts),
                         [](const auto& info) { return std::string(info.param.name); });

// Every block handed over, and then the target changed phase: to Status
// with all of it, or to disconnect before the last blocks went out.
struct WriteEndCase {
  const char* name;
  std::size_t length;
  UCHAR count;  // BLOCK_COUNT_LOW once the engine stopped
  UCHAR taken;  // SWAP_CONTROL
  std::size_t moved;
};

const WriteEndCase kWriteEnds[] = {
    {"AllTaken", 512, 0, 0, 512},
    {"StoppedWithTwoBlocksHeld", 512, 2, 0, 256},
    {"StoppedInsideTheLastHeldBlock", 512, 1, 100, 484},
    // 300 bytes: the last block holds 44 bytes of data and 84 of padding.
    {"PartialLastBlockTaken", 300, 1, 44, 300},
    {"StoppedInsideThePartialLastBlock", 300, 1, 20, 276},
    {"StoppedBeforeThePartialLastBlock", 300, 2, 100, 228},
    {"PaddingTakenToo", 300, 0, 0, 300},
};

class WriteEndTest : public TransferTest, public ::testing::WithParamInterface<WriteEndCase> {};

TEST_P(WriteEndTest, CountsOnlyWhatTheTargetTook) {
  const WriteEndCase& c = GetParam();
  give_request(c.length);
  const UCHAR blocks = static_cast<UCHAR>((c.length + 127) / 128);
  board_status(std::vector<UCHAR>(blocks, kWriteRoom), kWriteDone);
  port.answer(BLOCK_COUNT_LOW, {blocks, c.count, c.count});
  port.answer(SWAP_CONTROL, {c.taken});
  port.set_default(TARGET_COMMAND, LAST_BYTE_SEND);
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x7C);

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), TRUE);

  EXPECT_EQ(port.count(Call::BufferWrite), static_cast<std::size_t>(blocks));
  expect_pointers(c.moved, c.length - c.moved);
  EXPECT_EQ(port.count(Call::PortRead, SWAP_CONTROL), c.count == 0 ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteEndTest, ::testing::ValuesIn(kWriteEnds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, WriteCutShortNeverMovesBeforeTheRequestsData) {
  // A board that claims a full buffer before anything was handed over.
  give_request(1024);
  board_status({kWriteFull, kWriteStopped, kWriteStopped}, kWriteStopped);
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x7C);

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), TRUE);

  expect_pointers(0, 1024);
}

TEST_F(TransferTest, WriteBeyondTheBlockCounterIsSplitIntoPhases) {
  const std::size_t length = QZR_MAX_BLOCKS * 128 + 100;
  give_request(length);
  board_status(std::vector<UCHAR>(QZR_MAX_BLOCKS, kWriteRoom), kWriteDone);
  port.answer(BLOCK_COUNT_LOW, {0xFF, 0x00, 0x00});  // read back, then terminal count
  port.set_default(TARGET_COMMAND, LAST_BYTE_SEND);

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), TRUE);

  // Every block of this phase is a full one: the 100 bytes go in the next.
  EXPECT_EQ(port.count(Call::BufferWrite), static_cast<std::size_t>(QZR_MAX_BLOCKS));
  expect_pointers(QZR_MAX_BLOCKS * 128, 100);
}

TEST_F(TransferTest, WriteGivesUpWhenTheRequestLosesTheBus) {
  give_request(256);
  port.on_read(BOARD_STATUS, [&](std::uint64_t index) -> UCHAR {
    if (index == 2) adapter.ActiveLu = nullptr;
    return kWriteFull;
  });
  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), FALSE);
  EXPECT_EQ(port.count(Call::PortWrite, TARGET_COMMAND), 1u);  // no end sequence
}

// Bounds of our own: a board or target that never moves fails the phase.
TEST_F(TransferTest, WriteWithNoRoomForABlockIsGivenUp) {
  give_request(256);
  port.set_default(BOARD_STATUS, kWriteFull);

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), FALSE);

  EXPECT_EQ(port.count(Call::PortRead, BOARD_STATUS), WRITE_ROOM_POLLS + 1u);
  EXPECT_EQ(port.count(Call::BufferWrite), 0u);
}

TEST_F(TransferTest, TargetThatStaysInDataOutAfterTheLastByteFailsTheWrite) {
  give_request(128);
  board_status({kWriteRoom}, kWriteDone);
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x60);

  EXPECT_EQ(KLV528xWriteDataBlock(&adapter), FALSE);

  EXPECT_EQ(port.count(Call::PortRead, CURRENT_SCSI_BUS_STATUS), DISABLE_DMA_POLLS + 0u);
  // The chip is still put back to rest.
  EXPECT_EQ(port.last_written(MODE_REGISTER), MODE_DMA_MODE);
  EXPECT_EQ(port.last_written(TARGET_COMMAND), TC_NO_PHASE);
}

struct SendEndCase {
  const char* name;
  UCHAR count;  // BLOCK_COUNT_LOW at the end
  std::size_t length;
  UCHAR bus_status;
};

// The wait for the end of a send is over as soon as the bus says so.
const SendEndCase kSendEnds[] = {
    {"TargetWentToStatus", 0, 128, 0x6C},
    {"TargetReleasedTheBus", 0, 128, 0x00},
    {"CutShortTargetReleasedTheBus", 2, 1024, 0x00},
};

class SendEndTest : public TransferTest, public ::testing::WithParamInterface<SendEndCase> {};

TEST_P(SendEndTest, EndsTheWaitAtOnce) {
  const SendEndCase& c = GetParam();
  give_request(c.length);
  adapter.CurrentDataLength = c.length == 128 ? 0 : 256;
  port.answer(BLOCK_COUNT_LOW, {c.count});
  port.set_default(CURRENT_SCSI_BUS_STATUS, c.bus_status);

  EXPECT_EQ(DisableDMA(&adapter, DMA_WRITE), TRUE);

  EXPECT_EQ(port.count(Call::PortRead, CURRENT_SCSI_BUS_STATUS), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendEndTest, ::testing::ValuesIn(kSendEnds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qzr::driver_test
