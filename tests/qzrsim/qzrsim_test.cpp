// qzrsim as a user runs it: the built program on a machine root of the
// test's own, checked by exit code, output and the files it writes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A folder of the test's own; the machine root lives at dir()/machine.
class Scratch {
 public:
  Scratch() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "qzr-qzrsim-" + std::to_string(::getpid()) + "-" +
                       (info ? std::string(info->name()) : std::string("suite"));
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    dir_ = fs::temp_directory_path() / name;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~Scratch() { fs::remove_all(dir_); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& dir() const { return dir_; }
  fs::path root() const { return dir_ / "machine"; }

  // qzrsim --machine ROOT ARGS, its streams caught in files.
  Outcome qzrsim(const std::string& args) const {
    const auto out = dir_ / "stdout", err = dir_ / "stderr";
    const std::string line = std::string(QZRSIM_BINARY) + " --machine '" + root().string() + "' " +
                             args + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(line.c_str());
    Outcome run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
  }

 private:
  fs::path dir_;
};

// One root with the driver installed, shared by the commands that only read.
class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = std::make_unique<Scratch>();
    const Outcome init = scratch_->qzrsim("init");
    ASSERT_EQ(init.code, 0) << init.err;
    const Outcome install = scratch_->qzrsim("install");
    ASSERT_EQ(install.code, 0) << install.err;
  }
  static void TearDownTestSuite() { scratch_.reset(); }
  static Outcome qzrsim(const std::string& args) { return scratch_->qzrsim(args); }
  static std::unique_ptr<Scratch> scratch_;
};
std::unique_ptr<Scratch> Installed::scratch_;

// ---- The root's life: init, the driver not yet installed, install ----------

TEST(QzrsimRoot, InitRefusesARootThatExists) {
  Scratch scratch;
  const Outcome first = scratch.qzrsim("init");
  EXPECT_EQ(first.code, 0) << first.err;
  EXPECT_TRUE(fs::exists(scratch.root() / "SystemRoot" / "System32" / "drivers" / "QZR6140.SYS"));
  const Outcome second = scratch.qzrsim("init");
  EXPECT_EQ(second.code, 1);
  EXPECT_THAT(second.err, HasSubstr(scratch.root().string()));
}

TEST(QzrsimRoot, ScanBeforeInstallSaysThereIsNoPortDevice) {
  Scratch scratch;
  ASSERT_EQ(scratch.qzrsim("init").code, 0);
  const Outcome scan = scratch.qzrsim("scan");
  EXPECT_EQ(scan.code, 1);
  EXPECT_THAT(scan.err, HasSubstr("no SCSI port device"));
  EXPECT_THAT(scan.err, HasSubstr("qzrsim install"));
}

TEST(QzrsimRoot, InstallWritesTheServiceKeyAndRestarts) {
  Scratch scratch;
  ASSERT_EQ(scratch.qzrsim("init").code, 0);
  const Outcome install = scratch.qzrsim("install");
  ASSERT_EQ(install.code, 0) << install.err;
  EXPECT_THAT(install.out, HasSubstr("RestartWindowsNT: restart accepted"));
  EXPECT_THAT(install.out, HasSubstr("the registry is saved"));
  const std::string hive = slurp(scratch.root() / "registry.reg");
  EXPECT_THAT(hive,
              HasSubstr("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\QZR6140]"));
  EXPECT_THAT(hive, HasSubstr("\"Tag\"=dword:00000011"));
}

TEST(QzrsimRoot, InstallWithoutTheShutdownPrivilegeKeepsTheEntriesForTheNextBoot) {
  Scratch scratch;
  ASSERT_EQ(scratch.qzrsim("init").code, 0);
  const fs::path settings = scratch.root() / "machine.toml";
  std::string text = slurp(settings);
  const auto at = text.find("shutdown_privilege = true");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 25, "shutdown_privilege = false");
  std::ofstream(settings, std::ios::trunc) << text;

  const Outcome install = scratch.qzrsim("install");
  EXPECT_EQ(install.code, 1);
  EXPECT_THAT(install.err, HasSubstr("[Warning] AdjustTokenPrivileges enable failed."));
  EXPECT_THAT(install.err, HasSubstr("RestartWindowsNT failed"));
  // Whoever boots the machine next gets the driver.
  const Outcome scan = scratch.qzrsim("scan");
  EXPECT_EQ(scan.code, 0) << scan.err;
  EXPECT_THAT(scan.out, HasSubstr("\\\\.\\scanner0"));
}

