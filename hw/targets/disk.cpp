#include "hw/targets/disk.h"

#include <algorithm>
#include <string>
#include <utility>

namespace qzr::hw {
namespace {

namespace sk = scsi::sense_key;
using cdb_field::be16;
using cdb_field::be24;
using cdb_field::be32;

Sense with_information(Sense sense, std::uint64_t information) {
  sense.information_valid = true;
  sense.information = static_cast<std::uint32_t>(std::min<std::uint64_t>(information, 0xFFFFFFFF));
  return sense;
}

// A made-up but consistent geometry for the format and rigid-disk pages.
constexpr std::uint32_t kHeads = 16;
constexpr std::uint32_t kSectorsPerTrack = 63;
constexpr std::uint32_t kRotationRpm = 5400;

}  // namespace

Disk::Disk(std::uint8_t device_type, Identity identity, UnitTimings timings,
           bool unit_attention_on_reset, std::optional<BlockImage> image, bool medium_present)
    : Disk(device_type, std::move(identity), timings, unit_attention_on_reset, std::move(image),
           medium_present, WriteRule::Allowed, 512) {}

Disk::Disk(std::uint8_t device_type, Identity identity, UnitTimings timings,
           bool unit_attention_on_reset, std::optional<BlockImage> image, bool medium_present,
           WriteRule write_rule, std::uint32_t default_block_bytes)
    : UnitBase(device_type, std::move(identity), timings, unit_attention_on_reset),
      write_rule_(write_rule),
      block_bytes_(image ? image->block_bytes() : default_block_bytes),
      image_(std::move(image)),
      // A fixed disk always holds its medium; a removable one only if loaded.
      medium_present_(image_.has_value() && (medium_present || !removable())) {}

void Disk::insert_medium(BlockImage image) {
  block_bytes_ = image.block_bytes();
  image_ = std::move(image);
  medium_present_ = true;
  spinning_ = true;
  head_lba_ = 0;
  // The initiator did not ask for this: it learns of the new medium this way.
  raise_unit_attention(scsi::asc::NOT_READY_TO_READY_TRANSITION);
}

bool Disk::eject_medium() {
  if (!removable() || removal_prevented_) return false;
  medium_present_ = false;
  return true;
}

void Disk::on_reset() {
  // A reset ends any PREVENT MEDIUM REMOVAL; the medium itself stays put.
  removal_prevented_ = false;
}

bool Disk::write_protected() const {
  return write_rule_ != WriteRule::Allowed || (image_ && image_->read_only());
}

std::optional<Sense> Disk::not_ready() const {
  if (!medium_present_) return Sense::of(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT);
  if (!spinning_) {
    return Sense::of(sk::NOT_READY,
                     scsi::asc::LOGICAL_UNIT_NOT_READY_INITIALIZING_COMMAND_REQUIRED);
  }
  return std::nullopt;
}

std::optional<Sense> Disk::out_of_range(const Extent& extent) const {
  const std::uint64_t capacity = capacity_blocks();
  if (extent.lba < capacity && extent.blocks <= capacity - extent.lba) return std::nullopt;
  // The information field names the first block that does not exist.
  return with_information(
      Sense::of(sk::ILLEGAL_REQUEST, scsi::asc::LOGICAL_BLOCK_ADDRESS_OUT_OF_RANGE),
      std::max(extent.lba, capacity));
}

std::optional<Disk::Extent> Disk::extent_of(std::span<const std::uint8_t> cdb) {
  if (scsi::command_length(cdb[0]) == 6) {
    // Six-byte form: 21-bit address, and a length of 0 means 256 blocks.
    const std::uint32_t blocks = cdb[4] == 0 ? 256 : cdb[4];
    return Extent{be24(cdb, 1) & 0x1FFFFF, blocks};
  }
  if (cdb[1] & 0x01) return std::nullopt;  // RelAdr needs linked commands
  return Extent{be32(cdb, 2), be16(cdb, 7)};
}

CommandOutcome Disk::execute_command(std::span<const std::uint8_t> cdb) {
  switch (cdb[0]) {
    case scsi::op::TEST_UNIT_READY:
      return test_unit_ready();
    case scsi::op::READ_6:
    case scsi::op::READ_10:
      return read(cdb);
    case scsi::op::WRITE_6:
    case scsi::op::WRITE_10:
      if (write_rule_ == WriteRule::NoWriteCommand) return invalid_opcode();
      return write(cdb);
    case scsi::op::VERIFY_10:
      return verify(cdb);
    case scsi::op::READ_CAPACITY:
      return read_capacity(cdb);
    case scsi::op::MODE_SENSE_6:
      return mode_sense_6(cdb, mode_parameters());
    case scsi::op::START_STOP_UNIT:
      return start_stop_unit(cdb);
    case scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL:
      return prevent_allow(cdb);
    case scsi::op::SYNCHRONIZE_CACHE:
      return synchronize_cache(cdb);
    default:
      return invalid_opcode();
  }
}

CommandOutcome Disk::test_unit_ready() {
  if (auto sense = not_ready()) return fail(*sense);
  return good(timings().command_latency_ns);
}

CommandOutcome Disk::read(std::span<const std::uint8_t> cdb) {
  const auto extent = extent_of(cdb);
  if (!extent) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  if (extent->blocks == 0) return good(timings().command_latency_ns);
  if (auto sense = out_of_range(*extent)) return fail(*sense);
  if (too_large(*extent)) return invalid_field();

  std::vector<std::uint8_t> bytes(std::size_t{extent->blocks} * block_bytes_);
  std::string error;
  if (!image_->read(extent->lba, bytes, error)) {
    return fail(with_information(Sense::of(sk::MEDIUM_ERROR, scsi::asc::UNRECOVERED_READ_ERROR),
                                 extent->lba));
  }
  const TimeNs latency_ns =
      timings().command_latency_ns + seek_ns(head_lba_, extent->lba) + transfer_ns(extent->blocks);
  head_lba_ = extent->lba + extent->blocks;
  const std::size_t size = bytes.size();
  return data_in(std::move(bytes), size, latency_ns, block_bytes_);
}

CommandOutcome Disk::write(std::span<const std::uint8_t> cdb) {
  const auto extent = extent_of(cdb);
  if (!extent) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  if (write_protected()) return fail(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED);
  if (extent->blocks == 0) return good(timings().command_latency_ns);
  if (auto sense = out_of_range(*extent)) return fail(*sense);
  if (too_large(*extent)) return invalid_field();
  const TimeNs latency_ns = timings().command_latency_ns + seek_ns(head_lba_, extent->lba);
  head_lba_ = extent->lba;
  return data_out(extent->blocks * block_bytes_, block_bytes_, latency_ns);
}

DataOutResult Disk::complete_data_out(std::span<const std::uint8_t> cdb,
                                      std::span<const std::uint8_t> data) {
  const std::uint8_t opcode = cdb.empty() ? 0 : cdb[0];
  const bool complete_cdb = !cdb.empty() && cdb.size() >= scsi::command_length(opcode);
  const bool is_write =
      complete_cdb && (opcode == scsi::op::WRITE_6 || opcode == scsi::op::WRITE_10);
  const bool is_compare = complete_cdb && opcode == scsi::op::VERIFY_10 && (cdb[1] & 0x02);
  if (is_compare) {
    const Extent extent{be32(cdb, 2), be16(cdb, 7)};
    if (auto sense = not_ready()) return fail_data_out(*sense, 0);
    if (auto sense = out_of_range(extent)) return fail_data_out(*sense, 0);
    return compare_data_out(extent, data);
  }
  const auto extent = is_write ? extent_of(cdb) : std::nullopt;
  // The checks execute() made still hold unless the medium changed meanwhile.
  if (!extent || write_rule_ == WriteRule::NoWriteCommand) {
    return UnitBase::complete_data_out(cdb, data);
  }
  if (auto sense = not_ready()) return fail_data_out(*sense, 0);
  if (write_protected()) {
    return fail_data_out(Sense::of(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED), 0);
  }
  if (auto sense = out_of_range(*extent)) return fail_data_out(*sense, 0);

  // Only whole blocks are written; extra bytes beyond the command are ignored.
  const std::uint64_t expected_bytes = std::uint64_t{extent->blocks} * block_bytes_;
  const std::uint64_t usable_bytes = std::min<std::uint64_t>(data.size(), expected_bytes);
  const std::uint32_t whole_blocks = static_cast<std::uint32_t>(usable_bytes / block_bytes_);
  std::string error;
  if (whole_blocks > 0 &&
      !image_->write(extent->lba, data.first(std::size_t{whole_blocks} * block_bytes_), error)) {
    return fail_data_out(
        with_information(Sense::of(sk::MEDIUM_ERROR, scsi::asc::WRITE_ERROR), extent->lba),
        transfer_ns(whole_blocks));
  }
  head_lba_ = extent->lba + whole_blocks;
  const TimeNs latency_ns = transfer_ns(whole_blocks);
  if (whole_blocks < extent->blocks) {
    // The initiator stopped early: the information field is the residue in blocks.
    return fail_data_out(
        with_information(Sense::of(sk::ABORTED_COMMAND, scsi::asc::DATA_PHASE_ERROR),
                         extent->blocks - whole_blocks),
        latency_ns);
  }
  return DataOutResult{scsi::status::GOOD, latency_ns};
}

CommandOutcome Disk::verify(std::span<const std::uint8_t> cdb) {
  const bool byte_check = cdb[1] & 0x02;
  if (cdb[1] & 0x01) return invalid_field();  // RelAdr needs linked commands
  if (auto sense = not_ready()) return fail(*sense);
  const Extent extent{be32(cdb, 2), be16(cdb, 7)};
  if (extent.blocks == 0) return good(timings().command_latency_ns);
  if (auto sense = out_of_range(extent)) return fail(*sense);
  if (byte_check && too_large(extent)) return invalid_field();
  const TimeNs seek_time_ns = seek_ns(head_lba_, extent.lba);
  if (byte_check) {
    // The blocks to compare with come as Data Out; the medium is read after.
    head_lba_ = extent.lba;
    return data_out(extent.blocks * block_bytes_, block_bytes_,
                    timings().command_latency_ns + seek_time_ns);
  }
  head_lba_ = extent.lba + extent.blocks;
  return good(timings().command_latency_ns + seek_time_ns + transfer_ns(extent.blocks));
}

DataOutResult Disk::compare_data_out(const Extent& extent, std::span<const std::uint8_t> data) {
  const std::uint32_t whole_blocks = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(data.size() / block_bytes_, extent.blocks));
  std::vector<std::uint8_t> block(block_bytes_);
  std::string error;
  for (std::uint32_t i = 0; i < whole_blocks; ++i) {
    const std::uint64_t lba = extent.lba + i;
    const TimeNs so_far_ns = transfer_ns(i + 1);
    if (!image_->read(lba, block, error)) {
      return fail_data_out(
          with_information(Sense::of(sk::MEDIUM_ERROR, scsi::asc::UNRECOVERED_READ_ERROR), lba),
          so_far_ns);
    }
    if (!std::equal(block.begin(), block.end(), data.begin() + std::size_t{i} * block_bytes_)) {
      head_lba_ = lba + 1;
      // The information field names the first block that differs.
      return fail_data_out(
          with_information(Sense::of(sk::MISCOMPARE, scsi::asc::MISCOMPARE_DURING_VERIFY), lba),
          so_far_ns);
    }
  }
  head_lba_ = extent.lba + whole_blocks;
  if (whole_blocks < extent.blocks) {
    return fail_data_out(
        with_information(Sense::of(sk::ABORTED_COMMAND, scsi::asc::DATA_PHASE_ERROR),
                         extent.blocks - whole_blocks),
        transfer_ns(whole_blocks));
  }
  return DataOutResult{scsi::status::GOOD, transfer_ns(whole_blocks)};
}

