// Direct-access units as the target engine drives them: data kept in the
// image, addressing, capacity, mode pages, media handling and timing.
#include "hw/targets/disk.h"

#include <gtest/gtest.h>

#include "hw/targets/device_factory.h"
#include "tests/hw/device_test_support.h"

namespace qzr::hw {
namespace {

using namespace qzr::hw::testing;
namespace sk = scsi::sense_key;

constexpr std::uint64_t kBlocks = 2048;

class DiskTest : public ::testing::Test {
 protected:
  DeviceConfig config(DeviceConfig::Kind kind = DeviceConfig::Kind::Disk) const {
    DeviceConfig config;
    config.kind = kind;
    config.image_path = dir.file("disk.img");
    config.capacity_blocks = kBlocks;
    config.create_if_missing = true;
    return config;
  }
  std::unique_ptr<LogicalUnit> make(const DeviceConfig& config) const {
    std::string error;
    auto unit = make_logical_unit(config, error);
    EXPECT_TRUE(unit) << error;
    return unit;
  }
  std::unique_ptr<LogicalUnit> make(DeviceConfig::Kind kind = DeviceConfig::Kind::Disk) const {
    return make(config(kind));
  }

  ScratchDir dir;
};

TEST_F(DiskTest, WrittenBlocksReadBackThroughBothCommandSizesAndAfterReopening) {
  const Bytes data = pattern(4 * 512, 3);
  {
    auto disk = make();
    ASSERT_EQ(run(*disk, write10(100, 4), data).status, scsi::status::GOOD);
    ASSERT_EQ(run(*disk, write6(0, 1), pattern(512, 9)).status, scsi::status::GOOD);
    EXPECT_EQ(run(*disk, read6(100, 4)).data_in, data);
  }
  // A new unit on the same file sees the same blocks.
  auto disk = make();
  const Exchange answer = run(*disk, read10(99, 6));
  ASSERT_EQ(answer.status, scsi::status::GOOD);
  EXPECT_EQ(answer.block_bytes, 512u);
  EXPECT_EQ(Bytes(answer.data_in.begin() + 512, answer.data_in.begin() + 5 * 512), data);
  EXPECT_EQ(Bytes(answer.data_in.begin(), answer.data_in.begin() + 512), Bytes(512, 0));
  EXPECT_EQ(run(*disk, read6(0, 1)).data_in, pattern(512, 9));
}

TEST_F(DiskTest, TransferLengthZero) {
  auto disk = make();
  // Six-byte commands: 0 means 256 blocks. Ten-byte: no data at all.
  const Exchange read_6 = run(*disk, read6(0, 0));
  EXPECT_EQ(read_6.status, scsi::status::GOOD);
  EXPECT_EQ(read_6.data_in.size(), 256u * 512);
  EXPECT_EQ(disk->execute(write6(0, 0)).data_out_bytes, 256u * 512);
  for (const Bytes& cdb : {read10(5, 0), write10(5, 0)}) {
    const CommandOutcome outcome = disk->execute(cdb);
    EXPECT_EQ(outcome.status, scsi::status::GOOD);
    EXPECT_EQ(outcome.direction, DataDirection::None);
  }
}

TEST_F(DiskTest, AddressesBeyondTheEndAreRefusedWithTheFirstMissingBlock) {
  auto disk = make();
  struct Case {
    const char* what;
    Bytes cdb;
    std::uint32_t first_missing;
  };
  const Case cases[] = {
      {"READ(10) at the capacity", read10(kBlocks, 1), kBlocks},
      {"READ(10) running over the end", read10(kBlocks - 2, 3), kBlocks},
      {"READ(10) far out", read10(0xFFFFFFF0, 0x20), 0xFFFFFFF0},
      {"READ(6) over the end", read6(kBlocks - 1, 2), kBlocks},
      {"WRITE(10) over the end", write10(kBlocks - 1, 2), kBlocks},
      {"WRITE(6) past the end", write6(kBlocks + 5, 1), kBlocks + 5},
      {"VERIFY over the end", cdb10(scsi::op::VERIFY_10, 0, kBlocks - 1, 2), kBlocks},
      {"SYNCHRONIZE CACHE past the end", cdb10(scsi::op::SYNCHRONIZE_CACHE, 0, kBlocks, 0),
       kBlocks},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Failure failure = run_for_sense(*disk, c.cdb, Bytes(2 * 512));
    EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
    EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST,
                                   scsi::asc::LOGICAL_BLOCK_ADDRESS_OUT_OF_RANGE, c.first_missing));
  }
  EXPECT_EQ(run(*disk, read10(kBlocks - 1, 1)).status, scsi::status::GOOD);
  EXPECT_EQ(run(*disk, cdb10(scsi::op::VERIFY_10, 0, kBlocks - 4, 4)).status, scsi::status::GOOD);
}

