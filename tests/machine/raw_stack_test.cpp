// The machine end to end with no driver: the raw initiator drives the board
// through its registers, the board carries the bus, and real targets with
// real images answer.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "hw/machine.h"
#include "hw/population.h"
#include "tests/hw/device_test_support.h"
#include "tools/rawscsi/raw_initiator.h"

namespace qzr::hw {
namespace {

using rawscsi::Outcome;
using rawscsi::RawInitiator;
using rawscsi::Request;
using testing::Bytes;
using testing::ScratchDir;

constexpr std::uint32_t kDiskBlocks = 4096;  // 2 MiB

TargetConfig disk_at(std::uint8_t id, const std::string& image, DisconnectPolicy policy = {}) {
  TargetConfig t;
  t.settings.id = id;
  t.settings.disconnect = policy;
  DeviceConfig d;
  d.kind = DeviceConfig::Kind::Disk;
  d.identity.vendor = "QZRSIM";
  d.identity.product = "TEST DISK";
  d.image_path = image;
  d.capacity_blocks = kDiskBlocks;
  d.create_if_missing = true;
  t.units.emplace_back(0, d);
  return t;
}

// A machine with its targets, and the raw initiator on its board.
struct Rig {
  Machine machine;
  RawInitiator initiator;

  Rig(const std::vector<TargetConfig>& targets, MachineSettings settings = {})
      : machine(settings), initiator(machine.pci(), machine.clock(), machine.board_io_base()) {
    std::string error;
    EXPECT_TRUE(populate(machine, targets, error)) << error;
    initiator.reset_board();
  }

