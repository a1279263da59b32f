// Arbitration and selection: every way out, with the registers each leaves,
// and the choice of disconnect privilege.
#include "tests/driver/driver_fixture.h"

namespace qzr::driver_test {
namespace {

// ---- Arbitration -------------------------------------------------------------------

const Lines kArbitrationStart = {"CSBS -> 0x00", "ICR <- 0x00", "ODR <- 0x80", "ICR <- 0x01",
                                 "stall 3",      "MR -> 0x02",  "MR <- 0x03"};

struct ArbitrationCase {
  const char* name;
  UCHAR bus_status;                    // every read of Current SCSI Bus Status
  std::vector<UCHAR> initiator_reads;  // Initiator Command reads, then 0
  std::vector<UCHAR> data_reads;       // Current SCSI Data reads
  BOOLEAN won;
  Lines lines;
};

const ArbitrationCase kArbitrations[] = {
    {"BusBusyForEveryRound", SCSI_BSY, {}, {}, FALSE, {"1000000 x [CSBS -> 0x40 | stall 1]"}},
    {"SelWithoutBsyForEveryRound", SCSI_SEL, {}, {}, FALSE, {"1000000 x [CSBS -> 0x02 | stall 1]"}},
    {"ArbitrationNeverStarts",
     0x00,
     {},
     {},
     FALSE,
     kArbitrationStart + Lines{"1001 x [ICR -> 0x00 | stall 1]",
                               "print 0 \"\\n Fail to get ARBIT_IN_PROG ! ! ! !\"", "MR -> 0x03",
                               "MR <- 0x02", "MR <- 0x00", "ICR <- 0x00"}},
    {"Lost",
     0x00,
     {0x41, 0x61},
     {},
     FALSE,
     kArbitrationStart +
         Lines{"ICR -> 0x41", "stall 5", "ICR -> 0x61", "MR -> 0x03", "MR <- 0x02", "ICR <- 0x00"}},
    {"LowerIdOnTheDataBus",
     0x00,
     {0x41, 0x41},
     {0x81},
     FALSE,
     kArbitrationStart + Lines{"ICR -> 0x41", "stall 5", "ICR -> 0x41", "CSD -> 0x81", "MR <- 0x02",
                               "ICR <- 0x00"}},
    {"AnotherLowerIdOnTheDataBus",
     0x00,
     {0x41, 0x41},
     {0x84},
     FALSE,
     kArbitrationStart + Lines{"ICR -> 0x41", "stall 5", "ICR -> 0x41", "CSD -> 0x84", "MR <- 0x02",
                               "ICR <- 0x00"}},
    {"Won",
     0x00,
     {0x41, 0x41},
     {0x80},
     TRUE,
     kArbitrationStart + Lines{"ICR -> 0x41", "stall 5", "ICR -> 0x41", "CSD -> 0x80",
                               "ICR <- 0x0c", "stall 2", "MR -> 0x03", "MR <- 0x02"}},
};

class ArbitrationTest : public DriverTest, public ::testing::WithParamInterface<ArbitrationCase> {
 protected:
  ArbitrationTest() {
    lu.CurrentSrb = &request;
    lu.LuState = LU_STATE_START;
    adapter.ActiveLu = &lu;
    // Mode reads back as written; DMA Mode set beforehand shows that
    // arbitration keeps the other bits.
    port.set_default(MODE_REGISTER, MODE_DMA_MODE);
    port.echo_writes(MODE_REGISTER);
  }
};

TEST_P(ArbitrationTest, EachWayOut) {
  const ArbitrationCase& c = GetParam();
  port.set_default(CURRENT_SCSI_BUS_STATUS, c.bus_status);
  for (UCHAR value : c.initiator_reads) port.answer(INITIATOR_COMMAND, {value});
  for (UCHAR value : c.data_reads) port.answer(CURRENT_SCSI_DATA, {value});

  EXPECT_EQ(KLV528xArbitrate(&adapter), c.won);

  EXPECT_EQ(port.folded_lines(), c.lines);
  EXPECT_EQ(lu.LuState, static_cast<ULONG>(LU_STATE_START));
}

INSTANTIATE_TEST_SUITE_P(WaysOut, ArbitrationTest, ::testing::ValuesIn(kArbitrations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, ArbitrationRunsOnlyForARequestInItsStartState) {
  lu.LuState = LU_STATE_DISCONNECTED;
  adapter.ActiveLu = &lu;
  EXPECT_EQ(KLV528xArbitrate(&adapter), FALSE);
  EXPECT_TRUE(port.events().empty());
}

TEST_F(DriverTest, ArbitrationRechecksTheStateInEveryRound) {
  lu.LuState = LU_STATE_START;
  adapter.ActiveLu = &lu;
  port.on_read(CURRENT_SCSI_BUS_STATUS, [&](std::uint64_t read) -> UCHAR {
    if (read == 1) lu.LuState = LU_STATE_UNKNOWN;
    return SCSI_BSY;
  });

  EXPECT_EQ(KLV528xArbitrate(&adapter), FALSE);

  EXPECT_EQ(port.lines(), (Lines{"CSBS -> 0x40", "stall 1", "CSBS -> 0x40", "stall 1"}));
}

// ---- Selection ----------------------------------------------------------------------

const Lines kSelectionStart = {"TCR <- 0x00", "ODR <- 0x82", "ICR <- 0x0f",
                               "stall 5",     "SER <- 0x00", "ICR -> 0x0f",
                               "ICR <- 0x07", "stall 2",     "CSBS -> 0x46"};
const Lines kKeepAtn = {"ICR -> 0x07", "ICR <- 0x02"};
const Lines kIdentify = {"3 x [CSBS -> 0x78]", "TCR <- 0x06", "ODR <- 0x80",
                         "ICR <- 0x01",        "stall 3",     "ICR <- 0x11"};

struct SelectionCase {
  const char* name;
  UCHAR target;
  std::vector<UCHAR> bus_status_reads;  // then bus_status_default
  UCHAR bus_status_default;
  std::vector<UCHAR> initiator_reads;  // empty: reads back as written
  BOOLEAN selected;
  int select_enable_after;  // -1: never written
  UCHAR current_phase_after;
  Lines lines;
};

const SelectionCase kSelections[] = {
    {"TargetIsTheAdapterItself", 7, {}, 0x00, {}, FALSE, -1, 0, {"TCR <- 0x00", "ICR <- 0x00"}},
    {"NoBsyFromTheTarget",
     1,
     {},
     0x06,
     {},
     FALSE,
     0x00,
     0,
     Lines{"TCR <- 0x00", "ODR <- 0x82", "ICR <- 0x0f", "stall 5", "SER <- 0x00", "ICR -> 0x0f",
           "ICR <- 0x07", "stall 2", "1000000 x [CSBS -> 0x06 | stall 1]",
           "print 0 \"Fail to get BSY in Selection ! ! !\\n\"", "ICR <- 0x00"}},
    {"AtnNotKept",
     1,
     {0x46},
     0x00,
     {0x0F, 0x05},
     TRUE,
     0x00,
     0,
     kSelectionStart + Lines{"ICR -> 0x05", "ICR <- 0x00", "ICR <- 0x00", "stall 1"}},
    {"TargetLetGoOfBsyBeforeReq",
     1,
     {0x46},
     0x00,
     {},
     TRUE,
     0x00,
     0,
     kSelectionStart + kKeepAtn + Lines{"CSBS -> 0x00", "ICR <- 0x00"}},
    {"NoReq",
     1,
     {0x46},
     0x48,
     {},
     TRUE,
     0x00,
     0,
     kSelectionStart + kKeepAtn +
         Lines{"20003 x [CSBS -> 0x48]", "print 0 \"\\n Command Phase  \"",
               "print 0 \"Fail to get REQ  ! ! !, 4e20, Select En Disc\"", "ICR <- 0x00"}},
    {"ReqInAnotherPhase",
     1,
     {0x46, 0x68, 0x68, 0x68},
     0x00,
     {},
     TRUE,
     0x00,
     0,
     kSelectionStart + kKeepAtn + Lines{"3 x [CSBS -> 0x68]", "ICR <- 0x00"}},
    {"ReqNeverFalls",
     1,
     {0x46, 0x78, 0x78, 0x78},
     0x78,
     {},
     FALSE,
     0x00,
     3,
     kSelectionStart + kKeepAtn + kIdentify +
         Lines{"20001 x [CSBS -> 0x78 | stall 1]", "ICR <- 0x00"}},
    {"IdentifySent",
     1,
     {0x46, 0x78, 0x78, 0x78, 0x58},
     0x00,
     {},
     TRUE,
     0x80,
     3,
     kSelectionStart + kKeepAtn + kIdentify +
         Lines{"CSBS -> 0x58", "ICR <- 0x00", "stall 1", "SER <- 0x80"}},
};

class SelectionTest : public DriverTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(SelectionTest, EachWayOutLeavesTheBusReleased) {
  const SelectionCase& c = GetParam();
  request.TargetId = c.target;
  put_request_on_bus();
  for (UCHAR value : c.bus_status_reads) port.answer(CURRENT_SCSI_BUS_STATUS, {value});
  port.set_default(CURRENT_SCSI_BUS_STATUS, c.bus_status_default);
  if (c.initiator_reads.empty()) {
    port.echo_writes(INITIATOR_COMMAND);
  } else {
    for (UCHAR value : c.initiator_reads) port.answer(INITIATOR_COMMAND, {value});
  }

  EXPECT_EQ(KLV528xSelect_Disable_Disconnect(&adapter), c.selected);

  EXPECT_EQ(port.folded_lines(), c.lines);
  EXPECT_EQ(port.last_written(INITIATOR_COMMAND), 0);
  EXPECT_EQ(port.last_written(SELECT_ENABLE), c.select_enable_after);
  EXPECT_EQ(adapter.CurrentPhase, c.current_phase_after);
}

INSTANTIATE_TEST_SUITE_P(WaysOut, SelectionTest, ::testing::ValuesIn(kSelections),
                         [](const auto& info) { return std::string(info.param.name); });

// Addresses no selection can carry: an ID beyond the bus or a LUN beyond IDENTIFY.
class UnselectableAddressTest : public DriverTest,
                                public ::testing::WithParamInterface<std::pair<UCHAR, UCHAR>> {};

TEST_P(UnselectableAddressTest, IsRefusedBeforeTheBusIsTouched) {
  request.TargetId = GetParam().first;
  request.Lun = GetParam().second;
  put_request_on_bus();

  EXPECT_EQ(KLV528xSelect_Enable_Disconnect(&adapter), FALSE);

  EXPECT_EQ(port.lines(), (Lines{"TCR <- 0x00", "ICR <- 0x00"}));
}

INSTANTIATE_TEST_SUITE_P(Addresses, UnselectableAddressTest,
                         ::testing::Values(std::pair<UCHAR, UCHAR>{8, 0},
                                           std::pair<UCHAR, UCHAR>{31, 0},
                                           std::pair<UCHAR, UCHAR>{200, 0},
                                           std::pair<UCHAR, UCHAR>{1, 8},
                                           std::pair<UCHAR, UCHAR>{1, 0x40}));

struct PrivilegeCase {
  const char* name;
  ULONG srb_flags;
  UCHAR interrupt_line;
  UCHAR scan_in_progress;
  UCHAR lun;
  UCHAR identify;
};

const PrivilegeCase kPrivileges[] = {
    {"Granted", 0, 11, 0, 0, 0xC0},
    {"GrantedWhateverOtherFlags", SRB_FLAGS_DATA_IN | SRB_FLAGS_DISABLE_SYNCH_TRANSFER, 11, 0, 0,
     0xC0},
    {"DisconnectDisabledByFlag", SRB_FLAGS_DISABLE_DISCONNECT, 11, 0, 0, 0x80},
    {"NoInterruptLine", 0, 0, 0, 0, 0x80},
    {"DuringTheScan", 0, 11, 1, 0, 0x80},
    {"LunOne", 0, 11, 0, 1, 0x81},
    {"LunSeven", 0, 11, 0, 7, 0x87},
};

class PrivilegeTest : public DriverTest, public ::testing::WithParamInterface<PrivilegeCase> {};

TEST_P(PrivilegeTest, IdentifyCarriesTheChosenPrivilege) {
  const PrivilegeCase& c = GetParam();
  request.SrbFlags = c.srb_flags;
  request.Lun = c.lun;
  adapter.InterruptLine = c.interrupt_line;
  adapter.ScanInProgress = c.scan_in_progress;
  put_request_on_bus();
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x46, 0x78, 0x78, 0x78, 0x58});
  port.echo_writes(INITIATOR_COMMAND);

  EXPECT_EQ(KLV528xSelect(&adapter, &lu, &request), TRUE);

  EXPECT_EQ(port.last_written(OUTPUT_DATA), c.identify);
}

INSTANTIATE_TEST_SUITE_P(Choices, PrivilegeTest, ::testing::ValuesIn(kPrivileges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, SelectReportsTheChosenRoutinesFailure) {
  request.TargetId = 7;
  put_request_on_bus();
  EXPECT_EQ(KLV528xSelect(&adapter, &lu, &request), FALSE);
}

}  // namespace
}  // namespace qzr::driver_test
