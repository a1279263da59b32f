// A simulated machine with its port driver, and the requests the tests send.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hw/machine.h"
#include "nt/scsiport/port_driver.h"

namespace qzr::nt::scsiport::test {

inline constexpr const char* kRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qzr6140";

struct PortRig {
  hw::Machine machine;
  PortDriver port_driver;

  explicit PortRig(const hw::MachineSettings& settings = {}, const PortSettings& port = {})
      : machine(settings), port_driver(machine, port) {}

  // Loads the real miniport module; the scan runs inside.
  ULONG load_module() {
    std::string error;
    auto status = port_driver.load_miniport(QZR_MINIPORT_MODULE, kRegistryPath, error);
    EXPECT_TRUE(status.has_value()) << error;
    return status.value_or(0xFFFFFFFF);
  }

  PortDevice& port() { return port_driver.port(0); }
  hw::TimeNs now_ns() { return machine.clock().now_ns(); }

  // Driver errors, guest errors and every log, for failure messages.
  std::string logs() { return port_driver.format_logs() + machine.guest_errors().format(); }

  void expect_clean() {
    EXPECT_TRUE(port_driver.driver_errors().empty()) << logs();
    EXPECT_TRUE(machine.guest_errors().empty()) << logs();
  }
};

inline ScsiRequest inquiry(UCHAR target, std::span<std::uint8_t> buffer, UCHAR lun = 0) {
  ScsiRequest request;
  request.target_id = target;
  request.lun = lun;
  request.cdb = {0x12, static_cast<std::uint8_t>(lun << 5),      0,
                 0,    static_cast<std::uint8_t>(buffer.size()), 0};
  request.direction = DataDirection::In;
  request.buffer = buffer;
  return request;
}

}  // namespace qzr::nt::scsiport::test
