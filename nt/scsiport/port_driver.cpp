#include "nt/scsiport/port_driver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "nt/scsiport/current_port.h"
#include "nt/scsiport/miniport_module.h"

namespace qzr::nt::scsiport {
namespace {

// NTSTATUS values ScsiPortInitialize returns.
constexpr ULONG kStatusSuccess = 0;
constexpr ULONG kStatusRevisionMismatch = 0xC0000059;
constexpr ULONG kStatusInvalidParameter = 0xC000000D;
constexpr ULONG kStatusNoSuchDevice = 0xC000000E;

// Reads "1F7C" as 0x1F7C; nothing for an empty or non-hexadecimal string.
std::optional<std::uint32_t> parse_hex(const std::string& text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::string identity_string(PVOID text, USHORT length) {
  if (text == nullptr) return {};
  return std::string(static_cast<const char*>(text), length);
}

// The class device name a peripheral type gets, as NT's class drivers name
// them; empty for types no class driver claims.
const char* class_prefix(UCHAR device_type) {
  switch (device_type) {
    case 0x00:  // direct access
    case 0x07:  // optical memory
      return "PhysicalDrive";
    case 0x01:
      return "Tape";
    case 0x04:  // write once
    case 0x05:
      return "CdRom";
    case 0x06:
      return "scanner";
    default:
      return "";
  }
}

std::string format_time(hw::TimeNs time_ns) {
  char text[32];
  std::snprintf(text, sizeof text, "[%12.6f ms]", static_cast<double>(time_ns) / hw::kNsPerMs);
  return text;
}

}  // namespace

const char* driver_error_name(DriverErrorKind kind) {
  switch (kind) {
    case DriverErrorKind::RequestCompletedTwice:
      return "request completed twice";
    case DriverErrorKind::CompletionOfUnknownRequest:
      return "completion of a request never handed over";
    case DriverErrorKind::PortOutsideMappedRange:
      return "port access outside the mapped range";
    case DriverErrorKind::ExtensionUsedAfterFree:
      return "extension used after it was freed";
    case DriverErrorKind::UnknownExtension:
      return "unknown extension";
    case DriverErrorKind::ServiceOutOfContext:
      return "service called out of context";
    case DriverErrorKind::BadRegistration:
      return "bad registration";
    case DriverErrorKind::BadMapping:
      return "mapping of a range not assigned";
    case DriverErrorKind::MiniportUnresponsive:
      return "miniport unresponsive";
  }
  return "?";
}

PortDriver::PortDriver(hw::Machine& machine, PortSettings settings)
    : machine_(machine), settings_(settings) {}

PortDriver::~PortDriver() {
  // The port devices hold routines of the modules: they go first.
  ports_.clear();
}

std::optional<ULONG> PortDriver::load_miniport(const std::string& module_path,
                                               const std::string& registry_path,
                                               std::string& error) {
  auto module = std::make_unique<MiniportModule>(module_path);
  if (!module->valid()) {
    error = module->error();
    return std::nullopt;
  }
  auto entry = reinterpret_cast<DriverEntryRoutine>(module->driver_entry());
  modules_.push_back(std::move(module));
  auto object = std::make_unique<DriverObject>();
  object->module_path = module_path;
  DriverObject* driver_object = object.get();
  driver_objects_.push_back(std::move(object));
  std::string path = registry_path;
  MiniportCall call(*this, nullptr);
  return entry(driver_object, path.data());
}

ULONG PortDriver::call_driver_entry(DriverEntryRoutine entry, const std::string& registry_path) {
  auto object = std::make_unique<DriverObject>();
  object->module_path = "(linked in)";
  DriverObject* driver_object = object.get();
  driver_objects_.push_back(std::move(object));
  std::string path = registry_path;
  MiniportCall call(*this, nullptr);
  return entry(driver_object, path.data());
}

PortDevice* PortDriver::find_port(std::string_view name) {
  for (auto& port : ports_) {
    if (port->name() == name) return port.get();
  }
  return nullptr;
}

bool PortDriver::matches(int slot, const std::string& vendor_id, const std::string& device_id) {
  auto vendor = parse_hex(vendor_id);
  auto device = parse_hex(device_id);
  if (!vendor || !device || !machine_.pci().slot_occupied(slot)) return false;
  const std::uint32_t identity = machine_.pci().config_read32(slot, 0);
  return (identity & 0xFFFF) == *vendor && (identity >> 16) == *device;
}

ULONG PortDriver::initialize(PVOID driver_object, PVOID registry_path,
                             const HW_INITIALIZATION_DATA& data, PVOID hw_context) {
  (void)registry_path;
  const bool known_object =
      std::any_of(driver_objects_.begin(), driver_objects_.end(),
                  [&](const auto& object) { return object.get() == driver_object; });
  if (!known_object) {
    record_driver_error(DriverErrorKind::BadRegistration,
                        "ScsiPortInitialize with a driver object the port driver did not pass");
    return kStatusInvalidParameter;
  }
  if (data.HwInitializationDataSize < sizeof(HW_INITIALIZATION_DATA)) {
    record_driver_error(DriverErrorKind::BadRegistration,
                        "HwInitializationDataSize smaller than HW_INITIALIZATION_DATA");
    return kStatusRevisionMismatch;
  }
  if (data.HwInitialize == nullptr || data.HwStartIo == nullptr || data.HwFindAdapter == nullptr ||
      data.HwResetBus == nullptr) {
    record_driver_error(DriverErrorKind::BadRegistration, "a required entry point is missing");
    return kStatusInvalidParameter;
  }
  if (data.AdapterInterfaceType != PCIBus) return kStatusNoSuchDevice;

  // The identity strings live on the caller's stack: copy them now.
  const std::string vendor_id = identity_string(data.VendorId, data.VendorIdLength);
  const std::string device_id = identity_string(data.DeviceId, data.DeviceIdLength);

  int started = 0;
  for (int slot = 0; slot < hw::PciBus::kSlots; ++slot) {
    if (!matches(slot, vendor_id, device_id)) continue;
    auto device = std::make_unique<PortDevice>(*this, slot, data, hw_context);
    BOOLEAN again = FALSE;
    const ULONG found = device->find_adapter(again);
    if (found != SP_RETURN_FOUND) {
      freed_extensions_.push_back(device->release_extension());
      continue;
    }
    PortDevice& port = *device;
    if (!port.start(static_cast<int>(ports_.size()))) {
      freed_extensions_.push_back(device->release_extension());
      continue;
    }
    ports_.push_back(std::move(device));
    ++started;
    port.scan();
    if (!again) break;
  }
  return started > 0 ? kStatusSuccess : kStatusNoSuchDevice;
}

void PortDriver::record_debug(ULONG level, std::string text) {
  debug_log_.push_back(DebugLine{machine_.clock().now_ns(), level, std::move(text)});
}

void PortDriver::record_driver_error(DriverErrorKind kind, std::string what) {
  driver_errors_.push_back(DriverError{machine_.clock().now_ns(), kind, std::move(what)});
}

bool PortDriver::check_extension(PVOID extension, const PortDevice* current, const char* service) {
  if (current != nullptr && extension == current->device_extension()) return true;
  const bool freed = std::any_of(freed_extensions_.begin(), freed_extensions_.end(),
                                 [&](const auto& block) { return block.get() == extension; });
  if (freed) {
    record_driver_error(DriverErrorKind::ExtensionUsedAfterFree,
                        std::string(service) + " with a device extension the port driver freed");
  } else {
    record_driver_error(DriverErrorKind::UnknownExtension,
                        std::string(service) + " with an extension that is not the device's");
  }
  return false;
}

std::string PortDriver::create_class_device(const PortDevice& port, const InquiryRecord& record) {
  const UCHAR type = record.data[0] & 0x1F;
  const std::string prefix = class_prefix(type);
  if (prefix.empty()) return {};
  const auto number = std::count_if(
      class_devices_.begin(), class_devices_.end(),
      [&](const ClassDevice& device) { return class_prefix(device.device_type) == prefix; });
  ClassDevice device;
  device.name = "\\\\.\\" + prefix + std::to_string(number);
  device.port_number = port.port_number();
  device.path_id = record.path_id;
  device.target_id = record.target_id;
  device.lun = record.lun;
  device.device_type = type;
  class_devices_.push_back(device);
  return device.name;
}

std::string PortDriver::format_logs() const {
  std::string out;
  for (const DriverError& error : driver_errors_) {
    out += format_time(error.time_ns) + " driver error: " + driver_error_name(error.kind) + ": " +
           error.what + "\n";
  }
  for (const ErrorLogEntry& entry : error_log_) {
    char text[160];
    std::snprintf(text, sizeof text,
                  " error log%s: scsi%d path %u target %u lun %u code 0x%04X id %u\n",
                  entry.from_port_driver ? " (port driver)" : "", entry.port_number, entry.path_id,
                  entry.target_id, entry.lun, entry.error_code, entry.unique_id);
    out += format_time(entry.time_ns) + text;
  }
  for (const DebugLine& line : debug_log_) {
    out += format_time(line.time_ns) + " debug " + std::to_string(line.level) + ": " + line.text;
    if (line.text.empty() || line.text.back() != '\n') out += '\n';
  }
  return out;
}

}  // namespace qzr::nt::scsiport