TEST_F(DiskTest, ReadCapacityGivesTheLastBlockAndTheBlockSize) {
  for (const std::uint32_t block_bytes : {512u, 1024u, 4096u}) {
    SCOPED_TRACE(block_bytes);
    DeviceConfig settings = config();
    settings.image_path = dir.file("disk-" + std::to_string(block_bytes) + ".img");
    settings.block_bytes = block_bytes;
    settings.capacity_blocks = 70000;
    auto disk = make(settings);
    const Exchange answer = run(*disk, read_capacity());
    ASSERT_EQ(answer.status, scsi::status::GOOD);
    const std::uint32_t bytes = block_bytes;
    EXPECT_EQ(answer.data_in, (Bytes{0, 1, 0x11, 0x6F, 0, static_cast<std::uint8_t>(bytes >> 16),
                                     static_cast<std::uint8_t>(bytes >> 8), 0}));
  }
  auto disk = make();
  // An address without PMI is a mistake in the CDB.
  const Failure failure = run_for_sense(*disk, cdb10(scsi::op::READ_CAPACITY, 0, 5, 0));
  EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB));
}

// The pages of a MODE SENSE answer after its header and block descriptor.
std::vector<std::uint8_t> page_codes(const Bytes& answer) {
  std::vector<std::uint8_t> codes;
  std::size_t at = 4 + answer[3];
  while (at + 1 < answer.size()) {
    codes.push_back(answer[at] & 0x3F);
    at += 2 + answer[at + 1];
  }
  return codes;
}

TEST_F(DiskTest, ModeSenseHeaderDescriptorAndPages) {
  auto disk = make();
  const Exchange all = run(*disk, mode_sense(0x3F));
  ASSERT_EQ(all.status, scsi::status::GOOD);
  const Bytes& answer = all.data_in;
  EXPECT_EQ(answer[0], answer.size() - 1);
  EXPECT_EQ(answer[2], 0x00);  // not write protected
  ASSERT_EQ(answer[3], 8);
  EXPECT_EQ(Bytes(answer.begin() + 4, answer.begin() + 12),
            (Bytes{0, 0, 0x08, 0x00, 0, 0, 0x02, 0x00}));  // density 0, 2048 blocks of 512
  EXPECT_EQ(page_codes(answer), (std::vector<std::uint8_t>{0x01, 0x03, 0x04, 0x08}));

  const Exchange geometry = run(*disk, mode_sense(0x04, 255, /*no_descriptors=*/true));
  ASSERT_EQ(geometry.status, scsi::status::GOOD);
  EXPECT_EQ(geometry.data_in[3], 0);
  EXPECT_EQ(page_codes(geometry.data_in), (std::vector<std::uint8_t>{0x04}));

  // Changeable values: nothing, since MODE SELECT is not offered.
  const Exchange changeable = run(*disk, mode_sense(0x40 | 0x08, 255, true));
  ASSERT_EQ(changeable.status, scsi::status::GOOD);
  EXPECT_EQ(Bytes(changeable.data_in.begin() + 6, changeable.data_in.end()), Bytes(10, 0));

  EXPECT_EQ(run(*disk, mode_sense(0x3F, 10)).data_in.size(), 10u);
}

TEST_F(DiskTest, ModeSenseRefusals) {
  auto disk = make();
  struct Case {
    const char* what;
    std::uint8_t page_byte;
    scsi::Asc asc;
  };
  const Case cases[] = {
      {"page not offered", 0x05, scsi::asc::INVALID_FIELD_IN_CDB},
      {"saved values", 0xC0 | 0x3F, scsi::asc::SAVING_PARAMETERS_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run_for_sense(*disk, mode_sense(c.page_byte)).sense,
              sense(sk::ILLEGAL_REQUEST, c.asc));
  }
}

