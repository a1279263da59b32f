// The registry a program changes outlives it, and a restart asked for with
// InitiateSystemShutdownA ends the program at its next safe point with the
// hive saved, so the next boot of the root reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "nt/runtime/machine_runtime.h"
#include "tests/runtime/root_fixture.h"

namespace qzr::nt::runtime {
namespace {

class ShutdownTest : public RootFixture {
 protected:
  static void write_marker(const char* data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qzr\\Marker", &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Data", 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                             static_cast<DWORD>(std::strlen(data) + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static std::string read_marker() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qzr\\Marker", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return "(no key)";
    }
    char data[64] = {};
    DWORD bytes = sizeof data;
    const LONG status =
        RegQueryValueExA(key, "Data", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? data : "(no value)";
  }

  // What the installer does to restart: enable the privilege, ask.
  static BOOL request_restart(DWORD& error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      error = GetLastError();
      return FALSE;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    if (GetLastError() != ERROR_SUCCESS) {
      error = GetLastError();
      return FALSE;
    }
    const BOOL ok = InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE);
    error = ok ? ERROR_SUCCESS : GetLastError();
    return ok;
  }
};

TEST_F(ShutdownTest, ARestartSavesTheRegistryForTheNextBoot) {
  std::string error, report;
  ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::Empty, {}, error)) << error;
  {
    auto booted = boot();
    ASSERT_TRUE(booted);
    write_marker("before restart");
    EXPECT_FALSE(shutdown_if_pending(*booted, report, error)) << "nothing asked for yet";
    EXPECT_EQ(read_file(root_dir() / "registry.reg"), "REGEDIT4\r\n\r\n");

    DWORD why = 0;
    ASSERT_TRUE(request_restart(why)) << why;
    EXPECT_TRUE(shutdown_if_pending(*booted, report, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(report, "Windows NT restarts: the registry is saved, and the next program on " +
                          booted->root->dir().string() + " boots the machine afresh from it");
    EXPECT_NE(
        read_file(root_dir() / "registry.reg").find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qzr\\Marker]"),
        std::string::npos);
  }
  auto booted = boot();
  ASSERT_TRUE(booted);
  EXPECT_EQ(read_marker(), "before restart");
  EXPECT_FALSE(shutdown_if_pending(*booted, report, error)) << "a fresh boot has nothing pending";
}

TEST_F(ShutdownTest, RegistryWritesLastWithoutARestart) {
  std::string error;
  ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::Empty, {}, error)) << error;
  boot().reset();
  EXPECT_EQ(read_file(root_dir() / "registry.reg"), "REGEDIT4\r\n\r\n")
      << "an unchanged hive is left as it was";
  {
    auto booted = boot();
    write_marker("kept");
  }
  auto booted = boot();
  EXPECT_EQ(read_marker(), "kept");
}

TEST_F(ShutdownTest, AUserWithoutThePrivilegeCannotRestart) {
  write_file(scratch() / "user.toml", "[user]\nshutdown_privilege = false\n");
  std::string error, report;
  ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::SettingsFile,
                                  scratch() / "user.toml", error))
      << error;
  auto booted = boot();
  ASSERT_TRUE(booted);
  DWORD why = 0;
  EXPECT_FALSE(request_restart(why));
  EXPECT_EQ(why, static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  EXPECT_FALSE(shutdown_if_pending(*booted, report, error));
}

}  // namespace
}  // namespace qzr::nt::runtime
