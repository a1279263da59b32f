// Attach-time discovery against scripted port devices: which ports are
// opened, which scanner is taken and what the inquiry cache holds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scripted_device_interface.h"

namespace qzr::aspi_test {
namespace {

const std::string kScsi0 = "\\\\.\\scsi0:";
const std::string kScsi1 = "\\\\.\\scsi1:";
const std::string kScsi2 = "\\\\.\\scsi2:";
const std::string kScsi3 = "\\\\.\\scsi3:";

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_scripted();
    NumberOfHostAdapters = 0;
    TheSannerWithHostAdapterNo = 0;
    ScannerSCSIID = 0;
    std::memset(InquiryDataBuffer, 0, sizeof InquiryDataBuffer);
  }
  void attach() { ASSERT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), 1); }
  std::vector<std::uint8_t> cached_types() const {
    std::vector<std::uint8_t> types;
    for (const auto& entry : InquiryDataBuffer) types.push_back(entry[0]);
    return types;
  }
};

std::vector<std::uint8_t> one_bus(std::vector<InquiryEntry> records) {
  return bus_info_image({std::move(records)});
}

struct PortCase {
  const char* name;
  std::map<std::string, std::optional<std::vector<std::uint8_t>>> ports;
  std::vector<std::string> expected_opens;
  UCHAR adapters;
  UCHAR scanner_id;
  std::vector<std::uint8_t> cache_types;  // first byte of each of the 7 entries
};

