// Per-target settings: identity, disconnect policy, timings and the fault
// plan. Plain data; the machine's settings file fills them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hw/clock.h"
#include "hw/scsi_bus.h"

namespace qzr::hw {

// What INQUIRY reports.
struct Identity {
  std::string vendor = "QZRSIM";     // 8 characters, space padded
  std::string product = "VIRTUAL";   // 16 characters
  std::string revision = "1.0";      // 4 characters
  std::uint8_t ansi_version = 2;
  bool removable = false;            // RMB, byte 1 bit 7
  std::uint8_t capabilities = 0;     // byte 7: RelAdr, WBus32, WBus16, Sync, Linked, CmdQue, SftRe
  std::uint8_t response_format = 2;  // byte 3 bits 3-0
};

struct DisconnectPolicy {
  enum class Kind : std::uint8_t {
    Never,         // holds the bus for the whole command
    AfterCommand,  // disconnects after the command bytes, reselects for the data
    AfterBlocks,   // also disconnects after every `blocks` logical blocks of data
  };
  Kind kind = Kind::Never;
  std::uint32_t blocks = 0;
};

struct TargetTimings {
  // From seeing its selection to asserting BSY.
  TimeNs selection_response_ns = 1'000;
  // From ACK falling to the next REQ within a phase (sets the transfer rate).
  TimeNs req_interval_ns = 200;
  // From the end of one phase to the first REQ of the next.
  TimeNs phase_change_ns = 2'000;
  // From the last command byte to the unit starting on the command.
  TimeNs command_overhead_ns = 20'000;
  // Time between a failed reselection (no answer within the selection
  // time-out) and the next try, and how many tries before the target gives
  // the command up.
  TimeNs reselection_retry_ns = 1 * kNsPerMs;
  std::uint32_t reselection_attempts = 3;
};

// Scripted misbehaviour. A fault applies to the commands it matches (any, or
// one opcode) and fires `times` times (0: every time). A fault that acts
// before the opcode is known (at selection, in Message Out or Command) counts
// every selection and ignores `opcode`.
struct Fault {
  enum class Kind : std::uint8_t {
    NoSelectionResponse,       // does not answer a selection (each ignored selection is a firing)
    NeverRaiseReq,             // holds BSY and never asks in `phase` (none: right after selection);
                               // only a bus reset ends it
    DropBsy,                   // releases the bus on entering `phase` (none: right after selection)
    StopDataAfter,             // ends the data phase after `bytes` bytes, then status
    ExtraData,                 // Data In: `bytes` more bytes than the command allows
    StayInDataOut,             // keeps asking for `bytes` more Data Out bytes (0: 64 KiB)
    BusFreeWithoutComplete,    // goes bus free after the status, no COMMAND COMPLETE
    CompleteWithoutStatus,     // skips the status phase
    StatusByte,                // returns `status` instead of the unit's status
    MessageInBytes,            // sends `message` before COMMAND COMPLETE
    ReselectWithoutCommand,    // at `at_ns` (or once idle after it), reselects the last
                               // initiator seen (ID 7 before any), sends IDENTIFY for LUN 0,
                               // then goes bus free; `times` and `opcode` do not apply
  };
  Kind kind = Kind::StatusByte;
  std::optional<std::uint8_t> opcode;  // none: every command
  std::optional<Phase> phase;          // for NeverRaiseReq and DropBsy (none: after selection)
  std::uint32_t bytes = 0;
  std::uint8_t status = 0;
  std::vector<std::uint8_t> message;
  std::uint32_t times = 0;
  TimeNs at_ns = 0;                    // ReselectWithoutCommand: when
};

struct TargetSettings {
  std::uint8_t id = 0;
  DisconnectPolicy disconnect;
  TargetTimings timings;
  std::vector<Fault> faults;
};

}  // namespace qzr::hw
