#include "nt/runtime/machine_runtime.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hw/population.h"

namespace qzr::nt::runtime {
namespace {

constexpr const char* kRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qzr6140";

std::vector<NT_DLL_ENTRY>& attached() {
  static std::vector<NT_DLL_ENTRY> libraries;
  return libraries;
}

void detach_all() {
  auto& libraries = attached();
  while (!libraries.empty()) {
    NT_DLL_ENTRY entry = libraries.back();
    libraries.pop_back();
    entry(nullptr, DLL_PROCESS_DETACH, nullptr);
  }
}

}  // namespace

std::unique_ptr<BootedMachine> boot_machine(const Population& populate, std::string& error) {
  auto booted = std::make_unique<BootedMachine>();
  if (!populate(booted->machine, error)) return nullptr;
  auto status = booted->port_driver.load_miniport(QZR_MINIPORT_MODULE, kRegistryPath, error);
  if (!status) return nullptr;
  if (*status != 0) {
    error = "the miniport started no adapter:\n" + booted->port_driver.format_logs();
    return nullptr;
  }
  io::install_namespace(&booted->device_namespace);
  return booted;
}

bool builtin_population(hw::Machine& machine, std::string& error) {
  std::vector<hw::TargetConfig> targets(3);
  targets[0].settings.id = 0;
  hw::DeviceConfig disk;
  disk.kind = hw::DeviceConfig::Kind::RemovableDisk;
  disk.medium_present = false;
  targets[0].units.push_back({0, disk});
  targets[1].settings.id = 3;
  hw::DeviceConfig cdrom;
  cdrom.kind = hw::DeviceConfig::Kind::CdRom;
  cdrom.medium_present = false;
  targets[1].units.push_back({0, cdrom});
  targets[2].settings.id = 2;
  hw::DeviceConfig scanner;
  scanner.kind = hw::DeviceConfig::Kind::Scanner;
  targets[2].units.push_back({0, scanner});
  return hw::populate(machine, targets, error);
}

BootedMachine* process_machine() {
  static std::unique_ptr<BootedMachine> booted = [] {
    std::string error;
    auto machine = boot_machine(builtin_population, error);
    if (!machine) std::fprintf(stderr, "machine did not boot: %s\n", error.c_str());
    return machine;
  }();
  return booted.get();
}

}  // namespace qzr::nt::runtime

extern "C" void nt_runtime_attach_library(NT_DLL_ENTRY entry) {
  // Booted before the exit handler is registered, so the machine outlives
  // every library's detach.
  qzr::nt::runtime::process_machine();
  if (qzr::nt::runtime::attached().empty()) std::atexit(qzr::nt::runtime::detach_all);
  qzr::nt::runtime::attached().push_back(entry);
  entry(nullptr, DLL_PROCESS_ATTACH, nullptr);
}
