// The Windows NT device namespace an application sees over one port
// driver: the port devices \\.\scsiN: and the class devices (\\.\scannerK
// and the others the port driver named), opened by handle and driven by
// device control. Refusals carry the error codes Windows gives.
//
// Choices where the platform leaves things to us:
// - Names are matched case-insensitively, as the object manager does.
// - IOCTL_SCSI_GET_INQUIRY_DATA is answered by port devices only; class
//   devices answer IOCTL_SCSI_PASS_THROUGH_DIRECT only, port devices both.
// - Pass-through on a class device goes to the device's own address,
//   whatever PathId/TargetId/Lun the record names; on a port device to the
//   address named.
// - A pass-through that ends without a SCSI status from the target (a
//   selection or command time-out, a bus reset, ...) fails the device
//   control: ERROR_SEM_TIMEOUT for time-outs, ERROR_IO_DEVICE otherwise.
//   GOOD, CHECK CONDITION and other target statuses succeed with ScsiStatus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel32_io.h"
#include "nt/scsiport/port_driver.h"
#include "ntddscsi.h"

namespace qzr::nt::io {

class DeviceNamespace {
 public:
  // A time-out above this many seconds (30 hours) is refused.
  static constexpr ULONG kMaxTimeOutS = 30 * 60 * 60;

  explicit DeviceNamespace(scsiport::PortDriver& port_driver) : port_driver_(port_driver) {}

  // The kernel32 calls; failures set the error that GetLastError reports.
  HANDLE open(LPCSTR name, DWORD access, DWORD disposition, DWORD& error);
  bool close(HANDLE handle, DWORD& error);
  bool control(HANDLE handle, DWORD code, LPVOID in, DWORD in_bytes, LPVOID out, DWORD out_bytes,
               LPDWORD returned, DWORD& error);

  std::size_t open_handles() const;

  // The SCSI_ADAPTER_BUS_INFO image of a port's scan, as the port driver
  // returns it for IOCTL_SCSI_GET_INQUIRY_DATA.
  static std::vector<std::uint8_t> inquiry_image(scsiport::PortDevice& port);

 private:
  struct Open {
    bool in_use = false;
    scsiport::PortDevice* port = nullptr;
    const scsiport::ClassDevice* class_device = nullptr;  // null: the port device itself
  };

  Open* find(HANDLE handle);
  bool inquiry_data(Open& device, LPVOID out, DWORD out_bytes, LPDWORD returned, DWORD& error);
  bool pass_through(Open& device, LPVOID in, DWORD in_bytes, LPVOID out, DWORD out_bytes,
                    LPDWORD returned, DWORD& error);

  scsiport::PortDriver& port_driver_;
  std::vector<Open> handles_;
};

// The namespace the kernel32 calls of this process reach; null: none, every
// open fails with ERROR_FILE_NOT_FOUND.
void install_namespace(DeviceNamespace* device_namespace);
DeviceNamespace* installed_namespace();

}  // namespace qzr::nt::io
