// The phase loop and its endings, the interrupt routine and reselection,
// against a scripted target.
#include <array>

#include "tests/driver/driver_fixture.h"
#include "tests/driver/scripted_target.h"

namespace qzr::driver_test {
namespace {

const Lines kBusReset = {"ICR <- 0x80",
                         "stall 100",
                         "ICR <- 0x00",
                         "stall 100",
                         "BOARD_STATUS -> 0x00",
                         "BOARD_CONTROL <- 0x80",
                         "stall 10",
                         "BOARD_CONTROL <- 0x00",
                         "stall 1",
                         "MR <- 0x00",
                         "TCR <- 0x00",
                         "stall 1",
                         "CompleteRequest(0, 0xff, 0xff, 0x0e)",
                         "NextRequest"};

class EngineTest : public DriverTest {
 protected:
  EngineTest() {
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<UCHAR>(i * 3);
    request.DataBuffer = data.data();
    request.DataTransferLength = 512;
    put_request_on_bus();
    lu.SavedDataPointer = data.data();
    lu.SavedDataLength = 512;
    adapter.CurrentDataPointer = data.data();
    adapter.CurrentDataLength = 512;
    port.echo_writes(MODE_REGISTER);
  }

  std::array<UCHAR, 512> data{};
};

// ---- Phase decoding -------------------------------------------------------------------

struct DecodeCase {
  const char* name;
  std::vector<UCHAR> reads;  // Current SCSI Bus Status, the last one repeated
  ULONG state;
  std::size_t read_count;
};

const DecodeCase kDecodes[] = {
    {"BusFree", {0x00}, LU_STATE_BUS_FREE, 1},
    {"DataOut", {0x60}, LU_STATE_DATA_OUT, 1},
    {"DataIn", {0x64}, LU_STATE_DATA_IN, 1},
    {"Command", {0x68}, LU_STATE_COMMAND, 1},
    {"Status", {0x6C}, LU_STATE_STATUS, 1},
    {"MessageOut", {0x78}, LU_STATE_MESSAGE_OUT, 1},
    {"MessageIn", {0x7C}, LU_STATE_MESSAGE_IN, 1},
    {"ReservedPhase", {0x70}, LU_STATE_UNKNOWN, 1},
    {"PhaseWithoutRequest", {0x4C}, LU_STATE_UNKNOWN, 1},
    {"SelAndParityAreNotPhaseBits", {0x67}, LU_STATE_DATA_IN, 1},
    {"BetweenPhasesThenMessageIn", {0x40, 0x40, 0x40, 0x7C}, LU_STATE_MESSAGE_IN, 4},
    {"BetweenPhasesForGood", {0x40}, LU_STATE_UNKNOWN, 3841},
};

class DecodeTest : public EngineTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeTest, SetsTheStateOfThePhaseShown) {
  const DecodeCase& c = GetParam();
  port.on_read(CURRENT_SCSI_BUS_STATUS, [&](std::uint64_t index) {
    return c.reads[std::min<std::size_t>(index, c.reads.size() - 1)];
  });

  KLV528xDetermineNextPhase(&adapter);

  EXPECT_EQ(lu.LuState, c.state);
  EXPECT_EQ(port.count(Call::PortRead, CURRENT_SCSI_BUS_STATUS), c.read_count);
}

INSTANTIATE_TEST_SUITE_P(Phases, DecodeTest, ::testing::ValuesIn(kDecodes),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Whole requests through the loop -----------------------------------------------------

TEST_F(EngineTest, LoopWithoutARequestOnTheBusReturnsAtOnce) {
  adapter.ActiveLu = nullptr;
  KLV528xRunPhase(&adapter);
  EXPECT_TRUE(port.events().empty());
}

TEST_F(EngineTest, StatusAndCommandCompleteEndTheRequest) {
  adapter.CurrentDataLength = 0;  // its data has all moved
  ScriptedTarget target(port, {{kStatus, 0x00}, {kMessageIn, 0x00}});

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_SUCCESS);
  EXPECT_EQ(port.notifications(),
            (std::vector<Notification>{{RequestComplete, &request}, {NextRequest, nullptr}}));
  EXPECT_TRUE(port.log_entries().empty());
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.LuState, static_cast<ULONG>(LU_STATE_COMPLETE));
}