CommandOutcome Disk::read_capacity(std::span<const std::uint8_t> cdb) {
  const bool relative = cdb[1] & 0x01;
  const bool partial_medium = cdb[8] & 0x01;
  if (relative || (!partial_medium && be32(cdb, 2) != 0)) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  // With PMI the answer is still the last block: the medium has no zones.
  std::vector<std::uint8_t> out(8, 0);
  const std::uint64_t last_lba = capacity_blocks() - 1;
  put_be32(out, 0, static_cast<std::uint32_t>(std::min<std::uint64_t>(last_lba, 0xFFFFFFFF)));
  put_be32(out, 4, block_bytes_);
  return data_in(std::move(out), 8, timings().command_latency_ns);
}

CommandOutcome Disk::start_stop_unit(std::span<const std::uint8_t> cdb) {
  const bool start = cdb[4] & 0x01;
  const bool load_eject = cdb[4] & 0x02;
  if (cdb[4] & 0xFC) return invalid_field();
  if (load_eject && !removable()) return invalid_field();
  if (load_eject && !start) {
    if (removal_prevented_) {
      return fail(sk::ILLEGAL_REQUEST, scsi::asc::MEDIUM_REMOVAL_PREVENTED);
    }
    medium_present_ = false;
    spinning_ = false;
    return good(timings().command_latency_ns + timings().seek_max_ns);
  }
  if (load_eject && start) {
    // Loading brings back the medium the drive was given, if any.
    if (!image_) return fail(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT);
    medium_present_ = true;
    head_lba_ = 0;
  }
  if (start && !medium_present_) return fail(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT);
  const bool spin_up = start && !spinning_;
  spinning_ = start;
  return good(timings().command_latency_ns + (spin_up ? timings().seek_max_ns : 0));
}

