#include "tools/rawscsi/raw_initiator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hw/board_registers.h"

namespace qzr::rawscsi {
namespace {

using namespace hw::ncr;
using namespace hw::board;

constexpr std::uint8_t kOwnIdBit = 0x80;  // the adapter is ID 7
constexpr std::uint32_t kBlockBytes = BLOCK_BYTES;
constexpr std::uint32_t kMaxBlocksPerTransfer = 4095;

std::uint8_t phase_of(std::uint8_t bus_status) {
  return (bus_status >> 2) & 7;
}

const char* phase_text(std::uint8_t phase) {
  static const char* const kNames[] = {"DATA OUT", "DATA IN",  "COMMAND",     "STATUS",
                                       "RESERVED", "RESERVED", "MESSAGE OUT", "MESSAGE IN"};
  return kNames[phase & 7];
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  char b[4];
  for (auto v : bytes) {
    std::snprintf(b, sizeof b, "%s%02X", out.empty() ? "" : " ", v);
    out += b;
  }
  return out;
}

}  // namespace

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::Completed:
      return "completed";
    case Outcome::BusBusy:
      return "bus busy";
    case Outcome::SelectionTimeout:
      return "selection time-out";
    case Outcome::ProtocolError:
      return "protocol error";
    case Outcome::Timeout:
      return "time-out";
  }
  return "?";
}

// Where the data stands: SCSI's current and saved data pointers, as offsets.
struct RawInitiator::Transfer {
  std::uint32_t current = 0;
  std::uint32_t saved = 0;
  std::uint32_t total = 0;
  std::vector<std::uint8_t>* in = nullptr;
  const std::vector<std::uint8_t>* out = nullptr;
};

RawInitiator::RawInitiator(hw::PciBus& pci, hw::Clock& clock, std::uint32_t io_base)
    : pci_(pci), clock_(clock), base_(io_base) {}

std::uint8_t RawInitiator::in(std::uint32_t offset) {
  return pci_.read8(base_ + offset);
}
void RawInitiator::out(std::uint32_t offset, std::uint8_t value) {
  pci_.write8(base_ + offset, value);
}

bool RawInitiator::poll(std::uint32_t offset, std::uint8_t mask, std::uint8_t want) {
  const hw::TimeNs deadline = clock_.now_ns() + poll_limit_ns_;
  while (clock_.now_ns() < deadline) {
    if ((in(offset)&mask) == want) return true;
  }
  return false;
}

void RawInitiator::reset_board() {
  const std::uint8_t kept = in(BOARD_STATUS);
  out(BOARD_CONTROL, control::BOARD_RESET);
  stall_us(10);
  out(BOARD_CONTROL, kept & (control::DIR_IN | control::INT_ENABLE));
  out(reg::MODE, 0);
  out(reg::TARGET_COMMAND, 0);
  out(reg::INITIATOR_COMMAND, 0);
  in(reg::RESET_PARITY_INTERRUPT);
}

void RawInitiator::reset_bus() {
  out(reg::INITIATOR_COMMAND, icr::ASSERT_RST);
  stall_us(100);
  out(reg::INITIATOR_COMMAND, 0);
  stall_us(100);
  reset_board();
}

void RawInitiator::fail(Result& result, Outcome outcome, std::string error) {
  result.outcome = outcome;
  result.error = std::move(error);
  result.transcript.push_back("FAILED: " + result.error);
  if (outcome == Outcome::ProtocolError || outcome == Outcome::Timeout) {
    reset_bus();
    result.transcript.push_back("BUS RESET");
  }
}

Result RawInitiator::run(const Request& request) {
  Result result;
  if (!arbitrate(result)) return result;
  if (!select(request, result)) return result;
  phase_loop(request, result);
  out(reg::MODE, 0);
  out(reg::TARGET_COMMAND, 0);
  out(reg::INITIATOR_COMMAND, 0);
  return result;
}