TEST_F(EngineTest, ScannerWritesGoByteByByteAndResumeAfterReselection) {
  adapter.TargetDeviceType[1] = SCANNER_DEVICE;
  std::vector<TargetStep> first(100, TargetStep{kDataOut});
  first.push_back({kMessageIn, 0x02});
  first.push_back({kMessageIn, 0x04});
  std::vector<UCHAR> received;
  {
    ScriptedTarget target(port, first);
    KLV528xRunPhase(&adapter);
    received = target.received();
  }
  ASSERT_EQ(lu.LuState, static_cast<ULONG>(LU_STATE_DISCONNECTED));
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.SavedDataPointer, data.data() + 100);
  EXPECT_EQ(lu.SavedDataLength, 412u);
  EXPECT_EQ(port.count(Call::Notify), 0u);  // a disconnection asks for nothing

  // Target 1 reselects: SEL and I/O, its ID and ours on the data bus; SEL
  // drops once we answer with BSY.
  adapter.CurrentDataPointer = nullptr;
  adapter.CurrentDataLength = 0;
  port.set_default(BOARD_STATUS, INT_ENABLE | INT_PENDING);
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x06, 0x06, 0x44});
  port.answer(CURRENT_SCSI_DATA, {0x82});
  std::vector<TargetStep> second = {{kMessageIn, 0x80}};
  second.insert(second.end(), 412, TargetStep{kDataOut});
  second.push_back({kStatus, 0x00});
  second.push_back({kMessageIn, 0x00});
  ScriptedTarget target(port, second);

  EXPECT_EQ(KLV528xInterrupt(&adapter), TRUE);

  received.insert(received.end(), target.received().begin(), target.received().end());
  EXPECT_EQ(received, std::vector<UCHAR>(data.begin(), data.end()));
  EXPECT_EQ(request.SrbStatus, SRB_STATUS_SUCCESS);
  EXPECT_EQ(port.notifications(),
            (std::vector<Notification>{{RequestComplete, &request}, {NextRequest, nullptr}}));
  for (const Event& event : port.events()) {
    ASSERT_FALSE(event.call == Call::PortWrite && event.reg == BOARD_CONTROL &&
                 event.value != INT_ENABLE)
        << "a scanner write must not start the block engine";
  }
}

TEST_F(EngineTest, DiskWritesGoThroughTheHostBufferInBlocks) {
  adapter.BlockWriteDelay[1] = 16;
  std::vector<TargetStep> steps = {{kDataOut}, {kStatus, 0x00}, {kMessageIn, 0x00}};
  ScriptedTarget target(port, steps);
  // The board's engine takes the data: the target moves on when the
  // transfer is ended.
  port.on_write(TARGET_COMMAND, [&](UCHAR value) {
    if (value == TC_NO_PHASE && target.phase() == kDataOut) target.skip();
  });
  port.on_read(BOARD_STATUS, [](std::uint64_t index) -> UCHAR {
    return index < 4 ? INT_ENABLE : NCR5380_ENABLE | INT_ENABLE;
  });
  port.set_default(TARGET_COMMAND, LAST_BYTE_SEND);
  // Loaded with the 4 blocks, then at terminal count once they went out.
  port.on_read(BLOCK_COUNT_LOW, [](std::uint64_t index) -> UCHAR { return index == 0 ? 4 : 0; });

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_SUCCESS);
  EXPECT_EQ(port.count(Call::BufferWrite), 4u);
  EXPECT_TRUE(target.received().empty());  // no byte went by handshake
  EXPECT_EQ(port.lines({Call::Stall}), (Lines{"stall 2", "stall 16", "stall 16", "stall 16",
                                              "stall 16", "stall 1", "stall 2", "stall 1"}));
}

TEST_F(EngineTest, RestorePointersAfterADataPhaseChangesNothing) {
  adapter.TargetDeviceType[1] = SCANNER_DEVICE;
  request.DataTransferLength = 100;
  lu.SavedDataLength = 100;
  adapter.CurrentDataLength = 100;
  std::vector<TargetStep> steps(100, TargetStep{kDataOut});
  steps.push_back({kMessageIn, 0x03});
  steps.push_back({kStatus, 0x00});
  steps.push_back({kMessageIn, 0x00});
  ScriptedTarget target(port, steps);

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(adapter.CurrentDataPointer, data.data() + 100);
  EXPECT_EQ(adapter.CurrentDataLength, 0u);
  EXPECT_EQ(request.SrbStatus, SRB_STATUS_SUCCESS);
}

