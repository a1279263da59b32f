// The PCI bus as the processor sees it: configuration space per slot, an I/O
// space routed to the function whose BAR covers a port, and level-sensitive
// interrupt lines. Every I/O access costs the machine's port-access time on
// the virtual clock before it takes effect, so a polling loop sees devices
// progress exactly as the budget it spends allows.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "hw/clock.h"
#include "hw/guest_errors.h"

namespace qzr::hw {

// A type-0 configuration header (64 bytes) with one I/O BAR.
struct PciIdentity {
  std::uint16_t vendor_id = 0;
  std::uint16_t device_id = 0;
  std::uint8_t revision = 0;
  std::uint8_t class_code = 0;  // base class
  std::uint8_t subclass = 0;
  std::uint8_t prog_if = 0;
  std::uint16_t subsystem_vendor_id = 0;
  std::uint16_t subsystem_id = 0;
};

class PciFunction {
 public:
  virtual ~PciFunction() = default;

  virtual PciIdentity identity() const = 0;
  // Size of the I/O window BAR0 decodes (a power of two).
  virtual std::uint32_t io_window_bytes() const = 0;

  // Accesses at an offset inside the I/O window.
  virtual std::uint8_t io_read8(std::uint32_t offset) = 0;
  virtual void io_write8(std::uint32_t offset, std::uint8_t value) = 0;
  virtual std::uint32_t io_read32(std::uint32_t offset) = 0;
  virtual void io_write32(std::uint32_t offset, std::uint32_t value) = 0;

  // The function's interrupt request, level-sensitive.
  virtual bool interrupt_asserted() const = 0;
  // Called by the function whenever its interrupt level may have changed.
  void set_interrupt_listener(std::function<void()> listener) {
    irq_listener_ = std::move(listener);
  }

 protected:
  void interrupt_changed() {
    if (irq_listener_) irq_listener_();
  }

 private:
  std::function<void()> irq_listener_;
};

class PciBus {
 public:
  static constexpr int kSlots = 32;
  static constexpr std::uint32_t kConfigHeaderBytes = 64;

  PciBus(Clock& clock, GuestErrorLog& errors, TimeNs port_access_ns = 500);

  // Plugs a function into a slot, assigns BAR0 the next free I/O range (as
  // firmware would) and sets its interrupt line (0: none).
  void plug(int slot, PciFunction& function, std::uint8_t interrupt_line);

  // A port access always takes some time: at zero cost a polling loop would
  // never see a device move, so the cost is at least 1 ns.
  TimeNs port_access_ns() const { return port_access_ns_; }
  void set_port_access_ns(TimeNs ns) { port_access_ns_ = ns ? ns : 1; }
  std::uint64_t port_accesses() const { return port_accesses_; }

  // Configuration space, bus 0. An empty slot reads all ones.
  std::uint32_t config_read32(int slot, std::uint32_t offset);
  void config_write32(int slot, std::uint32_t offset, std::uint32_t value);
  // Copies up to 256 bytes of configuration space; returns bytes copied
  // (0 for an empty slot).
  std::size_t config_read(int slot, std::uint32_t offset, std::span<std::uint8_t> out);
  bool slot_occupied(int slot) const;

  // I/O space. A port no function decodes reads 0xFF / 0xFFFFFFFF and is a
  // guest error.
  std::uint8_t read8(std::uint32_t port);
  void write8(std::uint32_t port, std::uint8_t value);
  std::uint32_t read32(std::uint32_t port);
  void write32(std::uint32_t port, std::uint32_t value);
  // String moves: one access per ULONG, each paid for in time.
  void read32_string(std::uint32_t port, std::uint32_t* buffer, std::size_t count);
  void write32_string(std::uint32_t port, const std::uint32_t* buffer, std::size_t count);

  bool interrupt_asserted(std::uint8_t line) const;
  // Told whenever any function's interrupt level may have changed.
  void set_interrupt_listener(std::function<void()> listener) {
    irq_listener_ = std::move(listener);
  }

  std::uint32_t io_base(int slot) const { return slots_.at(slot).io_base; }
  std::uint8_t interrupt_line(int slot) const { return slots_.at(slot).config[0x3C]; }

 private:
  struct Slot {
    PciFunction* function = nullptr;
    std::array<std::uint8_t, 256> config{};
    std::uint32_t io_base = 0;
    std::uint32_t io_size = 0;
    bool io_enabled = true;
  };

  void pay_access();
  Slot* decode(std::uint32_t port, std::uint32_t& offset);
  void unclaimed(const char* what, std::uint32_t port);

  Clock& clock_;
  GuestErrorLog& errors_;
  TimeNs port_access_ns_;
  std::uint64_t port_accesses_ = 0;
  std::uint32_t next_io_base_ = 0xE000;
  std::array<Slot, kSlots> slots_{};
  Slot* last_decoded_ = nullptr;
  std::function<void()> irq_listener_;
};

}  // namespace qzr::hw