TEST_F(Discovery, PortsAreSearchedInOrderUntilAScannerOrAPortThatDoesNotOpen) {
  const auto disk_at_0 = one_bus({{0, 0, 0, inquiry_of(0)}});
  const std::vector<PortCase> cases = {
      {"scanner at 2 on port 0",
       {{kScsi0, one_bus({{0, 0, 0, inquiry_of(0)}, {0, 2, 0, inquiry_of(6)}})},
        {kScsi1, one_bus({{0, 4, 0, inquiry_of(6)}})}},
       {kScsi0},
       1,
       2,
       {0, 0x1F, 6, 0x1F, 0x1F, 0x1F, 0x1F}},
      {"only port 1 has a scanner",
       {{kScsi0, disk_at_0}, {kScsi1, one_bus({{0, 4, 0, inquiry_of(6)}})}},
       {kScsi0, kScsi1},
       1,
       4,
       {0x1F, 0x1F, 0x1F, 0x1F, 6, 0x1F, 0x1F}},
      {"port 1 missing stops the search before port 2",
       {{kScsi0, disk_at_0}, {kScsi2, one_bus({{0, 4, 0, inquiry_of(6)}})}},
       {kScsi0, kScsi1},
       0,
       0xFF,
       {0, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
      {"all four ports without a scanner",
       {{kScsi0, disk_at_0}, {kScsi1, disk_at_0}, {kScsi2, disk_at_0}, {kScsi3, disk_at_0}},
       {kScsi0, kScsi1, kScsi2, kScsi3},
       0,
       0xFF,
       {0, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
      {"scanner at 7 is found but not cached",
       {{kScsi0, one_bus({{0, 7, 0, inquiry_of(6)}})}},
       {kScsi0},
       1,
       7,
       {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
      // The ID is kept as found, but beyond 7 it does not count.
      {"scanner at 8 is not found",
       {{kScsi0, one_bus({{0, 8, 0, inquiry_of(6)}})}},
       {kScsi0, kScsi1},
       0,
       8,
       {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
      {"scanner with inquiry bytes 1-4 zero is not a scanner",
       {{kScsi0, one_bus({{0, 3, 0,
                           [] {
                             auto data = inquiry_of(6);
                             data[1] = data[2] = data[3] = data[4] = 0;
                             return data;
                           }()}})}},
       {kScsi0, kScsi1},
       0,
       0xFF,
       {0x1F, 0x1F, 0x1F, 6, 0x1F, 0x1F, 0x1F}},
      {"qualifier bits make a device that is stored but is no scanner",
       {{kScsi0, one_bus({{0, 1, 0, inquiry_of(0x7F)}, {0, 2, 0, inquiry_of(0x26)}})}},
       {kScsi0, kScsi1},
       0,
       0xFF,
       {0x1F, 0x7F, 0x26, 0x1F, 0x1F, 0x1F, 0x1F}},
      {"second bus searched too",
       {{kScsi0, bus_info_image({{}, {{1, 5, 0, inquiry_of(6)}}})}},
       {kScsi0},
       1,
       5,
       {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 6, 0x1F}},
      {"no port at all leaves the load-time zeros", {}, {kScsi0}, 0, 0, {0, 0, 0, 0, 0, 0, 0}},
  };
  for (const PortCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    scripted().ports = c.ports;
    attach();
    EXPECT_EQ(scripted().opened, c.expected_opens);
    EXPECT_EQ(scripted().open_handles, 0) << "a port handle was left open";
    EXPECT_EQ(NumberOfHostAdapters, c.adapters);
    EXPECT_EQ(TheSannerWithHostAdapterNo, 0);
    EXPECT_EQ(ScannerSCSIID, c.scanner_id);
    EXPECT_EQ(cached_types(), c.cache_types);
    EXPECT_EQ(GetASPI32SupportInfo(), 0x100u + c.adapters);
  }
}

TEST_F(Discovery, ALaterRecordForTheSameTargetReplacesTheEarlierAndTheLastScannerWins) {
  auto lun0 = inquiry_of(6, 0x30);
  auto lun1 = inquiry_of(6, 0x50);
  scripted().ports[kScsi0] =
      one_bus({{0, 2, 0, lun0}, {0, 2, 1, lun1}, {0, 4, 0, inquiry_of(6, 0x70)}});
  // Entries keep their bytes 1-35 from before; only byte 0 is reset.
  InquiryDataBuffer[5][7] = 0xAB;
  attach();
  EXPECT_EQ(ScannerSCSIID, 4);
  EXPECT_EQ(0, std::memcmp(InquiryDataBuffer[2], lun1.data(), 36));
  EXPECT_EQ(InquiryDataBuffer[5][0], 0x1F);
  EXPECT_EQ(InquiryDataBuffer[5][7], 0xAB);
}

TEST_F(Discovery, AnUnusableReplyCountsAsAPortWithoutAScannerAndIsNeverReadOutside) {
  // A well-formed reply with a disk at 0 and a scanner at 2, then broken.
  const auto good = one_bus({{0, 0, 0, inquiry_of(0)}, {0, 2, 0, inquiry_of(6)}});
  auto put_ulong = [](std::vector<std::uint8_t> image, std::size_t at, ULONG value) {
    std::memcpy(&image[at], &value, 4);
    return image;
  };
  const std::size_t first_offset =
      offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + offsetof(SCSI_BUS_DATA, InquiryDataOffset);
  ULONG first_record = 0;
  std::memcpy(&first_record, &good[first_offset], 4);
  const std::size_t first_next = first_record + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset);
  auto padded = [](std::vector<std::uint8_t> image) {
    image.resize(INQUIRY_REPLY_BYTES, 0);
    return image;
  };
  struct Malformed {
    const char* name;
    std::optional<std::vector<std::uint8_t>> reply;
  };
  const std::vector<Malformed> cases = {
      {"device control fails", std::nullopt},
      {"empty reply", std::vector<std::uint8_t>{}},
      {"bus count beyond the bytes returned",
       [&] {
         auto image = good;
         image[0] = 200;
         return image;
       }()},
      {"bus count beyond a short reply", std::vector<std::uint8_t>{3, 0, 0, 0, 1, 7, 0, 0}},
      {"first record beyond the reply", put_ulong(padded(good), first_offset, 2048)},
      {"first record straddling the end", put_ulong(padded(good), first_offset, 2040)},
      {"first record offset far out", put_ulong(good, first_offset, 0xFFFFFFF0u)},
      {"next record beyond the reply", put_ulong(good, first_next, 4000)},
      {"next record straddling the end", put_ulong(good, first_next, good.size() - 20)},
      {"chain looping on itself", put_ulong(good, first_next, first_record)},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    scripted().ports[kScsi0] = c.reply;
    attach();
    EXPECT_EQ(NumberOfHostAdapters, 0);
    EXPECT_EQ(ScannerSCSIID, 0xFF);
    EXPECT_EQ(cached_types(), std::vector<std::uint8_t>(7, 0x1F));
    EXPECT_EQ(scripted().open_handles, 0);
  }
}

TEST_F(Discovery, OnlyProcessAttachSearches) {
  scripted().ports[kScsi0] = one_bus({{0, 2, 0, inquiry_of(6)}});
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_EQ(DllMain(nullptr, reason, nullptr), 1);
  }
  EXPECT_TRUE(scripted().opened.empty());
}

}  // namespace
}  // namespace qzr::aspi_test