// Each way a request can fail in the loop, with its error-log id; only the
// failure of a phase routine resets the bus.
struct EndingCase {
  const char* name;
  std::vector<TargetStep> steps;
  UCHAR after_script;
  UCHAR device_type;
  ULONG data_length;
  ULONG unique_id;
  bool bus_reset;
};

const EndingCase kEndings[] = {
    {"BusFreeWithoutCommandComplete", {{kStatus, 0x00}}, 0x00, 0, 512, 6, false},
    {"PhaseWithNoRoutine", {{0x10}}, 0x00, 0, 512, 6, false},
    {"DataInWithNothingLeft", {{kDataIn}}, 0x00, 0, 0, 4, true},
    {"StatusHandshakeTimesOut", {{kStatus, 0x00, true}}, 0x00, 0, 512, 4, true},
    {"MessageInHandshakeTimesOut", {{kMessageIn, 0x00, true}}, 0x00, 0, 512, 4, true},
    {"DataOutHandshakeTimesOut", {{kDataOut, 0, true}}, 0x00, SCANNER_DEVICE, 512, 5, true},
};

class EndingTest : public EngineTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(EndingTest, FailsTheRequestWithItsId) {
  const EndingCase& c = GetParam();
  adapter.TargetDeviceType[1] = c.device_type;
  adapter.CurrentDataLength = lu.SavedDataLength = c.data_length;
  ScriptedTarget target(port, c.steps, c.after_script);

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_PHASE_SEQUENCE_FAILURE);
  EXPECT_EQ(port.log_entries(),
            (std::vector<LogEntry>{{&request, 0, 1, 0, SP_PROTOCOL_ERROR, c.unique_id}}));
  Lines tail = {"LogError(request, 0, 1, 0, code 0x05, id " + std::to_string(c.unique_id) + ")",
                "RequestComplete(request)"};
  tail = tail + (c.bus_reset ? kBusReset : Lines{"NextRequest"});
  Lines lines = port.lines();
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_EQ(Lines(lines.end() - tail.size(), lines.end()), tail);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  // The request is the port driver's again: the LU keeps no pointer to it.
  EXPECT_EQ(lu.CurrentSrb, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndingTest, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Bounds on a target that never lets the request end ------------------------------------

TEST_F(EngineTest, TargetHoldingBsyWithoutRequestIsGivenUpWithABusReset) {
  ScriptedTarget target(port, {}, 0x40);

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_PHASE_SEQUENCE_FAILURE);
  EXPECT_EQ(port.log_entries(),
            (std::vector<LogEntry>{{&request, 0, 1, 0, SP_PROTOCOL_ERROR, UNIQUE_ID_NO_REQ}}));
  EXPECT_EQ(port.count(Call::CompleteRequest), 1u);
  Lines expected_prints;
  for (int round = 0; round < RUN_PHASE_WAIT_ROUNDS; ++round) {
    expected_prints.push_back("\n Data Out Phase  ");
    expected_prints.push_back("Fail to get REQ  ! ! !, 186a0, Run Phase");
  }
  EXPECT_EQ(port.debug_lines(), expected_prints);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
}

struct NoProgressCase {
  const char* name;
  TargetStep step;  // repeated for ever
  UCHAR device_type;
  std::size_t byte_phase_entries;  // "TCR <- 0x00" writes: the byte routine ran
};

const NoProgressCase kNoProgress[] = {
    {"DataOutAfterTheDataToADisk", {kDataOut}, 0, 0},
    {"DataOutAfterTheDataToAScanner", {kDataOut}, SCANNER_DEVICE, PHASE_ROUNDS_WITHOUT_PROGRESS},
    {"EndlessNoOperationMessages", {kMessageIn, 0x08}, 0, 0},
    {"EndlessMessageOut", {kMessageOut}, 0, 0},
};

