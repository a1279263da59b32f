// torvik loaded as an ASPI client loads it: at run time, after the machine
// has booted, so that its attach-time discovery sees the root's bus. It
// stays loaded: the runtime detaches it at exit.
#pragma once

#include <cstdint>
#include <string>

#include "aspi_srb.h"

namespace qzr::qzrsim {

struct AspiLibrary {
  ULONG (*GetASPI32SupportInfo)() = nullptr;
  ULONG (*SendASPI32Command)(LPSRB srb) = nullptr;
};

// Null with `error` set when the library or its exports cannot be found.
const AspiLibrary* load_aspi(std::string& error);

// "SS_COMP", "SS_NO_DEVICE", ...
std::string aspi_status_name(unsigned status);

// An SRB_ExecSCSICmd for target `id` of host adapter 0, sent.
ULONG aspi_exec(const AspiLibrary& aspi, SRB_ExecSCSICmd& srb, std::uint8_t id,
                const std::uint8_t* cdb, std::size_t cdb_bytes, std::uint8_t* buffer, ULONG bytes,
                bool data_in);

}  // namespace qzr::qzrsim
