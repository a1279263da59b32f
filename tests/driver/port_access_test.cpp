// The bounded polls, the byte handshakes and interrupt/reselection enabling.
#include <functional>

#include "tests/driver/driver_fixture.h"

namespace qzr::driver_test {
namespace {

struct PollCase {
  const char* name;
  std::function<BOOLEAN(PUCHAR)> poll;
  unsigned reg;
  UCHAR met;       // a register value meeting the condition
  UCHAR unmet;     // one that does not
  ULONG attempts;  // budget + 1
  ULONG stall_us;  // after each failed attempt; 0 for none
  Lines message;   // printed on time-out
};

std::string read_line(unsigned reg, UCHAR value) {
  char text[48];
  std::snprintf(text, sizeof text, "%s -> 0x%02x",
                reg == BOARD_STATUS        ? "BOARD_STATUS"
                : reg == INITIATOR_COMMAND ? "ICR"
                                           : "CSBS",
                value);
  return text;
}

std::string attempts_line(const PollCase& poll, UCHAR value) {
  std::string text = std::to_string(poll.attempts) + " x [" + read_line(poll.reg, value);
  if (poll.stall_us != 0) text += " | stall " + std::to_string(poll.stall_us);
  return text + "]";
}

Lines printed(const Lines& texts) {
  Lines out;
  for (const auto& text : texts) {
    std::string escaped;
    for (char c : text) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    out.push_back("print 0 \"" + escaped + "\"");
  }
  return out;
}

const PollCase kPolls[] = {
    {"ArbitInProg",
     WAIT_ARBIT_IN_PROG,
     INITIATOR_COMMAND,
     0x41,
     0x01,
     1001,
     1,
     {"\n Fail to get ARBIT_IN_PROG ! ! ! !"}},
    {"Bsy",
     WAIT_BSY,
     CURRENT_SCSI_BUS_STATUS,
     0x46,
     0x06,
     1000000,
     1,
     {"Fail to get BSY in Selection ! ! !\n"}},
    {"DeSel",
     WAIT_DE_SEL,
     CURRENT_SCSI_BUS_STATUS,
     0x44,
     0x46,
     20001,
     1,
     {"\n DE_SEL error error."}},
    {"Ncr5380Enable",
     WAIT_5380_ENABLE,
     BOARD_STATUS,
     0x90,
     0x14,
     3000001,
     1,
     {"\n Fail to wait 5380 become accessible ! ! !"}},
    {"DeReq40000",
     [](PUCHAR base) { return WAIT_DE_REQ(base, 40000); },
     CURRENT_SCSI_BUS_STATUS,
     0x44,
     0x64,
     40001,
     1,
     {}},
    {"DeReq0",
     [](PUCHAR base) { return WAIT_DE_REQ(base, 0); },
     CURRENT_SCSI_BUS_STATUS,
     0x40,
     0x60,
     1,
     1,
     {}},
};

class PollTest : public DriverTest, public ::testing::WithParamInterface<PollCase> {};

TEST_P(PollTest, TimesOutAfterBudgetPlusOneAttemptsEachWithItsStall) {
  const PollCase& poll = GetParam();
  port.set_default(poll.reg, poll.unmet);

  EXPECT_EQ(poll.poll(port.base()), FALSE);

  Lines expected;
  if (poll.attempts == 1) {
    expected = {read_line(poll.reg, poll.unmet), "stall " + std::to_string(poll.stall_us)};
  } else {
    expected = {attempts_line(poll, poll.unmet)};
  }
  EXPECT_EQ(port.folded_lines(), expected + printed(poll.message));
}

TEST_P(PollTest, ConditionMetAtOnceReadsOnceWithoutStalling) {
  const PollCase& poll = GetParam();
  port.set_default(poll.reg, poll.met);

  EXPECT_EQ(poll.poll(port.base()), TRUE);

  EXPECT_EQ(port.lines(), Lines{read_line(poll.reg, poll.met)});
}

TEST_P(PollTest, ConditionMetOnTheLastAttemptStillSucceeds) {
  const PollCase& poll = GetParam();
  port.on_read(poll.reg, [&](std::uint64_t read) {
    return read + 1 == poll.attempts ? poll.met : poll.unmet;
  });

  EXPECT_EQ(poll.poll(port.base()), TRUE);

  EXPECT_EQ(port.count(Call::PortRead), poll.attempts);
  EXPECT_EQ(port.count(Call::Stall), poll.stall_us != 0 ? poll.attempts - 1 : 0);
  EXPECT_EQ(port.count(Call::DebugPrint), 0u);
}

INSTANTIATE_TEST_SUITE_P(Polls, PollTest, ::testing::ValuesIn(kPolls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, WaitReqWithBusFreeAtEntryGivesUpSilentlyAfterOneRead) {
  port.set_default(CURRENT_SCSI_BUS_STATUS, SCSI_REQ | SCSI_IO);  // REQ without BSY

  EXPECT_EQ(WAIT_REQ(port.base(), 100000, "Run Phase"), FALSE);

  EXPECT_EQ(port.lines(), Lines{"CSBS -> 0x24"});
}

TEST_F(DriverTest, WaitReqSucceedsOnBsyAndReqWithoutStalling) {
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x40, 0x40, 0x40, 0x6C});

