// Shared by the logical-unit tests: a scratch directory, CDB builders, and a
// way to run a command to its end (Data Out included) and read its sense,
// with no bus involved.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "hw/targets/logical_unit.h"
#include "hw/targets/scsi_defs.h"

namespace qzr::hw::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary one, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps parallel runs (two build presets, say) apart.
    std::string name = "qzr-devices-" + std::to_string(::getpid()) + "-";
    if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Writes `bytes` to a file in the directory and returns its path.
  std::string write_file(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file(name);
  }

 private:
  std::filesystem::path path_;
};

inline Bytes cdb6(std::uint8_t opcode, std::uint8_t b1 = 0, std::uint8_t b2 = 0,
                  std::uint8_t b3 = 0, std::uint8_t b4 = 0, std::uint8_t control = 0) {
  return {opcode, b1, b2, b3, b4, control};
}

inline Bytes cdb10(std::uint8_t opcode, std::uint8_t flags, std::uint32_t lba, std::uint16_t length,
                   std::uint8_t b8_low = 0) {
  return {opcode,
          flags,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0,
          static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length),
          b8_low};
}

// Six-byte commands whose bytes 2-4 carry a 24-bit count (tape, processor).
inline Bytes cdb6_count(std::uint8_t opcode, std::uint8_t b1, std::int32_t count) {
  const auto raw = static_cast<std::uint32_t>(count) & 0xFFFFFF;
  return {opcode,
          b1,
          static_cast<std::uint8_t>(raw >> 16),
          static_cast<std::uint8_t>(raw >> 8),
          static_cast<std::uint8_t>(raw),
          0};
}

inline Bytes read6(std::uint32_t lba, std::uint8_t blocks) {
  return cdb6(scsi::op::READ_6, static_cast<std::uint8_t>((lba >> 16) & 0x1F),
              static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), blocks);
}
inline Bytes write6(std::uint32_t lba, std::uint8_t blocks) {
  Bytes cdb = read6(lba, blocks);
  cdb[0] = scsi::op::WRITE_6;
  return cdb;
}
inline Bytes read10(std::uint32_t lba, std::uint16_t blocks) {
  return cdb10(scsi::op::READ_10, 0, lba, blocks);
}
inline Bytes write10(std::uint32_t lba, std::uint16_t blocks) {
  return cdb10(scsi::op::WRITE_10, 0, lba, blocks);
}
inline Bytes test_unit_ready() {
  return cdb6(scsi::op::TEST_UNIT_READY);
}
inline Bytes inquiry(std::uint8_t allocation) {
  return cdb6(scsi::op::INQUIRY, 0, 0, 0, allocation);
}
inline Bytes mode_sense(std::uint8_t page_byte, std::uint8_t allocation = 255,
                        bool no_descriptors = false) {
  return cdb6(scsi::op::MODE_SENSE_6, no_descriptors ? 0x08 : 0x00, page_byte, 0, allocation);
}
inline Bytes read_capacity() {
  return cdb10(scsi::op::READ_CAPACITY, 0, 0, 0);
}

// A pattern that differs in every block, so misplaced blocks show.
inline Bytes pattern(std::size_t bytes, std::uint8_t seed) {
  Bytes out(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
  }
  return out;
}

struct Exchange {
  std::uint8_t status = 0;
  Bytes data_in;
  std::uint32_t data_out_bytes = 0;
  std::uint32_t block_bytes = 0;
  TimeNs latency_ns = 0;        // before the data phase
  TimeNs write_latency_ns = 0;  // after Data Out
};

// Runs `cdb` as the target would: execute, then hand over the Data Out bytes
// if the unit asked for them.
inline Exchange run(LogicalUnit& unit, const Bytes& cdb, const Bytes& data_out = {}) {
  const CommandOutcome outcome = unit.execute(cdb);
  Exchange exchange{outcome.status,      outcome.data_in,    outcome.data_out_bytes,
                    outcome.block_bytes, outcome.latency_ns, 0};
  if (outcome.status == scsi::status::GOOD && outcome.direction == DataDirection::Out) {
    const DataOutResult result = unit.complete_data_out(cdb, data_out);
    exchange.status = result.status;
    exchange.write_latency_ns = result.latency_ns;
  }
  return exchange;
}

// The fixed-format sense REQUEST SENSE returns, decoded.
struct SenseView {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool valid = false;
  std::uint32_t information = 0;
  bool filemark = false;
  bool end_of_medium = false;

  bool operator==(const SenseView&) const = default;
};

inline SenseView decode_sense(const Bytes& bytes) {
  SenseView view;
  if (bytes.size() < 14) return view;
  view.valid = bytes[0] & 0x80;
  view.key = bytes[2] & 0x0F;
  view.filemark = bytes[2] & 0x80;
  view.end_of_medium = bytes[2] & 0x40;
  view.information = (std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[4]} << 16) |
                     (std::uint32_t{bytes[5]} << 8) | bytes[6];
  view.asc = bytes[12];
  view.ascq = bytes[13];
  return view;
}

inline SenseView request_sense(LogicalUnit& unit) {
  return decode_sense(unit.execute(cdb6(scsi::op::REQUEST_SENSE, 0, 0, 0, 18)).data_in);
}

// Sense of a failure with no information field.
inline SenseView sense(std::uint8_t key, scsi::Asc code) {
  return SenseView{key, code.asc, code.ascq};
}
inline SenseView sense(std::uint8_t key, scsi::Asc code, std::uint32_t information) {
  return SenseView{key, code.asc, code.ascq, true, information};
}

inline std::ostream& operator<<(std::ostream& out, const SenseView& view) {
  return out << scsi::sense_key_name(view.key) << " asc " << int{view.asc} << "/" << int{view.ascq}
             << (view.valid ? " info " + std::to_string(view.information) : "")
             << (view.filemark ? " FM" : "") << (view.end_of_medium ? " EOM" : "");
}

// The status of `cdb` and the sense it left, in one step.
struct Failure {
  std::uint8_t status;
  SenseView sense;
};
inline Failure run_for_sense(LogicalUnit& unit, const Bytes& cdb, const Bytes& data_out = {}) {
  const Exchange exchange = run(unit, cdb, data_out);
  return {exchange.status, request_sense(unit)};
}

}  // namespace qzr::hw::testing
