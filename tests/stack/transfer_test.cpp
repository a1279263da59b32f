// The scan and data transfers through the port driver, the real miniport,
// the board and disks, checked against the disk images byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>

#include "hw/targets/scsi_target.h"
#include "tests/stack/byte_store.h"
#include "tests/stack/stack_rig.h"

namespace qzr::nt::scsiport::stack_test {
namespace {

std::string padded(const std::string& text, std::size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

struct ProfiledTarget {
  std::uint8_t id;
  hw::DeviceConfig::Kind kind;
  hw::Identity identity;
  std::uint8_t type;
  std::uint8_t block_write_delay;
};

hw::Identity identity(const char* vendor, const char* product, const char* revision) {
  hw::Identity id;
  id.vendor = vendor;
  id.product = product;
  id.revision = revision;
  return id;
}

TEST(StackScan, TheAdapterRecordsEachTargetsTextTypeAndWriteDelay) {
  const std::vector<ProfiledTarget> table = {
      {0, hw::DeviceConfig::Kind::Disk, identity("QZRSIM", "VIRTUAL", "1.0"), 0x00, 30},
      // The revision's last character is not compared.
      {1, hw::DeviceConfig::Kind::Disk, identity("FUJITSU", "M1606S", "623Z"), 0x00, 32},
      // Case matters: this is no table row.
      {2, hw::DeviceConfig::Kind::RemovableDisk, identity("IOMEGA", "JAZ1GB", "J.83"), 0x00, 30},
      {3, hw::DeviceConfig::Kind::OpticalMemory, identity("FUJITSU", "M2513A", "1500"), 0x07, 18},
      {4, hw::DeviceConfig::Kind::CdRom, identity("QZRSIM", "CDROM", "1.0"), 0x05, 90},
      {5, hw::DeviceConfig::Kind::Tape, identity("QZRSIM", "TAPE", "1.0"), 0x01, 20},
      {6, hw::DeviceConfig::Kind::Processor, identity("QZRSIM", "PROCESSOR", "1.0"), 0x03, 0},
  };
  ImageDir dir;
  std::vector<hw::TargetConfig> targets;
  for (const ProfiledTarget& row : table) {
    hw::TargetConfig target;
    target.settings.id = row.id;
    hw::DeviceConfig device;
    device.kind = row.kind;
    device.identity = row.identity;
    const auto image = dir.path() / ("unit" + std::to_string(row.id) + ".img");
    if (row.kind == hw::DeviceConfig::Kind::CdRom) {
      std::string error;
      ASSERT_TRUE(hw::master_cdrom_image(image, 64, "SCAN", error)) << error;
      device.image_path = image.string();
    } else if (row.kind != hw::DeviceConfig::Kind::Processor) {
      device.image_path = image.string();
      device.create_if_missing = true;
      device.capacity_blocks = 64;
    }
    target.units.push_back({0, device});
    targets.push_back(target);
  }
  StackRig rig;
  rig.start(targets);

  const ADAPTER_EXTENSION& adapter = rig.adapter();
  for (const ProfiledTarget& row : table) {
    SCOPED_TRACE("target " + std::to_string(row.id));
    const std::string text = padded(row.identity.vendor, 8) + padded(row.identity.product, 16) +
                             padded(row.identity.revision, 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(adapter.InquiryText[row.id]),
                          QZR_INQUIRY_TEXT_BYTES),
              text);
    EXPECT_EQ(adapter.TargetDeviceType[row.id], row.type);
    EXPECT_EQ(adapter.BlockWriteDelay[row.id], row.block_write_delay);
  }
  EXPECT_EQ(rig.port().inquiry_data().size(), table.size());
  rig.expect_clean();
}

// ---- Reads and writes of every size, with and without disconnection -------

struct TransferCase {
  const char* name;
  std::uint32_t block_bytes;
  std::uint32_t blocks;
  hw::DisconnectPolicy policy;
};

constexpr hw::DisconnectPolicy kNever{hw::DisconnectPolicy::Kind::Never, 0};
constexpr hw::DisconnectPolicy kAfterCommand{hw::DisconnectPolicy::Kind::AfterCommand, 0};
constexpr hw::DisconnectPolicy after_blocks(std::uint32_t blocks) {
  return {hw::DisconnectPolicy::Kind::AfterBlocks, blocks};
}

class StackTransfer : public ::testing::TestWithParam<TransferCase> {};

constexpr std::uint32_t kDiskBytes = 256 * 1024;
constexpr std::uint8_t kDiskId = 0;

TEST_P(StackTransfer, ReadAndWriteMatchTheImageByteForByte) {
  const TransferCase& c = GetParam();
  ImageDir dir;
  const auto image = dir.path() / "disk.img";
  const std::vector<std::uint8_t> original = patterned_bytes(kDiskBytes, 1);
  write_file(image, original);
  hw::TargetConfig disk = disk_target(kDiskId, image, c.block_bytes);
  disk.settings.disconnect = c.policy;
  StackRig rig;
  rig.start(std::span(&disk, 1));
  const std::uint32_t bytes = c.blocks * c.block_bytes;
  ASSERT_LE(bytes, rig.port().maximum_transfer_bytes());
  // Start off block 0 and off any 128-byte boundary of the image.
  const std::uint32_t first_block = 3;
  const std::size_t offset = std::size_t{first_block} * c.block_bytes;

  std::vector<std::uint8_t> data(bytes);
  const RequestOutcome read =
      rig.port_driver.execute(read10(kDiskId, first_block, std::uint16_t(c.blocks), data));
  ASSERT_EQ(read.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_EQ(read.bytes, bytes);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), original.begin() + offset));

