#include "hw/targets/tape.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "hw/targets/file_io.h"

namespace qzr::hw {
namespace {

namespace sk = scsi::sense_key;

constexpr std::array<char, 8> kMagic{'Q', 'Z', 'R', 'T', 'A', 'P', 'E', '1'};
constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kKindBytes = 4;
constexpr std::size_t kSlotBytes = kKindBytes + TapeImage::kBlockBytes + 4;
constexpr std::array<char, 4> kDataKind{'D', 'A', 'T', 'A'};
constexpr std::array<char, 4> kFilemarkKind{'F', 'M', 'R', 'K'};

constexpr const char* kKind = "tape image";

std::string describe(const std::string& path, const std::string& what) {
  return image_error(kKind, path, what);
}

std::string system_error(const std::string& path, const char* action) {
  return image_system_error(kKind, path, action);
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

void put_le32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_le32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16) |
         (std::uint32_t{in[3]} << 24);
}

off_t slot_offset(std::size_t record) {
  return static_cast<off_t>(kHeaderBytes + static_cast<std::uint64_t>(record) * kSlotBytes);
}

void fill_slot(std::uint8_t* slot, const std::array<char, 4>& kind,
               std::span<const std::uint8_t> payload) {
  std::memcpy(slot, kind.data(), kKindBytes);
  std::memset(slot + kKindBytes, 0, TapeImage::kBlockBytes);
  if (!payload.empty()) std::memcpy(slot + kKindBytes, payload.data(), TapeImage::kBlockBytes);
  put_le32(slot + kKindBytes + TapeImage::kBlockBytes,
           crc32({slot, kKindBytes + TapeImage::kBlockBytes}));
}

Sense with_information(Sense sense, std::uint64_t information) {
  sense.information_valid = true;
  sense.information = static_cast<std::uint32_t>(std::min<std::uint64_t>(information, 0xFFFFFFFF));
  return sense;
}

Sense filemark_sense(std::uint64_t residue) {
  Sense sense = with_information(Sense::of(sk::NO_SENSE, scsi::asc::FILEMARK_DETECTED), residue);
  sense.filemark = true;
  return sense;
}

Sense end_of_data_sense(std::uint64_t residue) {
  return with_information(Sense::of(sk::BLANK_CHECK, scsi::asc::END_OF_DATA_DETECTED), residue);
}

Sense beginning_of_tape_sense(std::uint64_t residue) {
  Sense sense = with_information(
      Sense::of(sk::NO_SENSE, scsi::asc::BEGINNING_OF_PARTITION_MEDIUM_DETECTED), residue);
  sense.end_of_medium = true;
  return sense;
}

Sense end_of_medium_sense(std::uint64_t residue) {
  Sense sense = with_information(
      Sense::of(sk::VOLUME_OVERFLOW, scsi::asc::END_OF_PARTITION_MEDIUM_DETECTED), residue);
  sense.end_of_medium = true;
  return sense;
}

// 24-bit two's-complement count of SPACE.
std::int32_t signed_count24(std::span<const std::uint8_t> cdb) {
  const std::uint32_t raw = cdb_field::be24(cdb, 2);
  return (raw & 0x800000) ? static_cast<std::int32_t>(raw) - 0x1000000
                          : static_cast<std::int32_t>(raw);
}

}  // namespace

// ---- TapeImage ----

std::optional<TapeImage> TapeImage::create(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error =
        errno == EEXIST ? describe(path, "already exists") : system_error(path, "cannot create");
    return std::nullopt;
  }
  std::array<std::uint8_t, kHeaderBytes> header{};
  std::memcpy(header.data(), kMagic.data(), kMagic.size());
  put_le32(header.data() + 8, kBlockBytes);
  if (!pwrite_fully(fd, header.data(), header.size(), 0)) {
    error = system_error(path, "cannot write its header");
    ::close(fd);
    ::unlink(path.c_str());
    return std::nullopt;
  }
  return TapeImage(fd, path, {}, false);
}

