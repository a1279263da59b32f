// The whole stack for the device interface and torvik: the machine booted
// by the runtime with the scanner at ID 2, a removable disk at ID 0
// and a CD-ROM at ID 3 (both without a medium), the miniport loaded and the
// device namespace installed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hw/population.h"
#include "nt/runtime/machine_runtime.h"
#include "torvik.h"

namespace qzr::aspi_stack_test {

inline constexpr std::uint8_t kScannerId = 2;
inline constexpr std::uint8_t kDiskId = 0;
inline constexpr std::uint8_t kCdRomId = 3;
// READ before SCAN: the scanner refuses it with CHECK CONDITION.
inline constexpr std::uint8_t kReadOpcode = 0x28;

inline bool populate_stack(hw::Machine& machine, std::string& error) {
  std::vector<hw::TargetConfig> targets(3);
  targets[0].settings.id = kDiskId;
  hw::DeviceConfig disk;
  disk.kind = hw::DeviceConfig::Kind::RemovableDisk;
  disk.medium_present = false;
  targets[0].units.push_back({0, disk});
  targets[1].settings.id = kCdRomId;
  hw::DeviceConfig cdrom;
  cdrom.kind = hw::DeviceConfig::Kind::CdRom;
  cdrom.medium_present = false;
  targets[1].units.push_back({0, cdrom});
  targets[2].settings.id = kScannerId;
  hw::DeviceConfig scanner;
  scanner.kind = hw::DeviceConfig::Kind::Scanner;
  targets[2].units.push_back({0, scanner});
  return hw::populate(machine, targets, error);
}

class Stack : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    booted_ = nt::runtime::boot_machine(populate_stack, error);
    ASSERT_TRUE(booted_) << error;
  }
  void TearDown() override {
    nt::io::install_namespace(nullptr);
    if (booted_) {
      EXPECT_TRUE(booted_->port_driver.driver_errors().empty())
          << booted_->port_driver.format_logs();
      EXPECT_EQ(booted_->device_namespace.open_handles(), 0u);
    }
  }
  nt::scsiport::PortDevice& port() { return booted_->port_driver.port(0); }

  // Runs torvik's process-attach discovery again on this machine, from the
  // zeroed state a freshly loaded library has.
  static void attach_torvik() {
    NumberOfHostAdapters = 0;
    TheSannerWithHostAdapterNo = 0;
    ScannerSCSIID = 0;
    ASSERT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), 1);
  }

  std::unique_ptr<nt::runtime::BootedMachine> booted_;
};

}  // namespace qzr::aspi_stack_test
