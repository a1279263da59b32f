// The ScsiPort services a miniport links against, with C linkage. Each one
// finds the machine and device it serves through the current port (set
// while the port driver calls into the miniport) and checks what the
// miniport hands it the way a driver verifier would.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "hw/machine.h"
#include "nt/common/windows_format.h"
#include "nt/scsiport/current_port.h"
#include "nt/scsiport/port_driver.h"
#include "srb.h"

using qzr::nt::scsiport::current_port;
using qzr::nt::scsiport::DriverErrorKind;
using qzr::nt::scsiport::PortDevice;
using qzr::nt::scsiport::PortDriver;

namespace {

// A service called while the port driver is not calling the miniport has no
// machine to act on: that is a fault of the program, not of a miniport.
PortDriver& driver(const char* service) {
  PortDriver* port_driver = current_port().driver;
  if (port_driver == nullptr) {
    std::fprintf(stderr, "%s called outside any port-driver call into a miniport\n", service);
    std::abort();
  }
  return *port_driver;
}

// The device an extension names, when it is the current device's.
PortDevice* device(PVOID extension, const char* service) {
  PortDriver& port_driver = driver(service);
  PortDevice* current = current_port().device;
  return port_driver.check_extension(extension, current, service) ? current : nullptr;
}

// The device whose ports the miniport touches, when the port lies in a
// range it mapped.
PortDevice* port_owner(const void* port, std::size_t bytes, const char* service) {
  PortDriver& port_driver = driver(service);
  PortDevice* current = current_port().device;
  if (current == nullptr) {
    port_driver.record_driver_error(DriverErrorKind::PortOutsideMappedRange,
                                    std::string(service) + " before any range was mapped");
    return nullptr;
  }
  return current->check_port(reinterpret_cast<std::uintptr_t>(port), bytes, service) ? current
                                                                                     : nullptr;
}

std::uint32_t port_number(const void* port) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(port));
}

}  // namespace

extern "C" {

ULONG ScsiPortInitialize(PVOID Argument1, PVOID Argument2,
                         PHW_INITIALIZATION_DATA HwInitializationData, PVOID HwContext) {
  PortDriver& port_driver = driver("ScsiPortInitialize");
  if (HwInitializationData == nullptr) {
    port_driver.record_driver_error(DriverErrorKind::BadRegistration,
                                    "ScsiPortInitialize without HW_INITIALIZATION_DATA");
    return 0xC000000D;  // STATUS_INVALID_PARAMETER
  }
  return port_driver.initialize(Argument1, Argument2, *HwInitializationData, HwContext);
}

ULONG ScsiPortGetBusData(PVOID DeviceExtension, ULONG BusDataType, ULONG SystemIoBusNumber,
                         ULONG SlotNumber, PVOID Buffer, ULONG Length) {
  PortDevice* port = device(DeviceExtension, "ScsiPortGetBusData");
  return port ? port->get_bus_data(BusDataType, SystemIoBusNumber, SlotNumber, Buffer, Length) : 0;
}

PVOID ScsiPortGetDeviceBase(PVOID HwDeviceExtension, INTERFACE_TYPE BusType,
                            ULONG SystemIoBusNumber, SCSI_PHYSICAL_ADDRESS IoAddress,
                            ULONG NumberOfBytes, BOOLEAN InIoSpace) {
  PortDevice* port = device(HwDeviceExtension, "ScsiPortGetDeviceBase");
  return port ? port->get_device_base(BusType, SystemIoBusNumber, IoAddress, NumberOfBytes,
                                      InIoSpace)
              : nullptr;
}

SCSI_PHYSICAL_ADDRESS ScsiPortConvertUlongToPhysicalAddress(ULONG UlongAddress) {
  SCSI_PHYSICAL_ADDRESS address;
  address.QuadPart = UlongAddress;
  return address;
}

UCHAR ScsiPortReadPortUchar(PUCHAR Port) {
  // A port nobody decodes floats high.
  if (port_owner(Port, 1, "ScsiPortReadPortUchar") == nullptr) return 0xFF;
  return current_port().driver->machine().pci().read8(port_number(Port));
}

VOID ScsiPortWritePortUchar(PUCHAR Port, UCHAR Value) {
  if (port_owner(Port, 1, "ScsiPortWritePortUchar") == nullptr) return;
  current_port().driver->machine().pci().write8(port_number(Port), Value);
}

VOID ScsiPortReadPortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count) {
  if (port_owner(Port, 4, "ScsiPortReadPortBufferUlong") == nullptr) {
    for (ULONG i = 0; i < Count; ++i) Buffer[i] = 0xFFFFFFFF;
    return;
  }
  current_port().driver->machine().pci().read32_string(port_number(Port), Buffer, Count);
}