  rawscsi::Result read(std::uint8_t target, std::uint32_t lba, std::uint16_t blocks,
                       bool allow_disconnect = false) {
    Request r;
    r.target = target;
    r.cdb = testing::read10(lba, blocks);
    r.data_in_bytes = blocks * 512u;
    r.allow_disconnect = allow_disconnect;
    return initiator.run(r);
  }
  rawscsi::Result write(std::uint8_t target, std::uint32_t lba, const Bytes& data,
                        bool allow_disconnect = false) {
    Request r;
    r.target = target;
    r.cdb = testing::write10(lba, static_cast<std::uint16_t>(data.size() / 512));
    r.data_out = data;
    r.allow_disconnect = allow_disconnect;
    return initiator.run(r);
  }
};

Bytes random_bytes(std::size_t n, std::uint64_t seed) {
  Random random(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(random.next());
  return out;
}

Bytes file_bytes(const std::string& path, std::size_t offset, std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  Bytes out(n);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
  return out;
}

TEST(RawStack, InquiryOfADiskThroughTheRegisters) {
  ScratchDir dir;
  Rig rig({disk_at(0, dir.file("d.img"))});
  Request r;
  r.cdb = testing::inquiry(36);
  r.data_in_bytes = 36;
  const auto result = rig.initiator.run(r);
  ASSERT_EQ(result.outcome, Outcome::Completed) << result.error;
  EXPECT_EQ(result.status, scsi::status::GOOD);
  ASSERT_EQ(result.data_in.size(), 36u);
  EXPECT_EQ(result.data_in[0], scsi::device_type::DIRECT_ACCESS);
  EXPECT_EQ(std::string(result.data_in.begin() + 8, result.data_in.begin() + 16), "QZRSIM  ");
  EXPECT_EQ(result.messages_in, Bytes{scsi::msg::COMMAND_COMPLETE});
  EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.machine.guest_errors().format();
}

TEST(RawStack, AbsentTargetTimesOutAndLeavesTheBusFree) {
  ScratchDir dir;
  Rig rig({disk_at(0, dir.file("d.img"))});
  Request r;
  r.target = 4;
  r.cdb = testing::test_unit_ready();
  const TimeNs start = rig.machine.clock().now_ns();
  const auto result = rig.initiator.run(r);
  EXPECT_EQ(result.outcome, Outcome::SelectionTimeout);
  EXPECT_GE(rig.machine.clock().now_ns() - start, 250 * kNsPerMs);
  EXPECT_EQ(rig.machine.bus().state().signals, 0);
}

// Transfers from one block to more than the host buffer's counter can hold
// in one go, written and read back, checked against the image file itself.
TEST(RawStack, WritesReachTheImageAndReadBackByteForByte) {
  ScratchDir dir;
  const std::string image = dir.file("d.img");
  Rig rig({disk_at(0, image)});
  struct Case {
    std::uint32_t lba;
    std::uint16_t blocks;
  } cases[] = {{0, 1}, {7, 3}, {100, 8}, {1000, 128}, {2000, 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.blocks << " blocks at " << c.lba);
    const Bytes data = random_bytes(c.blocks * 512u, c.lba);
    const auto w = rig.write(0, c.lba, data);
    ASSERT_EQ(w.outcome, Outcome::Completed) << w.error;
    EXPECT_EQ(w.status, scsi::status::GOOD);
    EXPECT_EQ(w.data_out_sent, data.size());
    const auto r = rig.read(0, c.lba, c.blocks);
    ASSERT_EQ(r.outcome, Outcome::Completed) << r.error;
    EXPECT_EQ(r.data_in, data);
    EXPECT_EQ(file_bytes(image, c.lba * 512u, data.size()), data);
  }
  EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.machine.guest_errors().format();
}

TEST(RawStack, DisconnectsEveryFewBlocksAndTheDataStaysWhole) {
  ScratchDir dir;
  Rig rig({disk_at(0, dir.file("d.img"), {DisconnectPolicy::Kind::AfterBlocks, 4})});
  const Bytes data = random_bytes(64 * 512, 99);
  const auto w = rig.write(0, 10, data, /*allow_disconnect=*/true);
  ASSERT_EQ(w.outcome, Outcome::Completed) << w.error;
  EXPECT_GE(w.disconnects, 15u);
  const auto r = rig.read(0, 10, 64, /*allow_disconnect=*/true);
  ASSERT_EQ(r.outcome, Outcome::Completed) << r.error;
  EXPECT_GE(r.disconnects, 15u);
  EXPECT_EQ(r.data_in, data);
  EXPECT_EQ(rig.machine.target(0)->status().reselections, w.disconnects + r.disconnects);
  EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.machine.guest_errors().format();
}

TEST(RawStack, CheckConditionLeavesSenseForRequestSense) {
  ScratchDir dir;
  Rig rig({disk_at(0, dir.file("d.img"))});
  const auto bad = rig.read(0, kDiskBlocks, 1);
  ASSERT_EQ(bad.outcome, Outcome::Completed) << bad.error;
  EXPECT_EQ(bad.status, scsi::status::CHECK_CONDITION);
  Request sense;
  sense.cdb = testing::cdb6(scsi::op::REQUEST_SENSE, 0, 0, 0, 18);
  sense.data_in_bytes = 18;
  const auto s = rig.initiator.run(sense);
  ASSERT_EQ(s.outcome, Outcome::Completed) << s.error;
  ASSERT_EQ(s.data_in.size(), 18u);
  EXPECT_EQ(s.data_in[2] & 0x0F, scsi::sense_key::ILLEGAL_REQUEST);
  EXPECT_EQ(s.data_in[12], scsi::asc::LOGICAL_BLOCK_ADDRESS_OUT_OF_RANGE.asc);
}

TEST(RawStack, DiskDataOutlivesTheMachine) {
  ScratchDir dir;
  const std::string image = dir.file("d.img");
  const Bytes data = random_bytes(16 * 512, 7);
  {
    Rig first({disk_at(2, image)});
    ASSERT_EQ(first.write(2, 321, data).outcome, Outcome::Completed);
  }
  Rig second({disk_at(2, image)});
  const auto r = second.read(2, 321, 16);
  ASSERT_EQ(r.outcome, Outcome::Completed) << r.error;
  EXPECT_EQ(r.data_in, data);
}

// Same seed, same inputs: the same bus trace, bit for bit; the whole run is
// a pure function of them.
TEST(RawStack, SameSeedSameTrace) {
  auto run_once = [](std::uint64_t seed, const std::string& dir) {
    MachineSettings settings;
    settings.seed = seed;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    Rig rig({disk_at(0, dir + "/d.img", {DisconnectPolicy::Kind::AfterBlocks, 2})}, settings);
    rig.write(0, 5, random_bytes(8 * 512, seed), true);
    rig.read(0, 5, 8, true);
    return std::pair{rig.machine.bus().trace().hash(), rig.machine.clock().now_ns()};
  };
  ScratchDir dir;
  const auto a = run_once(11, dir.file("a"));
  const auto b = run_once(11, dir.file("b"));
  EXPECT_EQ(a, b);
  EXPECT_NE(a.first, run_once(12, dir.file("c")).first);  // other data, other trace
}

TEST(RawStack, DefaultPopulationAnswersOnEveryId) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(prepare_default_images(dir.file("images"), error)) << error;
  Rig rig(default_population(dir.file("images")));
  const std::uint8_t expected[] = {0x00, 0xFF, 0x06, 0x05, 0x01, 0x00, 0xFF};
  for (std::uint8_t id = 0; id < 7; ++id) {
    Request r;
    r.target = id;
    r.cdb = testing::inquiry(36);
    r.data_in_bytes = 36;
    const auto result = rig.initiator.run(r);
    SCOPED_TRACE(static_cast<int>(id));
    if (expected[id] == 0xFF) {
      EXPECT_EQ(result.outcome, Outcome::SelectionTimeout);
    } else {
      ASSERT_EQ(result.outcome, Outcome::Completed) << result.error;
      EXPECT_EQ(result.data_in.at(0), expected[id]);
    }
  }
  // The CD-ROM serves its mastered volume descriptor.
  Request pvd;
  pvd.target = 3;
  pvd.cdb = testing::read10(16, 1);
  pvd.data_in_bytes = 2048;
  const auto r = rig.initiator.run(pvd);
  ASSERT_EQ(r.outcome, Outcome::Completed) << r.error;
  EXPECT_EQ(std::string(r.data_in.begin() + 1, r.data_in.begin() + 6), "CD001");
  EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.machine.guest_errors().format();
}

}  // namespace
}  // namespace qzr::hw
