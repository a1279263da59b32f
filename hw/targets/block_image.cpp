#include "hw/targets/block_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "hw/targets/file_io.h"

namespace qzr::hw {
namespace {

constexpr const char* kKind = "image";

std::string describe(const std::string& path, const std::string& what) {
  return image_error(kKind, path, what);
}

std::string system_error(const std::string& path, const char* action) {
  return image_system_error(kKind, path, action);
}

bool valid_block_bytes(std::uint32_t block_bytes) {
  return block_bytes >= 256 && block_bytes <= 65536 && (block_bytes & (block_bytes - 1)) == 0;
}

}  // namespace

std::optional<BlockImage> BlockImage::create(const std::string& path, std::uint32_t block_bytes,
                                             std::uint64_t block_count, std::string& error) {
  if (!valid_block_bytes(block_bytes)) {
    error = describe(path, "block size " + std::to_string(block_bytes) +
                               " is not a power of two from 256 to 65536");
    return std::nullopt;
  }
  if (block_count == 0) {
    error = describe(path, "cannot create an image of 0 blocks");
    return std::nullopt;
  }
  const auto max_bytes = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  if (block_count > max_bytes / block_bytes) {
    error = describe(path, std::to_string(block_count) + " blocks is too large for a file");
    return std::nullopt;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error =
        errno == EEXIST ? describe(path, "already exists") : system_error(path, "cannot create");
    return std::nullopt;
  }
  if (::ftruncate(fd, static_cast<off_t>(block_count * block_bytes)) != 0) {
    error = system_error(path, "cannot set its size");
    ::close(fd);
    ::unlink(path.c_str());
    return std::nullopt;
  }
  return BlockImage(fd, path, block_bytes, block_count, false);
}

std::optional<BlockImage> BlockImage::open(const std::string& path, std::uint32_t block_bytes,
                                           Access access, std::string& error) {
  if (!valid_block_bytes(block_bytes)) {
    error = describe(path, "block size " + std::to_string(block_bytes) +
                               " is not a power of two from 256 to 65536");
    return std::nullopt;
  }
  const bool read_only = access == Access::ReadOnly;
  const int fd = open_image_file(kKind, path, read_only, error);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0) {
    problem = system_error(path, "cannot examine");
  } else if (!S_ISREG(info.st_mode)) {
    problem = describe(path, "not a regular file");
  } else if (static_cast<std::uint64_t>(info.st_size) < block_bytes) {
    problem = describe(path, "too small: " + std::to_string(info.st_size) +
                                 " bytes, less than one block of " + std::to_string(block_bytes));
  } else if (static_cast<std::uint64_t>(info.st_size) % block_bytes != 0) {
    problem = describe(path, "size " + std::to_string(info.st_size) +
                                 " bytes is not a multiple of the block size " +
                                 std::to_string(block_bytes));
  }
  if (!problem.empty()) {
    error = problem;
    ::close(fd);
    return std::nullopt;
  }
  return BlockImage(fd, path, block_bytes, static_cast<std::uint64_t>(info.st_size) / block_bytes,
                    read_only);
}

BlockImage::BlockImage(int fd, std::string path, std::uint32_t block_bytes,
                       std::uint64_t block_count, bool read_only)
    : fd_(fd),
      path_(std::move(path)),
      block_bytes_(block_bytes),
      block_count_(block_count),
      read_only_(read_only) {}

BlockImage::BlockImage(BlockImage&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      block_bytes_(other.block_bytes_),
      block_count_(other.block_count_),
      read_only_(other.read_only_) {}

BlockImage& BlockImage::operator=(BlockImage&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    block_bytes_ = other.block_bytes_;
    block_count_ = other.block_count_;
    read_only_ = other.read_only_;
  }
  return *this;
}

BlockImage::~BlockImage() {
  if (fd_ >= 0) ::close(fd_);
}

bool BlockImage::check_range(std::uint64_t lba, std::size_t bytes, std::string& error) const {
  if (fd_ < 0) {
    error = describe(path_, "not open");
    return false;
  }
  if (bytes % block_bytes_ != 0) {
    error = describe(path_, std::to_string(bytes) + " bytes is not a whole number of blocks");
    return false;
  }
  const std::uint64_t blocks = bytes / block_bytes_;
  if (lba > block_count_ || blocks > block_count_ - lba) {
    error = describe(path_, "blocks " + std::to_string(lba) + "+" + std::to_string(blocks) +
                                " lie beyond its " + std::to_string(block_count_) + " blocks");
    return false;
  }
  return true;
}

bool BlockImage::read(std::uint64_t lba, std::span<std::uint8_t> out, std::string& error) const {
  if (!check_range(lba, out.size(), error)) return false;
  if (!pread_fully(fd_, out.data(), out.size(), static_cast<off_t>(lba * block_bytes_))) {
    error = system_error(path_, "read failed");
    return false;
  }
  return true;
}

bool BlockImage::write(std::uint64_t lba, std::span<const std::uint8_t> data, std::string& error) {
  if (read_only_) {
    error = describe(path_, "opened read-only");
    return false;
  }
  if (!check_range(lba, data.size(), error)) return false;
  if (!pwrite_fully(fd_, data.data(), data.size(), static_cast<off_t>(lba * block_bytes_))) {
    error = system_error(path_, "write failed");
    return false;
  }
  return true;
}

bool BlockImage::flush(std::string& error) {
  if (fd_ < 0 || read_only_) return true;
  if (::fdatasync(fd_) != 0) {
    error = system_error(path_, "flush failed");
    return false;
  }
  return true;
}

}  // namespace qzr::hw