class NoProgressTest : public EngineTest, public ::testing::WithParamInterface<NoProgressCase> {};

TEST_P(NoProgressTest, EndsAsAPhaseFailureWithABusReset) {
  const NoProgressCase& c = GetParam();
  adapter.TargetDeviceType[1] = c.device_type;
  adapter.CurrentDataLength = lu.SavedDataLength = 0;
  std::vector<TargetStep> steps(PHASE_ROUNDS_WITHOUT_PROGRESS + 50, c.step);
  if (c.step.phase == kDataOut) steps.assign(1, TargetStep{kDataOut, 0, true});
  ScriptedTarget target(port, steps);

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(port.log_entries(),
            (std::vector<LogEntry>{{&request, 0, 1, 0, SP_PROTOCOL_ERROR, UNIQUE_ID_NO_PROGRESS}}));
  EXPECT_EQ(port.count(Call::CompleteRequest), 1u);
  std::size_t byte_phases = 0;
  for (const std::string& line : port.lines({Call::PortWrite}))
    byte_phases += line == "TCR <- 0x00";
  // The bus reset's board reset writes one more.
  EXPECT_EQ(byte_phases, c.byte_phase_entries + 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, NoProgressTest, ::testing::ValuesIn(kNoProgress),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, ManyMessagesWithinTheBoundAreServed) {
  std::vector<TargetStep> steps(PHASE_ROUNDS_WITHOUT_PROGRESS - 2, TargetStep{kMessageIn, 0x08});
  steps.push_back({kStatus, 0x00});
  steps.push_back({kMessageIn, 0x00});
  adapter.CurrentDataLength = 0;
  ScriptedTarget target(port, steps);

  KLV528xRunPhase(&adapter);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_SUCCESS);
  EXPECT_TRUE(port.log_entries().empty());
}

// Bytes left over when the target completes: with GOOD the request reports
// the bytes that moved as an underrun; a failing status keeps its own verdict
// and the length the port driver gave.
TEST_F(EngineTest, CompletionWithDataLeftReportsTheBytesMoved) {
  struct Case {
    UCHAR scsi_status;
    ULONG left;
    UCHAR srb_status;
    ULONG length;
  };
  for (const Case c :
       {Case{0x00, 0, SRB_STATUS_SUCCESS, 512}, Case{0x00, 412, SRB_STATUS_DATA_OVERRUN, 100},
        Case{0x00, 512, SRB_STATUS_DATA_OVERRUN, 0}, Case{0x02, 412, SRB_STATUS_ERROR, 512}}) {
    SCOPED_TRACE(c.left);
    request.SrbStatus = SRB_STATUS_PENDING;
    request.DataTransferLength = 512;
    put_request_on_bus();
    adapter.CurrentDataLength = c.left;
    ScriptedTarget target(port, {{kStatus, c.scsi_status}, {kMessageIn, 0x00}});

    KLV528xRunPhase(&adapter);

    EXPECT_EQ(request.SrbStatus, c.srb_status);
    EXPECT_EQ(request.DataTransferLength, c.length);
  }
}

// ---- Interrupt ------------------------------------------------------------------------------

TEST_F(EngineTest, InterruptThatIsNotOursChangesNothing) {
  adapter.ActiveLu = nullptr;
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x06});
  port.answer(BUS_AND_STATUS, {BAS_BUSY_ERROR});
  port.answer(BOARD_STATUS, {INT_ENABLE});

  EXPECT_EQ(KLV528xInterrupt(&adapter), FALSE);

  EXPECT_EQ(port.lines(), (Lines{"CSBS -> 0x06", "BSR -> 0x04", "BOARD_STATUS -> 0x10"}));
}

TEST_F(EngineTest, InterruptWithoutRequestRearmsReselection) {
  adapter.ActiveLu = nullptr;
  port.answer(BOARD_STATUS, {INT_ENABLE | INT_PENDING});
  port.set_default(BOARD_STATUS, INT_ENABLE);

  EXPECT_EQ(KLV528xInterrupt(&adapter), FALSE);

  EXPECT_EQ(port.lines(),
            (Lines{"CSBS -> 0x00", "BSR -> 0x00", "BOARD_STATUS -> 0x11", "RPI -> 0x00",
                   "BOARD_STATUS -> 0x10", "CSBS -> 0x00", "MR -> 0x00", "MR <- 0x02",
                   "BOARD_STATUS -> 0x10", "BOARD_CONTROL <- 0x10", "SER <- 0x80",
                   "BOARD_STATUS -> 0x10", "BOARD_CONTROL <- 0x10"}));
}

