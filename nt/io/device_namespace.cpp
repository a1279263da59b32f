#include "nt/io/device_namespace.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <span>
#include <string_view>

#include "srb.h"

namespace qzr::nt::io {
namespace {

constexpr std::uintptr_t kFirstHandle = 0x40;
constexpr std::size_t kRecordBytes =
    offsetof(SCSI_INQUIRY_DATA, InquiryData) + scsiport::PortDevice::kInquiryBytes;

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void put_ulong(std::vector<std::uint8_t>& image, std::size_t at, ULONG value) {
  std::memcpy(&image[at], &value, sizeof value);
}

DWORD error_of(UCHAR srb_status) {
  switch (SRB_STATUS(srb_status)) {
    case SRB_STATUS_TIMEOUT:
    case SRB_STATUS_SELECTION_TIMEOUT:
    case SRB_STATUS_COMMAND_TIMEOUT:
      return ERROR_SEM_TIMEOUT;
    case SRB_STATUS_INVALID_REQUEST:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_IO_DEVICE;
  }
}

DeviceNamespace* current = nullptr;

}  // namespace

void install_namespace(DeviceNamespace* device_namespace) {
  current = device_namespace;
}
DeviceNamespace* installed_namespace() {
  return current;
}

HANDLE DeviceNamespace::open(LPCSTR name, DWORD access, DWORD disposition, DWORD& error) {
  (void)access;
  if (name == nullptr) {
    error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  Open device;
  for (std::size_t n = 0; n < port_driver_.port_count(); ++n) {
    if (same_name(name, port_driver_.port(n).name())) device.port = &port_driver_.port(n);
  }
  if (device.port == nullptr) {
    for (const scsiport::ClassDevice& class_device : port_driver_.class_devices()) {
      if (same_name(name, class_device.name)) {
        device.port = &port_driver_.port(static_cast<std::size_t>(class_device.port_number));
        device.class_device = &class_device;
      }
    }
  }
  if (device.port == nullptr) {
    error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  device.in_use = true;
  auto slot =
      std::find_if(handles_.begin(), handles_.end(), [](const Open& o) { return !o.in_use; });
  if (slot == handles_.end()) slot = handles_.insert(handles_.end(), Open{});
  *slot = device;
  return reinterpret_cast<HANDLE>(kFirstHandle +
                                  4 * static_cast<std::uintptr_t>(slot - handles_.begin()));
}

DeviceNamespace::Open* DeviceNamespace::find(HANDLE handle) {
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kFirstHandle || (value - kFirstHandle) % 4 != 0) return nullptr;
  std::size_t index = (value - kFirstHandle) / 4;
  if (index >= handles_.size() || !handles_[index].in_use) return nullptr;
  return &handles_[index];
}

bool DeviceNamespace::close(HANDLE handle, DWORD& error) {
  Open* device = find(handle);
  if (device == nullptr) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  *device = Open{};
  return true;
}

std::size_t DeviceNamespace::open_handles() const {
  return static_cast<std::size_t>(
      std::count_if(handles_.begin(), handles_.end(), [](const Open& o) { return o.in_use; }));
}

bool DeviceNamespace::control(HANDLE handle, DWORD code, LPVOID in, DWORD in_bytes, LPVOID out,
                              DWORD out_bytes, LPDWORD returned, DWORD& error) {
  Open* device = find(handle);
  if (device == nullptr) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  // A synchronous call without somewhere to report the byte count would
  // fault in the caller on Windows; refuse it here.
  if (returned == nullptr) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  *returned = 0;
  if (code == IOCTL_SCSI_GET_INQUIRY_DATA && device->class_device == nullptr) {
    return inquiry_data(*device, out, out_bytes, returned, error);
  }
  if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
    return pass_through(*device, in, in_bytes, out, out_bytes, returned, error);
  }
  error = ERROR_INVALID_FUNCTION;
  return false;
}

std::vector<std::uint8_t> DeviceNamespace::inquiry_image(scsiport::PortDevice& port) {
  const PORT_CONFIGURATION_INFORMATION& config = port.configuration();
  std::size_t buses = std::max<std::size_t>(config.NumberOfBuses, 1);
  for (const scsiport::InquiryRecord& record : port.inquiry_data()) {
    buses = std::max<std::size_t>(buses, std::size_t{record.path_id} + 1);
  }
  std::size_t header = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + buses * sizeof(SCSI_BUS_DATA);
  std::vector<std::uint8_t> image(header, 0);
  image[0] = static_cast<std::uint8_t>(buses);
  for (std::size_t bus = 0; bus < buses; ++bus) {
    std::size_t entry = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA);
    image[entry + offsetof(SCSI_BUS_DATA, InitiatorBusId)] =
        bus < 8 ? static_cast<std::uint8_t>(config.InitiatorBusId[bus]) : 7;
    std::size_t previous_next = 0;
    UCHAR units = 0;
    for (const scsiport::InquiryRecord& record : port.inquiry_data()) {
      if (record.path_id != bus) continue;
      std::size_t at = image.size();
      put_ulong(
          image,
          previous_next != 0 ? previous_next : entry + offsetof(SCSI_BUS_DATA, InquiryDataOffset),
          static_cast<ULONG>(at));
      image.resize(at + kRecordBytes, 0);
      image[at + offsetof(SCSI_INQUIRY_DATA, PathId)] = record.path_id;
      image[at + offsetof(SCSI_INQUIRY_DATA, TargetId)] = record.target_id;
      image[at + offsetof(SCSI_INQUIRY_DATA, Lun)] = record.lun;
      image[at + offsetof(SCSI_INQUIRY_DATA, DeviceClaimed)] = record.claimed ? 1 : 0;
      put_ulong(image, at + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength),
                scsiport::PortDevice::kInquiryBytes);
      std::memcpy(&image[at + offsetof(SCSI_INQUIRY_DATA, InquiryData)], record.data.data(),
                  record.data.size());
      previous_next = at + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset);
      ++units;
    }
    image[entry + offsetof(SCSI_BUS_DATA, NumberOfLogicalUnits)] = units;
  }
  return image;
}

