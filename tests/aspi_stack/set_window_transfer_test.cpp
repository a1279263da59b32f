// How the miniport moves a scanner's parameter data: SET WINDOW sent through
// torvik reaches the scanner byte by byte through Output Data, with neither
// the host buffer nor the block engine touched in its Data Out phase. The
// same watch over a READ, and over a SET WINDOW to a scanner the miniport has
// taken for a disk, sees the host buffer at work, so a quiet watch means
// the buffer was not used rather than not seen.
#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "hw/targets/scan_window.h"
#include "hw/targets/scanner.h"
#include "tests/aspi_stack/stack_fixture.h"
#include "tools/common/aspi_exec_request.h"
#include "torvik.h"

// Last: its register names are macros that would clash with the model's.
#include "driver/qzr6140.h"

namespace qzr::aspi_stack_test {
namespace {

constexpr std::uint32_t kUnitsPerInch = 1200;  // the scanner's default measurement unit

// What the board saw during one command, split by the bus phase in force at
// each access.
struct BoardWatch {
  unsigned data_out_output_data_writes = 0;
  unsigned data_out_host_buffer_accesses = 0;
  unsigned data_out_dma_starts = 0;
  unsigned data_in_host_buffer_accesses = 0;
  unsigned host_buffer_accesses = 0;
  std::vector<std::uint8_t> data_out_bytes;  // on the bus, at each ACK of Data Out
};

hw::ScanWindow small_gray_window() {
  // Half an inch by a tenth at 300 dpi: 150 pixels by 30 lines.
  hw::ScanWindow window;
  window.x_resolution_dpi = window.y_resolution_dpi = 300;
  window.upper_left_x = kUnitsPerInch;
  window.upper_left_y = kUnitsPerInch;
  window.width = kUnitsPerInch / 2;
  window.length = kUnitsPerInch / 10;
  window.composition = 2;
  window.bits_per_pixel = 8;
  window.brightness = 0x5A;  // distinct bytes in the descriptor
  window.threshold = 0xA5;
  return window;
}

std::vector<std::uint8_t> set_window_parameters(const hw::ScanWindow& window) {
  std::vector<std::uint8_t> parameters(hw::ScanWindow::kHeaderBytes, 0);
  parameters[7] = hw::ScanWindow::kDescriptorBytes;
  const auto descriptor = window.encode();
  parameters.insert(parameters.end(), descriptor.begin(), descriptor.end());
  return parameters;
}

class SetWindowTransfer : public Stack {
 protected:
  void SetUp() override {
    Stack::SetUp();
    ASSERT_NO_FATAL_FAILURE(attach_torvik());
    ASSERT_EQ(ScannerSCSIID, kScannerId);
  }
  void TearDown() override {
    if (booted_) {
      EXPECT_TRUE(booted_->machine.guest_errors().empty());
    }
    Stack::TearDown();
  }

  hw::Machine& machine() { return booted_->machine; }
  ADAPTER_EXTENSION& adapter() {
    return *static_cast<ADAPTER_EXTENSION*>(port().device_extension());
  }
  const hw::Scanner& scanner() {
    return dynamic_cast<const hw::Scanner&>(*machine().target(kScannerId)->unit(0));
  }

  ULONG send(std::vector<std::uint8_t> cdb, std::uint8_t* buffer, ULONG bytes, bool in) {
    SRB_ExecSCSICmd srb;
    qzr::tools::fill_exec_request(srb, kScannerId, cdb.data(), cdb.size(), buffer, bytes, in);
    return SendASPI32Command(reinterpret_cast<LPSRB>(&srb));
  }
  ULONG set_window(std::vector<std::uint8_t>& parameters) {
    const auto length = static_cast<std::uint8_t>(parameters.size());
    return send({0x24, 0, 0, 0, 0, 0, 0, 0, length, 0}, parameters.data(), length, false);
  }
  ULONG read(std::vector<std::uint8_t>& data) {
    const auto n = static_cast<std::uint32_t>(data.size());
    return send({0x28, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(n >> 16),
                 static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), 0},
                data.data(), n, true);
  }

