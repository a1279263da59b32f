// Starting a request on the bus, and handing it back at command complete.
#include <vector>

#include "tests/driver/driver_fixture.h"

namespace qzr::driver_test {
namespace {

// ---- Execution up to selection -----------------------------------------------

class StartExecutionTest : public DriverTest {
 protected:
  StartExecutionTest() {
    lu.CurrentSrb = &request;
    lu.LuState = LU_STATE_START;
    port.echo_writes(MODE_REGISTER);
  }

  void win_arbitration() {
    port.answer(INITIATOR_COMMAND, {0x41, 0x41});
    port.answer(CURRENT_SCSI_DATA, {0x80});
  }
};

TEST_F(StartExecutionTest, LostArbitrationEndsTheRequestBusy) {
  port.answer(INITIATOR_COMMAND, {0x41, 0x61});

  KLV528xStartExecution(&adapter, &lu, &request);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_BUSY);
  EXPECT_EQ(port.notifications(),
            (std::vector<Notification>{{RequestComplete, &request}, {NextRequest, nullptr}}));
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.CurrentSrb, nullptr);
}

TEST_F(StartExecutionTest, SelectionOfTheAdapterItselfTimesOutAndIdles) {
  request.TargetId = 7;
  win_arbitration();

  KLV528xStartExecution(&adapter, &lu, &request);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_SELECTION_TIMEOUT);
  Lines lines = port.lines();
  // Won the bus (BSY and SEL), then gave it up at once without selecting.
  const Lines tail = {"ICR <- 0x0c",
                      "stall 2",
                      "MR -> 0x01",
                      "MR <- 0x00",
                      "TCR <- 0x00",
                      "ICR <- 0x00",
                      "RequestComplete(request)"};
  ASSERT_GE(lines.size(), tail.size() + kIdleSequence.size());
  EXPECT_EQ(Lines(lines.end() - tail.size() - kIdleSequence.size(), lines.end()),
            tail + kIdleSequence);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.CurrentSrb, nullptr);
}

TEST_F(StartExecutionTest, ATargetThatGoesBusFreeAfterSelectionEndsTheRequestWithoutReset) {
  win_arbitration();
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x00, 0x46, 0x78, 0x78, 0x78, 0x58});
  port.echo_writes(INITIATOR_COMMAND);

  KLV528xStartExecution(&adapter, &lu, &request);

  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(request.SrbStatus, SRB_STATUS_PHASE_SEQUENCE_FAILURE);
  EXPECT_EQ(port.log_entries(), (std::vector<LogEntry>{{&request, 0, 1, 0, SP_PROTOCOL_ERROR, 6}}));
  EXPECT_EQ(port.notifications(),
            (std::vector<Notification>{{RequestComplete, &request}, {NextRequest, nullptr}}));
  EXPECT_EQ(port.count(Call::CompleteRequest), 0u);
}

// A target that shows Data In right after selection, with no command phase:
// the data goes to this request's buffer, never to where the adapter's
// working pointer was left by an earlier request.
TEST_F(StartExecutionTest, DataBeforeAnyCommandGoesToTheRequestsOwnBuffer) {
  std::vector<UCHAR> earlier(128, 0xEE);
  adapter.CurrentDataPointer = earlier.data();
  adapter.CurrentDataLength = 128;
  std::vector<UCHAR> data(128, 0);
  request.DataBuffer = data.data();
  request.DataTransferLength = 128;
  lu.SavedDataPointer = data.data();
  lu.SavedDataLength = 128;
  win_arbitration();
  // Bus free to arbitrate; BSY to the selection; Message Out for IDENTIFY
  // and its REQ falling; then Data In until the block has moved.
  port.answer(CURRENT_SCSI_BUS_STATUS,
              {0x00, 0x46, 0x78, 0x78, 0x78, 0x58, 0x64, 0x64, 0x64, 0x64, 0x64, 0x64});
  port.echo_writes(INITIATOR_COMMAND);
  port.answer(BOARD_STATUS, {DIR_IN | INT_ENABLE});
  port.set_default(BOARD_STATUS, NCR5380_ENABLE | DIR_IN | INT_ENABLE);
  std::vector<UCHAR> sent(128);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<UCHAR>(i + 1);
  port.answer_buffer_bytes(sent);

  KLV528xStartExecution(&adapter, &lu, &request);

  EXPECT_EQ(data, sent);
  EXPECT_EQ(earlier, std::vector<UCHAR>(128, 0xEE));
  // The target then went bus free without a status.
  EXPECT_EQ(port.log_entries(), (std::vector<LogEntry>{{&request, 0, 1, 0, SP_PROTOCOL_ERROR, 6}}));
}

// ---- Completion ------------------------------------------------------------------

TEST_F(DriverTest, CompletionWithoutStatusIsAnErrorWithALogEntry) {
  request.PathId = 0;
  request.TargetId = 1;
  request.Lun = 0;
  put_request_on_bus();

  KLV528xNotifyCompletion(&adapter);

  EXPECT_EQ(request.SrbStatus, SRB_STATUS_ERROR);
  EXPECT_EQ(port.log_entries(),
            (std::vector<LogEntry>{{&request, 0, 1, 0, SP_INTERNAL_ADAPTER_ERROR, 7}}));
  EXPECT_EQ(port.lines(),
            (Lines{"LogError(request, 0, 1, 0, code 0x06, id 7)", "RequestComplete(request)"} +
             kIdleSequence));
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.CurrentSrb, nullptr);
}