TEST_F(DiskTest, ReadOnlyImageIsWriteProtected) {
  make();  // creates the image
  DeviceConfig settings = config();
  settings.read_only = true;
  auto disk = make(settings);
  EXPECT_EQ(run(*disk, mode_sense(0x3F)).data_in[2] & 0x80, 0x80);
  EXPECT_EQ(run_for_sense(*disk, write10(0, 1)).sense,
            sense(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED));
  EXPECT_EQ(run(*disk, read10(0, 1)).status, scsi::status::GOOD);
}

TEST_F(DiskTest, StoppedDiskIsNotReadyUntilStarted) {
  auto disk = make();
  const Bytes stop = cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x00);
  const Bytes start = cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x01);
  ASSERT_EQ(run(*disk, stop).status, scsi::status::GOOD);
  const SenseView stopped =
      sense(sk::NOT_READY, scsi::asc::LOGICAL_UNIT_NOT_READY_INITIALIZING_COMMAND_REQUIRED);
  EXPECT_EQ(run_for_sense(*disk, test_unit_ready()).sense, stopped);
  EXPECT_EQ(run_for_sense(*disk, read10(0, 1)).sense, stopped);
  ASSERT_EQ(run(*disk, start).status, scsi::status::GOOD);
  EXPECT_EQ(run(*disk, test_unit_ready()).status, scsi::status::GOOD);
}

TEST_F(DiskTest, FixedDiskCannotEject) {
  auto disk = make();
  const Failure failure = run_for_sense(*disk, cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x02));
  EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB));
  EXPECT_EQ(run(*disk, test_unit_ready()).status, scsi::status::GOOD);
}

const Bytes kEject = cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x02);
const Bytes kLoad = cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x03);
const Bytes kPrevent = cdb6(scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL, 0, 0, 0, 0x01);
const Bytes kAllow = cdb6(scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL, 0, 0, 0, 0x00);

TEST_F(DiskTest, EjectedMediumIsNotPresentForEveryMediumCommand) {
  for (const auto kind : {DeviceConfig::Kind::RemovableDisk, DeviceConfig::Kind::OpticalMemory}) {
    SCOPED_TRACE(device_kind_name(kind));
    DeviceConfig settings = config(kind);
    settings.image_path = dir.file(std::string(device_kind_name(kind)) + ".img");
    auto disk = make(settings);
    ASSERT_EQ(run(*disk, write10(7, 1), pattern(512, 4)).status, scsi::status::GOOD);
    ASSERT_EQ(run(*disk, kEject).status, scsi::status::GOOD);

    const SenseView absent = sense(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT);
    for (const Bytes& cdb :
         {test_unit_ready(), read10(0, 1), read6(0, 1), write10(0, 1), read_capacity(),
          cdb10(scsi::op::VERIFY_10, 0, 0, 1), cdb10(scsi::op::SYNCHRONIZE_CACHE, 0, 0, 0)}) {
      SCOPED_TRACE(scsi::opcode_name(cdb[0]));
      const Failure failure = run_for_sense(*disk, cdb, Bytes(512));
      EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
      EXPECT_EQ(failure.sense, absent);
    }
    EXPECT_EQ(run(*disk, inquiry(36)).data_in[1], 0x80);

    ASSERT_EQ(run(*disk, kLoad).status, scsi::status::GOOD);
    EXPECT_EQ(run(*disk, read10(7, 1)).data_in, pattern(512, 4));
  }
}

TEST_F(DiskTest, PreventedRemovalHoldsUntilAllowedOrReset) {
  auto disk = make(DeviceConfig::Kind::RemovableDisk);
  const SenseView prevented = sense(sk::ILLEGAL_REQUEST, scsi::asc::MEDIUM_REMOVAL_PREVENTED);

  ASSERT_EQ(run(*disk, kPrevent).status, scsi::status::GOOD);
  EXPECT_EQ(run_for_sense(*disk, kEject).sense, prevented);
  EXPECT_EQ(run(*disk, test_unit_ready()).status, scsi::status::GOOD);
  ASSERT_EQ(run(*disk, kAllow).status, scsi::status::GOOD);
  EXPECT_EQ(run(*disk, kEject).status, scsi::status::GOOD);

  ASSERT_EQ(run(*disk, kLoad).status, scsi::status::GOOD);
  ASSERT_EQ(run(*disk, kPrevent).status, scsi::status::GOOD);
  disk->reset();  // a reset lifts the prevention, and leaves the medium in
  EXPECT_EQ(run(*disk, test_unit_ready()).status, scsi::status::GOOD);
  EXPECT_EQ(run(*disk, kEject).status, scsi::status::GOOD);
}

