// A board on a PCI bus and a SCSI bus, reached only through raw port
// accesses as a processor would, with the register sequences an initiator
// uses spelled out once: arbitration and selection, programmed handshakes,
// and block transfers through the host buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hw/board_registers.h"
#include "hw/clock.h"
#include "hw/guest_errors.h"
#include "hw/pci.h"
#include "hw/qzr6140_board.h"
#include "hw/scsi_bus.h"

namespace qzr::hw::test {

constexpr std::uint8_t kIrqLine = 11;
constexpr int kHostId = 7;
// Enough polls for any step these tests wait on (each poll costs 500 ns).
constexpr int kBudgetPolls = 200'000;

inline std::vector<std::uint8_t> pattern(std::size_t bytes, std::uint8_t seed = 0) {
  std::vector<std::uint8_t> out(bytes);
  for (std::size_t i = 0; i < bytes; ++i)
    out[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 256);
  return out;
}

struct BoardRig {
  Clock clock;
  GuestErrorLog errors{clock};
  ScsiBus bus{clock};
  PciBus pci{clock, errors};
  Qzr6140Board board{bus, errors};
  std::uint32_t base = 0;

  BoardRig() {
    pci.plug(0, board, kIrqLine);
    base = pci.io_base(0);
  }

  std::uint8_t rd(std::uint32_t offset) { return pci.read8(base + offset); }
  void wr(std::uint32_t offset, std::uint8_t value) { pci.write8(base + offset, value); }
  std::uint32_t rd32(std::uint32_t offset) { return pci.read32(base + offset); }
  void wr32(std::uint32_t offset, std::uint32_t value) { pci.write32(base + offset, value); }

  // Polls a register until (value & mask) == want; false when the budget
  // runs out.
  bool poll(std::uint32_t offset, std::uint8_t mask, std::uint8_t want,
            int budget_polls = kBudgetPolls) {
    for (int i = 0; i < budget_polls; ++i) {
      if ((rd(offset) & mask) == want) return true;
    }
    return false;
  }
  bool wait_req(bool asserted) {
    return poll(ncr::reg::CURRENT_SCSI_BUS_STATUS, ncr::cbsr::REQ, asserted ? ncr::cbsr::REQ : 0);
  }

  bool irq_line() const { return pci.interrupt_asserted(kIrqLine); }

  // Arbitration as the data book describes it. Leaves the chip arbitrating
  // (AIP) with Output Data holding our ID; false if AIP never came.
  bool arbitrate(int own_id) {
    wr(ncr::reg::TARGET_COMMAND, 0);
    wr(ncr::reg::OUTPUT_DATA, static_cast<std::uint8_t>(1u << own_id));
    wr(ncr::reg::MODE, ncr::mode::ARBITRATE);
    if (!poll(ncr::reg::INITIATOR_COMMAND, ncr::icr::AIP, ncr::icr::AIP)) return false;
    clock.advance_by(bus.timings().arbitration_delay_ns);
    return true;
  }