std::optional<TapeImage> TapeImage::open(const std::string& path, Access access,
                                         std::string& error) {
  const bool read_only = access == Access::ReadOnly;
  const int fd = open_image_file(kKind, path, read_only, error);
  if (fd < 0) return std::nullopt;
  // The loaded image owns the descriptor from here, so every return closes it.
  TapeImage image(fd, path, {}, read_only);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = system_error(path, "cannot examine");
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    error = describe(path, "not a regular file");
    return std::nullopt;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  std::array<std::uint8_t, kHeaderBytes> header{};
  if (size < kHeaderBytes || !pread_fully(fd, header.data(), header.size(), 0) ||
      std::memcmp(header.data(), kMagic.data(), kMagic.size()) != 0) {
    error = describe(path, "not a tape image (no QZRTAPE1 header)");
    return std::nullopt;
  }
  if (get_le32(header.data() + 8) != kBlockBytes) {
    error = describe(path, "record size " + std::to_string(get_le32(header.data() + 8)) +
                               " is not " + std::to_string(kBlockBytes));
    return std::nullopt;
  }
  const std::uint64_t body = size - kHeaderBytes;
  if (body % kSlotBytes != 0) {
    error = describe(path, "truncated after record " + std::to_string(body / kSlotBytes) + " (" +
                               std::to_string(body % kSlotBytes) + " stray bytes at the end)");
    return std::nullopt;
  }
  const std::uint64_t records = body / kSlotBytes;
  std::vector<std::uint8_t> slot(kSlotBytes);
  image.filemarks_.reserve(static_cast<std::size_t>(records));
  for (std::uint64_t record = 0; record < records; ++record) {
    if (!pread_fully(fd, slot.data(), slot.size(), slot_offset(static_cast<std::size_t>(record)))) {
      error = system_error(path, "read failed");
      return std::nullopt;
    }
    const bool data = std::memcmp(slot.data(), kDataKind.data(), kKindBytes) == 0;
    const bool filemark = std::memcmp(slot.data(), kFilemarkKind.data(), kKindBytes) == 0;
    const std::uint32_t stored = get_le32(slot.data() + kKindBytes + kBlockBytes);
    if ((!data && !filemark) || stored != crc32({slot.data(), kKindBytes + kBlockBytes})) {
      error = describe(path, "record " + std::to_string(record) + " is damaged");
      return std::nullopt;
    }
    image.filemarks_.push_back(filemark);
  }
  return image;
}

TapeImage::TapeImage(int fd, std::string path, std::vector<bool> filemarks, bool read_only)
    : fd_(fd), path_(std::move(path)), filemarks_(std::move(filemarks)), read_only_(read_only) {}

TapeImage::TapeImage(TapeImage&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      filemarks_(std::move(other.filemarks_)),
      read_only_(other.read_only_) {}

TapeImage& TapeImage::operator=(TapeImage&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    filemarks_ = std::move(other.filemarks_);
    read_only_ = other.read_only_;
  }
  return *this;
}

TapeImage::~TapeImage() {
  if (fd_ >= 0) ::close(fd_);
}

bool TapeImage::read_block(std::size_t record, std::span<std::uint8_t> out,
                           std::string& error) const {
  if (record >= record_count() || filemarks_[record] || out.size() != kBlockBytes) {
    error = describe(path_, "record " + std::to_string(record) + " is not a data record");
    return false;
  }
  if (!pread_fully(fd_, out.data(), kBlockBytes, slot_offset(record) + kKindBytes)) {
    error = system_error(path_, "read failed");
    return false;
  }
  return true;
}

bool TapeImage::truncate(std::size_t record, std::string& error) {
  if (record >= record_count()) return true;
  if (read_only_) {
    error = describe(path_, "opened read-only");
    return false;
  }
  if (::ftruncate(fd_, slot_offset(record)) != 0) {
    error = system_error(path_, "cannot truncate");
    return false;
  }
  filemarks_.resize(record);
  return true;
}

bool TapeImage::append_slots(const std::vector<std::uint8_t>& slots, std::string& error) {
  if (read_only_) {
    error = describe(path_, "opened read-only");
    return false;
  }
  if (!pwrite_fully(fd_, slots.data(), slots.size(), slot_offset(record_count()))) {
    error = system_error(path_, "write failed");
    // Cut back whatever part of a slot made it, so the file stays loadable.
    if (::ftruncate(fd_, slot_offset(record_count())) != 0) error += " (and cannot truncate)";
    return false;
  }
  return true;
}

