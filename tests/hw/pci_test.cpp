#include "hw/pci.h"

#include <gtest/gtest.h>

#include <array>

namespace qzr::hw {
namespace {

// A function with a 16-byte window of byte registers that counts accesses.
struct ScratchFunction : PciFunction {
  std::array<std::uint8_t, 16> regs{};
  std::uint32_t last32 = 0;
  bool irq = false;
  PciIdentity identity() const override { return {0x1234, 0x5678, 1, 0x01, 0x00, 0x00, 0, 0}; }
  std::uint32_t io_window_bytes() const override { return 16; }
  std::uint8_t io_read8(std::uint32_t o) override { return regs[o]; }
  void io_write8(std::uint32_t o, std::uint8_t v) override { regs[o] = v; }
  std::uint32_t io_read32(std::uint32_t) override { return last32++; }
  void io_write32(std::uint32_t, std::uint32_t v) override { last32 = v; }
  bool interrupt_asserted() const override { return irq; }
  void raise(bool level) {
    irq = level;
    interrupt_changed();
  }
};

struct PciFixture : ::testing::Test {
  Clock clock;
  GuestErrorLog errors{clock};
  PciBus pci{clock, errors, 500};
  ScratchFunction fn;
  void SetUp() override { pci.plug(3, fn, 11); }
};

TEST_F(PciFixture, ConfigurationHeaderDescribesTheFunction) {
  std::array<std::uint8_t, 64> header{};
  ASSERT_EQ(pci.config_read(3, 0, header), 64u);
  EXPECT_EQ(header[0] | header[1] << 8, 0x1234);
  EXPECT_EQ(header[2] | header[3] << 8, 0x5678);
  EXPECT_EQ(header[0x0B], 0x01);  // mass storage
  EXPECT_EQ(header[0x3C], 11);
  EXPECT_EQ(header[0x3D], 1);  // INTA#
  const std::uint32_t bar0 = pci.config_read32(3, 0x10);
  EXPECT_EQ(bar0 & 1u, 1u);  // I/O space
  EXPECT_EQ(bar0 & ~3u, pci.io_base(3));
  EXPECT_EQ(pci.io_base(3) % 16, 0u);

  // Sizing: all ones reads back the size mask, and the window stays put.
  pci.config_write32(3, 0x10, 0xFFFFFFFF);
  EXPECT_EQ(pci.config_read32(3, 0x10), 0xFFFFFFF1u);
  EXPECT_EQ(pci.config_read32(7, 0), 0xFFFFFFFFu);  // empty slot
}

TEST_F(PciFixture, EveryPortAccessCostsItsTimeBeforeItActs) {
  const std::uint32_t base = pci.io_base(3);
  bool seen_late = false;
  clock.schedule_at(1'000, [&] { fn.regs[2] = 0x42; });
  // The first read happens at 500 ns, the second at 1000 ns, after the event.
  EXPECT_EQ(pci.read8(base + 2), 0);
  seen_late = pci.read8(base + 2) == 0x42;
  EXPECT_TRUE(seen_late);
  std::array<std::uint32_t, 32> block{};
  pci.read32_string(base + 8, block.data(), block.size());
  EXPECT_EQ(clock.now_ns(), (2 + 32) * 500u);
  EXPECT_EQ(pci.port_accesses(), 34u);
  EXPECT_EQ(block[31], 31u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(PciFixture, UndecodedPortsFloatHighAndAreGuestErrors) {
  EXPECT_EQ(pci.read8(0x80), 0xFF);
  EXPECT_EQ(pci.read32(0x84), 0xFFFFFFFFu);
  pci.write8(0x80, 1);
  EXPECT_EQ(errors.entries().size(), 3u);
  EXPECT_NE(errors.format().find("port 0x0080"), std::string::npos);
}

TEST_F(PciFixture, InterruptLineIsLevelSensitive) {
  int told = 0;
  pci.set_interrupt_listener([&] { ++told; });
  EXPECT_FALSE(pci.interrupt_asserted(11));
  fn.raise(true);
  EXPECT_TRUE(pci.interrupt_asserted(11));
  EXPECT_FALSE(pci.interrupt_asserted(10));
  fn.raise(false);
  EXPECT_FALSE(pci.interrupt_asserted(11));
  EXPECT_EQ(told, 2);
}

TEST(Pci, InterruptLineZeroMeansNone) {
  Clock clock;
  GuestErrorLog errors{clock};
  PciBus pci{clock, errors};
  ScratchFunction fn;
  pci.plug(0, fn, 0);
  fn.raise(true);
  EXPECT_FALSE(pci.interrupt_asserted(0));
  EXPECT_EQ(pci.config_read32(0, 0x3C) & 0xFFFF, 0u);
}

}  // namespace
}  // namespace qzr::hw
