// The real miniport, loaded as a module, on the simulated machine with no
// target on its bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "tests/scsiport/port_rig.h"

namespace qzr::nt::scsiport::test {
namespace {

constexpr ULONG kMaximumTransferBytes = 17 * 4096;  // the miniport's 17 breaks

struct StartCase {
  std::uint8_t interrupt_line;
};

class ModuleStart : public ::testing::TestWithParam<StartCase> {};

TEST_P(ModuleStart, FindsTheBoardByIdentityStartsItAndScansEveryId) {
  hw::MachineSettings settings;
  settings.interrupt_line = GetParam().interrupt_line;
  PortRig rig(settings);

  ASSERT_EQ(rig.load_module(), 0u) << rig.logs();

  ASSERT_EQ(rig.port_driver.port_count(), 1u);
  PortDevice& port = rig.port();
  EXPECT_EQ(port.name(), "\\\\.\\scsi0:");
  EXPECT_EQ(rig.port_driver.find_port("\\\\.\\scsi0:"), &port);
  EXPECT_EQ(port.pci_slot(), rig.machine.board_slot());
  EXPECT_EQ(port.interrupt_line(), GetParam().interrupt_line);

  const PORT_CONFIGURATION_INFORMATION& config = port.configuration();
  EXPECT_EQ(config.NumberOfAccessRanges, 2u);
  ASSERT_EQ(port.access_ranges().size(), 2u);
  EXPECT_EQ(port.access_ranges()[0].RangeStart.QuadPart, rig.machine.board_io_base());
  EXPECT_EQ(port.access_ranges()[0].RangeLength, 32u);
  EXPECT_FALSE(port.access_ranges()[0].RangeInMemory);
  EXPECT_EQ(port.access_ranges()[1].RangeLength, 0u);
  EXPECT_EQ(config.BusInterruptLevel, GetParam().interrupt_line);
  EXPECT_EQ(port.maximum_transfer_bytes(), kMaximumTransferBytes);

  // INQUIRY to every ID, the adapter's own included; nobody answered.
  EXPECT_EQ(port.start_io_calls(), 8u);
  EXPECT_TRUE(port.inquiry_data().empty());
  EXPECT_TRUE(rig.port_driver.class_devices().empty());
  rig.expect_clean();
}

INSTANTIATE_TEST_SUITE_P(InterruptLines, ModuleStart,
                         ::testing::Values(StartCase{11}, StartCase{0}), [](const auto& info) {
                           return "line" + std::to_string(info.param.interrupt_line);
                         });

TEST(ModuleLoad, ReportsWhatKeepsAModuleFromLoading) {
  struct Case {
    const char* path;
    const char* says;
  };
  const Case cases[] = {
      {"/nonexistent/qzr6140.so", "cannot load"},
      {QZR_SCSIPORT_LIBRARY, "no DriverEntry"},
  };
  for (const Case& c : cases) {
    PortRig rig;
    std::string error;
    EXPECT_FALSE(rig.port_driver.load_miniport(c.path, kRegistryPath, error).has_value()) << c.path;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(rig.port_driver.port_count(), 0u);
  }
}

struct SelectionCase {
  UCHAR target;
  hw::TimeNs at_least_ns;
  hw::TimeNs at_most_ns;
};

TEST(ModuleRequests, EndWithSelectionTimeOutWhenNobodyAnswers) {
  // An absent target is given up after the miniport's BSY poll, about a
  // second; the adapter's own ID right after it has won arbitration.
  const SelectionCase cases[] = {
      {3, 900 * hw::kNsPerMs, 2 * hw::kNsPerS},
      {7, 0, 1 * hw::kNsPerMs},
  };
  PortRig rig;
  ASSERT_EQ(rig.load_module(), 0u);
  for (const SelectionCase& c : cases) {
    std::array<std::uint8_t, 36> data{};
    const RequestOutcome outcome = rig.port_driver.execute(inquiry(c.target, data));
    ASSERT_TRUE(outcome.finished) << "target " << int(c.target);
    EXPECT_EQ(outcome.srb_status, SRB_STATUS_SELECTION_TIMEOUT) << "target " << int(c.target);
    const hw::TimeNs elapsed_ns = outcome.finished_ns - outcome.started_ns;
    EXPECT_GE(elapsed_ns, c.at_least_ns) << "target " << int(c.target);
    EXPECT_LE(elapsed_ns, c.at_most_ns) << "target " << int(c.target);
  }
  rig.expect_clean();
}

TEST(ModuleRequests, RefusesATransferLargerThanTheAdapterTakes) {
  PortRig rig;
  ASSERT_EQ(rig.load_module(), 0u);
  const std::uint64_t calls_before = rig.port().start_io_calls();
  std::vector<std::uint8_t> largest(kMaximumTransferBytes), too_large(kMaximumTransferBytes + 1);

  // Target 7 fails fast: the request only has to reach the miniport.
  EXPECT_EQ(rig.port_driver.execute(inquiry(7, largest)).srb_status, SRB_STATUS_SELECTION_TIMEOUT);
  EXPECT_EQ(rig.port().start_io_calls(), calls_before + 1);
  EXPECT_EQ(rig.port_driver.execute(inquiry(7, too_large)).srb_status, SRB_STATUS_INVALID_REQUEST);
  EXPECT_EQ(rig.port().start_io_calls(), calls_before + 1);
}

// The lines as they settle: each change of (signals, data), with the
// transient states an agent passes through inside one notification left in.
std::vector<std::pair<std::uint16_t, std::uint8_t>> bus_states(const hw::BusTrace& trace,
                                                               std::size_t from) {
  std::vector<std::pair<std::uint16_t, std::uint8_t>> out;
  for (std::size_t i = from; i < trace.entries().size(); ++i) {
    out.emplace_back(trace.entries()[i].signals, trace.entries()[i].data);
  }
  return out;
}

TEST(ModuleRequests, ArbitrateAndSelectOnTheBusAsA5380Does) {
  namespace sig = hw::sig;
  PortRig rig;
  ASSERT_EQ(rig.load_module(), 0u);
  const hw::BusTrace& trace = rig.machine.bus().trace();
  const std::size_t from = trace.entries().size();

  std::array<std::uint8_t, 36> data{};
  ASSERT_EQ(rig.port_driver.execute(inquiry(3, data)).srb_status, SRB_STATUS_SELECTION_TIMEOUT);

  // Arbitration: BSY with our ID; then SEL; then the target's ID joins ours
  // with ATN; BSY is released and the adapter waits for the target's BSY,
  // which never comes; finally everything is released.
  using State = std::pair<std::uint16_t, std::uint8_t>;
  const std::vector<State> expected = {
      {sig::BSY, 0x80},
      {sig::BSY | sig::SEL, 0x80},
      {sig::BSY | sig::SEL | sig::ATN, 0x88},
      {sig::SEL | sig::ATN, 0x88},
      {0, 0x00},
  };
  std::vector<State> seen = bus_states(trace, from);
  // Drop the intermediate steps a register write takes on its way (data
  // lines and control lines change in separate writes).
  std::vector<State> milestones;
  for (const State& state : seen) {
    if (std::find(expected.begin(), expected.end(), state) != expected.end() &&
        (milestones.empty() || milestones.back() != state)) {
      milestones.push_back(state);
    }
  }
  EXPECT_EQ(milestones, expected);

  // SEL follows the start of arbitration by at least the arbitration delay.
  auto time_of = [&](State state) {
    for (std::size_t i = from; i < trace.entries().size(); ++i) {
      const hw::TraceEntry& e = trace.entries()[i];
      if (e.signals == state.first && e.data == state.second) return e.time_ns;
    }
    return hw::TimeNs{0};
  };
  EXPECT_GE(time_of({sig::BSY | sig::SEL, 0x80}) - time_of({sig::BSY, 0x80}),
            rig.machine.bus().timings().arbitration_delay_ns);
  rig.expect_clean();
}

TEST(ModuleRequests, MachinesInOneProcessKeepToThemselves) {
  PortRig first, second;
  ASSERT_EQ(first.load_module(), 0u);
  ASSERT_EQ(second.load_module(), 0u);
  // Each machine counts its own port devices.
  EXPECT_EQ(second.port().name(), "\\\\.\\scsi0:");

  const hw::TimeNs second_before_ns = second.now_ns();
  const std::size_t second_debug_lines = second.port_driver.debug_log().size();
  std::array<std::uint8_t, 36> data{};
  EXPECT_EQ(first.port_driver.execute(inquiry(2, data)).srb_status, SRB_STATUS_SELECTION_TIMEOUT);
  EXPECT_EQ(second.now_ns(), second_before_ns);
  EXPECT_EQ(second.port_driver.debug_log().size(), second_debug_lines);
  first.expect_clean();
  second.expect_clean();
}

}  // namespace
}  // namespace qzr::nt::scsiport::test
