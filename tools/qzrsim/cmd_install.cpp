// install: what the installer does once its window is up.
#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage = "usage: qzrsim install\n";

int run(Session&, Args& args) {
  args.finish();
  return fail(kExitFailed, "install is not available yet");
}

}  // namespace

const Command kInstallCommand = {"install", "register the driver service and restart", kUsage, run};

}  // namespace qzr::qzrsim