  std::vector<std::uint8_t> fresh = patterned_bytes(bytes, 2);
  const RequestOutcome write =
      rig.port_driver.execute(write10(kDiskId, first_block, std::uint16_t(c.blocks), fresh));
  ASSERT_EQ(write.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_EQ(write.bytes, bytes);
  std::vector<std::uint8_t> expected = original;
  std::copy(fresh.begin(), fresh.end(), expected.begin() + offset);
  EXPECT_EQ(read_file(image), expected);
  rig.expect_clean();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, StackTransfer,
    ::testing::Values(TransferCase{"OneDiskBlock", 512, 1, kNever},
                      TransferCase{"ThreeDiskBlocks", 512, 3, kNever},
                      TransferCase{"TheTransferLimit", 512, 136, kNever},
                      TransferCase{"SmallBlocksAtTheTransferLimit", 256, 272, kNever},
                      TransferCase{"ReselectedForTheDataOfOneBlock", 512, 1, kAfterCommand},
                      TransferCase{"ReselectedForTheDataAtTheLimit", 512, 136, kAfterCommand},
                      TransferCase{"ReselectedAfterEveryBlock", 512, 8, after_blocks(1)},
                      TransferCase{"ReselectedEveryThreeBlocks", 512, 136, after_blocks(3)},
                      // Every 256 bytes of a write - exactly the two host-buffer
                      // slots - the target disconnects, sometimes after the host
                      // has handed over every block of the phase.
                      TransferCase{"ReselectedEveryTwoHostBlocksAtTheLimit", 256, 272,
                                   after_blocks(1)}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Byte-granular transfers: partial host-buffer blocks ------------------

struct ByteCase {
  const char* name;
  std::uint32_t bytes;
  hw::DisconnectPolicy policy;
};

class StackBytes : public ::testing::TestWithParam<ByteCase> {};

constexpr std::uint32_t kStoreBytes = 80 * 1024;
constexpr std::uint8_t kStoreId = 2;

ScsiRequest byte_request(std::uint8_t opcode, std::span<std::uint8_t> buffer) {
  ScsiRequest request;
  request.target_id = kStoreId;
  const auto n = static_cast<std::uint32_t>(buffer.size());
  // The length sits in bytes 2-4 of our store's commands.
  request.cdb = {opcode,
                 0,
                 static_cast<std::uint8_t>(n >> 16),
                 static_cast<std::uint8_t>(n >> 8),
                 static_cast<std::uint8_t>(n),
                 0};
  request.direction = opcode == 0x0A ? DataDirection::Out : DataDirection::In;
  request.buffer = buffer;
  return request;
}

TEST_P(StackBytes, ReceiveAndSendMoveEveryByteAndNoMore) {
  const ByteCase& c = GetParam();
  const std::vector<std::uint8_t> original = patterned_bytes(kStoreBytes, 7);
  StackRig rig;
  hw::TargetSettings settings;
  settings.id = kStoreId;
  settings.disconnect = c.policy;
  hw::ScsiTarget::Units units;
  auto owned = std::make_unique<ByteStore>(original, 100);
  const ByteStore& store = *owned;
  units[0] = std::move(owned);
  rig.machine.add_target(settings, std::move(units));
  rig.start({});
  ASSERT_LE(c.bytes, rig.port().maximum_transfer_bytes());

  std::vector<std::uint8_t> data(c.bytes + 200, 0xEE);
  const RequestOutcome read =
      rig.port_driver.execute(byte_request(0x08, std::span(data).first(c.bytes)));
  ASSERT_EQ(read.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_EQ(read.bytes, c.bytes);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + c.bytes, original.begin()));
  EXPECT_TRUE(std::all_of(data.begin() + c.bytes, data.end(), [](auto b) { return b == 0xEE; }))
      << "written past the buffer";

  std::vector<std::uint8_t> fresh = patterned_bytes(c.bytes, 8);
  const RequestOutcome write = rig.port_driver.execute(byte_request(0x0A, fresh));
  ASSERT_EQ(write.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  std::vector<std::uint8_t> expected = original;
  std::copy(fresh.begin(), fresh.end(), expected.begin());
  const auto mismatch = std::mismatch(expected.begin(), expected.end(), store.bytes().begin());
  EXPECT_EQ(mismatch.first, expected.end())
      << "first wrong byte at offset " << (mismatch.first - expected.begin());
  rig.expect_clean();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, StackBytes,
    ::testing::Values(ByteCase{"OneByte", 1, kNever}, ByteCase{"TwoBytes", 2, kNever},
                      ByteCase{"JustUnderAHostBlock", 127, kNever},
                      ByteCase{"OneHostBlock", 128, kNever},
                      ByteCase{"JustOverAHostBlock", 129, kNever},
                      ByteCase{"ManyHostBlocksAndABit", 1000, kNever},
                      ByteCase{"OneUnderTheTransferLimit", 69631, kNever},
                      ByteCase{"TheTransferLimit", 69632, kNever},
                      ByteCase{"ReselectedForAPartialBlock", 129, kAfterCommand},
                      // Disconnections inside host-buffer blocks (every 200 or
                      // 700 bytes): a write resumes at the exact byte.
                      ByteCase{"DisconnectingInsideHostBlocks", 1000, after_blocks(2)},
                      ByteCase{"DisconnectingInsideHostBlocksAtTheLimit", 69631, after_blocks(7)}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- A few megabytes of random data, disconnecting, every byte intact ------

TEST(StackIntegrity, RandomRequestsCarryMegabytesIntactWhileTheDiskDisconnects) {
  for (std::uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    constexpr std::uint32_t kBlocks = 4096;  // 2 MB
    ImageDir dir;
    const auto image = dir.path() / "disk.img";
    std::vector<std::uint8_t> shadow(std::size_t{kBlocks} * 512, 0);
    write_file(image, shadow);
    hw::TargetConfig disk = disk_target(kDiskId, image);
    disk.settings.disconnect = after_blocks(5);
    StackRig rig;
    rig.start(std::span(&disk, 1));
    std::mt19937 random(seed);
    const std::uint32_t limit_blocks = rig.port().maximum_transfer_bytes() / 512;

    auto request_blocks = [&](std::uint32_t at) {
      return std::uniform_int_distribution<std::uint32_t>(
          1, std::min(limit_blocks, kBlocks - at))(random);
    };
    // Fill the whole disk in random-sized writes, then read it back in others.
    for (std::uint32_t at = 0; at < kBlocks;) {
      const std::uint32_t n = request_blocks(at);
      std::vector<std::uint8_t> data(n * 512);
      for (auto& b : data) b = static_cast<std::uint8_t>(random());
      const RequestOutcome write =
          rig.port_driver.execute(write10(kDiskId, at, std::uint16_t(n), data));
      ASSERT_EQ(write.srb_status, SRB_STATUS_SUCCESS) << "seed " << seed << " block " << at;
      std::copy(data.begin(), data.end(), shadow.begin() + std::size_t{at} * 512);
      at += n;
    }
    for (std::uint32_t at = 0; at < kBlocks;) {
      const std::uint32_t n = request_blocks(at);
      std::vector<std::uint8_t> data(n * 512);
      const RequestOutcome read =
          rig.port_driver.execute(read10(kDiskId, at, std::uint16_t(n), data));
      ASSERT_EQ(read.srb_status, SRB_STATUS_SUCCESS) << "seed " << seed << " block " << at;
      ASSERT_TRUE(std::equal(data.begin(), data.end(), shadow.begin() + std::size_t{at} * 512))
          << "seed " << seed << " blocks " << at << "+" << n;
      at += n;
    }
    EXPECT_EQ(read_file(image), shadow) << "seed " << seed;
    rig.expect_clean();
  }
}

}  // namespace
}  // namespace qzr::nt::scsiport::stack_test
