// The command, status and message phases against a scripted target.
#include <array>

#include "tests/driver/driver_fixture.h"
#include "tests/driver/scripted_target.h"

namespace qzr::driver_test {
namespace {

class PhaseTest : public DriverTest {
 protected:
  PhaseTest() {
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<UCHAR>(i);
    put_request_on_bus();
    lu.SavedDataPointer = data.data();
    lu.SavedDataLength = 512;
    adapter.CurrentDataPointer = data.data() + 100;
    adapter.CurrentDataLength = 412;
  }

  std::vector<TargetStep> steps(UCHAR phase, std::size_t count) {
    return std::vector<TargetStep>(count, TargetStep{phase});
  }

  std::array<UCHAR, 512> data{};
};

// ---- Command -----------------------------------------------------------------------

struct CommandCase {
  const char* name;
  UCHAR cdb_length;
  std::size_t command_steps;  // bytes the target asks for before Message In
  int stuck_at;               // step whose REQ never falls, -1 for none
  std::size_t sent;
  bool pointers_loaded;
};

const CommandCase kCommands[] = {
    {"AllSix", 6, 6, -1, 6, true},
    {"NoBytesForLengthZero", 0, 6, -1, 0, true},
    {"TargetLeavesAfterSixOfTen", 10, 6, -1, 6, true},
    {"HandshakeTimesOutOnTheThirdByte", 10, 10, 2, 3, false},
    {"LengthBeyondTheCdbSendsOnlyItsSixteenBytes", 40, 40, -1, 16, true},
};

class CommandTest : public PhaseTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, SendsWhatTheTargetTakesAndLoadsThePointers) {
  const CommandCase& c = GetParam();
  request.CdbLength = c.cdb_length;
  for (UCHAR i = 0; i < 16; ++i) request.Cdb[i] = static_cast<UCHAR>(0xA0 + i);
  auto script = steps(kCommand, c.command_steps);
  if (c.stuck_at >= 0) script[c.stuck_at].keeps_req = true;
  script.push_back({kMessageIn});
  ScriptedTarget target(port, script);

  KLV528xCommand(&adapter);

  std::vector<UCHAR> expected(request.Cdb, request.Cdb + c.sent);
  EXPECT_EQ(target.received(), expected);
  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_COMMAND);
  EXPECT_EQ(adapter.CurrentDataPointer, c.pointers_loaded ? data.data() : data.data() + 100);
  EXPECT_EQ(adapter.CurrentDataLength, c.pointers_loaded ? 512u : 412u);
  EXPECT_LE(port.last_written(INITIATOR_COMMAND), 0);  // nothing left asserted
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandTest, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PhaseTest, CommandByteHandshake) {
  request.CdbLength = 1;
  request.Cdb[0] = 0x12;
  ScriptedTarget target(port, {{kCommand}, {kStatus}});

  KLV528xCommand(&adapter);

  EXPECT_EQ(port.lines(), (Lines{"TCR <- 0x02", "RPI -> 0x00", "CSBS -> 0x68", "CSBS -> 0x68",
                                 "CSBS -> 0x68", "ODR <- 0x12", "ICR <- 0x01", "stall 2",
                                 "ICR <- 0x11", "CSBS -> 0x48", "ICR <- 0x00"}));
}

// ---- Status ------------------------------------------------------------------------

struct StatusCase {
  UCHAR scsi_status;
  UCHAR srb_status_before;
  UCHAR srb_status_after;
};

const StatusCase kStatuses[] = {
    {0x00, SRB_STATUS_PENDING, SRB_STATUS_SUCCESS},
    {0x04, SRB_STATUS_PENDING, SRB_STATUS_SUCCESS},
    {0x10, SRB_STATUS_PENDING, SRB_STATUS_SUCCESS},
    {0x14, SRB_STATUS_PENDING, SRB_STATUS_SUCCESS},
    {0x02, SRB_STATUS_PENDING, SRB_STATUS_ERROR},
    {0x22, SRB_STATUS_PENDING, SRB_STATUS_ERROR},
    {0x08, SRB_STATUS_PENDING, SRB_STATUS_BUSY},
    {0x18, SRB_STATUS_PENDING, SRB_STATUS_BUSY},
    {0x28, SRB_STATUS_PENDING, SRB_STATUS_BUSY},
    {0x01, SRB_STATUS_PENDING, SRB_STATUS_BUSY},
    // An earlier verdict stands; only the status byte is recorded.
    {0x02, SRB_STATUS_SUCCESS, SRB_STATUS_SUCCESS},
    {0x00, SRB_STATUS_ERROR, SRB_STATUS_ERROR},
};

