#include "hw/targets/logical_unit.h"

#include <algorithm>

namespace qzr::hw {

std::vector<std::uint8_t> Sense::bytes(std::size_t allocation_length) const {
  std::vector<std::uint8_t> out(18, 0);
  out[0] = 0x70 | (information_valid ? 0x80 : 0x00);  // current error, fixed format
  out[2] = static_cast<std::uint8_t>((filemark ? 0x80 : 0) | (end_of_medium ? 0x40 : 0) |
                                     (incorrect_length ? 0x20 : 0) | (key & 0x0F));
  out[3] = static_cast<std::uint8_t>(information >> 24);
  out[4] = static_cast<std::uint8_t>(information >> 16);
  out[5] = static_cast<std::uint8_t>(information >> 8);
  out[6] = static_cast<std::uint8_t>(information);
  out[7] = 10;  // additional sense length: bytes 8-17
  out[12] = asc;
  out[13] = ascq;
  out.resize(std::min(out.size(), allocation_length));
  return out;
}

}  // namespace qzr::hw