  // Arbitrates and selects; true when the target answered with BSY.
  bool select(int target_id, bool with_atn) {
    if (!arbitrate(kHostId)) return false;
    if (rd(ncr::reg::INITIATOR_COMMAND) & ncr::icr::LA) return false;
    const std::uint8_t atn = with_atn ? ncr::icr::ASSERT_ATN : 0;
    wr(ncr::reg::INITIATOR_COMMAND, ncr::icr::ASSERT_SEL | ncr::icr::ASSERT_BSY);
    clock.advance_by(bus.timings().bus_clear_delay_ns + bus.timings().bus_settle_delay_ns);
    wr(ncr::reg::OUTPUT_DATA, static_cast<std::uint8_t>((1u << kHostId) | (1u << target_id)));
    wr(ncr::reg::INITIATOR_COMMAND,
       ncr::icr::ASSERT_SEL | ncr::icr::ASSERT_BSY | ncr::icr::ASSERT_DATA_BUS | atn);
    wr(ncr::reg::MODE, 0);
    wr(ncr::reg::INITIATOR_COMMAND, ncr::icr::ASSERT_SEL | ncr::icr::ASSERT_DATA_BUS | atn);
    // 250 ms selection time-out, in polls.
    const bool answered =
        poll(ncr::reg::CURRENT_SCSI_BUS_STATUS, ncr::cbsr::BSY, ncr::cbsr::BSY, 500'000);
    wr(ncr::reg::INITIATOR_COMMAND, answered ? atn : 0);
    return answered;
  }

  // Programmed handshakes: the software raises and drops ACK itself.
  void pio_send(Phase phase, const std::vector<std::uint8_t>& bytes, bool atn = false) {
    wr(ncr::reg::TARGET_COMMAND, static_cast<std::uint8_t>(phase));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      ASSERT_TRUE(wait_req(true)) << "no REQ for byte " << i;
      ASSERT_TRUE(rd(ncr::reg::BUS_AND_STATUS) & ncr::bsr::PHASE_MATCH);
      // ATN drops before the last message byte is acknowledged.
      const bool last = i + 1 == bytes.size();
      const std::uint8_t icr = static_cast<std::uint8_t>(ncr::icr::ASSERT_DATA_BUS |
                                                         (atn && !last ? ncr::icr::ASSERT_ATN : 0));
      wr(ncr::reg::OUTPUT_DATA, bytes[i]);
      wr(ncr::reg::INITIATOR_COMMAND, icr);
      wr(ncr::reg::INITIATOR_COMMAND, icr | ncr::icr::ASSERT_ACK);
      ASSERT_TRUE(wait_req(false));
      wr(ncr::reg::INITIATOR_COMMAND, icr);
    }
    wr(ncr::reg::INITIATOR_COMMAND, 0);
  }

  std::vector<std::uint8_t> pio_receive(Phase phase, std::size_t count) {
    std::vector<std::uint8_t> out;
    wr(ncr::reg::TARGET_COMMAND, static_cast<std::uint8_t>(phase));
    for (std::size_t i = 0; i < count; ++i) {
      if (!wait_req(true)) break;
      out.push_back(rd(ncr::reg::CURRENT_SCSI_DATA));
      wr(ncr::reg::INITIATOR_COMMAND, ncr::icr::ASSERT_ACK);
      if (!wait_req(false)) break;
      wr(ncr::reg::INITIATOR_COMMAND, 0);
    }
    return out;
  }

  void program_block_count(std::uint16_t blocks) {
    wr(board::BLOCK_COUNT_HIGH, static_cast<std::uint8_t>((blocks >> 8) << 4));
    wr(board::BLOCK_COUNT_LOW, static_cast<std::uint8_t>(blocks & 0xFF));
  }
  std::uint16_t read_block_count() {
    const std::uint8_t high = rd(board::BLOCK_COUNT_HIGH) & board::BLOCK_COUNT_HIGH_MASK;
    return static_cast<std::uint16_t>((high << 4) | rd(board::BLOCK_COUNT_LOW));
  }

  // Prepares and starts a block read in the Data In phase (the writing of
  // BLOCK_COUNT_LOW arms the engine).
  void start_dma_read(std::uint16_t blocks) {
    wr(ncr::reg::TARGET_COMMAND, static_cast<std::uint8_t>(Phase::DataIn));
    rd(ncr::reg::RESET_PARITY_INTERRUPT);
    wr(board::SWAP_CONTROL, board::swap::NORMAL);
    wr(ncr::reg::INITIATOR_COMMAND, rd(ncr::reg::INITIATOR_COMMAND) | ncr::icr::ASSERT_DATA_BUS);
    wr(ncr::reg::MODE,
       ncr::mode::ENABLE_EOP_INTERRUPT | ncr::mode::MONITOR_BUSY | ncr::mode::DMA_MODE);
    wr(board::BOARD_CONTROL, board::control::DIR_IN | board::control::INT_ENABLE);
    wr(ncr::reg::START_DMA_INITIATOR_RECEIVE, 0);
    wr(board::BUFFER_ACCESS, board::buffer_access::AT_REST);
    program_block_count(blocks);
  }

