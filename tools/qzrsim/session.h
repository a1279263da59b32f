// One run of the tool on a machine root: the root chosen on the command
// line (or the per-user default), and its machine, booted the first time a
// command needs it. The machine is the process's machine, so that libraries
// loaded afterwards (torvik) see the same devices.
#pragma once

#include <filesystem>
#include <string>

#include "nt/runtime/machine_runtime.h"

namespace qzr::qzrsim {

class Session {
 public:
  // Empty: the per-user default root.
  void choose_root(std::filesystem::path root) { root_ = std::move(root); }
  std::filesystem::path root() const;

  // Opens the root and boots its machine, once. Null with `error` set when
  // the machine cannot be used (exit kExitMachine).
  nt::runtime::BootedMachine* machine(std::string& error);
  bool booted() const { return booted_ != nullptr; }

  // The first port device, \\.\scsi0:; null with `error` set when no
  // miniport started one.
  nt::scsiport::PortDevice* port(std::string& error);

  // The safe point at the end of a command: a shutdown the command asked
  // for takes effect here. Returns the exit code to use.
  int finish(int code);

  // Set by trace: the bus changes of the boot itself are dropped, so the
  // waveform holds what the command did.
  bool trace_command_only = false;

 private:
  std::filesystem::path root_;
  nt::runtime::BootedMachine* booted_ = nullptr;
};

// "qzrsim: message" on standard error; returns `code`.
int fail(int code, const std::string& message);

}  // namespace qzr::qzrsim
