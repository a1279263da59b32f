// The whole stack meeting a scanner, a bus reset while a request is
// disconnected, and another initiator arbitrating with the adapter.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "hw/board_registers.h"
#include "hw/targets/other_initiator.h"
#include "hw/targets/scsi_target.h"
#include "tests/stack/stack_rig.h"

namespace qzr::nt::scsiport::stack_test {
namespace {

// A scanner that takes whatever SEND (10) carries and keeps it.
class ScannerDouble final : public hw::LogicalUnit {
 public:
  std::uint8_t device_type() const override { return 0x06; }
  hw::CommandOutcome execute(std::span<const std::uint8_t> cdb) override {
    hw::CommandOutcome outcome;
    switch (cdb[0]) {
      case 0x12: {  // INQUIRY
        std::vector<std::uint8_t> data(36, ' ');
        data[0] = 0x06;
        data[1] = 0;
        data[2] = 2;
        data[3] = 2;
        data[4] = 31;
        data[5] = data[6] = data[7] = 0;
        const std::string text = "QZRSIM  SCANNER         1.0 ";
        std::copy(text.begin(), text.end(), data.begin() + 8);
        data.resize(std::min<std::size_t>(data.size(), cdb[4]));
        outcome.direction = hw::DataDirection::In;
        outcome.data_in = std::move(data);
        return outcome;
      }
      case 0x2A:  // SEND (10)
        outcome.direction = hw::DataDirection::Out;
        outcome.data_out_bytes = (std::uint32_t{cdb[6]} << 16) | (cdb[7] << 8) | cdb[8];
        return outcome;
      default:
        return outcome;
    }
  }
  hw::DataOutResult complete_data_out(std::span<const std::uint8_t>,
                                      std::span<const std::uint8_t> data) override {
    received.insert(received.end(), data.begin(), data.end());
    return {};
  }
  void reset() override {}

  std::vector<std::uint8_t> received;
};

TEST(StackScanner, DataOutToAScannerGoesByteByByteWithoutTheHostBuffer) {
  constexpr std::uint8_t kScannerId = 4;
  StackRig rig;
  hw::TargetSettings settings;
  settings.id = kScannerId;
  hw::ScsiTarget::Units units;
  auto scanner = std::make_unique<ScannerDouble>();
  ScannerDouble& received = *scanner;
  units[0] = std::move(scanner);
  rig.machine.add_target(settings, std::move(units));
  rig.start({});
  ASSERT_EQ(rig.adapter().TargetDeviceType[kScannerId], 0x06);

  std::vector<std::string> host_buffer_lines;
  rig.machine.board().log().enable(hw::log_category::ALL);
  rig.machine.board().log().set_sink([&](std::string_view line) {
    if (line.find("HOST_BUFFER_PORT") != std::string_view::npos ||
        line.find("block engine") != std::string_view::npos) {
      host_buffer_lines.emplace_back(line);
    }
  });
  // More than a host-buffer block, ending partway into the next.
  std::vector<std::uint8_t> picture = patterned_bytes(300, 9);
  ScsiRequest send;
  send.target_id = kScannerId;
  send.cdb = {0x2A, 0, 0, 0, 0, 0, 0, 0x01, 0x2C, 0};
  send.direction = DataDirection::Out;
  send.buffer = picture;
  const RequestOutcome outcome = rig.port_driver.execute(send);
  rig.machine.board().log().enable(0);

  EXPECT_EQ(outcome.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_EQ(received.received, picture);
  EXPECT_TRUE(host_buffer_lines.empty()) << host_buffer_lines.front();
  rig.expect_clean();
}

// A read held disconnected for longer than its time-out: the port driver
// resets the bus; the target forgets the command and never reselects, and
// the next request finds the disk.
TEST(StackBusReset, ABusResetWhileARequestIsDisconnectedEndsItCleanly) {
  constexpr std::uint8_t kDiskId = 1;
  ImageDir dir;
  const auto image = dir.path() / "disk.img";
  const auto original = patterned_bytes(1024 * 512, 5);
  write_file(image, original);
  hw::TargetConfig disk = disk_target(kDiskId, image);
  disk.settings.disconnect = {hw::DisconnectPolicy::Kind::AfterCommand, 0};
  // A slow unit: the data is ready well after the request's time-out.
  disk.units[0].second.timings.command_latency_ns = 3 * hw::kNsPerS;
  StackRig rig;
  rig.start(std::span(&disk, 1));

  std::vector<std::uint8_t> data(512, 0xEE);
  ScsiRequest slow = read10(kDiskId, 2, 1, data);
  slow.timeout_s = 1;
  const RequestOutcome outcome = rig.port_driver.execute(slow);
  EXPECT_EQ(SRB_STATUS(outcome.srb_status), SRB_STATUS_TIMEOUT) << rig.logs();
  EXPECT_GE(rig.port().reset_bus_calls(), 1u);
  // Long past when the data would have come: nobody reselects, nothing lands.
  rig.port().run_until_idle(rig.now_ns() + 5 * hw::kNsPerS);
  rig.machine.clock().advance_by(5 * hw::kNsPerS);
  rig.port().run_until_idle(rig.now_ns() + hw::kNsPerS);
  EXPECT_TRUE(rig.bus_free());
  EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](auto b) { return b == 0xEE; }));

