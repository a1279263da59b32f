// Whole-buffer positional reads and writes for image files.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qzr::hw {

// pread/pwrite may move fewer bytes than asked; these go on until all of it
// is moved. Bounded by the request size: every pass either moves bytes or
// ends the loop. False with errno set on failure (EIO for a file that ends
// early).
bool pread_fully(int fd, std::uint8_t* out, std::size_t bytes, off_t offset);
bool pwrite_fully(int fd, const std::uint8_t* data, std::size_t bytes, off_t offset);

// "KIND 'PATH': what", the form of every image file error.
std::string image_error(const char* kind, const std::string& path, const std::string& what);
// The same with the system's reason for the failed `action` (from errno).
std::string image_system_error(const char* kind, const std::string& path, const char* action);

// Opens an existing image file, read-only or read-write, closed on exec.
// -1 with `error` saying why (no such file, a directory, the system's reason).
int open_image_file(const char* kind, const std::string& path, bool read_only, std::string& error);

}  // namespace qzr::hw