  EXPECT_EQ(WAIT_REQ(port.base(), 20000, "Select En Disc"), TRUE);

  EXPECT_EQ(port.folded_lines(), (Lines{"3 x [CSBS -> 0x40]", "CSBS -> 0x6c"}));
}

TEST_F(DriverTest, WaitReqTimeOutNamesThePhaseAndTheCallersBudgetInHex) {
  port.set_default(CURRENT_SCSI_BUS_STATUS, SCSI_BSY | SCSI_CD | SCSI_IO);  // Status, no REQ

  EXPECT_EQ(WAIT_REQ(port.base(), 100000, "Run Phase"), FALSE);

  // One read at entry, budget + 1 attempts, one read for the report.
  EXPECT_EQ(port.folded_lines(), (Lines{"100003 x [CSBS -> 0x4c]", "print 0 \"\\n Status Phase  \"",
                                        "print 0 \"Fail to get REQ  ! ! !, 186a0, Run Phase\""}));
}

struct PhaseNameCase {
  UCHAR bus_status;  // as read for the report; REQ is ignored
  const char* text;
};

class WaitReqPhaseNameTest : public DriverTest,
                             public ::testing::WithParamInterface<PhaseNameCase> {};

TEST_P(WaitReqPhaseNameTest, ReportsThePhaseTheBusIsIn) {
  port.answer(CURRENT_SCSI_BUS_STATUS, {SCSI_BSY, SCSI_BSY, SCSI_BSY, GetParam().bus_status});

  EXPECT_EQ(WAIT_REQ(port.base(), 1, "Command"), FALSE);

  EXPECT_EQ(port.debug_lines(), (Lines{GetParam().text, "Fail to get REQ  ! ! !, 1, Command"}));
}

INSTANTIATE_TEST_SUITE_P(Phases, WaitReqPhaseNameTest,
                         ::testing::Values(PhaseNameCase{0x00, "\n Bus Free  "},
                                           PhaseNameCase{0x40, "\n Data Out Phase  "},
                                           PhaseNameCase{0x44, "\n Data In Phase  "},
                                           PhaseNameCase{0x48, "\n Command Phase  "},
                                           PhaseNameCase{0x4C, "\n Status Phase  "},
                                           PhaseNameCase{0x58, "\n Message Out Phase  "},
                                           PhaseNameCase{0x5C, "\n Message In Phase  "},
                                           // REQ, SEL and parity are masked away before naming
                                           PhaseNameCase{0x7F, "\n Message In Phase  "},
                                           PhaseNameCase{0x50, "\n UnDetermined  "},
                                           PhaseNameCase{0x1C, "\n UnDetermined  "}));

TEST_F(DriverTest, WaitReqWithTheLargestBudgetDoesNotWrap) {
  // Budget 0xFFFFFFFF means 2^32 attempts; stop the target after a few so the
  // test stays short, and check the count did not wrap to 0 attempts.
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x40, 0x40, 0x40, 0x60});
  EXPECT_EQ(WAIT_REQ(port.base(), 0xFFFFFFFF, "Start Ex"), TRUE);
  EXPECT_EQ(port.count(Call::PortRead), 4u);
}

