// The driver's low routines on the simulated board instead of a script: the
// recording port passes every access to the machine and still records it.
#include "hw/machine.h"
#include "hw/population.h"
// The driver's register names are macros: its header comes after the model's.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/driver/driver_fixture.h"

namespace qzr::driver_test {
namespace {

class OnBoard : public DriverTest {
 protected:
  OnBoard() {
    image_dir_ = std::filesystem::temp_directory_path() /
                 ("qzr-on-board-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(image_dir_);
    hw::TargetConfig disk;
    disk.settings.id = 1;
    hw::DeviceConfig unit;
    unit.image_path = (image_dir_ / "disk.img").string();
    unit.capacity_blocks = 64;
    unit.create_if_missing = true;
    disk.units.emplace_back(0, unit);
    std::string error;
    std::vector<hw::TargetConfig> targets{disk};
    EXPECT_TRUE(hw::populate(machine_, targets, error)) << error;

    port.set_base_port(machine_.board_io_base());
    adapter.BaseIoAddress = port.base();
    hw::PciBus& pci = machine_.pci();
    const std::uint32_t base = machine_.board_io_base();
    port.connect(RecordingPort::Hardware{
        [&pci, base](unsigned offset) { return pci.read8(base + offset); },
        [&pci, base](unsigned offset, UCHAR value) { pci.write8(base + offset, value); },
        [&pci, base](unsigned offset) { return static_cast<ULONG>(pci.read32(base + offset)); },
        [&pci, base](unsigned offset, ULONG value) { pci.write32(base + offset, value); },
        [this](ULONG us) { machine_.clock().advance_by(us * hw::kNsPerUs); },
    });
    lu.LuState = LU_STATE_START;
    lu.CurrentSrb = &request;
    adapter.ActiveLu = &lu;
  }
  ~OnBoard() override { std::filesystem::remove_all(image_dir_); }

  bool trace_shows(std::uint16_t signals, std::uint8_t data) {
    const auto& entries = machine_.bus().trace().entries();
    return std::any_of(entries.begin(), entries.end(), [&](const hw::TraceEntry& e) {
      return (e.signals & signals) == signals && e.data == data;
    });
  }

  std::filesystem::path image_dir_;
  hw::Machine machine_;
};

TEST_F(OnBoard, StartArbitrateAndSelectWithDisconnectPrivilege) {
  ASSERT_TRUE(KLV528xInitialize(&adapter));
  ASSERT_TRUE(KLV528xArbitrate(&adapter));
  ASSERT_TRUE(KLV528xSelect(&adapter, &lu, &request));

  // ID 7 alone won the bus, then selected ID 1 with ATN and sent IDENTIFY
  // with the disconnect privilege (LUN 0, interrupt line 11, scan over).
  EXPECT_TRUE(trace_shows(hw::sig::BSY, 0x80));
  EXPECT_TRUE(trace_shows(hw::sig::SEL | hw::sig::ATN, 0x82));
  EXPECT_TRUE(trace_shows(hw::sig::BSY | hw::sig::MSG | hw::sig::CD | hw::sig::ACK, 0xC0));
  EXPECT_EQ(adapter.CurrentPhase, 3);
  // The target now holds the bus and, once it has moved on, asks for the
  // command.
  machine_.clock().advance_by(100 * hw::kNsPerUs);
  const auto bus = machine_.bus().state();
  EXPECT_TRUE(bus.has(hw::sig::BSY | hw::sig::REQ | hw::sig::CD));
  EXPECT_EQ(bus.phase(), hw::Phase::Command);
  EXPECT_TRUE(machine_.guest_errors().empty()) << machine_.guest_errors().format();
}

TEST_F(OnBoard, AbsentTargetTimesOutAfterAboutOneSecond) {
  request.TargetId = 4;
  port.add_logical_unit(0, 4, 0, &lu);
  ASSERT_TRUE(KLV528xInitialize(&adapter));
  ASSERT_TRUE(KLV528xArbitrate(&adapter));
  const hw::TimeNs start = machine_.clock().now_ns();
  EXPECT_FALSE(KLV528xSelect(&adapter, &lu, &request));
  const hw::TimeNs waited = machine_.clock().now_ns() - start;
  // 1,000,001 polls of BSY, each a port read and a 1 us stall.
  EXPECT_GT(waited, 1'000 * hw::kNsPerMs);
  EXPECT_LT(waited, 2'000 * hw::kNsPerMs);
  EXPECT_EQ(port.debug_lines().back(), "Fail to get BSY in Selection ! ! !\n");
  EXPECT_EQ(machine_.bus().state().signals, 0);  // nothing left driven
  EXPECT_TRUE(machine_.guest_errors().empty()) << machine_.guest_errors().format();
}

}  // namespace
}  // namespace qzr::driver_test
