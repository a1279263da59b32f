// A direct-access unit: a fixed or removable disk (type 0) or an optical
// memory drive (type 7), backed by a BlockImage. CD-ROM and write-once drives
// (cdrom.h) reuse it with their own write rule and mode pages.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "hw/targets/block_image.h"
#include "hw/targets/unit_base.h"

namespace qzr::hw {

// What WRITE (6)/(10) meet.
enum class WriteRule : std::uint8_t {
  Allowed,         // written to the image (DATA PROTECT if the image is read-only)
  NoWriteCommand,  // the device has no WRITE: INVALID COMMAND OPERATION CODE
  Protected,       // DATA PROTECT / WRITE PROTECTED
};

class Disk : public UnitBase {
 public:
  // `image` may be absent for a removable drive with nothing loaded; removable
  // or not comes from the identity's RMB bit.
  Disk(std::uint8_t device_type, Identity identity, UnitTimings timings,
       bool unit_attention_on_reset, std::optional<BlockImage> image, bool medium_present);

  DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) override;

  bool removable() const { return identity().removable; }
  bool medium_present() const { return medium_present_; }
  bool removal_prevented() const { return removal_prevented_; }
  bool spinning() const { return spinning_; }
  const BlockImage* image() const { return image_ ? &*image_ : nullptr; }
  std::uint32_t block_bytes() const { return block_bytes_; }

  // The operator's hand at the drive: put a medium in (the next command gets
  // a NOT READY TO READY unit attention), or take it out (a drive whose
  // removal is prevented keeps it, and this returns false).
  void insert_medium(BlockImage image);
  bool eject_medium();

 protected:
  Disk(std::uint8_t device_type, Identity identity, UnitTimings timings,
       bool unit_attention_on_reset, std::optional<BlockImage> image, bool medium_present,
       WriteRule write_rule, std::uint32_t default_block_bytes);

  CommandOutcome execute_command(std::span<const std::uint8_t> cdb) override;
  void on_reset() override;

  // The pages and header MODE SENSE reports; devices with other pages override.
  virtual ModeParameters mode_parameters() const;
  std::uint64_t capacity_blocks() const { return medium_present_ ? image_->block_count() : 0; }
  bool write_protected() const;

 private:
  struct Extent {
    std::uint64_t lba = 0;
    std::uint32_t blocks = 0;
  };

  // NOT READY sense when the medium cannot be accessed, nothing otherwise.
  std::optional<Sense> not_ready() const;
  std::optional<Sense> out_of_range(const Extent& extent) const;
  // READ/WRITE/VERIFY (6) and (10) addressing; nullopt for an invalid field.
  static std::optional<Extent> extent_of(std::span<const std::uint8_t> cdb);
  bool too_large(const Extent& extent) const {
    return std::uint64_t{extent.blocks} * block_bytes_ > kMaxTransferBytes;
  }
  DataOutResult compare_data_out(const Extent& extent, std::span<const std::uint8_t> data);

  CommandOutcome read(std::span<const std::uint8_t> cdb);
  CommandOutcome write(std::span<const std::uint8_t> cdb);
  CommandOutcome verify(std::span<const std::uint8_t> cdb);
  CommandOutcome read_capacity(std::span<const std::uint8_t> cdb);
  CommandOutcome start_stop_unit(std::span<const std::uint8_t> cdb);
  CommandOutcome prevent_allow(std::span<const std::uint8_t> cdb);
  CommandOutcome synchronize_cache(std::span<const std::uint8_t> cdb);
  CommandOutcome test_unit_ready();

  WriteRule write_rule_;
  std::uint32_t block_bytes_;
  std::optional<BlockImage> image_;
  bool medium_present_;
  bool spinning_ = true;
  bool removal_prevented_ = false;
  std::uint64_t head_lba_ = 0;  // where the last access ended, for the seek model
};

}  // namespace qzr::hw
