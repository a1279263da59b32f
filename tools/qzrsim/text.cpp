#include "tools/qzrsim/text.h"

#include <algorithm>
#include <cstdio>

namespace qzr::qzrsim {

std::string text_field(std::span<const std::uint8_t> data, std::size_t from, std::size_t bytes) {
  std::string text;
  for (std::size_t i = from; i < from + bytes && i < data.size(); ++i) {
    text += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<char>(data[i]) : '.';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string device_type_name(unsigned type) {
  static const char* const kNames[] = {
      "disk",   "tape",    "printer",        "processor",      "write-once",
      "CD-ROM", "scanner", "optical memory", "medium changer", "communications"};
  if (type < std::size(kNames)) return kNames[type];
  if (type == 0x1F) return "none";
  return "type " + std::to_string(type);
}

const char* sense_key_name(unsigned key) {
  static const char* const kNames[] = {
      "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
      "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
      "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
      "EQUAL",          "VOLUME OVERFLOW", "MISCOMPARE",     "RESERVED"};
  return kNames[key & 0x0F];
}

std::string describe_sense(std::span<const std::uint8_t> sense) {
  if (sense.size() < 3) return "no sense data";
  std::string text = sense_key_name(sense[2] & 0x0Fu);
  if (sense.size() >= 14) text += ", ASC " + hex8(sense[12]) + ", ASCQ " + hex8(sense[13]);
  return text;
}

std::string hex_dump(std::span<const std::uint8_t> data) {
  std::string out;
  char cell[32];
  for (std::size_t row = 0; row < data.size(); row += 16) {
    std::snprintf(cell, sizeof cell, "%04zx ", row);
    out += cell;
    std::string printable;
    for (std::size_t i = row; i < row + 16; ++i) {
      if (i < data.size()) {
        std::snprintf(cell, sizeof cell, " %02x", data[i]);
        out += cell;
        printable += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<char>(data[i]) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + printable + "|\n";
  }
  return out;
}

std::string hex_bytes(std::span<const std::uint8_t> data) {
  std::string out;
  char cell[4];
  for (const auto byte : data) {
    std::snprintf(cell, sizeof cell, "%02x", byte);
    if (!out.empty()) out += ' ';
    out += cell;
  }
  return out;
}

std::string hex8(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

std::string Table::text(const std::string& indent) const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size());
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out;
  for (const auto& row : rows_) {
    std::string line = indent;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - row[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + '\n';
  }
  return out;
}

}  // namespace qzr::qzrsim
