// The board's host buffer: two 128-byte slots between the SCSI bus and the
// host's 32-bit port.
//
// Reading from the bus, bytes fill one slot; a full slot becomes ready and
// the host drains ready slots oldest first. Writing to the bus, the host
// fills a free slot; a full slot is queued and the bus drains queued slots
// oldest first, freeing each when its last byte is acknowledged. A forced
// swap hands a partly filled slot to the host as it stands; the host still
// drains all 128 bytes of it, those past the valid count reading as 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hw/board_registers.h"

namespace qzr::hw {

class HostBuffer {
 public:
  static constexpr std::size_t kSlotBytes = board::BLOCK_BYTES;
  static constexpr std::size_t kSlots = 2;

  void clear();

  // A slot becomes "handed" when it is full (or force-swapped): ready for
  // the host when reading, queued for the bus when writing.
  bool has_handed() const { return oldest_handed() >= 0; }
  // Some slot is not handed over: room for the bus (read) or the host (write).
  bool has_open() const { return open_slot() >= 0; }

  // Producer side: append bytes to the open slot; returns true when that
  // filled it and it was handed over. Requires has_open().
  bool put(std::uint8_t byte);
  bool put_word(std::uint32_t word);

  // Consumer side of the oldest handed slot. Requires has_handed(). `take`
  // returns true in `slot_done` when that freed the slot.
  std::uint8_t peek() const;
  std::uint8_t take(bool& slot_done);
  std::uint32_t take_word(bool& slot_done);
  // Whether the oldest handed slot is a forced partial one, and whether
  // the consumer is at its start (so an access begins a new block).
  bool oldest_is_partial() const;
  bool oldest_at_start() const;
  // Whether the producer's next byte starts a slot.
  bool open_at_start() const;
  // Bytes the consumer has taken from the oldest handed slot (0 if none).
  std::uint8_t oldest_taken() const;

  // Hands the slot being filled over as it stands, after any full slots
  // already handed; returns its valid bytes (0-127), or 0 with nothing
  // handed when no slot is open.
  std::uint8_t force_swap();

 private:
  enum class SlotState : std::uint8_t { Open, Handed };
  struct Slot {
    std::array<std::uint8_t, kSlotBytes> bytes{};
    SlotState state = SlotState::Open;
    std::size_t fill = 0;      // bytes the producer has put
    std::size_t consumed = 0;  // bytes the consumer has taken
    bool partial = false;      // handed by a forced swap
    std::uint64_t handed_order = 0;
  };

  int open_slot() const;
  int oldest_handed() const;
  void hand(Slot& slot);

  std::array<Slot, kSlots> slots_{};
  std::uint64_t next_order_ = 1;
};

}  // namespace qzr::hw
