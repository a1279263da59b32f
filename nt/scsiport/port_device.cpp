#include "nt/scsiport/port_device.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "hw/machine.h"
#include "nt/scsiport/current_port.h"
#include "nt/scsiport/port_driver.h"
#include "scsi.h"

namespace qzr::nt::scsiport {
namespace {

// The value the port driver puts in configuration fields the miniport is
// expected to fill in.
constexpr ULONG kUninitialized = 0xFFFFFFFF;

// Unique ids of the port driver's own error-log entries.
constexpr ULONG kTimeOutEntryId = 1;
constexpr ULONG kInterruptMaskedEntryId = 2;

constexpr std::uint32_t kBar0 = 0x10;
constexpr std::uint32_t kInterruptLine = 0x3C;

constexpr UCHAR kScsiOpInquiry = 0x12;
constexpr UCHAR kScsiOpRequestSense = 0x03;
constexpr UCHAR kQualifierNotSupported = 3;

// Zero-filled, aligned for any field a miniport puts in it, never empty so
// that even a zero-sized extension has an address of its own.
std::unique_ptr<std::uint64_t[]> zeroed_block(ULONG bytes) {
  const std::size_t words = std::max<std::size_t>(1, (bytes + 7) / 8);
  return std::make_unique<std::uint64_t[]>(words);
}

ULONG direction_flags(DataDirection direction) {
  switch (direction) {
    case DataDirection::In:
      return SRB_FLAGS_DATA_IN;
    case DataDirection::Out:
      return SRB_FLAGS_DATA_OUT;
    case DataDirection::None:
      break;
  }
  return SRB_FLAGS_NO_DATA_TRANSFER;
}

}  // namespace

PortDevice::PortDevice(PortDriver& driver, int pci_slot, const HW_INITIALIZATION_DATA& registration,
                       PVOID hw_context)
    : driver_(driver), pci_slot_(pci_slot), registration_(registration), hw_context_(hw_context) {
  // Pointers into the registrant's stack are dead once ScsiPortInitialize returns.
  registration_.VendorId = nullptr;
  registration_.DeviceId = nullptr;
}

PortDevice::~PortDevice() = default;

hw::Clock& PortDevice::clock() {
  return driver_.machine().clock();
}

// ---- Start-up -----------------------------------------------------------------

ULONG PortDevice::find_adapter(BOOLEAN& again) {
  hw::PciBus& pci = driver_.machine().pci();
  pci_header_.assign(hw::PciBus::kConfigHeaderBytes, 0);
  pci.config_read(pci_slot_, 0, pci_header_);

  // Size BAR0 the way firmware does: all ones, read the mask, put it back.
  const std::uint32_t bar0 = pci.config_read32(pci_slot_, kBar0);
  pci.config_write32(pci_slot_, kBar0, 0xFFFFFFFF);
  const std::uint32_t size_mask = pci.config_read32(pci_slot_, kBar0);
  pci.config_write32(pci_slot_, kBar0, bar0);
  const std::uint32_t io_base = bar0 & 0xFFFC;
  const std::uint32_t io_bytes = (~(size_mask & 0xFFFFFFFC) + 1) & 0xFFFF;

  const ULONG ranges = registration_.NumberOfAccessRanges;
  access_ranges_.assign(std::max<ULONG>(ranges, 1), ACCESS_RANGE{});
  access_ranges_[0].RangeStart.QuadPart = io_base;
  access_ranges_[0].RangeLength = io_bytes;
  access_ranges_[0].RangeInMemory = FALSE;

  config_ = PORT_CONFIGURATION_INFORMATION{};
  config_.Length = sizeof(PORT_CONFIGURATION_INFORMATION);
  config_.SystemIoBusNumber = 0;
  config_.AdapterInterfaceType = PCIBus;
  config_.BusInterruptLevel = pci_header_[kInterruptLine];
  config_.BusInterruptVector = pci_header_[kInterruptLine];
  config_.InterruptMode = LevelSensitive;
  config_.MaximumTransferLength = kUninitialized;
  config_.NumberOfPhysicalBreaks = kUninitialized;
  config_.DmaChannel = kUninitialized;
  config_.DmaPort = kUninitialized;
  config_.NumberOfAccessRanges = ranges;
  config_.AccessRanges = reinterpret_cast<ACCESS_RANGE(*)[]>(access_ranges_.data());
  std::fill(std::begin(config_.InitiatorBusId), std::end(config_.InitiatorBusId),
            static_cast<CCHAR>(kUninitialized));
  config_.MapBuffers = registration_.MapBuffers;
  config_.NeedPhysicalAddresses = registration_.NeedPhysicalAddresses;
  config_.TaggedQueuing = registration_.TaggedQueuing;
  config_.AutoRequestSense = registration_.AutoRequestSense;
  config_.MultipleRequestPerLu = registration_.MultipleRequestPerLu;
  config_.ReceiveEvent = registration_.ReceiveEvent;
  config_.MaximumNumberOfTargets = SCSI_MAXIMUM_TARGETS;
  config_.SlotNumber = static_cast<ULONG>(pci_slot_);
  config_.DeviceExtensionSize = registration_.DeviceExtensionSize;
  config_.SpecificLuExtensionSize = registration_.SpecificLuExtensionSize;
  config_.SrbExtensionSize = registration_.SrbExtensionSize;

  // Mapping is checked against what the PCI function decodes, not against
  // the ranges as the miniport may rewrite them.
  window_ = MappedRange{io_base, io_base + io_bytes};

  extension_ = zeroed_block(registration_.DeviceExtensionSize);
  again = FALSE;
  MiniportCall call(driver_, this);
  return registration_.HwFindAdapter(extension_.get(), hw_context_, pci_header_.data(), nullptr,
                                     &config_, &again);
}

bool PortDevice::start(int port_number) {
  std::uint64_t limit = 0xFFFFFFFF;
  if (config_.MaximumTransferLength != kUninitialized) limit = config_.MaximumTransferLength;
  if (config_.NumberOfPhysicalBreaks != kUninitialized) {
    // A buffer spans at least one page, breaks or not.
    const std::uint64_t pages = std::max<ULONG>(config_.NumberOfPhysicalBreaks, 1);
    limit = std::min<std::uint64_t>(limit, pages * kPageBytes);
  }
  maximum_transfer_bytes_ = static_cast<ULONG>(limit);

  BOOLEAN initialized = FALSE;
  {
    MiniportCall call(driver_, this);
    initialized = registration_.HwInitialize(extension_.get());
  }
  if (!initialized) return false;

  if (registration_.HwInterrupt != nullptr) {
    interrupt_line_ = static_cast<std::uint8_t>(config_.BusInterruptLevel);
  }
  port_number_ = port_number;
  name_ = "\\\\.\\scsi" + std::to_string(port_number) + ":";
  return true;
}

std::optional<InquiryRecord> PortDevice::inquire(UCHAR path_id, UCHAR target_id, UCHAR lun) {
  std::array<std::uint8_t, kInquiryBytes> data{};
  ScsiRequest scsi_request;
  scsi_request.path_id = path_id;
  scsi_request.target_id = target_id;
  scsi_request.lun = lun;
  scsi_request.cdb = {kScsiOpInquiry, static_cast<UCHAR>(lun << 5), 0, 0, kInquiryBytes, 0};
  scsi_request.direction = DataDirection::In;
  scsi_request.buffer = data;
  scsi_request.timeout_s = driver_.settings().scan_timeout_s;
  const RequestOutcome outcome = execute(scsi_request);
  const UCHAR status = SRB_STATUS(outcome.srb_status);
  if (!outcome.finished || (status != SRB_STATUS_SUCCESS && status != SRB_STATUS_DATA_OVERRUN)) {
    return std::nullopt;
  }
  if ((data[0] >> 5) == kQualifierNotSupported) return std::nullopt;
  InquiryRecord record;
  record.path_id = path_id;
  record.target_id = target_id;
  record.lun = lun;
  record.data = data;
  return record;
}

void PortDevice::scan() {
  const int buses = std::max<int>(1, config_.NumberOfBuses);
  for (int path = 0; path < buses; ++path) {
    std::vector<UCHAR> answered;
    for (UCHAR target = 0; target < SCSI_MAXIMUM_TARGETS; ++target) {
      if (auto record = inquire(static_cast<UCHAR>(path), target, 0)) {
        inquiry_data_.push_back(*record);
        answered.push_back(target);
      }
    }
    if (!driver_.settings().scan_luns_above_zero) continue;
    for (UCHAR target : answered) {
      for (UCHAR lun = 1; lun < SCSI_MAXIMUM_LOGICAL_UNITS; ++lun) {
        if (auto record = inquire(static_cast<UCHAR>(path), target, lun)) {
          inquiry_data_.push_back(*record);
        }
      }
    }
  }
  for (InquiryRecord& record : inquiry_data_) {
    record.claimed = !driver_.create_class_device(*this, record).empty();
  }
}

// ---- Requests -----------------------------------------------------------------

PortDevice::Request* PortDevice::find(RequestId id) const {
  auto found = requests_.find(id);
  return found == requests_.end() ? nullptr : found->second.get();
}

PortDevice::Request* PortDevice::find(const SCSI_REQUEST_BLOCK* srb) const {
  for (const auto& [id, request] : requests_) {
    if (&request->srb == srb) return request.get();
  }
  return nullptr;
}

PortDevice::RequestId PortDevice::enqueue(std::unique_ptr<Request> request, bool at_front) {
  const RequestId id = next_id_++;
  request->id = id;
  if (at_front) {
    queue_.push_front(id);
  } else {
    queue_.push_back(id);
  }
  requests_.emplace(id, std::move(request));
  return id;
}

PortDevice::RequestId PortDevice::submit(const ScsiRequest& scsi_request) {
  auto request = std::make_unique<Request>();
  SCSI_REQUEST_BLOCK& srb = request->srb;
  srb.Length = sizeof(SCSI_REQUEST_BLOCK);
  srb.Function = scsi_request.function;
  srb.PathId = scsi_request.path_id;
  srb.TargetId = scsi_request.target_id;
  srb.Lun = scsi_request.lun;
  srb.QueueTag = SP_UNTAGGED;
  srb.CdbLength =
      static_cast<UCHAR>(std::min<std::size_t>(scsi_request.cdb.size(), sizeof srb.Cdb));
  std::memcpy(srb.Cdb, scsi_request.cdb.data(), srb.CdbLength);
  srb.SrbFlags = direction_flags(scsi_request.direction) | scsi_request.extra_flags;
  srb.DataTransferLength = static_cast<ULONG>(scsi_request.buffer.size());
  srb.DataBuffer = scsi_request.buffer.empty() ? nullptr : scsi_request.buffer.data();
  srb.TimeOutValue = scsi_request.timeout_s;
  if (scsi_request.sense_bytes != 0) {
    request->sense.assign(scsi_request.sense_bytes, 0);
    srb.SenseInfoBuffer = request->sense.data();
    srb.SenseInfoBufferLength = scsi_request.sense_bytes;
  }
  if (registration_.SrbExtensionSize != 0) {
    request->srb_extension = zeroed_block(registration_.SrbExtensionSize);
    srb.SrbExtension = request->srb_extension.get();
  }

  if (srb.DataTransferLength > maximum_transfer_bytes_) {
    // Larger than the adapter declared it can take in one request: refused
    // here, as the miniport must never see it.
    srb.SrbStatus = SRB_STATUS_INVALID_REQUEST;
    const RequestId id = next_id_++;
    request->id = id;
    request->outcome.started_ns = clock().now_ns();
    Request& refused = *request;
    requests_.emplace(id, std::move(request));
    finish(refused);
    return id;
  }
  return enqueue(std::move(request), false);
}

bool PortDevice::run_until_finished(RequestId id, hw::TimeNs limit_ns) {
  return run(
      [this, id] {
        const Request* request = find(id);
        return request == nullptr || request->state == State::Finished;
      },
      limit_ns);
}

bool PortDevice::run_until_idle(hw::TimeNs limit_ns) {
  return run([this] { return queue_.empty() && outstanding_.empty() && ready_for_next_; },
             limit_ns);
}

RequestOutcome PortDevice::outcome(RequestId id) const {
  const Request* request = find(id);
  return request == nullptr ? RequestOutcome{} : request->outcome;
}

void PortDevice::forget(RequestId id) {
  Request* request = find(id);
  if (request == nullptr || request->state != State::Finished) return;
  forgotten_.push_back(id);
  if (request->sense_request != 0) forgotten_.push_back(request->sense_request);
  recycle();
}

void PortDevice::recycle() {
  while (forgotten_.size() > kQuarantinedRequests) {
    requests_.erase(forgotten_.front());
    forgotten_.pop_front();
  }
}

RequestOutcome PortDevice::execute(const ScsiRequest& scsi_request) {
  const RequestId id = submit(scsi_request);
  // Room for the request's own time-out, that of an automatic REQUEST SENSE
  // after it, and the bus reset; a request that never times out gets a
  // minute.
  constexpr hw::TimeNs kMarginNs = 5 * hw::kNsPerS;
  const hw::TimeNs budget_ns = scsi_request.timeout_s == 0
                                   ? 60 * hw::kNsPerS
                                   : 2 * scsi_request.timeout_s * hw::kNsPerS + kMarginNs;
  run_until_finished(id, clock().now_ns() + budget_ns);
  RequestOutcome result = outcome(id);
  forget(id);
  return result;
}

bool PortDevice::run(const std::function<bool()>& done, hw::TimeNs limit_ns) {
  hw::Clock& clock = this->clock();
  const std::uint64_t step_limit = driver_.settings().step_limit;
  for (std::uint64_t step = 0; step < step_limit; ++step) {
    if (done()) return true;
    if (service_interrupt() || check_time_outs() || run_due_timer()) continue;
    if (ready_for_next_ && !queue_.empty()) {
      start_next();
      continue;
    }
    if (clock.now_ns() >= limit_ns) return false;
    // Nothing to do until a device acts, a request times out or the timer
    // is due: let virtual time jump there.
    hw::TimeNs until_ns = limit_ns;
    for (RequestId id : outstanding_) {
      const Request* request = find(id);
      if (request->srb.TimeOutValue != 0) {
        until_ns = std::min(until_ns,
                            request->outcome.started_ns + request->srb.TimeOutValue * hw::kNsPerS);
      }
    }
    if (timer_routine_ != nullptr) until_ns = std::min(until_ns, timer_due_ns_);
    clock.run_next_event(until_ns);
  }
  driver_.record_driver_error(DriverErrorKind::MiniportUnresponsive,
                              name_ + ": no progress within the port driver's step limit");
  return done();
}

void PortDevice::start_next() {
  const RequestId id = queue_.front();
  queue_.pop_front();
  Request& request = *find(id);
  const Address address{request.srb.PathId, request.srb.TargetId, request.srb.Lun};
  if (!lu_extensions_.contains(address)) {
    lu_extensions_.emplace(address, zeroed_block(registration_.SpecificLuExtensionSize));
  }
  request.state = State::Outstanding;
  request.outcome.started_ns = clock().now_ns();
  outstanding_.push_back(id);
  ready_for_next_ = false;
  ++start_io_calls_;
  MiniportCall call(driver_, this);
  registration_.HwStartIo(extension_.get(), &request.srb);
}

bool PortDevice::service_interrupt() {
  if (interrupt_line_ == 0 || interrupt_masked_) return false;
  if (!driver_.machine().pci().interrupt_asserted(interrupt_line_)) {
    unclaimed_interrupts_ = 0;
    return false;
  }
  BOOLEAN claimed = FALSE;
  {
    MiniportCall call(driver_, this);
    claimed = registration_.HwInterrupt(extension_.get());
  }
  if (claimed) {
    unclaimed_interrupts_ = 0;
  } else if (++unclaimed_interrupts_ >= driver_.settings().unclaimed_interrupt_limit) {
    // A level-triggered line nobody claims would hold the processor forever.
    interrupt_masked_ = true;
    ErrorLogEntry entry;
    entry.time_ns = clock().now_ns();
    entry.port_number = port_number_;
    entry.from_port_driver = true;
    entry.error_code = SP_IRQ_NOT_RESPONDING;
    entry.unique_id = kInterruptMaskedEntryId;
    driver_.record_error(entry);
  }
  return true;
}

bool PortDevice::check_time_outs() {
  const hw::TimeNs now_ns = clock().now_ns();
  for (RequestId id : outstanding_) {
    Request& request = *find(id);
    if (request.srb.TimeOutValue != 0 &&
        now_ns >= request.outcome.started_ns + request.srb.TimeOutValue * hw::kNsPerS) {
      time_out(request);
      return true;
    }
  }
  return false;
}

bool PortDevice::run_due_timer() {
  if (timer_routine_ == nullptr || clock().now_ns() < timer_due_ns_) return false;
  PHW_TIMER routine = timer_routine_;
  timer_routine_ = nullptr;
  MiniportCall call(driver_, this);
  routine(extension_.get());
  return true;
}

void PortDevice::time_out(Request& request) {
  request.timed_out = true;
  ErrorLogEntry entry;
  entry.time_ns = clock().now_ns();
  entry.port_number = port_number_;
  entry.from_port_driver = true;
  entry.with_request = true;
  entry.path_id = request.srb.PathId;
  entry.target_id = request.srb.TargetId;
  entry.lun = request.srb.Lun;
  entry.error_code = SP_REQUEST_TIMEOUT;
  entry.unique_id = kTimeOutEntryId;
  driver_.record_error(entry);

  ++reset_bus_calls_;
  {
    MiniportCall call(driver_, this);
    registration_.HwResetBus(extension_.get(), request.srb.PathId);
  }
  // After a reset the port driver restarts its queue itself, whatever the
  // miniport reported.
  ready_for_next_ = true;
  if (request.state == State::Outstanding) {
    remove_outstanding(request);
    request.srb.SrbStatus = SRB_STATUS_TIMEOUT;
    miniport_completed(request);
  }
}

void PortDevice::remove_outstanding(Request& request) {
  std::erase(outstanding_, request.id);
}

bool PortDevice::wants_sense(const Request& request) const {
  const SCSI_REQUEST_BLOCK& srb = request.srb;
  return srb.Function == SRB_FUNCTION_EXECUTE_SCSI && !request.timed_out &&
         request.sense_for == 0 && srb.ScsiStatus == SCSISTAT_CHECK_CONDITION &&
         SRB_STATUS(srb.SrbStatus) == SRB_STATUS_ERROR &&
         (srb.SrbStatus & SRB_STATUS_AUTOSENSE_VALID) == 0 && srb.SenseInfoBuffer != nullptr &&
         srb.SenseInfoBufferLength != 0 && (srb.SrbFlags & SRB_FLAGS_DISABLE_AUTOSENSE) == 0;
}

void PortDevice::queue_request_sense(Request& original) {
  original.state = State::AwaitingSense;
  auto request = std::make_unique<Request>();
  SCSI_REQUEST_BLOCK& srb = request->srb;
  const UCHAR length = original.srb.SenseInfoBufferLength;
  srb.Length = sizeof(SCSI_REQUEST_BLOCK);
  srb.Function = SRB_FUNCTION_EXECUTE_SCSI;
  srb.PathId = original.srb.PathId;
  srb.TargetId = original.srb.TargetId;
  srb.Lun = original.srb.Lun;
  srb.QueueTag = SP_UNTAGGED;
  srb.CdbLength = 6;
  srb.Cdb[0] = kScsiOpRequestSense;
  srb.Cdb[1] = static_cast<UCHAR>(original.srb.Lun << 5);
  srb.Cdb[4] = length;
  srb.SrbFlags = SRB_FLAGS_DATA_IN | SRB_FLAGS_DISABLE_AUTOSENSE | SRB_FLAGS_DISABLE_DISCONNECT;
  srb.DataTransferLength = length;
  srb.DataBuffer = original.sense.data();
  srb.TimeOutValue = original.srb.TimeOutValue;
  if (registration_.SrbExtensionSize != 0) {
    request->srb_extension = zeroed_block(registration_.SrbExtensionSize);
    srb.SrbExtension = request->srb_extension.get();
  }
  request->sense_for = original.id;
  // Ahead of everything else: the target keeps its sense only until its
  // next command.
  original.sense_request = enqueue(std::move(request), true);
}

void PortDevice::miniport_completed(Request& request) {
  if (request.sense_for != 0) {
    finish(request);
    Request* original = find(request.sense_for);
    if (original == nullptr) return;
    const UCHAR status = SRB_STATUS(request.srb.SrbStatus);
    if (status == SRB_STATUS_SUCCESS || status == SRB_STATUS_DATA_OVERRUN) {
      original->srb.SrbStatus |= SRB_STATUS_AUTOSENSE_VALID;
      original->srb.SenseInfoBufferLength = static_cast<UCHAR>(
          std::min<ULONG>(request.srb.DataTransferLength, original->srb.SenseInfoBufferLength));
    }
    finish(*original);
    return;
  }
  if (wants_sense(request)) {
    queue_request_sense(request);
    return;
  }
  finish(request);
}

void PortDevice::finish(Request& request) {
  if (request.timed_out) request.srb.SrbStatus = SRB_STATUS_TIMEOUT;
  request.state = State::Finished;
  RequestOutcome& outcome = request.outcome;
  outcome.finished = true;
  outcome.srb_status = request.srb.SrbStatus;
  outcome.scsi_status = request.srb.ScsiStatus;
  outcome.bytes = request.srb.DataTransferLength;
  outcome.finished_ns = clock().now_ns();
  outcome.sense.clear();
  if (request.srb.SrbStatus & SRB_STATUS_AUTOSENSE_VALID) {
    outcome.sense.assign(
        request.sense.begin(),
        request.sense.begin() +
            std::min<std::size_t>(request.srb.SenseInfoBufferLength, request.sense.size()));
  }
}

// ---- Services -----------------------------------------------------------------

ULONG PortDevice::get_bus_data(ULONG bus_data_type, ULONG bus, ULONG slot, PVOID buffer,
                               ULONG length) {
  if (bus_data_type != PCIConfiguration || bus != 0 || buffer == nullptr) return 0;
  const int device = static_cast<int>(slot & 0x1F);
  const ULONG function = (slot >> 5) & 0x7;
  hw::PciBus& pci = driver_.machine().pci();
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  if (function != 0 || !pci.slot_occupied(device)) {
    // An empty slot answers with an invalid vendor id, two bytes long.
    if (length >= 2) bytes[0] = bytes[1] = 0xFF;
    return 2;
  }
  const std::size_t wanted = std::min<ULONG>(length, 256);
  return static_cast<ULONG>(pci.config_read(device, 0, std::span(bytes, wanted)));
}

PVOID PortDevice::get_device_base(INTERFACE_TYPE bus_type, ULONG bus, SCSI_PHYSICAL_ADDRESS address,
                                  ULONG bytes, BOOLEAN in_io_space) {
  const std::uint64_t first = static_cast<std::uint64_t>(address.QuadPart);
  const std::uint64_t end = first + bytes;
  if (bus_type != PCIBus || bus != 0 || !in_io_space || bytes == 0 || first < window_.first ||
      end > window_.end) {
    driver_.record_driver_error(DriverErrorKind::BadMapping,
                                "ScsiPortGetDeviceBase of a range the board does not decode");
    return nullptr;
  }
  mapped_.push_back(
      MappedRange{static_cast<std::uintptr_t>(first), static_cast<std::uintptr_t>(end)});
  // I/O space is reached by port number: the number is the pointer.
  return reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(first));
}