TEST_F(EngineTest, InterruptWithRequestRunsThePhaseLoop) {
  port.answer(BOARD_STATUS, {INT_ENABLE | INT_PENDING});
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x4C, 0x6C});
  ScriptedTarget target(port, {{kStatus, 0x02}, {kMessageIn, 0x00}});

  EXPECT_EQ(KLV528xInterrupt(&adapter), TRUE);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_ERROR);
  EXPECT_EQ(request.ScsiStatus, 0x02);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
}

struct LostBsyCase {
  const char* name;
  UCHAR bus_after;
  bool request_on_bus;
  BOOLEAN result;
};

const LostBsyCase kLostBsy[] = {
    {"BsyBackAgain", 0x40, true, TRUE},
    {"GoneWithNoRequestOnTheBus", 0x00, false, FALSE},
    {"GoneWithTheRequestStillOnTheBus", 0x00, true, FALSE},
};

class LostBsyTest : public EngineTest, public ::testing::WithParamInterface<LostBsyCase> {};

TEST_P(LostBsyTest, HandlesTheBusyError) {
  const LostBsyCase& c = GetParam();
  if (!c.request_on_bus) adapter.ActiveLu = nullptr;
  adapter.CurrentPhase = CURRENT_PHASE_BLOCK_READ;
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x00, c.bus_after});
  port.answer(BUS_AND_STATUS, {BAS_BUSY_ERROR});
  port.answer(BOARD_STATUS, {INT_ENABLE | INT_PENDING});
  port.set_default(MODE_REGISTER, MODE_DMA_MODE);

  EXPECT_EQ(KLV528xInterrupt(&adapter), c.result);

  if (c.result) {
    EXPECT_EQ(port.lines().size(), 6u);
    EXPECT_EQ(adapter.ActiveLu, &lu);
    return;
  }
  EXPECT_EQ(port.last_written(MODE_REGISTER), 0);
  EXPECT_EQ(port.debug_lines(), Lines{"SCSI BUSY signal Abnormal !! , Current Phase : 4\n"});
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  // The request whose target vanished is ended now rather than left to the
  // port driver's time-out; the bus is already free, so it is not reset.
  if (c.request_on_bus) {
    EXPECT_EQ(request.SrbStatus, SRB_STATUS_PHASE_SEQUENCE_FAILURE);
    EXPECT_EQ(port.log_entries(),
              (std::vector<LogEntry>{{&request, 0, 1, 0, SP_PROTOCOL_ERROR, UNIQUE_ID_BSY_LOST}}));
    EXPECT_EQ(port.notifications(),
              (std::vector<Notification>{{RequestComplete, &request}, {NextRequest, nullptr}}));
    EXPECT_EQ(lu.CurrentSrb, nullptr);
  } else {
    EXPECT_EQ(port.count(Call::Notify), 0u);
    EXPECT_TRUE(port.log_entries().empty());
  }
  EXPECT_EQ(port.count(Call::CompleteRequest), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, LostBsyTest, ::testing::ValuesIn(kLostBsy),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Reselection -----------------------------------------------------------------------------

TEST_F(EngineTest, ReselectionRestoresTheSavedPointers) {
  adapter.ActiveLu = nullptr;
  lu.LuState = LU_STATE_DISCONNECTED;
  lu.SavedDataPointer = data.data() + 100;
  lu.SavedDataLength = 412;
  adapter.CurrentDataPointer = nullptr;
  adapter.CurrentDataLength = 0;
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x06, 0x46, 0x44});
  port.answer(CURRENT_SCSI_DATA, {0x82});

  EXPECT_EQ(KLV528xReselectPhase(&adapter), TRUE);

  EXPECT_EQ(port.lines(), (Lines{"TCR <- 0x04", "CSBS -> 0x06", "CSD -> 0x82", "ICR <- 0x08",
                                 "CSBS -> 0x46", "stall 1", "CSBS -> 0x44", "ICR <- 0x00",
                                 "GetLogicalUnit(0, 1, 0)", "MR <- 0x02"}));
  EXPECT_EQ(adapter.ActiveLu, &lu);
  EXPECT_EQ(lu.LuState, static_cast<ULONG>(LU_STATE_UNKNOWN));
  EXPECT_EQ(adapter.CurrentDataPointer, lu.SavedDataPointer);
  EXPECT_EQ(adapter.CurrentDataLength, 412u);
  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_RESELECTION);
}