CommandOutcome Disk::prevent_allow(std::span<const std::uint8_t> cdb) {
  if (cdb[4] & 0xFE) return invalid_field();
  removal_prevented_ = (cdb[4] & 0x01) && removable();
  return good(timings().command_latency_ns);
}

CommandOutcome Disk::synchronize_cache(std::span<const std::uint8_t> cdb) {
  if (cdb[1] & 0x01) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  Extent extent{be32(cdb, 2), be16(cdb, 7)};
  // A length of 0 means from the address to the end of the medium.
  if (extent.blocks == 0 && extent.lba < capacity_blocks()) {
    extent.blocks = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(capacity_blocks() - extent.lba, 0xFFFFFFFF));
  }
  if (auto sense = out_of_range(extent)) return fail(*sense);
  std::string error;
  if (!image_->flush(error)) return fail(sk::MEDIUM_ERROR, scsi::asc::WRITE_ERROR);
  return good(timings().command_latency_ns);
}

ModeParameters Disk::mode_parameters() const {
  ModeParameters parameters;
  parameters.device_specific = write_protected() ? 0x80 : 0x00;
  parameters.block_count =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(capacity_blocks(), 0xFFFFFF));
  parameters.block_length = block_bytes_;

  ModePage error_recovery{0x01, std::vector<std::uint8_t>(10, 0), std::vector<std::uint8_t>(10, 0)};
  error_recovery.current[1] = 1;  // read retry count
  error_recovery.current[6] = 1;  // write retry count

  ModePage format{0x03, std::vector<std::uint8_t>(22, 0), std::vector<std::uint8_t>(22, 0)};
  format.current[1] = 1;  // tracks per zone
  put_be16(format.current, 8, kSectorsPerTrack);
  put_be16(format.current, 10, block_bytes_);
  put_be16(format.current, 12, 1);                          // interleave
  format.current[18] = 0x40 | (removable() ? 0x20 : 0x00);  // HSEC, RMB

  const std::uint64_t cylinders =
      (capacity_blocks() + kHeads * kSectorsPerTrack - 1) / (kHeads * kSectorsPerTrack);
  ModePage geometry{0x04, std::vector<std::uint8_t>(22, 0), std::vector<std::uint8_t>(22, 0)};
  put_be24(geometry.current, 0,
           static_cast<std::uint32_t>(std::min<std::uint64_t>(cylinders, 0xFFFFFF)));
  geometry.current[3] = kHeads;
  put_be16(geometry.current, 18, kRotationRpm);

  // No cache in front of the image: writes go straight through.
  ModePage caching{0x08, std::vector<std::uint8_t>(10, 0), std::vector<std::uint8_t>(10, 0)};

  parameters.pages = {error_recovery, format, geometry, caching};
  return parameters;
}

}  // namespace qzr::hw
