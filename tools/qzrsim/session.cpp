#include "tools/qzrsim/session.h"

#include <cstdio>
#include <cstdlib>

#include "hw/population.h"
#include "tools/qzrsim/cli.h"

namespace qzr::qzrsim {

std::filesystem::path Session::root() const {
  if (!root_.empty()) return root_;
  if (const char* env = std::getenv("QZR_MACHINE"); env && *env) return env;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
    return std::filesystem::path(data) / "qzr" / "machine";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : ".") / ".local" / "share" / "qzr" / "machine";
}

nt::runtime::BootedMachine* Session::machine(std::string& error) {
  if (booted_) return booted_;
  const auto dir = root();
  std::error_code ec;
  if (!std::filesystem::is_directory(dir / "images", ec)) {
    error = "no machine root at " + dir.string() + " (create one with 'qzrsim init')";
    return nullptr;
  }
  static std::unique_ptr<nt::runtime::BootedMachine> interim;
  const auto images = dir / "images";
  interim = nt::runtime::boot_machine(
      [&](hw::Machine& machine, std::string& why) {
        return hw::populate(machine, hw::default_population(images), why);
      },
      error);
  booted_ = interim.get();
  if (booted_ && trace_command_only) booted_->machine.bus().trace().clear();
  return booted_;
}

nt::scsiport::PortDevice* Session::port(std::string& error) {
  auto* booted = machine(error);
  if (!booted) return nullptr;
  if (booted->port_driver.port_count() == 0) {
    error = "no SCSI port device: no miniport is loaded (install the driver with 'qzrsim install')";
    return nullptr;
  }
  return &booted->port_driver.port(0);
}

int Session::finish(int code) {
  return code;
}

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "qzrsim: %s\n", message.c_str());
  return code;
}

}  // namespace qzr::qzrsim
