// A recording stand-in for the SCSI port driver, for driver tests.
//
// Every ScsiPort service the miniport calls is recorded in order as an Event:
// port reads with the value returned, port writes with the value, buffer
// moves with their words, stalls, notifications, CompleteRequest,
// GetLogicalUnit, LogError, debug lines (formatted) and the configuration
// services. Register reads are answered from a per-offset script: queued
// values first, then a callback if set, then a default.
//
// Port addresses are the I/O port numbers themselves: the driver's
// BaseIoAddress is base_port() as a pointer, and each access is recorded by
// its offset from it.
//
// One RecordingPort is current at a time (the services are free functions):
// constructing one installs it, destroying it uninstalls it.
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "srb.h"

namespace qzr::driver_test {

enum class Call : std::uint8_t {
  PortRead,
  PortWrite,
  BufferRead,
  BufferWrite,
  Stall,
  Notify,
  CompleteRequest,
  GetLogicalUnit,
  LogError,
  DebugPrint,
  GetBusData,
  GetDeviceBase,
  ConvertAddress,
  Initialize,
};

// Kept small: polls with a budget of millions append one Event per read and
// per stall. Calls that carry more than a value keep it in a side record.
struct Event {
  Call call;
  std::uint8_t reg;      // register offset (port calls); kOutsideWindow if outside
  std::uint32_t value;   // value read or written, stall µs, notification type, ...
  std::uint32_t detail;  // index of the side record, for calls that have one

  bool same_as(const Event& other) const {
    return call == other.call && reg == other.reg && value == other.value && detail == kNoDetail &&
           other.detail == kNoDetail;
  }
  static constexpr std::uint32_t kNoDetail = 0xFFFFFFFF;
  static constexpr std::uint8_t kOutsideWindow = 0xFF;
};

// What a call carried beyond its Event value.
struct Detail {
  const void* srb = nullptr;
  std::uint32_t a = 0, b = 0, c = 0, d = 0, e = 0;
  std::string text;
  std::vector<ULONG> words;
};

struct Notification {
  SCSI_NOTIFICATION_TYPE type;
  const SCSI_REQUEST_BLOCK* srb;  // RequestComplete only
  bool operator==(const Notification&) const = default;
};

struct LogEntry {
  const SCSI_REQUEST_BLOCK* srb;
  UCHAR path_id, target_id, lun;
  ULONG error_code, unique_id;
  bool operator==(const LogEntry&) const = default;
};

class RecordingPort {
 public:
  static constexpr std::uint32_t kDefaultBasePort = 0xE000;
  static constexpr std::size_t kWindowBytes = 32;

  RecordingPort();
  ~RecordingPort();
  RecordingPort(const RecordingPort&) = delete;
  RecordingPort& operator=(const RecordingPort&) = delete;

  static RecordingPort& current();

  // ---- Register script -----------------------------------------------------
  PUCHAR base() const;
  std::uint32_t base_port() const { return base_port_; }
  void set_base_port(std::uint32_t port) { base_port_ = port; }

  // Values returned by the next reads of `offset`, in order.
  void answer(unsigned offset, std::initializer_list<UCHAR> values);
  // Value returned once the queue is empty and no callback is set.
  void set_default(unsigned offset, UCHAR value);
  // Called for each read once the queue is empty; it sees the read's number
  // (0 for the first read of this offset).
  void on_read(unsigned offset, std::function<UCHAR(std::uint64_t read_index)> callback);
  // Writes to `offset` become its default: a register that reads back as written.
  void echo_writes(unsigned offset);
  // Called after each write of `offset` is recorded: lets a test play a device.
  void on_write(unsigned offset, std::function<void(UCHAR value)> callback);
  // Words the host buffer returns, in order; 0 once they run out.
  void answer_buffer(std::initializer_list<ULONG> words);
  // The same, for bytes packed little-endian into words (zero-padded).
  void answer_buffer_bytes(const std::vector<UCHAR>& bytes);

  // Instead of the script, real hardware answers: every register access and
  // buffer move goes to it (and is still recorded), and stalls pass its time.
  // Offsets are relative to the recording port's base.
  struct Hardware {
    std::function<UCHAR(unsigned offset)> read8;
    std::function<void(unsigned offset, UCHAR value)> write8;
    std::function<ULONG(unsigned offset)> read32;
    std::function<void(unsigned offset, ULONG value)> write32;
    std::function<void(ULONG microseconds)> stall;
  };
  void connect(Hardware hardware) { hardware_ = std::move(hardware); }