class StatusTest : public PhaseTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, MapsTheStatusByte) {
  const StatusCase& c = GetParam();
  request.SrbStatus = c.srb_status_before;
  ScriptedTarget target(port, {{kStatus, c.scsi_status}, {kMessageIn}});

  EXPECT_EQ(KLV528xStatus(&adapter), TRUE);

  EXPECT_EQ(request.ScsiStatus, c.scsi_status);
  EXPECT_EQ(request.SrbStatus, c.srb_status_after);
  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_STATUS);
}

INSTANTIATE_TEST_SUITE_P(Table, StatusTest, ::testing::ValuesIn(kStatuses));

TEST_F(PhaseTest, StatusHandshakeTimeOutLeavesTheRequestAlone) {
  request.ScsiStatus = 0x77;
  ScriptedTarget target(port, {{kStatus, 0x02, true}});

  EXPECT_EQ(KLV528xStatus(&adapter), FALSE);

  EXPECT_EQ(request.ScsiStatus, 0x77);
  EXPECT_EQ(request.SrbStatus, SRB_STATUS_PENDING);
  EXPECT_EQ(port.last_written(INITIATOR_COMMAND), 0);
}

// ---- Message In ----------------------------------------------------------------------

enum class Effect { None, Complete, Save, Restore, Disconnect, RaiseAtn };

struct MessageCase {
  const char* name;
  UCHAR message;
  Effect effect;
};

const MessageCase kMessages[] = {
    {"CommandComplete", 0x00, Effect::Complete},
    {"LinkedCommandComplete", 0x0A, Effect::Complete},
    {"LinkedCommandCompleteWithFlag", 0x0B, Effect::Complete},
    {"SaveDataPointer", 0x02, Effect::Save},
    {"RestorePointers", 0x03, Effect::Restore},
    {"DisconnectWithoutSaveDataPointerStillSaves", 0x04, Effect::Disconnect},
    {"ExtendedMessage", 0x01, Effect::RaiseAtn},
    {"MessageReject", 0x07, Effect::None},
    {"NoOperation", 0x08, Effect::None},
    {"InitiatorDetectedError", 0x05, Effect::None},
    {"IdentifyFromAReconnectingTarget", 0x80, Effect::None},
    {"IdentifyWithDisconnectPrivilege", 0xC0, Effect::None},
    {"IdentifyHighestLun", 0xFF, Effect::None},
};

class MessageInTest : public PhaseTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageInTest, ActsOnTheByte) {
  const MessageCase& c = GetParam();
  request.SrbStatus = SRB_STATUS_SUCCESS;
  lu.LuState = LU_STATE_MESSAGE_IN;
  ScriptedTarget target(port, {{kMessageIn, c.message}, {kStatus}});

  EXPECT_EQ(KLV528xMessageIn(&adapter), TRUE);

  EXPECT_EQ(adapter.CurrentPhase, CURRENT_PHASE_MESSAGE_IN);
  const bool completed = c.effect == Effect::Complete;
  const bool disconnected = c.effect == Effect::Disconnect;
  EXPECT_EQ(adapter.ActiveLu, completed || disconnected ? nullptr : &lu);
  EXPECT_EQ(lu.LuState, completed      ? ULONG{LU_STATE_COMPLETE}
                        : disconnected ? ULONG{LU_STATE_DISCONNECTED}
                                       : ULONG{LU_STATE_MESSAGE_IN});
  const std::vector<Notification> completion = {{RequestComplete, &request},
                                                {NextRequest, nullptr}};
  EXPECT_EQ(port.notifications(), completed ? completion : std::vector<Notification>());

  const bool saved = c.effect == Effect::Save || disconnected;
  EXPECT_EQ(lu.SavedDataPointer, saved ? data.data() + 100 : data.data());
  EXPECT_EQ(lu.SavedDataLength, saved ? 412u : 512u);
  const bool restored = c.effect == Effect::Restore;
  EXPECT_EQ(adapter.CurrentDataPointer, restored ? data.data() : data.data() + 100);
  EXPECT_EQ(adapter.CurrentDataLength, restored ? 512u : 412u);