struct RefusedCase {
  const char* name;
  std::vector<UCHAR> bus;  // Current SCSI Bus Status after the interrupt's read
  UCHAR ids;               // Current SCSI Data
  ULONG lu_state;
  bool lu_has_request;
  UCHAR logged_target;
  bool answered;  // BSY was asserted, and must be released again
};

const RefusedCase kRefused[] = {
    {"GoneBeforeWeLooked", {0x46}, 0x82, LU_STATE_DISCONNECTED, true, 0xFF, false},
    {"NoTargetIdOnTheBus", {0x06}, 0x80, LU_STATE_DISCONNECTED, true, 0xFF, false},
    {"TargetWithoutALogicalUnitRecord", {0x06, 0x44}, 0x88, LU_STATE_DISCONNECTED, true, 3, true},
    {"LogicalUnitWithoutARequest", {0x06, 0x44}, 0x82, LU_STATE_DISCONNECTED, false, 1, true},
    {"RequestThatNeverDisconnected", {0x06, 0x44}, 0x82, LU_STATE_COMPLETE, true, 1, true},
    {"SelNeverDrops", {0x06}, 0x82, LU_STATE_DISCONNECTED, true, 1, true},
};

class RefusedReselectionTest : public EngineTest,
                               public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedReselectionTest, IsLoggedAndRearmed) {
  const RefusedCase& c = GetParam();
  adapter.ActiveLu = nullptr;
  lu.LuState = c.lu_state;
  if (!c.lu_has_request) lu.CurrentSrb = nullptr;
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x06});
  for (UCHAR value : c.bus) port.answer(CURRENT_SCSI_BUS_STATUS, {value});
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x46);  // SEL held
  port.answer(CURRENT_SCSI_DATA, {c.ids});
  port.answer(BOARD_STATUS, {INT_ENABLE | INT_PENDING});
  port.set_default(BOARD_STATUS, INT_ENABLE);

  EXPECT_EQ(KLV528xInterrupt(&adapter), FALSE);

  EXPECT_EQ(port.log_entries(),
            (std::vector<LogEntry>{{nullptr, 0, c.logged_target, 0, SP_INVALID_RESELECTION, 3}}));
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.LuState, c.lu_state);
  EXPECT_EQ(port.last_written(INITIATOR_COMMAND), c.answered ? 0 : -1);
  Lines lines = port.lines();
  const Lines tail = {
      "RPI -> 0x00",
      "BOARD_STATUS -> 0x10",
      "MR -> 0x00",
      "MR <- 0x02",
      "BOARD_STATUS -> 0x10",
      "BOARD_CONTROL <- 0x10",
      "BOARD_STATUS -> 0x10",
      "BOARD_CONTROL <- 0x10",
      "SER <- 0x80",
      "LogError(none, 0, " + std::to_string(c.logged_target) + ", 0, code 0x03, id 3)"};
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_EQ(Lines(lines.end() - tail.size(), lines.end()), tail);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedReselectionTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, ReselectionWhoseSelNeverDropsSaysSo) {
  adapter.ActiveLu = nullptr;
  lu.LuState = LU_STATE_DISCONNECTED;
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x06);
  port.answer(CURRENT_SCSI_DATA, {0x82});

  EXPECT_EQ(KLV528xReselectPhase(&adapter), FALSE);

  EXPECT_EQ(port.debug_lines(), Lines{"\n DE_SEL error error."});
  EXPECT_EQ(port.last_written(INITIATOR_COMMAND), 0);
  EXPECT_EQ(port.count(Call::GetLogicalUnit), 0u);
}

}  // namespace
}  // namespace qzr::driver_test
