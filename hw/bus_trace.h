// The bus trace: every change of the SCSI bus lines with its virtual time.
// The running hash covers every change ever recorded, also those past the
// retention limit, so two runs compare bit for bit at any length.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "hw/clock.h"

namespace qzr::hw {

struct TraceEntry {
  TimeNs time_ns = 0;
  std::uint16_t signals = 0;  // sig:: bits
  std::uint8_t data = 0;
};

class BusTrace {
 public:
  void record(TimeNs time_ns, std::uint16_t signals, std::uint8_t data);

  // Entries beyond the limit are counted and hashed but not kept; long bulk
  // runs (benchmarks) set it low.
  void set_retention_limit(std::size_t entries) { retention_limit_ = entries; }
  void clear();

  const std::vector<TraceEntry>& entries() const { return entries_; }
  std::uint64_t changes() const { return changes_; }
  std::uint64_t dropped() const { return changes_ - entries_.size(); }
  // FNV-1a over (time, signals, data) of every change.
  std::uint64_t hash() const { return hash_; }

  // Value Change Dump (IEEE 1364), one wire per signal and an 8-bit data
  // vector, time unit 1 ns. Returns false with `error` set on an I/O failure.
  bool write_vcd(std::ostream& out) const;
  bool write_vcd_file(const std::string& path, std::string& error) const;

 private:
  std::vector<TraceEntry> entries_;
  std::size_t retention_limit_ = 50'000'000;
  std::uint64_t changes_ = 0;
  std::uint64_t hash_ = 0xCBF29CE484222325ULL;
};

}  // namespace qzr::hw