bool RawInitiator::arbitrate(Result& result) {
  if (!poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::BSY | cbsr::SEL, 0)) {
    fail(result, Outcome::BusBusy, "the bus never came free");
    return false;
  }
  out(reg::INITIATOR_COMMAND, 0);
  out(reg::OUTPUT_DATA, kOwnIdBit);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_DATA_BUS);
  out(reg::MODE, in(reg::MODE) | mode::ARBITRATE);
  if (!poll(reg::INITIATOR_COMMAND, icr::AIP, icr::AIP)) {
    out(reg::MODE, 0);
    out(reg::INITIATOR_COMMAND, 0);
    fail(result, Outcome::BusBusy, "arbitration never started");
    return false;
  }
  stall_us(3);  // more than the arbitration delay
  const bool lost = in(reg::INITIATOR_COMMAND)&icr::LA;
  const std::uint8_t contenders = in(reg::CURRENT_SCSI_DATA);
  if (lost || contenders != kOwnIdBit) {
    // ID 7 is the highest priority, so any other bit means somebody else is
    // arbitrating too; like the miniport, this initiator yields rather than
    // racing it.
    out(reg::MODE, 0);
    out(reg::INITIATOR_COMMAND, 0);
    char text[64];
    std::snprintf(text, sizeof text, "arbitration lost (data bus 0x%02X)", contenders);
    fail(result, Outcome::BusBusy, text);
    return false;
  }
  out(reg::INITIATOR_COMMAND, icr::ASSERT_BSY | icr::ASSERT_SEL);
  stall_us(2);
  out(reg::MODE, in(reg::MODE) & ~mode::ARBITRATE);
  result.transcript.push_back("ARBITRATION won by ID 7");
  return true;
}

bool RawInitiator::select(const Request& request, Result& result) {
  const std::uint8_t target_bit = static_cast<std::uint8_t>(1u << request.target);
  out(reg::TARGET_COMMAND, 0);
  out(reg::OUTPUT_DATA, kOwnIdBit | target_bit);
  out(reg::INITIATOR_COMMAND,
      icr::ASSERT_BSY | icr::ASSERT_SEL | icr::ASSERT_ATN | icr::ASSERT_DATA_BUS);
  stall_us(1);
  out(reg::SELECT_ENABLE, 0);  // no reselection while selecting
  out(reg::INITIATOR_COMMAND, icr::ASSERT_SEL | icr::ASSERT_ATN | icr::ASSERT_DATA_BUS);
  stall_us(1);
  const hw::TimeNs limit = poll_limit_ns_;
  poll_limit_ns_ = 250 * hw::kNsPerMs;  // the selection time-out
  const bool answered = poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::BSY, cbsr::BSY);
  poll_limit_ns_ = limit;
  if (!answered) {
    out(reg::INITIATOR_COMMAND, 0);
    fail(result, Outcome::SelectionTimeout,
         "target " + std::to_string(request.target) + " did not answer");
    return false;
  }
  out(reg::INITIATOR_COMMAND, icr::ASSERT_ATN);  // release SEL and the data bus, keep ATN
  result.transcript.push_back("SELECTION of target " + std::to_string(request.target) +
                              " answered");

  // The target asks for the IDENTIFY message because ATN is up.
  if (!poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::BSY | cbsr::REQ, cbsr::BSY | cbsr::REQ) ||
      phase_of(in(reg::CURRENT_SCSI_BUS_STATUS)) != 6) {
    out(reg::INITIATOR_COMMAND, 0);
    result.transcript.push_back("target did not ask for a message");
    return true;
  }
  const std::uint8_t identify =
      static_cast<std::uint8_t>(0x80 | (request.allow_disconnect ? 0x40 : 0) | (request.lun & 7));
  out(reg::TARGET_COMMAND, 6);
  out(reg::OUTPUT_DATA, identify);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_DATA_BUS);  // ATN drops before the last message byte
  stall_us(1);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_DATA_BUS | icr::ASSERT_ACK);
  const bool taken = poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::REQ, 0);
  out(reg::INITIATOR_COMMAND, 0);
  if (!taken) {
    fail(result, Outcome::Timeout, "IDENTIFY not taken");
    return false;
  }
  char text[48];
  std::snprintf(text, sizeof text, "MESSAGE OUT IDENTIFY 0x%02X", identify);
  result.transcript.push_back(text);
  return true;
}

bool RawInitiator::send_byte(std::uint8_t byte) {
  out(reg::OUTPUT_DATA, byte);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_DATA_BUS);
  stall_us(1);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_DATA_BUS | icr::ASSERT_ACK);
  const bool ok = poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::REQ, 0);
  out(reg::INITIATOR_COMMAND, 0);
  return ok;
}

bool RawInitiator::receive_byte(std::uint8_t& byte) {
  byte = in(reg::CURRENT_SCSI_DATA);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_ACK);
  const bool ok = poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::REQ, 0);
  out(reg::INITIATOR_COMMAND, 0);
  return ok;
}