// ---- Handshakes -------------------------------------------------------------------

TEST_F(DriverTest, OutByteDrivesDataThenAckAndReleasesWhenReqFalls) {
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x78, 0x58});

  EXPECT_EQ(KLV528xOutByte(port.base(), 0xC0), TRUE);

  EXPECT_EQ(port.lines(), (Lines{"ODR <- 0xc0", "ICR <- 0x01", "stall 2", "ICR <- 0x11",
                                 "CSBS -> 0x78", "stall 1", "CSBS -> 0x58", "ICR <- 0x00"}));
}

TEST_F(DriverTest, OutByteTimeOutStillReleasesTheBus) {
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x68);

  EXPECT_EQ(KLV528xOutByte(port.base(), 0x12), FALSE);

  EXPECT_EQ(port.folded_lines(), (Lines{"ODR <- 0x12", "ICR <- 0x01", "stall 2", "ICR <- 0x11",
                                        "40001 x [CSBS -> 0x68 | stall 1]", "ICR <- 0x00"}));
}

TEST_F(DriverTest, InByteStoresTheByteEvenWhenReqNeverFalls) {
  port.answer(CURRENT_SCSI_DATA, {0x02});
  port.set_default(CURRENT_SCSI_BUS_STATUS, 0x6C);
  UCHAR byte = 0xEE;

  EXPECT_EQ(KLV528xInByte(port.base(), &byte), FALSE);

  EXPECT_EQ(byte, 0x02);
  EXPECT_EQ(port.folded_lines(), (Lines{"CSD -> 0x02", "ICR <- 0x10",
                                        "40001 x [CSBS -> 0x6c | stall 1]", "ICR <- 0x00"}));
  EXPECT_EQ(port.count(Call::DebugPrint), 0u);
}

TEST_F(DriverTest, InByteTakesTheByteBeforeAcknowledging) {
  port.answer(CURRENT_SCSI_DATA, {0x00});
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x5C});
  UCHAR byte = 0xEE;

  EXPECT_EQ(KLV528xInByte(port.base(), &byte), TRUE);

  EXPECT_EQ(byte, 0x00);
  EXPECT_EQ(port.lines(), (Lines{"CSD -> 0x00", "ICR <- 0x10", "CSBS -> 0x5c", "ICR <- 0x00"}));
}

// ---- Interrupt and reselection enabling ------------------------------------------

struct EnableInterruptCase {
  UCHAR board_status;
  const char* control_written;
};

class EnableInterruptTest : public DriverTest,
                            public ::testing::WithParamInterface<EnableInterruptCase> {};

TEST_P(EnableInterruptTest, KeepsOnlyTheDirectionAndAddsTheEnable) {
  port.answer(BOARD_STATUS, {GetParam().board_status});
  KLV528xEnableInterrupt(port.base());
  EXPECT_EQ(port.lines()[1], GetParam().control_written);
  EXPECT_EQ(port.lines().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, EnableInterruptTest,
                         ::testing::Values(EnableInterruptCase{0x40, "BOARD_CONTROL <- 0x50"},
                                           EnableInterruptCase{0x00, "BOARD_CONTROL <- 0x10"},
                                           EnableInterruptCase{0xC5, "BOARD_CONTROL <- 0x50"},
                                           EnableInterruptCase{0x95, "BOARD_CONTROL <- 0x10"}));

TEST_F(DriverTest, EnableReselectEnablesTheInterruptThenAnswersOurId) {
  port.answer(BOARD_STATUS, {0x40});
  EXPECT_EQ(KLV528xEnableReselect(&adapter), TRUE);
  EXPECT_EQ(port.lines(), (Lines{"BOARD_STATUS -> 0x40", "BOARD_CONTROL <- 0x50", "SER <- 0x80"}));
}

TEST_F(DriverTest, ClearInterruptReadsTheChipThenTheBoard) {
  KLV528xClearInterrupt(port.base());
  EXPECT_EQ(port.lines(), (Lines{"RPI -> 0x00", "BOARD_STATUS -> 0x00"}));
}

}  // namespace
}  // namespace qzr::driver_test
