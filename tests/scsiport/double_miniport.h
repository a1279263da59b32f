// A miniport written for these tests, linked into the test program: each
// entry point does what the test asks of it, through the same services the
// real module uses. It shows port-driver behaviour the real miniport never
// provokes (a request that hangs, an interrupt nobody claims, a wrong
// completion). One double is current at a time.
#pragma once

#include <functional>
#include <vector>

#include "nt/scsiport/port_driver.h"
#include "srb.h"

namespace qzr::nt::scsiport::test {

class DoubleMiniport {
 public:
  static constexpr ULONG kExtensionBytes = 64;
  static constexpr ULONG kLuExtensionBytes = 32;
  static constexpr ULONG kUnset = 0xFFFFFFFF;

  DoubleMiniport();
  ~DoubleMiniport();
  DoubleMiniport(const DoubleMiniport&) = delete;
  DoubleMiniport& operator=(const DoubleMiniport&) = delete;

  // Registers with the port driver through DriverEntry; returns its status.
  ULONG load(PortDriver& port_driver);

  // ---- What each entry point does (defaults in brackets) --------------------
  // [map the first access range, apply the limits below, FOUND]
  std::function<ULONG(PVOID extension, PPORT_CONFIGURATION_INFORMATION, PBOOLEAN again)>
      find_adapter;
  // [INQUIRY: SRB_STATUS_SELECTION_TIMEOUT, anything else SRB_STATUS_SUCCESS;
  //  then NextRequest]
  std::function<void(PVOID extension, PSCSI_REQUEST_BLOCK)> start_io;
  // [FALSE]
  std::function<BOOLEAN(PVOID extension)> interrupt;
  // [end every outstanding request with SRB_STATUS_BUS_RESET, NextRequest]
  std::function<void(PVOID extension, ULONG path_id)> reset_bus;
  // Changes the registration just before ScsiPortInitialize. [none]
  std::function<void(HW_INITIALIZATION_DATA&)> edit_registration;
  ULONG maximum_transfer_length = kUnset;
  ULONG physical_breaks = kUnset;

  // ---- What happened --------------------------------------------------------
  PUCHAR base = nullptr;
  std::vector<SCSI_REQUEST_BLOCK> started;  // copies, as HwStartIo received them
  int interrupt_calls = 0;
  int reset_calls = 0;

  // Helpers for behaviours.
  static void complete(PVOID extension, PSCSI_REQUEST_BLOCK srb, UCHAR srb_status,
                       UCHAR scsi_status = 0);
  static void next_request(PVOID extension);
  // The default behaviours, to fall back on.
  ULONG map_board(PVOID extension, PPORT_CONFIGURATION_INFORMATION config);

  static DoubleMiniport& current();

 private:
  DoubleMiniport* previous_;
};

}  // namespace qzr::nt::scsiport::test
