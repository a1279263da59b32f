// The tape: fixed 512-byte records and filemarks, positioning, what reading
// past the data reports, truncation on write, and the image file that keeps
// it all (and refuses to load when damaged).
#include "hw/targets/tape.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "hw/targets/device_factory.h"
#include "tests/hw/device_test_support.h"

namespace qzr::hw {
namespace {

using namespace qzr::hw::testing;
namespace sk = scsi::sense_key;

constexpr std::uint8_t kFixed = 0x01;
constexpr std::uint8_t kSpaceBlocks = 0, kSpaceFilemarks = 1, kSpaceEndOfData = 3;

Bytes record(std::uint8_t seed) {
  return pattern(512, seed);
}

Bytes read_tape(std::int32_t blocks) {
  return cdb6_count(scsi::op::READ_6, kFixed, blocks);
}
Bytes write_tape(std::int32_t blocks) {
  return cdb6_count(scsi::op::WRITE_6, kFixed, blocks);
}
Bytes write_filemarks(std::int32_t count) {
  return cdb6_count(scsi::op::WRITE_FILEMARKS, 0, count);
}
Bytes space(std::uint8_t code, std::int32_t count) {
  return cdb6_count(scsi::op::SPACE, code, count);
}
Bytes rewind() {
  return cdb6(scsi::op::REWIND);
}

SenseView filemark(std::uint32_t residue) {
  SenseView view = sense(sk::NO_SENSE, scsi::asc::FILEMARK_DETECTED, residue);
  view.filemark = true;
  return view;
}
SenseView end_of_data(std::uint32_t residue) {
  return sense(sk::BLANK_CHECK, scsi::asc::END_OF_DATA_DETECTED, residue);
}
SenseView beginning_of_tape(std::uint32_t residue) {
  SenseView view = sense(sk::NO_SENSE, scsi::asc::BEGINNING_OF_PARTITION_MEDIUM_DETECTED, residue);
  view.end_of_medium = true;
  return view;
}

class TapeTest : public ::testing::Test {
 protected:
  std::unique_ptr<Tape> make(std::uint64_t capacity_records = 0) const {
    DeviceConfig config;
    config.kind = DeviceConfig::Kind::Tape;
    config.image_path = path;
    config.create_if_missing = true;
    config.capacity_blocks = capacity_records;
    std::string error;
    auto unit = make_logical_unit(config, error);
    EXPECT_TRUE(unit) << error;
    return std::unique_ptr<Tape>(static_cast<Tape*>(unit.release()));
  }

  // Records 0-2 data, 3 a filemark, 4-5 data; then rewound.
  std::unique_ptr<Tape> make_recorded() const {
    auto tape = make();
    Bytes first;
    for (std::uint8_t seed : {1, 2, 3}) {
      const Bytes block = record(seed);
      first.insert(first.end(), block.begin(), block.end());
    }
    Bytes second = record(5);
    const Bytes sixth = record(6);
    second.insert(second.end(), sixth.begin(), sixth.end());
    EXPECT_EQ(run(*tape, write_tape(3), first).status, scsi::status::GOOD);
    EXPECT_EQ(run(*tape, write_filemarks(1)).status, scsi::status::GOOD);
    EXPECT_EQ(run(*tape, write_tape(2), second).status, scsi::status::GOOD);
    EXPECT_EQ(run(*tape, rewind()).status, scsi::status::GOOD);
    return tape;
  }

