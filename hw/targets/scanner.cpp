#include "hw/targets/scanner.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace qzr::hw {
namespace {

namespace sk = scsi::sense_key;

constexpr std::uint8_t kImageData = 0x00;  // READ data type code
constexpr std::size_t kBufferStatusBytes = 10;
// SET WINDOW carries a header and at most one descriptor per window, each of
// at most 255 bytes (the standard 40 and vendor bytes, which are ignored).
constexpr std::uint32_t kMaxWindowListBytes = ScanWindow::kHeaderBytes + Scanner::kWindows * 255;
constexpr std::uint8_t kMeasurementUnitPage = 0x03;
constexpr std::uint8_t kMeasurementUnitPageBytes = 6;

enum class PositionType : std::uint8_t { Unload = 0, Load = 1, Absolute = 2, Relative = 3 };

}  // namespace

Scanner::Scanner(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
                 ScannerTimings scanner_timings, std::unique_ptr<ImageSource> source,
                 const Clock& clock)
    : UnitBase(scsi::device_type::SCANNER, std::move(identity), timings, unit_attention_on_reset),
      scanner_timings_(scanner_timings),
      source_(std::move(source)),
      clock_(clock) {
  reset_windows();
}

void Scanner::reset_windows() {
  windows_ = {};
  windows_[0] = default_window(unit_);
}

void Scanner::on_reset() {
  scan_.reset();
  unit_ = MeasurementUnit{};
  reset_windows();
}

TimeNs Scanner::line_ns(const PixelWindow& window) const {
  const TimeNs channels = window.composition == Composition::Color ? 3 : 1;
  return channels * scanner_timings_.line_exposure_ns +
         TimeNs{window.width_px} * scanner_timings_.pixel_readout_ns;
}

TimeNs Scanner::start_delay_ns(const PixelWindow& window) const {
  return scanner_timings_.motor_start_ns +
         scanner_timings_.travel_ns_per_inch * window.top_px / window.y_resolution_dpi;
}

std::uint64_t Scanner::ready_bytes(const Scan& scan, TimeNs at_ns) const {
  if (at_ns < scan.first_line_ns) return 0;
  const std::uint64_t lines =
      std::min<std::uint64_t>(scan.window.lines, (at_ns - scan.first_line_ns) / scan.line_ns + 1);
  return lines * scan.window.bytes_per_line();
}

TimeNs Scanner::ready_at_ns(const Scan& scan, std::uint64_t offset) const {
  return scan.first_line_ns + (offset / scan.window.bytes_per_line()) * scan.line_ns;
}

TimeNs Scanner::return_home_ns() const {
  if (!scan_) return 0;
  // The carriage stands at the window's top edge plus the lines scanned so far.
  const std::uint64_t lines_scanned =
      ready_bytes(*scan_, clock_.now_ns()) / scan_->window.bytes_per_line();
  return scanner_timings_.travel_ns_per_inch * (scan_->window.top_px + lines_scanned) /
         scan_->window.y_resolution_dpi;
}

