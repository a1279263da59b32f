// The machine a program runs on, and how libraries built for it are
// attached. A program linked against the runtime gets one machine, booted
// the first time a library attaches (or a program asks for it): from the
// machine root the program chose (use_machine_root) or $QZR_MACHINE names,
// else the built-in devices with the miniport loaded directly.
//
// Booting a root is what NT does at start: the machine is built from the
// root's settings, the registry hive is loaded, and the drivers of group
// "SCSI Miniport" registered under HKLM\SYSTEM\CurrentControlSet\Services
// (Type 1, Start 0 or 1) are loaded in start then tag order, each image
// from its ImagePath under the root's SystemRoot, DriverEntry getting the
// service's registry path. What happened to each service goes to the boot
// log; a driver that is not registered or whose image is missing is not
// loaded, which is not a boot failure: the machine just has no port device.
//
// Attaching: a library's attach hook (dll_attach.cpp, compiled into the
// library) runs from the library's static initialiser, after the
// runtime's own initialisers and before the program's main. It calls
// nt_runtime_attach_library with the library's DllMain, which boots the
// machine if need be and calls DllMain(DLL_PROCESS_ATTACH); at exit each
// attached library gets DLL_PROCESS_DETACH, the latest first, before the
// machine goes away.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hw/machine.h"
#include "kernel32_io.h"
#include "nt/io/device_namespace.h"
#include "nt/registry/advapi32.h"
#include "nt/registry/hive.h"
#include "nt/runtime/machine_root.h"
#include "nt/scsiport/port_driver.h"

namespace qzr::nt::runtime {

struct BootLogLine {
  hw::TimeNs time_ns = 0;
  std::string text;
};

struct BootedMachine {
  explicit BootedMachine(const hw::MachineSettings& hardware = {},
                         const scsiport::PortSettings& port = {})
      : machine(hardware), port_driver(machine, port) {}
  ~BootedMachine();
  BootedMachine(const BootedMachine&) = delete;
  BootedMachine& operator=(const BootedMachine&) = delete;

  // The root it was booted from (locked while the machine lives); null for
  // a machine built in the program. Declared first: released last.
  std::unique_ptr<MachineRoot> root;
  MachineSettings settings;
  hw::Machine machine;
  scsiport::PortDriver port_driver;
  io::DeviceNamespace device_namespace{port_driver};
  // In memory only for a built-in machine; a root's is saved at shutdown
  // and when the machine goes away, as NT keeps registry writes.
  registry::Hive hive;
  // The Reg*, token and shutdown calls of this process, over `hive`.
  std::unique_ptr<registry::Advapi32> advapi32;
  // The hive file's text as last read or written: an unchanged hive is
  // not written again.
  std::string hive_text_on_disk;
  // Set once a pending shutdown has been carried out.
  bool gone_down = false;
  std::vector<BootLogLine> boot_log;

  void log(std::string text) { boot_log.push_back({machine.clock().now_ns(), std::move(text)}); }
};

using Population = std::function<bool(hw::Machine&, std::string& error)>;

// Puts the devices on the bus, loads the miniport module and installs the
// machine's namespace and an in-memory registry. Null with `error` set when any step fails.
std::unique_ptr<BootedMachine> boot_machine(const Population& populate, std::string& error);

// Boots an opened root as described above and installs its device namespace
// and registry for this process. Null with `error` set when the machine
// cannot be built (its devices or its hive file are wrong); drivers that do
// not load are only logged.
std::unique_ptr<BootedMachine> boot_root(std::unique_ptr<MachineRoot> root, std::string& error);

// An NT path of a driver image, resolved under `system_root` component by
// component, case-insensitively as NT matches names: "\SystemRoot\X",
// "%SystemRoot%\X" and a relative "X" all mean system_root/X. Empty with
// `why` set when the path leaves the SystemRoot or names nothing.
std::filesystem::path resolve_image_path(const std::filesystem::path& system_root,
                                         const std::string& image_path, std::string& why);

// The boot log, the port driver's logs (driver errors, error log, debug
// lines) and the machine's guest errors in one text, in time order.
std::string format_machine_log(BootedMachine& booted);

// Called by tools and message loops at safe points (after a call returns,
// between messages). With a shutdown pending (InitiateSystemShutdownA) it
// saves the hive of a root's machine, puts what happens in `report` and
// returns true: the program should end now. A root needs no other mark for
// its fresh boot: every program boots its root afresh from the saved
// registry. False when nothing is pending. `error` is set (and true still
// returned) when the hive could not be saved.
bool shutdown_if_pending(BootedMachine& booted, std::string& report, std::string& error);

// Writes a root's hive file (atomically); a built-in machine has none.
bool save_registry(BootedMachine& booted, std::string& error);

// The built-in devices: a removable disk at ID 0 and a CD-ROM at ID 3, both
// without a medium, and the scanner with its test chart at ID 2.
bool builtin_population(hw::Machine& machine, std::string& error);

// Chooses the root the process machine boots from; to be called before any
// library attaches (and so before process_machine). Opens (locks) the root
// now, so a wrong or busy root is reported here. False with `error` set when
// the root cannot be opened or the process machine already runs.
bool use_machine_root(const std::filesystem::path& dir, std::string& error);

// The process's machine, booted on first use: from the root given to
// use_machine_root, else from $QZR_MACHINE when set, else with the built-in
// devices. Null when it could not boot (the reason goes to standard error,
// once).
BootedMachine* process_machine();
// The same for a tool that reports the reason itself: null with `error`
// set when the machine did not boot; nothing is printed.
BootedMachine* boot_process_machine(std::string& error);

}  // namespace qzr::nt::runtime

extern "C" {
typedef BOOL (*NT_DLL_ENTRY)(HANDLE hModule, DWORD dwFunction, LPVOID lpNot);
void nt_runtime_attach_library(NT_DLL_ENTRY entry);

// Hooks the windowing stand-in reaches by weak reference, so that programs
// without the runtime run on its defaults.
// The screen size and the platform GetVersionExA reports (VER_PLATFORM_*)
// of the process machine's root; 0, leaving the arguments alone, when the
// process runs on no root.
int nt_runtime_screen(int* width, int* height, int* platform);
// A message loop's safe point: 1 when the process machine has gone down
// (shutdown_if_pending, its report on standard error) and the program
// should quit; 0 otherwise. Never boots a machine.
int nt_runtime_safe_point(void);
}
