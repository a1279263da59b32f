// The advapi32 calls as a program sees them: registry return codes and
// data rules, key rights, the token's privileges and the shutdown request.
#include "nt/registry/advapi32.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "windows.h"

namespace qzr::nt::registry {
namespace {

class Advapi : public ::testing::Test {
 protected:
  Advapi() { install(&advapi_); }
  ~Advapi() override { install(nullptr); }

  HKEY create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS) << path;
    return key;
  }

  HANDLE token(DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY) {
    HANDLE t = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &t));
    return t;
  }

  // Sets one privilege and gives AdjustTokenPrivileges' result and last error.
  std::pair<BOOL, DWORD> adjust(HANDLE t, DWORD luid, DWORD attributes) {
    TOKEN_PRIVILEGES p{};
    p.PrivilegeCount = 1;
    p.Privileges[0].Luid = LUID{luid, 0};
    p.Privileges[0].Attributes = attributes;
    SetLastError(12345);
    BOOL ok = AdjustTokenPrivileges(t, FALSE, &p, 0, nullptr, nullptr);
    return {ok, GetLastError()};
  }

  Hive hive_;
  Advapi32 advapi_{hive_};
};

TEST_F(Advapi, ReturnCodesOfMissingKeysValuesAndBadHandles) {
  HKEY key = create("SOFTWARE\\Q");
  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &opened),
            ERROR_FILE_NOT_FOUND);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "absent"), ERROR_FILE_NOT_FOUND);

  const HKEY bogus = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234));
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(bogus, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(advapi_.open_keys(), 0u);

  install(nullptr);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", &opened), ERROR_INVALID_HANDLE);
}

TEST_F(Advapi, ValuesKeepTheirTypeAndExactBytes) {
  HKEY key = create("SOFTWARE\\Types");
  struct Case {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const std::vector<Case> cases = {
      {"sz", REG_SZ, {'a', 'b', 0}},
      {"sz without zero", REG_SZ, {'a', 'b'}},
      {"expand", REG_EXPAND_SZ, {'%', 'x', '%', 0}},
      {"binary", REG_BINARY, {0, 1, 0xff}},
      {"dword", REG_DWORD, {0x11, 0, 0, 0}},
      {"multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}},
      {"", REG_SZ, {'d', 0}},
      {"empty", REG_BINARY, {}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(
        RegSetValueExA(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
        ERROR_SUCCESS);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD type = 99, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.data.size());
    std::vector<BYTE> out(size + 4, 0xEE);
    DWORD out_size = static_cast<DWORD>(out.size());
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, out.data(), &out_size), ERROR_SUCCESS);
    EXPECT_EQ(out_size, c.data.size());
    EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + out_size), c.data);
    EXPECT_EQ(out[out_size], 0xEE);  // nothing written past the data
  }
  // The default value answers to a null name as well.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  RegCloseKey(key);
}