VOID ScsiPortWritePortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count) {
  if (port_owner(Port, 4, "ScsiPortWritePortBufferUlong") == nullptr) return;
  current_port().driver->machine().pci().write32_string(port_number(Port), Buffer, Count);
}

VOID ScsiPortStallExecution(ULONG Delay) {
  driver("ScsiPortStallExecution").machine().clock().advance_by(Delay * qzr::hw::kNsPerUs);
}

VOID ScsiPortNotification(SCSI_NOTIFICATION_TYPE NotificationType, PVOID HwDeviceExtension, ...) {
  va_list arguments;
  va_start(arguments, HwDeviceExtension);
  PortDevice* port = device(HwDeviceExtension, "ScsiPortNotification");
  if (port != nullptr) {
    switch (NotificationType) {
      case RequestComplete:
        port->request_complete(va_arg(arguments, PSCSI_REQUEST_BLOCK));
        break;
      case NextRequest:
      case NextLuRequest:
        // One request at a time: the next one for any unit is the next one.
        port->next_request();
        break;
      case ResetDetected:
        port->reset_detected();
        break;
      case RequestTimerCall: {
        PHW_TIMER routine = va_arg(arguments, PHW_TIMER);
        port->request_timer(routine, va_arg(arguments, ULONG));
        break;
      }
      case CallDisableInterrupts:
      case CallEnableInterrupts: {
        // Interrupts never preempt the miniport here: the routine runs now.
        PHW_INTERRUPT routine = va_arg(arguments, PHW_INTERRUPT);
        if (routine != nullptr) routine(HwDeviceExtension);
        break;
      }
    }
  }
  va_end(arguments);
}

VOID ScsiPortCompleteRequest(PVOID HwDeviceExtension, UCHAR PathId, UCHAR TargetId, UCHAR Lun,
                             UCHAR SrbStatus) {
  if (PortDevice* port = device(HwDeviceExtension, "ScsiPortCompleteRequest")) {
    port->complete_matching(PathId, TargetId, Lun, SrbStatus);
  }
}

PVOID ScsiPortGetLogicalUnit(PVOID HwDeviceExtension, UCHAR PathId, UCHAR TargetId, UCHAR Lun) {
  PortDevice* port = device(HwDeviceExtension, "ScsiPortGetLogicalUnit");
  return port ? port->logical_unit(PathId, TargetId, Lun) : nullptr;
}

VOID ScsiPortLogError(PVOID HwDeviceExtension, PSCSI_REQUEST_BLOCK Srb, UCHAR PathId,
                      UCHAR TargetId, UCHAR Lun, ULONG ErrorCode, ULONG UniqueId) {
  if (PortDevice* port = device(HwDeviceExtension, "ScsiPortLogError")) {
    port->log_error(Srb, PathId, TargetId, Lun, ErrorCode, UniqueId);
  }
}

VOID ScsiDebugPrint(ULONG DebugPrintLevel, PCSZ DebugMessage, ...) {
  va_list arguments;
  va_start(arguments, DebugMessage);
  std::string text = qzr::nt::format_windows(DebugMessage, arguments);
  va_end(arguments);
  driver("ScsiDebugPrint").record_debug(DebugPrintLevel, std::move(text));
}

}  // extern "C"
