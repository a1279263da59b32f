// SCSI-2 codes as data: operation codes, status bytes, messages, sense keys
// and additional sense codes, with names for diagnostics.
#pragma once

#include <cstdint>

namespace qzr::hw::scsi {

// Operation codes.
namespace op {
constexpr std::uint8_t TEST_UNIT_READY = 0x00;
constexpr std::uint8_t REWIND = 0x01;
constexpr std::uint8_t REQUEST_SENSE = 0x03;
constexpr std::uint8_t READ_6 = 0x08;
constexpr std::uint8_t WRITE_6 = 0x0A;
constexpr std::uint8_t WRITE_FILEMARKS = 0x10;
constexpr std::uint8_t SPACE = 0x11;
constexpr std::uint8_t INQUIRY = 0x12;
constexpr std::uint8_t MODE_SELECT_6 = 0x15;
constexpr std::uint8_t MODE_SENSE_6 = 0x1A;
constexpr std::uint8_t START_STOP_UNIT = 0x1B;
constexpr std::uint8_t SEND_DIAGNOSTIC = 0x1D;
constexpr std::uint8_t PREVENT_ALLOW_MEDIUM_REMOVAL = 0x1E;
constexpr std::uint8_t READ_CAPACITY = 0x25;
constexpr std::uint8_t READ_10 = 0x28;
constexpr std::uint8_t WRITE_10 = 0x2A;
constexpr std::uint8_t VERIFY_10 = 0x2F;
constexpr std::uint8_t SYNCHRONIZE_CACHE = 0x35;
// Codes of other device classes (some share a value with the ones above).
constexpr std::uint8_t READ_BLOCK_LIMITS = 0x05;
constexpr std::uint8_t RECEIVE = 0x08;      // processor: same code as READ (6)
constexpr std::uint8_t SEND = 0x0A;         // processor: same code as WRITE (6)
constexpr std::uint8_t LOAD_UNLOAD = 0x1B;  // sequential: same code as START STOP UNIT
// Scanner commands.
constexpr std::uint8_t SCAN = 0x1B;  // same code as START STOP UNIT
constexpr std::uint8_t SET_WINDOW = 0x24;
constexpr std::uint8_t GET_WINDOW = 0x25;
constexpr std::uint8_t READ_SCANNED_DATA = 0x28;  // same code as READ (10)
constexpr std::uint8_t OBJECT_POSITION = 0x31;
constexpr std::uint8_t GET_DATA_BUFFER_STATUS = 0x34;
}  // namespace op

// Command length from the group code (the top three bits of the opcode).
// Groups 3 and 4 are reserved and 6 and 7 vendor specific: a target takes
// six bytes for them and then refuses the opcode.
constexpr std::uint8_t command_length(std::uint8_t opcode) {
  switch (opcode >> 5) {
    case 1:
    case 2: return 10;
    case 5: return 12;
    default: return 6;
  }
}

namespace status {
constexpr std::uint8_t GOOD = 0x00;
constexpr std::uint8_t CHECK_CONDITION = 0x02;
constexpr std::uint8_t CONDITION_MET = 0x04;
constexpr std::uint8_t BUSY = 0x08;
constexpr std::uint8_t INTERMEDIATE = 0x10;
constexpr std::uint8_t RESERVATION_CONFLICT = 0x18;
constexpr std::uint8_t COMMAND_TERMINATED = 0x22;
constexpr std::uint8_t QUEUE_FULL = 0x28;
}  // namespace status

namespace msg {
constexpr std::uint8_t COMMAND_COMPLETE = 0x00;
constexpr std::uint8_t EXTENDED_MESSAGE = 0x01;
constexpr std::uint8_t SAVE_DATA_POINTER = 0x02;
constexpr std::uint8_t RESTORE_POINTERS = 0x03;
constexpr std::uint8_t DISCONNECT = 0x04;
constexpr std::uint8_t INITIATOR_DETECTED_ERROR = 0x05;
constexpr std::uint8_t ABORT = 0x06;
constexpr std::uint8_t MESSAGE_REJECT = 0x07;
constexpr std::uint8_t NO_OPERATION = 0x08;
constexpr std::uint8_t MESSAGE_PARITY_ERROR = 0x09;
constexpr std::uint8_t LINKED_COMMAND_COMPLETE = 0x0A;
constexpr std::uint8_t LINKED_COMMAND_COMPLETE_FLAG = 0x0B;
constexpr std::uint8_t BUS_DEVICE_RESET = 0x0C;
constexpr std::uint8_t IDENTIFY = 0x80;
constexpr std::uint8_t IDENTIFY_DISCONNECT_PRIVILEGE = 0x40;
}  // namespace msg

namespace sense_key {
constexpr std::uint8_t NO_SENSE = 0x0;
constexpr std::uint8_t RECOVERED_ERROR = 0x1;
constexpr std::uint8_t NOT_READY = 0x2;
constexpr std::uint8_t MEDIUM_ERROR = 0x3;
constexpr std::uint8_t HARDWARE_ERROR = 0x4;
constexpr std::uint8_t ILLEGAL_REQUEST = 0x5;
constexpr std::uint8_t UNIT_ATTENTION = 0x6;
constexpr std::uint8_t DATA_PROTECT = 0x7;
constexpr std::uint8_t BLANK_CHECK = 0x8;
constexpr std::uint8_t ABORTED_COMMAND = 0xB;
constexpr std::uint8_t VOLUME_OVERFLOW = 0xD;
constexpr std::uint8_t MISCOMPARE = 0xE;
}  // namespace sense_key

// Additional sense code and qualifier pairs.
struct Asc {
  std::uint8_t asc;
  std::uint8_t ascq;
};
namespace asc {
constexpr Asc NO_ADDITIONAL_SENSE{0x00, 0x00};
constexpr Asc FILEMARK_DETECTED{0x00, 0x01};
constexpr Asc END_OF_PARTITION_MEDIUM_DETECTED{0x00, 0x02};
constexpr Asc BEGINNING_OF_PARTITION_MEDIUM_DETECTED{0x00, 0x04};
constexpr Asc END_OF_DATA_DETECTED{0x00, 0x05};
constexpr Asc INVALID_COMMAND_OPERATION_CODE{0x20, 0x00};
constexpr Asc LOGICAL_BLOCK_ADDRESS_OUT_OF_RANGE{0x21, 0x00};
constexpr Asc INVALID_FIELD_IN_CDB{0x24, 0x00};
constexpr Asc LOGICAL_UNIT_NOT_SUPPORTED{0x25, 0x00};
constexpr Asc INVALID_FIELD_IN_PARAMETER_LIST{0x26, 0x00};
constexpr Asc WRITE_PROTECTED{0x27, 0x00};
constexpr Asc NOT_READY_TO_READY_TRANSITION{0x28, 0x00};
constexpr Asc POWER_ON_RESET_OR_BUS_DEVICE_RESET{0x29, 0x00};
constexpr Asc PARAMETER_LIST_LENGTH_ERROR{0x1A, 0x00};
constexpr Asc SAVING_PARAMETERS_NOT_SUPPORTED{0x39, 0x00};
constexpr Asc MEDIUM_NOT_PRESENT{0x3A, 0x00};
constexpr Asc MEDIUM_REMOVAL_PREVENTED{0x53, 0x02};
constexpr Asc SEQUENTIAL_POSITIONING_ERROR{0x3B, 0x00};
constexpr Asc UNRECOVERED_READ_ERROR{0x11, 0x00};
constexpr Asc LOGICAL_UNIT_NOT_READY_INITIALIZING_COMMAND_REQUIRED{0x04, 0x02};
constexpr Asc WRITE_ERROR{0x0C, 0x00};
constexpr Asc DATA_PHASE_ERROR{0x4B, 0x00};
constexpr Asc MISCOMPARE_DURING_VERIFY{0x1D, 0x00};
constexpr Asc COMMAND_SEQUENCE_ERROR{0x2C, 0x00};
}  // namespace asc

namespace device_type {
constexpr std::uint8_t DIRECT_ACCESS = 0x00;
constexpr std::uint8_t SEQUENTIAL_ACCESS = 0x01;
constexpr std::uint8_t PRINTER = 0x02;
constexpr std::uint8_t PROCESSOR = 0x03;
constexpr std::uint8_t WRITE_ONCE = 0x04;
constexpr std::uint8_t CDROM = 0x05;
constexpr std::uint8_t SCANNER = 0x06;
constexpr std::uint8_t OPTICAL_MEMORY = 0x07;
constexpr std::uint8_t MEDIUM_CHANGER = 0x08;
constexpr std::uint8_t COMMUNICATIONS = 0x09;
// Peripheral qualifier 3, type 0x1F: no logical unit at this address.
constexpr std::uint8_t NO_LOGICAL_UNIT = 0x7F;
}  // namespace device_type

const char* opcode_name(std::uint8_t opcode);
const char* message_name(std::uint8_t message);
const char* status_name(std::uint8_t status);
const char* sense_key_name(std::uint8_t key);

}  // namespace qzr::hw::scsi
