#include "tests/scsiport/double_miniport.h"

#include <cstdio>
#include <cstdlib>

#include "tests/scsiport/port_rig.h"

namespace qzr::nt::scsiport::test {
namespace {

DoubleMiniport* g_current = nullptr;

BOOLEAN double_initialize(PVOID) {
  return TRUE;
}

BOOLEAN double_start_io(PVOID extension, PSCSI_REQUEST_BLOCK srb) {
  DoubleMiniport& miniport = DoubleMiniport::current();
  miniport.started.push_back(*srb);
  miniport.start_io(extension, srb);
  return TRUE;
}

BOOLEAN double_interrupt(PVOID extension) {
  DoubleMiniport& miniport = DoubleMiniport::current();
  ++miniport.interrupt_calls;
  return miniport.interrupt(extension);
}

ULONG double_find_adapter(PVOID extension, PVOID, PVOID, PCHAR,
                          PPORT_CONFIGURATION_INFORMATION config, PBOOLEAN again) {
  return DoubleMiniport::current().find_adapter(extension, config, again);
}

BOOLEAN double_reset_bus(PVOID extension, ULONG path_id) {
  DoubleMiniport& miniport = DoubleMiniport::current();
  ++miniport.reset_calls;
  miniport.reset_bus(extension, path_id);
  return TRUE;
}

ULONG double_driver_entry(PVOID driver_object, PVOID registry_path) {
  HW_INITIALIZATION_DATA data{};
  // Lower case on purpose: the identity match ignores case.
  char vendor_id[4] = {'1', 'f', '7', 'c'};
  char device_id[4] = {'0', '0', '0', '1'};
  data.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
  data.AdapterInterfaceType = PCIBus;
  data.HwInitialize = double_initialize;
  data.HwStartIo = double_start_io;
  data.HwInterrupt = double_interrupt;
  data.HwFindAdapter = double_find_adapter;
  data.HwResetBus = double_reset_bus;
  data.DeviceExtensionSize = DoubleMiniport::kExtensionBytes;
  data.SpecificLuExtensionSize = DoubleMiniport::kLuExtensionBytes;
  data.NumberOfAccessRanges = 2;
  data.AutoRequestSense = TRUE;
  data.VendorIdLength = 4;
  data.VendorId = vendor_id;
  data.DeviceIdLength = 4;
  data.DeviceId = device_id;
  if (DoubleMiniport::current().edit_registration) {
    DoubleMiniport::current().edit_registration(data);
  }
  return ScsiPortInitialize(driver_object, registry_path, &data, nullptr);
}

}  // namespace

DoubleMiniport::DoubleMiniport() : previous_(g_current) {
  g_current = this;
  find_adapter = [this](PVOID extension, PPORT_CONFIGURATION_INFORMATION config, PBOOLEAN again) {
    *again = FALSE;
    return map_board(extension, config);
  };
  start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    // An empty bus to the scan; everything else succeeds.
    complete(extension, srb,
             srb->Cdb[0] == 0x12 ? SRB_STATUS_SELECTION_TIMEOUT : SRB_STATUS_SUCCESS);
    next_request(extension);
  };
  interrupt = [](PVOID) -> BOOLEAN { return FALSE; };
  reset_bus = [](PVOID extension, ULONG path_id) {
    ScsiPortCompleteRequest(extension, static_cast<UCHAR>(path_id), SP_UNTAGGED, SP_UNTAGGED,
                            SRB_STATUS_BUS_RESET);
    next_request(extension);
  };
}

DoubleMiniport::~DoubleMiniport() {
  g_current = previous_;
}

DoubleMiniport& DoubleMiniport::current() {
  if (g_current == nullptr) {
    std::fprintf(stderr, "test miniport entered with no DoubleMiniport installed\n");
    std::abort();
  }
  return *g_current;
}

ULONG DoubleMiniport::load(PortDriver& port_driver) {
  return port_driver.call_driver_entry(double_driver_entry, kRegistryPath);
}

ULONG DoubleMiniport::map_board(PVOID extension, PPORT_CONFIGURATION_INFORMATION config) {
  ACCESS_RANGE& range = (*config->AccessRanges)[0];
  base = static_cast<PUCHAR>(ScsiPortGetDeviceBase(extension, config->AdapterInterfaceType,
                                                   config->SystemIoBusNumber, range.RangeStart,
                                                   range.RangeLength, TRUE));
  if (maximum_transfer_length != kUnset) config->MaximumTransferLength = maximum_transfer_length;
  if (physical_breaks != kUnset) config->NumberOfPhysicalBreaks = physical_breaks;
  config->NumberOfBuses = 1;
  return base != nullptr ? SP_RETURN_FOUND : SP_RETURN_NOT_FOUND;
}

void DoubleMiniport::complete(PVOID extension, PSCSI_REQUEST_BLOCK srb, UCHAR srb_status,
                              UCHAR scsi_status) {
  srb->SrbStatus = srb_status;
  srb->ScsiStatus = scsi_status;
  ScsiPortNotification(RequestComplete, extension, srb);
}

void DoubleMiniport::next_request(PVOID extension) {
  ScsiPortNotification(NextRequest, extension);
}

}  // namespace qzr::nt::scsiport::test