bool PortDevice::check_port(std::uintptr_t port, std::size_t bytes, const char* service) {
  for (const MappedRange& range : mapped_) {
    if (port >= range.first && port + bytes <= range.end) return true;
  }
  char text[96];
  std::snprintf(text, sizeof text, "%s of port 0x%lX, outside every mapped range", service,
                static_cast<unsigned long>(port));
  driver_.record_driver_error(DriverErrorKind::PortOutsideMappedRange, text);
  return false;
}

void PortDevice::request_complete(PSCSI_REQUEST_BLOCK srb) {
  Request* request = find(srb);
  if (request == nullptr || request->state == State::Queued) {
    driver_.record_driver_error(DriverErrorKind::CompletionOfUnknownRequest,
                                "RequestComplete for a request the port driver never handed over");
    return;
  }
  if (request->state != State::Outstanding) {
    driver_.record_driver_error(DriverErrorKind::RequestCompletedTwice,
                                "RequestComplete for a request already completed");
    return;
  }
  remove_outstanding(*request);
  miniport_completed(*request);
}

void PortDevice::request_timer(PHW_TIMER routine, ULONG delay_us) {
  if (routine == nullptr || delay_us == 0) {
    timer_routine_ = nullptr;
    return;
  }
  timer_routine_ = routine;
  timer_due_ns_ = clock().now_ns() + delay_us * hw::kNsPerUs;
}

