// The installer's service registration and restart against the registry,
// token and shutdown stand-ins, with message boxes recorded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nt/console/console_user.h"
#include "nt/registry/advapi32.h"
#include "setup.h"

namespace {

using qzr::nt::console::message_boxes;
using qzr::nt::registry::Advapi32;
using qzr::nt::registry::Hive;
using qzr::nt::registry::Key;
using qzr::nt::registry::kShutdownPrivilegeLuid;

const char kServiceKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\QZR6140";

std::vector<std::uint8_t> sz(std::string_view s) {
  std::vector<std::uint8_t> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}
std::vector<std::uint8_t> dword(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

struct Expected {
  const char* name;
  DWORD type;
  std::vector<std::uint8_t> data;
};

const std::vector<Expected>& six_values() {
  static const std::vector<Expected> values = {
      {"ImagePath", REG_EXPAND_SZ, sz("\\SystemRoot\\System32\\drivers\\QZR6140.SYS")},
      {"Group", REG_SZ, sz("SCSI Miniport")},
      {"ErrorControl", REG_DWORD, dword(1)},
      {"Type", REG_DWORD, dword(1)},
      {"Start", REG_DWORD, dword(1)},
      {"Tag", REG_DWORD, dword(17)},
  };
  return values;
}

class Setup : public ::testing::Test {
 protected:
  Setup() {
    qzr::nt::registry::install(&advapi_);
    qzr::nt::console::clear_message_boxes();
    qzr::nt::console::set_message_box_echo(false);
  }
  ~Setup() override {
    qzr::nt::registry::install(nullptr);
    qzr::nt::console::set_message_box_echo(true);
  }

  const Key* service_key() const { return hive_.find_key(kServiceKey); }

  std::vector<std::string> box_texts() const {
    std::vector<std::string> texts;
    for (const auto& box : message_boxes()) {
      EXPECT_EQ(box.caption, "Warning");
      EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
      EXPECT_EQ(box.owner, nullptr);  // GetFocus(): nothing has the focus
      texts.push_back(box.text);
    }
    return texts;
  }

  Hive hive_;
  Advapi32 advapi_{hive_};
};

TEST_F(Setup, RegistrationWritesTheSixValuesInOrderWithExactBytes) {
  ASSERT_TRUE(RegisterDriverService());
  const Key* key = service_key();
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values().size(), six_values().size());
  for (std::size_t i = 0; i < six_values().size(); ++i) {
    const auto& want = six_values()[i];
    const auto& got = key->values()[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(got.data, want.data);
  }
  EXPECT_EQ(advapi_.open_keys(), 0u);
  EXPECT_TRUE(message_boxes().empty());
}

TEST_F(Setup, ASecondRunOverwritesTheSixAndLeavesTheRestAlone) {
  Key* key = hive_.create_key(kServiceKey);
  hive_.set_value(*key, "Parameters Note", REG_SZ, sz("kept"));
  hive_.set_value(*key, "Start", REG_DWORD, dword(4));
  hive_.set_value(*key, "ImagePath", REG_SZ, sz("old.sys"));
  hive_.create_key(*key, "Parameters\\Device");

  ASSERT_TRUE(RegisterDriverService());
  ASSERT_TRUE(RegisterDriverService());

  key = hive_.find_key(kServiceKey);
  EXPECT_EQ(key->values().size(), 7u);
  for (const auto& want : six_values()) {
    const auto* got = key->find_value(want.name);
    ASSERT_NE(got, nullptr) << want.name;
    EXPECT_EQ(got->type, want.type) << want.name;
    EXPECT_EQ(got->data, want.data) << want.name;
  }
  EXPECT_EQ(key->find_value("Parameters Note")->data, sz("kept"));
  ASSERT_EQ(key->subkeys().size(), 1u);
  EXPECT_NE(hive_.find_key(*key, "Parameters\\Device"), nullptr);
  EXPECT_EQ(advapi_.open_keys(), 0u);
}

TEST_F(Setup, AWriteFailingPartWayKeepsTheEarlierValuesAndFails) {
  for (unsigned failing = 1; failing <= 6; ++failing) {
    SCOPED_TRACE(failing);
    Hive hive;
    Advapi32 advapi(hive);
    advapi.faults.fail_set_value_at = failing;
    qzr::nt::registry::install(&advapi);

    EXPECT_FALSE(RegisterDriverService());
    const Key* key = hive.find_key(kServiceKey);
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->values().size(), failing - 1);
    for (unsigned i = 0; i + 1 < failing; ++i)
      EXPECT_EQ(key->values()[i].name, six_values()[i].name);
    // Nothing after the failed write was attempted.
    EXPECT_EQ(advapi.set_value_calls(), failing);
    EXPECT_EQ(advapi.open_keys(), 0u);
  }
}

TEST_F(Setup, RegistrationFailsWhenTheKeyCannotBeCreated) {
  qzr::nt::registry::install(nullptr);
  EXPECT_FALSE(RegisterDriverService());
  qzr::nt::registry::install(&advapi_);
  EXPECT_FALSE(WriteServiceEntries(std::string(300, 'Q').c_str()));  // no room for the path
  EXPECT_EQ(hive_.find_key("HKEY_LOCAL_MACHINE\\SYSTEM"), nullptr);
}

TEST_F(Setup, ServiceNameGoesIntoKeyAndImagePath) {
  ASSERT_TRUE(WriteServiceEntries("Other"));
  const Key* key = hive_.find_key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Other");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->find_value("ImagePath")->data, sz("\\SystemRoot\\System32\\drivers\\Other.SYS"));
}

struct RestartCase {
  const char* what;
  bool user_holds_privilege;
  bool fail_open_token;
  bool refuse_shutdown;
  unsigned fail_adjust_at;
  BOOL result;
  std::vector<std::string> boxes;
  bool shutdown_pending;
};

TEST_F(Setup, RestartOutcomes) {
  const std::vector<RestartCase> cases = {
      {"accepted", true, false, false, 0, TRUE, {}, true},
      {"user without the privilege",
       false,
       false,
       false,
       0,
       FALSE,
       {"AdjustTokenPrivileges enable failed."},
       false},
      {"restart refused", true, false, true, 0, FALSE, {"InitiateSystemShutdown failed."}, false},
      {"token cannot be opened", true, true, false, 0, FALSE, {"OpenProcessToken failed."}, false},
      {"enabling fails",
       true,
       false,
       false,
       1,
       FALSE,
       {"AdjustTokenPrivileges enable failed."},
       false},
      {"disabling fails",
       true,
       false,
       false,
       2,
       TRUE,
       {"AdjustTokenPriveleges disable failed."},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Hive hive;
    Advapi32 advapi(hive);
    advapi.user_holds_shutdown_privilege = c.user_holds_privilege;
    advapi.faults.fail_open_token = c.fail_open_token;
    advapi.faults.refuse_shutdown = c.refuse_shutdown;
    advapi.faults.fail_adjust_at = c.fail_adjust_at;
    qzr::nt::registry::install(&advapi);
    qzr::nt::console::clear_message_boxes();
    SetLastError(ERROR_ACCESS_DENIED);  // a stale error must not count as a failure

    EXPECT_EQ(RestartWindowsNT(), c.result);
    EXPECT_EQ(box_texts(), c.boxes);
    EXPECT_EQ(advapi.shutdown_pending(), c.shutdown_pending);
    // Whatever happened, the privilege is not left enabled, except where
    // disabling it was what failed.
    EXPECT_EQ(advapi.privilege_enabled(kShutdownPrivilegeLuid), c.fail_adjust_at == 2);
  }
}

TEST_F(Setup, AnAcceptedRestartIsImmediateForcedSilentAndReboots) {
  ASSERT_TRUE(RestartWindowsNT());
  EXPECT_EQ(advapi_.token_accesses(), std::vector<DWORD>{TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY});
  ASSERT_TRUE(advapi_.shutdown_pending());
  const auto& request = *advapi_.pending_shutdown();
  EXPECT_TRUE(request.reboot);
  EXPECT_TRUE(request.force_apps_closed);
  EXPECT_EQ(request.time_out_s, 0u);
  EXPECT_FALSE(request.message.has_value());
}

TEST_F(Setup, AUserWithoutThePrivilegeKeepsTheEntriesAndNoRestart) {
  advapi_.user_holds_shutdown_privilege = false;
  ASSERT_TRUE(RegisterDriverService());
  EXPECT_FALSE(RestartWindowsNT());
  EXPECT_EQ(box_texts(), std::vector<std::string>{"AdjustTokenPrivileges enable failed."});
  EXPECT_FALSE(advapi_.shutdown_pending());
  ASSERT_NE(service_key(), nullptr);
  EXPECT_EQ(service_key()->values().size(), 6u);
}

TEST(ConsoleMessageBox, PrintsOneLineAndAnswersWithTheFirstButton) {
  qzr::nt::console::clear_message_boxes();
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "AdjustTokenPrivileges enable failed.", "Warning", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Continue?", "Setup", MB_YESNO), IDYES);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[Warning] AdjustTokenPrivileges enable failed.\n[Setup] Continue?\n");
  ASSERT_EQ(message_boxes().size(), 2u);
  EXPECT_EQ(message_boxes()[1].type, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(GetFocus(), nullptr);
}

}  // namespace
