#include "tests/driver/recording_port.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "nt/common/windows_format.h"

namespace qzr::driver_test {
namespace {

RecordingPort* g_current = nullptr;

const char* read_name(unsigned offset) {
  switch (offset) {
    case 0:
      return "CSD";
    case 1:
      return "ICR";
    case 2:
      return "MR";
    case 3:
      return "TCR";
    case 4:
      return "CSBS";
    case 5:
      return "BSR";
    case 6:
      return "IDR";
    case 7:
      return "RPI";
    case 8:
      return "HOST_BUFFER_PORT";
    case 9:
      return "BOARD_STATUS";
    case 10:
      return "BLOCK_COUNT_LOW";
    case 12:
      return "BLOCK_COUNT_HIGH";
    case 13:
      return "SWAP_CONTROL";
    case 26:
      return "BUFFER_ACCESS";
    default:
      return nullptr;
  }
}

const char* write_name(unsigned offset) {
  switch (offset) {
    case 0:
      return "ODR";
    case 4:
      return "SER";
    case 5:
      return "SDS";
    case 6:
      return "SDTR";
    case 7:
      return "SDIR";
    case 9:
      return "BOARD_CONTROL";
    default:
      return read_name(offset);
  }
}

std::string register_name(unsigned offset, bool write) {
  if (offset == Event::kOutsideWindow) return "outside";
  const char* name = write ? write_name(offset) : read_name(offset);
  return name != nullptr ? name : "reg" + std::to_string(offset);
}

std::string hex(std::uint32_t value, int digits = 2) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

const char* notification_name(std::uint32_t type) {
  switch (type) {
    case RequestComplete:
      return "RequestComplete";
    case NextRequest:
      return "NextRequest";
    case NextLuRequest:
      return "NextLuRequest";
    case ResetDetected:
      return "ResetDetected";
    default:
      return "Notification";
  }
}

}  // namespace

RecordingPort::RecordingPort() : previous_(g_current) {
  g_current = this;
  events_.reserve(1 << 16);
}

RecordingPort::~RecordingPort() {
  g_current = previous_;
}

RecordingPort& RecordingPort::current() {
  if (g_current == nullptr) {
    std::fprintf(stderr, "driver called a ScsiPort service with no RecordingPort installed\n");
    std::abort();
  }
  return *g_current;
}

PUCHAR RecordingPort::base() const {
  return reinterpret_cast<PUCHAR>(static_cast<std::uintptr_t>(base_port_));
}

void RecordingPort::answer(unsigned offset, std::initializer_list<UCHAR> values) {
  auto& queue = registers_.at(offset).queue;
  queue.insert(queue.end(), values.begin(), values.end());
}

void RecordingPort::set_default(unsigned offset, UCHAR value) {
  registers_.at(offset).default_value = value;
}

void RecordingPort::on_read(unsigned offset,
                            std::function<UCHAR(std::uint64_t read_index)> callback) {
  registers_.at(offset).callback = std::move(callback);
}

void RecordingPort::echo_writes(unsigned offset) {
  registers_.at(offset).echo_writes = true;
}

void RecordingPort::on_write(unsigned offset, std::function<void(UCHAR value)> callback) {
  registers_.at(offset).write_callback = std::move(callback);
}

void RecordingPort::answer_buffer(std::initializer_list<ULONG> words) {
  buffer_words_.insert(buffer_words_.end(), words.begin(), words.end());
}

void RecordingPort::answer_buffer_bytes(const std::vector<UCHAR>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    ULONG word = 0;
    for (std::size_t k = 0; k < 4 && i + k < bytes.size(); ++k) {
      word |= static_cast<ULONG>(bytes[i + k]) << (8 * k);
    }
    buffer_words_.push_back(word);
  }
}

void RecordingPort::add_logical_unit(UCHAR path, UCHAR target, UCHAR lun, PVOID extension) {
  logical_units_[{path, target, lun}] = extension;
}

void RecordingPort::clear() {
  events_.clear();
  details_.clear();
  outside_window_ = 0;
}

void RecordingPort::name(const SCSI_REQUEST_BLOCK* srb, std::string name) {
  names_[srb] = std::move(name);
}

std::string RecordingPort::srb_name(const void* srb) const {
  if (srb == nullptr) return "none";
  auto found = names_.find(srb);
  if (found != names_.end()) return found->second;
  char text[32];
  std::snprintf(text, sizeof text, "srb@%p", srb);
  return text;
}

