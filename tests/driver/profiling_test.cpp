// Whole requests through KLV528xStartIo during the bus scan: the inquiry
// text capture, the device profiling and the end of the scan.
#include <cstring>
#include <memory>
#include <string>

#include "tests/driver/driver_fixture.h"
#include "tests/driver/scripted_target.h"

namespace qzr::driver_test {
namespace {

// ---- The delay tables ----------------------------------------------------------------

struct ProfileCase {
  const char* name;
  UCHAR device_type;
  const char* text;  // 28 characters, or nullptr for a row never captured
  UCHAR delay_before;
  UCHAR delay_after;
};

const ProfileCase kProfiles[] = {
    {"ZipDrive", 0, "IOMEGA  ZIP 100         R.41", 0, 16},
    {"LastRevisionCharacterIsNotCompared", 0, "IOMEGA  ZIP 100         R.42", 0, 16},
    {"TwentySeventhCharacterIsCompared", 0, "IOMEGA  ZIP 100         R-41", 0, 30},
    {"FirstFujitsuDisk", 0, "FUJITSU M2511A          1500", 0, 16},
    {"SecondFujitsuDisk", 0, "FUJITSU M2512A          1500", 0, 16},
    {"JazDriveInLowerCase", 0, "iomega  jaz1GB          J.83", 0, 18},
    {"JazDriveInUpperCaseIsNotInTheTable", 0, "IOMEGA  JAZ1GB          J.83", 0, 30},
    {"SlowFujitsuDisk", 0, "FUJITSU M1606S          6237", 0, 32},
    {"DiskNotInTheTable", 0, "ACME    FIREBOLT 1080S  1Q09", 0, 30},
    {"AbsentTarget", 0, nullptr, 0, 30},
    {"OpticalDiskOfTheTable", 7, "FUJITSU M2513A          1500", 0, 18},
    {"OtherOpticalDisk", 7, "ACME    MO-541          1.0 ", 0, 18},
    {"OpticalRowIsNotForDisks", 0, "FUJITSU M2513A          1500", 0, 30},
    {"DiskRowIsNotForOpticalDisks", 7, "FUJITSU M1606S          6237", 0, 18},
    {"Tape", 1, "ACME    STREAMER 25601  2.63", 0, 20},
    {"WriteOnce", 4, "ACME    WORM-650        1.0 ", 0, 16},
    {"CdRom", 5, "ACME    CD-ROM 5701     3136", 0, 90},
    {"ScannerKeepsItsDelay", 6, "ACME    FLATBED 2500    3.00", 7, 7},
    {"ProcessorKeepsItsDelay", 3, "ACME    FLATBED 2500    3.00", 9, 9},
    {"NoLogicalUnitKeepsItsDelay", 0x1F, nullptr, 16, 16},
};

class ProfileTest : public DriverTest, public ::testing::WithParamInterface<ProfileCase> {};

TEST_P(ProfileTest, SetsTheBlockWriteDelay) {
  const ProfileCase& c = GetParam();
  if (c.text != nullptr) {
    ASSERT_EQ(std::strlen(c.text), QZR_INQUIRY_TEXT_BYTES);
  }
  adapter.TargetDeviceType[2] = c.device_type;
  adapter.BlockWriteDelay[2] = c.delay_before;
  if (c.text != nullptr) std::memcpy(adapter.InquiryText[2], c.text, QZR_INQUIRY_TEXT_BYTES);

  KLV528xProfileTarget(&adapter, 2);

  EXPECT_EQ(adapter.BlockWriteDelay[2], c.delay_after);
  for (UCHAR target : {0, 1, 3, 4, 5, 6}) EXPECT_EQ(adapter.BlockWriteDelay[target], 0);
  EXPECT_TRUE(port.events().empty());
}

INSTANTIATE_TEST_SUITE_P(Devices, ProfileTest, ::testing::ValuesIn(kProfiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DelayLookUpTest, LastMatchingRowWins) {
  const DEVICE_DELAY_ROW rows[] = {
      {"VENDOR  PRODUCT         0001", 11},
      {"OTHER   PRODUCT         0001", 12},
      {"VENDOR  PRODUCT         0002", 13},  // the same but for the last character
  };
  const char* text = "VENDOR  PRODUCT         0009";
  EXPECT_EQ(KLV528xLookUpDelay(reinterpret_cast<const UCHAR*>(text), rows, 3, 30), 13);
  EXPECT_EQ(KLV528xLookUpDelay(reinterpret_cast<const UCHAR*>(text), rows, 2, 30), 11);
  EXPECT_EQ(KLV528xLookUpDelay(reinterpret_cast<const UCHAR*>(text), rows + 1, 1, 30), 30);
}

// ---- Requests of the scan, end to end ----------------------------------------------------

class ScanTest : public DriverTest {
 protected:
  ScanTest() {
    adapter.ScanInProgress = 1;
    port.echo_writes(MODE_REGISTER);
    port.add_logical_unit(0, 1, 1, &lun1);
    port.add_logical_unit(0, 2, 0, &absent);
    port.add_logical_unit(0, 7, 0, &own);
  }

  static SCSI_REQUEST_BLOCK inquiry(UCHAR target, UCHAR lun, UCHAR* buffer) {
    SCSI_REQUEST_BLOCK srb{};
    srb.Length = sizeof(SCSI_REQUEST_BLOCK);
    srb.Function = SRB_FUNCTION_EXECUTE_SCSI;
    srb.TargetId = target;
    srb.Lun = lun;
    srb.CdbLength = 6;
    srb.Cdb[0] = SCSIOP_INQUIRY;
    srb.Cdb[1] = static_cast<UCHAR>(lun << 5);
    srb.Cdb[4] = 36;
    srb.DataBuffer = buffer;
    srb.DataTransferLength = 36;
    return srb;
  }

  static std::vector<UCHAR> answer(UCHAR byte0, const char* text) {
    std::vector<UCHAR> bytes(36, 0);
    bytes[0] = byte0;
    bytes[4] = 31;
    std::memcpy(bytes.data() + 8, text, QZR_INQUIRY_TEXT_BYTES);
    return bytes;
  }

  // A present target that takes the INQUIRY and answers 36 bytes: won
  // arbitration, selection with IDENTIFY, command, Data In through the host
  // buffer with its drain, GOOD status and COMMAND COMPLETE.
  void run_answered(SCSI_REQUEST_BLOCK& srb, const std::vector<UCHAR>& bytes) {
    RecordingPort fresh;
    adapter.BaseIoAddress = fresh.base();
    fresh.echo_writes(MODE_REGISTER);
    fresh.add_logical_unit(0, 1, 0, &lu);
    fresh.add_logical_unit(0, 1, 1, &lun1);
    fresh.add_logical_unit(0, 7, 0, &own);
    fresh.answer(CURRENT_SCSI_BUS_STATUS, {0x00, 0x46});
    fresh.answer(INITIATOR_COMMAND, {0x41, 0x41, 0x0F, 0x07});
    fresh.answer(CURRENT_SCSI_DATA, {0x80});
    std::vector<TargetStep> steps = {{kMessageOut}};
    steps.insert(steps.end(), 6, TargetStep{kCommand});
    steps.push_back({kDataIn});
    steps.push_back({kStatus, 0x00});
    steps.push_back({kMessageIn, 0x00});
    ScriptedTarget target(fresh, steps);
    fresh.on_write(TARGET_COMMAND, [&](UCHAR value) {
      if (value == TC_NO_PHASE && target.phase() == kDataIn) target.skip();
    });
    const std::vector<UCHAR> board = {kReadBusy, kReadStopped, kReadStopped};
    fresh.on_read(BOARD_STATUS, [board](std::uint64_t index) {
      return index < board.size() ? board[index] : UCHAR{NCR5380_ENABLE | DIR_IN | INT_ENABLE};
    });
    fresh.answer(SWAP_CONTROL, {36});
    fresh.answer_buffer_bytes(bytes);
    // The scan and other LUNs never get the disconnect privilege.
    const bool may_disconnect = !adapter.ScanInProgress && srb.Lun == 0;
    const UCHAR identify = static_cast<UCHAR>((may_disconnect ? 0xC0 : 0x80) | srb.Lun);

    EXPECT_EQ(KLV528xStartIo(&adapter, &srb), TRUE);

    EXPECT_EQ(target.received(), (std::vector<UCHAR>{identify, srb.Cdb[0], srb.Cdb[1], srb.Cdb[2],
                                                     srb.Cdb[3], srb.Cdb[4], srb.Cdb[5]}));
    EXPECT_TRUE(target.at_end());
    EXPECT_EQ(fresh.notifications(),
              (std::vector<Notification>{{RequestComplete, &srb}, {NextRequest, nullptr}}));
    EXPECT_EQ(srb.SrbStatus, SRB_STATUS_SUCCESS);
    adapter.BaseIoAddress = port.base();
  }

  static constexpr UCHAR kReadBusy = DIR_IN | INT_ENABLE | BUFFER_BUSY;
  static constexpr UCHAR kReadStopped = NCR5380_ENABLE | kReadBusy;

  LU_EXTENSION lun1{}, absent{}, own{};
  UCHAR buffer[36] = {};
};

struct AnsweredCase {
  const char* name;
  UCHAR byte0;
  const char* text;
  UCHAR delay;
};

const AnsweredCase kAnswered[] = {
    {"ZipWithANewerRevision", 0x00, "IOMEGA  ZIP 100         R.42", 16},
    {"UnknownDisk", 0x00, "ACME    DISK 1200N      8648", 30},
    {"CdRom", 0x05, "ACME    CD-ROM 5701     3136", 90},
    {"Scanner", 0x06, "ACME    FLATBED 2500    3.00", 0},
};

class AnsweredInquiryTest : public ScanTest, public ::testing::WithParamInterface<AnsweredCase> {};

TEST_P(AnsweredInquiryTest, CapturesTheTextAndProfilesTheTarget) {
  const AnsweredCase& c = GetParam();
  SCSI_REQUEST_BLOCK srb = inquiry(1, 0, buffer);
  std::vector<UCHAR> bytes = answer(c.byte0, c.text);

  run_answered(srb, bytes);

  EXPECT_EQ(std::vector<UCHAR>(buffer, buffer + 36), bytes);
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(adapter.InquiryText[1]), QZR_INQUIRY_TEXT_BYTES),
      c.text);
  EXPECT_EQ(adapter.LastInquiryTarget, 1);
  EXPECT_EQ(adapter.TargetDeviceType[1], c.byte0);
  EXPECT_EQ(adapter.BlockWriteDelay[1], c.delay);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(lu.CurrentSrb, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Devices, AnsweredInquiryTest, ::testing::ValuesIn(kAnswered),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScanTest, InquiryToLunOneOverwritesTheTargetsTypeButNotItsDelay) {
  SCSI_REQUEST_BLOCK first = inquiry(1, 0, buffer);
  run_answered(first, answer(0x00, "IOMEGA  ZIP 100         R.41"));
  ASSERT_EQ(adapter.BlockWriteDelay[1], 16);

  // The same target answers for LUN 1 that no such unit is present.
  UCHAR second_buffer[36] = {};
  SCSI_REQUEST_BLOCK second = inquiry(1, 1, second_buffer);
  run_answered(second, answer(0x7F, "ACME    NO UNIT         0000"));

  EXPECT_EQ(adapter.TargetDeviceType[1], 0x1F);
  EXPECT_EQ(lun1.PeripheralType, 0x1F);
  EXPECT_EQ(adapter.BlockWriteDelay[1], 16);
  // The target did not change, so its text was not captured again.
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(adapter.InquiryText[1]), QZR_INQUIRY_TEXT_BYTES),
      "IOMEGA  ZIP 100         R.41");
}

