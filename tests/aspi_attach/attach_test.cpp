// A program linked against the torvik library, as an ASPI client is: the
// library was attached to the built-in machine before main ran.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "aspi_srb.h"

namespace {

ULONG inquiry(UCHAR target, std::array<UCHAR, 36>& data) {
  SRB_ExecSCSICmd srb;
  std::memset(&srb, 0, sizeof srb);
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_Flags = SRB_DIR_IN;
  srb.SRB_Target = target;
  srb.SRB_BufLen = data.size();
  srb.SRB_BufPointer = data.data();
  srb.SRB_CDBLen = 6;
  srb.CDBByte[0] = 0x12;
  srb.CDBByte[4] = 36;
  return SendASPI32Command(reinterpret_cast<LPSRB>(&srb));
}

TEST(LinkedProgram, FindsTheLibraryAttachedBeforeItsOwnCodeRuns) {
  EXPECT_EQ(GetASPI32SupportInfo(), 0x101u);
  std::array<UCHAR, 36> data{};
  EXPECT_EQ(inquiry(2, data), ULONG{SS_COMP});
  EXPECT_EQ(data[0], 6) << "the scanner, through its device";
  EXPECT_EQ(inquiry(3, data), ULONG{SS_COMP});
  EXPECT_EQ(data[0], 5) << "the CD-ROM's inquiry data, recorded at attach";
}

}  // namespace