std::uint8_t RecordingPort::offset_of(const void* port) {
  auto address = reinterpret_cast<std::uintptr_t>(port);
  if (address < base_port_ || address >= base_port_ + kWindowBytes) {
    ++outside_window_;
    return Event::kOutsideWindow;
  }
  return static_cast<std::uint8_t>(address - base_port_);
}

void RecordingPort::append(Call call, std::uint8_t reg, std::uint32_t value) {
  events_.push_back(Event{call, reg, value, Event::kNoDetail});
}

std::uint32_t RecordingPort::append_detail(Call call, std::uint32_t value, Detail detail) {
  auto index = static_cast<std::uint32_t>(details_.size());
  details_.push_back(std::move(detail));
  events_.push_back(Event{call, 0, value, index});
  return index;
}

UCHAR RecordingPort::read_port(PUCHAR port) {
  std::uint8_t reg = offset_of(port);
  UCHAR value = 0xFF;  // an unmapped port floats high
  if (reg != Event::kOutsideWindow && hardware_) {
    value = hardware_->read8(reg);
  } else if (reg != Event::kOutsideWindow) {
    RegisterScript& script = registers_[reg];
    if (!script.queue.empty()) {
      value = script.queue.front();
      script.queue.pop_front();
    } else if (script.callback) {
      value = script.callback(script.reads);
    } else {
      value = script.default_value;
    }
    ++script.reads;
  }
  append(Call::PortRead, reg, value);
  return value;
}

void RecordingPort::write_port(PUCHAR port, UCHAR value) {
  std::uint8_t reg = offset_of(port);
  if (reg != Event::kOutsideWindow && registers_[reg].echo_writes) {
    registers_[reg].default_value = value;
  }
  append(Call::PortWrite, reg, value);
  if (reg != Event::kOutsideWindow && hardware_) hardware_->write8(reg, value);
  if (reg != Event::kOutsideWindow && registers_[reg].write_callback) {
    registers_[reg].write_callback(value);
  }
}

void RecordingPort::read_buffer(PULONG port, PULONG buffer, ULONG count) {
  Detail detail;
  detail.a = offset_of(port);
  for (ULONG i = 0; i < count; ++i) {
    ULONG word = 0;
    if (hardware_) {
      word = hardware_->read32(detail.a);
    } else if (!buffer_words_.empty()) {
      word = buffer_words_.front();
      buffer_words_.pop_front();
    }
    buffer[i] = word;
    detail.words.push_back(word);
  }
  append_detail(Call::BufferRead, count, std::move(detail));
}

void RecordingPort::write_buffer(PULONG port, PULONG buffer, ULONG count) {
  Detail detail;
  detail.a = offset_of(port);
  detail.words.assign(buffer, buffer + count);
  if (hardware_) {
    for (ULONG i = 0; i < count; ++i) hardware_->write32(detail.a, buffer[i]);
  }
  append_detail(Call::BufferWrite, count, std::move(detail));
}

void RecordingPort::stall(ULONG microseconds) {
  append(Call::Stall, 0, microseconds);
  if (hardware_) hardware_->stall(microseconds);
}

void RecordingPort::notify(SCSI_NOTIFICATION_TYPE type, const SCSI_REQUEST_BLOCK* srb,
                           std::uint32_t path, std::uint32_t target, std::uint32_t lun) {
  Detail detail;
  detail.srb = srb;
  detail.a = path;
  detail.b = target;
  detail.c = lun;
  append_detail(Call::Notify, static_cast<std::uint32_t>(type), std::move(detail));
}

void RecordingPort::complete_request(UCHAR path, UCHAR target, UCHAR lun, UCHAR status) {
  Detail detail;
  detail.a = path;
  detail.b = target;
  detail.c = lun;
  append_detail(Call::CompleteRequest, status, std::move(detail));
}

PVOID RecordingPort::get_logical_unit(UCHAR path, UCHAR target, UCHAR lun) {
  Detail detail;
  detail.a = path;
  detail.b = target;
  detail.c = lun;
  append_detail(Call::GetLogicalUnit, 0, std::move(detail));
  auto found = logical_units_.find({path, target, lun});
  return found == logical_units_.end() ? nullptr : found->second;
}