bool TapeImage::append_blocks(std::span<const std::uint8_t> data, std::string& error) {
  const std::size_t records = data.size() / kBlockBytes;
  std::vector<std::uint8_t> slots(records * kSlotBytes);
  for (std::size_t i = 0; i < records; ++i) {
    fill_slot(slots.data() + i * kSlotBytes, kDataKind, data.subspan(i * kBlockBytes, kBlockBytes));
  }
  if (!append_slots(slots, error)) return false;
  filemarks_.insert(filemarks_.end(), records, false);
  return true;
}

bool TapeImage::append_filemarks(std::size_t count, std::string& error) {
  std::vector<std::uint8_t> slots(count * kSlotBytes);
  for (std::size_t i = 0; i < count; ++i)
    fill_slot(slots.data() + i * kSlotBytes, kFilemarkKind, {});
  if (!append_slots(slots, error)) return false;
  filemarks_.insert(filemarks_.end(), count, true);
  return true;
}

// ---- Tape ----

Tape::Tape(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
           std::optional<TapeImage> image, bool medium_present, std::uint64_t capacity_records)
    : UnitBase(
          scsi::device_type::SEQUENTIAL_ACCESS,
          [&] {
            identity.removable = true;
            return std::move(identity);
          }(),
          timings, unit_attention_on_reset),
      image_(std::move(image)),
      medium_present_(image_.has_value() && medium_present),
      capacity_records_(capacity_records) {}

std::optional<Sense> Tape::not_ready() const {
  if (!medium_present_) return Sense::of(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT);
  return std::nullopt;
}

std::uint64_t Tape::room_records() const {
  if (capacity_records_ == 0) return UINT64_MAX;
  return capacity_records_ > position_ ? capacity_records_ - position_ : 0;
}

TimeNs Tape::move_to(std::size_t record) {
  const TimeNs travel_ns = seek_ns(position_, record);
  position_ = record;
  return travel_ns;
}

CommandOutcome Tape::execute_command(std::span<const std::uint8_t> cdb) {
  switch (cdb[0]) {
    case scsi::op::TEST_UNIT_READY:
      if (auto sense = not_ready()) return fail(*sense);
      return good(timings().command_latency_ns);
    case scsi::op::REWIND:
      return rewind();
    case scsi::op::READ_BLOCK_LIMITS:
      return read_block_limits();
    case scsi::op::READ_6:
      return read(cdb);
    case scsi::op::WRITE_6:
      return write(cdb);
    case scsi::op::WRITE_FILEMARKS:
      return write_filemarks(cdb);
    case scsi::op::SPACE:
      return space(cdb);
    case scsi::op::MODE_SENSE_6:
      return mode_sense(cdb);
    case scsi::op::LOAD_UNLOAD:
      return load_unload(cdb);
    case scsi::op::PREVENT_ALLOW_MEDIUM_REMOVAL:
      return prevent_allow(cdb);
    default:
      return invalid_opcode();
  }
}

CommandOutcome Tape::rewind() {
  if (auto sense = not_ready()) return fail(*sense);
  return good(timings().command_latency_ns + move_to(0));
}

CommandOutcome Tape::read_block_limits() {
  // Fixed 512-byte records only: the largest and the smallest are the same.
  std::vector<std::uint8_t> out(6, 0);
  put_be24(out, 1, TapeImage::kBlockBytes);
  put_be16(out, 4, TapeImage::kBlockBytes);
  return data_in(std::move(out), 6, timings().command_latency_ns);
}

