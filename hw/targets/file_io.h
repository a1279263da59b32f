// Whole-buffer positional reads and writes for image files.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace qzr::hw {

// pread/pwrite may move fewer bytes than asked; these go on until all of it
// is moved. Bounded by the request size: every pass either moves bytes or
// ends the loop. False with errno set on failure (EIO for a file that ends
// early).
bool pread_fully(int fd, std::uint8_t* out, std::size_t bytes, off_t offset);
bool pwrite_fully(int fd, const std::uint8_t* data, std::size_t bytes, off_t offset);

}  // namespace qzr::hw
