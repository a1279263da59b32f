// SendASPI32Command and GetASPI32SupportInfo on a port discovered from a
// scripted reply: a disk at 0, the scanner at 2, a CD-ROM at 3.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "scripted_device_interface.h"

namespace qzr::aspi_test {
namespace {

constexpr std::uint8_t kFill = 0xEE;
constexpr UCHAR kScanner = 2;

// An SRB with room behind it for sense beyond the record's 16 bytes.
struct ExecWithTail {
  SRB_ExecSCSICmd srb;
  std::array<UCHAR, 32> tail;
};

class Requests : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_scripted();
    NumberOfHostAdapters = 0;
    TheSannerWithHostAdapterNo = 0;
    ScannerSCSIID = 0;
    scripted().ports["\\\\.\\scsi0:"] = bus_info_image({{{0, 0, 0, inquiry_of(0, 0x10)},
                                                         {0, kScanner, 0, inquiry_of(6, 0x20)},
                                                         {0, 3, 0, inquiry_of(5, 0x30)}}});
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    ASSERT_EQ(ScannerSCSIID, kScanner);
    scripted().opened.clear();
    std::memset(&exec_, kFill, sizeof exec_);
    buffer_.fill(kFill);
    auto& srb = exec_.srb;
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = 0;
    srb.SRB_Flags = SRB_DIR_IN;
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = 36;
    srb.SRB_BufPointer = buffer_.data();
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = 6;
    std::memset(srb.CDBByte, 0, sizeof srb.CDBByte);
    srb.CDBByte[0] = 0x12;
    srb.CDBByte[4] = 36;
  }
  ULONG send() { return SendASPI32Command(reinterpret_cast<LPSRB>(&exec_.srb)); }

  ExecWithTail exec_;
  std::array<UCHAR, 64> buffer_;
};

TEST_F(Requests, SupportInfoCountsTheAdapter) {
  EXPECT_EQ(GetASPI32SupportInfo(), 0x101u);
}

TEST_F(Requests, HostAdapterInquiryWritesTheTextsAndLeavesTheRest) {
  for (UCHAR adapters : {UCHAR{1}, UCHAR{0}}) {
    SCOPED_TRACE(adapters);
    NumberOfHostAdapters = adapters;
    SRB_HAInquiry srb;
    std::memset(&srb, kFill, sizeof srb);
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = 0;
    EXPECT_EQ(SendASPI32Command(reinterpret_cast<LPSRB>(&srb)), ULONG{SS_COMP});
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(srb.HA_Count, adapters);
    EXPECT_EQ(srb.HA_SCSI_ID, 7);
    EXPECT_EQ(0, std::memcmp(srb.HA_ManagerId, " ASPI for WIN32 ", 16));
    EXPECT_EQ(0, std::memcmp(srb.HA_Identifier, " KAVRI PCI SCSI ", 16));
    EXPECT_EQ(std::vector<UCHAR>(srb.HA_Unique, srb.HA_Unique + 16), std::vector<UCHAR>(16, kFill));
    EXPECT_EQ(srb.HA_Rsvd1, 0xEEEE);
    EXPECT_EQ(srb.SRB_Hdr_Rsvd, 0xEEEEEEEEu);
  }
}

// Requests that must change SRB_Status alone, whatever record they carry.
TEST_F(Requests, HeaderOnlyAnswersChangeNothingButTheStatus) {
  struct Case {
    UCHAR cmd;
    UCHAR ha;
    UCHAR target;
    UCHAR flags;
    UCHAR status;
  };
  const Case cases[] = {
      {SC_HA_INQUIRY, 1, 0, 0, SS_INVALID_HA},
      {SC_HA_INQUIRY, 0xFF, 0, 0, SS_INVALID_HA},
      {SC_GET_DEV_TYPE, 0, 0, 0, SS_NO_DEVICE},
      {SC_GET_DEV_TYPE, 0, 2, 0, SS_NO_DEVICE},
      {SC_GET_DEV_TYPE, 1, 5, 0, SS_NO_DEVICE},
      {SC_ABORT_SRB, 0, 2, 0, SS_COMP},
      {SC_RESET_DEV, 0, 2, 0, SS_COMP},
      {SC_SET_HA_PARMS, 0, 0, 0, SS_COMP},
      {SC_GET_DISK_INFO, 0, 0, 0, SS_COMP},
      {0x07, 0, 2, SRB_POSTING, SS_COMP},
      {0x80, 0, 0, 0, SS_COMP},
      {0xFF, 3, 0, SRB_POSTING, SS_COMP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "command " << int{c.cmd} << " adapter " << int{c.ha});
    std::array<UCHAR, 96> record;
    record.fill(kFill);
    record[0] = c.cmd;
    record[2] = c.ha;
    record[3] = c.flags;
    record[8] = c.target;
    auto before = record;
    EXPECT_EQ(SendASPI32Command(reinterpret_cast<LPSRB>(record.data())), ULONG{c.status});
    before[1] = c.status;
    EXPECT_EQ(record, before);
    EXPECT_TRUE(scripted().opened.empty());
  }
}

