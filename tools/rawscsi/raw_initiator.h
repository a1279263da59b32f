// A SCSI initiator written as host code against the QZR6140's register
// window: arbitration, selection with IDENTIFY, programmed command, status and
// message bytes, data through the host buffer in 128-byte blocks, and
// reselection after a disconnect. It is not the miniport: it exists so that
// the hardware model can be shown, measured and tested end to end with no
// driver at all. Every wait is a bounded poll costing virtual time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hw/clock.h"
#include "hw/pci.h"

namespace qzr::rawscsi {

struct Request {
  std::uint8_t target = 0;
  std::uint8_t lun = 0;
  std::vector<std::uint8_t> cdb;
  // Data In: bytes expected (the buffer size). Data Out: the bytes to send.
  std::uint32_t data_in_bytes = 0;
  std::vector<std::uint8_t> data_out;
  bool allow_disconnect = false;
};

enum class Outcome {
  Completed,         // COMMAND COMPLETE received
  BusBusy,           // the bus never came free, or arbitration was lost
  SelectionTimeout,  // the target never answered its selection
  ProtocolError,     // a phase or handshake went wrong; the bus was reset
  Timeout,           // a bounded wait ran out; the bus was reset
};

const char* outcome_name(Outcome outcome);

struct Result {
  Outcome outcome = Outcome::ProtocolError;
  std::uint8_t status = 0xFF;
  std::vector<std::uint8_t> data_in;  // what arrived, at most data_in_bytes
  std::uint32_t data_out_sent = 0;
  std::vector<std::uint8_t> messages_in;
  std::uint32_t disconnects = 0;
  std::string error;  // what went wrong, for anything but Completed
  // One line per step, for the demonstration ("SELECT target 0", "DATA IN 36 bytes", ...).
  std::vector<std::string> transcript;
};

class RawInitiator {
 public:
  RawInitiator(hw::PciBus& pci, hw::Clock& clock, std::uint32_t io_base);

  // Resets the board as a driver would at start-up.
  void reset_board();
  // Asserts RST for 100 us and resets the board.
  void reset_bus();

  Result run(const Request& request);

  // Virtual-time bound of every poll.
  void set_poll_limit_ns(hw::TimeNs ns) { poll_limit_ns_ = ns; }

 private:
  struct Transfer;

  std::uint8_t in(std::uint32_t offset);
  void out(std::uint32_t offset, std::uint8_t value);
  void stall_us(std::uint32_t us) { clock_.advance_by(us * hw::kNsPerUs); }
  // Polls `offset` until (value & mask) == want, within the poll limit.
  bool poll(std::uint32_t offset, std::uint8_t mask, std::uint8_t want);

  bool arbitrate(Result& result);
  bool select(const Request& request, Result& result);
  bool phase_loop(const Request& request, Result& result);
  bool send_byte(std::uint8_t byte);
  bool receive_byte(std::uint8_t& byte);
  bool data_in(Transfer& transfer, Result& result);
  bool data_out(Transfer& transfer, Result& result);
  void start_dma(bool read, std::uint32_t blocks);
  void end_dma();
  bool await_reselection(const Request& request, Result& result);
  void fail(Result& result, Outcome outcome, std::string error);

  hw::PciBus& pci_;
  hw::Clock& clock_;
  std::uint32_t base_;
  hw::TimeNs poll_limit_ns_ = 2 * hw::kNsPerS;
};

}  // namespace qzr::rawscsi
