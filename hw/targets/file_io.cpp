#include "hw/targets/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::string image_error(const char* kind, const std::string& path, const std::string& what) {
  return std::string(kind) + " '" + path + "': " + what;
}

std::string image_system_error(const char* kind, const std::string& path, const char* action) {
  return image_error(kind, path, std::string(action) + ": " + std::strerror(errno));
}

int open_image_file(const char* kind, const std::string& path, bool read_only, std::string& error) {
  const int fd = ::open(path.c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT   ? image_error(kind, path, "no such file")
            : errno == EISDIR ? image_error(kind, path, "not a regular file (a directory)")
                              : image_system_error(kind, path, "cannot open");
  }
  return fd;
}

}  // namespace qzr::hw