// ---- What the machine cannot be used for: exit 3, one clear line -----------

TEST(QzrsimRoot, MachineThatCannotBeUsedExitsThreeWithOneLine) {
  Scratch scratch;
  // No root at all.
  Outcome run = scratch.qzrsim("scan");
  EXPECT_EQ(run.code, 3);
  EXPECT_THAT(run.err, HasSubstr("qzrsim init"));

  ASSERT_EQ(scratch.qzrsim("init").code, 0);
  {
    // Held by another process (this one).
    const int lock = ::open((scratch.root() / "machine.lock").c_str(), O_RDWR);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    run = scratch.qzrsim("scan");
    ::close(lock);
    EXPECT_EQ(run.code, 3);
    EXPECT_THAT(run.err, HasSubstr("in use"));
  }

  std::ofstream(scratch.root() / "machine.toml", std::ios::app) << "\n[machine]\nsede = 4\n";
  run = scratch.qzrsim("scan");
  EXPECT_EQ(run.code, 3);
  EXPECT_THAT(run.err, HasSubstr("machine.toml:"));
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST(QzrsimRoot, InitFromABadSettingsFileLeavesNoRoot) {
  Scratch scratch;
  const fs::path settings = scratch.dir() / "bad.toml";
  std::ofstream(settings) << "[[target]]\nid = 7\nkind = \"disk\"\n";
  const Outcome init = scratch.qzrsim("init --from '" + settings.string() + "'");
  EXPECT_EQ(init.code, 3);
  EXPECT_THAT(init.err, HasSubstr("bad.toml:"));
  EXPECT_EQ(std::count(init.err.begin(), init.err.end(), '\n'), 1) << init.err;
  EXPECT_FALSE(fs::exists(scratch.root() / "machine.toml"));
}

// ---- Usage errors: exit 2 with the usage -------------------------------------

TEST(QzrsimUsage, MistakesOnTheCommandLineExitTwo) {
  Scratch scratch;
  const struct {
    const char* args;
    const char* says;
  } cases[] = {
      {"", "usage: qzrsim"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"scan --colour", "unknown option '--colour'"},
      {"exec 12 00 00 00 24 00", "--target is missing"},
      {"exec --target 9 00 00 00 00 00 00", "--target takes a number from 0 to 7"},
      {"exec --target 2 --in many 12 00 00 00 24 00", "--in takes a number"},
      {"exec --target 2 zz", "a CDB byte"},
      {"exec --target 2 --in 4 --out /dev/null 00", "exclude each other"},
      {"scanimage", "give one output file"},
      {"scanimage x.png --mode sepia", "--mode takes lineart, gray or color"},
      {"trace x.vcd", "after '--'"},
      {"trace x.vcd -- nothing", "unknown command 'nothing'"},
      {"init --empty --from x.toml", "exclude each other"},
      {"log -- exec --target", "--target needs a value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome run = scratch.qzrsim(c.args);
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_THAT(run.err, HasSubstr("--help"));
  }
}

TEST(QzrsimUsage, EveryCommandHasHelp) {
  Scratch scratch;
  for (const char* command :
       {"init", "install", "scan", "aspi", "exec", "scanimage", "trace", "log", "run"}) {
    SCOPED_TRACE(command);
    const Outcome run = scratch.qzrsim(std::string(command) + " --help");
    EXPECT_EQ(run.code, 0);
    EXPECT_THAT(run.out, HasSubstr(std::string("usage: qzrsim ") + command));
  }
  const Outcome tool = scratch.qzrsim("--help");
  EXPECT_EQ(tool.code, 0);
  EXPECT_THAT(tool.out, HasSubstr("Exit codes:"));
}

TEST(QzrsimRun, HandsTheRootAndTheScriptToTheProgram) {
  Scratch scratch;
  ASSERT_EQ(scratch.qzrsim("init").code, 0);
  // A stand-in program that shows what it was given and exits with its own code.
  const fs::path program = scratch.dir() / "show-env";
  std::ofstream(program) << "#!/bin/sh\necho \"$QZR_MACHINE|$QZR_DO|$QZR_SCREENSHOT\"\nexit 7\n";
  fs::permissions(program, fs::perms::owner_all);
  const Outcome run = scratch.qzrsim("run '" + program.string() +
                                     "' --do menu:File/About... --do key:ESC --screenshot s.png");
  EXPECT_EQ(run.code, 7);
  EXPECT_EQ(run.out, scratch.root().string() + "|menu:File/About...;key:ESC|s.png\n");

  const Outcome missing = scratch.qzrsim("run no-such-program");
  EXPECT_EQ(missing.code, 1);
  EXPECT_THAT(missing.err, HasSubstr("no program 'no-such-program'"));
}

// ---- The installed default machine ----------------------------------------------

TEST_F(Installed, ScanListsTheFiveDevicesWithTheDriversProfile) {
  const Outcome scan = qzrsim("scan --driver-state --json");
  ASSERT_EQ(scan.code, 0) << scan.err;
  const struct {
    int id;
    const char* type;
    const char* vendor;
    const char* product;
    const char* device;
    int block_write_delay_us;
  } devices[] = {
      {0, "disk", "FUJITSU", "M1606S", "\\\\\\\\.\\\\PhysicalDrive0", 32},
      {2, "scanner", "", "", "\\\\\\\\.\\\\scanner0", 0},
      {3, "CD-ROM", "", "", "\\\\\\\\.\\\\CdRom0", 90},
      {4, "tape", "", "", "\\\\\\\\.\\\\Tape0", 20},
      {5, "disk", "IOMEGA", "ZIP 100", "\\\\\\\\.\\\\PhysicalDrive1", 16},
  };
  // Each device object, in ID order, as the writer lays it out.
  std::size_t at = 0;
  for (const auto& d : devices) {
    SCOPED_TRACE(d.id);
    at = scan.out.find("\"id\": " + std::to_string(d.id) + ",", at);
    ASSERT_NE(at, std::string::npos);
    const auto end = scan.out.find("\"block_write_delay_us\"", at);
    ASSERT_NE(end, std::string::npos);
    const std::string object = scan.out.substr(at, scan.out.find('}', end) - at);
    EXPECT_THAT(object, HasSubstr(std::string("\"type_name\": \"") + d.type + "\""));
    if (*d.vendor) {
      EXPECT_THAT(object, HasSubstr(std::string("\"vendor\": \"") + d.vendor + "\""));
    }
    if (*d.product) {
      EXPECT_THAT(object, HasSubstr(std::string("\"product\": \"") + d.product + "\""));
    }
    EXPECT_THAT(object, HasSubstr(std::string("\"class_device\": \"") + d.device + "\""));
    EXPECT_THAT(object,
                HasSubstr("\"block_write_delay_us\": " + std::to_string(d.block_write_delay_us)));
  }
  EXPECT_EQ(scan.out.find("\"id\": 1,"), std::string::npos);
  EXPECT_EQ(scan.out.find("\"id\": 6,"), std::string::npos);
}

TEST_F(Installed, AspiShowsTheScannerByPassThroughAndTheRestFromTheCache) {
  const Outcome aspi = qzrsim("aspi --json");
  ASSERT_EQ(aspi.code, 0) << aspi.err;
  EXPECT_THAT(aspi.out, HasSubstr("\"host_adapters\": 1"));
  EXPECT_THAT(aspi.out, HasSubstr("\"ha_scsi_id\": 7"));
  const struct {
    int id;
    const char* route;
  } routes[] = {{0, "inquiry_cache"}, {1, "refused"},       {2, "pass_through"},
                {3, "inquiry_cache"}, {4, "inquiry_cache"}, {5, "inquiry_cache"},
                {6, "refused"},       {7, "refused"}};
  for (const auto& r : routes) {
    SCOPED_TRACE(r.id);
    const auto at = aspi.out.find("\"id\": " + std::to_string(r.id) + ",");
    ASSERT_NE(at, std::string::npos);
    const std::string object = aspi.out.substr(at, aspi.out.find('}', at) - at);
    EXPECT_THAT(object, HasSubstr(std::string("\"route\": \"") + r.route + "\""));
  }
}

TEST_F(Installed, ExecReportsDataStatusAndSense) {
  const Outcome inquiry = qzrsim("exec --target 2 --in 36 12 00 00 00 24 00");
  EXPECT_EQ(inquiry.code, 0) << inquiry.err;
  EXPECT_THAT(inquiry.out, HasSubstr("status 0x00 GOOD, 36 bytes in"));
  EXPECT_THAT(inquiry.out, HasSubstr("0000  06 00 02 02"));

  // LUN 1 of the disk does not exist: CHECK CONDITION, ILLEGAL REQUEST,
  // LOGICAL UNIT NOT SUPPORTED.
  const Outcome ready = qzrsim("exec --json --target 0 --lun 1 00 00 00 00 00 00");
  EXPECT_EQ(ready.code, 1);
  EXPECT_THAT(ready.out, HasSubstr("\"status_name\": \"CHECK CONDITION\""));
  EXPECT_THAT(ready.out, HasSubstr("\"sense_text\": \"ILLEGAL REQUEST, ASC 0x25, ASCQ 0x00\""));

  const Outcome absent = qzrsim("exec --target 1 00 00 00 00 00 00");
  EXPECT_EQ(absent.code, 1);
  EXPECT_THAT(absent.out, HasSubstr("no answer from target 1"));
}

TEST_F(Installed, ExecMovesDataOutAndIntoAFile) {
  // A block written to the disk and read back through --data-out.
  const fs::path block = scratch_->dir() / "block.bin", back = scratch_->dir() / "back.bin";
  std::string data(512, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  std::ofstream(block, std::ios::binary) << data;
  const Outcome write =
      qzrsim("exec --target 0 --out '" + block.string() + "' 2a 00 00 00 00 10 00 00 01 00");
  EXPECT_EQ(write.code, 0) << write.out << write.err;
  const Outcome read = qzrsim("exec --target 0 --in 512 --data-out '" + back.string() +
                              "' 28 00 00 00 00 10 00 00 01 00");
  EXPECT_EQ(read.code, 0) << read.out << read.err;
  EXPECT_EQ(slurp(back), data);
}

TEST_F(Installed, ScanImageWritesAPageOfTheGlassSize) {
#ifndef QZRSIM_PNG
  GTEST_SKIP() << "PNG files are written by the 64-bit build only";
#endif
  const fs::path png = scratch_->dir() / "page.png";
  const Outcome scan = qzrsim("scanimage '" + png.string() + "' --dpi 75 --mode lineart");
  ASSERT_EQ(scan.code, 0) << scan.err;
  const std::string file = slurp(png);
  ASSERT_GE(file.size(), 24u);
  EXPECT_EQ(file.substr(1, 3), "PNG");
  const auto be32 = [&](std::size_t at) {
    return (static_cast<unsigned char>(file[at]) << 24) |
           (static_cast<unsigned char>(file[at + 1]) << 16) |
           (static_cast<unsigned char>(file[at + 2]) << 8) |
           static_cast<unsigned char>(file[at + 3]);
  };
  EXPECT_EQ(be32(16), 637u);  // 8.5 inch at 75 dpi
  EXPECT_EQ(be32(20), 877u);  // 11.7 inch
}

TEST_F(Installed, TraceWritesTheCommandsWaveform) {
  const fs::path vcd = scratch_->dir() / "inquiry.vcd";
  const Outcome trace =
      qzrsim("trace '" + vcd.string() + "' -- exec --target 2 --in 36 12 00 00 00 24 00");
  ASSERT_EQ(trace.code, 0) << trace.err;
  const std::string text = slurp(vcd);
  EXPECT_THAT(text, HasSubstr("$enddefinitions $end"));
  EXPECT_THAT(text, HasSubstr("BSY"));
  // The scanner's answer crosses the data lines: its type byte, 0x06.
  EXPECT_THAT(text, HasSubstr("b00000110 #"));
  // A command's trace, not the boot's: a few hundred changes, not thousands.
  const auto changes = std::count(text.begin(), text.end(), '#');
  EXPECT_GT(changes, 20);
  EXPECT_LT(changes, 1000);
}

TEST_F(Installed, LogListsTheScansSelectionTimeOutsInTimeOrder) {
  const Outcome log = qzrsim("log");
  ASSERT_EQ(log.code, 0) << log.err;
  // IDs 1 and 6 do not answer the boot's scan.
  const auto first = log.out.find("Fail to get BSY in Selection");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.out.find("Fail to get BSY in Selection", first + 1), std::string::npos);
  const Outcome json = qzrsim("log --json -- exec --target 6 00 00 00 00 00 00");
  EXPECT_EQ(json.code, 1);
  EXPECT_THAT(json.out, HasSubstr("\"source\": \"debug\""));
}

}  // namespace
