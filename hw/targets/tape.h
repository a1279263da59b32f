// A sequential-access unit (type 1): a tape of 512-byte records and
// filemarks, kept in a tape image file.
//
// Tape image format (little-endian):
//   header, 16 bytes: "QZRTAPE1", record size (uint32, 512), reserved (uint32, 0)
//   then one 520-byte slot per record, in tape order:
//     kind (4 bytes): "DATA" or "FMRK"
//     payload (512 bytes; zero for a filemark)
//     CRC-32 of kind and payload (uint32)
// Writing at a position truncates the file at that slot and appends, so the
// file is only ever cut or extended at its end. A crash mid-append leaves a
// partial slot, and a damaged slot fails its CRC: loading reports either with
// the file and record named, never silently.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hw/targets/unit_base.h"

namespace qzr::hw {

class TapeImage {
 public:
  static constexpr std::uint32_t kBlockBytes = 512;
  enum class Access : std::uint8_t { ReadWrite, ReadOnly };

  // A new, blank tape. Fails if the file exists.
  static std::optional<TapeImage> create(const std::string& path, std::string& error);
  // An existing tape, every record checked.
  static std::optional<TapeImage> open(const std::string& path, Access access, std::string& error);

  TapeImage(TapeImage&& other) noexcept;
  TapeImage& operator=(TapeImage&& other) noexcept;
  TapeImage(const TapeImage&) = delete;
  TapeImage& operator=(const TapeImage&) = delete;
  ~TapeImage();

  std::size_t record_count() const { return filemarks_.size(); }
  bool is_filemark(std::size_t record) const { return filemarks_[record]; }
  bool read_only() const { return read_only_; }
  const std::string& path() const { return path_; }

  // The payload of data record `record` into `out` (kBlockBytes).
  bool read_block(std::size_t record, std::span<std::uint8_t> out, std::string& error) const;
  // Drops every record from `record` on.
  bool truncate(std::size_t record, std::string& error);
  // Appends data records (a whole number of blocks) or filemarks.
  bool append_blocks(std::span<const std::uint8_t> data, std::string& error);
  bool append_filemarks(std::size_t count, std::string& error);

 private:
  TapeImage(int fd, std::string path, std::vector<bool> filemarks, bool read_only);
  bool append_slots(const std::vector<std::uint8_t>& slots, std::string& error);

  int fd_ = -1;
  std::string path_;
  std::vector<bool> filemarks_;  // one entry per record: true for a filemark
  bool read_only_ = false;
};

class Tape : public UnitBase {
 public:
  // `capacity_records` bounds what fits on the tape (0: no bound).
  Tape(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
       std::optional<TapeImage> image, bool medium_present, std::uint64_t capacity_records);

  DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) override;

  bool medium_present() const { return medium_present_; }
  bool removal_prevented() const { return removal_prevented_; }
  std::size_t position() const { return position_; }
  const TapeImage* image() const { return image_ ? &*image_ : nullptr; }

 protected:
  CommandOutcome execute_command(std::span<const std::uint8_t> cdb) override;
  // A reset lifts PREVENT MEDIUM REMOVAL; the tape stays where it is.
  void on_reset() override { removal_prevented_ = false; }

 private:
  std::optional<Sense> not_ready() const;
  bool write_protected() const { return image_ && image_->read_only(); }
  // Room left before the end of the medium, in records.
  std::uint64_t room_records() const;
  // Moves the head to `record`, returning the time it takes.
  TimeNs move_to(std::size_t record);

  CommandOutcome read(std::span<const std::uint8_t> cdb);
  CommandOutcome write(std::span<const std::uint8_t> cdb);
  CommandOutcome write_filemarks(std::span<const std::uint8_t> cdb);
  CommandOutcome space(std::span<const std::uint8_t> cdb);
  CommandOutcome rewind();
  CommandOutcome read_block_limits();
  CommandOutcome load_unload(std::span<const std::uint8_t> cdb);
  CommandOutcome prevent_allow(std::span<const std::uint8_t> cdb);
  CommandOutcome mode_sense(std::span<const std::uint8_t> cdb);

  std::optional<TapeImage> image_;
  bool medium_present_;
  bool removal_prevented_ = false;
  std::size_t position_ = 0;  // records before the head: 0 is the beginning of the tape
  std::uint64_t capacity_records_;
};

}  // namespace qzr::hw
