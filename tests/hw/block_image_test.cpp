// The image file behind block devices: sparse creation, what it keeps, and a
// clear message for every file a user can get wrong.
#include "hw/targets/block_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/hw/device_test_support.h"

namespace qzr::hw {
namespace {

using namespace qzr::hw::testing;

TEST(BlockImage, CreatedSparseAtTheGivenSize) {
  ScratchDir dir;
  std::string error;
  const std::uint64_t blocks = 1 << 20;  // 512 MiB of zeros
  auto image = BlockImage::create(dir.file("disk.img"), 512, blocks, error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->block_count(), blocks);
  struct stat info {};
  ASSERT_EQ(::stat(dir.file("disk.img").c_str(), &info), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), blocks * 512);
  EXPECT_LT(static_cast<std::uint64_t>(info.st_blocks) * 512, 1u << 20) << "not sparse";

  Bytes block(512, 0xAA);
  ASSERT_TRUE(image->read(blocks - 1, block, error)) << error;
  EXPECT_EQ(block, Bytes(512, 0));
}

TEST(BlockImage, WhatIsWrittenIsThereAfterReopening) {
  ScratchDir dir;
  std::string error;
  const Bytes data = pattern(3 * 1024, 5);
  {
    auto image = BlockImage::create(dir.file("disk.img"), 1024, 16, error);
    ASSERT_TRUE(image) << error;
    ASSERT_TRUE(image->write(13, data, error)) << error;
  }
  auto image = BlockImage::open(dir.file("disk.img"), 1024, BlockImage::Access::ReadOnly, error);
  ASSERT_TRUE(image) << error;
  Bytes back(3 * 1024);
  ASSERT_TRUE(image->read(13, back, error)) << error;
  EXPECT_EQ(back, data);
  EXPECT_FALSE(image->write(0, Bytes(1024, 1), error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
}

TEST(BlockImage, AccessOutsideTheImageFails) {
  ScratchDir dir;
  std::string error;
  auto image = BlockImage::create(dir.file("disk.img"), 512, 8, error);
  ASSERT_TRUE(image) << error;
  Bytes two(1024);
  EXPECT_FALSE(image->read(7, two, error));  // second block is past the end
  EXPECT_FALSE(image->write(8, Bytes(512), error));
  EXPECT_FALSE(image->write(0, Bytes(100), error));  // not whole blocks
  EXPECT_TRUE(image->read(6, two, error)) << error;
}

TEST(BlockImage, EveryBadFileGivesAMessageNamingIt) {
  ScratchDir dir;
  struct Case {
    const char* what;
    std::string path;
    std::uint32_t block_bytes;
    const char* message;
  };
  std::filesystem::create_directory(dir.file("a-directory"));
  const Case cases[] = {
      {"missing", dir.file("missing.img"), 512, "no such file"},
      {"empty", dir.write_file("empty.img", {}), 512, "too small"},
      {"ragged", dir.write_file("ragged.img", Bytes(1000)), 512,
       "not a multiple of the block size"},
      {"directory", dir.file("a-directory"), 512, "not a regular file"},
      {"block size", dir.write_file("odd.img", Bytes(1000)), 1000, "not a power of two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(BlockImage::open(c.path, c.block_bytes, BlockImage::Access::ReadWrite, error));
    EXPECT_NE(error.find(c.path), std::string::npos) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(BlockImage, CreateRefusesAnExistingFileAndAnEmptySize) {
  ScratchDir dir;
  std::string error;
  const std::string existing = dir.write_file("existing.img", pattern(512, 1));
  EXPECT_FALSE(BlockImage::create(existing, 512, 4, error));
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
  // The refused create left the old contents alone.
  EXPECT_EQ(std::filesystem::file_size(existing), 512u);
  EXPECT_FALSE(BlockImage::create(dir.file("none.img"), 512, 0, error));
  EXPECT_NE(error.find("0 blocks"), std::string::npos) << error;
}

}  // namespace
}  // namespace qzr::hw