void RecordingPort::log_error(const SCSI_REQUEST_BLOCK* srb, UCHAR path, UCHAR target, UCHAR lun,
                              ULONG code, ULONG unique_id) {
  Detail detail;
  detail.srb = srb;
  detail.a = path;
  detail.b = target;
  detail.c = lun;
  detail.d = code;
  detail.e = unique_id;
  append_detail(Call::LogError, code, std::move(detail));
}

void RecordingPort::debug_print(ULONG level, std::string text) {
  Detail detail;
  detail.text = std::move(text);
  append_detail(Call::DebugPrint, level, std::move(detail));
}

ULONG RecordingPort::get_bus_data(ULONG type, ULONG bus, ULONG slot, PVOID buffer, ULONG length) {
  Detail detail;
  detail.a = type;
  detail.b = bus;
  detail.c = slot;
  detail.d = length;
  append_detail(Call::GetBusData, length, std::move(detail));
  auto* bytes = static_cast<UCHAR*>(buffer);
  for (ULONG i = 0; i < length && i < pci_header_.size(); ++i) bytes[i] = pci_header_[i];
  return bus_data_result_;
}

PVOID RecordingPort::get_device_base(INTERFACE_TYPE type, ULONG bus, SCSI_PHYSICAL_ADDRESS address,
                                     ULONG length, BOOLEAN in_io_space) {
  Detail detail;
  detail.a = static_cast<std::uint32_t>(type);
  detail.b = bus;
  detail.c = address.LowPart;
  detail.d = length;
  detail.e = in_io_space;
  append_detail(Call::GetDeviceBase, address.LowPart, std::move(detail));
  return has_override_ ? device_base_override_ : base();
}

void RecordingPort::convert_address(ULONG address) {
  append(Call::ConvertAddress, 0, address);
}

ULONG RecordingPort::initialize(PVOID argument1, PVOID argument2, PHW_INITIALIZATION_DATA data,
                                PVOID context) {
  Registration registration;
  registration.argument1 = argument1;
  registration.argument2 = argument2;
  registration.data = *data;
  if (data->VendorId != nullptr) {
    registration.vendor_id.assign(static_cast<const char*>(data->VendorId), data->VendorIdLength);
  }
  if (data->DeviceId != nullptr) {
    registration.device_id.assign(static_cast<const char*>(data->DeviceId), data->DeviceIdLength);
  }
  if (context != nullptr) {
    registration.has_context = true;
    registration.context_value = *static_cast<const ULONG*>(context);
  }
  // The identity strings may live on the caller's stack: keep copies only.
  registration.data.VendorId = nullptr;
  registration.data.DeviceId = nullptr;
  registrations_.push_back(std::move(registration));
  append(Call::Initialize, 0, 0);
  return initialize_result_;
}

std::string RecordingPort::to_string(const Event& event) const {
  switch (event.call) {
    case Call::PortRead:
      return register_name(event.reg, false) + " -> " + hex(event.value);
    case Call::PortWrite:
      return register_name(event.reg, true) + " <- " + hex(event.value);
    case Call::Stall:
      return "stall " + std::to_string(event.value);
    case Call::BufferRead:
    case Call::BufferWrite: {
      const Detail& d = detail(event);
      return std::string(event.call == Call::BufferRead ? "buffer read " : "buffer write ") +
             register_name(d.a, event.call == Call::BufferWrite) + " x" +
             std::to_string(event.value);
    }
    case Call::Notify: {
      const Detail& d = detail(event);
      std::string text = notification_name(event.value);
      if (event.value == RequestComplete) text += "(" + srb_name(d.srb) + ")";
      if (event.value == NextLuRequest) {
        text += "(" + std::to_string(d.a) + ", " + std::to_string(d.b) + ", " +
                std::to_string(d.c) + ")";
      }
      return text;
    }
    case Call::CompleteRequest: {
      const Detail& d = detail(event);
      return "CompleteRequest(" + std::to_string(d.a) + ", " + hex(d.b) + ", " + hex(d.c) + ", " +
             hex(event.value) + ")";
    }
    case Call::GetLogicalUnit: {
      const Detail& d = detail(event);
      return "GetLogicalUnit(" + std::to_string(d.a) + ", " + std::to_string(d.b) + ", " +
             std::to_string(d.c) + ")";
    }
    case Call::LogError: {
      const Detail& d = detail(event);
      return "LogError(" + srb_name(d.srb) + ", " + std::to_string(d.a) + ", " +
             std::to_string(d.b) + ", " + std::to_string(d.c) + ", code " + hex(d.d) + ", id " +
             std::to_string(d.e) + ")";
    }
    case Call::DebugPrint:
      return "print " + std::to_string(event.value) + " \"" + escaped(detail(event).text) + "\"";
    case Call::GetBusData: {
      const Detail& d = detail(event);
      return "GetBusData(" + std::to_string(d.a) + ", " + std::to_string(d.b) + ", " +
             std::to_string(d.c) + ", " + std::to_string(d.d) + ")";
    }
    case Call::GetDeviceBase: {
      const Detail& d = detail(event);
      return "GetDeviceBase(" + std::to_string(d.a) + ", " + std::to_string(d.b) + ", " +
             hex(d.c, 4) + ", " + std::to_string(d.d) + ", " + (d.e ? "io" : "memory") + ")";
    }
    case Call::ConvertAddress:
      return "ConvertUlongToPhysicalAddress(" + hex(event.value, 4) + ")";
    case Call::Initialize:
      return "Initialize";
  }
  return "?";
}

