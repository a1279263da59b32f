#include "nt/runtime/machine_settings.h"

// Header-only and without exceptions: parse errors come back as values, and
// the 32-bit build needs no 32-bit copy of the library.
#define TOML_EXCEPTIONS 0
#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>

namespace qzr::nt::runtime {
namespace {

using Kind = hw::DeviceConfig::Kind;

bool same_text(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

template <typename Value>
struct Named {
  const char* name;
  Value value;
};

constexpr std::array<Named<Kind>, 7> kKinds{{
    {"disk", Kind::Disk},
    {"optical", Kind::OpticalMemory},
    {"cdrom", Kind::CdRom},
    {"write-once", Kind::WriteOnce},
    {"tape", Kind::Tape},
    {"processor", Kind::Processor},
    {"scanner", Kind::Scanner},
}};

constexpr std::array<Named<hw::DisconnectPolicy::Kind>, 3> kDisconnects{{
    {"never", hw::DisconnectPolicy::Kind::Never},
    {"after-command", hw::DisconnectPolicy::Kind::AfterCommand},
    {"after-blocks", hw::DisconnectPolicy::Kind::AfterBlocks},
}};

constexpr std::array<Named<WindowsVersion>, 3> kVersions{{
    {"NT 4.0", WindowsVersion::Nt4},
    {"Windows 95", WindowsVersion::Windows95},
    {"Win32s", WindowsVersion::Win32s},
}};

// INQUIRY byte 7, most significant bit first; bit 2 is reserved.
constexpr std::array<Named<std::uint8_t>, 7> kCapabilities{{
    {"reladr", 0x80},
    {"wbus32", 0x40},
    {"wbus16", 0x20},
    {"sync", 0x10},
    {"linked", 0x08},
    {"cmdque", 0x02},
    {"sftre", 0x01},
}};

using FaultKind = hw::Fault::Kind;
constexpr std::array<Named<FaultKind>, 11> kFaults{{
    {"no-selection-response", FaultKind::NoSelectionResponse},
    {"never-raise-req", FaultKind::NeverRaiseReq},
    {"drop-bsy", FaultKind::DropBsy},
    {"stop-data-after", FaultKind::StopDataAfter},
    {"extra-data", FaultKind::ExtraData},
    {"stay-in-data-out", FaultKind::StayInDataOut},
    {"bus-free-without-complete", FaultKind::BusFreeWithoutComplete},
    {"complete-without-status", FaultKind::CompleteWithoutStatus},
    {"status-byte", FaultKind::StatusByte},
    {"message-in-bytes", FaultKind::MessageInBytes},
    {"reselect-without-command", FaultKind::ReselectWithoutCommand},
}};

constexpr std::array<Named<hw::Phase>, 6> kPhases{{
    {"data-out", hw::Phase::DataOut},
    {"data-in", hw::Phase::DataIn},
    {"command", hw::Phase::Command},
    {"status", hw::Phase::Status},
    {"message-out", hw::Phase::MessageOut},
    {"message-in", hw::Phase::MessageIn},
}};

template <typename Value, std::size_t N>
std::string name_list(const std::array<Named<Value>, N>& names) {
  std::string out;
  for (std::size_t i = 0; i < N; ++i) {
    out += i == 0 ? "" : i + 1 == N ? " or " : ", ";
    out += '"';
    out += names[i].name;
    out += '"';
  }
  return out;
}

// Where the file stands and the first mistake found in it.
struct Context {
  std::string file_name;
  std::filesystem::path base_dir;
  std::string error;

  bool fail(const toml::source_region& where, const std::string& key, const std::string& what) {
    if (!error.empty()) return false;
    error = file_name + ":" + std::to_string(where.begin.line) + ":" +
            std::to_string(where.begin.column) + ": " + (key.empty() ? "" : key + ": ") + what;
    return false;
  }
};

// One table of the file: hands out its keys by type and range and knows
// which ones were read, so that whatever is left over is reported.
class Fields {
 public:
  Fields(const toml::table& table, std::string prefix, Context& context)
      : table_(table), prefix_(std::move(prefix)), context_(context) {}

  std::string key_name(std::string_view key) const {
    return prefix_.empty() ? std::string(key) : prefix_ + "." + std::string(key);
  }
  const toml::source_region& where() const { return table_.source(); }
  bool fail(const toml::node& node, std::string_view key, const std::string& what) {
    return context_.fail(node.source(), key_name(key), what);
  }
  bool fail_missing(std::string_view key) {
    return context_.fail(where(), key_name(key), "missing");
  }

  const toml::node* get(std::string_view key) {
    used_.insert(std::string(key));
    return table_.get(key);
  }
  bool has(std::string_view key) const { return table_.contains(key); }

  template <typename Int>
  bool integer(std::string_view key, Int& out, std::int64_t min, std::int64_t max) {
    const toml::node* node = get(key);
    if (!node) return true;
    const auto* value = node->as_integer();
    if (!value) return fail(*node, key, "must be a whole number");
    const std::int64_t v = value->get();
    if (v < min || v > max) {
      return fail(*node, key,
                  std::to_string(v) + " is out of range (" + std::to_string(min) + " to " +
                      std::to_string(max) + ")");
    }
    out = static_cast<Int>(v);
    return true;
  }

  bool boolean(std::string_view key, bool& out) {
    const toml::node* node = get(key);
    if (!node) return true;
    const auto* value = node->as_boolean();
    if (!value) return fail(*node, key, "must be true or false");
    out = value->get();
    return true;
  }

  bool string(std::string_view key, std::optional<std::string>& out) {
    const toml::node* node = get(key);
    if (!node) return true;
    const auto* value = node->as_string();
    if (!value) return fail(*node, key, "must be a quoted string");
    out = value->get();
    return true;
  }

  template <typename Value, std::size_t N>
  bool choice(std::string_view key, Value& out, const std::array<Named<Value>, N>& names) {
    const toml::node* node = get(key);
    if (!node) return true;
    const auto* value = node->as_string();
    if (value) {
      for (const auto& named : names) {
        if (same_text(named.name, value->get())) {
          out = named.value;
          return true;
        }
      }
    }
    return fail(*node, key, "must be one of " + name_list(names));
  }

  const toml::table* table(std::string_view key) {
    const toml::node* node = get(key);
    if (!node) return nullptr;
    const auto* t = node->as_table();
    if (!t) fail(*node, key, "must be a table");
    return t;
  }

  // An array of tables ([[key]]); empty when absent.
  bool tables(std::string_view key, std::vector<const toml::table*>& out) {
    const toml::node* node = get(key);
    if (!node) return true;
    const auto* array = node->as_array();
    if (!array || (!array->empty() && !array->is_array_of_tables())) {
      return fail(*node, key, "must be a list of tables ([[" + key_name(key) + "]])");
    }
    for (const auto& element : *array) out.push_back(element.as_table());
    return true;
  }

  // Every key of the table must have been read.
  bool finish() {
    for (const auto& [key, node] : table_) {
      if (!used_.contains(std::string(key.str()))) {
        return context_.fail(key.source(), key_name(key.str()), "unknown key");
      }
    }
    return context_.error.empty();
  }

  bool ok() const { return context_.error.empty(); }
  Context& context() { return context_; }

 private:
  const toml::table& table_;
  std::string prefix_;
  Context& context_;
  std::set<std::string> used_;
};

constexpr std::int64_t kMaxNs = std::int64_t{1} << 50;  // about 13 days of virtual time
constexpr std::int64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

bool read_machine(Fields& f, MachineSettings& s) {
  f.integer("seed", s.hardware.seed, 0, std::numeric_limits<std::int64_t>::max());
  f.integer("port_access_ns", s.hardware.port_access_ns, 1, 1'000'000'000);
  // A PC's interrupt lines; 0 means the board has none.
  f.integer("interrupt_line", s.hardware.interrupt_line, 0, 15);
  f.boolean("scan_luns_above_zero", s.port.scan_luns_above_zero);
  return f.finish();
}

bool read_bus_timings(Fields& f, hw::BusTimings& t) {
  const std::array<std::pair<const char*, hw::TimeNs*>, 14> fields{{
      {"arbitration_delay_ns", &t.arbitration_delay_ns},
      {"assertion_period_ns", &t.assertion_period_ns},
      {"bus_clear_delay_ns", &t.bus_clear_delay_ns},
      {"bus_free_delay_ns", &t.bus_free_delay_ns},
      {"bus_set_delay_ns", &t.bus_set_delay_ns},
      {"bus_settle_delay_ns", &t.bus_settle_delay_ns},
      {"cable_skew_ns", &t.cable_skew_ns},
      {"data_release_delay_ns", &t.data_release_delay_ns},
      {"deskew_delay_ns", &t.deskew_delay_ns},
      {"hold_time_ns", &t.hold_time_ns},
      {"negation_period_ns", &t.negation_period_ns},
      {"reset_hold_time_ns", &t.reset_hold_time_ns},
      {"selection_abort_time_ns", &t.selection_abort_time_ns},
      {"selection_timeout_ns", &t.selection_timeout_ns},
  }};
  for (const auto& [key, field] : fields) f.integer(key, *field, 0, kMaxNs);
  return f.finish();
}

bool read_user(Fields& f, MachineSettings& s) {
  f.boolean("shutdown_privilege", s.holds_shutdown_privilege);
  return f.finish();
}

bool read_windows(Fields& f, MachineSettings& s) {
  f.choice("version", s.windows_version, kVersions);
  f.integer("screen_width", s.screen_width, 320, 4096);
  f.integer("screen_height", s.screen_height, 200, 4096);
  return f.finish();
}

bool read_target_timings(Fields& f, hw::TargetTimings& t) {
  f.integer("selection_response_ns", t.selection_response_ns, 0, kMaxNs);
  f.integer("req_interval_ns", t.req_interval_ns, 0, kMaxNs);
  f.integer("phase_change_ns", t.phase_change_ns, 0, kMaxNs);
  f.integer("command_overhead_ns", t.command_overhead_ns, 0, kMaxNs);
  f.integer("reselection_retry_ns", t.reselection_retry_ns, 0, kMaxNs);
  f.integer("reselection_attempts", t.reselection_attempts, 0, 1000);
  return f.finish();
}

bool read_unit_timings(Fields& f, hw::UnitTimings& t) {
  f.integer("command_latency_ns", t.command_latency_ns, 0, kMaxNs);
  f.integer("seek_ns_per_block", t.seek_ns_per_block, 0, kMaxNs);
  f.integer("seek_settle_ns", t.seek_settle_ns, 0, kMaxNs);
  f.integer("seek_max_ns", t.seek_max_ns, 0, kMaxNs);
  f.integer("transfer_ns_per_block", t.transfer_ns_per_block, 0, kMaxNs);
  return f.finish();
}

bool read_fault(Fields& f, hw::Fault& fault) {
  if (!f.has("kind")) return f.fail_missing("kind");
  f.choice("kind", fault.kind, kFaults);
  std::uint8_t opcode = 0;
  if (f.has("opcode") && f.integer("opcode", opcode, 0, 255)) fault.opcode = opcode;
  hw::Phase phase{};
  if (f.has("phase") && f.choice("phase", phase, kPhases)) fault.phase = phase;
  f.integer("bytes", fault.bytes, 0, kMaxU32);
  f.integer("status", fault.status, 0, 255);
  f.integer("times", fault.times, 0, kMaxU32);
  f.integer("at_ns", fault.at_ns, 0, kMaxNs);
  if (const toml::node* node = f.get("message")) {
    const auto* array = node->as_array();
    if (!array) return f.fail(*node, "message", "must be a list of byte values");
    for (const auto& element : *array) {
      const auto* value = element.as_integer();
      if (!value || value->get() < 0 || value->get() > 255) {
        return f.fail(element, "message", "each byte must be a whole number from 0 to 255");
      }
      fault.message.push_back(static_cast<std::uint8_t>(value->get()));
    }
  }
  return f.finish();
}

// "256 MiB", "100 MB", "4096" or a bare number of bytes.
std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::size_t i = 0;
  std::uint64_t number = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    if (number > (std::uint64_t{1} << 50)) return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(text[i++] - '0');
  }
  if (i == 0) return std::nullopt;
  while (i < text.size() && text[i] == ' ') ++i;
  const std::string_view unit = text.substr(i);
  constexpr std::array<Named<std::uint64_t>, 8> kUnits{{
      {"", 1},
      {"B", 1},
      {"KiB", 1ull << 10},
      {"MiB", 1ull << 20},
      {"GiB", 1ull << 30},
      {"KB", 1'000},
      {"MB", 1'000'000},
      {"GB", 1'000'000'000},
  }};
  for (const auto& u : kUnits) {
    if (unit == u.name) return number * u.value;
  }
  return std::nullopt;
}

std::uint32_t usual_block_bytes(Kind kind) {
  return kind == Kind::CdRom || kind == Kind::WriteOnce ? 2048 : 512;
}

bool identity_text(Fields& f, std::string_view key, std::string& out, std::size_t max_chars) {
  std::optional<std::string> text;
  if (!f.string(key, text) || !text) return f.ok();
  const toml::node& node = *f.get(key);
  if (text->size() > max_chars) {
    return f.fail(node, key,
                  "\"" + *text + "\" is " + std::to_string(text->size()) +
                      " characters; INQUIRY holds " + std::to_string(max_chars));
  }
  for (char c : *text) {
    if (c < 0x20 || c > 0x7E) return f.fail(node, key, "only printable ASCII characters fit");
  }
  out = *text;
  return true;
}

// The device keys, shared by a target's own table (LUN 0) and its [[target.lun]]s.
bool read_device(Fields& f, hw::DeviceConfig& d) {
  const Context& context = f.context();
  if (!f.has("kind")) return f.fail_missing("kind");
  f.choice("kind", d.kind, kKinds);
  if (!f.ok()) return false;

  bool removable = false;
  if (const toml::node* node = f.get("removable")) {
    if (d.kind != Kind::Disk) {
      return f.fail(*node, "removable", "only a disk's removability can be chosen");
    }
    if (!f.boolean("removable", removable)) return false;
    if (removable) d.kind = Kind::RemovableDisk;
  }

  identity_text(f, "vendor", d.identity.vendor, 8);
  identity_text(f, "product", d.identity.product, 16);
  identity_text(f, "revision", d.identity.revision, 4);
  f.integer("ansi_version", d.identity.ansi_version, 0, 7);
  f.integer("response_format", d.identity.response_format, 0, 15);
  if (const toml::node* node = f.get("capabilities")) {
    const auto* array = node->as_array();
    if (!array) return f.fail(*node, "capabilities", "must be a list of names");
    for (const auto& element : *array) {
      const auto* name = element.as_string();
      const auto* found =
          name ? std::find_if(kCapabilities.begin(), kCapabilities.end(),
                              [&](const auto& c) { return same_text(c.name, name->get()); })
               : kCapabilities.end();
      if (found == kCapabilities.end()) {
        return f.fail(element, "capabilities", "each must be one of " + name_list(kCapabilities));
      }
      d.identity.capabilities |= found->value;
    }
  }

  f.boolean("medium", d.medium_present);
  f.boolean("read_only", d.read_only);
  f.boolean("unit_attention_on_reset", d.unit_attention_on_reset);
  f.integer("block_bytes", d.block_bytes, 0, 65536);
  if (!f.ok()) return false;

  std::optional<std::string> image;
  if (!f.string("image", image)) return false;
  if (image) {
    const toml::node& node = *f.get("image");
    if (image->empty()) return f.fail(node, "image", "empty; leave the key out for none");
    if (d.kind == Kind::Processor) return f.fail(node, "image", "a processor has no medium");
    std::filesystem::path path(*image);
    d.image_path =
        (path.is_absolute() ? path : (context.base_dir / path)).lexically_normal().string();
  } else if (d.medium_present && d.kind != Kind::Scanner && d.kind != Kind::Processor) {
    return f.fail_missing("image");
  }
  // What a user writes in is created on first use; a read-only medium is
  // mastered by the root's creation instead.
  d.create_if_missing = d.kind != Kind::CdRom && d.kind != Kind::WriteOnce;

  if (const toml::node* node = f.get("size")) {
    std::optional<std::uint64_t> bytes;
    if (const auto* number = node->as_integer()) {
      if (number->get() > 0) bytes = static_cast<std::uint64_t>(number->get());
    } else if (const auto* text = node->as_string()) {
      bytes = parse_size(text->get());
    }
    if (!bytes || *bytes == 0) {
      return f.fail(*node, "size", "must be a size such as 4096, \"256 MiB\" or \"100 MB\"");
    }
    if (d.kind == Kind::Processor || d.kind == Kind::Scanner) {
      return f.fail(*node, "size",
                    "a " + std::string(hw::device_kind_name(d.kind)) + " has no medium to size");
    }
    const std::uint32_t block = d.block_bytes != 0 ? d.block_bytes : usual_block_bytes(d.kind);
    if (*bytes % block != 0) {
      return f.fail(*node, "size",
                    "not a whole number of " + std::to_string(block) + "-byte blocks");
    }
    d.capacity_blocks = *bytes / block;
  }

  if (const toml::table* t = f.table("unit_timings")) {
    Fields timings(*t, f.key_name("unit_timings"), f.context());
    if (!read_unit_timings(timings, d.timings)) return false;
  }
  return f.ok();
}

bool read_target(Fields& f, hw::TargetConfig& target, std::set<std::uint8_t>& ids) {
  if (!f.has("id")) return f.fail_missing("id");
  if (!f.integer("id", target.settings.id, 0, 7)) return false;
  const toml::node& id_node = *f.get("id");
  if (target.settings.id == 7) return f.fail(id_node, "id", "ID 7 is the adapter's own");
  if (!ids.insert(target.settings.id).second) {
    return f.fail(id_node, "id", "ID " + std::to_string(target.settings.id) + " is taken twice");
  }

  f.choice("disconnect", target.settings.disconnect.kind, kDisconnects);
  f.integer("disconnect_blocks", target.settings.disconnect.blocks, 0, kMaxU32);
  if (!f.ok()) return false;
  const bool after_blocks =
      target.settings.disconnect.kind == hw::DisconnectPolicy::Kind::AfterBlocks;
  if (after_blocks && target.settings.disconnect.blocks == 0) {
    return f.fail_missing("disconnect_blocks");
  }
  if (!after_blocks && f.has("disconnect_blocks")) {
    return f.fail(*f.get("disconnect_blocks"), "disconnect_blocks",
                  "applies only with disconnect = \"after-blocks\"");
  }

  if (const toml::table* t = f.table("timings")) {
    Fields timings(*t, f.key_name("timings"), f.context());
    if (!read_target_timings(timings, target.settings.timings)) return false;
  }
  if (!f.ok()) return false;

  std::vector<const toml::table*> faults;
  if (!f.tables("fault", faults)) return false;
  for (const toml::table* t : faults) {
    Fields fields(*t, f.key_name("fault"), f.context());
    hw::Fault fault;
    if (!read_fault(fields, fault)) return false;
    target.settings.faults.push_back(std::move(fault));
  }

  hw::DeviceConfig lun0;
  if (!read_device(f, lun0)) return false;
  target.units.emplace_back(0, std::move(lun0));

  std::vector<const toml::table*> luns;
  if (!f.tables("lun", luns)) return false;
  for (const toml::table* t : luns) {
    Fields fields(*t, f.key_name("lun"), f.context());
    std::uint8_t lun = 0;
    if (!fields.has("lun")) return fields.fail_missing("lun");
    if (!fields.integer("lun", lun, 1, 7)) return false;
    const bool taken = std::any_of(target.units.begin(), target.units.end(),
                                   [&](const auto& unit) { return unit.first == lun; });
    if (taken) {
      return fields.fail(*fields.get("lun"), "lun",
                         "LUN " + std::to_string(lun) + " is taken twice");
    }
    hw::DeviceConfig device;
    if (!read_device(fields, device) || !fields.finish()) return false;
    target.units.emplace_back(lun, std::move(device));
  }
  return f.finish();
}

bool read_file(const toml::table& root, Context& context, MachineSettings& s) {
  Fields top(root, "", context);
  auto section = [&](const char* key, auto read) {
    if (const toml::table* t = top.table(key)) {
      Fields fields(*t, key, context);
      read(fields);
    }
    return top.ok();
  };
  if (!section("machine", [&](Fields& f) { return read_machine(f, s); })) return false;
  if (!section("bus_timings",
               [&](Fields& f) { return read_bus_timings(f, s.hardware.bus_timings); })) {
    return false;
  }
  if (!section("user", [&](Fields& f) { return read_user(f, s); })) return false;
  if (!section("windows", [&](Fields& f) { return read_windows(f, s); })) return false;

  std::vector<const toml::table*> targets;
  if (!top.tables("target", targets)) return false;
  std::set<std::uint8_t> ids;
  for (const toml::table* t : targets) {
    Fields fields(*t, "target", context);
    hw::TargetConfig target;
    if (!read_target(fields, target, ids)) return false;
    s.targets.push_back(std::move(target));
  }
  return top.finish();
}

}  // namespace

const char* windows_version_name(WindowsVersion version) {
  for (const auto& named : kVersions) {
    if (named.value == version) return named.name;
  }
  return "?";
}

bool parse_settings(std::string_view text, const std::string& file_name,
                    const std::filesystem::path& base_dir, MachineSettings& settings,
                    std::string& error) {
  toml::parse_result parsed = toml::parse(text, file_name);
  if (!parsed) {
    const auto& failure = parsed.error();
    error = file_name + ":" + std::to_string(failure.source().begin.line) + ":" +
            std::to_string(failure.source().begin.column) + ": " +
            std::string(failure.description());
    // One line, whatever the parser's wording.
    std::replace(error.begin(), error.end(), '\n', ' ');
    return false;
  }
  Context context{file_name, base_dir, {}};
  MachineSettings read;
  if (!read_file(parsed.table(), context, read)) {
    error = context.error.empty() ? file_name + ": unreadable settings" : context.error;
    return false;
  }
  settings = std::move(read);
  return true;
}

bool load_settings(const std::filesystem::path& file, const std::filesystem::path& base_dir,
                   MachineSettings& settings, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = file.string() + ": cannot read: " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse_settings(text.str(), file.string(), base_dir, settings, error);
}

namespace {

constexpr const char* kMachineHead =
    R"(# The settings of a simulated Windows NT 4.0 machine with a QZR6140 board.
# Every key may be left out; the values shown here are the defaults, except
# on the bus, which holds only what is listed. Sizes are bytes or a text
# such as "256 MiB"; times are nanoseconds of virtual time.

[machine]
seed = 1                      # one seed, one run: the same bus trace bit for bit
port_access_ns = 500          # virtual time each access to the board's registers costs
interrupt_line = 11           # the board's PCI interrupt line, 0 to 15 (0: none)
scan_luns_above_zero = false  # the port driver's scan also asks LUNs 1-7

# [bus_timings] overrides the SCSI-2 delays, e.g. selection_timeout_ns = 250000000.

[user]
shutdown_privilege = true     # the user holds SeShutdownPrivilege

[windows]
version = "NT 4.0"            # what GetVersionExA reports: "NT 4.0", "Windows 95" or "Win32s"
screen_width = 800
screen_height = 600
)";

constexpr const char* kDefaultTargets = R"(
# The bus: one [[target]] per SCSI ID (0 to 6; 7 is the board). The target's
# own keys describe its LUN 0; [[target.lun]] tables (lun = 1 to 7) add more.
# Device keys: kind ("disk", "optical", "cdrom", "write-once", "tape",
# "processor", "scanner"), vendor (8 characters), product (16), revision (4),
# ansi_version, capabilities (a list of "reladr", "wbus32", "wbus16", "sync",
# "linked", "cmdque", "sftre"), removable (disks), image (relative to the
# machine root), size, block_bytes, read_only, medium (false: none loaded),
# unit_attention_on_reset, [target.unit_timings]. Target keys: disconnect
# ("never", "after-command", "after-blocks" with disconnect_blocks),
# [target.timings], and [[target.fault]] plans (kind, opcode, phase, bytes,
# status, message, times, at_ns).

[[target]]
id = 0
kind = "disk"
vendor = "FUJITSU"
product = "M1606S"
revision = "6237"
image = "images/disk0.img"    # created, sparse, on first use
size = "256 MiB"
disconnect = "after-command"

[[target]]
id = 2
kind = "scanner"              # a flatbed; image = "picture.png" puts a picture on the glass
vendor = "QZRSIM"
product = "FLATBED A4"
revision = "1.00"
disconnect = "after-command"

[[target]]
id = 3
kind = "cdrom"
vendor = "QZRSIM"
product = "CD-ROM XM-4"
revision = "1.05"
ansi_version = 2
image = "images/cdrom3.iso"   # a small read-only disc, mastered when the root is made
disconnect = "after-command"

[[target]]
id = 4
kind = "tape"
vendor = "QZRSIM"
product = "TAPE DAT-4"
revision = "1.00"
image = "images/tape4.tap"
disconnect = "after-command"

[[target]]
id = 5
kind = "disk"
removable = true
vendor = "IOMEGA"
product = "ZIP 100"
revision = "R.41"
image = "images/zip5.img"
size = "96 MiB"               # a 100 MB cartridge
disconnect = "after-command"

# IDs 1 and 6 are free.
)";

constexpr const char* kEmptyTargets = R"(
# The bus is empty. Add one [[target]] table per SCSI ID (0 to 6), e.g.
#   [[target]]
#   id = 0
#   kind = "disk"
#   image = "images/disk0.img"
#   size = "256 MiB"
)";

}  // namespace

std::string default_settings_text() {
  return std::string(kMachineHead) + kDefaultTargets;
}

std::string empty_settings_text() {
  return std::string(kMachineHead) + kEmptyTargets;
}

}  // namespace qzr::nt::runtime
