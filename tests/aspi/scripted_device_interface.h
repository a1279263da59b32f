// A scripted stand-in for the kernel32 device calls torvik makes: port
// devices with a fixed inquiry-data reply (or a failing device control),
// and a scanner device whose pass-through answer the test chooses. Every
// open, close and pass-through record is kept for the test to look at.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "torvik.h"

namespace qzr::aspi_test {

// One SCSI_INQUIRY_DATA record of a reply.
struct InquiryEntry {
  UCHAR path_id = 0;
  UCHAR target_id = 0;
  UCHAR lun = 0;
  std::array<std::uint8_t, 36> data{};
};

// Inquiry bytes of a device of `type` whose bytes 1-4 are not all zero.
std::array<std::uint8_t, 36> inquiry_of(std::uint8_t type, std::uint8_t tag = 0x20);

// The SCSI_ADAPTER_BUS_INFO image of buses of records, laid out as the port
// driver lays it out: bus entries, then each bus's chain in order.
std::vector<std::uint8_t> bus_info_image(const std::vector<std::vector<InquiryEntry>>& buses);

struct PassThroughCall {
  SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER record{};
  DWORD in_bytes = 0;
  DWORD out_bytes = 0;
  bool separate_buffers = false;
};

struct ScriptedDevices {
  // Present port devices by name; nullopt: opens, but the device control fails.
  std::map<std::string, std::optional<std::vector<std::uint8_t>>> ports;
  bool scanner_present = true;
  bool pass_through_fails = false;
  UCHAR scsi_status = 0;
  std::vector<std::uint8_t> data_in;     // copied to DataBuffer for reads
  std::array<std::uint8_t, 32> sense{};  // written at SenseInfoOffset

  std::vector<std::string> opened;  // every CreateFileA name, in order
  std::vector<PassThroughCall> pass_throughs;
  int open_handles = 0;
  std::vector<std::string> handle_names;
};

// The devices the kernel32 calls see; reset by each test's fixture.
ScriptedDevices& scripted();
void reset_scripted();

}  // namespace qzr::aspi_test