  void read_slot(std::vector<std::uint8_t>& out, std::size_t keep_bytes, bool guarded) {
    std::uint32_t words[32];
    if (guarded) wr(board::BUFFER_ACCESS, board::buffer_access::HOST_MOVING);
    pci.read32_string(base + board::HOST_BUFFER_PORT, words, 32);
    if (guarded) wr(board::BUFFER_ACCESS, board::buffer_access::AT_REST);
    for (std::size_t i = 0; i < keep_bytes; ++i) {
      out.push_back(static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4))));
    }
  }

  // Drains full slots while the engine runs, then, if it stopped short of
  // terminal count, takes the partial slot by a forced swap.
  struct ReadResult {
    std::vector<std::uint8_t> bytes;
    bool end_of_dma = false;
    int swapped_bytes = -1;  // -1: no forced swap was needed
  };
  ReadResult drain_dma_read() {
    ReadResult result;
    for (int polls = 0; polls < 4'000'000; ++polls) {
      const std::uint8_t status = rd(board::BOARD_STATUS);
      if (!(status & board::status::BUFFER_BUSY)) {
        read_slot(result.bytes, 128, true);
        continue;
      }
      if (status & board::status::NCR5380_ENABLE) break;
    }
    result.end_of_dma = rd(ncr::reg::BUS_AND_STATUS) & ncr::bsr::END_OF_DMA;
    if (!result.end_of_dma) {
      wr(board::SWAP_CONTROL, board::swap::FORCE);
      result.swapped_bytes = rd(board::SWAP_CONTROL) & board::swap::VALID_BYTES_MASK;
      wr(board::SWAP_CONTROL, board::swap::NORMAL);
      read_slot(result.bytes, static_cast<std::size_t>(result.swapped_bytes), false);
    }
    return result;
  }

  void start_dma_write(std::uint16_t blocks) {
    wr(ncr::reg::TARGET_COMMAND, static_cast<std::uint8_t>(Phase::DataOut));
    rd(ncr::reg::RESET_PARITY_INTERRUPT);
    wr(ncr::reg::INITIATOR_COMMAND, ncr::icr::ASSERT_DATA_BUS);
    wr(ncr::reg::MODE,
       ncr::mode::ENABLE_EOP_INTERRUPT | ncr::mode::MONITOR_BUSY | ncr::mode::DMA_MODE);
    wr(board::BOARD_CONTROL, board::control::INT_ENABLE);
    wr(ncr::reg::START_DMA_SEND, 0);
    wr(board::BUFFER_ACCESS, board::buffer_access::AT_REST);
    program_block_count(blocks);
  }

  // Writes one 128-byte block (padded with zeros) once a slot is free;
  // false if none came free within the budget.
  bool write_block(const std::uint8_t* data, std::size_t bytes) {
    if (!poll(board::BOARD_STATUS, board::status::BUFFER_BUSY, 0)) return false;
    std::uint32_t words[32] = {};
    for (std::size_t i = 0; i < bytes && i < 128; ++i) {
      words[i / 4] |= static_cast<std::uint32_t>(data[i]) << (8 * (i % 4));
    }
    wr(board::BUFFER_ACCESS, board::buffer_access::HOST_MOVING);
    pci.write32_string(base + board::HOST_BUFFER_PORT, words, 32);
    wr(board::BUFFER_ACCESS, board::buffer_access::AT_REST);
    return true;
  }

  // Leaves DMA, acknowledges the chip's interrupt and takes status and
  // COMMAND COMPLETE by programmed handshakes.
  std::vector<std::uint8_t> finish_command() {
    wr(ncr::reg::MODE, 0);
    rd(ncr::reg::RESET_PARITY_INTERRUPT);
    rd(board::BOARD_STATUS);
    std::vector<std::uint8_t> out = pio_receive(Phase::Status, 1);
    const std::vector<std::uint8_t> message = pio_receive(Phase::MessageIn, 1);
    out.insert(out.end(), message.begin(), message.end());
    return out;
  }
};

}  // namespace qzr::hw::test
