// A machine root on disk: what creating one makes, what it refuses, and the
// lock that keeps a root to one process at a time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "nt/runtime/machine_root.h"
#include "tests/runtime/root_fixture.h"

namespace qzr::nt::runtime {
namespace {
namespace fs = std::filesystem;

using MachineRootTest = RootFixture;

TEST_F(MachineRootTest, CreateMakesSettingsEmptyHiveDriverAndImages) {
  std::string error;
  ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::Default, {}, error)) << error;
  EXPECT_EQ(read_file(root_dir() / "machine.toml"), default_settings_text());
  // No service key: the driver is not installed until the installer runs.
  EXPECT_EQ(read_file(root_dir() / "registry.reg"), "REGEDIT4\r\n\r\n");
  const fs::path driver = root_dir() / "SystemRoot" / "System32" / "drivers" / "QZR6140.SYS";
  ASSERT_TRUE(fs::exists(driver));
  EXPECT_EQ(fs::file_size(driver), fs::file_size(QZR_MINIPORT_MODULE));
  EXPECT_EQ(fs::file_size(root_dir() / "images" / "cdrom3.iso"), 1u << 20);
  EXPECT_EQ(fs::file_size(root_dir() / "images" / "disk0.img"), 256u << 20);
  EXPECT_EQ(fs::file_size(root_dir() / "images" / "zip5.img"), 96u << 20);
  EXPECT_TRUE(fs::exists(root_dir() / "images" / "tape4.tap"));

  auto root = MachineRoot::open(root_dir(), error);
  ASSERT_TRUE(root) << error;
  EXPECT_EQ(root->settings().targets.size(), 5u);
  EXPECT_EQ(root->settings().targets[0].units[0].second.image_path,
            (root->dir() / "images" / "disk0.img").string());
}

TEST_F(MachineRootTest, EmptyAndFromFileSources) {
  std::string error;
  ASSERT_TRUE(MachineRoot::create(root_dir() / "empty", MachineRoot::Source::Empty, {}, error))
      << error;
  auto empty = MachineRoot::open(root_dir() / "empty", error);
  ASSERT_TRUE(empty) << error;
  EXPECT_TRUE(empty->settings().targets.empty());

  const fs::path file = root_dir() / "mine.toml";
  write_file(file,
             "[machine]\nseed = 9\n[[target]]\nid = 1\nkind = \"cdrom\"\n"
             "image = \"media/disc.iso\"\nsize = \"64 KiB\"\n");
  ASSERT_TRUE(
      MachineRoot::create(root_dir() / "mine", MachineRoot::Source::SettingsFile, file, error))
      << error;
  // The disc is mastered where the settings say, relative to the new root.
  EXPECT_EQ(fs::file_size(root_dir() / "mine" / "media" / "disc.iso"), 64u << 10);
  EXPECT_EQ(read_file(root_dir() / "mine" / "machine.toml"), read_file(file));
}

TEST_F(MachineRootTest, CreateRefusesAndLeavesNothingBehind) {
  std::string error;
  ASSERT_TRUE(MachineRoot::create(root_dir() / "taken", MachineRoot::Source::Empty, {}, error));
  fs::create_directories(root_dir() / "busy");
  write_file(root_dir() / "busy" / "notes.txt", "mine");
  write_file(root_dir() / "plain-file", "x");
  write_file(root_dir() / "bad.toml", "[machine]\nseed = 1\n[[target]]\nid = 7\n");
  write_file(root_dir() / "no-png.toml",
             "[[target]]\nid = 2\nkind = \"scanner\"\nimage = \"nowhere.png\"\n");

  struct Case {
    const char* what;
    fs::path dir;
    MachineRoot::Source source;
    fs::path file;
    std::string error;
  };
  const Case cases[] = {
      {"a root already",
       root_dir() / "taken",
       MachineRoot::Source::Default,
       {},
       (root_dir() / "taken").string() + " already holds a machine root"},
      {"a folder in use",
       root_dir() / "busy",
       MachineRoot::Source::Default,
       {},
       (root_dir() / "busy").string() + " is not empty"},
      {"a file",
       root_dir() / "plain-file",
       MachineRoot::Source::Default,
       {},
       (root_dir() / "plain-file").string() + " exists and is not a folder"},
      {"bad settings", root_dir() / "new1", MachineRoot::Source::SettingsFile,
       root_dir() / "bad.toml",
       (root_dir() / "bad.toml").string() + ":4:6: target.id: ID 7 is the adapter's own"},
      {"no settings file", root_dir() / "new2", MachineRoot::Source::SettingsFile,
       root_dir() / "absent.toml", (root_dir() / "absent.toml").string() + ": cannot read"},
      {"a device that cannot be built", root_dir() / "new3", MachineRoot::Source::SettingsFile,
       root_dir() / "no-png.toml", "target 2 LUN 0: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool existed = fs::exists(c.dir);
    EXPECT_FALSE(MachineRoot::create(c.dir, c.source, c.file, error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(fs::exists(c.dir), existed) << "a failed create leaves no folder";
  }
  EXPECT_EQ(read_file(root_dir() / "busy" / "notes.txt"), "mine");
}

TEST_F(MachineRootTest, OneUserAtATime) {
  std::string error;
  ASSERT_TRUE(MachineRoot::create(root_dir(), MachineRoot::Source::Empty, {}, error)) << error;
  auto first = MachineRoot::open(root_dir(), error);
  ASSERT_TRUE(first) << error;

  const std::string in_use = "machine root " + first->dir().string() + " is in use by process " +
                             std::to_string(::getpid());
  EXPECT_FALSE(MachineRoot::open(root_dir(), error));
  EXPECT_EQ(error, in_use);
  EXPECT_FALSE(MachineRoot::create(root_dir(), MachineRoot::Source::Empty, {}, error));

  // Another process is refused in the same words.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string child_error;
    auto again = MachineRoot::open(root_dir(), child_error);
    ::_exit(!again && child_error == in_use ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  first.reset();
  EXPECT_TRUE(MachineRoot::open(root_dir(), error)) << error;

  EXPECT_FALSE(MachineRoot::open(root_dir() / "SystemRoot", error));
  EXPECT_EQ(error, (root_dir() / "SystemRoot").string() +
                       " is not a machine root (it has no machine.toml)");
}

TEST(DefaultMachineRoot, EnvironmentDecides) {
  struct Case {
    const char* machine;
    const char* data_home;
    const char* home;
    const char* root;
  };
  const Case cases[] = {
      {"/m/root", "/data", "/home/u", "/m/root"},
      {"", "/data", "/home/u", "/data/qzr/machine"},
      {nullptr, "relative", "/home/u", "/home/u/.local/share/qzr/machine"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/qzr/machine"},
      {nullptr, nullptr, nullptr, ""},
  };
  const char* names[] = {"QZR_MACHINE", "XDG_DATA_HOME", "HOME"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(names[i]);
    had[i] = value != nullptr;
    saved[i] = value ? value : "";
  }
  for (const Case& c : cases) {
    const char* values[] = {c.machine, c.data_home, c.home};
    for (int i = 0; i < 3; ++i) {
      if (values[i]) {
        ::setenv(names[i], values[i], 1);
      } else {
        ::unsetenv(names[i]);
      }
    }
    EXPECT_EQ(default_machine_root().string(), c.root);
  }
  for (int i = 0; i < 3; ++i) {
    if (had[i]) {
      ::setenv(names[i], saved[i].c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
}

}  // namespace
}  // namespace qzr::nt::runtime
