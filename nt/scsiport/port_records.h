// What the port driver keeps for tests and tools to read: request outcomes,
// the inquiry data of the bus scan, the class devices it created, the
// miniport's error-log entries and debug lines, and the verifier's findings.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hw/clock.h"
#include "srb.h"

namespace qzr::nt::scsiport {

enum class DataDirection : std::uint8_t { None, In, Out };

// One SCSI request as a test or tool asks for it.
struct ScsiRequest {
  UCHAR path_id = 0;
  UCHAR target_id = 0;
  UCHAR lun = 0;
  std::vector<std::uint8_t> cdb;
  DataDirection direction = DataDirection::None;
  std::span<std::uint8_t> buffer;  // DataBuffer and DataTransferLength
  ULONG timeout_s = 10;            // TimeOutValue; 0 means the request never times out
  UCHAR sense_bytes = 18;          // SenseInfoBufferLength; 0 gives no sense buffer
  ULONG extra_flags = 0;           // SrbFlags beyond the direction
  UCHAR function = SRB_FUNCTION_EXECUTE_SCSI;
};

struct RequestOutcome {
  bool finished = false;  // false: still outstanding when the run's bound was reached
  UCHAR srb_status = 0;   // as completed, SRB_STATUS_AUTOSENSE_VALID included
  UCHAR scsi_status = 0;
  ULONG bytes = 0;                  // DataTransferLength as the miniport left it
  std::vector<std::uint8_t> sense;  // the valid sense bytes, when SRB_STATUS_AUTOSENSE_VALID
  hw::TimeNs started_ns = 0;        // handed to HwStartIo (or refused)
  hw::TimeNs finished_ns = 0;
};

// Inquiry data of one address that answered the bus scan; the record
// IOCTL_SCSI_GET_INQUIRY_DATA reports.
struct InquiryRecord {
  UCHAR path_id = 0;
  UCHAR target_id = 0;
  UCHAR lun = 0;
  bool claimed = false;  // a class device took it
  std::array<std::uint8_t, 36> data{};
};

struct ClassDevice {
  std::string name;  // "\\.\scanner0"
  int port_number = 0;
  UCHAR path_id = 0;
  UCHAR target_id = 0;
  UCHAR lun = 0;
  UCHAR device_type = 0;  // peripheral device type, inquiry byte 0 bits 4-0
};

struct ErrorLogEntry {
  hw::TimeNs time_ns = 0;
  int port_number = -1;           // -1: before the port device existed
  bool from_port_driver = false;  // the port driver's own entry, not ScsiPortLogError
  bool with_request = false;
  UCHAR path_id = 0;
  UCHAR target_id = 0;
  UCHAR lun = 0;
  ULONG error_code = 0;
  ULONG unique_id = 0;
};

struct DebugLine {
  hw::TimeNs time_ns = 0;
  ULONG level = 0;
  std::string text;
};

// What a driver verifier would stop the machine for. Recorded, not fatal:
// tests of normal paths assert there are none.
enum class DriverErrorKind : std::uint8_t {
  RequestCompletedTwice,
  CompletionOfUnknownRequest,  // a request the port driver never handed over
  PortOutsideMappedRange,
  ExtensionUsedAfterFree,
  UnknownExtension,
  ServiceOutOfContext,  // e.g. RequestComplete during HwFindAdapter
  BadRegistration,
  BadMapping,            // ScsiPortGetDeviceBase of a range not assigned
  MiniportUnresponsive,  // the port driver gave up waiting on it
};

const char* driver_error_name(DriverErrorKind kind);

struct DriverError {
  hw::TimeNs time_ns = 0;
  DriverErrorKind kind{};
  std::string what;
};

}  // namespace qzr::nt::scsiport
