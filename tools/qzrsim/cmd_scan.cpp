// scan: the bus as the port driver found it at boot, and with
// --driver-state the miniport's profile of each target, read from its
// device extension.
#include <cstdio>
#include <string>

#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/json.h"
#include "tools/qzrsim/session.h"
#include "tools/qzrsim/text.h"

// Last: its register names are macros that would clash with the model's.
#include "driver/qzr6140.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim scan [--driver-state] [--json]\n"
    "\n"
    "Boots the machine and prints what the port driver's bus scan found on\n"
    "\\\\.\\scsi0:: SCSI ID, LUN, device type, vendor, product, revision and the\n"
    "class device NT created for it.\n"
    "\n"
    "  --driver-state  add the miniport's profile of each target: the device\n"
    "                  type and inquiry text it recorded and its BlockWriteDelay\n"
    "                  (microseconds before each written block)\n"
    "  --json          one JSON object instead of the table\n"
    "\n"
    "Exit 1 when no port device exists (the driver is not installed).\n";

std::string class_device_of(const nt::scsiport::PortDriver& driver, int port,
                            const nt::scsiport::InquiryRecord& record) {
  for (const auto& device : driver.class_devices()) {
    if (device.port_number == port && device.path_id == record.path_id &&
        device.target_id == record.target_id && device.lun == record.lun) {
      return device.name;
    }
  }
  return "";
}

int run(Session& session, Args& args) {
  const bool driver_state = args.flag("--driver-state");
  const bool json = args.flag("--json");
  args.finish();

  std::string error;
  auto* booted = session.machine(error);
  if (!booted) return fail(kExitMachine, error);
  auto* port = session.port(error);
  if (!port) return fail(kExitFailed, error);
  const auto& driver = booted->port_driver;
  const auto* adapter = static_cast<const ADAPTER_EXTENSION*>(port->device_extension());

  JsonWriter out;
  out.begin_object()
      .key("port")
      .value(port->name())
      .key("pci_slot")
      .value(port->pci_slot())
      .key("interrupt_line")
      .value(unsigned{port->interrupt_line()})
      .key("devices")
      .begin_array();
  std::vector<std::string> header = {"ID",      "LUN", "type",        "vendor",
                                     "product", "rev", "class device"};
  if (driver_state) {
    for (const char* column : {"driver type", "inquiry text", "BlockWriteDelay"}) {
      header.push_back(column);
    }
  }
  Table table(header);
  for (const auto& record : port->inquiry_data()) {
    const std::span<const std::uint8_t> data(record.data);
    const unsigned type = data[0] & 0x1Fu;
    const std::string device = class_device_of(driver, port->port_number(), record);
    std::vector<std::string> row = {std::to_string(record.target_id), std::to_string(record.lun),
                                    device_type_name(type),           text_field(data, 8, 8),
                                    text_field(data, 16, 16),         text_field(data, 32, 4),
                                    device.empty() ? "-" : device};
    out.begin_object()
        .key("id")
        .value(unsigned{record.target_id})
        .key("lun")
        .value(unsigned{record.lun})
        .key("type")
        .value(type)
        .key("type_name")
        .value(device_type_name(type))
        .key("vendor")
        .value(text_field(data, 8, 8))
        .key("product")
        .value(text_field(data, 16, 16))
        .key("revision")
        .value(text_field(data, 32, 4))
        .key("class_device");
    if (device.empty()) {
      out.null();
    } else {
      out.value(device);
    }
    if (driver_state) {
      out.key("driver");
      if (record.target_id < QZR_TARGETS && adapter) {
        const auto id = record.target_id;
        const std::span<const std::uint8_t> text(adapter->InquiryText[id]);
        const std::string inquiry_text(text.begin(), text.end());
        out.begin_object()
            .key("device_type")
            .value(unsigned{adapter->TargetDeviceType[id]})
            .key("inquiry_text")
            .value(inquiry_text)
            .key("block_write_delay_us")
            .value(unsigned{adapter->BlockWriteDelay[id]})
            .end_object();
        row.push_back(device_type_name(adapter->TargetDeviceType[id]));
        row.push_back("\"" + text_field(text, 0, text.size()) + "\"");
        row.push_back(std::to_string(adapter->BlockWriteDelay[id]) + " us");
      } else {
        out.null();
      }
    }
    out.end_object();
    table.add(std::move(row));
  }
  out.end_array().end_object();

  if (json) {
    std::fputs(out.text().c_str(), stdout);
  } else {
    std::printf("%s  QZR6140 at PCI slot %d, interrupt line %u\n", port->name().c_str(),
                port->pci_slot(), port->interrupt_line());
    std::fputs(table.text("  ").c_str(), stdout);
  }
  return kExitOk;
}

}  // namespace

const Command kScanCommand = {"scan", "print the bus as the port driver found it", kUsage, run};

}  // namespace qzr::qzrsim