  // Disconnection arms reselection: interrupt enabled, Select Enable = our ID.
  EXPECT_EQ(port.last_written(SELECT_ENABLE), disconnected ? 0x80 : -1);
  EXPECT_EQ(port.last_written(BOARD_CONTROL), disconnected ? INT_ENABLE : -1);

  Lines lines = port.lines();
  const Lines handshake = {"TCR <- 0x07",
                           "RPI -> 0x00",
                           "CSD -> " +
                               [&] {
                                 char text[8];
                                 std::snprintf(text, sizeof text, "0x%02x", c.message);
                                 return std::string(text);
                               }(),
                           "ICR <- 0x10",
                           "CSBS -> 0x5c",
                           "ICR <- 0x00"};
  ASSERT_GE(lines.size(), handshake.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + handshake.size()), handshake);
  if (c.effect == Effect::RaiseAtn) {
    EXPECT_EQ(Lines(lines.begin() + handshake.size(), lines.end()),
              (Lines{"ICR <- 0x02", "stall 10"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, MessageInTest, ::testing::ValuesIn(kMessages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PhaseTest, MessageInHandshakeTimeOutChangesNothing) {
  ScriptedTarget target(port, {{kMessageIn, 0x00, true}});

  EXPECT_EQ(KLV528xMessageIn(&adapter), FALSE);

  EXPECT_EQ(adapter.ActiveLu, &lu);
  EXPECT_EQ(lu.CurrentSrb, &request);
  EXPECT_EQ(port.count(Call::Notify), 0u);
}

// The extended message is not parsed: each byte is dispatched on its own, so
// the 0x03 of the length reads as RESTORE POINTERS and each 0x01 raises ATN.
TEST_F(PhaseTest, ExtendedMessageBytesAreEachTakenOnTheirOwn) {
  request.SrbStatus = SRB_STATUS_SUCCESS;
  ScriptedTarget target(port, {{kMessageIn, 0x01},
                               {kMessageIn, 0x03},
                               {kMessageIn, 0x01},
                               {kMessageIn, 0x19},
                               {kMessageIn, 0x08}});
  std::vector<std::pair<UCHAR, int>> atn_after;  // (byte, ATN writes so far)

  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(KLV528xMessageIn(&adapter), TRUE);
    if (i == 1) {
      EXPECT_EQ(adapter.CurrentDataPointer, data.data());
      EXPECT_EQ(adapter.CurrentDataLength, 512u);
    }
  }

  Lines atn_and_bytes;
  for (const std::string& line : port.lines()) {
    if (line.rfind("CSD ->", 0) == 0 || line == "ICR <- 0x02") atn_and_bytes.push_back(line);
  }
  EXPECT_EQ(atn_and_bytes, (Lines{"CSD -> 0x01", "ICR <- 0x02", "CSD -> 0x03", "CSD -> 0x01",
                                  "ICR <- 0x02", "CSD -> 0x19", "CSD -> 0x08"}));
  EXPECT_EQ(adapter.ActiveLu, &lu);
  EXPECT_EQ(port.count(Call::Notify), 0u);
}

// ---- Message Out -------------------------------------------------------------------------

TEST_F(PhaseTest, MessageOutSendsIdentifyForLunZeroWithoutAtn) {
  ScriptedTarget target(port, {{kMessageOut}, {kCommand}});
  adapter.CurrentPhase = 0x55;

  KLV528xMessageOut(&adapter);

  EXPECT_EQ(target.received(), std::vector<UCHAR>{0x80});
  EXPECT_EQ(port.lines(), (Lines{"TCR <- 0x06", "ODR <- 0x80", "ICR <- 0x01", "stall 10",
                                 "ICR <- 0x11", "CSBS -> 0x58", "ICR <- 0x00"}));
  EXPECT_EQ(adapter.CurrentPhase, 0x55);
}

TEST_F(PhaseTest, MessageOutTimeOutOnlyReleasesTheBus) {
  ScriptedTarget target(port, {{kMessageOut, 0, true}});

  KLV528xMessageOut(&adapter);

  EXPECT_EQ(port.folded_lines(),
            (Lines{"TCR <- 0x06", "ODR <- 0x80", "ICR <- 0x01", "stall 10", "ICR <- 0x11",
                   "20001 x [CSBS -> 0x78 | stall 1]", "ICR <- 0x00"}));
  EXPECT_TRUE(port.log_entries().empty());
  EXPECT_TRUE(port.debug_lines().empty());
}

}  // namespace
}  // namespace qzr::driver_test
