// The whole stack on one simulated machine: the port driver with the real
// miniport module, the board, the bus and the targets a test puts on it, each
// disk backed by an image file of known content.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "hw/machine.h"
#include "hw/population.h"
#include "nt/scsiport/port_driver.h"

// Last: its register names are macros that would clash with the model's.
// Include this header after every hw/ header.
#include "driver/qzr6140.h"

namespace qzr::nt::scsiport::stack_test {

inline constexpr const char* kRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qzr6140";

// A directory of its own for the running test's images, removed afterwards.
class ImageDir {
 public:
  ImageDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps parallel runs (two build presets, say) apart.
    std::string name = std::string("qzr_stack_") + std::to_string(::getpid()) + "_" +
                       info->test_suite_name() + "_" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ImageDir() { std::filesystem::remove_all(path_); }
  ImageDir(const ImageDir&) = delete;
  ImageDir& operator=(const ImageDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Every byte of a disk image different from its neighbours' and from the
// same offset in other blocks.
inline std::vector<std::uint8_t> patterned_bytes(std::size_t size, std::uint32_t seed = 0) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return bytes;
}

inline hw::TargetConfig disk_target(std::uint8_t id, const std::filesystem::path& image,
                                    std::uint32_t block_bytes = 512) {
  hw::TargetConfig target;
  target.settings.id = id;
  hw::DeviceConfig disk;
  disk.kind = hw::DeviceConfig::Kind::Disk;
  disk.image_path = image.string();
  disk.block_bytes = block_bytes;
  target.units.push_back({0, disk});
  return target;
}

struct StackRig {
  hw::Machine machine;
  PortDriver port_driver;

  explicit StackRig(const PortSettings& port = {}, const hw::MachineSettings& settings = {})
      : machine(settings), port_driver(machine, port) {}

  // Populates the bus, then loads the miniport (the scan runs inside).
  void start(std::span<const hw::TargetConfig> targets) {
    std::string error;
    ASSERT_TRUE(hw::populate(machine, targets, error)) << error;
    auto status = port_driver.load_miniport(QZR_MINIPORT_MODULE, kRegistryPath, error);
    ASSERT_TRUE(status.has_value()) << error;
    ASSERT_EQ(*status, 0u) << logs();
  }

  PortDevice& port() { return port_driver.port(0); }
  const ADAPTER_EXTENSION& adapter() {
    return *static_cast<const ADAPTER_EXTENSION*>(port().device_extension());
  }
  hw::TimeNs now_ns() { return machine.clock().now_ns(); }

  std::string logs() { return port_driver.format_logs() + machine.guest_errors().format(); }

  void expect_clean() {
    EXPECT_TRUE(port_driver.error_log().empty()) << logs();
    EXPECT_TRUE(port_driver.driver_errors().empty()) << logs();
    EXPECT_TRUE(machine.guest_errors().empty()) << logs();
  }

  bool bus_free() {
    return !machine.bus().state().any(hw::sig::BSY | hw::sig::SEL | hw::sig::RST | hw::sig::REQ |
                                      hw::sig::ACK | hw::sig::ATN);
  }
};

inline ScsiRequest rw10(std::uint8_t opcode, UCHAR target, std::uint32_t block,
                        std::uint16_t blocks, std::span<std::uint8_t> buffer) {
  ScsiRequest request;
  request.target_id = target;
  request.cdb = {opcode,
                 0,
                 static_cast<std::uint8_t>(block >> 24),
                 static_cast<std::uint8_t>(block >> 16),
                 static_cast<std::uint8_t>(block >> 8),
                 static_cast<std::uint8_t>(block),
                 0,
                 static_cast<std::uint8_t>(blocks >> 8),
                 static_cast<std::uint8_t>(blocks),
                 0};
  request.direction = opcode == 0x2A ? DataDirection::Out : DataDirection::In;
  request.buffer = buffer;
  return request;
}

inline ScsiRequest read10(UCHAR target, std::uint32_t block, std::uint16_t blocks,
                          std::span<std::uint8_t> buffer) {
  return rw10(0x28, target, block, blocks, buffer);
}
inline ScsiRequest write10(UCHAR target, std::uint32_t block, std::uint16_t blocks,
                           std::span<std::uint8_t> buffer) {
  return rw10(0x2A, target, block, blocks, buffer);
}

inline ScsiRequest inquiry(UCHAR target, std::span<std::uint8_t> buffer) {
  ScsiRequest request;
  request.target_id = target;
  request.cdb = {0x12, 0, 0, 0, static_cast<std::uint8_t>(buffer.size()), 0};
  request.direction = DataDirection::In;
  request.buffer = buffer;
  return request;
}

}  // namespace qzr::nt::scsiport::stack_test
