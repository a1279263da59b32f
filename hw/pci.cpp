#include "hw/pci.h"

#include <cstdio>
#include <cstring>

namespace qzr::hw {
namespace {

void put16(std::array<std::uint8_t, 256>& c, std::uint32_t at, std::uint16_t v) {
  c[at] = v & 0xFF;
  c[at + 1] = v >> 8;
}
void put32(std::array<std::uint8_t, 256>& c, std::uint32_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) c[at + i] = (v >> (8 * i)) & 0xFF;
}
std::uint32_t get32(const std::array<std::uint8_t, 256>& c, std::uint32_t at) {
  return c[at] | (c[at + 1] << 8) | (c[at + 2] << 16) |
         (static_cast<std::uint32_t>(c[at + 3]) << 24);
}

constexpr std::uint32_t kCommand = 0x04;
constexpr std::uint32_t kBar0 = 0x10;
constexpr std::uint32_t kInterruptLine = 0x3C;
constexpr std::uint16_t kCommandIoSpace = 0x0001;

}  // namespace

PciBus::PciBus(Clock& clock, GuestErrorLog& errors, TimeNs port_access_ns)
    : clock_(clock), errors_(errors) {
  set_port_access_ns(port_access_ns);
}

void PciBus::plug(int slot, PciFunction& function, std::uint8_t interrupt_line) {
  Slot& s = slots_.at(slot);
  s.function = &function;
  s.config.fill(0);
  const PciIdentity id = function.identity();
  put16(s.config, 0x00, id.vendor_id);
  put16(s.config, 0x02, id.device_id);
  put16(s.config, kCommand, kCommandIoSpace);
  put16(s.config, 0x06, 0x0200);  // status: medium DEVSEL timing
  s.config[0x08] = id.revision;
  s.config[0x09] = id.prog_if;
  s.config[0x0A] = id.subclass;
  s.config[0x0B] = id.class_code;
  s.config[0x0E] = 0x00;  // header type 0, single function
  s.io_size = function.io_window_bytes();
  s.io_base = (next_io_base_ + s.io_size - 1) & ~(s.io_size - 1);
  next_io_base_ = s.io_base + s.io_size;
  put32(s.config, kBar0, s.io_base | 1);
  put16(s.config, 0x2C, id.subsystem_vendor_id);
  put16(s.config, 0x2E, id.subsystem_id);
  s.config[kInterruptLine] = interrupt_line;
  s.config[0x3D] = interrupt_line ? 1 : 0;  // INTA#
  function.set_interrupt_listener([this] {
    if (irq_listener_) irq_listener_();
  });
}

bool PciBus::slot_occupied(int slot) const {
  return slot >= 0 && slot < kSlots && slots_[slot].function != nullptr;
}

std::uint32_t PciBus::config_read32(int slot, std::uint32_t offset) {
  if (!slot_occupied(slot) || offset > 252) return 0xFFFFFFFF;
  return get32(slots_[slot].config, offset & ~3u);
}

void PciBus::config_write32(int slot, std::uint32_t offset, std::uint32_t value) {
  if (!slot_occupied(slot) || offset > 252) return;
  Slot& s = slots_[slot];
  offset &= ~3u;
  if (offset == kBar0) {
    // Sizing writes all ones and reads back the size mask; anything else
    // moves the window.
    s.io_base = value == 0xFFFFFFFF ? s.io_base : (value & ~(s.io_size - 1) & 0xFFFF);
    put32(s.config, kBar0, value == 0xFFFFFFFF ? (~(s.io_size - 1) | 1) : (s.io_base | 1));
    if (value == 0xFFFFFFFF) return;
  } else if (offset == kCommand) {
    put16(s.config, kCommand, value & 0xFFFF);
    s.io_enabled = value & kCommandIoSpace;
  } else if (offset == kInterruptLine) {
    s.config[kInterruptLine] = value & 0xFF;
  }
  // Identity, class and the read-only rest ignore writes.
}

std::size_t PciBus::config_read(int slot, std::uint32_t offset, std::span<std::uint8_t> out) {
  if (!slot_occupied(slot) || offset >= 256) return 0;
  const std::size_t n = std::min<std::size_t>(out.size(), 256 - offset);
  std::memcpy(out.data(), slots_[slot].config.data() + offset, n);
  return n;
}

void PciBus::pay_access() {
  ++port_accesses_;
  clock_.advance_by(port_access_ns_);
}

PciBus::Slot* PciBus::decode(std::uint32_t port, std::uint32_t& offset) {
  // Drivers poll one function's registers in long runs: try the last hit first.
  if (Slot* s = last_decoded_; s && s->io_enabled && port - s->io_base < s->io_size) {
    offset = port - s->io_base;
    return s;
  }
  for (Slot& s : slots_) {
    if (s.function && s.io_enabled && port >= s.io_base && port < s.io_base + s.io_size) {
      offset = port - s.io_base;
      last_decoded_ = &s;
      return &s;
    }
  }
  return nullptr;
}

void PciBus::unclaimed(const char* what, std::uint32_t port) {
  char text[64];
  std::snprintf(text, sizeof text, "%s of port 0x%04X, which no function decodes", what, port);
  errors_.record("pci", text);
}

std::uint8_t PciBus::read8(std::uint32_t port) {
  pay_access();
  std::uint32_t offset;
  if (Slot* s = decode(port, offset)) return s->function->io_read8(offset);
  unclaimed("8-bit read", port);
  return 0xFF;
}

void PciBus::write8(std::uint32_t port, std::uint8_t value) {
  pay_access();
  std::uint32_t offset;
  if (Slot* s = decode(port, offset)) return s->function->io_write8(offset, value);
  unclaimed("8-bit write", port);
}

std::uint32_t PciBus::read32(std::uint32_t port) {
  pay_access();
  std::uint32_t offset;
  if (Slot* s = decode(port, offset)) return s->function->io_read32(offset);
  unclaimed("32-bit read", port);
  return 0xFFFFFFFF;
}

void PciBus::write32(std::uint32_t port, std::uint32_t value) {
  pay_access();
  std::uint32_t offset;
  if (Slot* s = decode(port, offset)) return s->function->io_write32(offset, value);
  unclaimed("32-bit write", port);
}

void PciBus::read32_string(std::uint32_t port, std::uint32_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) buffer[i] = read32(port);
}

void PciBus::write32_string(std::uint32_t port, const std::uint32_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) write32(port, buffer[i]);
}

bool PciBus::interrupt_asserted(std::uint8_t line) const {
  if (line == 0) return false;
  for (const Slot& s : slots_) {
    if (s.function && s.config[kInterruptLine] == line && s.function->interrupt_asserted())
      return true;
  }
  return false;
}

}  // namespace qzr::hw
