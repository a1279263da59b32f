#include "tools/qzrsim/session.h"

#include <cstdio>
#include <cstdlib>

#include "tools/qzrsim/cli.h"

namespace qzr::qzrsim {

std::filesystem::path Session::root() const {
  return root_.empty() ? nt::runtime::default_machine_root() : root_;
}

nt::runtime::BootedMachine* Session::machine(std::string& error) {
  if (booted_) return booted_;
  const auto dir = root();
  std::error_code ec;
  if (dir.empty()) {
    error = "no machine root: give --machine DIR or set QZR_MACHINE";
    return nullptr;
  }
  if (!std::filesystem::exists(dir / nt::runtime::MachineRoot::kSettingsFile, ec)) {
    error = "no machine root at " + dir.string() + " (create one with 'qzrsim init')";
    return nullptr;
  }
  // The process machine, so that torvik, loaded later, attaches to it.
  if (!nt::runtime::use_machine_root(dir, error)) return nullptr;
  booted_ = nt::runtime::process_machine();
  if (!booted_) {
    error = "the machine at " + dir.string() + " did not boot";
    return nullptr;
  }
  if (trace_command_only) booted_->machine.bus().trace().clear();
  return booted_;
}

nt::scsiport::PortDevice* Session::port(std::string& error) {
  auto* booted = machine(error);
  if (!booted) return nullptr;
  if (booted->port_driver.port_count() == 0) {
    error =
        "no SCSI port device: no miniport started a board ('qzrsim log' says why; 'qzrsim "
        "install' installs the driver)";
    return nullptr;
  }
  return &booted->port_driver.port(0);
}

int Session::finish(int code) {
  if (!booted_) return code;
  std::string report, error;
  if (!nt::runtime::shutdown_if_pending(*booted_, report, error)) return code;
  if (!error.empty()) return fail(kExitFailed, "the registry was not saved: " + error);
  std::printf("%s\n", report.c_str());
  return code;
}

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "qzrsim: %s\n", message.c_str());
  return code;
}

}  // namespace qzr::qzrsim
