// Text the commands share: inquiry fields, device-type and sense names,
// hex dumps and aligned tables.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qzr::qzrsim {

// An inquiry text field with its blank padding cut; unprintable bytes as '.'.
std::string text_field(std::span<const std::uint8_t> data, std::size_t from, std::size_t bytes);
// "disk", "tape", "scanner", ... for a peripheral device type (0-31).
std::string device_type_name(unsigned type);
// "NOT READY", "ILLEGAL REQUEST", ... for a sense key (0-15).
const char* sense_key_name(unsigned key);
// One line describing fixed-format sense data: key, ASC and ASCQ.
std::string describe_sense(std::span<const std::uint8_t> sense);
// "0000  12 00 ...  |....|" lines, 16 bytes each.
std::string hex_dump(std::span<const std::uint8_t> data);
std::string hex_bytes(std::span<const std::uint8_t> data);  // "12 00 00 00 24 00"
std::string hex8(unsigned value);                           // "0x24"

// Columns padded to their widest cell; the last column is not padded.
class Table {
 public:
  explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  std::string text(const std::string& indent = "") const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace qzr::qzrsim