TEST_F(Advapi, QueryIntoASmallBufferGivesMoreDataAndTheSize) {
  HKEY key = create("SOFTWARE\\Q");
  const char text[] = "SCSI Miniport";
  ASSERT_EQ(
      RegSetValueExA(key, "Group", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
      ERROR_SUCCESS);
  BYTE small[4] = {1, 2, 3, 4};
  DWORD size = sizeof small, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Group", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegQueryValueExA(key, "Group", nullptr, &type, small, nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Group", &reserved, &type, nullptr, &size),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(Advapi, RefusedWritesChangeNothing) {
  HKEY key = create("SOFTWARE\\Q");
  EXPECT_EQ(RegSetValueExA(key, "null data", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExA(key, "line\nbreak", 0, REG_BINARY, nullptr, 0), ERROR_INVALID_PARAMETER);
  std::vector<BYTE> huge(kMaxValueBytes + 1);
  EXPECT_EQ(
      RegSetValueExA(key, "huge", 0, REG_BINARY, huge.data(), static_cast<DWORD>(huge.size())),
      ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(hive_.find_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Q")->values().empty());
  RegCloseKey(key);
}

TEST_F(Advapi, KeysCarryTheRightsTheyWereOpenedWith) {
  RegCloseKey(create("SOFTWARE\\Q\\Existing"));
  HKEY read = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\q", 0, KEY_READ, &read), ERROR_SUCCESS);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(read, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(read, "v"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyA(read, "New", &sub), ERROR_ACCESS_DENIED);
  EXPECT_EQ(hive_.find_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\New"), nullptr);
  ASSERT_EQ(RegCreateKeyA(read, "Existing", &sub), ERROR_SUCCESS);  // opening needs no right
  RegCloseKey(sub);

  HKEY write = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", 0, KEY_SET_VALUE, &write),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegSetValueExA(write, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(write, "v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(read);
  RegCloseKey(write);
}

TEST_F(Advapi, CreateKeyExReportsDispositionAndRefusesBadPaths) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\a\\b", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\C", &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\C", &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(hive_.find_key("HKEY_LOCAL_MACHINE\\SOFTWARE")->subkeys().size(), 1u);
  EXPECT_EQ(advapi_.open_keys(), 0u);
}

TEST_F(Advapi, EnumeratesSubkeysAndValuesInCreationOrder) {
  HKEY key = create("SOFTWARE\\E");
  for (const char* name : {"Zeta", "alpha", "Mid"})
    RegCloseKey(create((std::string("SOFTWARE\\E\\") + name).c_str()));
  std::vector<std::string> names;
  char name[16];
  for (DWORD i = 0;; ++i) {
    DWORD chars = sizeof name;
    LONG status = RegEnumKeyExA(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(chars, std::strlen(name));
    names.push_back(name);
    ASSERT_LT(i, 10u);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  DWORD chars = 4;  // "Zeta" needs 5 with its zero
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  DWORD v = 7;
  RegSetValueExA(key, "b", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
  RegSetValueExA(key, "a", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
  chars = sizeof name;
  DWORD type = 0, data = 0, size = 4;
  ASSERT_EQ(
      RegEnumValueA(key, 0, name, &chars, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(name, "b");
  EXPECT_EQ(data, 7u);
  chars = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 2, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(Advapi, AHandleWhoseKeyVanishedWithAReloadSaysSo) {
  HKEY key = create("SOFTWARE\\Gone");
  std::string error;
  ASSERT_TRUE(hive_.parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Other]\r\n", "t.reg", error))
      << error;
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Advapi, TheNthSetValueFailsWhenScripted) {
  advapi_.faults.fail_set_value_at = 2;
  advapi_.faults.set_value_error = ERROR_CANTWRITE;
  HKEY key = create("SOFTWARE\\F");
  DWORD v = 1;
  EXPECT_EQ(RegSetValueExA(key, "one", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "two", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
            ERROR_CANTWRITE);
  EXPECT_EQ(RegSetValueExA(key, "three", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
            ERROR_SUCCESS);
  const Key* k = hive_.find_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\F");
  EXPECT_NE(k->find_value("one"), nullptr);
  EXPECT_EQ(k->find_value("two"), nullptr);
  EXPECT_EQ(advapi_.set_value_calls(), 3u);
  RegCloseKey(key);
}

TEST_F(Advapi, FlushWritesTheHiveFile) {
  const std::string path = "/tmp/qzr-advapi-flush-" + std::to_string(::getpid()) + ".reg";
  Advapi32 with_file(hive_, path);
  install(&with_file);
  HKEY key = create("SOFTWARE\\Saved");
  EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  RegCloseKey(key);
  Hive reread;
  std::string error;
  ASSERT_TRUE(reread.load(path, error)) << error;
  EXPECT_NE(reread.find_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Saved"), nullptr);
  std::filesystem::remove(path);
}

TEST(Privileges, NamesLookUpToWindowsNtIdentifiers) {
  LUID luid{};
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &luid));
  EXPECT_EQ(luid.LowPart, 19u);
  EXPECT_EQ(luid.HighPart, 0);
  ASSERT_TRUE(LookupPrivilegeValueA("", "seshutdownprivilege", &luid));
  EXPECT_EQ(luid.LowPart, 19u);
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_LOAD_DRIVER_NAME, &luid));
  EXPECT_EQ(luid.LowPart, 10u);
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
}

TEST_F(Advapi, AdjustingPrivilegesReportsThroughTheLastError) {
  struct Case {
    const char* what;
    bool user_holds;
    DWORD attributes;
    BOOL result;
    DWORD last_error;
    bool enabled_after;
  };
  const std::vector<Case> cases = {
      {"held, enable", true, SE_PRIVILEGE_ENABLED, TRUE, ERROR_SUCCESS, true},
      {"held, disable", true, 0, TRUE, ERROR_SUCCESS, false},
      {"not held, enable", false, SE_PRIVILEGE_ENABLED, TRUE, ERROR_NOT_ALL_ASSIGNED, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    advapi_.user_holds_shutdown_privilege = c.user_holds;
    auto [ok, error] = adjust(token(), kShutdownPrivilegeLuid, c.attributes);
    EXPECT_EQ(ok, c.result);
    EXPECT_EQ(error, c.last_error);
    EXPECT_EQ(advapi_.privilege_enabled(kShutdownPrivilegeLuid), c.enabled_after);
  }
}

TEST_F(Advapi, TokenHandlesAreCheckedForRights) {
  auto [ok, error] = adjust(token(TOKEN_QUERY), kShutdownPrivilegeLuid, SE_PRIVILEGE_ENABLED);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  std::tie(ok, error) = adjust(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x44)),
                               kShutdownPrivilegeLuid, SE_PRIVILEGE_ENABLED);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(advapi_.privilege_enabled(kShutdownPrivilegeLuid));

  HANDLE t = nullptr;
  EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x40)),
                                TOKEN_QUERY, &t));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  advapi_.faults.fail_open_token = true;
  EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &t));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Advapi, PreviousStateNamesWhatChanged) {
  HANDLE t = token();
  TOKEN_PRIVILEGES p{};
  p.PrivilegeCount = 1;
  p.Privileges[0] = {LUID{kShutdownPrivilegeLuid, 0}, SE_PRIVILEGE_ENABLED};
  TOKEN_PRIVILEGES previous{};
  DWORD bytes = 0;
  EXPECT_FALSE(AdjustTokenPrivileges(t, FALSE, &p, 4, &previous, &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(bytes, sizeof(TOKEN_PRIVILEGES));
  EXPECT_FALSE(advapi_.privilege_enabled(kShutdownPrivilegeLuid));
  ASSERT_TRUE(AdjustTokenPrivileges(t, FALSE, &p, sizeof previous, &previous, &bytes));
  EXPECT_EQ(previous.PrivilegeCount, 1u);
  EXPECT_EQ(previous.Privileges[0].Luid.LowPart, kShutdownPrivilegeLuid);
  EXPECT_EQ(previous.Privileges[0].Attributes, 0u);
  ASSERT_TRUE(AdjustTokenPrivileges(t, FALSE, &previous, 0, nullptr, nullptr));
  EXPECT_FALSE(advapi_.privilege_enabled(kShutdownPrivilegeLuid));
}

TEST_F(Advapi, ShutdownNeedsTheEnabledPrivilegeAndIsRecorded) {
  SetLastError(0);
  EXPECT_FALSE(InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_FALSE(advapi_.shutdown_pending());

  adjust(token(), kShutdownPrivilegeLuid, SE_PRIVILEGE_ENABLED);
  char remote[] = "\\\\OTHER";
  EXPECT_FALSE(InitiateSystemShutdownA(remote, nullptr, 0, TRUE, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  advapi_.faults.refuse_shutdown = true;
  EXPECT_FALSE(InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_FALSE(advapi_.shutdown_pending());

  advapi_.faults.refuse_shutdown = false;
  char message[] = "going down";
  ASSERT_TRUE(InitiateSystemShutdownA(nullptr, message, 30, FALSE, TRUE));
  ASSERT_TRUE(advapi_.shutdown_pending());
  const ShutdownRequest& request = *advapi_.pending_shutdown();
  EXPECT_TRUE(request.reboot);
  EXPECT_FALSE(request.force_apps_closed);
  EXPECT_EQ(request.time_out_s, 30u);
  EXPECT_EQ(request.message, "going down");
  EXPECT_FALSE(InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS));
}

}  // namespace
}  // namespace qzr::nt::registry
