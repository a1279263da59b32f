// CD-ROM and write-once drives: read-only 2048-byte media that can be taken
// out, and the two different ways they turn WRITE away.
#include "hw/targets/cdrom.h"

#include <gtest/gtest.h>

#include "hw/targets/device_factory.h"
#include "tests/hw/device_test_support.h"

namespace qzr::hw {
namespace {

using namespace qzr::hw::testing;
namespace sk = scsi::sense_key;

class CdRomTest : public ::testing::Test {
 protected:
  std::unique_ptr<LogicalUnit> make(DeviceConfig::Kind kind) const {
    DeviceConfig config;
    config.kind = kind;
    config.image_path = iso;
    std::string error;
    auto unit = make_logical_unit(config, error);
    EXPECT_TRUE(unit) << error;
    return unit;
  }

  ScratchDir dir;
  const Bytes contents = pattern(10 * 2048, 0x40);
  const std::string iso = dir.write_file("disc.iso", contents);
};

TEST_F(CdRomTest, ReadsWholeSectorsOfTheImage) {
  auto cd = make(DeviceConfig::Kind::CdRom);
  const Exchange answer = run(*cd, read10(3, 2));
  ASSERT_EQ(answer.status, scsi::status::GOOD);
  EXPECT_EQ(answer.block_bytes, 2048u);
  EXPECT_EQ(answer.data_in, Bytes(contents.begin() + 3 * 2048, contents.begin() + 5 * 2048));
  EXPECT_EQ(run(*cd, read6(9, 1)).data_in, Bytes(contents.end() - 2048, contents.end()));
  EXPECT_EQ(run(*cd, read_capacity()).data_in, (Bytes{0, 0, 0, 9, 0, 0, 0x08, 0}));
  EXPECT_EQ(run_for_sense(*cd, read10(10, 1)).sense,
            sense(sk::ILLEGAL_REQUEST, scsi::asc::LOGICAL_BLOCK_ADDRESS_OUT_OF_RANGE, 10));
}

TEST_F(CdRomTest, WriteIsNotACdRomCommandButIsProtectedOnWriteOnce) {
  struct Case {
    DeviceConfig::Kind kind;
    SenseView expected;
  };
  const Case cases[] = {
      {DeviceConfig::Kind::CdRom,
       sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_COMMAND_OPERATION_CODE)},
      {DeviceConfig::Kind::WriteOnce, sense(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(device_kind_name(c.kind));
    auto unit = make(c.kind);
    for (const Bytes& cdb : {write10(0, 1), write6(0, 1)}) {
      const CommandOutcome outcome = unit->execute(cdb);
      EXPECT_EQ(outcome.status, scsi::status::CHECK_CONDITION);
      EXPECT_EQ(outcome.direction, DataDirection::None);  // no Data Out is asked for
      EXPECT_EQ(request_sense(*unit), c.expected);
    }
  }
  // The image is untouched.
  auto cd = make(DeviceConfig::Kind::CdRom);
  EXPECT_EQ(run(*cd, read10(0, 10)).data_in, contents);
}

TEST_F(CdRomTest, ModeSenseDescribesTheDisc) {
  auto cd = make(DeviceConfig::Kind::CdRom);
  const Exchange answer = run(*cd, mode_sense(0x0D));
  ASSERT_EQ(answer.status, scsi::status::GOOD);
  ASSERT_EQ(answer.data_in.size(), 4u + 8 + 8);
  EXPECT_EQ(Bytes(answer.data_in.begin() + 4, answer.data_in.begin() + 12),
            (Bytes{0, 0, 0, 10, 0, 0, 0x08, 0}));
  EXPECT_EQ(Bytes(answer.data_in.begin() + 12, answer.data_in.end()),
            (Bytes{0x0D, 6, 0, 0, 0, 60, 0, 75}));
  auto worm = make(DeviceConfig::Kind::WriteOnce);
  EXPECT_EQ(run(*worm, mode_sense(0x3F)).data_in[2] & 0x80, 0x80);  // write protected
}

TEST_F(CdRomTest, EjectAndLoadTheDisc) {
  auto cd = make(DeviceConfig::Kind::CdRom);
  ASSERT_EQ(run(*cd, cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x02)).status, scsi::status::GOOD);
  EXPECT_EQ(run_for_sense(*cd, read10(0, 1)).sense,
            sense(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT));
  EXPECT_EQ(run(*cd, inquiry(36)).data_in[0], scsi::device_type::CDROM);
  ASSERT_EQ(run(*cd, cdb6(scsi::op::START_STOP_UNIT, 0, 0, 0, 0x03)).status, scsi::status::GOOD);
  EXPECT_EQ(run(*cd, read10(0, 1)).status, scsi::status::GOOD);
}

TEST(CdRomDrive, OperatorCanChangeTheDiscUnlessRemovalIsPrevented) {
  ScratchDir dir;
  std::string error;
  auto first = BlockImage::open(dir.write_file("a.iso", Bytes(2048, 0xA1)), 2048,
                                BlockImage::Access::ReadOnly, error);
  auto second = BlockImage::open(dir.write_file("b.iso", Bytes(2 * 2048, 0xB2)), 2048,
                                 BlockImage::Access::ReadOnly, error);
  ASSERT_TRUE(first && second) << error;
  CdRom cd(Identity{}, UnitTimings{}, false, std::move(first), true);

  ASSERT_EQ(run(cd, cdb6(scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL, 0, 0, 0, 1)).status,
            scsi::status::GOOD);
  EXPECT_FALSE(cd.eject_medium());
  ASSERT_EQ(run(cd, cdb6(scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL, 0, 0, 0, 0)).status,
            scsi::status::GOOD);
  EXPECT_TRUE(cd.eject_medium());
  EXPECT_EQ(run(cd, test_unit_ready()).status, scsi::status::CHECK_CONDITION);
  cd.insert_medium(std::move(*second));
  // The initiator hears of the change before anything else.
  EXPECT_EQ(run_for_sense(cd, read_capacity()).sense,
            sense(sk::UNIT_ATTENTION, scsi::asc::NOT_READY_TO_READY_TRANSITION));
  EXPECT_EQ(run(cd, read_capacity()).data_in, (Bytes{0, 0, 0, 1, 0, 0, 0x08, 0}));
  EXPECT_EQ(run(cd, read10(1, 1)).data_in, Bytes(2048, 0xB2));
}

}  // namespace
}  // namespace qzr::hw
