#include "tools/qzrsim/aspi_client.h"

#include <dlfcn.h>

#include <cstring>

#include "tools/common/aspi_exec_request.h"
#include "tools/qzrsim/text.h"

namespace qzr::qzrsim {

const AspiLibrary* load_aspi(std::string& error) {
  static AspiLibrary library;
  if (library.SendASPI32Command) return &library;
  void* handle = dlopen(QZR_TORVIK_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    error = std::string("cannot load torvik: ") + dlerror();
    return nullptr;
  }
  library.GetASPI32SupportInfo =
      reinterpret_cast<ULONG (*)()>(dlsym(handle, "GetASPI32SupportInfo"));
  library.SendASPI32Command =
      reinterpret_cast<ULONG (*)(LPSRB)>(dlsym(handle, "SendASPI32Command"));
  if (!library.GetASPI32SupportInfo || !library.SendASPI32Command) {
    library = {};
    error = "torvik does not export GetASPI32SupportInfo and SendASPI32Command";
    return nullptr;
  }
  return &library;
}

std::string aspi_status_name(unsigned status) {
  switch (status) {
    case SS_PENDING:
      return "SS_PENDING";
    case SS_COMP:
      return "SS_COMP";
    case SS_ERR:
      return "SS_ERR";
    case SS_INVALID_HA:
      return "SS_INVALID_HA";
    case SS_NO_DEVICE:
      return "SS_NO_DEVICE";
    case SS_OLD_MANAGER:
      return "SS_OLD_MANAGER";
    case SS_ILLEGAL_MODE:
      return "SS_ILLEGAL_MODE";
    case SS_NO_ASPI:
      return "SS_NO_ASPI";
    case SS_FAILED_INIT:
      return "SS_FAILED_INIT";
    default:
      return hex8(status);
  }
}

ULONG aspi_exec(const AspiLibrary& aspi, SRB_ExecSCSICmd& srb, std::uint8_t id,
                const std::uint8_t* cdb, std::size_t cdb_bytes, std::uint8_t* buffer, ULONG bytes,
                bool data_in) {
  tools::fill_exec_request(srb, id, cdb, cdb_bytes, buffer, bytes, data_in, sizeof srb.SenseArea);
  return aspi.SendASPI32Command(reinterpret_cast<LPSRB>(&srb));
}

}  // namespace qzr::qzrsim