TEST_F(Requests, EachRouteEndsWithItsStatusAndSendsOnlyForTheScanner) {
  struct Case {
    const char* name;
    UCHAR ha;
    UCHAR target;
    UCHAR lun;
    UCHAR opcode;
    UCHAR cdb1;
    ULONG buf_len;
    UCHAR status;
    bool sent;
    std::size_t cached_bytes;  // from the cache entry of the target
  };
  const Case cases[] = {
      {"inquiry of the disk from the cache", 0, 0, 0, 0x12, 0, 36, SS_COMP, false, 36},
      {"cut to the buffer", 0, 3, 0, 0x12, 0, 5, SS_COMP, false, 5},
      {"zero-length buffer", 0, 3, 0, 0x12, 0, 0, SS_COMP, false, 0},
      {"vital product data bit ignored", 0, 0, 0, 0x12, 0x01, 36, SS_COMP, false, 36},
      {"logical unit ignored", 0, 0, 5, 0x12, 0, 36, SS_COMP, false, 36},
      {"inquiry of the scanner goes to it", 0, kScanner, 0, 0x12, 0, 36, SS_COMP, true, 0},
      {"any scanner command goes to it", 0, kScanner, 3, 0x00, 0, 0, SS_COMP, true, 0},
      {"test unit ready for the disk refused", 0, 0, 0, 0x00, 0, 0, SS_NO_DEVICE, false, 0},
      {"read of the CD-ROM refused", 0, 3, 0, 0x28, 0, 36, SS_NO_DEVICE, false, 0},
      {"empty ID", 0, 5, 0, 0x12, 0, 36, SS_NO_DEVICE, false, 0},
      {"the adapter's own ID", 0, 7, 0, 0x12, 0, 36, SS_NO_DEVICE, false, 0},
      {"ID beyond the bus", 0, 200, 0, 0x12, 0, 36, SS_NO_DEVICE, false, 0},
      {"adapter 1, scanner's ID", 1, kScanner, 0, 0x12, 0, 36, SS_NO_DEVICE, false, 0},
      {"adapter 1, cached ID", 1, 0, 0, 0x12, 0, 36, SS_NO_DEVICE, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    exec_.srb.SRB_HaId = c.ha;
    exec_.srb.SRB_Target = c.target;
    exec_.srb.SRB_Lun = c.lun;
    exec_.srb.CDBByte[0] = c.opcode;
    exec_.srb.CDBByte[1] = c.cdb1;
    exec_.srb.SRB_BufLen = c.buf_len;
    scripted().data_in = std::vector<std::uint8_t>(36, 0x5A);
    EXPECT_EQ(send(), ULONG{c.status});
    EXPECT_EQ(exec_.srb.SRB_Status, c.status);
    EXPECT_EQ(exec_.srb.SRB_HaStat, kFill);
    EXPECT_EQ(exec_.srb.SRB_TargStat, kFill);
    EXPECT_EQ(scripted().pass_throughs.size(), c.sent ? 1u : 0u);
    EXPECT_EQ(scripted().opened,
              c.sent ? std::vector<std::string>{"\\\\.\\scanner0"} : std::vector<std::string>{});
    EXPECT_EQ(scripted().open_handles, 0);
    if (!c.sent) {
      std::array<UCHAR, 64> expected;
      expected.fill(kFill);
      if (c.cached_bytes > 0) {
        std::memcpy(expected.data(), InquiryDataBuffer[c.target], c.cached_bytes);
      }
      EXPECT_EQ(buffer_, expected);
    }
  }
}

TEST_F(Requests, ThePassThroughRecordCarriesTheRequest) {
  struct Case {
    const char* name;
    UCHAR flags;
    UCHAR sense_len;
    UCHAR data_in;
    UCHAR sense_info_length;
  };
  const Case cases[] = {
      {"read with the direction flag", SRB_DIR_IN | SRB_POSTING * 0, 14, SCSI_IOCTL_DATA_IN, 14},
      {"read without it goes out", 0, 14, SCSI_IOCTL_DATA_OUT, 14},
      {"out flag has no effect of its own", SRB_DIR_OUT, 0, SCSI_IOCTL_DATA_OUT, 0},
      {"sense longer than the record's buffer is cut to it", SRB_DIR_IN, 200, SCSI_IOCTL_DATA_IN,
       32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    exec_.srb.SRB_Target = kScanner;
    exec_.srb.SRB_Lun = 3;
    exec_.srb.SRB_Flags = c.flags;
    exec_.srb.SRB_SenseLen = c.sense_len;
    exec_.srb.SRB_BufLen = 50;
    exec_.srb.SRB_CDBLen = 10;
    for (int i = 0; i < 16; ++i) exec_.srb.CDBByte[i] = static_cast<UCHAR>(0x28 + i);
    send();
    ASSERT_EQ(scripted().pass_throughs.size(), 1u);
    const auto& call = scripted().pass_throughs[0];
    const SCSI_PASS_THROUGH_DIRECT& sptd = call.record.sptd;
    EXPECT_EQ(call.in_bytes, sizeof(SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER));
    EXPECT_EQ(call.out_bytes, sizeof(SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER));
    EXPECT_FALSE(call.separate_buffers);
    EXPECT_EQ(sptd.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(sptd.PathId, 0);
    EXPECT_EQ(sptd.TargetId, kScanner);
    EXPECT_EQ(sptd.Lun, 0);
    EXPECT_EQ(sptd.CdbLength, 10);
    EXPECT_EQ(sptd.SenseInfoLength, c.sense_info_length);
    EXPECT_EQ(sptd.DataIn, c.data_in);
    EXPECT_EQ(sptd.DataTransferLength, 50u);
    EXPECT_EQ(sptd.TimeOutValue, 9999u);
    EXPECT_EQ(sptd.DataBuffer, buffer_.data());
    EXPECT_EQ(sptd.SenseInfoOffset, offsetof(SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER, ucSenseBuf));
    EXPECT_EQ(0, std::memcmp(sptd.Cdb, exec_.srb.CDBByte, 16));
  }
}

TEST_F(Requests, TheScannerStatusDecidesTheOutcome) {
  struct Case {
    const char* name;
    bool opens;
    bool control_fails;
    UCHAR scsi_status;
    UCHAR sense_len;
    UCHAR status;
    UCHAR targ_stat;          // kFill: not written
    std::size_t sense_bytes;  // copied into SenseArea and on behind it
    bool data_written;
  };
  const Case cases[] = {
      {"good", true, false, 0x00, 14, SS_COMP, kFill, 0, true},
      {"check condition, 14 sense bytes", true, false, 0x02, 14, SS_ERR, 2, 14, true},
      {"check condition, sense past the record", true, false, 0x02, 24, SS_ERR, 2, 24, true},
      {"check condition, more sense than the record holds", true, false, 0x02, 40, SS_ERR, 2, 32,
       true},
      {"busy", true, false, 0x08, 14, SS_ERR, 0x08, 0, true},
      {"reservation conflict", true, false, 0x18, 14, SS_ERR, 0x18, 0, true},
      {"device control fails", true, true, 0x02, 14, SS_ERR, kFill, 0, false},
      {"scanner device does not open", false, false, 0x02, 14, SS_ERR, kFill, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    scripted().scanner_present = c.opens;
    scripted().pass_through_fails = c.control_fails;
    scripted().scsi_status = c.scsi_status;
    for (int i = 0; i < 32; ++i) scripted().sense[i] = static_cast<std::uint8_t>(0x70 + i);
    scripted().data_in = std::vector<std::uint8_t>(36, 0x5A);
    exec_.srb.SRB_Target = kScanner;
    exec_.srb.SRB_SenseLen = c.sense_len;
    EXPECT_EQ(send(), ULONG{c.status});
    EXPECT_EQ(exec_.srb.SRB_Status, c.status);
    EXPECT_EQ(exec_.srb.SRB_TargStat, c.targ_stat);
    EXPECT_EQ(exec_.srb.SRB_HaStat, kFill);
    EXPECT_EQ(scripted().pass_throughs.size(), c.opens ? 1u : 0u);
    EXPECT_EQ(scripted().open_handles, 0);
    const auto* sense = reinterpret_cast<const UCHAR*>(exec_.srb.SenseArea);
    for (std::size_t i = 0; i < 16 + exec_.tail.size(); ++i) {
      UCHAR expected = i < c.sense_bytes ? static_cast<UCHAR>(0x70 + i) : kFill;
      ASSERT_EQ(sense[i], expected) << "sense byte " << i;
    }
    EXPECT_EQ(buffer_[0], c.data_written ? 0x5A : kFill);
  }
}

// What the post routine saw when it was called.
struct PostSeen {
  int calls = 0;
  PVOID srb = nullptr;
  UCHAR status = 0;
  UCHAR first_data_byte = 0;
  UCHAR first_sense_byte = 0;
};
PostSeen post_seen;
UCHAR* post_buffer = nullptr;

void record_post(PVOID srb) {
  ++post_seen.calls;
  post_seen.srb = srb;
  auto* exec = static_cast<SRB_ExecSCSICmd*>(srb);
  post_seen.status = exec->SRB_Status;
  post_seen.first_data_byte = post_buffer[0];
  post_seen.first_sense_byte = exec->SenseArea[0];
}

TEST_F(Requests, ThePostRoutineRunsOnceAfterTheResultsAreWritten) {
  struct Case {
    const char* name;
    UCHAR target;
    UCHAR ha;
    UCHAR scsi_status;
    UCHAR status;
    UCHAR data_byte;
    UCHAR sense_byte;
  };
  const Case cases[] = {
      {"cache", 0, 0, 0, SS_COMP, 0x00, kFill},
      {"scanner good", kScanner, 0, 0, SS_COMP, 0x5A, kFill},
      {"scanner check condition", kScanner, 0, 2, SS_ERR, 0x5A, 0x70},
      {"no device", 5, 0, 0, SS_NO_DEVICE, kFill, kFill},
      {"other adapter", 0, 1, 0, SS_NO_DEVICE, kFill, kFill},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    post_seen = {};
    post_buffer = buffer_.data();
    scripted().scsi_status = c.scsi_status;
    scripted().sense[0] = 0x70;
    scripted().data_in = std::vector<std::uint8_t>(36, 0x5A);
    exec_.srb.SRB_Target = c.target;
    exec_.srb.SRB_HaId = c.ha;
    exec_.srb.SRB_Flags = SRB_DIR_IN | SRB_POSTING;
    exec_.srb.SRB_PostProc = reinterpret_cast<PVOID>(&record_post);
    EXPECT_EQ(send(), ULONG{c.status});
    EXPECT_EQ(post_seen.calls, 1);
    EXPECT_EQ(post_seen.srb, &exec_.srb);
    EXPECT_EQ(post_seen.status, c.status);
    EXPECT_EQ(post_seen.first_data_byte, c.data_byte);
    EXPECT_EQ(post_seen.first_sense_byte, c.sense_byte);
  }
}

TEST_F(Requests, PostingWithoutARoutineIsNotACallToAddressZero) {
  exec_.srb.SRB_Target = 0;
  exec_.srb.SRB_Flags = SRB_DIR_IN | SRB_POSTING;
  exec_.srb.SRB_PostProc = nullptr;
  EXPECT_EQ(send(), ULONG{SS_COMP});
}

}  // namespace
}  // namespace qzr::aspi_test
