// A flatbed scanner (type 6) with the SCSI-2 scanner commands: SET WINDOW,
// GET WINDOW, SCAN, READ of image data, OBJECT POSITION, GET DATA BUFFER
// STATUS, and the measurement-unit mode page (03h) through MODE SELECT (6)
// and MODE SENSE (6).
//
// How a scan lives: SET WINDOW defines windows 0-3 (window 0 starts as the
// whole glass, 300 dpi grey); SCAN names one window (an empty list means
// window 0) and starts the carriage.
// After a start delay (the motor, then travel to the window's top edge) the
// carriage produces one line every `line_ns`; READ returns the next bytes in
// order and its latency covers the wait for the last line it returns. The
// whole image is kept, so the carriage never stops for a full buffer. The
// scan ends when its last byte has been read, at OBJECT POSITION, a new SCAN
// or a reset. Lines are rendered on demand from the image source.
//
// A READ asking for more than is left returns what is left, then CHECK
// CONDITION with NO SENSE, ILI, and the residue in the information field.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "hw/clock.h"
#include "hw/targets/image_source.h"
#include "hw/targets/scan_window.h"
#include "hw/targets/unit_base.h"

namespace qzr::hw {

struct ScannerTimings {
  TimeNs motor_start_ns = 50 * kNsPerMs;       // lamp on, carriage moving
  TimeNs travel_ns_per_inch = 100 * kNsPerMs;  // fast travel, out to the window and home
  TimeNs line_exposure_ns = 1 * kNsPerMs;      // per line and colour channel
  TimeNs pixel_readout_ns = 100;               // per pixel of the line, all channels
};

class Scanner final : public UnitBase {
 public:
  static constexpr std::size_t kWindows = 4;
  // What GET DATA BUFFER STATUS reports as the buffer's size.
  static constexpr std::uint32_t kDataBufferBytes = 4 * 1024 * 1024;

  // `clock` tells the scanner when each command arrives; it must outlive it.
  Scanner(Identity identity, UnitTimings timings, bool unit_attention_on_reset,
          ScannerTimings scanner_timings, std::unique_ptr<ImageSource> source, const Clock& clock);

  DataOutResult complete_data_out(std::span<const std::uint8_t> cdb,
                                  std::span<const std::uint8_t> data) override;

  // For tests and tools.
  const std::optional<ScanWindow>& window(std::size_t id) const { return windows_[id]; }
  const MeasurementUnit& measurement_unit() const { return unit_; }
  bool scanning() const { return scan_.has_value(); }
  // The time one line of `window` takes.
  TimeNs line_ns(const PixelWindow& window) const;
  // From SCAN's status to the first line being ready.
  TimeNs start_delay_ns(const PixelWindow& window) const;

 protected:
  CommandOutcome execute_command(std::span<const std::uint8_t> cdb) override;
  void on_reset() override;

 private:
  struct Scan {
    PixelWindow window;
    TimeNs started_ns = 0;     // carriage moving
    TimeNs first_line_ns = 0;  // when line 0 is ready
    TimeNs line_ns = 0;
    std::uint64_t read_bytes = 0;
  };

  CommandOutcome read(std::span<const std::uint8_t> cdb);
  CommandOutcome get_window(std::span<const std::uint8_t> cdb);
  CommandOutcome get_data_buffer_status(std::span<const std::uint8_t> cdb);
  CommandOutcome object_position(std::span<const std::uint8_t> cdb);
  CommandOutcome mode_select(std::span<const std::uint8_t> cdb);
  DataOutResult set_window(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> data);
  DataOutResult start_scan(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> data);
  DataOutResult select_mode(std::span<const std::uint8_t> data);
  ModeParameters mode_parameters() const;
  void reset_windows();
  // Bytes of the current scan ready in the scanner at `at_ns`.
  std::uint64_t ready_bytes(const Scan& scan, TimeNs at_ns) const;
  // When the line holding byte `offset` of the image is ready.
  TimeNs ready_at_ns(const Scan& scan, std::uint64_t offset) const;
  // Time for the carriage to come home from where it is now.
  TimeNs return_home_ns() const;
  DataOutResult refuse_parameters(scsi::Asc code);

  ScannerTimings scanner_timings_;
  std::unique_ptr<ImageSource> source_;
  const Clock& clock_;
  MeasurementUnit unit_;
  std::array<std::optional<ScanWindow>, kWindows> windows_;
  std::optional<Scan> scan_;
};

}  // namespace qzr::hw
