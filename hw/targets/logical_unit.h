// What a logical unit does with a command, apart from the bus: a target
// (scsi_target.h) carries the phases and hands each command's bytes to the
// logical unit it addresses, which decides the data, the status and the time
// it takes. Device kinds (disk, CD-ROM, tape, ...) implement this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "hw/clock.h"
#include "hw/targets/scsi_defs.h"

namespace qzr::hw {

enum class DataDirection : std::uint8_t { None, In, Out };

// Fixed-format sense data (18 bytes).
struct Sense {
  std::uint8_t key = scsi::sense_key::NO_SENSE;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool information_valid = false;
  std::uint32_t information = 0;
  bool filemark = false;
  bool end_of_medium = false;
  bool incorrect_length = false;

  static Sense of(std::uint8_t key, scsi::Asc code) { return Sense{key, code.asc, code.ascq}; }
  bool is_error() const { return key != scsi::sense_key::NO_SENSE || asc != 0 || filemark || end_of_medium || incorrect_length; }
  // Up to `allocation_length` bytes of the 18-byte fixed format.
  std::vector<std::uint8_t> bytes(std::size_t allocation_length = 18) const;
};

// What the logical unit decided after reading the command descriptor block.
struct CommandOutcome {
  std::uint8_t status = scsi::status::GOOD;
  DataDirection direction = DataDirection::None;
  std::vector<std::uint8_t> data_in;  // direction In: the bytes to send
  std::uint32_t data_out_bytes = 0;   // direction Out: the bytes to take
  // Logical block size of the data, for disconnecting at block boundaries
  // (0: the data is not made of blocks).
  std::uint32_t block_bytes = 0;
  // Time the unit needs before the data phase (or the status, if none):
  // seek, rotation, medium access.
  TimeNs latency_ns = 0;

  static CommandOutcome good() { return {}; }
  static CommandOutcome check_condition() {
    CommandOutcome o;
    o.status = scsi::status::CHECK_CONDITION;
    return o;
  }
};

// The result of the data a Data Out phase delivered.
struct DataOutResult {
  std::uint8_t status = scsi::status::GOOD;
  TimeNs latency_ns = 0;  // time to write before the status
};

class LogicalUnit {
 public:
  virtual ~LogicalUnit() = default;

  // Peripheral device type (INQUIRY byte 0, bits 4-0).
  virtual std::uint8_t device_type() const = 0;

  // A new command. Sense from an earlier CHECK CONDITION is kept until this
  // call, so REQUEST SENSE returns it.
  virtual CommandOutcome execute(std::span<const std::uint8_t> cdb) = 0;

  // The Data Out bytes of the current command (possibly fewer than asked for,
  // when the initiator stopped early).
  virtual DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                          std::span<const std::uint8_t> data) = 0;

  // The bus was reset (or a BUS DEVICE RESET arrived): pending state is lost.
  virtual void reset() = 0;

  // The command was abandoned (ABORT, or the initiator left) before its data
  // or status: whatever it changed stays changed, nothing else happens.
  virtual void abandon() {}
};

}  // namespace qzr::hw