TEST_F(DiskTest, DriveStartedWithoutMedium) {
  DeviceConfig settings = config(DeviceConfig::Kind::RemovableDisk);
  settings.image_path.clear();
  settings.medium_present = false;
  auto disk = make(settings);
  EXPECT_EQ(run_for_sense(*disk, test_unit_ready()).sense,
            sense(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT));
  // Nothing to load either.
  EXPECT_EQ(run_for_sense(*disk, kLoad).sense, sense(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT));
  EXPECT_EQ(run(*disk, mode_sense(0x3F)).status, scsi::status::GOOD);
}

TEST_F(DiskTest, DataOutCutShortWritesOnlyWholeBlocks) {
  auto disk = make();
  ASSERT_EQ(run(*disk, write10(20, 4), Bytes(4 * 512, 0xEE)).status, scsi::status::GOOD);
  const Bytes partial = pattern(2 * 512 + 100, 6);  // two and a bit of three blocks
  const Failure failure = run_for_sense(*disk, write10(20, 3), partial);
  EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
  EXPECT_EQ(failure.sense, sense(sk::ABORTED_COMMAND, scsi::asc::DATA_PHASE_ERROR, 1));

  const Bytes back = run(*disk, read10(20, 4)).data_in;
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 1024),
            Bytes(partial.begin(), partial.begin() + 1024));
  EXPECT_EQ(Bytes(back.begin() + 1024, back.end()), Bytes(2 * 512, 0xEE));
}

TEST_F(DiskTest, VerifyWithByteCheckComparesTheMedium) {
  auto disk = make();
  const Bytes data = pattern(3 * 512, 8);
  ASSERT_EQ(run(*disk, write10(40, 3), data).status, scsi::status::GOOD);
  const Bytes compare = cdb10(scsi::op::VERIFY_10, 0x02, 40, 3);
  EXPECT_EQ(run(*disk, compare, data).status, scsi::status::GOOD);

  Bytes differs = data;
  differs[512 + 17] ^= 0x01;  // second block
  const Failure failure = run_for_sense(*disk, compare, differs);
  EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
  EXPECT_EQ(failure.sense, sense(sk::MISCOMPARE, scsi::asc::MISCOMPARE_DURING_VERIFY, 41));
}

TEST_F(DiskTest, ReservedOrUnsupportedFieldsAreRefused) {
  DeviceConfig settings = config(DeviceConfig::Kind::RemovableDisk);
  settings.capacity_blocks = 100'000;
  auto disk = make(settings);
  const Bytes cases[] = {
      cdb10(scsi::op::READ_10, 0x01, 0, 1),            // RelAdr
      cdb10(scsi::op::VERIFY_10, 0x01, 0, 1),          // RelAdr
      read10(0, 0xFFFF),                               // 32 MiB: more than one command moves
      cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x10),  // reserved bits
      cdb6(scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL, 0, 0, 0, 0x02),
  };
  for (const Bytes& cdb : cases) {
    SCOPED_TRACE(scsi::opcode_name(cdb[0]));
    EXPECT_EQ(run_for_sense(*disk, cdb).sense,
              sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB));
  }
}

