#include "hw/targets/file_io.h"

#include <unistd.h>

#include <cerrno>

namespace qzr::hw {

bool pread_fully(int fd, std::uint8_t* out, std::size_t bytes, off_t offset) {
  while (bytes > 0) {
    const ssize_t got = ::pread(fd, out, bytes, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the file ends early (or shrank under us)
      return false;
    }
    out += got;
    bytes -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

bool pwrite_fully(int fd, const std::uint8_t* data, std::size_t bytes, off_t offset) {
  while (bytes > 0) {
    const ssize_t put = ::pwrite(fd, data, bytes, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    data += put;
    bytes -= static_cast<std::size_t>(put);
    offset += put;
  }
  return true;
}

}  // namespace qzr::hw
