// The QZR6140 board: a PCI function whose 32-byte I/O window holds the 53C80
// (offsets 0-7) and the board logic (offsets 8-26): the two-slot host
// buffer, the block engine with its 12-bit block counter, BOARD_CONTROL and
// BOARD_STATUS, SWAP_CONTROL, BUFFER_ACCESS and the interrupt latch.
//
// The block engine carries out the REQ/ACK handshakes of a DMA transfer the
// chip has started. A write of BLOCK_COUNT_LOW after the start arms it; from
// then on it acknowledges each REQ of the matching phase while the buffer has
// room (receive) or data (send), and otherwise holds ACK off so the target
// waits. Its handshake is a state machine on the clock:
//   dma_wait_req --REQ in phase, room/data--> dma_ack_delay
//   dma_ack_delay --ack_after_req_ns--> dma_wait_req_negated (ACK asserted,
//                                       byte latched when receiving)
//   dma_wait_req_negated --REQ falls--> dma_release_delay
//   dma_release_delay --release_after_req_ns--> byte counted, ACK released,
//                                       dma_wait_req (or idle at terminal count)
// A byte counts when its handshake completes, in both directions: that is
// when a receive slot fills and when a send slot is freed, and so when the
// counter steps. The chip stops the engine on a phase mismatch, loss of BSY
// or RST; terminal count stops it from this side.
//
// Choices where the board reference leaves room:
// - NCR5380_ENABLE reads 1 whenever the engine is not running.
// - BOARD_RESET acts at each write that sets it; while it stays set the
//   engine cannot be armed.
// - In the read direction (DIR_IN set) a read of SWAP_CONTROL gives the
//   valid bytes of the last forced swap since arming (0 if none).
// - In the write direction (DIR_IN clear) a read of SWAP_CONTROL gives, in
//   bits 6-0, how many bytes of the oldest slot queued for the bus the
//   target has already acknowledged (0-127; 0 with no slot queued). It is
//   the bus side's byte address within the slot, which the board keeps
//   anyway to address its slot memory. With the block counter (blocks not
//   yet fully acknowledged) it tells software exactly how far a send got
//   when the target changes phase in the middle of a block, as it does to
//   disconnect; without it a cut inside a block cannot be resumed at the
//   right byte. The value stays readable after the engine stops, until the
//   next arming empties the buffer.
// - BLOCK_COUNT_HIGH reads 0 in bits 3-0.
#pragma once

#include <cstdint>

#include "hw/board_registers.h"
#include "hw/clock.h"
#include "hw/device_log.h"
#include "hw/guest_errors.h"
#include "hw/host_buffer.h"
#include "hw/ncr5380.h"
#include "hw/pci.h"
#include "hw/scsi_bus.h"

namespace qzr::hw {

struct BlockEngineTimings {
  // ACK follows REQ after the data has settled (deskew plus settle).
  TimeNs ack_after_req_ns = 445;
  // ACK is released this long after the target negates REQ.
  TimeNs release_after_req_ns = 45;
};

class Qzr6140Board final : public PciFunction, private Ncr5380Host {
 public:
  static constexpr std::uint16_t kVendorId = 0x1F7C;
  static constexpr std::uint16_t kDeviceId = 0x0001;
  static constexpr const char* kDeviceName = "qzr6140";

  enum class EngineState : std::uint8_t {
    idle,
    dma_wait_req,
    dma_ack_delay,
    dma_wait_req_negated,
    dma_release_delay,
  };

  Qzr6140Board(ScsiBus& bus, GuestErrorLog& errors);
  ~Qzr6140Board() override;
  Qzr6140Board(const Qzr6140Board&) = delete;
  Qzr6140Board& operator=(const Qzr6140Board&) = delete;

  PciIdentity identity() const override;
  std::uint32_t io_window_bytes() const override { return board::IO_WINDOW_BYTES; }
  std::uint8_t io_read8(std::uint32_t offset) override;
  void io_write8(std::uint32_t offset, std::uint8_t value) override;
  std::uint32_t io_read32(std::uint32_t offset) override;
  void io_write32(std::uint32_t offset, std::uint32_t value) override;
  bool interrupt_asserted() const override { return int_pending_; }

  DeviceLog& log() { return log_; }
  Ncr5380& chip() { return chip_; }
  const Ncr5380& chip() const { return chip_; }

  void set_engine_timings(const BlockEngineTimings& timings) { engine_timings_ = timings; }
  const BlockEngineTimings& engine_timings() const { return engine_timings_; }
  EngineState engine_state() const { return engine_; }
  std::uint16_t block_count() const { return block_count_; }

 private:
  // Ncr5380Host
  void irq_changed(bool active) override;
  void dma_started(DmaDirection direction) override;
  void dma_stopped(DmaStopReason reason) override;
  void bus_changed(const BusState& before, const BusState& now) override;

  // Register handlers.
  std::uint32_t host_buffer_port_read();
  void host_buffer_port_write(std::uint32_t value);
  std::uint8_t board_status_read();
  void board_control_write(std::uint8_t value);
  std::uint8_t block_count_low_read() const { return block_count_ & 0xFF; }
  void block_count_low_write(std::uint8_t value);
  std::uint8_t block_count_high_read() const {
    return static_cast<std::uint8_t>((block_count_ >> 4) & board::BLOCK_COUNT_HIGH_MASK);
  }
  void block_count_high_write(std::uint8_t value);
  std::uint8_t swap_control_read() const;
  void swap_control_write(std::uint8_t value);
  void buffer_access_write(std::uint8_t value);
  void never_accessed(const char* access, std::uint32_t offset, bool write);

  // Block engine.
  bool receiving() const { return engine_direction_ == DmaDirection::InitiatorReceive; }
  void engine_arm();
  void engine_evaluate();
  void engine_ack_elapsed();
  void engine_release_elapsed();
  void engine_stop(const char* why);
  bool count_block();  // true at terminal count
  void note_host_access(bool block_start, bool partial);
  void finish_host_block(const char* direction);

  void update_int_pending();
  void guest_error(const char* what) { errors_.record(kDeviceName, what); }

  ScsiBus& bus_;
  Clock& clock_;
  GuestErrorLog& errors_;
  DeviceLog log_;
  Ncr5380 chip_;
  HostBuffer buffer_;

  // BOARD_CONTROL as written, and the latch behind INT_PENDING.
  bool reset_held_ = false;
  bool dir_in_ = false;
  bool int_enable_ = false;
  bool int_pending_ = false;

  std::uint16_t block_count_ = 0;
  std::uint8_t swap_valid_bytes_ = 0;
  std::uint8_t buffer_access_ = board::buffer_access::AT_REST;
  // A full block moved by the host with BUFFER_ACCESS not at 0x22 on some
  // access of it.
  bool host_block_unguarded_ = false;

  bool dma_start_pending_ = false;
  DmaDirection engine_direction_ = DmaDirection::None;
  EngineState engine_ = EngineState::idle;
  BlockEngineTimings engine_timings_;
  Clock::EventId engine_timer_;
  std::uint8_t latched_byte_ = 0;
};

}  // namespace qzr::hw
