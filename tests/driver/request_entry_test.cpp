// KLV528xStartIo by function, with the abort and bus-reset paths.
#include "tests/driver/driver_fixture.h"

namespace qzr::driver_test {
namespace {

const Lines kBusReset = {"ICR <- 0x80", "stall 100", "ICR <- 0x00", "stall 100",
                         // board reset, with BOARD_STATUS reading 0
                         "BOARD_STATUS -> 0x00", "BOARD_CONTROL <- 0x80", "stall 10",
                         "BOARD_CONTROL <- 0x00", "stall 1", "MR <- 0x00", "TCR <- 0x00", "stall 1",
                         "CompleteRequest(0, 0xff, 0xff, 0x0e)", "NextRequest"};

class StartIoTest : public DriverTest {
 protected:
  StartIoTest() {
    other.Function = SRB_FUNCTION_EXECUTE_SCSI;
    other.TargetId = 1;
    port.name(&other, "other");
  }

  // A second request of this address, the one an abort or reset is about.
  SCSI_REQUEST_BLOCK other{};
};

TEST_F(StartIoTest, BusResetRequestSucceedsWithoutItsOwnCompletion) {
  put_request_on_bus();
  SCSI_REQUEST_BLOCK reset{};
  reset.Function = SRB_FUNCTION_RESET_BUS;
  reset.SrbStatus = 0x77;
  port.add_logical_unit(0, 0, 0, &lu);
  port.name(&reset, "reset");

  EXPECT_EQ(KLV528xStartIo(&adapter, &reset), TRUE);

  EXPECT_EQ(reset.SrbStatus, SRB_STATUS_SUCCESS);
  // Every outstanding request, this one included, ends through CompleteRequest;
  // NextRequest comes from the reset and again from the idle sequence.
  EXPECT_EQ(port.lines(), Lines{"GetLogicalUnit(0, 0, 0)"} + kBusReset + kIdleSequence);
  // The LU that held the bus is cleared.
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.CurrentSrb, nullptr);
  EXPECT_EQ(lu.LuState, static_cast<ULONG>(LU_STATE_COMPLETE));
}

TEST_F(StartIoTest, BusResetLeavesADisconnectedLogicalUnitAsItWas) {
  LU_EXTENSION disconnected{};
  disconnected.LuState = LU_STATE_DISCONNECTED;
  disconnected.CurrentSrb = &other;

  EXPECT_EQ(KLV528xResetBus(&adapter, 0), TRUE);

  EXPECT_EQ(port.lines(), kBusReset);
  EXPECT_EQ(disconnected.LuState, static_cast<ULONG>(LU_STATE_DISCONNECTED));
  EXPECT_EQ(disconnected.CurrentSrb, &other);
}

TEST_F(StartIoTest, ResetBusCompletesOnTheGivenPath) {
  EXPECT_EQ(KLV528xResetBus(&adapter, 3), TRUE);
  EXPECT_EQ(port.lines({Call::CompleteRequest}), Lines{"CompleteRequest(3, 0xff, 0xff, 0x0e)"});
}

TEST_F(StartIoTest, AbortWithNothingOnTheBusFailsAndLeavesTheBusAlone) {
  SCSI_REQUEST_BLOCK abort{};
  abort.Function = SRB_FUNCTION_ABORT_COMMAND;
  abort.TargetId = 1;
  abort.NextSrb = &other;
  port.name(&abort, "abort");

  EXPECT_EQ(KLV528xStartIo(&adapter, &abort), TRUE);

  EXPECT_EQ(abort.SrbStatus, SRB_STATUS_ABORT_FAILED);
  EXPECT_EQ(port.lines(),
            (Lines{"GetLogicalUnit(0, 1, 0)", "RequestComplete(abort)"} + kIdleSequence));
}

struct AbortMissCase {
  const char* name;
  bool other_on_bus;  // a different request holds the bus
  ULONG lu_state;
};

class AbortMissTest : public StartIoTest, public ::testing::WithParamInterface<AbortMissCase> {};

TEST_P(AbortMissTest, AbortOfARequestNotHoldingTheBusFails) {
  SCSI_REQUEST_BLOCK abort{};
  abort.Function = SRB_FUNCTION_ABORT_COMMAND;
  abort.TargetId = 1;
  abort.NextSrb = &other;
  port.name(&abort, "abort");
  lu.LuState = GetParam().lu_state;
  if (GetParam().other_on_bus) {
    put_request_on_bus();  // `request`, not `other`, holds the bus
  } else {
    lu.CurrentSrb = &other;  // `other` waits disconnected
  }

  KLV528xStartIo(&adapter, &abort);

  EXPECT_EQ(abort.SrbStatus, SRB_STATUS_ABORT_FAILED);
  EXPECT_EQ(port.count(Call::CompleteRequest), 0u);
  EXPECT_EQ(port.last_written(INITIATOR_COMMAND), 0);
  EXPECT_EQ(port.count(Call::PortWrite, INITIATOR_COMMAND), 1u);  // the idle sequence only
}

INSTANTIATE_TEST_SUITE_P(
    Misses, AbortMissTest,
    ::testing::Values(AbortMissCase{"AnotherRequestOnTheBus", true, LU_STATE_DATA_IN},
                      AbortMissCase{"TargetDisconnected", false, LU_STATE_DISCONNECTED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartIoTest, AbortNamingNoRequestDoesNotMatchAnIdleActiveLu) {
  // An active LU with no request must not match an abort that names none.
  adapter.ActiveLu = &lu;
  SCSI_REQUEST_BLOCK abort{};
  abort.Function = SRB_FUNCTION_ABORT_COMMAND;
  abort.TargetId = 1;

  KLV528xStartIo(&adapter, &abort);

  EXPECT_EQ(abort.SrbStatus, SRB_STATUS_ABORT_FAILED);
  EXPECT_EQ(port.count(Call::CompleteRequest), 0u);
}

TEST_F(StartIoTest, AbortOfTheRequestOnTheBusResetsTheBus) {
  put_request_on_bus();
  SCSI_REQUEST_BLOCK abort{};
  abort.Function = SRB_FUNCTION_ABORT_COMMAND;
  abort.TargetId = 1;
  abort.NextSrb = &request;
  port.name(&abort, "abort");

  EXPECT_EQ(KLV528xStartIo(&adapter, &abort), TRUE);

  EXPECT_EQ(port.lines(),
            Lines{"GetLogicalUnit(0, 1, 0)"} + kBusReset + Lines{"ResetDetected"} + kIdleSequence);
  EXPECT_EQ(abort.SrbStatus, SRB_STATUS_PENDING);  // ended by CompleteRequest
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.CurrentSrb, nullptr);
  EXPECT_EQ(lu.LuState, static_cast<ULONG>(LU_STATE_COMPLETE));
}

class RefusedFunctionTest : public StartIoTest, public ::testing::WithParamInterface<UCHAR> {};

TEST_P(RefusedFunctionTest, EndsAsInvalidRequestThenIdles) {
  request.Function = GetParam();
  request.PathId = 0;

  EXPECT_EQ(KLV528xStartIo(&adapter, &request), TRUE);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_INVALID_REQUEST);
  EXPECT_EQ(port.lines(),
            (Lines{"GetLogicalUnit(0, 1, 0)", "RequestComplete(request)"} + kIdleSequence));
}

INSTANTIATE_TEST_SUITE_P(Functions, RefusedFunctionTest,
                         ::testing::Values(SRB_FUNCTION_SHUTDOWN, SRB_FUNCTION_FLUSH,
                                           SRB_FUNCTION_RESET_DEVICE, SRB_FUNCTION_IO_CONTROL,
                                           SRB_FUNCTION_CLAIM_DEVICE, SRB_FUNCTION_TERMINATE_IO));

TEST_F(StartIoTest, TakesThePathIdOfEveryRequest) {
  request.Function = SRB_FUNCTION_FLUSH;
  request.PathId = 2;
  KLV528xStartIo(&adapter, &request);
  EXPECT_EQ(adapter.PathId, 2);
  EXPECT_EQ(port.lines({Call::GetLogicalUnit}), Lines{"GetLogicalUnit(2, 1, 0)"});
}

TEST_F(StartIoTest, ExecuteRecordsTheRequestInItsLogicalUnit) {
  UCHAR buffer[36];
  request.DataBuffer = buffer;
  request.DataTransferLength = sizeof buffer;
  request.SrbStatus = 0x77;
  // Stop at the first step of execution: the bus stays busy.
  lu.LuState = LU_STATE_START;
  ULONG state_seen = 0;
  PUCHAR pointer_seen = nullptr;
  ULONG length_seen = 0;
  UCHAR status_seen = 0xFF;
  port.on_read(CURRENT_SCSI_BUS_STATUS, [&](std::uint64_t) -> UCHAR {
    state_seen = lu.LuState;
    pointer_seen = lu.SavedDataPointer;
    length_seen = lu.SavedDataLength;
    status_seen = request.SrbStatus;
    lu.LuState = LU_STATE_UNKNOWN;  // makes arbitration give up in its next round
    return SCSI_BSY;
  });

  EXPECT_EQ(KLV528xStartIo(&adapter, &request), TRUE);

  EXPECT_EQ(state_seen, static_cast<ULONG>(LU_STATE_START));
  EXPECT_EQ(pointer_seen, buffer);
  EXPECT_EQ(length_seen, sizeof buffer);
  EXPECT_EQ(status_seen, SRB_STATUS_PENDING);
  EXPECT_EQ(request.SrbStatus, SRB_STATUS_BUSY);
  // Execution's own way out; no second idle sequence from StartIo.
  EXPECT_EQ(port.lines(), (Lines{"GetLogicalUnit(0, 1, 0)", "CSBS -> 0x40", "stall 1",
                                 "RequestComplete(request)", "NextRequest"}));
}

TEST_F(StartIoTest, ExecuteWithoutALogicalUnitRecordIsRefused) {
  request.TargetId = 4;  // no LU record for this address

  EXPECT_EQ(KLV528xStartIo(&adapter, &request), TRUE);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_INVALID_REQUEST);
  EXPECT_EQ(port.lines(),
            (Lines{"GetLogicalUnit(0, 4, 0)", "RequestComplete(request)"} + kIdleSequence));
}

}  // namespace
}  // namespace qzr::driver_test
