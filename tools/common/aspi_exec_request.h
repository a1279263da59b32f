// Fills an ASPI execute request the way a scanner application does: one
// target, one command block, one buffer, room for sense. Shared by the
// command-line tool, the benchmarks and the whole-stack tests.
#pragma once

#include <cstddef>
#include <cstring>

#include "aspi_srb.h"

namespace qzr::tools {

inline void fill_exec_request(SRB_ExecSCSICmd& srb, UCHAR target, const UCHAR* cdb,
                              std::size_t cdb_bytes, UCHAR* buffer, ULONG bytes, bool data_in,
                              UCHAR sense_bytes = 14) {
  std::memset(&srb, 0, sizeof srb);
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_Flags = data_in ? SRB_DIR_IN : SRB_DIR_OUT;
  srb.SRB_Target = target;
  srb.SRB_BufLen = bytes;
  srb.SRB_BufPointer = buffer;
  srb.SRB_SenseLen = sense_bytes;
  srb.SRB_CDBLen = static_cast<UCHAR>(cdb_bytes);
  std::memcpy(srb.CDBByte, cdb, cdb_bytes);
}

}  // namespace qzr::tools
