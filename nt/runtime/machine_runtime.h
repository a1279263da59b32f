// The machine a program runs on, and how libraries built for it are
// attached. A program linked against the runtime gets one machine, booted
// the first time a library attaches (or a program asks for it): the
// built-in devices on the bus, the miniport loaded by the port driver and
// the device namespace installed for the kernel32 calls.
//
// Attaching: a library's attach hook (dll_attach.cpp, compiled into the
// library) runs from the library's static initialiser, after the
// runtime's own initialisers and before the program's main. It calls
// nt_runtime_attach_library with the library's DllMain, which boots the
// machine if need be and calls DllMain(DLL_PROCESS_ATTACH); at exit each
// attached library gets DLL_PROCESS_DETACH, the latest first, before the
// machine goes away.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hw/machine.h"
#include "kernel32_io.h"
#include "nt/io/device_namespace.h"
#include "nt/scsiport/port_driver.h"

namespace qzr::nt::runtime {

struct BootedMachine {
  hw::Machine machine;
  scsiport::PortDriver port_driver{machine};
  io::DeviceNamespace device_namespace{port_driver};
};

using Population = std::function<bool(hw::Machine&, std::string& error)>;

// Puts the devices on the bus, loads the miniport module and installs the
// machine's namespace. Null with `error` set when any step fails.
std::unique_ptr<BootedMachine> boot_machine(const Population& populate, std::string& error);

// The built-in devices: a removable disk at ID 0 and a CD-ROM at ID 3, both
// without a medium, and the scanner with its test chart at ID 2.
bool builtin_population(hw::Machine& machine, std::string& error);

// The process's machine, booted on first use with the built-in devices;
// null when it could not boot (the reason goes to standard error).
BootedMachine* process_machine();

}  // namespace qzr::nt::runtime

extern "C" {
typedef BOOL (*NT_DLL_ENTRY)(HANDLE hModule, DWORD dwFunction, LPVOID lpNot);
void nt_runtime_attach_library(NT_DLL_ENTRY entry);
}