TEST_F(DiskTest, LatencyFollowsTheSeekModel) {
  DeviceConfig settings = config();
  settings.capacity_blocks = 1'000'000;
  settings.timings = UnitTimings{.command_latency_ns = 1000,
                                 .seek_ns_per_block = 10,
                                 .seek_settle_ns = 5000,
                                 .seek_max_ns = 100'000,
                                 .transfer_ns_per_block = 300};
  auto disk = make(settings);
  struct Step {
    std::uint32_t lba;
    std::uint16_t blocks;
    TimeNs latency_ns;
  };
  const Step steps[] = {
      {0, 2, 1000 + 0 + 600},                   // head starts at block 0: no seek
      {2, 1, 1000 + 0 + 300},                   // sequential: no seek
      {1003, 1, 1000 + 5000 + 10000 + 300},     // 1000 blocks away
      {999'000, 4, 1000 + 100'000 + 1200},      // capped at full stroke
      {998'004, 1, 1000 + 5000 + 10000 + 300},  // backwards counts the same
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.lba);
    EXPECT_EQ(run(*disk, read10(step.lba, step.blocks)).latency_ns, step.latency_ns);
  }
  // A write seeks before its data and spends the transfer time after it.
  const Exchange write = run(*disk, write10(998'005, 2), Bytes(1024));
  EXPECT_EQ(write.latency_ns, 1000u);
  EXPECT_EQ(write.write_latency_ns, 600u);
}

TEST(DeviceFactory, UserMistakesGiveOneLineNamingTheFile) {
  ScratchDir dir;
  const std::string ragged = dir.write_file("ragged.img", Bytes(1000));
  const std::string small_cd = dir.write_file("cd.iso", Bytes(512));
  const std::string not_tape = dir.write_file("tape.img", Bytes(600, 'x'));
  using Kind = DeviceConfig::Kind;
  struct Case {
    const char* what;
    Kind kind;
    std::string path;
    bool create;
    std::uint64_t capacity;
    std::uint32_t block_bytes;
    const char* message;
  };
  const Case cases[] = {
      {"missing disk", Kind::Disk, dir.file("none.img"), false, 0, 0, "no such file"},
      {"nothing to create with", Kind::Disk, dir.file("none.img"), true, 0, 0, "no capacity"},
      {"ragged disk", Kind::Disk, ragged, false, 0, 0, "not a multiple"},
      {"CD smaller than a block", Kind::CdRom, small_cd, false, 0, 0, "too small"},
      {"CD never created", Kind::CdRom, dir.file("none.iso"), true, 100, 0, "no such file"},
      {"CD block size", Kind::CdRom, small_cd, false, 0, 512, "2048-byte blocks"},
      {"not a tape image", Kind::Tape, not_tape, false, 0, 0, "not a tape image"},
      {"fixed disk without image", Kind::Disk, "", false, 0, 0, "no image file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceConfig config;
    config.kind = c.kind;
    config.image_path = c.path;
    config.create_if_missing = c.create;
    config.capacity_blocks = c.capacity;
    config.block_bytes = c.block_bytes;
    std::string error;
    EXPECT_EQ(make_logical_unit(config, error), nullptr);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_NE(error.find(c.path), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(DeviceFactory, EachKindReportsItsTypeAndRemovability) {
  ScratchDir dir;
  const std::string iso = dir.write_file("cd.iso", Bytes(4 * 2048));
  using Kind = DeviceConfig::Kind;
  struct Case {
    Kind kind;
    std::string path;
    std::uint8_t type;
    bool removable;
  };
  const Case cases[] = {
      {Kind::Disk, dir.file("d.img"), scsi::device_type::DIRECT_ACCESS, false},
      {Kind::RemovableDisk, dir.file("r.img"), scsi::device_type::DIRECT_ACCESS, true},
      {Kind::OpticalMemory, dir.file("o.img"), scsi::device_type::OPTICAL_MEMORY, true},
      {Kind::CdRom, iso, scsi::device_type::CDROM, true},
      {Kind::WriteOnce, iso, scsi::device_type::WRITE_ONCE, true},
      {Kind::Tape, dir.file("t.tape"), scsi::device_type::SEQUENTIAL_ACCESS, true},
      {Kind::Processor, "", scsi::device_type::PROCESSOR, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(device_kind_name(c.kind));
    DeviceConfig config;
    config.kind = c.kind;
    config.image_path = c.path;
    config.create_if_missing = true;
    config.capacity_blocks = 64;
    std::string error;
    auto unit = make_logical_unit(config, error);
    ASSERT_TRUE(unit) << error;
    EXPECT_EQ(unit->device_type(), c.type);
    const Bytes answer = run(*unit, inquiry(36)).data_in;
    ASSERT_EQ(answer.size(), 36u);
    EXPECT_EQ(answer[0], c.type);
    EXPECT_EQ(answer[1] == 0x80, c.removable);
    EXPECT_EQ(run(*unit, test_unit_ready()).status, scsi::status::GOOD);
  }
}

}  // namespace
}  // namespace qzr::hw
