#include "hw/host_buffer.h"

#include <cassert>

namespace qzr::hw {

void HostBuffer::clear() {
  for (Slot& slot : slots_) slot = Slot{};
}

// The slot the producer appends to: one already partly filled wins over an
// empty one, so bytes stay in order within a slot.
int HostBuffer::open_slot() const {
  int empty = -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].state != SlotState::Open) continue;
    if (slots_[i].fill > 0) return static_cast<int>(i);
    if (empty < 0) empty = static_cast<int>(i);
  }
  return empty;
}

int HostBuffer::oldest_handed() const {
  int oldest = -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].state != SlotState::Handed) continue;
    if (oldest < 0 || slots_[i].handed_order < slots_[oldest].handed_order) {
      oldest = static_cast<int>(i);
    }
  }
  return oldest;
}

void HostBuffer::hand(Slot& slot) {
  slot.state = SlotState::Handed;
  slot.consumed = 0;
  slot.handed_order = next_order_++;
}

bool HostBuffer::put(std::uint8_t byte) {
  const int index = open_slot();
  assert(index >= 0);
  if (index < 0) return false;
  Slot& slot = slots_[index];
  slot.bytes[slot.fill++] = byte;
  if (slot.fill < kSlotBytes) return false;
  hand(slot);
  return true;
}

bool HostBuffer::put_word(std::uint32_t word) {
  bool handed = false;
  for (int i = 0; i < 4; ++i) handed = put(static_cast<std::uint8_t>(word >> (8 * i))) || handed;
  return handed;
}

std::uint8_t HostBuffer::peek() const {
  const int index = oldest_handed();
  assert(index >= 0);
  if (index < 0) return 0;
  const Slot& slot = slots_[index];
  return slot.consumed < slot.fill ? slot.bytes[slot.consumed] : 0;
}

std::uint8_t HostBuffer::take(bool& slot_done) {
  slot_done = false;
  const int index = oldest_handed();
  assert(index >= 0);
  if (index < 0) return 0;
  Slot& slot = slots_[index];
  const std::uint8_t byte = slot.consumed < slot.fill ? slot.bytes[slot.consumed] : 0;
  if (++slot.consumed == kSlotBytes) {
    slot = Slot{};
    slot_done = true;
  }
  return byte;
}

std::uint32_t HostBuffer::take_word(bool& slot_done) {
  std::uint32_t word = 0;
  slot_done = false;
  for (int i = 0; i < 4 && has_handed(); ++i) {
    bool done = false;
    word |= static_cast<std::uint32_t>(take(done)) << (8 * i);
    slot_done = slot_done || done;
  }
  return word;
}

bool HostBuffer::oldest_is_partial() const {
  const int index = oldest_handed();
  return index >= 0 && slots_[index].partial;
}

bool HostBuffer::oldest_at_start() const {
  const int index = oldest_handed();
  return index >= 0 && slots_[index].consumed == 0;
}

bool HostBuffer::open_at_start() const {
  const int index = open_slot();
  return index >= 0 && slots_[index].fill == 0;
}

std::uint8_t HostBuffer::oldest_taken() const {
  const int index = oldest_handed();
  return index >= 0 ? static_cast<std::uint8_t>(slots_[index].consumed) : 0;
}

std::uint8_t HostBuffer::force_swap() {
  const int index = open_slot();
  if (index < 0) return 0;
  Slot& slot = slots_[index];
  const auto valid = static_cast<std::uint8_t>(slot.fill);
  slot.partial = true;
  hand(slot);
  return valid;
}

}  // namespace qzr::hw
