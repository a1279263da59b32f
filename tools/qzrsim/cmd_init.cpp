// init: a new machine root.
#include <cstdio>
#include <filesystem>
#include <string>

#include "nt/runtime/machine_root.h"
#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/session.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim init [--empty | --from SETTINGS.toml]\n"
    "\n"
    "Creates a machine root: the settings file, an empty registry, the images\n"
    "the settings name and the driver image QZR6140.SYS in\n"
    "SystemRoot/System32/drivers/. The driver is not installed yet: the\n"
    "registry holds no service key until 'qzrsim install'.\n"
    "\n"
    "  --empty        a bus with no devices\n"
    "  --from FILE    a copy of the settings FILE instead of the default machine\n"
    "\n"
    "Exit 1 when DIR already holds something; 3 when the settings are wrong.\n";

int run(Session& session, Args& args) {
  const bool empty = args.flag("--empty");
  const auto from = args.option("--from");
  args.finish();
  if (empty && from) throw UsageError{"--empty and --from exclude each other"};
  const auto dir = session.root();
  if (dir.empty())
    return fail(kExitMachine, "no machine root: give --machine DIR or set QZR_MACHINE");
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_empty(dir, ec)) {
    return fail(kExitFailed, dir.string() + " already exists and is not empty");
  }
  using nt::runtime::MachineRoot;
  const auto source = empty  ? MachineRoot::Source::Empty
                      : from ? MachineRoot::Source::SettingsFile
                             : MachineRoot::Source::Default;
  std::string error;
  if (!MachineRoot::create(dir, source, from.value_or(""), error)) {
    return fail(kExitMachine, error);
  }
  std::printf("machine root %s created; the driver is not installed ('qzrsim install')\n",
              dir.c_str());
  return kExitOk;
}

}  // namespace

const Command kInitCommand = {"init", "create a machine root", kUsage, run};

}  // namespace qzr::qzrsim
