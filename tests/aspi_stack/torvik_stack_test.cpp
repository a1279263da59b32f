// torvik on the whole stack: discovery over the real port device, requests
// for the scanner carried by the miniport, the others from the cache.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "tests/aspi_stack/stack_fixture.h"
#include "torvik.h"

namespace qzr::aspi_stack_test {
namespace {

class TorvikStack : public Stack {
 protected:
  void SetUp() override {
    Stack::SetUp();
    ASSERT_NO_FATAL_FAILURE(attach_torvik());
  }

  ULONG execute(UCHAR target, std::uint8_t opcode, std::span<std::uint8_t> buffer,
                SRB_ExecSCSICmd& srb) {
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_DIR_IN;
    srb.SRB_Target = target;
    srb.SRB_BufLen = static_cast<ULONG>(buffer.size());
    srb.SRB_BufPointer = buffer.data();
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = opcode < 0x20 ? 6 : 10;
    srb.CDBByte[0] = opcode;
    if (opcode == 0x12) srb.CDBByte[4] = static_cast<UCHAR>(buffer.size());
    return SendASPI32Command(reinterpret_cast<LPSRB>(&srb));
  }
};

TEST_F(TorvikStack, TheScannersPortBecomesAdapterZero) {
  EXPECT_EQ(ScannerSCSIID, kScannerId);
  EXPECT_EQ(GetASPI32SupportInfo(), 0x101u);
  SRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(SendASPI32Command(reinterpret_cast<LPSRB>(&inquiry)), ULONG{SS_COMP});
  EXPECT_EQ(inquiry.HA_Count, 1);
  EXPECT_EQ(inquiry.HA_SCSI_ID, 7);
  EXPECT_EQ(0, std::memcmp(inquiry.HA_Identifier, " KAVRI PCI SCSI ", 16));
}

TEST_F(TorvikStack, InquiryOfTheScannerReachesItAndOfAnotherDeviceComesFromTheCache) {
  struct Case {
    UCHAR target;
    std::uint8_t type;
    bool reaches_miniport;
  };
  for (const Case& c :
       {Case{kScannerId, 6, true}, Case{kCdRomId, 5, false}, Case{kDiskId, 0, false}}) {
    SCOPED_TRACE(int{c.target});
    std::array<std::uint8_t, 36> data;
    data.fill(0xCC);
    SRB_ExecSCSICmd srb;
    const auto calls = port().start_io_calls();
    EXPECT_EQ(execute(c.target, 0x12, data, srb), ULONG{SS_COMP});
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(data[0], c.type);
    EXPECT_EQ(0, std::memcmp(&data[8], "QZRSIM", 6));
    EXPECT_EQ(port().start_io_calls() > calls, c.reaches_miniport);
  }
}

TEST_F(TorvikStack, OnlyTheScannerIsAskedAnythingButInquiry) {
  SRB_ExecSCSICmd srb;
  const auto calls = port().start_io_calls();
  EXPECT_EQ(execute(kDiskId, 0x00, {}, srb), ULONG{SS_NO_DEVICE});
  EXPECT_EQ(execute(kCdRomId, 0x00, {}, srb), ULONG{SS_NO_DEVICE});
  EXPECT_EQ(port().start_io_calls(), calls);
  EXPECT_EQ(execute(kScannerId, 0x00, {}, srb), ULONG{SS_COMP});
  EXPECT_GT(port().start_io_calls(), calls);
}

TEST_F(TorvikStack, TheSenseThePortDriverFetchedLandsInSenseArea) {
  std::array<std::uint8_t, 512> data{};
  SRB_ExecSCSICmd srb;
  EXPECT_EQ(execute(kScannerId, kReadOpcode, data, srb), ULONG{SS_ERR});
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, 2);
  EXPECT_EQ(srb.SenseArea[0], 0x70);
  EXPECT_EQ(srb.SenseArea[2], hw::scsi::sense_key::ILLEGAL_REQUEST);
  EXPECT_EQ(srb.SenseArea[12], 0x2C);
  EXPECT_EQ(srb.SenseArea[14], 0) << "only SRB_SenseLen bytes are copied";
}

}  // namespace
}  // namespace qzr::aspi_stack_test
