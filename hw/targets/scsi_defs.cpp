// Names of SCSI-2 codes for traces and diagnostics. Where device classes give
// one opcode two meanings (READ (6) is a processor's RECEIVE), the name says
// both, since the code alone cannot tell which was meant.
#include "hw/targets/scsi_defs.h"

#include <array>
#include <cstddef>

namespace qzr::hw::scsi {
namespace {

struct CodeName {
  std::uint8_t code;
  const char* name;
};

template <std::size_t N>
const char* find_name(const std::array<CodeName, N>& table, std::uint8_t code,
                      const char* unknown) {
  for (const CodeName& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return unknown;
}

constexpr std::array kOpcodeNames{
    CodeName{0x00, "TEST UNIT READY"},
    CodeName{0x01, "REWIND/REZERO UNIT"},
    CodeName{0x03, "REQUEST SENSE"},
    CodeName{0x04, "FORMAT UNIT"},
    CodeName{0x05, "READ BLOCK LIMITS"},
    CodeName{0x07, "REASSIGN BLOCKS"},
    CodeName{0x08, "READ(6)/RECEIVE"},
    CodeName{0x0A, "WRITE(6)/SEND"},
    CodeName{0x0B, "SEEK(6)"},
    CodeName{0x0F, "READ REVERSE"},
    CodeName{0x10, "WRITE FILEMARKS"},
    CodeName{0x11, "SPACE"},
    CodeName{0x12, "INQUIRY"},
    CodeName{0x13, "VERIFY(6)"},
    CodeName{0x14, "RECOVER BUFFERED DATA"},
    CodeName{0x15, "MODE SELECT(6)"},
    CodeName{0x16, "RESERVE"},
    CodeName{0x17, "RELEASE"},
    CodeName{0x18, "COPY"},
    CodeName{0x19, "ERASE"},
    CodeName{0x1A, "MODE SENSE(6)"},
    CodeName{0x1B, "START STOP UNIT/LOAD UNLOAD/SCAN"},
    CodeName{0x1C, "RECEIVE DIAGNOSTIC RESULTS"},
    CodeName{0x1D, "SEND DIAGNOSTIC"},
    CodeName{0x1E, "PREVENT ALLOW MEDIUM REMOVAL"},
    CodeName{0x24, "SET WINDOW"},
    CodeName{0x25, "READ CAPACITY/GET WINDOW"},
    CodeName{0x28, "READ(10)"},
    CodeName{0x2A, "WRITE(10)"},
    CodeName{0x2B, "SEEK(10)/LOCATE"},
    CodeName{0x2E, "WRITE AND VERIFY(10)"},
    CodeName{0x2F, "VERIFY(10)"},
    CodeName{0x31, "OBJECT POSITION"},
    CodeName{0x34, "PRE-FETCH/READ POSITION/GET DATA BUFFER STATUS"},
    CodeName{0x35, "SYNCHRONIZE CACHE"},
    CodeName{0x36, "LOCK UNLOCK CACHE"},
    CodeName{0x37, "READ DEFECT DATA(10)"},
    CodeName{0x3B, "WRITE BUFFER"},
    CodeName{0x3C, "READ BUFFER"},
    CodeName{0x42, "READ SUB-CHANNEL"},
    CodeName{0x43, "READ TOC"},
    CodeName{0x44, "READ HEADER"},
    CodeName{0x45, "PLAY AUDIO(10)"},
    CodeName{0x47, "PLAY AUDIO MSF"},
    CodeName{0x4B, "PAUSE/RESUME"},
    CodeName{0x4C, "LOG SELECT"},
    CodeName{0x4D, "LOG SENSE"},
    CodeName{0x55, "MODE SELECT(10)"},
    CodeName{0x5A, "MODE SENSE(10)"},
    CodeName{0xA8, "READ(12)"},
    CodeName{0xAA, "WRITE(12)"},
};

constexpr std::array kMessageNames{
    CodeName{0x00, "COMMAND COMPLETE"},
    CodeName{0x01, "EXTENDED MESSAGE"},
    CodeName{0x02, "SAVE DATA POINTER"},
    CodeName{0x03, "RESTORE POINTERS"},
    CodeName{0x04, "DISCONNECT"},
    CodeName{0x05, "INITIATOR DETECTED ERROR"},
    CodeName{0x06, "ABORT"},
    CodeName{0x07, "MESSAGE REJECT"},
    CodeName{0x08, "NO OPERATION"},
    CodeName{0x09, "MESSAGE PARITY ERROR"},
    CodeName{0x0A, "LINKED COMMAND COMPLETE"},
    CodeName{0x0B, "LINKED COMMAND COMPLETE (WITH FLAG)"},
    CodeName{0x0C, "BUS DEVICE RESET"},
    CodeName{0x0D, "ABORT TAG"},
    CodeName{0x0E, "CLEAR QUEUE"},
    CodeName{0x0F, "INITIATE RECOVERY"},
    CodeName{0x10, "RELEASE RECOVERY"},
    CodeName{0x11, "TERMINATE I/O PROCESS"},
    CodeName{0x20, "SIMPLE QUEUE TAG"},
    CodeName{0x21, "HEAD OF QUEUE TAG"},
    CodeName{0x22, "ORDERED QUEUE TAG"},
    CodeName{0x23, "IGNORE WIDE RESIDUE"},
};

constexpr std::array kStatusNames{
    CodeName{status::GOOD, "GOOD"},
    CodeName{status::CHECK_CONDITION, "CHECK CONDITION"},
    CodeName{status::CONDITION_MET, "CONDITION MET"},
    CodeName{status::BUSY, "BUSY"},
    CodeName{status::INTERMEDIATE, "INTERMEDIATE"},
    CodeName{0x14, "INTERMEDIATE-CONDITION MET"},
    CodeName{status::RESERVATION_CONFLICT, "RESERVATION CONFLICT"},
    CodeName{status::COMMAND_TERMINATED, "COMMAND TERMINATED"},
    CodeName{status::QUEUE_FULL, "QUEUE FULL"},
};

constexpr std::array<const char*, 16> kSenseKeyNames{
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "EQUAL",          "VOLUME OVERFLOW", "MISCOMPARE",     "RESERVED",
};

}  // namespace

const char* opcode_name(std::uint8_t opcode) {
  return find_name(kOpcodeNames, opcode, "unknown opcode");
}

const char* message_name(std::uint8_t message) {
  // Bit 7 marks IDENTIFY whatever the LUN and privilege bits say.
  if (message & msg::IDENTIFY) return "IDENTIFY";
  return find_name(kMessageNames, message, "unknown message");
}

const char* status_name(std::uint8_t status) {
  return find_name(kStatusNames, status, "unknown status");
}

const char* sense_key_name(std::uint8_t key) {
  return key < kSenseKeyNames.size() ? kSenseKeyNames[key] : "invalid sense key";
}

}  // namespace qzr::hw::scsi