TEST_F(ScanTest, AbsentTargetCapturesNothingAndGetsThirty) {
  std::memcpy(Non128ByteData, "stale scratch block contents, never captured", 44);
  SCSI_REQUEST_BLOCK srb = inquiry(2, 0, buffer);
  port.answer(CURRENT_SCSI_BUS_STATUS, {0x00});
  port.answer(INITIATOR_COMMAND, {0x41, 0x41, 0x0F});
  port.answer(CURRENT_SCSI_DATA, {0x80});

  EXPECT_EQ(KLV528xStartIo(&adapter, &srb), TRUE);

  EXPECT_EQ(srb.SrbStatus, SRB_STATUS_SELECTION_TIMEOUT);
  EXPECT_EQ(adapter.LastInquiryTarget, 7);
  for (UCHAR byte : adapter.InquiryText[2]) EXPECT_EQ(byte, 0);
  EXPECT_EQ(adapter.BlockWriteDelay[2], 30);
  EXPECT_EQ(adapter.ActiveLu, nullptr);
  EXPECT_EQ(absent.CurrentSrb, nullptr);
}

TEST_F(ScanTest, InquiryToTheAdapterItselfEndsTheScanForGood) {
  SCSI_REQUEST_BLOCK own_inquiry = inquiry(7, 0, buffer);
  port.answer(INITIATOR_COMMAND, {0x41, 0x41});
  port.answer(CURRENT_SCSI_DATA, {0x80});

  KLV528xStartIo(&adapter, &own_inquiry);

  EXPECT_EQ(own_inquiry.SrbStatus, SRB_STATUS_SELECTION_TIMEOUT);
  EXPECT_EQ(adapter.ScanInProgress, 0);
  for (UCHAR delay : adapter.BlockWriteDelay) EXPECT_EQ(delay, 0);

  // Later INQUIRY answers change neither the tables nor any delay.
  UCHAR later_buffer[36] = {};
  SCSI_REQUEST_BLOCK later = inquiry(1, 0, later_buffer);
  run_answered(later, answer(0x05, "ACME    CD-ROM 5701     3136"));

  EXPECT_EQ(lu.PeripheralType, 0x05);
  EXPECT_EQ(adapter.TargetDeviceType[1], 0);
  EXPECT_EQ(adapter.BlockWriteDelay[1], 0);
  EXPECT_EQ(adapter.LastInquiryTarget, 7);
  for (UCHAR byte : adapter.InquiryText[1]) EXPECT_EQ(byte, 0);
}

TEST_F(ScanTest, EveryScanRequestCapturesOnAChangeOfTarget) {
  // Not only INQUIRY: whatever the command, the text is taken from the
  // scratch block when the target differs from the last one.
  SCSI_REQUEST_BLOCK srb = inquiry(1, 0, buffer);
  srb.Cdb[0] = SCSIOP_TEST_UNIT_READY;
  run_answered(srb, answer(0x00, "ACME    DISK 1200N      8648"));

  EXPECT_EQ(adapter.LastInquiryTarget, 1);
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(adapter.InquiryText[1]), QZR_INQUIRY_TEXT_BYTES),
      "ACME    DISK 1200N      8648");
  EXPECT_EQ(adapter.BlockWriteDelay[1], 0);  // profiling follows INQUIRY only
}

}  // namespace
}  // namespace qzr::driver_test