bool DeviceNamespace::inquiry_data(Open& device, LPVOID out, DWORD out_bytes, LPDWORD returned,
                                   DWORD& error) {
  std::vector<std::uint8_t> image = inquiry_image(*device.port);
  if (out == nullptr || out_bytes < image.size()) {
    error = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  std::memcpy(out, image.data(), image.size());
  *returned = static_cast<DWORD>(image.size());
  return true;
}

bool DeviceNamespace::pass_through(Open& device, LPVOID in, DWORD in_bytes, LPVOID out,
                                   DWORD out_bytes, LPDWORD returned, DWORD& error) {
  error = ERROR_INVALID_PARAMETER;
  if (in == nullptr || out == nullptr || in_bytes < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
      out_bytes < sizeof(SCSI_PASS_THROUGH_DIRECT)) {
    return false;
  }
  SCSI_PASS_THROUGH_DIRECT request;
  std::memcpy(&request, in, sizeof request);
  if (request.Length != sizeof(SCSI_PASS_THROUGH_DIRECT) || request.CdbLength == 0 ||
      request.CdbLength > sizeof request.Cdb || request.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED ||
      request.TimeOutValue == 0 || request.TimeOutValue > kMaxTimeOutS) {
    return false;
  }
  if (request.DataTransferLength > 0 &&
      (request.DataBuffer == nullptr ||
       request.DataTransferLength > device.port->maximum_transfer_bytes())) {
    return false;
  }
  // The sense lands in the output buffer; it must lie inside it, past the
  // record it follows.
  if (request.SenseInfoLength > 0 &&
      (request.SenseInfoOffset < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
       request.SenseInfoOffset > out_bytes ||
       out_bytes - request.SenseInfoOffset < request.SenseInfoLength)) {
    return false;
  }

  scsiport::ScsiRequest scsi_request;
  if (device.class_device != nullptr) {
    scsi_request.path_id = device.class_device->path_id;
    scsi_request.target_id = device.class_device->target_id;
    scsi_request.lun = device.class_device->lun;
  } else {
    scsi_request.path_id = request.PathId;
    scsi_request.target_id = request.TargetId;
    scsi_request.lun = request.Lun;
  }
  scsi_request.cdb.assign(request.Cdb, request.Cdb + request.CdbLength);
  if (request.DataTransferLength > 0 && request.DataIn != SCSI_IOCTL_DATA_UNSPECIFIED) {
    scsi_request.direction = request.DataIn == SCSI_IOCTL_DATA_IN ? scsiport::DataDirection::In
                                                                  : scsiport::DataDirection::Out;
    // The client's own buffer, without a copy.
    scsi_request.buffer = std::span<std::uint8_t>(static_cast<std::uint8_t*>(request.DataBuffer),
                                                  request.DataTransferLength);
  }
  scsi_request.timeout_s = request.TimeOutValue;
  scsi_request.sense_bytes = request.SenseInfoLength;

  scsiport::RequestOutcome outcome = device.port->execute(scsi_request);
  if (!outcome.finished) {
    error = ERROR_SEM_TIMEOUT;
    return false;
  }
  UCHAR srb_status = SRB_STATUS(outcome.srb_status);
  bool target_answered = srb_status == SRB_STATUS_SUCCESS || srb_status == SRB_STATUS_ERROR ||
                         srb_status == SRB_STATUS_DATA_OVERRUN;
  if (!target_answered || (srb_status == SRB_STATUS_ERROR && outcome.scsi_status == 0)) {
    error = error_of(outcome.srb_status);
    return false;
  }
  request.ScsiStatus = outcome.scsi_status;
  request.DataTransferLength = std::min(outcome.bytes, request.DataTransferLength);
  UCHAR sense = 0;
  if ((outcome.srb_status & SRB_STATUS_AUTOSENSE_VALID) != 0) {
    sense =
        static_cast<UCHAR>(std::min<std::size_t>(outcome.sense.size(), request.SenseInfoLength));
    if (sense > 0)
      std::memcpy(static_cast<std::uint8_t*>(out) + request.SenseInfoOffset, outcome.sense.data(),
                  sense);
  }
  request.SenseInfoLength = sense;
  std::memcpy(out, &request, sizeof request);
  *returned = static_cast<DWORD>(sizeof request);
  error = ERROR_SUCCESS;
  return true;
}

}  // namespace qzr::nt::io
