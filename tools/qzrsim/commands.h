// The commands, one file each.
#pragma once

#include "tools/qzrsim/cli.h"

namespace qzr::qzrsim {

extern const Command kInitCommand;
extern const Command kInstallCommand;
extern const Command kScanCommand;
extern const Command kAspiCommand;
extern const Command kExecCommand;
extern const Command kScanImageCommand;
extern const Command kTraceCommand;
extern const Command kLogCommand;
extern const Command kRunCommand;

}  // namespace qzr::qzrsim
