// A machine root: the directory a machine lives in.
//   machine.toml                          the settings (machine_settings.h)
//   registry.reg                          the registry hive, REGEDIT4 text
//   images/                               disk and medium images
//   SystemRoot/System32/drivers/          driver images (QZR6140.SYS)
//   machine.lock                          held by the process using the root
// One process at a time uses a root: open() takes an exclusive lock on
// machine.lock for the object's life, and writes its process id there so a
// second user is told who holds it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "nt/runtime/machine_settings.h"

namespace qzr::nt::runtime {

class MachineRoot {
 public:
  enum class Source {
    Default,       // the documented default population
    Empty,         // no devices on the bus
    SettingsFile,  // a copy of a given settings file
  };

  static constexpr const char* kSettingsFile = "machine.toml";
  static constexpr const char* kHiveFile = "registry.reg";
  static constexpr const char* kLockFile = "machine.lock";
  static constexpr const char* kImagesDir = "images";
  static constexpr const char* kSystemRootDir = "SystemRoot";
  static constexpr const char* kMiniportImage = "QZR6140.SYS";

  // Makes a new root in `dir` (created when missing; an existing folder must
  // be empty): the folders, the settings, an empty registry hive (no service
  // key: the driver is not installed yet), the images the settings name and
  // the miniport image in SystemRoot/System32/drivers/. On failure nothing
  // new is left behind.
  static bool create(const std::filesystem::path& dir, Source source,
                     const std::filesystem::path& settings_file, std::string& error);

  // Locks the root and reads its settings; null with `error` set when it is
  // not a root, is in use, or its settings are wrong.
  static std::unique_ptr<MachineRoot> open(const std::filesystem::path& dir, std::string& error);

  ~MachineRoot();
  MachineRoot(const MachineRoot&) = delete;
  MachineRoot& operator=(const MachineRoot&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path settings_path() const { return dir_ / kSettingsFile; }
  std::filesystem::path hive_path() const { return dir_ / kHiveFile; }
  std::filesystem::path system_root() const { return dir_ / kSystemRootDir; }
  std::filesystem::path drivers_dir() const { return system_root() / "System32" / "drivers"; }
  const MachineSettings& settings() const { return settings_; }

 private:
  MachineRoot(std::filesystem::path dir, int lock_fd) : dir_(std::move(dir)), lock_fd_(lock_fd) {}

  std::filesystem::path dir_;
  int lock_fd_;
  MachineSettings settings_;
};

// The user's own root: $QZR_MACHINE, else $XDG_DATA_HOME/qzr/machine, else
// ~/.local/share/qzr/machine. Empty when none of them can be formed.
std::filesystem::path default_machine_root();

// Writes the hive file a fresh machine has: the REGEDIT4 header alone.
bool write_empty_hive(const std::filesystem::path& path, std::string& error);

}  // namespace qzr::nt::runtime
