// The QZR6140 register window (BAR0, 32 bytes of I/O): the 53C80's eight
// registers at offsets 0-7, then the board logic. Names follow the data book.
#pragma once

#include <cstdint>

namespace qzr::hw {

namespace ncr {

// Offsets 0-7; most registers read and write as different things.
namespace reg {
constexpr std::uint32_t CURRENT_SCSI_DATA = 0;  // read
constexpr std::uint32_t OUTPUT_DATA = 0;        // write
constexpr std::uint32_t INITIATOR_COMMAND = 1;
constexpr std::uint32_t MODE = 2;
constexpr std::uint32_t TARGET_COMMAND = 3;
constexpr std::uint32_t CURRENT_SCSI_BUS_STATUS = 4;      // read
constexpr std::uint32_t SELECT_ENABLE = 4;                // write
constexpr std::uint32_t BUS_AND_STATUS = 5;               // read
constexpr std::uint32_t START_DMA_SEND = 5;               // write
constexpr std::uint32_t INPUT_DATA = 6;                   // read, never to be accessed
constexpr std::uint32_t START_DMA_TARGET_RECEIVE = 6;     // write, never to be accessed
constexpr std::uint32_t RESET_PARITY_INTERRUPT = 7;       // read
constexpr std::uint32_t START_DMA_INITIATOR_RECEIVE = 7;  // write
}  // namespace reg

namespace icr {
constexpr std::uint8_t ASSERT_RST = 0x80;
constexpr std::uint8_t AIP = 0x40;  // read: arbitration in progress
constexpr std::uint8_t LA = 0x20;   // read: lost arbitration
constexpr std::uint8_t ASSERT_ACK = 0x10;
constexpr std::uint8_t ASSERT_BSY = 0x08;
constexpr std::uint8_t ASSERT_SEL = 0x04;
constexpr std::uint8_t ASSERT_ATN = 0x02;
constexpr std::uint8_t ASSERT_DATA_BUS = 0x01;
// The bits a write sets; AIP and LA are status and ignored when written.
constexpr std::uint8_t WRITABLE = 0x9F;
}  // namespace icr

namespace mode {
constexpr std::uint8_t BLOCK_MODE_DMA = 0x80;
constexpr std::uint8_t TARGET_MODE = 0x40;
constexpr std::uint8_t ENABLE_PARITY_CHECK = 0x20;
constexpr std::uint8_t ENABLE_PARITY_INTERRUPT = 0x10;
constexpr std::uint8_t ENABLE_EOP_INTERRUPT = 0x08;
constexpr std::uint8_t MONITOR_BUSY = 0x04;
constexpr std::uint8_t DMA_MODE = 0x02;
constexpr std::uint8_t ARBITRATE = 0x01;
// Modes this board does not support: it is wired as an initiator only, with
// no parity lines and no block-mode DMA handshake.
constexpr std::uint8_t UNSUPPORTED =
    BLOCK_MODE_DMA | TARGET_MODE | ENABLE_PARITY_CHECK | ENABLE_PARITY_INTERRUPT;
}  // namespace mode

namespace tcr {
constexpr std::uint8_t LAST_BYTE_SENT = 0x80;  // read
constexpr std::uint8_t ASSERT_REQ = 0x08;
constexpr std::uint8_t ASSERT_MSG = 0x04;
constexpr std::uint8_t ASSERT_CD = 0x02;
constexpr std::uint8_t ASSERT_IO = 0x01;
constexpr std::uint8_t PHASE_MASK = 0x07;
constexpr std::uint8_t WRITABLE = 0x0F;
}  // namespace tcr

// Current SCSI Bus Status.
namespace cbsr {
constexpr std::uint8_t RST = 0x80;
constexpr std::uint8_t BSY = 0x40;
constexpr std::uint8_t REQ = 0x20;
constexpr std::uint8_t MSG = 0x10;
constexpr std::uint8_t CD = 0x08;
constexpr std::uint8_t IO = 0x04;
constexpr std::uint8_t SEL = 0x02;
constexpr std::uint8_t DBP = 0x01;
}  // namespace cbsr

// Bus and Status.
namespace bsr {
constexpr std::uint8_t END_OF_DMA = 0x80;
constexpr std::uint8_t DMA_REQUEST = 0x40;
constexpr std::uint8_t PARITY_ERROR = 0x20;
constexpr std::uint8_t IRQ_ACTIVE = 0x10;
constexpr std::uint8_t PHASE_MATCH = 0x08;
constexpr std::uint8_t BUSY_ERROR = 0x04;
constexpr std::uint8_t ATN = 0x02;
constexpr std::uint8_t ACK = 0x01;
}  // namespace bsr

}  // namespace ncr

namespace board {

constexpr std::uint32_t IO_WINDOW_BYTES = 32;

// Offsets 8-26.
constexpr std::uint32_t HOST_BUFFER_PORT = 8;  // 32-bit accesses only
constexpr std::uint32_t BOARD_STATUS = 9;      // read
constexpr std::uint32_t BOARD_CONTROL = 9;     // write
constexpr std::uint32_t BLOCK_COUNT_LOW = 10;
constexpr std::uint32_t BLOCK_COUNT_HIGH = 12;
constexpr std::uint32_t SWAP_CONTROL = 13;
constexpr std::uint32_t BUFFER_ACCESS = 26;  // write only

namespace control {
constexpr std::uint8_t BOARD_RESET = 0x80;
constexpr std::uint8_t DIR_IN = 0x40;
constexpr std::uint8_t INT_ENABLE = 0x10;
}  // namespace control

namespace status {
constexpr std::uint8_t NCR5380_ENABLE = 0x80;
constexpr std::uint8_t DIR_IN = 0x40;
constexpr std::uint8_t INT_ENABLE = 0x10;
constexpr std::uint8_t BUFFER_BUSY = 0x04;
constexpr std::uint8_t INT_PENDING = 0x01;
}  // namespace status

namespace swap {
constexpr std::uint8_t NORMAL = 1;
constexpr std::uint8_t FORCE = 2;
constexpr std::uint8_t VALID_BYTES_MASK = 0x7F;
}  // namespace swap

namespace buffer_access {
constexpr std::uint8_t AT_REST = 0x20;
constexpr std::uint8_t HOST_MOVING = 0x22;
}  // namespace buffer_access

// BLOCK_COUNT_HIGH carries counter bits 11-8 in register bits 7-4.
constexpr std::uint8_t BLOCK_COUNT_HIGH_MASK = 0xF0;
constexpr std::uint16_t BLOCK_COUNT_MASK = 0x0FFF;
constexpr std::size_t BLOCK_BYTES = 128;

}  // namespace board

}  // namespace qzr::hw
