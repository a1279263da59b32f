// The NCR 53C80 SCSI protocol controller in the initiator role, as one agent
// on the SCSI bus.
//
// What the chip drives follows its registers: Initiator Command gives RST,
// ACK, BSY, SEL and ATN; the data lines carry Output Data during arbitration,
// or while Assert Data Bus is set, I/O is false on the bus and the bus phase
// matches Target Command (re-evaluated on every bus change, so asserting the
// data bus in a Data In phase has no effect). In DMA the board's block engine
// owns the ACK handshake and the byte sent; the chip only notices when the
// target leaves the phase, BSY drops or RST appears, and stops the transfer.
//
// Arbitration is a small state machine stepped by bus changes and one
// bus-free timer:
//   idle --Arbitrate set--> wait_bus_free --BSY/SEL clear--> bus_free_timing
//   bus_free_timing --bus-free delay, still free--> arbitrating (AIP, BSY, ID)
//   bus_free_timing --BSY or SEL seen--> wait_bus_free
//   any --Arbitrate cleared--> idle
// Lost Arbitration latches when another device asserts SEL while we arbitrate
// and we are not asserting SEL ourselves; the chip keeps driving until the
// software clears Arbitrate, as the data book leaves that to software.
//
// Interrupt causes, latched until Reset Parity/Interrupt is read: selection
// or reselection (SEL, no BSY, a data bit enabled in Select Enable), phase
// mismatch (DMA Mode and REQ rising in another phase than Target Command),
// end of process from the block engine (Enable EOP Interrupt), busy loss
// (Monitor Busy and BSY falling, also Busy Error), and RST on the bus.
//
// Choices where the data book leaves room:
// - Parity is not modelled: DBP reads as the odd-parity bit of the data bus,
//   Parity Error never sets.
// - End of DMA sets at terminal count and clears at the next DMA start or
//   when DMA Mode is cleared; Last Byte Sent clears at the next Start DMA
//   Send.
// - RST on the bus stops DMA and arbitration and drops what Initiator Command
//   drives except Assert RST; Mode, Target Command and Select Enable keep
//   their values.
// - DMA Request reads 1 while a DMA transfer is started, REQ is asserted in
//   the matching phase and ACK is not yet given.
#pragma once

#include <cstdint>
#include <optional>

#include "hw/clock.h"
#include "hw/device_log.h"
#include "hw/guest_errors.h"
#include "hw/scsi_bus.h"

namespace qzr::hw {

enum class DmaDirection : std::uint8_t { None, Send, InitiatorReceive };

enum class DmaStopReason : std::uint8_t {
  TerminalCount,
  PhaseMismatch,
  BusyLost,
  BusReset,
  DmaModeCleared,
};
const char* dma_stop_reason_name(DmaStopReason reason);

// The board's side of the chip: what it is told of the chip's DMA and IRQ.
class Ncr5380Host {
 public:
  virtual ~Ncr5380Host() = default;
  virtual void irq_changed(bool active) = 0;
  virtual void dma_started(DmaDirection direction) = 0;
  virtual void dma_stopped(DmaStopReason reason) = 0;
  // Every settled bus change, after the chip has reacted to it.
  virtual void bus_changed(const BusState& before, const BusState& now) = 0;
};

class Ncr5380 final : public BusAgent {
 public:
  enum class ArbitrationState : std::uint8_t {
    idle,
    wait_bus_free,
    bus_free_timing,
    arbitrating,
  };

  Ncr5380(ScsiBus& bus, GuestErrorLog& errors, DeviceLog& log, const char* device_name);
  ~Ncr5380() override;
  Ncr5380(const Ncr5380&) = delete;
  Ncr5380& operator=(const Ncr5380&) = delete;

  void set_host(Ncr5380Host* host) { host_ = host; }

  // Register window, offsets 0-7.
  std::uint8_t read(std::uint32_t offset);
  void write(std::uint32_t offset, std::uint8_t value);

  // Block engine side.
  DmaDirection dma_direction() const { return dma_; }
  bool phase_matches() const;
  void dma_drive(bool ack, std::optional<std::uint8_t> data);
  // The engine reached terminal count: End of DMA, Last Byte Sent for a send,
  // EOP interrupt if enabled; the transfer stops.
  void dma_terminal_count();

  bool irq_active() const { return irq_; }
  ArbitrationState arbitration_state() const { return arbitration_; }
  ScsiBus::AgentId bus_id() const { return bus_id_; }

  void on_bus_change(const BusState& before, const BusState& now) override;

 private:
  // Register handlers, one per register as the data book names them.
  std::uint8_t current_scsi_data_read() const { return bus_.state().data; }
  std::uint8_t initiator_command_read() const;
  std::uint8_t target_command_read() const;
  std::uint8_t current_scsi_bus_status_read() const;
  std::uint8_t bus_and_status_read() const;
  std::uint8_t reset_parity_interrupt_read();
  void output_data_write(std::uint8_t value);
  void initiator_command_write(std::uint8_t value);
  void mode_write(std::uint8_t value);
  void target_command_write(std::uint8_t value);
  void start_dma_send_write();
  void start_dma_initiator_receive_write();

  void start_dma(DmaDirection direction);
  void stop_dma(DmaStopReason reason);
  void raise_irq(const char* cause);
  void update_drive();
  void arbitration_evaluate();
  void arbitration_bus_free_elapsed();
  void arbitration_stop();
  void guest_error(const char* what);

  ScsiBus& bus_;
  Clock& clock_;
  GuestErrorLog& errors_;
  DeviceLog& log_;
  const char* device_name_;
  Ncr5380Host* host_ = nullptr;
  ScsiBus::AgentId bus_id_;
  bool detaching_ = false;

  std::uint8_t output_data_ = 0;
  std::uint8_t icr_ = 0;  // bits 7 and 4-0 as written
  std::uint8_t mode_ = 0;
  std::uint8_t tcr_ = 0;  // bits 3-0 as written
  std::uint8_t select_enable_ = 0;

  bool irq_ = false;
  bool busy_error_ = false;
  bool end_of_dma_ = false;
  bool last_byte_sent_ = false;

  ArbitrationState arbitration_ = ArbitrationState::idle;
  bool lost_arbitration_ = false;
  Clock::EventId bus_free_timer_;

  DmaDirection dma_ = DmaDirection::None;
  bool dma_ack_ = false;
  std::optional<std::uint8_t> dma_data_;
};

}  // namespace qzr::hw
