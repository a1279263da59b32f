// The process machine: a tool chooses its root (or $QZR_MACHINE names it)
// before anything boots, and the windowing stand-in's hooks see that root.
// Each case runs in a child process, as the process machine is booted once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "nt/runtime/machine_runtime.h"
#include "tests/runtime/root_fixture.h"

namespace qzr::nt::runtime {
namespace {

class ProcessMachineTest : public RootFixture {
 protected:
  void SetUp() override {
    RootFixture::SetUp();
    write_file(scratch() / "m.toml",
               "[windows]\nversion = \"Windows 95\"\nscreen_width = 1024\nscreen_height = 768\n"
               "[[target]]\nid = 2\nkind = \"scanner\"\n");
    std::string error;
    ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::SettingsFile,
                                    scratch() / "m.toml", error))
        << error;
  }

  // Runs `body` in a child; its return value is the child's verdict.
  static void in_child(const std::function<const char*()>& body) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const char* failure = body();
      if (failure) std::fprintf(stderr, "child: %s\n", failure);
      ::_exit(failure ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  static const char* check_booted_root() {
    BootedMachine* booted = process_machine();
    if (!booted || !booted->root) return "the process machine is not the root's";
    if (booted->machine.target(2) == nullptr || booted->machine.target(0) != nullptr) {
      return "the bus is not the root's";
    }
    int width = 0, height = 0, platform = -1;
    if (!nt_runtime_screen(&width, &height, &platform) || width != 1024 || height != 768 ||
        platform != VER_PLATFORM_WIN32_WINDOWS) {
      return "the screen hook does not give the root's settings";
    }
    return nullptr;
  }
};

TEST_F(ProcessMachineTest, AToolChoosesTheRootBeforeItBoots) {
  in_child([&]() -> const char* {
    ::unsetenv("QZR_MACHINE");
    std::string error;
    if (!use_machine_root(root_dir() / "nowhere", error)) {
      if (error.find("is not a machine root") == std::string::npos) return "wrong error";
    } else {
      return "a folder without a root was taken";
    }
    if (!use_machine_root(root_dir(), error)) return "the root was refused";
    if (const char* failure = check_booted_root()) return failure;
    if (use_machine_root(root_dir(), error)) return "a second choice after boot was taken";
    if (error != "the process machine is already running; choose its root before it boots") {
      return "wrong error for a late choice";
    }
    if (nt_runtime_safe_point() != 0) return "a safe point ended a running machine";
    return nullptr;
  });
}

TEST_F(ProcessMachineTest, QzrMachineNamesTheRoot) {
  in_child([&]() -> const char* {
    ::setenv("QZR_MACHINE", root_dir().c_str(), 1);
    if (const char* failure = check_booted_root()) return failure;
    // The root is held by this process.
    std::string error;
    if (MachineRoot::open(root_dir(), error)) return "the root was not locked";
    // A restart asked for ends the program at its next safe point.
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    if (!InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE)) return "no restart";
    if (nt_runtime_safe_point() != 1) return "the safe point did not end the program";
    return nullptr;
  });
}

TEST_F(ProcessMachineTest, WithoutARootTheBuiltInMachineRunsAndTheScreenIsDefault) {
  in_child([&]() -> const char* {
    ::unsetenv("QZR_MACHINE");
    int width = 0;
    int height = 0;
    int platform = -1;
    if (nt_runtime_screen(&width, &height, &platform) != 0 || width != 0) {
      return "the screen hook answered without a root";
    }
    BootedMachine* booted = process_machine();
    if (!booted || booted->root || booted->port_driver.port_count() != 1) {
      return "the built-in machine did not boot";
    }
    return nullptr;
  });
}

TEST_F(ProcessMachineTest, ABusyRootIsReportedAndNothingBoots) {
  std::string error;
  auto held = MachineRoot::open(root_dir(), error);
  ASSERT_TRUE(held) << error;
  in_child([&]() -> const char* {
    ::setenv("QZR_MACHINE", root_dir().c_str(), 1);
    std::string error;
    if (boot_process_machine(error) != nullptr) return "a busy root booted";
    if (error.find(" is in use by process " + std::to_string(::getppid())) == std::string::npos) {
      return "the reason is not given";
    }
    return process_machine() == nullptr ? nullptr : "a second call booted";
  });
}

}  // namespace
}  // namespace qzr::nt::runtime
