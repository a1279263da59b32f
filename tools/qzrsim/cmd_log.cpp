// log: the machine's logs in one list, in virtual-time order: the port
// driver's error log and the miniport's debug lines, the verifier's driver
// errors and the hardware's guest errors.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qzrsim/commands.h"
#include "tools/qzrsim/json.h"
#include "tools/qzrsim/session.h"
#include "tools/qzrsim/text.h"

namespace qzr::qzrsim {
namespace {

constexpr const char* kUsage =
    "usage: qzrsim log [--json] [-- COMMAND [ARGS]...]\n"
    "\n"
    "Boots the machine (or first runs COMMAND, any qzrsim command) and prints\n"
    "its logs in virtual-time order: the boot log (which drivers loaded, and\n"
    "why not), error-log entries (ScsiPortLogError and\n"
    "the port driver's own), the miniport's debug lines (ScsiDebugPrint),\n"
    "driver errors the port driver's verifier found, and guest errors (uses of\n"
    "the hardware outside its reference behaviour).\n"
    "\n"
    "  --json   one JSON object with the list\n";

struct Entry {
  hw::TimeNs time_ns = 0;
  std::string source;  // "boot", "error", "debug", "driver", "guest"
  std::string text;
};

std::vector<Entry> collect(nt::runtime::BootedMachine& booted) {
  std::vector<Entry> entries;
  for (const auto& line : booted.boot_log) entries.push_back({line.time_ns, "boot", line.text});
  const auto& driver = booted.port_driver;
  for (const auto& error : driver.error_log()) {
    char text[160];
    std::snprintf(text, sizeof text, "%sscsi%d target %u lun %u, code 0x%08lX, unique id %lu",
                  error.from_port_driver ? "port driver: " : "", error.port_number, error.target_id,
                  error.lun, static_cast<unsigned long>(error.error_code),
                  static_cast<unsigned long>(error.unique_id));
    entries.push_back({error.time_ns, "error", text});
  }
  for (const auto& line : driver.debug_log()) {
    std::string text = line.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    entries.push_back({line.time_ns, "debug", "level " + std::to_string(line.level) + ": " + text});
  }
  for (const auto& error : driver.driver_errors()) {
    entries.push_back(
        {error.time_ns, "driver",
         std::string(nt::scsiport::driver_error_name(error.kind)) + ": " + error.what});
  }
  for (const auto& error : booted.machine.guest_errors().entries()) {
    entries.push_back({error.time_ns, "guest", error.device + ": " + error.what});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.time_ns < b.time_ns; });
  return entries;
}

int run(Session& session, Args& args) {
  const bool json = args.flag("--json");
  auto command = args.after_separator();
  args.finish();

  int code = kExitOk;
  if (!command.empty()) {
    code = run_command_line(session, std::move(command));
    if (code == kExitUsage) return code;
  }
  std::string error;
  auto* booted = session.machine(error);
  if (!booted) return fail(kExitMachine, error);
  const auto entries = collect(*booted);
  if (json) {
    JsonWriter out;
    out.begin_object().key("entries").begin_array();
    for (const auto& entry : entries) {
      out.begin_object()
          .key("time_ns")
          .value(std::uint64_t{entry.time_ns})
          .key("source")
          .value(entry.source)
          .key("text")
          .value(entry.text)
          .end_object();
    }
    out.end_array().end_object();
    std::fputs(out.text().c_str(), stdout);
  } else {
    if (entries.empty()) std::printf("(no log entries)\n");
    for (const auto& entry : entries) {
      std::printf("[%14.6f ms] %-6s %s\n", static_cast<double>(entry.time_ns) / 1e6,
                  entry.source.c_str(), entry.text.c_str());
    }
  }
  return code;
}

}  // namespace

const Command kLogCommand = {"log", "print the machine's logs in time order", kUsage, run};

}  // namespace qzr::qzrsim