  // ---- Configuration services ------------------------------------------------
  std::array<UCHAR, PCI_COMMON_HDR_LENGTH>& pci_header() { return pci_header_; }
  void set_bus_data_result(ULONG length) { bus_data_result_ = length; }
  void set_device_base_result(PVOID base) { device_base_override_ = base, has_override_ = true; }
  void add_logical_unit(UCHAR path, UCHAR target, UCHAR lun, PVOID extension);
  void set_initialize_result(ULONG result) { initialize_result_ = result; }

  // What ScsiPortInitialize received.
  struct Registration {
    PVOID argument1 = nullptr;
    PVOID argument2 = nullptr;
    HW_INITIALIZATION_DATA data{};
    std::string vendor_id, device_id;
    bool has_context = false;
    ULONG context_value = 0;
  };
  const std::vector<Registration>& registrations() const { return registrations_; }

  // ---- The record --------------------------------------------------------------
  const std::vector<Event>& events() const { return events_; }
  const Detail& detail(const Event& event) const { return details_.at(event.detail); }
  void clear();

  // Names a request in formatted lines ("RequestComplete(reset)").
  void name(const SCSI_REQUEST_BLOCK* srb, std::string name);

  std::string to_string(const Event& event) const;
  std::vector<std::string> lines() const;
  std::vector<std::string> lines(std::initializer_list<Call> calls) const;
  // Like lines(), with runs of a repeated line, or of a repeated pair of lines,
  // three or more times, folded into "N x [a]" / "N x [a | b]".
  std::vector<std::string> folded_lines() const;

  std::size_t count(Call call) const;
  std::size_t count(Call call, unsigned offset) const;
  std::vector<Notification> notifications() const;
  std::vector<LogEntry> log_entries() const;
  std::vector<std::string> debug_lines() const;
  // Last value written to `offset`, or -1 if it was never written.
  int last_written(unsigned offset) const;
  std::size_t outside_window_accesses() const { return outside_window_; }

  // ---- Entry points for the ScsiPort services -------------------------------------
  UCHAR read_port(PUCHAR port);
  void write_port(PUCHAR port, UCHAR value);
  void read_buffer(PULONG port, PULONG buffer, ULONG count);
  void write_buffer(PULONG port, PULONG buffer, ULONG count);
  void stall(ULONG microseconds);
  void notify(SCSI_NOTIFICATION_TYPE type, const SCSI_REQUEST_BLOCK* srb, std::uint32_t path,
              std::uint32_t target, std::uint32_t lun);
  void complete_request(UCHAR path, UCHAR target, UCHAR lun, UCHAR status);
  PVOID get_logical_unit(UCHAR path, UCHAR target, UCHAR lun);
  void log_error(const SCSI_REQUEST_BLOCK* srb, UCHAR path, UCHAR target, UCHAR lun, ULONG code,
                 ULONG unique_id);
  void debug_print(ULONG level, std::string text);
  ULONG get_bus_data(ULONG type, ULONG bus, ULONG slot, PVOID buffer, ULONG length);
  PVOID get_device_base(INTERFACE_TYPE type, ULONG bus, SCSI_PHYSICAL_ADDRESS address, ULONG length,
                        BOOLEAN in_io_space);
  void convert_address(ULONG address);
  ULONG initialize(PVOID argument1, PVOID argument2, PHW_INITIALIZATION_DATA data, PVOID context);

 private:
  struct RegisterScript {
    std::deque<UCHAR> queue;
    std::function<UCHAR(std::uint64_t)> callback;
    UCHAR default_value = 0;
    bool echo_writes = false;
    std::function<void(UCHAR)> write_callback;
    std::uint64_t reads = 0;
  };

  std::uint8_t offset_of(const void* port);
  void append(Call call, std::uint8_t reg, std::uint32_t value);
  std::uint32_t append_detail(Call call, std::uint32_t value, Detail detail);
  std::string srb_name(const void* srb) const;

  std::uint32_t base_port_ = kDefaultBasePort;
  std::array<RegisterScript, kWindowBytes> registers_{};
  std::deque<ULONG> buffer_words_;
  std::optional<Hardware> hardware_;
  std::array<UCHAR, PCI_COMMON_HDR_LENGTH> pci_header_{};
  ULONG bus_data_result_ = PCI_COMMON_HDR_LENGTH;
  PVOID device_base_override_ = nullptr;
  bool has_override_ = false;
  ULONG initialize_result_ = 0;
  std::map<std::tuple<UCHAR, UCHAR, UCHAR>, PVOID> logical_units_;
  std::map<const void*, std::string> names_;
  std::vector<Registration> registrations_;
  std::vector<Event> events_;
  std::vector<Detail> details_;
  std::size_t outside_window_ = 0;
  RecordingPort* previous_ = nullptr;
};

}  // namespace qzr::driver_test