CommandOutcome Scanner::execute_command(std::span<const std::uint8_t> cdb) {
  const TimeNs latency_ns = timings().command_latency_ns;
  switch (cdb[0]) {
    case scsi::op::TEST_UNIT_READY:
      return good(latency_ns);
    case scsi::op::SET_WINDOW: {
      const std::uint32_t bytes = cdb_field::be24(cdb, 6);
      if (bytes > 0 && bytes < ScanWindow::kHeaderBytes + ScanWindow::kDescriptorBytes) {
        return fail(sk::ILLEGAL_REQUEST, scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
      }
      if (bytes > kMaxWindowListBytes) return invalid_field();
      return data_out(bytes, 0, latency_ns);
    }
    case scsi::op::GET_WINDOW:
      return get_window(cdb);
    case scsi::op::SCAN: {
      const std::uint8_t windows = cdb[4];
      if (windows > 1) return invalid_field();  // one window a scan
      // No list: the scan is of window 0, which always exists.
      if (windows == 0) {
        start_scan(cdb, {});
        return good(latency_ns);
      }
      return data_out(windows, 0, latency_ns);
    }
    case scsi::op::READ_SCANNED_DATA:
      return read(cdb);
    case scsi::op::OBJECT_POSITION:
      return object_position(cdb);
    case scsi::op::GET_DATA_BUFFER_STATUS:
      return get_data_buffer_status(cdb);
    case scsi::op::MODE_SELECT_6:
      if (cdb[1] & 0x01) {
        return fail(sk::ILLEGAL_REQUEST, scsi::asc::SAVING_PARAMETERS_NOT_SUPPORTED);
      }
      return data_out(cdb[4], 0, latency_ns);
    case scsi::op::MODE_SENSE_6:
      return mode_sense_6(cdb, mode_parameters());
    default:
      return invalid_opcode();
  }
}

DataOutResult Scanner::complete_data_out(std::span<const std::uint8_t> cdb,
                                         std::span<const std::uint8_t> data) {
  switch (cdb[0]) {
    case scsi::op::SET_WINDOW:
      return set_window(cdb, data);
    case scsi::op::SCAN:
      return start_scan(cdb, data);
    case scsi::op::MODE_SELECT_6:
      if (data.size() < cdb[4]) return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
      return select_mode(data.first(cdb[4]));
    default:
      return UnitBase::complete_data_out(cdb, data);
  }
}

DataOutResult Scanner::refuse_parameters(scsi::Asc code) {
  return fail_data_out(Sense::of(sk::ILLEGAL_REQUEST, code), timings().command_latency_ns);
}

DataOutResult Scanner::set_window(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) {
  const std::uint32_t asked = cdb_field::be24(cdb, 6);
  if (data.size() < asked) return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
  data = data.first(asked);
  const std::uint32_t descriptor_bytes = (std::uint32_t{data[6]} << 8) | data[7];
  if (descriptor_bytes < ScanWindow::kDescriptorBytes) {
    return refuse_parameters(scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
  }
  const std::size_t list_bytes = data.size() - ScanWindow::kHeaderBytes;
  if (list_bytes == 0 || list_bytes % descriptor_bytes != 0) {
    return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
  }
  // All or nothing: every window is checked before any is kept.
  std::vector<ScanWindow> accepted;
  for (std::size_t at = ScanWindow::kHeaderBytes; at < data.size(); at += descriptor_bytes) {
    const ScanWindow w = ScanWindow::decode(data.subspan(at, ScanWindow::kDescriptorBytes));
    if (w.id >= kWindows || !pixel_window(w, unit_)) {
      return refuse_parameters(scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
    }
    accepted.push_back(w);
  }
  for (const ScanWindow& w : accepted) windows_[w.id] = w;
  return DataOutResult{scsi::status::GOOD, timings().command_latency_ns};
}

DataOutResult Scanner::start_scan(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) {
  if (data.size() < cdb[4]) return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
  const std::uint8_t id = cdb[4] == 0 ? 0 : data[0];
  if (id >= kWindows || !windows_[id]) {
    return refuse_parameters(scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
  }
  // A kept window was checked when it was set, and the unit has not changed
  // since (a new unit resets the windows).
  Scan scan;
  scan.window = *pixel_window(*windows_[id], unit_);
  scan.line_ns = line_ns(scan.window);
  scan.started_ns = clock_.now_ns() + timings().command_latency_ns;
  scan.first_line_ns = scan.started_ns + start_delay_ns(scan.window) + scan.line_ns;
  scan_ = scan;
  return DataOutResult{scsi::status::GOOD, timings().command_latency_ns};
}

CommandOutcome Scanner::read(std::span<const std::uint8_t> cdb) {
  if (cdb[2] != kImageData || (cdb[1] & 0x01)) return invalid_field();  // RelAdr: none here
  if (!scan_) return fail(sk::ILLEGAL_REQUEST, scsi::asc::COMMAND_SEQUENCE_ERROR);
  const std::uint32_t asked = cdb_field::be24(cdb, 6);
  if (asked > kMaxTransferBytes) return invalid_field();
  if (asked == 0) return good(timings().command_latency_ns);

  Scan& scan = *scan_;
  const std::uint64_t line_bytes = scan.window.bytes_per_line();
  const std::uint64_t left = scan.window.total_bytes() - scan.read_bytes;
  const std::uint64_t given = std::min<std::uint64_t>(asked, left);
  const std::uint64_t first_line = scan.read_bytes / line_bytes;
  const std::uint64_t last_line = (scan.read_bytes + given - 1) / line_bytes;
  std::vector<std::uint8_t> lines;
  render_lines(*source_, scan.window, static_cast<std::uint32_t>(first_line),
               static_cast<std::uint32_t>(last_line - first_line + 1), lines);
  const auto skip = static_cast<std::ptrdiff_t>(scan.read_bytes - first_line * line_bytes);
  std::vector<std::uint8_t> bytes(lines.begin() + skip,
                                  lines.begin() + skip + static_cast<std::ptrdiff_t>(given));

  const TimeNs now_ns = clock_.now_ns();
  const TimeNs ready_ns = ready_at_ns(scan, scan.read_bytes + given - 1);
  const TimeNs latency_ns =
      timings().command_latency_ns + (ready_ns > now_ns ? ready_ns - now_ns : 0);
  scan.read_bytes += given;
  if (scan.read_bytes == scan.window.total_bytes()) scan_.reset();

  if (given == asked) return data_in(std::move(bytes), given, latency_ns);
  Sense short_read;
  short_read.incorrect_length = true;
  short_read.information_valid = true;
  short_read.information = static_cast<std::uint32_t>(asked - given);
  CommandOutcome outcome = fail(short_read);
  outcome.direction = DataDirection::In;
  outcome.data_in = std::move(bytes);
  outcome.latency_ns = latency_ns;
  return outcome;
}

CommandOutcome Scanner::get_window(std::span<const std::uint8_t> cdb) {
  const bool single = cdb[1] & 0x01;
  const std::uint8_t id = cdb[5];
  std::vector<std::uint8_t> out(ScanWindow::kHeaderBytes, 0);
  for (std::size_t w = 0; w < kWindows; ++w) {
    if (!windows_[w] || (single && w != id)) continue;
    const auto descriptor = windows_[w]->encode();
    out.insert(out.end(), descriptor.begin(), descriptor.end());
  }
  if (single && (id >= kWindows || !windows_[id])) return invalid_field();
  put_be16(out, 0, static_cast<std::uint32_t>(out.size() - 2));
  put_be16(out, 6, ScanWindow::kDescriptorBytes);
  return data_in(std::move(out), cdb_field::be24(cdb, 6), timings().command_latency_ns);
}

CommandOutcome Scanner::get_data_buffer_status(std::span<const std::uint8_t> cdb) {
  const bool wait = cdb[1] & 0x01;
  TimeNs latency_ns = timings().command_latency_ns;
  std::uint64_t filled = 0;
  if (scan_) {
    TimeNs at_ns = clock_.now_ns();
    filled = ready_bytes(*scan_, at_ns) - scan_->read_bytes;
    if (wait && filled == 0) {
      // Wait for the line holding the next unread byte.
      const TimeNs ready_ns = ready_at_ns(*scan_, scan_->read_bytes);
      latency_ns += ready_ns - at_ns;
      at_ns = ready_ns;
      filled = ready_bytes(*scan_, at_ns) - scan_->read_bytes;
    }
  }
  std::vector<std::uint8_t> out(kBufferStatusBytes, 0);
  put_be24(out, 0, kBufferStatusBytes - 3);
  put_be24(out, 4, kDataBufferBytes);
  put_be24(out, 7, static_cast<std::uint32_t>(std::min<std::uint64_t>(filled, 0xFFFFFF)));
  return data_in(std::move(out), cdb_field::be16(cdb, 7), latency_ns);
}

CommandOutcome Scanner::object_position(std::span<const std::uint8_t> cdb) {
  switch (static_cast<PositionType>(cdb[1] & 0x07)) {
    case PositionType::Unload: {
      // The carriage goes home; an unfinished scan is given up.
      const TimeNs home_ns = return_home_ns();
      scan_.reset();
      return good(timings().command_latency_ns + home_ns);
    }
    case PositionType::Load:
      return good(timings().command_latency_ns);  // the object lies on the glass already
    case PositionType::Absolute:
    case PositionType::Relative:
    default:
      return invalid_field();  // a flatbed does not move the object
  }
}

DataOutResult Scanner::select_mode(std::span<const std::uint8_t> data) {
  constexpr std::size_t kHeaderBytes = 4;
  if (data.size() < kHeaderBytes) return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
  if (data[3] != 0) return refuse_parameters(scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
  MeasurementUnit chosen = unit_;
  for (std::size_t at = kHeaderBytes; at < data.size();) {
    if (data.size() - at < 2) return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
    const std::uint8_t code = data[at] & 0x3F;
    const std::uint8_t length = data[at + 1];
    if (data.size() - at - 2 < length) {
      return refuse_parameters(scsi::asc::PARAMETER_LIST_LENGTH_ERROR);
    }
    if (code != kMeasurementUnitPage || length != kMeasurementUnitPageBytes) {
      return refuse_parameters(scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
    }
    const std::uint8_t basic = data[at + 2];
    const auto divisor = static_cast<std::uint16_t>((data[at + 4] << 8) | data[at + 5]);
    if (basic > static_cast<std::uint8_t>(MeasurementUnit::Basic::Point) || divisor == 0) {
      return refuse_parameters(scsi::asc::INVALID_FIELD_IN_PARAMETER_LIST);
    }
    chosen = MeasurementUnit{static_cast<MeasurementUnit::Basic>(basic), divisor};
    at += 2 + length;
  }
  // Windows are counted in the unit: a new unit puts them back to the default.
  if (chosen.basic != unit_.basic || chosen.divisor != unit_.divisor) {
    unit_ = chosen;
    reset_windows();
  }
  return DataOutResult{scsi::status::GOOD, timings().command_latency_ns};
}

ModeParameters Scanner::mode_parameters() const {
  ModeParameters parameters;
  parameters.has_block_descriptor = false;
  ModePage page;
  page.code = kMeasurementUnitPage;
  page.current = {
      static_cast<std::uint8_t>(unit_.basic),   0, static_cast<std::uint8_t>(unit_.divisor >> 8),
      static_cast<std::uint8_t>(unit_.divisor), 0, 0};
  page.changeable = {0xFF, 0, 0xFF, 0xFF, 0, 0};
  parameters.pages.push_back(std::move(page));
  return parameters;
}

}  // namespace qzr::hw
