// install: what the installer does once its window is up: the service
// entries, then the restart. The restart takes effect at the end of the
// command, where the tool saves the registry and ends, as NT goes down.
#include <cstdio>
#include <string>

#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"

// Last: the installer's header brings windows.h and its macros.
#include "setup.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim install\n"
    "\n"
    "Boots the machine and does what the installer does once its window is up:\n"
    "RegisterDriverService writes the service key\n"
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\QZR6140, then\n"
    "RestartWindowsNT asks for a restart. The registry is saved and the machine\n"
    "marked for a fresh boot: the next command boots it with the driver.\n"
    "The installer's message boxes show on standard error as \"[Caption] text\".\n"
    "\n"
    "Exit 1 when the entries cannot be written or the restart is refused (the\n"
    "entries then stay written and take effect at the next boot).\n";

int run(Session& session, Args& args) {
  args.finish();
  std::string error;
  auto* booted = session.machine(error);
  if (!booted) return fail(kExitMachine, error);

  if (!RegisterDriverService()) {
    return fail(kExitFailed,
                "RegisterDriverService failed: the service entries were not all written");
  }
  // Registry writes last on NT whatever happens next: saved now, so a refused
  // restart leaves them for the next boot.
  if (!nt::runtime::save_registry(*booted, error)) return fail(kExitFailed, error);
  std::printf("RegisterDriverService: service key %s%s written\n", SERVICES_KEY, SERVICE_NAME);

  if (!RestartWindowsNT()) {
    return fail(
        kExitFailed,
        "RestartWindowsNT failed: no restart; the service entries take effect at the next boot");
  }
  std::printf("RestartWindowsNT: restart accepted\n");
  return kExitOk;
}

}  // namespace

const Command kInstallCommand = {"install", "register the driver service and restart Windows NT",
                                 kUsage, run};

}  // namespace qzr::qzrsim
