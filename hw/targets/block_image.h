// A file of fixed-size blocks backing a block device. New images are sparse
// (ftruncate), so a large disk costs only what is written. Every failure
// comes back as a one-line message naming the file; nothing throws.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qzr::hw {

class BlockImage {
 public:
  enum class Access : std::uint8_t { ReadWrite, ReadOnly };

  // A new image of `block_count` blocks, all zero. Fails if the file exists.
  static std::optional<BlockImage> create(const std::string& path, std::uint32_t block_bytes,
                                          std::uint64_t block_count, std::string& error);
  // An existing image: its size must be a non-zero multiple of `block_bytes`.
  static std::optional<BlockImage> open(const std::string& path, std::uint32_t block_bytes,
                                        Access access, std::string& error);

  BlockImage(BlockImage&& other) noexcept;
  BlockImage& operator=(BlockImage&& other) noexcept;
  BlockImage(const BlockImage&) = delete;
  BlockImage& operator=(const BlockImage&) = delete;
  ~BlockImage();

  // `out` / `data` hold whole blocks; their size sets the count.
  bool read(std::uint64_t lba, std::span<std::uint8_t> out, std::string& error) const;
  bool write(std::uint64_t lba, std::span<const std::uint8_t> data, std::string& error);
  bool flush(std::string& error);

  const std::string& path() const { return path_; }
  std::uint32_t block_bytes() const { return block_bytes_; }
  std::uint64_t block_count() const { return block_count_; }
  bool read_only() const { return read_only_; }

 private:
  BlockImage(int fd, std::string path, std::uint32_t block_bytes, std::uint64_t block_count,
             bool read_only);
  bool check_range(std::uint64_t lba, std::size_t bytes, std::string& error) const;

  int fd_ = -1;
  std::string path_;
  std::uint32_t block_bytes_ = 0;
  std::uint64_t block_count_ = 0;
  bool read_only_ = false;
};

}  // namespace qzr::hw
