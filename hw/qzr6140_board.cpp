#include "hw/qzr6140_board.h"

#include <cstdio>

namespace qzr::hw {
namespace {

const char* board_register_name(std::uint32_t offset, bool write) {
  switch (offset) {
    case board::HOST_BUFFER_PORT:
      return "HOST_BUFFER_PORT";
    case board::BOARD_STATUS:
      return write ? "BOARD_CONTROL" : "BOARD_STATUS";
    case board::BLOCK_COUNT_LOW:
      return "BLOCK_COUNT_LOW";
    case board::BLOCK_COUNT_HIGH:
      return "BLOCK_COUNT_HIGH";
    case board::SWAP_CONTROL:
      return "SWAP_CONTROL";
    case board::BUFFER_ACCESS:
      return "BUFFER_ACCESS";
    default:
      return "unassigned offset";
  }
}

const char* engine_state_name(Qzr6140Board::EngineState state) {
  using S = Qzr6140Board::EngineState;
  switch (state) {
    case S::idle:
      return "idle";
    case S::dma_wait_req:
      return "dma_wait_req";
    case S::dma_ack_delay:
      return "dma_ack_delay";
    case S::dma_wait_req_negated:
      return "dma_wait_req_negated";
    case S::dma_release_delay:
      return "dma_release_delay";
  }
  return "?";
}

}  // namespace

Qzr6140Board::Qzr6140Board(ScsiBus& bus, GuestErrorLog& errors)
    : bus_(bus),
      clock_(bus.clock()),
      errors_(errors),
      log_(bus.clock(), kDeviceName),
      chip_(bus, errors, log_, kDeviceName) {
  const BusTimings& t = bus.timings();
  engine_timings_.ack_after_req_ns = t.deskew_delay_ns + t.bus_settle_delay_ns;
  engine_timings_.release_after_req_ns = t.deskew_delay_ns;
  chip_.set_host(this);
}

Qzr6140Board::~Qzr6140Board() {
  chip_.set_host(nullptr);
  clock_.cancel(engine_timer_);
}

PciIdentity Qzr6140Board::identity() const {
  PciIdentity id;
  id.vendor_id = kVendorId;
  id.device_id = kDeviceId;
  id.class_code = 0x01;  // mass storage
  id.subclass = 0x00;    // SCSI
  return id;
}

// ---------------------------------------------------------------- register window

std::uint8_t Qzr6140Board::io_read8(std::uint32_t offset) {
  if (offset < 8) return chip_.read(offset);
  std::uint8_t value = 0xFF;
  switch (offset) {
    case board::HOST_BUFFER_PORT:
      guest_error("8-bit read of HOST_BUFFER_PORT (offset 8), which takes 32-bit accesses only");
      return value;
    case board::BOARD_STATUS:
      value = board_status_read();
      break;
    case board::BLOCK_COUNT_LOW:
      value = block_count_low_read();
      break;
    case board::BLOCK_COUNT_HIGH:
      value = block_count_high_read();
      break;
    case board::SWAP_CONTROL:
      value = swap_control_read();
      break;
    case board::BUFFER_ACCESS:
      guest_error("read of BUFFER_ACCESS (offset 26), which is write-only");
      return value;
    default:
      never_accessed("8-bit read", offset, false);
      return value;
  }
  if (log_.on(log_category::REGISTER_READ)) {
    log_.write("read  %-24s -> 0x%02X", board_register_name(offset, false), value);
  }
  return value;
}

void Qzr6140Board::io_write8(std::uint32_t offset, std::uint8_t value) {
  if (offset < 8) return chip_.write(offset, value);
  if (log_.on(log_category::REGISTER_WRITE)) {
    log_.write("write %-24s <- 0x%02X", board_register_name(offset, true), value);
  }
  switch (offset) {
    case board::HOST_BUFFER_PORT:
      guest_error("8-bit write of HOST_BUFFER_PORT (offset 8), which takes 32-bit accesses only");
      break;
    case board::BOARD_CONTROL:
      board_control_write(value);
      break;
    case board::BLOCK_COUNT_LOW:
      block_count_low_write(value);
      break;
    case board::BLOCK_COUNT_HIGH:
      block_count_high_write(value);
      break;
    case board::SWAP_CONTROL:
      swap_control_write(value);
      break;
    case board::BUFFER_ACCESS:
      buffer_access_write(value);
      break;
    default:
      never_accessed("8-bit write", offset, true);
      break;
  }
}

std::uint32_t Qzr6140Board::io_read32(std::uint32_t offset) {
  if (offset != board::HOST_BUFFER_PORT) {
    never_accessed("32-bit read", offset, false);
    return 0xFFFFFFFF;
  }
  const std::uint32_t value = host_buffer_port_read();
  if (log_.on(log_category::REGISTER_READ)) log_.write("read  HOST_BUFFER_PORT -> 0x%08X", value);
  return value;
}

void Qzr6140Board::io_write32(std::uint32_t offset, std::uint32_t value) {
  if (offset != board::HOST_BUFFER_PORT) {
    never_accessed("32-bit write", offset, true);
    return;
  }
  if (log_.on(log_category::REGISTER_WRITE)) log_.write("write HOST_BUFFER_PORT <- 0x%08X", value);
  host_buffer_port_write(value);
}

void Qzr6140Board::never_accessed(const char* access, std::uint32_t offset, bool write) {
  static constexpr bool kByteRegister[board::IO_WINDOW_BYTES] = {
      true,  true,  true,  true,  true,  true,  false, true,   // 53C80 (6 is never used)
      false, true,  true,  false, true,  true,  false, false,  // board logic
      false, false, false, false, false, false, false, false,
      false, false, true,  false, false, false, false, false};
  char text[128];
  if (offset < board::IO_WINDOW_BYTES && kByteRegister[offset]) {
    std::snprintf(text, sizeof text,
                  "%s of offset %u (%s), a register that takes 8-bit accesses only", access,
                  static_cast<unsigned>(offset),
                  offset < 8 ? "53C80 register" : board_register_name(offset, write));
  } else {
    std::snprintf(text, sizeof text, "%s of offset %u, which is never to be accessed", access,
                  static_cast<unsigned>(offset));
  }
  guest_error(text);
}

// ---------------------------------------------------------------- board registers

std::uint8_t Qzr6140Board::board_status_read() {
  std::uint8_t value = 0;
  if (engine_ == EngineState::idle) value |= board::status::NCR5380_ENABLE;
  if (dir_in_) value |= board::status::DIR_IN;
  if (int_enable_) value |= board::status::INT_ENABLE;
  const bool busy = dir_in_ ? !buffer_.has_handed() : !buffer_.has_open();
  if (busy) value |= board::status::BUFFER_BUSY;
  if (int_pending_) {
    value |= board::status::INT_PENDING;
    // The latch outlives the chip's IRQ by one status read, so software
    // that cleared the chip first still sees why it was interrupted.
    if (!chip_.irq_active()) {
      int_pending_ = false;
      interrupt_changed();
    }
  }
  return value;
}

void Qzr6140Board::board_control_write(std::uint8_t value) {
  constexpr std::uint8_t kDefined =
      board::control::BOARD_RESET | board::control::DIR_IN | board::control::INT_ENABLE;
  if (value & ~kDefined) {
    char text[96];
    std::snprintf(text, sizeof text, "write of 0x%02X to BOARD_CONTROL sets undefined bits 0x%02X",
                  value, value & ~kDefined & 0xFF);
    guest_error(text);
  }
  dir_in_ = value & board::control::DIR_IN;
  int_enable_ = value & board::control::INT_ENABLE;
  reset_held_ = value & board::control::BOARD_RESET;
  if (reset_held_) {
    engine_stop("board reset");
    dma_start_pending_ = false;
    buffer_.clear();
    block_count_ = 0;
    swap_valid_bytes_ = 0;
    buffer_access_ = board::buffer_access::AT_REST;
    host_block_unguarded_ = false;
    if (int_pending_) {
      int_pending_ = false;
      interrupt_changed();
    }
    return;
  }
  update_int_pending();
}

void Qzr6140Board::block_count_low_write(std::uint8_t value) {
  block_count_ = static_cast<std::uint16_t>((block_count_ & 0x0F00) | value);
  if (!dma_start_pending_) return;
  if (reset_held_) {
    guest_error("write of BLOCK_COUNT_LOW while BOARD_RESET is held: the block engine stays off");
    return;
  }
  engine_arm();
}

void Qzr6140Board::block_count_high_write(std::uint8_t value) {
  block_count_ = static_cast<std::uint16_t>(((value & board::BLOCK_COUNT_HIGH_MASK) << 4) |
                                            (block_count_ & 0x00FF));
}

std::uint8_t Qzr6140Board::swap_control_read() const {
  if (dir_in_) return swap_valid_bytes_;
  return buffer_.oldest_taken() & board::swap::VALID_BYTES_MASK;
}

void Qzr6140Board::swap_control_write(std::uint8_t value) {
  if (value == board::swap::NORMAL) return;
  if (value != board::swap::FORCE) {
    char text[96];
    std::snprintf(text, sizeof text, "write of 0x%02X to SWAP_CONTROL, which takes 1 or 2", value);
    guest_error(text);
    return;
  }
  if (!dir_in_) {
    guest_error("write of 2 (force swap) to SWAP_CONTROL with DIR_IN clear: only a read swaps");
    return;
  }
  swap_valid_bytes_ = buffer_.force_swap() & board::swap::VALID_BYTES_MASK;
  if (log_.on(log_category::DMA)) log_.write("forced swap: %u valid bytes", swap_valid_bytes_);
  engine_evaluate();
}

void Qzr6140Board::buffer_access_write(std::uint8_t value) {
  if (value != board::buffer_access::AT_REST && value != board::buffer_access::HOST_MOVING) {
    char text[96];
    std::snprintf(text, sizeof text, "write of 0x%02X to BUFFER_ACCESS, which takes 0x20 or 0x22",
                  value);
    guest_error(text);
  }
  buffer_access_ = value;
}

// ---------------------------------------------------------------- host buffer port

void Qzr6140Board::note_host_access(bool block_start, bool partial) {
  if (block_start) host_block_unguarded_ = false;
  if (!partial && buffer_access_ != board::buffer_access::HOST_MOVING) {
    host_block_unguarded_ = true;
  }
}

void Qzr6140Board::finish_host_block(const char* direction) {
  if (!host_block_unguarded_) return;
  host_block_unguarded_ = false;
  char text[128];
  std::snprintf(text, sizeof text,
                "a full block %s through HOST_BUFFER_PORT without BUFFER_ACCESS at 0x22",
                direction);
  guest_error(text);
}

std::uint32_t Qzr6140Board::host_buffer_port_read() {
  if (!dir_in_) {
    guest_error("read of HOST_BUFFER_PORT with DIR_IN clear (the buffer faces the bus)");
    return 0xFFFFFFFF;
  }
  if (!buffer_.has_handed()) {
    guest_error("read of HOST_BUFFER_PORT with no ready slot");
    return 0xFFFFFFFF;
  }
  const bool partial = buffer_.oldest_is_partial();
  note_host_access(buffer_.oldest_at_start(), partial);
  bool slot_done = false;
  const std::uint32_t word = buffer_.take_word(slot_done);
  if (slot_done) {
    if (!partial) finish_host_block("read");
    engine_evaluate();  // a slot is free for the bus again
  }
  return word;
}

void Qzr6140Board::host_buffer_port_write(std::uint32_t value) {
  if (dir_in_) {
    guest_error("write of HOST_BUFFER_PORT with DIR_IN set (the buffer faces the host)");
    return;
  }
  if (!buffer_.has_open()) {
    guest_error("write of HOST_BUFFER_PORT with no free slot; the word is dropped");
    return;
  }
  note_host_access(buffer_.open_at_start(), false);
  if (buffer_.put_word(value)) {
    finish_host_block("written");
    engine_evaluate();  // a slot is queued for the bus
  }
}

// ---------------------------------------------------------------- interrupt latch

void Qzr6140Board::update_int_pending() {
  if (int_pending_ || !int_enable_ || !chip_.irq_active()) return;
  int_pending_ = true;
  interrupt_changed();
}

void Qzr6140Board::irq_changed(bool active) {
  if (active) update_int_pending();
}

// ---------------------------------------------------------------- block engine

void Qzr6140Board::dma_started(DmaDirection) {
  // A new start ends whatever the engine was doing for the previous one.
  engine_stop("new DMA start");
  dma_start_pending_ = true;
}

void Qzr6140Board::dma_stopped(DmaStopReason reason) {
  dma_start_pending_ = false;
  engine_stop(dma_stop_reason_name(reason));
}

void Qzr6140Board::bus_changed(const BusState& before, const BusState& now) {
  switch (engine_) {
    case EngineState::dma_wait_req:
      engine_evaluate();
      break;
    case EngineState::dma_wait_req_negated:
      if (before.any(sig::REQ) && !now.any(sig::REQ)) {
        engine_ = EngineState::dma_release_delay;
        engine_timer_ = clock_.schedule_in(engine_timings_.release_after_req_ns,
                                           [this] { engine_release_elapsed(); });
      }
      break;
    case EngineState::idle:
    case EngineState::dma_ack_delay:
    case EngineState::dma_release_delay:
      break;
  }
}

void Qzr6140Board::engine_arm() {
  dma_start_pending_ = false;
  engine_direction_ = chip_.dma_direction();
  if (receiving() != dir_in_) {
    guest_error(receiving() ? "block engine armed for Start DMA Initiator Receive with DIR_IN clear"
                            : "block engine armed for Start DMA Send with DIR_IN set");
  }
  // Whatever a previous transfer left behind is discarded.
  buffer_.clear();
  swap_valid_bytes_ = 0;
  host_block_unguarded_ = false;
  engine_ = EngineState::dma_wait_req;
  if (log_.on(log_category::DMA)) {
    log_.write("block engine armed: %s, %u blocks", receiving() ? "receive" : "send",
               static_cast<unsigned>(block_count_));
  }
  engine_evaluate();
}

void Qzr6140Board::engine_evaluate() {
  if (engine_ != EngineState::dma_wait_req) return;
  const BusState& s = bus_.state();
  if (!s.any(sig::REQ) || s.any(sig::ACK) || !chip_.phase_matches()) return;
  if (receiving()) {
    if (!buffer_.has_open()) return;  // no room: ACK held off, the target waits
  } else {
    if (!buffer_.has_handed()) return;  // no data yet
    chip_.dma_drive(false, buffer_.peek());
  }
  engine_ = EngineState::dma_ack_delay;
  engine_timer_ =
      clock_.schedule_in(engine_timings_.ack_after_req_ns, [this] { engine_ack_elapsed(); });
}

void Qzr6140Board::engine_ack_elapsed() {
  engine_timer_ = {};
  if (!bus_.state().any(sig::REQ)) {
    // The target withdrew its request; wait for the next one.
    engine_ = EngineState::dma_wait_req;
    if (!receiving()) chip_.dma_drive(false, std::nullopt);
    engine_evaluate();
    return;
  }
  engine_ = EngineState::dma_wait_req_negated;
  if (receiving()) {
    latched_byte_ = bus_.state().data;
    chip_.dma_drive(true, std::nullopt);
  } else {
    chip_.dma_drive(true, buffer_.peek());
  }
}

void Qzr6140Board::engine_release_elapsed() {
  engine_timer_ = {};
  // The byte counts before ACK is released: the target may raise its next
  // REQ the moment ACK falls, and must find the buffer already updated.
  bool block_done = false;
  if (receiving()) {
    block_done = buffer_.put(latched_byte_);
  } else {
    buffer_.take(block_done);
  }
  if (block_done && count_block()) {
    engine_ = EngineState::idle;
    if (log_.on(log_category::DMA)) log_.write("block engine: terminal count");
    chip_.dma_terminal_count();  // releases ACK with the transfer
    return;
  }
  engine_ = EngineState::dma_wait_req;
  chip_.dma_drive(false, std::nullopt);
  engine_evaluate();
}

bool Qzr6140Board::count_block() {
  if (block_count_ == 0) {
    block_count_ = board::BLOCK_COUNT_MASK;
    return false;
  }
  --block_count_;
  return block_count_ == 0;
}

void Qzr6140Board::engine_stop(const char* why) {
  clock_.cancel(engine_timer_);
  if (engine_ == EngineState::idle) return;
  if (log_.on(log_category::DMA)) {
    log_.write("block engine stopped in %s: %s", engine_state_name(engine_), why);
  }
  engine_ = EngineState::idle;
  chip_.dma_drive(false, std::nullopt);
}

}  // namespace qzr::hw