  std::vector<std::uint8_t> again(512);
  ScsiRequest next = read10(kDiskId, 7, 1, again);
  next.timeout_s = 10;
  const RequestOutcome read = rig.port_driver.execute(next);
  EXPECT_EQ(SRB_STATUS(read.srb_status), SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_TRUE(std::equal(again.begin(), again.end(), original.begin() + 7 * 512));
  EXPECT_TRUE(rig.port_driver.driver_errors().empty()) << rig.logs();
  EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.logs();
}

// ---- Another initiator arbitrating at the same moment as the adapter -------

constexpr std::uint8_t kRivalId = 6;
constexpr std::uint8_t kAbsentTarget = 3;

// When the adapter's BSY goes on the bus for a request, from its start.
hw::TimeNs adapter_arbitration_offset_ns() {
  StackRig rig;
  rig.start({});
  const hw::BusTrace& trace = rig.machine.bus().trace();
  const std::size_t from = trace.entries().size();
  const hw::TimeNs start_ns = rig.now_ns();
  std::array<std::uint8_t, 36> data{};
  rig.port_driver.execute(inquiry(kAbsentTarget, data));
  for (std::size_t i = from; i < trace.entries().size(); ++i) {
    if (trace.entries()[i].signals & hw::sig::BSY) return trace.entries()[i].time_ns - start_ns;
  }
  return 0;
}

struct RivalCase {
  const char* name;
  std::optional<hw::TimeNs> decision_delay_ns;  // none: the arbitration delay
  UCHAR srb_status;
  hw::ArbitratingInitiator::State rival_state;
};

class StackRival : public ::testing::TestWithParam<RivalCase> {};

TEST_P(StackRival, TheAdapterGivesWayOnlyToARivalStillOnTheBusWhenItLooks) {
  const RivalCase& c = GetParam();
  const hw::TimeNs offset_ns = adapter_arbitration_offset_ns();
  ASSERT_NE(offset_ns, 0u);
  StackRig rig;
  rig.start({});
  std::vector<std::uint8_t> mode_writes;
  hw::DeviceLog& board_log = rig.machine.board().log();
  board_log.enable(hw::log_category::REGISTER_WRITE);
  board_log.set_sink([&](std::string_view line) {
    const auto value = line.rfind("<- 0x");
    if (line.find("write Mode ") != std::string_view::npos && value != std::string_view::npos) {
      mode_writes.push_back(static_cast<std::uint8_t>(
          std::stoul(std::string(line.substr(value + 5, 2)), nullptr, 16)));
    }
  });
  // The rival comes along just before the adapter's BSY goes on the bus and
  // starts at that very instant: both saw the bus free and both arbitrate.
  const hw::TimeNs arbitration_ns = rig.now_ns() + offset_ns;
  std::optional<hw::ArbitratingInitiator> rival;
  rig.machine.clock().schedule_at(arbitration_ns - 1, [&] {
    rival.emplace(rig.machine.clock(), rig.machine.bus(), kRivalId, arbitration_ns,
                  50 * hw::kNsPerUs, c.decision_delay_ns);
  });
  const hw::BusTrace& trace = rig.machine.bus().trace();
  const std::size_t from = trace.entries().size();
  std::array<std::uint8_t, 36> data{};
  const RequestOutcome outcome = rig.port_driver.execute(inquiry(kAbsentTarget, data));
  board_log.enable(0);

  bool both_ids_seen = false;
  for (std::size_t i = from; i < trace.entries().size(); ++i) {
    const hw::TraceEntry& entry = trace.entries()[i];
    both_ids_seen |= (entry.signals & hw::sig::BSY) && entry.data == 0xC0;
  }
  EXPECT_TRUE(both_ids_seen);
  ASSERT_TRUE(rival.has_value());
  EXPECT_EQ(rival->arbitration_start_ns(), arbitration_ns);
  EXPECT_EQ(outcome.srb_status, c.srb_status) << rig.logs();
  // Giving way leaves DMA Mode alone in the Mode register, as the miniport does.
  const bool gave_way =
      std::find(mode_writes.begin(), mode_writes.end(), 0x02) != mode_writes.end();
  EXPECT_EQ(gave_way, c.srb_status == SRB_STATUS_BUSY);
  // The rival decides and, having won, finishes with the bus.
  rig.machine.clock().advance_by(hw::kNsPerMs);
  EXPECT_EQ(rival->state(), c.rival_state);
  EXPECT_TRUE(rig.bus_free());
  rig.expect_clean();
}

INSTANTIATE_TEST_SUITE_P(
    Rivals, StackRival,
    ::testing::Values(RivalCase{"PromptRivalYields", std::nullopt, SRB_STATUS_SELECTION_TIMEOUT,
                                hw::ArbitratingInitiator::State::Lost},
                      RivalCase{"SlowRivalStillOnTheBus", 20 * hw::kNsPerUs, SRB_STATUS_BUSY,
                                hw::ArbitratingInitiator::State::Won}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qzr::nt::scsiport::stack_test
