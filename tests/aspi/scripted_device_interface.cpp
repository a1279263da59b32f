#include "scripted_device_interface.h"

#include <cstring>

namespace qzr::aspi_test {
namespace {

ScriptedDevices devices;
DWORD last_error = 0;

constexpr std::uintptr_t kFirstHandle = 0x100;

std::string* name_of(HANDLE handle) {
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kFirstHandle || value - kFirstHandle >= devices.handle_names.size()) return nullptr;
  std::string& name = devices.handle_names[value - kFirstHandle];
  return name.empty() ? nullptr : &name;
}

}  // namespace

ScriptedDevices& scripted() {
  return devices;
}
void reset_scripted() {
  devices = ScriptedDevices{};
  last_error = 0;
}

std::array<std::uint8_t, 36> inquiry_of(std::uint8_t type, std::uint8_t tag) {
  std::array<std::uint8_t, 36> data{};
  data[0] = type;
  data[2] = 0x02;
  data[4] = 31;
  for (std::size_t i = 8; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(tag + i);
  return data;
}

std::vector<std::uint8_t> bus_info_image(const std::vector<std::vector<InquiryEntry>>& buses) {
  std::size_t header =
      offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + buses.size() * sizeof(SCSI_BUS_DATA);
  std::vector<std::uint8_t> image(header, 0);
  image[0] = static_cast<std::uint8_t>(buses.size());
  auto put_ulong = [&](std::size_t at, ULONG value) { std::memcpy(&image[at], &value, 4); };
  for (std::size_t bus = 0; bus < buses.size(); ++bus) {
    std::size_t entry = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA);
    image[entry] = static_cast<std::uint8_t>(buses[bus].size());
    image[entry + 1] = 7;
    std::size_t previous_next = 0;
    for (const InquiryEntry& record : buses[bus]) {
      std::size_t at = image.size();
      if (previous_next == 0) {
        put_ulong(entry + offsetof(SCSI_BUS_DATA, InquiryDataOffset), static_cast<ULONG>(at));
      } else {
        put_ulong(previous_next, static_cast<ULONG>(at));
      }
      image.resize(at + offsetof(SCSI_INQUIRY_DATA, InquiryData) + 36, 0);
      image[at] = record.path_id;
      image[at + 1] = record.target_id;
      image[at + 2] = record.lun;
      put_ulong(at + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength), 36);
      std::memcpy(&image[at + offsetof(SCSI_INQUIRY_DATA, InquiryData)], record.data.data(), 36);
      previous_next = at + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset);
    }
  }
  return image;
}

}  // namespace qzr::aspi_test

using qzr::aspi_test::devices;
using qzr::aspi_test::kFirstHandle;
using qzr::aspi_test::last_error;
using qzr::aspi_test::name_of;

extern "C" {

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  devices.opened.emplace_back(name);
  bool present = devices.ports.count(name) != 0 ||
                 (devices.scanner_present && std::strcmp(name, "\\\\.\\scanner0") == 0);
  if (!present) {
    last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  devices.handle_names.emplace_back(name);
  ++devices.open_handles;
  return reinterpret_cast<HANDLE>(kFirstHandle + devices.handle_names.size() - 1);
}

BOOL CloseHandle(HANDLE handle) {
  std::string* name = name_of(handle);
  if (name == nullptr) {
    last_error = ERROR_INVALID_HANDLE;
    return 0;
  }
  name->clear();
  --devices.open_handles;
  return 1;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD in_bytes, LPVOID out,
                     DWORD out_bytes, LPDWORD returned, LPOVERLAPPED) {
  std::string* name = name_of(handle);
  if (name == nullptr) {
    last_error = ERROR_INVALID_HANDLE;
    return 0;
  }
  auto port = devices.ports.find(*name);
  if (port != devices.ports.end() && code == IOCTL_SCSI_GET_INQUIRY_DATA) {
    if (!port->second) {
      last_error = ERROR_IO_DEVICE;
      return 0;
    }
    const std::vector<std::uint8_t>& reply = *port->second;
    if (reply.size() > out_bytes) {
      last_error = ERROR_INSUFFICIENT_BUFFER;
      return 0;
    }
    if (!reply.empty()) std::memcpy(out, reply.data(), reply.size());
    *returned = static_cast<DWORD>(reply.size());
    return 1;
  }
  if (port == devices.ports.end() && code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
    qzr::aspi_test::PassThroughCall call;
    std::memcpy(&call.record, in, sizeof call.record);
    call.in_bytes = in_bytes;
    call.out_bytes = out_bytes;
    call.separate_buffers = in != out;
    devices.pass_throughs.push_back(call);
    if (devices.pass_through_fails) {
      last_error = ERROR_IO_DEVICE;
      return 0;
    }
    auto* record = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
    if (record->DataIn == SCSI_IOCTL_DATA_IN && record->DataBuffer != nullptr) {
      std::size_t bytes = std::min<std::size_t>(record->DataTransferLength, devices.data_in.size());
      if (bytes > 0) std::memcpy(record->DataBuffer, devices.data_in.data(), bytes);
    }
    record->ScsiStatus = devices.scsi_status;
    if (devices.scsi_status == 0x02) {
      std::memcpy(static_cast<std::uint8_t*>(out) + record->SenseInfoOffset, devices.sense.data(),
                  record->SenseInfoLength);
    }
    *returned = sizeof(SCSI_PASS_THROUGH_DIRECT);
    return 1;
  }
  last_error = ERROR_INVALID_FUNCTION;
  return 0;
}

DWORD GetLastError(void) {
  return last_error;
}
void SetLastError(DWORD code) {
  last_error = code;
}

}  // extern "C"
