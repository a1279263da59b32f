// The settings file: the documented default text is the default machine,
// every part of the schema reaches the record, and every mistake is one
// line naming the file, the line, the column and the key.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "hw/population.h"
#include "nt/runtime/machine_settings.h"

namespace qzr::nt::runtime {
namespace {

// Everything a target carries, as text, so a mismatch shows where it is.
std::string describe(const hw::TargetConfig& t) {
  std::ostringstream out;
  const auto& s = t.settings;
  out << "id " << int{s.id} << " disconnect " << int(s.disconnect.kind) << "/"
      << s.disconnect.blocks << " timings " << s.timings.selection_response_ns << ","
      << s.timings.req_interval_ns << "," << s.timings.phase_change_ns << ","
      << s.timings.command_overhead_ns << "," << s.timings.reselection_retry_ns << ","
      << s.timings.reselection_attempts << " faults " << s.faults.size() << "\n";
  for (const auto& f : s.faults) {
    out << "  fault " << int(f.kind) << " opcode " << (f.opcode ? int{*f.opcode} : -1) << " phase "
        << (f.phase ? int(*f.phase) : -1) << " bytes " << f.bytes << " status " << int{f.status}
        << " times " << f.times << " at " << f.at_ns << " message";
    for (auto b : f.message) out << " " << int{b};
    out << "\n";
  }
  for (const auto& [lun, d] : t.units) {
    const auto& i = d.identity;
    out << "  lun " << int{lun} << " kind " << hw::device_kind_name(d.kind) << " '" << i.vendor
        << "' '" << i.product << "' '" << i.revision << "' ansi " << int{i.ansi_version} << " rmb "
        << i.removable << " caps " << int{i.capabilities} << " format " << int{i.response_format}
        << " image '" << d.image_path << "' blocks " << d.capacity_blocks << " block_bytes "
        << d.block_bytes << " create " << d.create_if_missing << " ro " << d.read_only << " medium "
        << d.medium_present << " ua " << d.unit_attention_on_reset << " timings "
        << d.timings.command_latency_ns << "," << d.timings.seek_ns_per_block << ","
        << d.timings.seek_settle_ns << "," << d.timings.seek_max_ns << ","
        << d.timings.transfer_ns_per_block << "\n";
  }
  return out.str();
}

std::string describe(const std::vector<hw::TargetConfig>& targets) {
  std::string out;
  for (const auto& t : targets) out += describe(t);
  return out;
}

TEST(MachineSettings, DefaultTextIsTheDefaultMachine) {
  MachineSettings settings;
  std::string error;
  ASSERT_TRUE(parse_settings(default_settings_text(), "machine.toml", "/roots/m", settings, error))
      << error;
  EXPECT_EQ(describe(settings.targets), describe(hw::default_population("/roots/m/images")));
  const hw::MachineSettings hardware;
  EXPECT_EQ(settings.hardware.seed, 1u);
  EXPECT_EQ(settings.hardware.interrupt_line, 11);
  EXPECT_EQ(settings.hardware.port_access_ns, hardware.port_access_ns);
  EXPECT_EQ(settings.hardware.bus_timings.selection_timeout_ns,
            hardware.bus_timings.selection_timeout_ns);
  EXPECT_FALSE(settings.port.scan_luns_above_zero);
  EXPECT_TRUE(settings.holds_shutdown_privilege);
  EXPECT_EQ(settings.windows_version, WindowsVersion::Nt4);
  EXPECT_EQ(settings.screen_width, 800);
  EXPECT_EQ(settings.screen_height, 600);
  // The documented identities, as INQUIRY will pad them.
  ASSERT_EQ(settings.targets.size(), 5u);
  EXPECT_EQ(settings.targets[0].units[0].second.capacity_blocks * 512, 256u << 20);
  EXPECT_EQ(settings.targets[4].units[0].second.kind, hw::DeviceConfig::Kind::RemovableDisk);
  EXPECT_EQ(settings.targets[4].units[0].second.identity.product, "ZIP 100");

  MachineSettings empty;
  ASSERT_TRUE(parse_settings(empty_settings_text(), "machine.toml", "/r", empty, error)) << error;
  EXPECT_TRUE(empty.targets.empty());
  ASSERT_TRUE(parse_settings("target = []\n", "machine.toml", "/r", empty, error)) << error;
  EXPECT_TRUE(empty.targets.empty());
  EXPECT_EQ(empty.hardware.interrupt_line, 11);
}

TEST(MachineSettings, EveryPartOfTheSchemaReachesTheRecord) {
  const char* text = R"([machine]
seed = 77
port_access_ns = 250
interrupt_line = 0
scan_luns_above_zero = true
[bus_timings]
selection_timeout_ns = 1000000
[user]
shutdown_privilege = false
[windows]
version = "windows 95"
screen_width = 1024
screen_height = 768
[[target]]
id = 6
kind = "optical"
vendor = "ACME"
capabilities = ["sync", "linked", "SftRe"]
ansi_version = 1
image = "/abs/mo.img"
size = 2048000
block_bytes = 1024
read_only = true
unit_attention_on_reset = true
disconnect = "after-blocks"
disconnect_blocks = 8
[target.timings]
req_interval_ns = 300
reselection_attempts = 5
[target.unit_timings]
seek_max_ns = 9
[[target.fault]]
kind = "message-in-bytes"
opcode = 0x28
message = [2, 3]
times = 1
[[target.fault]]
kind = "drop-bsy"
phase = "data-in"
[[target.lun]]
lun = 3
kind = "disk"
removable = true
medium = false
)";
  MachineSettings s;
  std::string error;
  ASSERT_TRUE(parse_settings(text, "m.toml", "/root", s, error)) << error;
  EXPECT_EQ(s.hardware.seed, 77u);
  EXPECT_EQ(s.hardware.port_access_ns, 250u);
  EXPECT_EQ(s.hardware.interrupt_line, 0);
  EXPECT_TRUE(s.port.scan_luns_above_zero);
  EXPECT_EQ(s.hardware.bus_timings.selection_timeout_ns, 1'000'000u);
  EXPECT_FALSE(s.holds_shutdown_privilege);
  EXPECT_EQ(s.windows_version, WindowsVersion::Windows95);
  EXPECT_EQ(s.screen_width, 1024);
  EXPECT_EQ(s.screen_height, 768);
  ASSERT_EQ(s.targets.size(), 1u);
  EXPECT_EQ(describe(s.targets[0]),
            "id 6 disconnect 2/8 timings 1000,300,2000,20000,1000000,5 faults 2\n"
            "  fault 9 opcode 40 phase -1 bytes 0 status 0 times 1 at 0 message 2 3\n"
            "  fault 2 opcode -1 phase 1 bytes 0 status 0 times 0 at 0 message\n"
            "  lun 0 kind optical memory 'ACME' 'VIRTUAL' '1.0' ansi 1 rmb 0 caps 25 format 2 "
            "image '/abs/mo.img' blocks 2000 block_bytes 1024 create 1 ro 1 medium 1 ua 1 "
            "timings 20000,10,500000,9,50000\n"
            "  lun 3 kind removable disk 'QZRSIM' 'VIRTUAL' '1.0' ansi 2 rmb 0 caps 0 format 2 "
            "image '' blocks 0 block_bytes 0 create 1 ro 0 medium 0 ua 0 "
            "timings 20000,10,500000,15000000,50000\n");
}

struct BadCase {
  const char* what;
  std::string text;
  const char* error;
};

constexpr const char* kDisk = "kind = \"disk\"\nimage = \"d.img\"\n";

TEST(MachineSettings, EachMistakeIsOneLineWithFileLineAndKey) {
  const std::string disk = kDisk;
  const BadCase cases[] = {
      {"syntax", "[machine\nseed = 1\n", "m.toml:1:9: "},
      {"key given twice", "[machine]\nseed = 1\nseed = 2\n",
       "m.toml:3:8: Error while parsing key-value pair: cannot redefine existing integer 'seed'"},
      {"unknown top-level key", "colour = 3\n", "m.toml:1:1: colour: unknown key"},
      {"typo in a table", "[machine]\nsed = 2\n", "m.toml:2:1: machine.sed: unknown key"},
      {"wrong type", "[machine]\nseed = \"one\"\n",
       "m.toml:2:8: machine.seed: must be a whole number"},
      {"negative seed", "[machine]\nseed = -1\n", "m.toml:2:8: machine.seed: -1 is out of range"},
      {"interrupt line", "[machine]\ninterrupt_line = 16\n",
       "m.toml:2:18: machine.interrupt_line: 16 is out of range (0 to 15)"},
      {"zero access cost", "[machine]\nport_access_ns = 0\n",
       "m.toml:2:18: machine.port_access_ns: 0 is out of range"},
      {"not a table", "machine = 3\n", "m.toml:1:11: machine: must be a table"},
      {"bool as text", "[user]\nshutdown_privilege = \"yes\"\n",
       "m.toml:2:22: user.shutdown_privilege: must be true or false"},
      {"windows version", "[windows]\nversion = \"XP\"\n",
       "m.toml:2:11: windows.version: must be one of \"NT 4.0\", \"Windows 95\" or \"Win32s\""},
      {"bus timing typo", "[bus_timings]\nbus_free_ns = 3\n",
       "m.toml:2:1: bus_timings.bus_free_ns: unknown key"},
      {"target without id", "[[target]]\nkind = \"disk\"\n", "m.toml:1:1: target.id: missing"},
      {"ID out of range", "[[target]]\nid = 8\n" + disk,
       "m.toml:2:6: target.id: 8 is out of range (0 to 7)"},
      {"adapter's ID", "[[target]]\nid = 7\n" + disk,
       "m.toml:2:6: target.id: ID 7 is the adapter's own"},
      {"duplicate ID", "[[target]]\nid = 1\n" + disk + "[[target]]\nid = 1\n" + disk,
       "m.toml:6:6: target.id: ID 1 is taken twice"},
      {"bad kind", "[[target]]\nid = 1\nkind = \"floppy\"\n",
       "m.toml:3:8: target.kind: must be one of \"disk\", \"optical\""},
      {"kind missing", "[[target]]\nid = 1\n", "m.toml:1:1: target.kind: missing"},
      {"vendor too long", "[[target]]\nid = 1\n" + disk + "vendor = \"TOOLONGVENDOR\"\n",
       "m.toml:5:10: target.vendor: \"TOOLONGVENDOR\" is 13 characters; INQUIRY holds 8"},
      {"product too long", "[[target]]\nid = 1\n" + disk + "product = \"ABCDEFGHIJKLMNOPQ\"\n",
       "m.toml:5:11: target.product: \"ABCDEFGHIJKLMNOPQ\" is 17 characters; INQUIRY holds 16"},
      {"revision too long", "[[target]]\nid = 1\n" + disk + "revision = \"1.000\"\n",
       "m.toml:5:12: target.revision: \"1.000\" is 5 characters; INQUIRY holds 4"},
      {"unprintable identity", "[[target]]\nid = 1\n" + disk + "vendor = \"A\\tB\"\n",
       "m.toml:5:10: target.vendor: only printable ASCII characters fit"},
      {"unknown target key", "[[target]]\nid = 1\n" + disk + "colour = 1\n",
       "m.toml:5:1: target.colour: unknown key"},
      {"image missing", "[[target]]\nid = 1\nkind = \"tape\"\n",
       "m.toml:1:1: target.image: missing"},
      {"empty image", "[[target]]\nid = 1\nkind = \"disk\"\nimage = \"\"\n",
       "m.toml:4:9: target.image: empty; leave the key out for none"},
      {"size not whole blocks", "[[target]]\nid = 1\n" + disk + "size = 1000\n",
       "m.toml:5:8: target.size: not a whole number of 512-byte blocks"},
      {"size unit", "[[target]]\nid = 1\n" + disk + "size = \"2 furlongs\"\n",
       "m.toml:5:8: target.size: must be a size"},
      {"removable CD-ROM", "[[target]]\nid = 1\nkind = \"cdrom\"\nremovable = false\n",
       "m.toml:4:13: target.removable: only a disk's removability can be chosen"},
      {"ANSI version", "[[target]]\nid = 1\n" + disk + "ansi_version = 9\n",
       "m.toml:5:16: target.ansi_version: 9 is out of range (0 to 7)"},
      {"capability name", "[[target]]\nid = 1\n" + disk + "capabilities = [\"fast\"]\n",
       "m.toml:5:17: target.capabilities: each must be one of \"reladr\""},
      {"disconnect", "[[target]]\nid = 1\n" + disk + "disconnect = \"sometimes\"\n",
       "m.toml:5:14: target.disconnect: must be one of \"never\", \"after-command\" or "
       "\"after-blocks\""},
      {"blocks without after-blocks", "[[target]]\nid = 1\n" + disk + "disconnect_blocks = 4\n",
       "m.toml:5:21: target.disconnect_blocks: applies only with disconnect = \"after-blocks\""},
      {"timing typo", "[[target]]\nid = 1\n" + disk + "[target.timings]\nreq_ns = 5\n",
       "m.toml:6:1: target.timings.req_ns: unknown key"},
      {"fault kind", "[[target]]\nid = 1\n" + disk + "[[target.fault]]\nkind = \"explode\"\n",
       "m.toml:6:8: target.fault.kind: must be one of \"no-selection-response\""},
      {"fault message byte",
       "[[target]]\nid = 1\n" + disk +
           "[[target.fault]]\nkind = \"message-in-bytes\"\n"
           "message = [1, 256]\n",
       "m.toml:7:15: target.fault.message: each byte must be a whole number from 0 to 255"},
      {"fault phase",
       "[[target]]\nid = 1\n" + disk +
           "[[target.fault]]\nkind = \"drop-bsy\"\nphase = \"arbitration\"\n",
       "m.toml:7:9: target.fault.phase: must be one of \"data-out\""},
      {"LUN out of range", "[[target]]\nid = 1\n" + disk + "[[target.lun]]\nlun = 8\n" + disk,
       "m.toml:6:7: target.lun.lun: 8 is out of range (1 to 7)"},
      {"LUN taken twice",
       "[[target]]\nid = 1\n" + disk + "[[target.lun]]\nlun = 2\n" + disk +
           "[[target.lun]]\nlun = 2\n" + disk,
       "m.toml:10:7: target.lun.lun: LUN 2 is taken twice"},
      {"LUN key typo",
       "[[target]]\nid = 1\n" + disk + "[[target.lun]]\nlun = 2\n" + disk + "vendr = \"X\"\n",
       "m.toml:9:1: target.lun.vendr: unknown key"},
      {"target not a list", "[target]\nid = 1\n",
       "m.toml:1:1: target: must be a list of tables ([[target]])"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    MachineSettings settings;
    settings.screen_width = 1234;
    std::string error;
    EXPECT_FALSE(parse_settings(c.text, "m.toml", "/root", settings, error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(settings.screen_width, 1234) << "a failed parse leaves the record alone";
  }
}

}  // namespace
}  // namespace qzr::nt::runtime
