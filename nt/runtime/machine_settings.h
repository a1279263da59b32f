// A machine's settings file: what sits on its bus, its seed and timings, the
// user's privileges and what the windowing stand-in presents. TOML, read
// into a MachineSettings record; every mistake in it comes back as one line
//   FILE:LINE:COLUMN: KEY: what is wrong
// so a user finds the place at once. Unknown keys are mistakes too: a typo
// must not fall back silently to a default.
//
// The file, in outline (default_settings_text() writes a commented one):
//   [machine]   seed, port_access_ns, interrupt_line, scan_luns_above_zero
//   [bus_timings]  any of hw::BusTimings' fields, in ns
//   [user]      shutdown_privilege
//   [windows]   version ("NT 4.0", "Windows 95", "Win32s"), screen_width, screen_height
//   [[target]]  one per SCSI ID: id, disconnect, disconnect_blocks, the
//               device at LUN 0 (kind, vendor, product, revision, ...),
//               [target.timings], [target.unit_timings], [[target.fault]],
//               [[target.lun]] for LUNs 1-7 (the same device keys and lun)
// Image paths are relative to the machine root unless absolute.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "hw/machine.h"
#include "hw/population.h"
#include "nt/scsiport/port_driver.h"

namespace qzr::nt::runtime {

// What GetVersionExA reports.
enum class WindowsVersion : std::uint8_t { Nt4, Windows95, Win32s };

const char* windows_version_name(WindowsVersion version);

struct MachineSettings {
  hw::MachineSettings hardware;  // seed, port access cost, interrupt line, bus timings
  scsiport::PortSettings port;   // scan_luns_above_zero is the file's; the rest stay default
  bool holds_shutdown_privilege = true;
  WindowsVersion windows_version = WindowsVersion::Nt4;
  int screen_width = 800;
  int screen_height = 600;
  std::vector<hw::TargetConfig> targets;
};

// Reads settings from `text`; `file_name` names it in errors and relative
// image paths are resolved against `base_dir`.
bool parse_settings(std::string_view text, const std::string& file_name,
                    const std::filesystem::path& base_dir, MachineSettings& settings,
                    std::string& error);
// The same from a file (its folder is not the base: a root passes its own).
bool load_settings(const std::filesystem::path& file, const std::filesystem::path& base_dir,
                   MachineSettings& settings, std::string& error);

// The documented default machine: parses back to hw::default_population(
// base_dir / "images") with interrupt line 11 and seed 1.
std::string default_settings_text();
// The same machine settings with an empty bus.
std::string empty_settings_text();

}  // namespace qzr::nt::runtime
