// What every logical unit does the same way: INQUIRY, REQUEST SENSE, the sense
// kept after CHECK CONDITION, the unit attention after power-on or reset,
// unknown opcodes, MODE SENSE (6) framing and the timing model. Device kinds
// derive from UnitBase and answer their own commands in execute_command().
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hw/clock.h"
#include "hw/targets/logical_unit.h"
#include "hw/targets/target_settings.h"

namespace qzr::hw {

// How long the unit takes, in virtual time. Deterministic: the same command
// from the same head position always costs the same.
struct UnitTimings {
  TimeNs command_latency_ns = 20 * kNsPerUs;  // decoding and starting any command
  TimeNs seek_ns_per_block = 10;              // per logical block of head travel
  TimeNs seek_settle_ns = 500 * kNsPerUs;     // added to any non-zero seek
  TimeNs seek_max_ns = 15 * kNsPerMs;         // full-stroke cap, settle included
  TimeNs transfer_ns_per_block = 50 * kNsPerUs;
};

// Reads of big-endian CDB fields.
namespace cdb_field {
inline std::uint32_t be16(std::span<const std::uint8_t> cdb, std::size_t at) {
  return (std::uint32_t{cdb[at]} << 8) | cdb[at + 1];
}
inline std::uint32_t be24(std::span<const std::uint8_t> cdb, std::size_t at) {
  return (std::uint32_t{cdb[at]} << 16) | (std::uint32_t{cdb[at + 1]} << 8) | cdb[at + 2];
}
inline std::uint32_t be32(std::span<const std::uint8_t> cdb, std::size_t at) {
  return (std::uint32_t{cdb[at]} << 24) | be24(cdb, at + 1);
}
}  // namespace cdb_field

void put_be16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value);
void put_be24(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value);
void put_be32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value);

// One mode page as MODE SENSE returns it: page code, page length, parameters.
struct ModePage {
  std::uint8_t code = 0;
  std::vector<std::uint8_t> current;     // parameter bytes after the two-byte page header
  std::vector<std::uint8_t> changeable;  // same length: 1 bits mark what MODE SELECT may change
};

// What a device puts around its pages in the MODE SENSE (6) answer.
struct ModeParameters {
  std::uint8_t medium_type = 0;
  std::uint8_t device_specific = 0;  // bit 7 is write protect for disks and tapes
  bool has_block_descriptor = true;
  std::uint8_t density_code = 0;
  std::uint32_t block_count = 0;  // capped at 24 bits in the descriptor
  std::uint32_t block_length = 0;
  std::vector<ModePage> pages;  // in ascending page-code order
};

class UnitBase : public LogicalUnit {
 public:
  UnitBase(std::uint8_t device_type, Identity identity, UnitTimings timings,
           bool unit_attention_on_reset);

  std::uint8_t device_type() const final { return device_type_; }
  CommandOutcome execute(std::span<const std::uint8_t> cdb) final;
  DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) override;
  void reset() override;

  // For tests and tools: the sense REQUEST SENSE would return now.
  const Sense& pending_sense() const { return sense_; }
  bool unit_attention_pending() const { return unit_attention_.has_value(); }
  const Identity& identity() const { return identity_; }
  const UnitTimings& timings() const { return timings_; }

 protected:
  // A command other than INQUIRY and REQUEST SENSE, after the sense was
  // cleared and any unit attention reported. The CDB is at least as long as
  // its group code says.
  virtual CommandOutcome execute_command(std::span<const std::uint8_t> cdb) = 0;
  // Called from reset() after the common state is handled.
  virtual void on_reset() {}
  // A unit attention for the next command (a newer one replaces an older).
  void raise_unit_attention(scsi::Asc code) { unit_attention_ = code; }

  // The most a single command moves: larger transfers are refused as an
  // invalid field rather than buffered whole.
  static constexpr std::uint64_t kMaxTransferBytes = 16 * 1024 * 1024;

  // Ends the command with CHECK CONDITION and keeps `sense` for REQUEST SENSE.
  CommandOutcome fail(const Sense& sense);
  CommandOutcome fail(std::uint8_t key, scsi::Asc code) { return fail(Sense::of(key, code)); }
  DataOutResult fail_data_out(const Sense& sense, TimeNs latency_ns);
  CommandOutcome invalid_opcode();
  CommandOutcome invalid_field();
  // GOOD with Data In cut to `allocation_length`.
  CommandOutcome data_in(std::vector<std::uint8_t> bytes, std::size_t allocation_length,
                         TimeNs latency_ns, std::uint32_t block_bytes = 0) const;
  CommandOutcome good(TimeNs latency_ns) const;
  // GOOD, asking for `bytes` of Data Out.
  CommandOutcome data_out(std::uint32_t bytes, std::uint32_t block_bytes, TimeNs latency_ns) const;

  // MODE SENSE (6) from the device's parameters: DBD, page control and the
  // page code are checked here.
  CommandOutcome mode_sense_6(std::span<const std::uint8_t> cdb, const ModeParameters& parameters);

  // The seek model: head travel from the last position to `lba`.
  TimeNs seek_ns(std::uint64_t from_lba, std::uint64_t to_lba) const;
  TimeNs transfer_ns(std::uint64_t blocks) const { return blocks * timings_.transfer_ns_per_block; }

 private:
  CommandOutcome inquiry(std::span<const std::uint8_t> cdb);
  CommandOutcome request_sense(std::span<const std::uint8_t> cdb);

  std::uint8_t device_type_;
  Identity identity_;
  UnitTimings timings_;
  bool unit_attention_on_reset_;
  std::optional<scsi::Asc> unit_attention_;  // reported to the next command
  Sense sense_;
};

}  // namespace qzr::hw
