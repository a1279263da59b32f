// The port driver, the miniport module, the board and real targets
// together: the scan finds who is there, and requests carry data and sense.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

#include "hw/population.h"
#include "tests/scsiport/port_rig.h"

namespace qzr::nt::scsiport::test {
namespace {

constexpr UCHAR kProcessorId = 2;
constexpr UCHAR kDiskId = 5;
constexpr std::uint32_t kBlockBytes = 512;
constexpr std::uint32_t kDiskBlocks = 2048;

std::uint8_t pattern_byte(std::uint32_t block, std::uint32_t offset) {
  return static_cast<std::uint8_t>(block * 7 + offset);
}

// A processor at ID 2 and a disk at ID 5 whose every block holds a pattern
// of its own.
class WholeStack : public ::testing::Test {
 protected:
  void SetUp() override {
    image_dir_ = std::filesystem::path(::testing::TempDir()) /
                 ("qzr_scsiport_" + std::to_string(::getpid()) + "_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(image_dir_);
    const std::filesystem::path image = image_dir_ / "disk.img";
    {
      std::ofstream out(image, std::ios::binary | std::ios::trunc);
      std::vector<char> block(kBlockBytes);
      for (std::uint32_t b = 0; b < kDiskBlocks; ++b) {
        for (std::uint32_t i = 0; i < kBlockBytes; ++i) block[i] = char(pattern_byte(b, i));
        out.write(block.data(), block.size());
      }
    }
    std::vector<hw::TargetConfig> targets(2);
    targets[0].settings.id = kProcessorId;
    hw::DeviceConfig processor;
    processor.kind = hw::DeviceConfig::Kind::Processor;
    targets[0].units.push_back({0, processor});
    targets[1].settings.id = kDiskId;
    hw::DeviceConfig disk;
    disk.kind = hw::DeviceConfig::Kind::Disk;
    disk.image_path = image.string();
    targets[1].units.push_back({0, disk});
    std::string error;
    ASSERT_TRUE(hw::populate(rig_.machine, targets, error)) << error;
    ASSERT_EQ(rig_.load_module(), 0u) << rig_.logs();
  }
  void TearDown() override { std::filesystem::remove_all(image_dir_); }

  static ScsiRequest read10(std::uint32_t block, std::span<std::uint8_t> buffer) {
    ScsiRequest request;
    request.target_id = kDiskId;
    request.cdb = {0x28,
                   0,
                   static_cast<std::uint8_t>(block >> 24),
                   static_cast<std::uint8_t>(block >> 16),
                   static_cast<std::uint8_t>(block >> 8),
                   static_cast<std::uint8_t>(block),
                   0,
                   0,
                   static_cast<std::uint8_t>(buffer.size() / kBlockBytes),
                   0};
    request.direction = DataDirection::In;
    request.buffer = buffer;
    return request;
  }

  std::filesystem::path image_dir_;
  PortRig rig_;
};

TEST_F(WholeStack, TheScanRecordsWhoAnsweredAndGivesTheDiskItsClassDevice) {
  std::vector<std::tuple<int, int, bool, int>> records;
  for (const InquiryRecord& r : rig_.port().inquiry_data()) {
    records.emplace_back(r.target_id, r.lun, r.claimed, r.data[0] & 0x1F);
  }
  const std::vector<std::tuple<int, int, bool, int>> expected = {
      {kProcessorId, 0, false, 0x03},
      {kDiskId, 0, true, 0x00},
  };
  EXPECT_EQ(records, expected);
  ASSERT_EQ(rig_.port_driver.class_devices().size(), 1u);
  const ClassDevice& disk = rig_.port_driver.class_devices()[0];
  EXPECT_EQ(disk.name, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(disk.target_id, kDiskId);
  rig_.expect_clean();
}

TEST_F(WholeStack, AReadBringsTheBlocksAndAReadPastTheEndItsSense) {
  // Three blocks: whole 128-byte host-buffer blocks, several times over.
  std::vector<std::uint8_t> data(3 * kBlockBytes);
  const RequestOutcome read = rig_.port_driver.execute(read10(100, data));
  EXPECT_EQ(read.srb_status, SRB_STATUS_SUCCESS);
  std::vector<std::uint8_t> expected(data.size());
  for (std::uint32_t i = 0; i < expected.size(); ++i) {
    expected[i] = pattern_byte(100 + i / kBlockBytes, i % kBlockBytes);
  }
  EXPECT_EQ(data, expected);

  std::vector<std::uint8_t> past_end(kBlockBytes);
  const RequestOutcome refused = rig_.port_driver.execute(read10(kDiskBlocks, past_end));
  EXPECT_EQ(refused.srb_status, SRB_STATUS_ERROR | SRB_STATUS_AUTOSENSE_VALID);
  EXPECT_EQ(refused.scsi_status, 0x02);
  ASSERT_GE(refused.sense.size(), 13u);
  EXPECT_EQ(refused.sense[2] & 0x0F, 0x05);  // ILLEGAL REQUEST
  EXPECT_EQ(refused.sense[12], 0x21);        // logical block address out of range
  rig_.expect_clean();
}

}  // namespace
}  // namespace qzr::nt::scsiport::test