std::vector<std::string> RecordingPort::lines() const {
  std::vector<std::string> out;
  out.reserve(events_.size());
  for (const Event& event : events_) out.push_back(to_string(event));
  return out;
}

std::vector<std::string> RecordingPort::lines(std::initializer_list<Call> calls) const {
  std::vector<std::string> out;
  for (const Event& event : events_) {
    for (Call call : calls) {
      if (event.call == call) {
        out.push_back(to_string(event));
        break;
      }
    }
  }
  return out;
}

std::vector<std::string> RecordingPort::folded_lines() const {
  constexpr std::size_t kMinimumRepeats = 3;
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::size_t n = events_.size();
  while (i < n) {
    bool folded = false;
    for (std::size_t period = 1; period <= 2 && !folded; ++period) {
      std::size_t repeats = 1;
      while (i + (repeats + 1) * period <= n) {
        bool same = true;
        for (std::size_t k = 0; k < period && same; ++k) {
          same = events_[i + repeats * period + k].same_as(events_[i + k]);
        }
        if (!same) break;
        ++repeats;
      }
      if (repeats >= kMinimumRepeats) {
        std::string text = std::to_string(repeats) + " x [" + to_string(events_[i]);
        if (period == 2) text += " | " + to_string(events_[i + 1]);
        out.push_back(text + "]");
        i += repeats * period;
        folded = true;
      }
    }
    if (!folded) {
      out.push_back(to_string(events_[i]));
      ++i;
    }
  }
  return out;
}

std::size_t RecordingPort::count(Call call) const {
  std::size_t total = 0;
  for (const Event& event : events_) total += event.call == call;
  return total;
}

std::size_t RecordingPort::count(Call call, unsigned offset) const {
  std::size_t total = 0;
  for (const Event& event : events_) total += event.call == call && event.reg == offset;
  return total;
}

std::vector<Notification> RecordingPort::notifications() const {
  std::vector<Notification> out;
  for (const Event& event : events_) {
    if (event.call == Call::Notify) {
      out.push_back({static_cast<SCSI_NOTIFICATION_TYPE>(event.value),
                     static_cast<const SCSI_REQUEST_BLOCK*>(detail(event).srb)});
    }
  }
  return out;
}

std::vector<LogEntry> RecordingPort::log_entries() const {
  std::vector<LogEntry> out;
  for (const Event& event : events_) {
    if (event.call == Call::LogError) {
      const Detail& d = detail(event);
      out.push_back({static_cast<const SCSI_REQUEST_BLOCK*>(d.srb), static_cast<UCHAR>(d.a),
                     static_cast<UCHAR>(d.b), static_cast<UCHAR>(d.c), d.d, d.e});
    }
  }
  return out;
}

std::vector<std::string> RecordingPort::debug_lines() const {
  std::vector<std::string> out;
  for (const Event& event : events_) {
    if (event.call == Call::DebugPrint) out.push_back(detail(event).text);
  }
  return out;
}

int RecordingPort::last_written(unsigned offset) const {
  for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
    if (it->call == Call::PortWrite && it->reg == offset) return it->value;
  }
  return -1;
}

}  // namespace qzr::driver_test