CommandOutcome Tape::read(std::span<const std::uint8_t> cdb) {
  const bool fixed = cdb[1] & 0x01;
  const bool suppress_length_error = cdb[1] & 0x02;
  if (!fixed || suppress_length_error || (cdb[1] & 0xFC)) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  const std::uint32_t count = cdb_field::be24(cdb, 2);
  if (count == 0) return good(timings().command_latency_ns);
  if (std::uint64_t{count} * TapeImage::kBlockBytes > kMaxTransferBytes) return invalid_field();

  std::vector<std::uint8_t> bytes;
  std::optional<Sense> stop;
  std::uint32_t done = 0;
  std::string error;
  // Bounded by `count` and by the records on the tape.
  for (; done < count; ++done) {
    if (position_ >= image_->record_count()) {
      stop = end_of_data_sense(count - done);
      break;
    }
    if (image_->is_filemark(position_)) {
      ++position_;  // the head ends up past the filemark it read
      stop = filemark_sense(count - done);
      break;
    }
    bytes.resize(bytes.size() + TapeImage::kBlockBytes);
    if (!image_->read_block(position_, std::span(bytes).last(TapeImage::kBlockBytes), error)) {
      bytes.resize(bytes.size() - TapeImage::kBlockBytes);
      stop = with_information(Sense::of(sk::MEDIUM_ERROR, scsi::asc::UNRECOVERED_READ_ERROR),
                              count - done);
      break;
    }
    ++position_;
  }
  const TimeNs latency_ns = timings().command_latency_ns + transfer_ns(done);
  const std::size_t size = bytes.size();
  CommandOutcome outcome = data_in(std::move(bytes), size, latency_ns, TapeImage::kBlockBytes);
  if (stop) {
    // What was read still goes to the initiator, ahead of the CHECK CONDITION.
    CommandOutcome failed = fail(*stop);
    failed.direction = outcome.direction;
    failed.data_in = std::move(outcome.data_in);
    failed.block_bytes = outcome.block_bytes;
    failed.latency_ns = latency_ns;
    return failed;
  }
  return outcome;
}

CommandOutcome Tape::write(std::span<const std::uint8_t> cdb) {
  const bool fixed = cdb[1] & 0x01;
  if (!fixed || (cdb[1] & 0xFE)) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  if (write_protected()) return fail(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED);
  const std::uint32_t count = cdb_field::be24(cdb, 2);
  if (count == 0) return good(timings().command_latency_ns);
  if (std::uint64_t{count} * TapeImage::kBlockBytes > kMaxTransferBytes) return invalid_field();
  return data_out(count * TapeImage::kBlockBytes, TapeImage::kBlockBytes,
                  timings().command_latency_ns);
}

DataOutResult Tape::complete_data_out(std::span<const std::uint8_t> cdb,
                                      std::span<const std::uint8_t> data) {
  if (cdb.size() < 6 || cdb[0] != scsi::op::WRITE_6 || !(cdb[1] & 0x01)) {
    return UnitBase::complete_data_out(cdb, data);
  }
  if (auto sense = not_ready()) return fail_data_out(*sense, 0);
  if (write_protected()) {
    return fail_data_out(Sense::of(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED), 0);
  }
  const std::uint32_t count = cdb_field::be24(cdb, 2);
  const std::uint64_t received =
      std::min<std::uint64_t>(data.size() / TapeImage::kBlockBytes, count);
  const std::uint64_t written = std::min(received, room_records());
  std::string error;
  // Writing anywhere ends the tape there: what followed is gone.
  if (!image_->truncate(position_, error) ||
      !image_->append_blocks(data.first(static_cast<std::size_t>(written) * TapeImage::kBlockBytes),
                             error)) {
    return fail_data_out(
        with_information(Sense::of(sk::MEDIUM_ERROR, scsi::asc::WRITE_ERROR), count), 0);
  }
  position_ += static_cast<std::size_t>(written);
  const TimeNs latency_ns = transfer_ns(written);
  if (written < received) return fail_data_out(end_of_medium_sense(count - written), latency_ns);
  if (written < count) {
    return fail_data_out(
        with_information(Sense::of(sk::ABORTED_COMMAND, scsi::asc::DATA_PHASE_ERROR),
                         count - written),
        latency_ns);
  }
  return DataOutResult{scsi::status::GOOD, latency_ns};
}

CommandOutcome Tape::write_filemarks(std::span<const std::uint8_t> cdb) {
  const bool setmarks = cdb[1] & 0x02;
  if (setmarks || (cdb[1] & 0xFC)) return invalid_field();
  if (auto sense = not_ready()) return fail(*sense);
  if (write_protected()) return fail(sk::DATA_PROTECT, scsi::asc::WRITE_PROTECTED);
  const std::uint32_t count = cdb_field::be24(cdb, 2);
  // A count of 0 only flushes buffered data, and nothing is buffered here.
  if (count == 0) return good(timings().command_latency_ns);
  const std::uint64_t written = std::min<std::uint64_t>(count, room_records());
  std::string error;
  if (!image_->truncate(position_, error) ||
      !image_->append_filemarks(static_cast<std::size_t>(written), error)) {
    return fail(with_information(Sense::of(sk::MEDIUM_ERROR, scsi::asc::WRITE_ERROR), count));
  }
  position_ += static_cast<std::size_t>(written);
  if (written < count) return fail(end_of_medium_sense(count - written));
  return good(timings().command_latency_ns + transfer_ns(written));
}

