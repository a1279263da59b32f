#include "hw/targets/unit_base.h"

#include <algorithm>
#include <string>

namespace qzr::hw {
namespace {

constexpr std::size_t kInquiryBytes = 36;
constexpr std::uint8_t kControlLinkBits = 0x03;  // Flag and Link: linked commands are not supported

void put_padded(std::vector<std::uint8_t>& out, std::size_t at, const std::string& text,
                std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    out[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  }
}

}  // namespace

void put_be16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 8);
  out[at + 1] = static_cast<std::uint8_t>(value);
}

void put_be24(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 16);
  put_be16(out, at + 1, value);
}

void put_be32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 24);
  put_be24(out, at + 1, value);
}

UnitBase::UnitBase(std::uint8_t device_type, Identity identity, UnitTimings timings,
                   bool unit_attention_on_reset)
    : device_type_(device_type),
      identity_(std::move(identity)),
      timings_(timings),
      unit_attention_on_reset_(unit_attention_on_reset),
      unit_attention_(unit_attention_on_reset
                          ? std::optional(scsi::asc::POWER_ON_RESET_OR_BUS_DEVICE_RESET)
                          : std::nullopt) {}

CommandOutcome UnitBase::execute(std::span<const std::uint8_t> cdb) {
  if (cdb.empty())
    return fail(scsi::sense_key::ILLEGAL_REQUEST, scsi::asc::INVALID_COMMAND_OPERATION_CODE);
  const std::uint8_t opcode = cdb[0];
  if (opcode == scsi::op::REQUEST_SENSE) return request_sense(cdb);

  // Any other command ends the contingent allegiance: the old sense is gone.
  sense_ = Sense{};
  const std::size_t length = scsi::command_length(opcode);
  if (cdb.size() < length) return invalid_field();
  if (cdb[length - 1] & kControlLinkBits) return invalid_field();
  if (opcode == scsi::op::INQUIRY) return inquiry(cdb);
  if (unit_attention_) {
    const scsi::Asc code = *unit_attention_;
    unit_attention_.reset();
    return fail(scsi::sense_key::UNIT_ATTENTION, code);
  }
  return execute_command(cdb.first(length));
}

DataOutResult UnitBase::complete_data_out(std::span<const std::uint8_t>,
                                          std::span<const std::uint8_t>) {
  // Only reached if a device asked for Data Out without handling it.
  return fail_data_out(
      Sense::of(scsi::sense_key::ILLEGAL_REQUEST, scsi::asc::INVALID_COMMAND_OPERATION_CODE), 0);
}

void UnitBase::reset() {
  if (unit_attention_on_reset_) unit_attention_ = scsi::asc::POWER_ON_RESET_OR_BUS_DEVICE_RESET;
  on_reset();
}

CommandOutcome UnitBase::inquiry(std::span<const std::uint8_t> cdb) {
  const bool evpd = cdb[1] & 0x01;
  if (evpd || cdb[2] != 0) return invalid_field();  // no vital product data pages
  std::vector<std::uint8_t> out(kInquiryBytes, 0);
  out[0] = device_type_ & 0x1F;  // qualifier 0: the unit is here
  out[1] = identity_.removable ? 0x80 : 0x00;
  out[2] = identity_.ansi_version & 0x07;
  out[3] = identity_.response_format & 0x0F;
  out[4] = static_cast<std::uint8_t>(kInquiryBytes - 5);
  out[7] = identity_.capabilities;
  put_padded(out, 8, identity_.vendor, 8);
  put_padded(out, 16, identity_.product, 16);
  put_padded(out, 32, identity_.revision, 4);
  return data_in(std::move(out), cdb[4], timings_.command_latency_ns);
}

CommandOutcome UnitBase::request_sense(std::span<const std::uint8_t> cdb) {
  if (cdb.size() < 6 || (cdb[5] & kControlLinkBits)) {
    sense_ = Sense{};
    return invalid_field();
  }
  Sense reported = sense_;
  // With nothing else to report, a pending unit attention is reported and
  // cleared here; kept sense takes precedence and the attention stays.
  if (!reported.is_error() && unit_attention_) {
    reported = Sense::of(scsi::sense_key::UNIT_ATTENTION, *unit_attention_);
    unit_attention_.reset();
  }
  sense_ = Sense{};
  // SCSI-2 REQUEST SENSE: an allocation length of zero asks for four bytes.
  const std::size_t allocation_length = cdb[4] == 0 ? 4 : cdb[4];
  return data_in(reported.bytes(), allocation_length, timings_.command_latency_ns);
}