// ---- The ScsiPort services, routed to the current RecordingPort --------------

using qzr::driver_test::RecordingPort;

extern "C" {

ULONG ScsiPortInitialize(PVOID Argument1, PVOID Argument2,
                         PHW_INITIALIZATION_DATA HwInitializationData, PVOID HwContext) {
  return RecordingPort::current().initialize(Argument1, Argument2, HwInitializationData, HwContext);
}

ULONG ScsiPortGetBusData(PVOID, ULONG BusDataType, ULONG SystemIoBusNumber, ULONG SlotNumber,
                         PVOID Buffer, ULONG Length) {
  return RecordingPort::current().get_bus_data(BusDataType, SystemIoBusNumber, SlotNumber, Buffer,
                                               Length);
}

PVOID ScsiPortGetDeviceBase(PVOID, INTERFACE_TYPE BusType, ULONG SystemIoBusNumber,
                            SCSI_PHYSICAL_ADDRESS IoAddress, ULONG NumberOfBytes,
                            BOOLEAN InIoSpace) {
  return RecordingPort::current().get_device_base(BusType, SystemIoBusNumber, IoAddress,
                                                  NumberOfBytes, InIoSpace);
}

SCSI_PHYSICAL_ADDRESS ScsiPortConvertUlongToPhysicalAddress(ULONG UlongAddress) {
  RecordingPort::current().convert_address(UlongAddress);
  SCSI_PHYSICAL_ADDRESS address;
  address.QuadPart = UlongAddress;
  return address;
}

UCHAR ScsiPortReadPortUchar(PUCHAR Port) {
  return RecordingPort::current().read_port(Port);
}

VOID ScsiPortWritePortUchar(PUCHAR Port, UCHAR Value) {
  RecordingPort::current().write_port(Port, Value);
}

VOID ScsiPortReadPortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count) {
  RecordingPort::current().read_buffer(Port, Buffer, Count);
}

VOID ScsiPortWritePortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count) {
  RecordingPort::current().write_buffer(Port, Buffer, Count);
}

VOID ScsiPortStallExecution(ULONG Delay) {
  RecordingPort::current().stall(Delay);
}

VOID ScsiPortNotification(SCSI_NOTIFICATION_TYPE NotificationType, PVOID HwDeviceExtension, ...) {
  va_list arguments;
  va_start(arguments, HwDeviceExtension);
  const SCSI_REQUEST_BLOCK* srb = nullptr;
  std::uint32_t path = 0, target = 0, lun = 0;
  if (NotificationType == RequestComplete) {
    srb = va_arg(arguments, PSCSI_REQUEST_BLOCK);
  } else if (NotificationType == NextLuRequest) {
    path = static_cast<UCHAR>(va_arg(arguments, int));
    target = static_cast<UCHAR>(va_arg(arguments, int));
    lun = static_cast<UCHAR>(va_arg(arguments, int));
  }
  va_end(arguments);
  RecordingPort::current().notify(NotificationType, srb, path, target, lun);
}

VOID ScsiPortCompleteRequest(PVOID, UCHAR PathId, UCHAR TargetId, UCHAR Lun, UCHAR SrbStatus) {
  RecordingPort::current().complete_request(PathId, TargetId, Lun, SrbStatus);
}

PVOID ScsiPortGetLogicalUnit(PVOID, UCHAR PathId, UCHAR TargetId, UCHAR Lun) {
  return RecordingPort::current().get_logical_unit(PathId, TargetId, Lun);
}

VOID ScsiPortLogError(PVOID, PSCSI_REQUEST_BLOCK Srb, UCHAR PathId, UCHAR TargetId, UCHAR Lun,
                      ULONG ErrorCode, ULONG UniqueId) {
  RecordingPort::current().log_error(Srb, PathId, TargetId, Lun, ErrorCode, UniqueId);
}

VOID ScsiDebugPrint(ULONG DebugPrintLevel, PCSZ DebugMessage, ...) {
  va_list arguments;
  va_start(arguments, DebugMessage);
  std::string text = qzr::nt::format_windows(DebugMessage, arguments);
  va_end(arguments);
  RecordingPort::current().debug_print(DebugPrintLevel, std::move(text));
}

}  // extern "C"