  // Runs `command` with the board's log and the bus trace watched.
  template <typename Command>
  BoardWatch watch(Command command) {
    BoardWatch seen;
    hw::DeviceLog& log = machine().board().log();
    const hw::ScsiBus& bus = machine().bus();
    log.enable(hw::log_category::REGISTER_WRITE | hw::log_category::REGISTER_READ |
               hw::log_category::DMA);
    // A data phase begins at the target's first REQ in it: BSY alone with
    // no phase lines is also what the bus shows just after selection.
    bool in_data_out = false;
    bool in_data_in = false;
    log.set_sink([&](std::string_view line) {
      const hw::BusState& state = bus.state();
      const bool connected = state.has(hw::sig::BSY) && !state.any(hw::sig::SEL);
      const bool req = state.has(hw::sig::REQ);
      in_data_out = connected && (in_data_out || req) && state.phase() == hw::Phase::DataOut;
      in_data_in = connected && (in_data_in || req) && state.phase() == hw::Phase::DataIn;
      const bool host_buffer = line.find("HOST_BUFFER_PORT") != std::string_view::npos;
      seen.host_buffer_accesses += host_buffer;
      if (in_data_out) {
        seen.data_out_host_buffer_accesses += host_buffer;
        seen.data_out_output_data_writes +=
            line.find("write Output Data") != std::string_view::npos;
        seen.data_out_dma_starts += line.find("Start DMA") != std::string_view::npos ||
                                    line.find("block engine armed") != std::string_view::npos;
      } else if (in_data_in) {
        seen.data_in_host_buffer_accesses += host_buffer;
      }
    });
    const std::size_t from = bus.trace().entries().size();
    command();
    log.enable(0);
    log.set_sink(nullptr);

    const auto& entries = bus.trace().entries();
    std::uint16_t previous = from > 0 ? entries[from - 1].signals : 0;
    for (std::size_t i = from; i < entries.size(); ++i) {
      const hw::TraceEntry& e = entries[i];
      const bool ack_rises = (e.signals & hw::sig::ACK) && !(previous & hw::sig::ACK);
      previous = e.signals;
      if (ack_rises && (e.signals & (hw::sig::PHASE | hw::sig::BSY)) == hw::sig::BSY) {
        seen.data_out_bytes.push_back(e.data);
      }
    }
    return seen;
  }
};

TEST_F(SetWindowTransfer, ParameterDataGoesByteByByteAndTheWatchSeesTheHostBufferWhereItIsUsed) {
  enum class Command { SetWindow, Read };
  struct Case {
    const char* what;
    Command command;
    UCHAR type_the_miniport_holds;
    bool byte_by_byte;
  };
  const Case cases[] = {
      {"SET WINDOW to the scanner", Command::SetWindow, SCANNER_DEVICE, true},
      {"SET WINDOW to a scanner taken for a disk", Command::SetWindow, DIRECT_ACCESS_DEVICE, false},
      {"READ of image data", Command::Read, SCANNER_DEVICE, false},
  };
  ASSERT_EQ(adapter().TargetDeviceType[kScannerId], SCANNER_DEVICE);
  const hw::ScanWindow window = small_gray_window();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    adapter().TargetDeviceType[kScannerId] = c.type_the_miniport_holds;
    std::vector<std::uint8_t> parameters = set_window_parameters(window);
    std::vector<std::uint8_t> image(1000, 0xCC);
    BoardWatch seen;
    if (c.command == Command::SetWindow) {
      seen = watch([&] { EXPECT_EQ(set_window(parameters), ULONG{SS_COMP}); });
      EXPECT_EQ(seen.data_out_bytes, parameters);
      ASSERT_TRUE(scanner().window(0).has_value());
      EXPECT_EQ(*scanner().window(0), window);
    } else {
      ASSERT_EQ(set_window(parameters), ULONG{SS_COMP});
      ASSERT_EQ(send({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false), ULONG{SS_COMP}) << "SCAN";
      seen = watch([&] { EXPECT_EQ(read(image), ULONG{SS_COMP}); });
      EXPECT_TRUE(seen.data_out_bytes.empty());
    }
    adapter().TargetDeviceType[kScannerId] = SCANNER_DEVICE;

    if (c.byte_by_byte) {
      EXPECT_EQ(seen.data_out_output_data_writes, parameters.size());
      EXPECT_EQ(seen.data_out_host_buffer_accesses, 0u);
      EXPECT_EQ(seen.data_out_dma_starts, 0u);
      EXPECT_EQ(seen.host_buffer_accesses, 0u);
    } else if (c.command == Command::SetWindow) {
      EXPECT_EQ(seen.data_out_output_data_writes, 0u);
      EXPECT_GT(seen.data_out_host_buffer_accesses, 0u);
      EXPECT_GT(seen.data_out_dma_starts, 0u);
    } else {
      EXPECT_GT(seen.data_in_host_buffer_accesses, 0u);
    }
  }
}

}  // namespace
}  // namespace qzr::aspi_stack_test