  ScratchDir dir;
  const std::string path = dir.file("backup.tape");
};

TEST_F(TapeTest, ReadingStopsAtFilemarksAndAtTheEndOfData) {
  auto tape = make_recorded();
  struct Step {
    const char* what;
    std::int32_t blocks;
    std::vector<std::uint8_t> seeds;  // the records that come back
    std::uint8_t status;
    SenseView sense;
    std::size_t position_after;
  };
  const Step steps[] = {
      {"two records", 2, {1, 2}, scsi::status::GOOD, {}, 2},
      {"into the filemark", 4, {3}, scsi::status::CHECK_CONDITION, filemark(3), 4},
      {"to the end of data", 5, {5, 6}, scsi::status::CHECK_CONDITION, end_of_data(3), 6},
      {"at the end of data", 1, {}, scsi::status::CHECK_CONDITION, end_of_data(1), 6},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const Exchange answer = run(*tape, read_tape(step.blocks));
    EXPECT_EQ(answer.status, step.status);
    Bytes expected;
    for (std::uint8_t seed : step.seeds) {
      const Bytes block = record(seed);
      expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(answer.data_in, expected);
    EXPECT_EQ(request_sense(*tape), step.sense);
    EXPECT_EQ(tape->position(), step.position_after);
  }
}

TEST_F(TapeTest, SpaceForwardAndBackward) {
  auto tape = make_recorded();
  struct Case {
    const char* what;
    std::size_t from;
    std::uint8_t code;
    std::int32_t count;
    std::size_t to;
    SenseView sense;  // empty: GOOD
  };
  // Tape: [0]D [1]D [2]D [3]FM [4]D [5]D, end of data at 6.
  const Case cases[] = {
      {"blocks forward", 0, kSpaceBlocks, 2, 2, {}},
      {"blocks forward into a filemark", 1, kSpaceBlocks, 5, 4, filemark(3)},
      {"blocks forward off the end", 4, kSpaceBlocks, 3, 6, end_of_data(1)},
      {"blocks backward", 6, kSpaceBlocks, -2, 4, {}},
      {"blocks backward into a filemark", 5, kSpaceBlocks, -3, 3, filemark(2)},
      {"blocks backward to the beginning", 2, kSpaceBlocks, -3, 0, beginning_of_tape(1)},
      {"filemarks forward", 0, kSpaceFilemarks, 1, 4, {}},
      {"filemarks forward past the last", 0, kSpaceFilemarks, 2, 6, end_of_data(1)},
      {"filemarks backward", 6, kSpaceFilemarks, -1, 3, {}},
      {"filemarks backward past the first", 6, kSpaceFilemarks, -2, 0, beginning_of_tape(1)},
      {"end of data", 1, kSpaceEndOfData, 0, 6, {}},
      {"zero count", 2, kSpaceBlocks, 0, 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(run(*tape, rewind()).status, scsi::status::GOOD);
    // One record at a time: a filemark is passed too (with its own report).
    for (std::size_t i = 0; i < c.from; ++i) run(*tape, space(kSpaceBlocks, 1));
    ASSERT_EQ(tape->position(), c.from);
    const Failure result = run_for_sense(*tape, space(c.code, c.count));
    EXPECT_EQ(result.status,
              c.sense == SenseView{} ? scsi::status::GOOD : scsi::status::CHECK_CONDITION);
    EXPECT_EQ(result.sense, c.sense);
    EXPECT_EQ(tape->position(), c.to);
  }
}

TEST_F(TapeTest, WritingCutsOffEverythingAfterTheHead) {
  auto tape = make_recorded();
  ASSERT_EQ(run(*tape, space(kSpaceBlocks, 1)).status, scsi::status::GOOD);
  ASSERT_EQ(run(*tape, write_tape(1), record(9)).status, scsi::status::GOOD);
  ASSERT_EQ(run(*tape, rewind()).status, scsi::status::GOOD);

  const Exchange answer = run(*tape, read_tape(10));
  Bytes expected = record(1);
  const Bytes ninth = record(9);
  expected.insert(expected.end(), ninth.begin(), ninth.end());
  EXPECT_EQ(answer.data_in, expected);
  EXPECT_EQ(request_sense(*tape), end_of_data(8));
}

TEST_F(TapeTest, ContentsSurviveANewUnitOnTheSameImage) {
  make_recorded();
  auto tape = make();
  EXPECT_EQ(tape->image()->record_count(), 6u);
  ASSERT_EQ(run(*tape, space(kSpaceFilemarks, 1)).status, scsi::status::GOOD);
  const Exchange answer = run(*tape, read_tape(1));
  EXPECT_EQ(answer.status, scsi::status::GOOD);
  EXPECT_EQ(answer.data_in, record(5));
}

TEST_F(TapeTest, OnlyFixedBlockTransfersAreOffered) {
  auto tape = make_recorded();
  const Bytes cases[] = {
      cdb6_count(scsi::op::READ_6, 0, 512),            // variable-length read
      cdb6_count(scsi::op::WRITE_6, 0, 512),           // variable-length write
      cdb6_count(scsi::op::READ_6, kFixed | 0x02, 1),  // SILI with Fixed
      cdb6_count(scsi::op::WRITE_FILEMARKS, 0x02, 1),  // setmarks
      cdb6_count(scsi::op::SPACE, 2, 1),               // sequential filemarks
  };
  for (const Bytes& cdb : cases) {
    SCOPED_TRACE(scsi::opcode_name(cdb[0]));
    const Failure failure = run_for_sense(*tape, cdb);
    EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
    EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB));
  }
  EXPECT_EQ(run_for_sense(*tape, read_capacity()).sense,
            sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_COMMAND_OPERATION_CODE));
  EXPECT_EQ(tape->position(), 0u);
}

TEST_F(TapeTest, ModeSenseAndBlockLimitsSayFixed512) {
  auto tape = make();
  const Exchange mode = run(*tape, mode_sense(0x3F));
  ASSERT_EQ(mode.status, scsi::status::GOOD);
  ASSERT_GE(mode.data_in.size(), 12u);
  EXPECT_EQ(mode.data_in[3], 8);
  EXPECT_EQ(Bytes(mode.data_in.begin() + 9, mode.data_in.begin() + 12), (Bytes{0, 2, 0}));
  EXPECT_EQ(mode.data_in[12], 0x10);
  EXPECT_EQ(run(*tape, cdb6(scsi::op::READ_BLOCK_LIMITS)).data_in, (Bytes{0, 0, 2, 0, 2, 0}));
}

TEST_F(TapeTest, WritingPastTheEndOfTheMediumOverflows) {
  auto tape = make(/*capacity_records=*/4);
  ASSERT_EQ(run(*tape, write_filemarks(1)).status, scsi::status::GOOD);
  const Bytes data = pattern(5 * 512, 2);
  const Failure failure = run_for_sense(*tape, write_tape(5), data);
  EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
  SenseView expected = sense(sk::VOLUME_OVERFLOW, scsi::asc::END_OF_PARTITION_MEDIUM_DETECTED, 2);
  expected.end_of_medium = true;
  EXPECT_EQ(failure.sense, expected);
  EXPECT_EQ(tape->image()->record_count(), 4u);
}

TEST_F(TapeTest, UnloadTakesTheTapeOutUnlessPrevented) {
  auto tape = make_recorded();
  const Bytes unload = cdb6(scsi::op::LOAD_UNLOAD, 0, 0, 0, 0x00);
  const Bytes load = cdb6(scsi::op::LOAD_UNLOAD, 0, 0, 0, 0x01);
  ASSERT_EQ(run(*tape, space(kSpaceBlocks, 2)).status, scsi::status::GOOD);
  ASSERT_EQ(run(*tape, cdb6(scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL, 0, 0, 0, 1)).status,
            scsi::status::GOOD);
  EXPECT_EQ(run_for_sense(*tape, unload).sense,
            sense(sk::ILLEGAL_REQUEST, scsi::asc::MEDIUM_REMOVAL_PREVENTED));
  tape->reset();
  ASSERT_EQ(run(*tape, unload).status, scsi::status::GOOD);
  EXPECT_EQ(run_for_sense(*tape, read_tape(1)).sense,
            sense(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT));
  ASSERT_EQ(run(*tape, load).status, scsi::status::GOOD);
  EXPECT_EQ(tape->position(), 0u);
  EXPECT_EQ(run(*tape, read_tape(1)).data_in, record(1));
}

TEST_F(TapeTest, DamagedImagesAreRefusedWithTheReason) {
  make_recorded();
  const auto original_bytes = std::filesystem::file_size(path);
  const auto damage = [&](const std::string& name, auto&& change) {
    const std::string copy = dir.file(name);
    std::filesystem::copy_file(path, copy);
    change(copy);
    return copy;
  };
  const auto poke = [](const std::string& file, std::uint64_t offset, char value) {
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    io.seekp(static_cast<std::streamoff>(offset));
    io.put(value);
  };
  struct Case {
    const char* what;
    std::string file;
    const char* message;
  };
  const Case cases[] = {
      {"partial last record",
       damage("partial.tape",
              [&](const std::string& f) { std::filesystem::resize_file(f, original_bytes - 7); }),
       "truncated after record 5"},
      {"flipped payload byte",
       damage("flipped.tape", [&](const std::string& f) { poke(f, 16 + 2 * 520 + 100, '!'); }),
       "record 2 is damaged"},
      {"unknown record kind",
       damage("kind.tape", [&](const std::string& f) { poke(f, 16 + 520, 'X'); }),
       "record 1 is damaged"},
      {"wrong magic", damage("magic.tape", [&](const std::string& f) { poke(f, 0, 'X'); }),
       "not a tape image"},
      {"other record size", damage("size.tape", [&](const std::string& f) { poke(f, 9, 4); }),
       "record size"},
      {"missing", dir.file("missing.tape"), "no such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(TapeImage::open(c.file, TapeImage::Access::ReadOnly, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_NE(error.find(c.file), std::string::npos) << error;
  }
}

TEST_F(TapeTest, ReadOnlyTapeRefusesWrites) {
  make_recorded();
  DeviceConfig config;
  config.kind = DeviceConfig::Kind::Tape;
  config.image_path = path;
  config.read_only = true;
  std::string error;
  auto tape = make_logical_unit(config, error);
  ASSERT_TRUE(tape) << error;
  for (const Bytes& cdb : {write_tape(1), write_filemarks(1)}) {
    EXPECT_EQ(run_for_sense(*tape, cdb, record(0)).sense,
              sense(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED));
  }
  EXPECT_EQ(run(*tape, mode_sense(0x3F)).data_in[2] & 0x80, 0x80);
  EXPECT_EQ(run(*tape, read_tape(3)).status, scsi::status::GOOD);
}

}  // namespace
}  // namespace qzr::hw
