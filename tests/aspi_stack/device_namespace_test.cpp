// The device interface over the booted machine: what it refuses and with
// which error, the inquiry-data image, and where a pass-through goes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "kernel32_io.h"
#include "ntddscsi.h"
#include "tests/aspi_stack/stack_fixture.h"

namespace qzr::aspi_stack_test {
namespace {

HANDLE open_device(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// One pass-through record with room for sense behind it.
struct PassThrough {
  SCSI_PASS_THROUGH_DIRECT sptd{};
  ULONG filler = 0;
  std::array<UCHAR, 32> sense{};
};

PassThrough inquiry_request(UCHAR target, std::span<std::uint8_t> buffer) {
  PassThrough request;
  request.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  request.sptd.TargetId = target;
  request.sptd.CdbLength = 6;
  request.sptd.SenseInfoLength = 18;
  request.sptd.DataIn = SCSI_IOCTL_DATA_IN;
  request.sptd.DataTransferLength = static_cast<ULONG>(buffer.size());
  request.sptd.TimeOutValue = 10;
  request.sptd.DataBuffer = buffer.data();
  request.sptd.SenseInfoOffset = offsetof(PassThrough, sense);
  request.sptd.Cdb[0] = 0x12;
  request.sptd.Cdb[4] = static_cast<UCHAR>(buffer.size());
  return request;
}

BOOL send(HANDLE handle, PassThrough& request, DWORD in_bytes = sizeof(PassThrough),
          DWORD out_bytes = sizeof(PassThrough)) {
  DWORD returned = 0;
  return DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, in_bytes, &request,
                         out_bytes, &returned, nullptr);
}

TEST_F(Stack, NamesThatDoNotExistAreNotFoundAndNamesIgnoreCase) {
  struct Case {
    const char* name;
    bool opens;
  };
  const Case cases[] = {
      {"\\\\.\\scsi0:", true},  {"\\\\.\\SCSI0:", true}, {"\\\\.\\Scanner0", true},
      {"\\\\.\\scsi1:", false}, {"\\\\.\\scsi0", false}, {"\\\\.\\scanner1", false},
      {"scsi0:", false},        {"\\\\.\\CdRom0", true}, {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    HANDLE handle = open_device(c.name);
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.opens);
    if (handle != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(CloseHandle(handle), 1);
    } else {
      EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    }
  }
  SetLastError(0);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST_F(Stack, RefusalsCarryTheErrorWindowsGives) {
  std::array<std::uint8_t, 36> data{};
  std::array<std::uint8_t, 2048> reply{};
  using Attempt = std::function<BOOL(HANDLE port, HANDLE scanner)>;
  auto pass_through_with = [&](std::function<void(PassThrough&)> change, DWORD in_bytes = 0,
                               DWORD out_bytes = 0) -> Attempt {
    return [&data, change, in_bytes, out_bytes](HANDLE, HANDLE scanner) {
      PassThrough request = inquiry_request(kScannerId, data);
      change(request);
      return send(scanner, request, in_bytes ? in_bytes : sizeof(PassThrough),
                  out_bytes ? out_bytes : sizeof(PassThrough));
    };
  };
  struct Case {
    const char* name;
    Attempt attempt;
    DWORD error;
  };
  const Case cases[] = {
      {"control on a handle never opened",
       [&](HANDLE, HANDLE) {
         DWORD returned;
         return DeviceIoControl(reinterpret_cast<HANDLE>(0x1234), IOCTL_SCSI_GET_INQUIRY_DATA,
                                nullptr, 0, reply.data(), 2048, &returned, nullptr);
       },
       ERROR_INVALID_HANDLE},
      {"close of the invalid handle value",
       [](HANDLE, HANDLE) { return CloseHandle(INVALID_HANDLE_VALUE); }, ERROR_INVALID_HANDLE},
      {"unknown control code",
       [&](HANDLE port, HANDLE) {
         DWORD returned;
         return DeviceIoControl(port, 0x00041018, nullptr, 0, reply.data(), 2048, &returned,
                                nullptr);
       },
       ERROR_INVALID_FUNCTION},
      {"inquiry data asked of a class device",
       [&](HANDLE, HANDLE scanner) {
         DWORD returned;
         return DeviceIoControl(scanner, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, reply.data(),
                                2048, &returned, nullptr);
       },
       ERROR_INVALID_FUNCTION},
      {"inquiry data into too small a buffer",
       [&](HANDLE port, HANDLE) {
         DWORD returned;
         return DeviceIoControl(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, reply.data(), 40,
                                &returned, nullptr);
       },
       ERROR_INSUFFICIENT_BUFFER},
      {"no byte count",
       [&](HANDLE port, HANDLE) {
         return DeviceIoControl(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, reply.data(), 2048,
                                nullptr, nullptr);
       },
       ERROR_INVALID_PARAMETER},
      {"record length wrong", pass_through_with([](PassThrough& r) { r.sptd.Length = 40; }),
       ERROR_INVALID_PARAMETER},
      {"input shorter than the record",
       pass_through_with([](PassThrough&) {}, sizeof(SCSI_PASS_THROUGH_DIRECT) - 1),
       ERROR_INVALID_PARAMETER},
      {"output shorter than the record",
       pass_through_with([](PassThrough& r) { r.sptd.SenseInfoLength = 0; }, 0,
                         sizeof(SCSI_PASS_THROUGH_DIRECT) - 1),
       ERROR_INVALID_PARAMETER},
      {"no command bytes", pass_through_with([](PassThrough& r) { r.sptd.CdbLength = 0; }),
       ERROR_INVALID_PARAMETER},
      {"17 command bytes", pass_through_with([](PassThrough& r) { r.sptd.CdbLength = 17; }),
       ERROR_INVALID_PARAMETER},
      {"unknown direction", pass_through_with([](PassThrough& r) { r.sptd.DataIn = 3; }),
       ERROR_INVALID_PARAMETER},
      {"no time-out", pass_through_with([](PassThrough& r) { r.sptd.TimeOutValue = 0; }),
       ERROR_INVALID_PARAMETER},
      {"time-out over 30 hours",
       pass_through_with([](PassThrough& r) { r.sptd.TimeOutValue = 30 * 3600 + 1; }),
       ERROR_INVALID_PARAMETER},
      {"data length without a buffer",
       pass_through_with([](PassThrough& r) { r.sptd.DataBuffer = nullptr; }),
       ERROR_INVALID_PARAMETER},
      {"transfer beyond the adapter's largest",
       pass_through_with([](PassThrough& r) { r.sptd.DataTransferLength = 0x7FFFFFFF; }),
       ERROR_INVALID_PARAMETER},
      {"sense beyond the output buffer", pass_through_with([](PassThrough& r) {
         r.sptd.SenseInfoLength = sizeof(PassThrough) - offsetof(PassThrough, sense) + 1;
       }),
       ERROR_INVALID_PARAMETER},
      {"sense inside the record",
       pass_through_with([](PassThrough& r) { r.sptd.SenseInfoOffset = 8; }),
       ERROR_INVALID_PARAMETER},
      {"sense offset far out",
       pass_through_with([](PassThrough& r) { r.sptd.SenseInfoOffset = 0xFFFFFFF0u; }),
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE port = open_device("\\\\.\\scsi0:");
    HANDLE scanner = open_device("\\\\.\\scanner0");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    const auto calls = this->port().start_io_calls();
    SetLastError(0);
    EXPECT_EQ(c.attempt(port, scanner), 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(this->port().start_io_calls(), calls) << "a refused request reached the miniport";
    CloseHandle(port);
    CloseHandle(scanner);
  }
  HANDLE closed = open_device("\\\\.\\scsi0:");
  ASSERT_EQ(CloseHandle(closed), 1);
  EXPECT_EQ(CloseHandle(closed), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

TEST_F(Stack, InquiryDataIsTheBusInfoImageOfTheScan) {
  HANDLE handle = open_device("\\\\.\\scsi0:");
  std::array<std::uint8_t, 2048> reply;
  reply.fill(0xCC);
  DWORD returned = 0;
  ASSERT_EQ(DeviceIoControl(handle, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, reply.data(),
                            sizeof reply, &returned, nullptr),
            1);
  CloseHandle(handle);
  auto ulong_at = [&](std::size_t at) {
    ULONG value;
    std::memcpy(&value, &reply[at], 4);
    return value;
  };
  ASSERT_EQ(reply[0], 1) << "one bus";
  EXPECT_EQ(
      reply[offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + offsetof(SCSI_BUS_DATA, InitiatorBusId)], 7);
  const auto& scanned = port().inquiry_data();
  ASSERT_EQ(scanned.size(), 3u);
  EXPECT_EQ(reply[offsetof(SCSI_ADAPTER_BUS_INFO, BusData) +
                  offsetof(SCSI_BUS_DATA, NumberOfLogicalUnits)],
            3);
  ULONG offset = ulong_at(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) +
                          offsetof(SCSI_BUS_DATA, InquiryDataOffset));
  std::vector<std::uint8_t> targets;
  for (const auto& record : scanned) {
    SCOPED_TRACE(int{record.target_id});
    ASSERT_NE(offset, 0u);
    ASSERT_LE(offset + 48, returned);
    EXPECT_EQ(offset % 4, 0u);
    EXPECT_EQ(reply[offset + offsetof(SCSI_INQUIRY_DATA, PathId)], record.path_id);
    EXPECT_EQ(reply[offset + offsetof(SCSI_INQUIRY_DATA, Lun)], record.lun);
    EXPECT_EQ(reply[offset + offsetof(SCSI_INQUIRY_DATA, DeviceClaimed)], record.claimed ? 1 : 0);
    EXPECT_EQ(ulong_at(offset + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength)), 36u);
    EXPECT_EQ(0, std::memcmp(&reply[offset + offsetof(SCSI_INQUIRY_DATA, InquiryData)],
                             record.data.data(), 36));
    targets.push_back(reply[offset + offsetof(SCSI_INQUIRY_DATA, TargetId)]);
    offset = ulong_at(offset + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset));
  }
  EXPECT_EQ(offset, 0u) << "the chain ends with its last record";
  EXPECT_EQ(targets, (std::vector<std::uint8_t>{kDiskId, kScannerId, kCdRomId}));
  EXPECT_EQ(reply[returned], 0xCC) << "written past the bytes reported";
}

TEST_F(Stack, ClassDevicesGoToTheirOwnAddressPortDevicesToTheOneNamed) {
  struct Case {
    const char* device;
    UCHAR named_target;
    std::uint8_t expected_type;
  };
  const Case cases[] = {
      {"\\\\.\\scanner0", kCdRomId, 6}, {"\\\\.\\scanner0", kScannerId, 6},
      {"\\\\.\\scsi0:", kCdRomId, 5},   {"\\\\.\\scsi0:", kScannerId, 6},
      {"\\\\.\\CdRom0", kScannerId, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.device << " naming " << int{c.named_target});
    std::array<std::uint8_t, 36> data;
    data.fill(0xCC);
    PassThrough request = inquiry_request(c.named_target, data);
    HANDLE handle = open_device(c.device);
    ASSERT_EQ(send(handle, request), 1) << GetLastError();
    CloseHandle(handle);
    EXPECT_EQ(request.sptd.ScsiStatus, 0);
    EXPECT_EQ(request.sptd.DataTransferLength, 36u);
    EXPECT_EQ(data[0], c.expected_type) << "the data lands in the client's own buffer";
  }
}

TEST_F(Stack, ACheckConditionReturnsItsStatusAndTheSenseAtTheOffset) {
  std::array<std::uint8_t, 512> data{};
  PassThrough request = inquiry_request(kScannerId, data);
  request.sptd.Cdb[0] = kReadOpcode;
  request.sptd.CdbLength = 10;
  request.sense.fill(0xCC);
  HANDLE handle = open_device("\\\\.\\scanner0");
  ASSERT_EQ(send(handle, request), 1) << GetLastError();
  CloseHandle(handle);
  EXPECT_EQ(request.sptd.ScsiStatus, 2);
  EXPECT_EQ(request.sptd.SenseInfoLength, 18);
  EXPECT_EQ(request.sense[0], 0x70);
  EXPECT_EQ(request.sense[2], hw::scsi::sense_key::ILLEGAL_REQUEST);
  EXPECT_EQ(request.sense[12], 0x2C);
  EXPECT_EQ(request.sense[18], 0xCC) << "sense written beyond its length";
}

TEST_F(Stack, AnEmptyIdNamedOnThePortFailsTheControl) {
  std::array<std::uint8_t, 36> data{};
  PassThrough request = inquiry_request(5, data);
  HANDLE handle = open_device("\\\\.\\scsi0:");
  SetLastError(0);
  EXPECT_EQ(send(handle, request), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SEM_TIMEOUT});
  CloseHandle(handle);
}

}  // namespace
}  // namespace qzr::aspi_stack_test
