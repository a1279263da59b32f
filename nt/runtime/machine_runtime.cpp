#include "nt/runtime/machine_runtime.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "hw/population.h"

namespace qzr::nt::runtime {
namespace fs = std::filesystem;

namespace {

constexpr const char* kBuiltinRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qzr6140";
constexpr const char* kServicesKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
constexpr const char* kServicesRegistryPath =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";
constexpr const char* kMiniportGroup = "SCSI Miniport";
constexpr std::uint32_t kKernelDriver = 1;

std::vector<NT_DLL_ENTRY>& attached() {
  static std::vector<NT_DLL_ENTRY> libraries;
  return libraries;
}

void detach_all() {
  auto& libraries = attached();
  while (!libraries.empty()) {
    NT_DLL_ENTRY entry = libraries.back();
    libraries.pop_back();
    entry(nullptr, DLL_PROCESS_DETACH, nullptr);
  }
}

bool same_text(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool starts_with_text(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && same_text(text.substr(0, prefix.size()), prefix);
}

std::string format_time(hw::TimeNs time_ns) {
  char text[32];
  std::snprintf(text, sizeof text, "[%12.6f ms]", static_cast<double>(time_ns) / hw::kNsPerMs);
  return text;
}

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// A value read as the service loader reads it; a wrong type is a reason.
std::optional<std::uint32_t> dword_value(const registry::Key& key, const char* name,
                                         std::string& why) {
  if (!key.find_value(name)) {
    why = std::string("no ") + name + " value";
    return std::nullopt;
  }
  auto value = registry::read_dword(key, name);
  if (!value) why = std::string(name) + " is not a REG_DWORD";
  return value;
}

// Nothing, with `why` empty, for a missing value.
std::optional<std::string> string_value(const registry::Key& key, const char* name,
                                        std::string& why) {
  if (!key.find_value(name)) return std::nullopt;
  auto value = registry::read_string(key, name);
  if (!value) why = std::string(name) + " is not a string";
  return value;
}

struct Service {
  std::string name;
  std::uint32_t start = 0;
  std::uint32_t tag = std::numeric_limits<std::uint32_t>::max();  // untagged: after the tagged
  std::string image_path;
};

// The miniports to load, in load order; every service looked at is logged.
std::vector<Service> miniport_services(BootedMachine& booted) {
  std::vector<Service> services;
  const registry::Key* key = booted.hive.find_key(kServicesKey);
  if (!key) return services;
  for (const auto& sub : key->subkeys()) {
    const std::string prefix = "service " + sub->name() + ": ";
    std::string why;
    const auto type = dword_value(*sub, "Type", why);
    if (!type) {
      booted.log(prefix + "not loaded: " + why);
      continue;
    }
    if (*type != kKernelDriver) {
      booted.log(prefix + "ignored: Type " + std::to_string(*type) + " is not a kernel driver");
      continue;
    }
    const auto group = string_value(*sub, "Group", why);
    if (!group || !same_text(*group, kMiniportGroup)) {
      if (!why.empty()) {
        booted.log(prefix + "not loaded: " + why);
      } else {
        booted.log(prefix + "ignored: group \"" + group.value_or("") + "\" is not \"" +
                   kMiniportGroup + "\"");
      }
      continue;
    }
    const auto start = dword_value(*sub, "Start", why);
    if (!start) {
      booted.log(prefix + "not loaded: " + why);
      continue;
    }
    if (*start > 1) {
      booted.log(prefix + "not loaded: Start " + std::to_string(*start) +
                 " (only boot (0) and system (1) drivers start with the machine)");
      continue;
    }
    Service service;
    service.name = sub->name();
    service.start = *start;
    if (sub->find_value("Tag")) {
      const auto tag = dword_value(*sub, "Tag", why);
      if (!tag) {
        booted.log(prefix + "not loaded: " + why);
        continue;
      }
      service.tag = *tag;
    }
    const auto image = string_value(*sub, "ImagePath", why);
    if (!why.empty()) {
      booted.log(prefix + "not loaded: " + why);
      continue;
    }
    // NT's default for a driver without an ImagePath.
    service.image_path = image ? *image : "System32\\drivers\\" + sub->name() + ".sys";
    services.push_back(std::move(service));
  }
  std::stable_sort(services.begin(), services.end(), [](const Service& a, const Service& b) {
    return a.start != b.start ? a.start < b.start : a.tag < b.tag;
  });
  return services;
}

void load_miniports(BootedMachine& booted) {
  const std::vector<Service> services = miniport_services(booted);
  if (services.empty()) {
    booted.log(std::string("no SCSI miniport is registered under ") + kServicesKey);
    return;
  }
  for (const Service& service : services) {
    const std::string prefix = "service " + service.name + ": ";
    std::string why;
    const fs::path image = resolve_image_path(booted.root->system_root(), service.image_path, why);
    if (image.empty()) {
      booted.log(prefix + "not loaded: " + why);
      continue;
    }
    const std::size_t ports_before = booted.port_driver.port_count();
    const std::string registry_path = kServicesRegistryPath + service.name;
    booted.log(prefix + "loading " + image.string() + ", DriverEntry(" + registry_path + ")");
    std::string error;
    const auto status = booted.port_driver.load_miniport(image.string(), registry_path, error);
    if (!status) {
      booted.log(prefix + "not loaded: " + error);
      continue;
    }
    std::string ports;
    for (std::size_t n = ports_before; n < booted.port_driver.port_count(); ++n) {
      ports += (ports.empty() ? "" : ", ") + std::string("\\\\.\\scsi") + std::to_string(n) + ":";
    }
    booted.log(prefix + "DriverEntry returned " + hex32(*status) +
               (ports.empty() ? "; no adapter started" : "; started " + ports));
  }
}

// Makes the machine the one this process's kernel32 and advapi32 calls reach.
void install_services(BootedMachine& booted, std::string hive_path, bool holds_shutdown) {
  io::install_namespace(&booted.device_namespace);
  booted.advapi32 = std::make_unique<registry::Advapi32>(booted.hive, std::move(hive_path));
  booted.advapi32->user_holds_shutdown_privilege = holds_shutdown;
  registry::install(booted.advapi32.get());
}

}  // namespace

BootedMachine::~BootedMachine() {
  if (io::installed_namespace() == &device_namespace) io::install_namespace(nullptr);
  // Registry writes last beyond the program, as on NT; a shutdown saved them already.
  if (root) {
    std::string error;
    if (!save_registry(*this, error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
}

std::unique_ptr<BootedMachine> boot_machine(const Population& populate, std::string& error) {
  auto booted = std::make_unique<BootedMachine>();
  if (!populate(booted->machine, error)) return nullptr;
  auto status = booted->port_driver.load_miniport(QZR_MINIPORT_MODULE, kBuiltinRegistryPath, error);
  if (!status) return nullptr;
  if (*status != 0) {
    error = "the miniport started no adapter:\n" + booted->port_driver.format_logs();
    return nullptr;
  }
  install_services(*booted, {}, true);
  return booted;
}

std::unique_ptr<BootedMachine> boot_root(std::unique_ptr<MachineRoot> root, std::string& error) {
  if (!root) {
    error = "no machine root";
    return nullptr;
  }
  const MachineSettings& settings = root->settings();
  auto booted = std::make_unique<BootedMachine>(settings.hardware, settings.port);
  booted->settings = settings;
  booted->root = std::move(root);
  const MachineRoot& r = *booted->root;
  if (!hw::populate(booted->machine, settings.targets, error)) {
    error = r.settings_path().string() + ": " + error;
    booted->root.reset();
    return nullptr;
  }
  if (!booted->hive.load(r.hive_path().string(), error)) {
    booted->root.reset();  // nothing to save: the file is not ours to overwrite
    return nullptr;
  }
  booted->hive_text_on_disk = booted->hive.text();
  booted->log("machine root " + r.dir().string() + ": seed " +
              std::to_string(settings.hardware.seed) + ", " +
              std::to_string(settings.targets.size()) + " targets, interrupt line " +
              std::to_string(settings.hardware.interrupt_line));
  load_miniports(*booted);
  install_services(*booted, r.hive_path().string(), settings.holds_shutdown_privilege);
  return booted;
}

fs::path resolve_image_path(const fs::path& system_root, const std::string& image_path,
                            std::string& why) {
  std::string_view rest = image_path;
  for (std::string_view prefix : {"\\SystemRoot\\", "%SystemRoot%\\"}) {
    if (starts_with_text(rest, prefix)) {
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  // Whatever is still absolute (a drive, \??\, another root) is outside.
  if (rest.empty() || rest.front() == '\\' || rest.find(':') != std::string_view::npos) {
    why = "ImagePath \"" + image_path + "\" is not under \\SystemRoot";
    return {};
  }
  fs::path at = system_root;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\\'), rest.size());
    const std::string part(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      why = "ImagePath \"" + image_path + "\" leaves \\SystemRoot";
      return {};
    }
    std::error_code ec;
    fs::path next = at / part;
    if (!fs::exists(next, ec)) {
      next.clear();
      for (const auto& entry : fs::directory_iterator(at, ec)) {
        if (same_text(entry.path().filename().string(), part)) {
          next = entry.path();
          break;
        }
      }
    }
    if (next.empty()) {
      why = "image \"" + image_path + "\" is missing (no " + (at / part).string() + ")";
      return {};
    }
    at = next;
  }
  std::error_code ec;
  if (!fs::is_regular_file(at, ec)) {
    why = "image \"" + image_path + "\" is not a file (" + at.string() + ")";
    return {};
  }
  return at;
}

std::string format_machine_log(BootedMachine& booted) {
  struct Line {
    hw::TimeNs time_ns;
    std::string text;
  };
  std::vector<Line> lines;
  for (const BootLogLine& line : booted.boot_log) {
    lines.push_back({line.time_ns, format_time(line.time_ns) + " boot: " + line.text + "\n"});
  }
  // The port driver's entries, worded as its own format_logs words them.
  const scsiport::PortDriver& port = booted.port_driver;
  for (const scsiport::DriverError& e : port.driver_errors()) {
    lines.push_back({e.time_ns, format_time(e.time_ns) + " driver error: " +
                                    scsiport::driver_error_name(e.kind) + ": " + e.what + "\n"});
  }
  for (const scsiport::ErrorLogEntry& e : port.error_log()) {
    char text[160];
    std::snprintf(text, sizeof text,
                  " error log%s: scsi%d path %u target %u lun %u code 0x%04X id %u\n",
                  e.from_port_driver ? " (port driver)" : "", e.port_number, e.path_id, e.target_id,
                  e.lun, static_cast<unsigned>(e.error_code), static_cast<unsigned>(e.unique_id));
    lines.push_back({e.time_ns, format_time(e.time_ns) + text});
  }
  for (const scsiport::DebugLine& d : port.debug_log()) {
    std::string text = format_time(d.time_ns) + " debug " + std::to_string(d.level) + ": " + d.text;
    if (d.text.empty() || d.text.back() != '\n') text += '\n';
    lines.push_back({d.time_ns, std::move(text)});
  }
  for (const hw::GuestError& e : booted.machine.guest_errors().entries()) {
    lines.push_back(
        {e.time_ns, format_time(e.time_ns) + " guest error: " + e.device + ": " + e.what + "\n"});
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const Line& a, const Line& b) { return a.time_ns < b.time_ns; });
  std::string out;
  for (const Line& line : lines) out += line.text;
  return out;
}

bool save_registry(BootedMachine& booted, std::string& error) {
  if (!booted.root) return true;
  std::string text = booted.hive.text();
  if (text == booted.hive_text_on_disk) return true;
  if (!booted.hive.save(booted.root->hive_path().string(), error)) return false;
  booted.hive_text_on_disk = std::move(text);
  return true;
}

bool shutdown_if_pending(BootedMachine& booted, std::string& report, std::string& error) {
  error.clear();
  if (!booted.advapi32 || !booted.advapi32->shutdown_pending()) return false;
  const bool reboot = booted.advapi32->pending_shutdown()->reboot;
  if (!booted.gone_down) booted.log(reboot ? "shutdown for a restart" : "shutdown");
  booted.gone_down = true;
  if (!booted.root) {
    report = reboot ? "Windows NT restarts: the program ends (a built-in machine keeps no registry)"
                    : "Windows NT shuts down: the program ends";
    return true;
  }
  if (!save_registry(booted, error)) return true;
  const std::string dir = booted.root->dir().string();
  report = reboot ? "Windows NT restarts: the registry is saved, and the next program on " + dir +
                        " boots the machine afresh from it"
                  : "Windows NT shuts down: the registry of " + dir + " is saved";
  return true;
}

bool builtin_population(hw::Machine& machine, std::string& error) {
  std::vector<hw::TargetConfig> targets(3);
  targets[0].settings.id = 0;
  hw::DeviceConfig disk;
  disk.kind = hw::DeviceConfig::Kind::RemovableDisk;
  disk.medium_present = false;
  targets[0].units.push_back({0, disk});
  targets[1].settings.id = 3;
  hw::DeviceConfig cdrom;
  cdrom.kind = hw::DeviceConfig::Kind::CdRom;
  cdrom.medium_present = false;
  targets[1].units.push_back({0, cdrom});
  targets[2].settings.id = 2;
  hw::DeviceConfig scanner;
  scanner.kind = hw::DeviceConfig::Kind::Scanner;
  targets[2].units.push_back({0, scanner});
  return hw::populate(machine, targets, error);
}

namespace {

std::unique_ptr<MachineRoot>& chosen_root() {
  static std::unique_ptr<MachineRoot> root;
  return root;
}
bool& process_machine_started() {
  static bool started = false;
  return started;
}
// The process machine once it has booted; safe points look, never boot.
BootedMachine*& booted_process_machine() {
  static BootedMachine* booted = nullptr;
  return booted;
}

}  // namespace

bool use_machine_root(const fs::path& dir, std::string& error) {
  if (process_machine_started()) {
    error = "the process machine is already running; choose its root before it boots";
    return false;
  }
  auto root = MachineRoot::open(dir, error);
  if (!root) return false;
  chosen_root() = std::move(root);
  return true;
}

BootedMachine* boot_process_machine(std::string& error) {
  static std::string boot_error;
  static std::unique_ptr<BootedMachine> booted = [] {
    process_machine_started() = true;
    std::unique_ptr<BootedMachine> machine;
    std::unique_ptr<MachineRoot> root = std::move(chosen_root());
    const char* env = std::getenv("QZR_MACHINE");
    if (!root && env && *env) {
      root = MachineRoot::open(env, boot_error);
      if (!root) return machine;
    }
    machine = root ? boot_root(std::move(root), boot_error)
                   : boot_machine(builtin_population, boot_error);
    booted_process_machine() = machine.get();
    return machine;
  }();
  error = boot_error;
  return booted.get();
}

BootedMachine* process_machine() {
  static bool reported = false;
  std::string error;
  BootedMachine* booted = boot_process_machine(error);
  if (!booted && !reported) {
    reported = true;
    std::fprintf(stderr, "machine did not boot: %s\n", error.c_str());
  }
  return booted;
}

}  // namespace qzr::nt::runtime

extern "C" void nt_runtime_attach_library(NT_DLL_ENTRY entry) {
  // Booted before the exit handler is registered, so the machine outlives
  // every library's detach.
  qzr::nt::runtime::process_machine();
  if (qzr::nt::runtime::attached().empty()) std::atexit(qzr::nt::runtime::detach_all);
  qzr::nt::runtime::attached().push_back(entry);
  entry(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

extern "C" int nt_runtime_screen(int* width, int* height, int* platform) {
  using namespace qzr::nt::runtime;
  // Only a root has settings; a program on the built-in machine keeps the defaults.
  const char* env = std::getenv("QZR_MACHINE");
  if (!booted_process_machine() && !chosen_root() && !(env && *env)) return 0;
  const BootedMachine* booted = process_machine();
  if (!booted || !booted->root) return 0;
  const MachineSettings& s = booted->settings;
  *width = s.screen_width;
  *height = s.screen_height;
  switch (s.windows_version) {
    case WindowsVersion::Nt4:
      *platform = VER_PLATFORM_WIN32_NT;
      break;
    case WindowsVersion::Windows95:
      *platform = VER_PLATFORM_WIN32_WINDOWS;
      break;
    case WindowsVersion::Win32s:
      *platform = VER_PLATFORM_WIN32s;
      break;
  }
  return 1;
}

extern "C" int nt_runtime_safe_point(void) {
  using namespace qzr::nt::runtime;
  BootedMachine* booted = booted_process_machine();
  if (!booted) return 0;
  std::string report, error;
  if (!shutdown_if_pending(*booted, report, error)) return 0;
  static bool reported = false;
  if (!reported) {
    reported = true;
    std::fprintf(stderr, "%s\n", (error.empty() ? report : error).c_str());
  }
  return 1;
}
