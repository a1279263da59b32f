// The SCSI port driver of one simulated machine: what a miniport sees as
// SCSIPORT. It loads miniport modules, finds their boards on the machine's
// PCI bus, starts them, scans each bus and carries requests to the miniport
// one at a time, letting virtual time pass while it waits.
//
// Choices where the platform leaves things to us:
// - The registry path handed to DriverEntry (and on to ScsiPortInitialize)
//   is a narrow, NUL-terminated string, e.g.
//   "\Registry\Machine\System\CurrentControlSet\Services\qzr6140".
//   The driver object is an opaque record of ours; ScsiPortInitialize
//   refuses any other.
// - A PCI function matches when its vendor and device identity equal the
//   registration's VendorId/DeviceId strings read as hexadecimal, case
//   ignored. SlotNumber is the PCI device number (function 0).
// - After SP_RETURN_FOUND with Again FALSE the search ends; after
//   SP_RETURN_NOT_FOUND the next matching function is tried and the
//   refused device extension is freed (and watched, see the verifier).
// - Port devices are named \\.\scsiN: in load order per machine; class
//   devices \\.\PhysicalDriveK (disks, types 0 and 7), \\.\CdRomK (types 4
//   and 5), \\.\TapeK (type 1) and \\.\scannerK (type 6), K counting per
//   name across the machine. Other types get no class device and stay
//   unclaimed.
// - The largest transfer is the smaller of MaximumTransferLength and
//   NumberOfPhysicalBreaks pages of 4096 bytes; a larger request is refused
//   with SRB_STATUS_INVALID_REQUEST before it reaches the miniport.
// - A request whose TimeOutValue is 0 never times out.
// - A finished request's outcome is the request block as it stood when it
//   was completed: a miniport that writes SrbStatus afterwards (its bus
//   reset does, into the reset request) changes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hw/machine.h"
#include "nt/scsiport/port_device.h"
#include "nt/scsiport/port_records.h"

namespace qzr::nt::scsiport {

class MiniportModule;

struct PortSettings {
  // The scan also asks LUNs 1-7 of every target whose LUN 0 answered.
  bool scan_luns_above_zero = false;
  ULONG scan_timeout_s = 4;
  // Consecutive HwInterrupt calls returning FALSE while the line stays
  // asserted before the port driver masks the line.
  int unclaimed_interrupt_limit = 100;
  // Bound on the port driver's own loop per run: a miniport that neither
  // spends time nor makes progress is given up on after this many steps.
  std::uint64_t step_limit = 20'000'000;
};

// What DriverEntry receives as its driver object: opaque to the miniport,
// which only passes it back to ScsiPortInitialize.
struct DriverObject {
  std::string module_path;
};

class PortDriver {
 public:
  using DriverEntryRoutine = ULONG (*)(PVOID driver_object, PVOID registry_path);

  explicit PortDriver(hw::Machine& machine, PortSettings settings = {});
  ~PortDriver();
  PortDriver(const PortDriver&) = delete;
  PortDriver& operator=(const PortDriver&) = delete;

  // Loads a miniport module and calls its DriverEntry. Returns DriverEntry's
  // status (0: at least one board started), or nothing with `error` set when
  // the module cannot be loaded or has no DriverEntry.
  std::optional<ULONG> load_miniport(const std::string& module_path,
                                     const std::string& registry_path, std::string& error);
  // The same for a miniport linked into the program (test doubles).
  ULONG call_driver_entry(DriverEntryRoutine entry, const std::string& registry_path);

  hw::Machine& machine() { return machine_; }
  const PortSettings& settings() const { return settings_; }

  // Port devices, in load order: port(N) is \\.\scsiN:.
  std::size_t port_count() const { return ports_.size(); }
  PortDevice& port(std::size_t number) { return *ports_.at(number); }
  PortDevice* find_port(std::string_view name);
  const std::vector<ClassDevice>& class_devices() const { return class_devices_; }

  // Port 0, for the common case of one board; with no board started the
  // request never runs (its outcome is not finished).
  RequestOutcome execute(const ScsiRequest& scsi_request) {
    return ports_.empty() ? RequestOutcome{} : ports_.front()->execute(scsi_request);
  }

  const std::vector<ErrorLogEntry>& error_log() const { return error_log_; }
  const std::vector<DebugLine>& debug_log() const { return debug_log_; }
  const std::vector<DriverError>& driver_errors() const { return driver_errors_; }
  // Every log in one text, for failure messages and the command-line tool.
  std::string format_logs() const;

  // ---- Used by the ScsiPort services and the port devices ----------------
  ULONG initialize(PVOID driver_object, PVOID registry_path, const HW_INITIALIZATION_DATA& data,
                   PVOID hw_context);
  void record_error(const ErrorLogEntry& entry) { error_log_.push_back(entry); }
  void record_debug(ULONG level, std::string text);
  void record_driver_error(DriverErrorKind kind, std::string what);
  // Looks at an extension a miniport passed to a service: true when it is
  // the current device's; otherwise a driver error is recorded.
  bool check_extension(PVOID extension, const PortDevice* current, const char* service);
  // Claims an address for a class device and returns its name.
  std::string create_class_device(const PortDevice& port, const InquiryRecord& record);

 private:
  bool matches(int slot, const std::string& vendor_id, const std::string& device_id);

  hw::Machine& machine_;
  PortSettings settings_;
  // Modules outlive the port devices whose routines they hold.
  std::vector<std::unique_ptr<MiniportModule>> modules_;
  std::vector<std::unique_ptr<DriverObject>> driver_objects_;
  std::vector<std::unique_ptr<PortDevice>> ports_;
  // Extensions of devices the miniport refused or failed to start: kept
  // allocated so that a later use is recognised rather than corrupting memory.
  std::vector<std::unique_ptr<std::uint64_t[]>> freed_extensions_;
  std::vector<ClassDevice> class_devices_;
  std::vector<ErrorLogEntry> error_log_;
  std::vector<DebugLine> debug_log_;
  std::vector<DriverError> driver_errors_;
};

}  // namespace qzr::nt::scsiport
