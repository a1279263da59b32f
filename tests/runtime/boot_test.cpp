// Booting a machine root: the drivers come from the registry's Services
// key, as the installer leaves it, and the boot log says what became of
// each service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel32_io.h"
#include "nt/registry/hive.h"
#include "nt/runtime/machine_runtime.h"
#include "tests/runtime/root_fixture.h"

namespace qzr::nt::runtime {
namespace {
namespace fs = std::filesystem;

constexpr const char* kServices = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

std::vector<std::uint8_t> dword(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}
std::vector<std::uint8_t> sz(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

struct Registration {
  std::string name = "qzr6140";
  std::uint32_t type = 1;
  std::uint32_t start = 1;
  std::string group = "SCSI Miniport";
  std::uint32_t tag = 17;
  std::string image_path = "\\SystemRoot\\System32\\drivers\\QZR6140.SYS";
};

class BootTest : public RootFixture {
 protected:
  void SetUp() override {
    RootFixture::SetUp();
    std::string error;
    ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::Default, {}, error)) << error;
  }

  // The service entries as the installer writes them.
  void register_service(const Registration& r) {
    registry::Hive hive;
    std::string error;
    const std::string file = (root_dir() / "registry.reg").string();
    ASSERT_TRUE(hive.load(file, error)) << error;
    registry::Key* key = hive.create_key(kServices + r.name, &error);
    ASSERT_TRUE(key) << error;
    ASSERT_TRUE(hive.set_value(*key, "Type", registry::kRegDword, dword(r.type)));
    ASSERT_TRUE(hive.set_value(*key, "Start", registry::kRegDword, dword(r.start)));
    ASSERT_TRUE(hive.set_value(*key, "Group", registry::kRegSz, sz(r.group)));
    ASSERT_TRUE(hive.set_value(*key, "ErrorControl", registry::kRegDword, dword(1)));
    ASSERT_TRUE(hive.set_value(*key, "Tag", registry::kRegDword, dword(r.tag)));
    ASSERT_TRUE(hive.set_value(*key, "ImagePath", registry::kRegExpandSz, sz(r.image_path)));
    ASSERT_TRUE(hive.save(file, error)) << error;
  }