void RawInitiator::start_dma(bool read, std::uint32_t blocks) {
  out(reg::TARGET_COMMAND, read ? 1 : 0);
  in(reg::RESET_PARITY_INTERRUPT);
  out(SWAP_CONTROL, swap::NORMAL);
  out(reg::INITIATOR_COMMAND, in(reg::INITIATOR_COMMAND) | icr::ASSERT_DATA_BUS);
  out(reg::MODE, mode::ENABLE_EOP_INTERRUPT | mode::MONITOR_BUSY | mode::DMA_MODE);
  out(BOARD_CONTROL, read ? (control::DIR_IN | control::INT_ENABLE) : control::INT_ENABLE);
  out(read ? reg::START_DMA_INITIATOR_RECEIVE : reg::START_DMA_SEND, 0);
  out(BUFFER_ACCESS, buffer_access::AT_REST);
  // High part first: the write of the low part arms the block engine.
  out(BLOCK_COUNT_HIGH, static_cast<std::uint8_t>((blocks >> 8) << 4));
  out(BLOCK_COUNT_LOW, static_cast<std::uint8_t>(blocks & 0xFF));
}

void RawInitiator::end_dma() {
  out(reg::INITIATOR_COMMAND, in(reg::INITIATOR_COMMAND) & ~icr::ASSERT_DATA_BUS);
  out(reg::MODE, 0);
  out(SWAP_CONTROL, swap::NORMAL);
  in(reg::RESET_PARITY_INTERRUPT);
}

bool RawInitiator::data_in(Transfer& t, Result& result) {
  const std::uint32_t remaining = t.total - t.current;
  if (remaining == 0) {
    // More data than the buffer holds: take it by hand and drop it, within
    // a bound, so a runaway target cannot keep us here.
    std::uint32_t dropped = 0;
    while (dropped < 1'000'000) {
      const std::uint8_t s = in(reg::CURRENT_SCSI_BUS_STATUS);
      if ((s & (cbsr::BSY | cbsr::REQ)) != (cbsr::BSY | cbsr::REQ) || phase_of(s) != 1) break;
      std::uint8_t ignored;
      if (!receive_byte(ignored)) break;
      ++dropped;
      if (!poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::REQ, cbsr::REQ)) break;
    }
    result.transcript.push_back("DATA IN overrun: " + std::to_string(dropped) + " bytes dropped");
    return true;
  }
  const std::uint32_t blocks =
      std::min((remaining + kBlockBytes - 1) / kBlockBytes, kMaxBlocksPerTransfer);
  start_dma(true, blocks);
  const std::uint32_t start = t.current;
  std::uint32_t block_words[kBlockBytes / 4];
  for (std::uint32_t moved = 0; moved < blocks;) {
    const std::uint8_t board = in(BOARD_STATUS);
    if (!(board & status::BUFFER_BUSY)) {
      out(BUFFER_ACCESS, buffer_access::HOST_MOVING);
      pci_.read32_string(base_ + HOST_BUFFER_PORT, block_words, kBlockBytes / 4);
      out(BUFFER_ACCESS, buffer_access::AT_REST);
      const std::uint32_t take = std::min(kBlockBytes, t.total - t.current);
      std::memcpy(t.in->data() + t.current, block_words, take);
      t.current += take;
      ++moved;
      continue;
    }
    if ((board & status::NCR5380_ENABLE) && (in(BOARD_STATUS)&status::BUFFER_BUSY)) {
      // The board stopped before the block filled: the target changed phase.
      out(SWAP_CONTROL, swap::FORCE);
      const std::uint32_t valid = in(SWAP_CONTROL)&swap::VALID_BYTES_MASK;
      if (valid) {
        out(SWAP_CONTROL, swap::NORMAL);
        pci_.read32_string(base_ + HOST_BUFFER_PORT, block_words, kBlockBytes / 4);
        const std::uint32_t take = std::min(valid, t.total - t.current);
        std::memcpy(t.in->data() + t.current, block_words, take);
        t.current += take;
      }
      break;
    }
    if (!(in(reg::CURRENT_SCSI_BUS_STATUS)&cbsr::BSY)) break;  // the target left the bus
  }
  end_dma();
  result.transcript.push_back("DATA IN " + std::to_string(t.current - start) + " bytes in " +
                              std::to_string(blocks) + " block(s) programmed");
  return true;
}