CommandOutcome Tape::space(std::span<const std::uint8_t> cdb) {
  constexpr std::uint8_t kBlocks = 0, kFilemarks = 1, kEndOfData = 3;
  const std::uint8_t code = cdb[1] & 0x07;
  if ((cdb[1] & 0xF8) || (code != kBlocks && code != kFilemarks && code != kEndOfData)) {
    return invalid_field();
  }
  if (auto sense = not_ready()) return fail(*sense);
  const std::size_t start = position_;
  const std::size_t end = image_->record_count();
  const auto finish = [&](std::optional<Sense> stop) {
    const std::size_t reached = position_;
    position_ = start;
    const TimeNs latency_ns = timings().command_latency_ns + move_to(reached);
    if (!stop) return good(latency_ns);
    CommandOutcome failed = fail(*stop);
    failed.latency_ns = latency_ns;
    return failed;
  };

  if (code == kEndOfData) {
    position_ = end;
    return finish(std::nullopt);
  }
  const std::int32_t count = signed_count24(cdb);
  const std::uint32_t wanted = static_cast<std::uint32_t>(count < 0 ? -count : count);
  std::uint32_t done = 0;
  // Each pass moves one record, so the loops are bounded by the tape's length.
  if (count > 0) {
    while (done < wanted) {
      if (position_ >= end) return finish(end_of_data_sense(wanted - done));
      const bool filemark = image_->is_filemark(position_++);
      if (code == kBlocks && filemark) return finish(filemark_sense(wanted - done));
      if (code == kBlocks || filemark) ++done;
    }
  } else {
    while (done < wanted) {
      if (position_ == 0) return finish(beginning_of_tape_sense(wanted - done));
      // Backwards, the head stops on the beginning side of a filemark.
      const bool filemark = image_->is_filemark(--position_);
      if (code == kBlocks && filemark) return finish(filemark_sense(wanted - done));
      if (code == kBlocks || filemark) ++done;
    }
  }
  return finish(std::nullopt);
}

CommandOutcome Tape::load_unload(std::span<const std::uint8_t> cdb) {
  const bool load = cdb[4] & 0x01;
  const bool end_of_tape = cdb[4] & 0x04;
  if (end_of_tape || (cdb[4] & 0xF8)) return invalid_field();  // retension (bit 1) is a no-op
  if (!load) {
    if (removal_prevented_) return fail(sk::ILLEGAL_REQUEST, scsi::asc::MEDIUM_REMOVAL_PREVENTED);
    const TimeNs latency_ns = timings().command_latency_ns + move_to(0);
    medium_present_ = false;
    return good(latency_ns);
  }
  if (!image_) return fail(sk::NOT_READY, scsi::asc::MEDIUM_NOT_PRESENT);
  medium_present_ = true;
  return good(timings().command_latency_ns + move_to(0));
}

CommandOutcome Tape::prevent_allow(std::span<const std::uint8_t> cdb) {
  if (cdb[4] & 0xFE) return invalid_field();
  removal_prevented_ = cdb[4] & 0x01;
  return good(timings().command_latency_ns);
}

CommandOutcome Tape::mode_sense(std::span<const std::uint8_t> cdb) {
  ModeParameters parameters;
  parameters.device_specific = write_protected() ? 0x80 : 0x00;
  parameters.block_count = 0;  // the rest of the tape is not counted in blocks
  parameters.block_length = TapeImage::kBlockBytes;
  // Device configuration page: no buffering, no compression, nothing changeable.
  parameters.pages = {
      ModePage{0x10, std::vector<std::uint8_t>(14, 0), std::vector<std::uint8_t>(14, 0)}};
  return mode_sense_6(cdb, parameters);
}

}  // namespace qzr::hw