  static std::string log_text(const BootedMachine& booted) {
    std::string text;
    for (const auto& line : booted.boot_log) text += line.text + "\n";
    return text;
  }
};

TEST_F(BootTest, WithoutAServiceKeyThereIsNoPortDevice) {
  auto booted = boot();
  ASSERT_TRUE(booted);
  EXPECT_EQ(booted->port_driver.port_count(), 0u);
  EXPECT_NE(log_text(*booted).find("no SCSI miniport is registered under "
                                   "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services"),
            std::string::npos)
      << log_text(*booted);
  EXPECT_EQ(CreateFileA("\\\\.\\scsi0:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(BootTest, TheRegisteredMiniportFindsTheDefaultBus) {
  register_service({});
  auto booted = boot();
  ASSERT_TRUE(booted);
  ASSERT_EQ(booted->port_driver.port_count(), 1u) << format_machine_log(*booted);
  EXPECT_EQ(booted->port_driver.port(0).name(), "\\\\.\\scsi0:");
  std::vector<int> ids;
  for (const auto& record : booted->port_driver.port(0).inquiry_data()) {
    ids.push_back(record.target_id);
  }
  EXPECT_EQ(ids, (std::vector<int>{0, 2, 3, 4, 5}));
  const std::string log = format_machine_log(*booted);
  EXPECT_NE(log.find("boot: service qzr6140: loading " +
                     (root_dir() / "SystemRoot/System32/drivers/QZR6140.SYS").string() +
                     ", DriverEntry(\\Registry\\Machine\\System\\CurrentControlSet\\Services\\"
                     "qzr6140)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("boot: service qzr6140: DriverEntry returned 0x00000000; started "
                     "\\\\.\\scsi0:"),
            std::string::npos)
      << log;
  EXPECT_TRUE(booted->machine.guest_errors().entries().empty());
  // One log in time order: the scan's debug lines fall between the loading
  // and DriverEntry's return, a later guest error after both.
  booted->machine.guest_errors().record("qzr6140", "a stray read");
  const std::string merged = format_machine_log(*booted);
  const auto loading = merged.find("boot: service qzr6140: loading");
  const auto debug = merged.find("] debug ");
  const auto returned = merged.find("boot: service qzr6140: DriverEntry returned");
  const auto guest = merged.find("] guest error: qzr6140: a stray read");
  ASSERT_NE(debug, std::string::npos) << merged;
  ASSERT_NE(guest, std::string::npos) << merged;
  EXPECT_LT(loading, debug) << merged;
  EXPECT_LT(debug, returned) << merged;
  EXPECT_LT(returned, guest) << merged;

  HANDLE port = CreateFileA("\\\\.\\scsi0:", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(port, INVALID_HANDLE_VALUE);
  CloseHandle(port);
}

TEST_F(BootTest, NtPathFormsOfTheImageAllLoad) {
  for (const char* path :
       {"\\systemroot\\SYSTEM32\\Drivers\\qzr6140.sys", "System32\\drivers\\QZR6140.SYS",
        "%SystemRoot%\\System32\\drivers\\QZR6140.SYS"}) {
    SCOPED_TRACE(path);
    Registration r;
    r.image_path = path;
    register_service(r);
    auto booted = boot();
    ASSERT_TRUE(booted);
    EXPECT_EQ(booted->port_driver.port_count(), 1u) << log_text(*booted);
  }
}

TEST_F(BootTest, ServicesThatAreNotLoadedSayWhy) {
  struct Case {
    const char* what;
    Registration registration;
    std::string log;
  };
  auto with = [](auto change) {
    Registration r;
    change(r);
    return r;
  };
  const Case cases[] = {
      {"missing image",
       with([](Registration& r) { r.image_path = "\\SystemRoot\\System32\\drivers\\NOSUCH.SYS"; }),
       "service qzr6140: not loaded: image \"\\SystemRoot\\System32\\drivers\\NOSUCH.SYS\" is "
       "missing (no " +
           (root_dir() / "SystemRoot/System32/drivers/NOSUCH.SYS").string() + ")"},
      {"another group", with([](Registration& r) { r.group = "Keyboard Port"; }),
       "service qzr6140: ignored: group \"Keyboard Port\" is not \"SCSI Miniport\""},
      {"demand start", with([](Registration& r) { r.start = 3; }),
       "service qzr6140: not loaded: Start 3"},
      {"not a kernel driver", with([](Registration& r) { r.type = 16; }),
       "service qzr6140: ignored: Type 16 is not a kernel driver"},
      {"outside the SystemRoot", with([](Registration& r) { r.image_path = "C:\\QZR6140.SYS"; }),
       "service qzr6140: not loaded: ImagePath \"C:\\QZR6140.SYS\" is not under \\SystemRoot"},
      {"climbing out", with([](Registration& r) { r.image_path = "..\\machine.toml"; }),
       "service qzr6140: not loaded: ImagePath \"..\\machine.toml\" leaves \\SystemRoot"},
      {"a folder", with([](Registration& r) { r.image_path = "System32\\drivers"; }),
       "service qzr6140: not loaded: image \"System32\\drivers\" is not a file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    register_service(c.registration);
    auto booted = boot();
    ASSERT_TRUE(booted);
    EXPECT_EQ(booted->port_driver.port_count(), 0u);
    EXPECT_NE(log_text(*booted).find(c.log), std::string::npos) << log_text(*booted);
  }
}

TEST_F(BootTest, MiniportsLoadInTagOrder) {
  for (auto [name, tag] : {std::pair{"late", 30u}, std::pair{"early", 2u}}) {
    Registration r;
    r.name = name;
    r.tag = tag;
    r.image_path = std::string("System32\\drivers\\") + name + ".sys";
    register_service(r);
  }
  auto booted = boot();
  ASSERT_TRUE(booted);
  const std::string log = log_text(*booted);
  const auto early = log.find("service early:");
  const auto late = log.find("service late:");
  ASSERT_NE(early, std::string::npos) << log;
  ASSERT_NE(late, std::string::npos) << log;
  EXPECT_LT(early, late) << log;
}

TEST_F(BootTest, TheHiveIsSavedAndTheNextBootReadsIt) {
  {
    auto booted = boot();
    ASSERT_TRUE(booted);
    EXPECT_EQ(booted->port_driver.port_count(), 0u);
    // What the installer writes lands in the running machine's hive...
    registry::Key* key = booted->hive.create_key(std::string(kServices) + "qzr6140");
    ASSERT_TRUE(key);
    Registration r;
    booted->hive.set_value(*key, "Type", registry::kRegDword, dword(r.type));
    booted->hive.set_value(*key, "Start", registry::kRegDword, dword(r.start));
    booted->hive.set_value(*key, "Group", registry::kRegSz, sz(r.group));
    booted->hive.set_value(*key, "Tag", registry::kRegDword, dword(r.tag));
    booted->hive.set_value(*key, "ImagePath", registry::kRegExpandSz, sz(r.image_path));
    std::string error;
    ASSERT_TRUE(save_registry(*booted, error)) << error;
  }
  // ...and the next boot of the root loads the driver it names.
  auto booted = boot();
  ASSERT_TRUE(booted);
  EXPECT_EQ(booted->port_driver.port_count(), 1u) << log_text(*booted);
}

TEST_F(BootTest, AMachineThatCannotBeBuiltIsAnErrorAndFreesTheRoot) {
  write_file(root_dir() / "registry.reg", "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\X]\r\n");
  std::string error;
  auto root = MachineRoot::open(root_dir(), error);
  ASSERT_TRUE(root) << error;
  EXPECT_FALSE(boot_root(std::move(root), error));
  EXPECT_NE(error.find("registry.reg:3"), std::string::npos) << error;
  EXPECT_EQ(read_file(root_dir() / "registry.reg"), "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\X]\r\n")
      << "a hive that did not load is not overwritten";
  EXPECT_TRUE(MachineRoot::open(root_dir(), error)) << error;
}

}  // namespace
}  // namespace qzr::nt::runtime
