#include "hw/bus_trace.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>

#include "hw/scsi_bus.h"

namespace qzr::hw {
namespace {

void fnv_mix(std::uint64_t& hash, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    hash ^= (value >> (8 * i)) & 0xFF;
    hash *= 0x100000001B3ULL;
  }
}

struct VcdSignal {
  std::uint16_t bit;
  const char* name;
  char id;
};

// VCD identifiers are printable characters; one per signal, '#' for the data.
constexpr VcdSignal kVcdSignals[] = {
    {sig::BSY, "BSY", '!'}, {sig::SEL, "SEL", '"'}, {sig::RST, "RST", '$'},
    {sig::ATN, "ATN", '%'}, {sig::ACK, "ACK", '&'}, {sig::REQ, "REQ", '\''},
    {sig::MSG, "MSG", '('}, {sig::CD, "CD", ')'},   {sig::IO, "IO", '*'},
};
constexpr char kDataId = '#';

void write_data_value(std::ostream& out, std::uint8_t data) {
  out << 'b';
  for (int bit = 7; bit >= 0; --bit) out << (((data >> bit) & 1) ? '1' : '0');
  out << ' ' << kDataId << '\n';
}

}  // namespace

void BusTrace::record(TimeNs time_ns, std::uint16_t signals, std::uint8_t data) {
  fnv_mix(hash_, time_ns, 8);
  fnv_mix(hash_, signals, 2);
  fnv_mix(hash_, data, 1);
  ++changes_;
  if (entries_.size() < retention_limit_) entries_.push_back(TraceEntry{time_ns, signals, data});
}

void BusTrace::clear() {
  entries_.clear();
  changes_ = 0;
  hash_ = 0xCBF29CE484222325ULL;
}

bool BusTrace::write_vcd(std::ostream& out) const {
  out << "$date qzr6140 simulated SCSI bus $end\n"
      << "$version qzrsim bus trace $end\n"
      << "$timescale 1ns $end\n"
      << "$scope module scsi $end\n";
  for (const auto& s : kVcdSignals) out << "$var wire 1 " << s.id << ' ' << s.name << " $end\n";
  out << "$var wire 8 " << kDataId << " DB[7:0] $end\n"
      << "$upscope $end\n$enddefinitions $end\n";

  bool first = true;
  TraceEntry last{};
  TimeNs last_time = 0;
  for (const TraceEntry& e : entries_) {
    if (first || e.time_ns != last_time) {
      out << '#' << e.time_ns << '\n';
      last_time = e.time_ns;
    }
    if (first) out << "$dumpvars\n";
    for (const auto& s : kVcdSignals) {
      if (first || ((e.signals ^ last.signals) & s.bit)) {
        out << ((e.signals & s.bit) ? '1' : '0') << s.id << '\n';
      }
    }
    if (first || e.data != last.data) write_data_value(out, e.data);
    if (first) out << "$end\n";
    first = false;
    last = e;
  }
  return static_cast<bool>(out);
}

bool BusTrace::write_vcd_file(const std::string& path, std::string& error) const {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = path + ": cannot create: " + std::strerror(errno);
      return false;
    }
    if (!write_vcd(out) || !out.flush()) {
      error = path + ": write failed";
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": cannot rename: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace qzr::hw