CommandOutcome UnitBase::fail(const Sense& sense) {
  sense_ = sense;
  CommandOutcome outcome = CommandOutcome::check_condition();
  outcome.latency_ns = timings_.command_latency_ns;
  return outcome;
}

DataOutResult UnitBase::fail_data_out(const Sense& sense, TimeNs latency_ns) {
  sense_ = sense;
  return DataOutResult{scsi::status::CHECK_CONDITION, latency_ns};
}

CommandOutcome UnitBase::invalid_opcode() {
  return fail(scsi::sense_key::ILLEGAL_REQUEST, scsi::asc::INVALID_COMMAND_OPERATION_CODE);
}

CommandOutcome UnitBase::invalid_field() {
  return fail(scsi::sense_key::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB);
}

CommandOutcome UnitBase::data_in(std::vector<std::uint8_t> bytes, std::size_t allocation_length,
                                 TimeNs latency_ns, std::uint32_t block_bytes) const {
  CommandOutcome outcome;
  if (bytes.size() > allocation_length) bytes.resize(allocation_length);
  outcome.direction = bytes.empty() ? DataDirection::None : DataDirection::In;
  outcome.data_in = std::move(bytes);
  outcome.block_bytes = block_bytes;
  outcome.latency_ns = latency_ns;
  return outcome;
}

CommandOutcome UnitBase::good(TimeNs latency_ns) const {
  CommandOutcome outcome;
  outcome.latency_ns = latency_ns;
  return outcome;
}

CommandOutcome UnitBase::data_out(std::uint32_t bytes, std::uint32_t block_bytes,
                                  TimeNs latency_ns) const {
  CommandOutcome outcome;
  outcome.direction = bytes == 0 ? DataDirection::None : DataDirection::Out;
  outcome.data_out_bytes = bytes;
  outcome.block_bytes = block_bytes;
  outcome.latency_ns = latency_ns;
  return outcome;
}

CommandOutcome UnitBase::mode_sense_6(std::span<const std::uint8_t> cdb,
                                      const ModeParameters& parameters) {
  const bool disable_block_descriptors = cdb[1] & 0x08;
  const std::uint8_t page_control = cdb[2] >> 6;
  const std::uint8_t page_code = cdb[2] & 0x3F;
  // Current and default values are the same: MODE SELECT changes nothing here.
  constexpr std::uint8_t kChangeable = 1, kSaved = 3;
  constexpr std::uint8_t kAllPages = 0x3F;
  if (page_control == kSaved) {
    return fail(scsi::sense_key::ILLEGAL_REQUEST, scsi::asc::SAVING_PARAMETERS_NOT_SUPPORTED);
  }

  std::vector<std::uint8_t> out(4, 0);
  out[1] = parameters.medium_type;
  out[2] = parameters.device_specific;
  if (parameters.has_block_descriptor && !disable_block_descriptors) {
    out[3] = 8;
    out.resize(12, 0);
    const std::uint32_t blocks = std::min<std::uint32_t>(parameters.block_count, 0xFFFFFF);
    out[4] = parameters.density_code;
    put_be24(out, 5, blocks);
    put_be24(out, 9, parameters.block_length);
  }

  bool found = false;
  for (const ModePage& page : parameters.pages) {
    if (page_code != kAllPages && page.code != page_code) continue;
    found = true;
    out.push_back(page.code & 0x3F);  // PS 0: nothing is saveable
    out.push_back(static_cast<std::uint8_t>(page.current.size()));
    const auto& body = page_control == kChangeable ? page.changeable : page.current;
    out.insert(out.end(), body.begin(), body.end());
  }
  if (!found && page_code != kAllPages) return invalid_field();
  out[0] = static_cast<std::uint8_t>(std::min<std::size_t>(out.size() - 1, 0xFF));
  return data_in(std::move(out), cdb[4], timings_.command_latency_ns);
}

TimeNs UnitBase::seek_ns(std::uint64_t from_lba, std::uint64_t to_lba) const {
  if (from_lba == to_lba) return 0;
  const std::uint64_t distance = from_lba > to_lba ? from_lba - to_lba : to_lba - from_lba;
  // Saturate before multiplying so a huge distance cannot wrap the product.
  const TimeNs per_block_ns = timings_.seek_ns_per_block;
  const TimeNs travel_ns = per_block_ns != 0 && distance > timings_.seek_max_ns / per_block_ns
                               ? timings_.seek_max_ns
                               : distance * per_block_ns;
  return std::min(timings_.seek_settle_ns + travel_ns, timings_.seek_max_ns);
}

}  // namespace qzr::hw
