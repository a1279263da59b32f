// One port device (\\.\scsiN:): a board the miniport claimed, with its
// configuration, its device and logical-unit extensions, its request queue
// and the scan results. Requests reach the miniport one at a time: HwStartIo
// is called again only after the miniport asks for the next request.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "hw/clock.h"
#include "nt/scsiport/port_records.h"
#include "srb.h"

namespace qzr::nt::scsiport {

class PortDriver;

class PortDevice {
 public:
  using RequestId = std::uint64_t;

  static constexpr ULONG kPageBytes = 4096;
  static constexpr ULONG kInquiryBytes = 36;
  // Finished requests are kept this long after their outcome was taken, so a
  // miniport still holding a pointer to one writes into live memory.
  static constexpr std::size_t kQuarantinedRequests = 64;

  PortDevice(PortDriver& driver, int pci_slot, const HW_INITIALIZATION_DATA& registration,
             PVOID hw_context);
  ~PortDevice();
  PortDevice(const PortDevice&) = delete;
  PortDevice& operator=(const PortDevice&) = delete;

  // ---- Start-up, in the order the port driver runs it ---------------------
  // Builds the configuration from the PCI header, allocates the device
  // extension and calls HwFindAdapter; returns its result.
  ULONG find_adapter(BOOLEAN& again);
  // HwInitialize, then connects the interrupt and names the device.
  bool start(int port_number);
  void scan();
  // Hands the device extension over (to be watched after it is freed).
  std::unique_ptr<std::uint64_t[]> release_extension() { return std::move(extension_); }

  int port_number() const { return port_number_; }
  const std::string& name() const { return name_; }
  int pci_slot() const { return pci_slot_; }
  const PORT_CONFIGURATION_INFORMATION& configuration() const { return config_; }
  const std::vector<ACCESS_RANGE>& access_ranges() const { return access_ranges_; }
  std::uint8_t interrupt_line() const { return interrupt_line_; }
  bool interrupt_masked() const { return interrupt_masked_; }
  ULONG maximum_transfer_bytes() const { return maximum_transfer_bytes_; }
  PVOID device_extension() const { return extension_.get(); }
  const std::vector<InquiryRecord>& inquiry_data() const { return inquiry_data_; }
  std::uint64_t start_io_calls() const { return start_io_calls_; }
  std::uint64_t reset_bus_calls() const { return reset_bus_calls_; }
  std::uint64_t resets_detected() const { return resets_detected_; }

  // ---- Requests --------------------------------------------------------------
  // Queues a request; it reaches the miniport when the device runs.
  RequestId submit(const ScsiRequest& scsi_request);
  // Lets the machine run until the request has finished or the clock reaches
  // limit_ns. Returns whether it finished.
  bool run_until_finished(RequestId id, hw::TimeNs limit_ns);
  // Runs until nothing is queued or outstanding and the miniport is ready.
  bool run_until_idle(hw::TimeNs limit_ns);
  RequestOutcome outcome(RequestId id) const;
  // Done with a request: its memory is recycled once it is long finished.
  void forget(RequestId id);
  // submit + run (bounded by the request's time-out plus a margin) + outcome.
  RequestOutcome execute(const ScsiRequest& scsi_request);

  // ---- ScsiPort services on this device ----------------------------------------
  ULONG get_bus_data(ULONG bus_data_type, ULONG bus, ULONG slot, PVOID buffer, ULONG length);
  PVOID get_device_base(INTERFACE_TYPE bus_type, ULONG bus, SCSI_PHYSICAL_ADDRESS address,
                        ULONG bytes, BOOLEAN in_io_space);
  // True when [port, port + bytes) lies in a mapped range; otherwise a driver
  // error is recorded and the access must not happen.
  bool check_port(std::uintptr_t port, std::size_t bytes, const char* service);
  void request_complete(PSCSI_REQUEST_BLOCK srb);
  void next_request() { ready_for_next_ = true; }
  void reset_detected() { ++resets_detected_; }
  void request_timer(PHW_TIMER routine, ULONG delay_us);
  void complete_matching(UCHAR path_id, UCHAR target_id, UCHAR lun, UCHAR srb_status);
  PVOID logical_unit(UCHAR path_id, UCHAR target_id, UCHAR lun);
  void log_error(PSCSI_REQUEST_BLOCK srb, UCHAR path_id, UCHAR target_id, UCHAR lun, ULONG code,
                 ULONG unique_id);
  bool started() const { return port_number_ >= 0; }

 private:
  enum class State : std::uint8_t { Queued, Outstanding, AwaitingSense, Finished };

  struct Request {
    RequestId id = 0;
    SCSI_REQUEST_BLOCK srb{};
    std::vector<std::uint8_t> sense;
    std::unique_ptr<std::uint64_t[]> srb_extension;
    State state = State::Queued;
    bool timed_out = false;
    RequestId sense_for = 0;      // an automatic REQUEST SENSE: the request it serves
    RequestId sense_request = 0;  // the REQUEST SENSE serving this one
    RequestOutcome outcome;
  };
  using Address = std::tuple<UCHAR, UCHAR, UCHAR>;

  Request* find(RequestId id) const;
  Request* find(const SCSI_REQUEST_BLOCK* srb) const;
  RequestId enqueue(std::unique_ptr<Request> request, bool at_front);
  // One bounded run of the port driver's loop.
  bool run(const std::function<bool()>& done, hw::TimeNs limit_ns);
  bool service_interrupt();
  bool check_time_outs();
  bool run_due_timer();
  void start_next();
  void time_out(Request& request);
  void remove_outstanding(Request& request);
  void miniport_completed(Request& request);
  bool wants_sense(const Request& request) const;
  void queue_request_sense(Request& original);
  void finish(Request& request);
  void recycle();
  std::optional<InquiryRecord> inquire(UCHAR path_id, UCHAR target_id, UCHAR lun);
  hw::Clock& clock();

  PortDriver& driver_;
  int pci_slot_;
  HW_INITIALIZATION_DATA registration_;
  PVOID hw_context_;
  int port_number_ = -1;
  std::string name_;

  PORT_CONFIGURATION_INFORMATION config_{};
  std::vector<ACCESS_RANGE> access_ranges_;
  std::vector<std::uint8_t> pci_header_;
  std::unique_ptr<std::uint64_t[]> extension_;
  std::map<Address, std::unique_ptr<std::uint64_t[]>> lu_extensions_;
  struct MappedRange {
    std::uintptr_t first = 0;
    std::uintptr_t end = 0;
  };
  std::vector<MappedRange> mapped_;
  MappedRange window_;  // what BAR0 decodes
  ULONG maximum_transfer_bytes_ = 0;
  std::uint8_t interrupt_line_ = 0;
  bool interrupt_masked_ = false;
  int unclaimed_interrupts_ = 0;

  std::map<RequestId, std::unique_ptr<Request>> requests_;
  std::deque<RequestId> queue_;         // waiting for HwStartIo, front first
  std::vector<RequestId> outstanding_;  // handed over, not yet completed
  std::deque<RequestId> forgotten_;     // finished and forgotten, oldest first
  RequestId next_id_ = 1;
  bool ready_for_next_ = true;

  PHW_TIMER timer_routine_ = nullptr;
  hw::TimeNs timer_due_ns_ = 0;

  std::vector<InquiryRecord> inquiry_data_;
  std::uint64_t start_io_calls_ = 0;
  std::uint64_t reset_bus_calls_ = 0;
  std::uint64_t resets_detected_ = 0;
};

}  // namespace qzr::nt::scsiport