TEST_F(DriverTest, CompletionKeepsTheStatusTheStatusPhaseGave) {
  for (UCHAR status : {SRB_STATUS_SUCCESS, SRB_STATUS_ERROR}) {
    RecordingPort fresh;
    adapter.BaseIoAddress = fresh.base();
    request.SrbStatus = status;
    put_request_on_bus();

    KLV528xNotifyCompletion(&adapter);

    EXPECT_EQ(request.SrbStatus, status);
    EXPECT_TRUE(fresh.log_entries().empty());
    EXPECT_EQ(fresh.notifications(),
              (std::vector<Notification>{{RequestComplete, &request}, {NextRequest, nullptr}}));
  }
}

TEST_F(DriverTest, CompletionWithoutARequestOnlyIdles) {
  adapter.ActiveLu = &lu;  // holds the bus but has no request
  KLV528xNotifyCompletion(&adapter);
  EXPECT_EQ(port.lines(), kIdleSequence);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
}

TEST_F(DriverTest, CompletionWithNoActiveLogicalUnitOnlyIdles) {
  KLV528xNotifyCompletion(&adapter);
  EXPECT_EQ(port.lines(), kIdleSequence);
}

struct PeripheralTypeCase {
  const char* name;
  UCHAR scan_in_progress;
  UCHAR opcode;
  UCHAR target;
  UCHAR answer_byte0;
  UCHAR lu_type_after;      // starts at 0x0A
  UCHAR target_type_after;  // starts at 0x0B
};

const PeripheralTypeCase kPeripheralTypes[] = {
    {"ScanInquiryScanner", 1, SCSIOP_INQUIRY, 1, 0x06, 0x06, 0x06},
    {"ScanInquiryNoUnit", 1, SCSIOP_INQUIRY, 1, 0x7F, 0x1F, 0x1F},
    {"ScanInquiryQualifierBitsDropped", 1, SCSIOP_INQUIRY, 1, 0x25, 0x05, 0x05},
    {"AfterScanOnlyTheLogicalUnit", 0, SCSIOP_INQUIRY, 1, 0x05, 0x05, 0x0B},
    {"NotAnInquiry", 1, SCSIOP_TEST_UNIT_READY, 1, 0x05, 0x0A, 0x0B},
    {"ScanInquiryToTargetSixLastRow", 1, SCSIOP_INQUIRY, 6, 0x01, 0x01, 0x01},
};

class PeripheralTypeTest : public DriverTest,
                           public ::testing::WithParamInterface<PeripheralTypeCase> {};

TEST_P(PeripheralTypeTest, CapturedFromTheInquiryAnswer) {
  const PeripheralTypeCase& c = GetParam();
  UCHAR answer[36] = {c.answer_byte0};
  request.Cdb[0] = c.opcode;
  request.TargetId = c.target;
  request.DataBuffer = answer;
  request.DataTransferLength = sizeof answer;
  request.SrbStatus = SRB_STATUS_SUCCESS;
  adapter.ScanInProgress = c.scan_in_progress;
  lu.PeripheralType = 0x0A;
  adapter.TargetDeviceType[c.target] = 0x0B;
  put_request_on_bus();

  KLV528xNotifyCompletion(&adapter);

  EXPECT_EQ(lu.PeripheralType, c.lu_type_after);
  EXPECT_EQ(adapter.TargetDeviceType[c.target], c.target_type_after);
}

INSTANTIATE_TEST_SUITE_P(Cases, PeripheralTypeTest, ::testing::ValuesIn(kPeripheralTypes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, InquiryWithoutABufferLeavesTheTypesAlone) {
  request.Cdb[0] = SCSIOP_INQUIRY;
  request.SrbStatus = SRB_STATUS_SUCCESS;
  adapter.ScanInProgress = 1;
  lu.PeripheralType = 0x0A;
  adapter.TargetDeviceType[1] = 0x0B;
  put_request_on_bus();

  KLV528xNotifyCompletion(&adapter);

  EXPECT_EQ(lu.PeripheralType, 0x0A);
  EXPECT_EQ(adapter.TargetDeviceType[1], 0x0B);
  EXPECT_EQ(port.notifications().front(), (Notification{RequestComplete, &request}));
}

TEST_F(DriverTest, ScanInquiryAnsweredForTheAdapterItselfWritesNoTableRow) {
  // The per-target tables end at target 6; target 7 must not spill into the next field.
  UCHAR answer[36] = {0x03};
  request.Cdb[0] = SCSIOP_INQUIRY;
  request.TargetId = 7;
  request.DataBuffer = answer;
  request.DataTransferLength = sizeof answer;
  request.SrbStatus = SRB_STATUS_SUCCESS;
  adapter.ScanInProgress = 1;
  put_request_on_bus();

  KLV528xNotifyCompletion(&adapter);

  EXPECT_EQ(lu.PeripheralType, 0x03);
  for (UCHAR delay : adapter.BlockWriteDelay) EXPECT_EQ(delay, 0);
}

}  // namespace
}  // namespace qzr::driver_test