bool RawInitiator::data_out(Transfer& t, Result& result) {
  const std::uint32_t remaining = t.total - t.current;
  if (remaining == 0) {
    fail(result, Outcome::ProtocolError, "target asks for more data than there is");
    return false;
  }
  const std::uint32_t blocks =
      std::min((remaining + kBlockBytes - 1) / kBlockBytes, kMaxBlocksPerTransfer);
  start_dma(false, blocks);
  std::uint32_t block_words[kBlockBytes / 4];
  std::uint32_t written = 0;
  bool cut_short = false;
  while (written < blocks) {
    const std::uint8_t board = in(BOARD_STATUS);
    if (!(board & status::BUFFER_BUSY)) {
      const std::uint32_t offset = t.current + written * kBlockBytes;
      const std::uint32_t take = std::min(kBlockBytes, t.total - offset);
      std::memset(block_words, 0, sizeof block_words);
      std::memcpy(block_words, t.out->data() + offset, take);
      out(BUFFER_ACCESS, buffer_access::HOST_MOVING);
      pci_.write32_string(base_ + HOST_BUFFER_PORT, block_words, kBlockBytes / 4);
      out(BUFFER_ACCESS, buffer_access::AT_REST);
      ++written;
      continue;
    }
    if ((board & status::NCR5380_ENABLE) && (in(BOARD_STATUS)&status::BUFFER_BUSY)) {
      cut_short = true;  // the target stopped taking data with the buffer full
      break;
    }
    if (!(in(reg::CURRENT_SCSI_BUS_STATUS)&cbsr::BSY)) break;
  }
  // Wait for the board to hand the 5380 back (terminal count or the target
  // changing phase), then count what the target took.
  poll(BOARD_STATUS, status::NCR5380_ENABLE, status::NCR5380_ENABLE);
  const std::uint32_t left = ((in(BLOCK_COUNT_HIGH)&0xF0u) << 4) | in(BLOCK_COUNT_LOW);
  const std::uint32_t acknowledged_blocks = blocks - std::min(left, blocks);
  std::uint32_t sent = acknowledged_blocks * kBlockBytes;
  // A padded last block never completes: the target takes the real bytes
  // and changes phase, leaving the counter at one.
  if (!cut_short && written == blocks && left == 1 && remaining % kBlockBytes) sent = remaining;
  sent = std::min(sent, remaining);
  end_dma();
  t.current += sent;
  result.data_out_sent = t.current;
  result.transcript.push_back("DATA OUT " + std::to_string(sent) + " bytes in " +
                              std::to_string(blocks) + " block(s) programmed");
  return true;
}

bool RawInitiator::await_reselection(const Request& request, Result& result) {
  out(reg::INITIATOR_COMMAND, 0);
  out(reg::SELECT_ENABLE, kOwnIdBit);
  const hw::TimeNs deadline = clock_.now_ns() + poll_limit_ns_ + 250 * hw::kNsPerMs;
  // Nothing to do until a device acts: let time jump to the next event
  // rather than spin, as a processor would halt until the interrupt.
  for (;;) {
    const std::uint8_t s = in(reg::CURRENT_SCSI_BUS_STATUS);
    if ((s & (cbsr::BSY | cbsr::SEL | cbsr::IO)) == (cbsr::SEL | cbsr::IO) &&
        (in(reg::CURRENT_SCSI_DATA)&kOwnIdBit))
      break;
    if (clock_.now_ns() >= deadline || !clock_.run_next_event(deadline)) {
      fail(result, Outcome::Timeout, "no reselection after a disconnect");
      return false;
    }
  }
  const std::uint8_t ids = in(reg::CURRENT_SCSI_DATA) & ~kOwnIdBit;
  const std::uint8_t expected = static_cast<std::uint8_t>(1u << request.target);
  out(reg::INITIATOR_COMMAND, icr::ASSERT_BSY);
  const bool released = poll(reg::CURRENT_SCSI_BUS_STATUS, cbsr::SEL, 0);
  out(reg::INITIATOR_COMMAND, 0);
  in(reg::RESET_PARITY_INTERRUPT);
  if (!released || ids != expected) {
    fail(result, Outcome::ProtocolError, "unexpected reselection");
    return false;
  }
  out(reg::SELECT_ENABLE, 0);
  result.transcript.push_back("RESELECTION by target " + std::to_string(request.target));
  return true;
}