void PortDevice::complete_matching(UCHAR path_id, UCHAR target_id, UCHAR lun, UCHAR srb_status) {
  const std::vector<RequestId> outstanding = outstanding_;
  for (RequestId id : outstanding) {
    Request& request = *find(id);
    const SCSI_REQUEST_BLOCK& srb = request.srb;
    const bool match = (path_id == SP_UNTAGGED || srb.PathId == path_id) &&
                       (target_id == SP_UNTAGGED || srb.TargetId == target_id) &&
                       (lun == SP_UNTAGGED || srb.Lun == lun);
    if (!match) continue;
    request.srb.SrbStatus = srb_status;
    remove_outstanding(request);
    miniport_completed(request);
  }
}

PVOID PortDevice::logical_unit(UCHAR path_id, UCHAR target_id, UCHAR lun) {
  auto found = lu_extensions_.find(Address{path_id, target_id, lun});
  return found == lu_extensions_.end() ? nullptr : found->second.get();
}

void PortDevice::log_error(PSCSI_REQUEST_BLOCK srb, UCHAR path_id, UCHAR target_id, UCHAR lun,
                           ULONG code, ULONG unique_id) {
  ErrorLogEntry entry;
  entry.time_ns = clock().now_ns();
  entry.port_number = port_number_;
  entry.with_request = srb != nullptr;
  entry.path_id = path_id;
  entry.target_id = target_id;
  entry.lun = lun;
  entry.error_code = code;
  entry.unique_id = unique_id;
  driver_.record_error(entry);
}

}  // namespace qzr::nt::scsiport