bool RawInitiator::phase_loop(const Request& request, Result& result) {
  std::vector<std::uint8_t> in_buffer(request.data_in_bytes);
  Transfer t;
  t.in = &in_buffer;
  t.out = &request.data_out;
  t.total = request.data_out.empty() ? request.data_in_bytes
                                     : static_cast<std::uint32_t>(request.data_out.size());
  std::size_t cdb_sent = 0;
  bool complete = false;
  bool disconnected = false;
  auto finish_data = [&] {
    result.data_in.assign(in_buffer.begin(),
                          in_buffer.begin() + (request.data_out.empty() ? t.current : 0));
  };

  for (int phases = 0; phases < 100'000; ++phases) {
    // Wait for REQ, or for the bus to go free.
    const hw::TimeNs deadline = clock_.now_ns() + poll_limit_ns_;
    std::uint8_t s = 0;
    for (;;) {
      s = in(reg::CURRENT_SCSI_BUS_STATUS);
      if (!(s & cbsr::BSY) || (s & cbsr::REQ)) break;
      if (clock_.now_ns() >= deadline) {
        finish_data();
        fail(result, Outcome::Timeout, "target holds BSY without asking for a phase");
        return false;
      }
    }
    if (!(s & cbsr::BSY)) {
      if (complete) {
        finish_data();
        result.outcome = Outcome::Completed;
        result.transcript.push_back("BUS FREE");
        return true;
      }
      if (disconnected) {
        result.transcript.push_back("BUS FREE (disconnected)");
        disconnected = false;
        if (!await_reselection(request, result)) {
          finish_data();
          return false;
        }
        t.current = t.saved;
        continue;
      }
      finish_data();
      fail(result, Outcome::ProtocolError, "target went bus free without COMMAND COMPLETE");
      return false;
    }
    const std::uint8_t phase = phase_of(s);
    out(reg::TARGET_COMMAND, phase);
    switch (phase) {
      case 2: {  // command
        if (cdb_sent >= request.cdb.size()) {
          finish_data();
          fail(result, Outcome::ProtocolError, "target asks for more command bytes");
          return false;
        }
        if (!send_byte(request.cdb[cdb_sent++])) {
          finish_data();
          fail(result, Outcome::Timeout, "command byte not taken");
          return false;
        }
        if (cdb_sent == request.cdb.size()) {
          result.transcript.push_back("COMMAND " + hex_bytes(request.cdb));
        }
        break;
      }
      case 1:
        if (!data_in(t, result)) return false;
        break;
      case 0:
        if (!data_out(t, result)) return false;
        break;
      case 3: {
        std::uint8_t status;
        if (!receive_byte(status)) {
          finish_data();
          fail(result, Outcome::Timeout, "status byte handshake");
          return false;
        }
        result.status = status;
        char text[32];
        std::snprintf(text, sizeof text, "STATUS 0x%02X", status);
        result.transcript.push_back(text);
        break;
      }
      case 7: {
        std::uint8_t message;
        if (!receive_byte(message)) {
          finish_data();
          fail(result, Outcome::Timeout, "message byte handshake");
          return false;
        }
        result.messages_in.push_back(message);
        const char* name = "MESSAGE IN";
        if (message == 0x00) {
          complete = true;
          name = "MESSAGE IN COMMAND COMPLETE";
        } else if (message == 0x02) {
          t.saved = t.current;
          name = "MESSAGE IN SAVE DATA POINTER";
        } else if (message == 0x03) {
          t.current = t.saved;
          name = "MESSAGE IN RESTORE POINTERS";
        } else if (message == 0x04) {
          disconnected = true;
          ++result.disconnects;
          name = "MESSAGE IN DISCONNECT";
        } else if (message & 0x80) {
          name = "MESSAGE IN IDENTIFY";
        }
        char text[64];
        std::snprintf(text, sizeof text, "%s (0x%02X)", name, message);
        result.transcript.push_back(text);
        break;
      }
      case 6:
        if (!send_byte(0x08)) {  // NO OPERATION
          finish_data();
          fail(result, Outcome::Timeout, "message out handshake");
          return false;
        }
        result.transcript.push_back("MESSAGE OUT NO OPERATION");
        break;
      default:
        finish_data();
        fail(result, Outcome::ProtocolError, std::string("reserved phase ") + phase_text(phase));
        return false;
    }
  }
  finish_data();
  fail(result, Outcome::ProtocolError, "too many phases");
  return false;
}

}  // namespace qzr::rawscsi
