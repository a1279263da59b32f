#include "hw/ncr5380.h"

#include <bit>
#include <cstdio>

#include "hw/board_registers.h"

namespace qzr::hw {
namespace {

constexpr const char* kReadNames[8] = {
    "Current SCSI Data",       "Initiator Command", "Mode",       "Target Command",
    "Current SCSI Bus Status", "Bus and Status",    "Input Data", "Reset Parity/Interrupt"};
constexpr const char* kWriteNames[8] = {"Output Data",
                                        "Initiator Command",
                                        "Mode",
                                        "Target Command",
                                        "Select Enable",
                                        "Start DMA Send",
                                        "Start DMA Target Receive",
                                        "Start DMA Initiator Receive"};

bool selection_condition(const BusState& s, std::uint8_t select_enable) {
  return s.has(sig::SEL) && !s.has(sig::BSY) && (s.data & select_enable) != 0;
}

bool rose(const BusState& before, const BusState& now, std::uint16_t signal) {
  return !before.any(signal) && now.any(signal);
}

bool fell(const BusState& before, const BusState& now, std::uint16_t signal) {
  return before.any(signal) && !now.any(signal);
}

}  // namespace

const char* dma_stop_reason_name(DmaStopReason reason) {
  switch (reason) {
    case DmaStopReason::TerminalCount:
      return "terminal count";
    case DmaStopReason::PhaseMismatch:
      return "phase mismatch";
    case DmaStopReason::BusyLost:
      return "loss of BSY";
    case DmaStopReason::BusReset:
      return "bus reset";
    case DmaStopReason::DmaModeCleared:
      return "DMA Mode cleared";
  }
  return "?";
}

Ncr5380::Ncr5380(ScsiBus& bus, GuestErrorLog& errors, DeviceLog& log, const char* device_name)
    : bus_(bus),
      clock_(bus.clock()),
      errors_(errors),
      log_(log),
      device_name_(device_name),
      bus_id_(bus.attach(device_name, this)) {}

Ncr5380::~Ncr5380() {
  host_ = nullptr;
  detaching_ = true;
  clock_.cancel(bus_free_timer_);
  bus_.detach(bus_id_);
}

void Ncr5380::guest_error(const char* what) {
  errors_.record(device_name_, what);
}

std::uint8_t Ncr5380::read(std::uint32_t offset) {
  std::uint8_t value = 0xFF;
  switch (offset) {
    case ncr::reg::CURRENT_SCSI_DATA:
      value = current_scsi_data_read();
      break;
    case ncr::reg::INITIATOR_COMMAND:
      value = initiator_command_read();
      break;
    case ncr::reg::MODE:
      value = mode_;
      break;
    case ncr::reg::TARGET_COMMAND:
      value = target_command_read();
      break;
    case ncr::reg::CURRENT_SCSI_BUS_STATUS:
      value = current_scsi_bus_status_read();
      break;
    case ncr::reg::BUS_AND_STATUS:
      value = bus_and_status_read();
      break;
    case ncr::reg::INPUT_DATA:
      // Only meaningful with a DMA acknowledge the board never gives.
      guest_error("read of Input Data (offset 6), which is never to be accessed");
      break;
    case ncr::reg::RESET_PARITY_INTERRUPT:
      value = reset_parity_interrupt_read();
      break;
    default:
      return 0xFF;
  }
  if (log_.on(log_category::REGISTER_READ)) {
    log_.write("read  %-24s -> 0x%02X", kReadNames[offset], value);
  }
  return value;
}

void Ncr5380::write(std::uint32_t offset, std::uint8_t value) {
  if (offset >= 8) return;
  if (log_.on(log_category::REGISTER_WRITE)) {
    log_.write("write %-24s <- 0x%02X", kWriteNames[offset], value);
  }
  switch (offset) {
    case ncr::reg::OUTPUT_DATA:
      output_data_write(value);
      break;
    case ncr::reg::INITIATOR_COMMAND:
      initiator_command_write(value);
      break;
    case ncr::reg::MODE:
      mode_write(value);
      break;
    case ncr::reg::TARGET_COMMAND:
      target_command_write(value);
      break;
    case ncr::reg::SELECT_ENABLE:
      select_enable_ = value;
      break;
    case ncr::reg::START_DMA_SEND:
      start_dma_send_write();
      break;
    case ncr::reg::START_DMA_TARGET_RECEIVE:
      guest_error("write of Start DMA Target Receive (offset 6): the board has no target role");
      break;
    case ncr::reg::START_DMA_INITIATOR_RECEIVE:
      start_dma_initiator_receive_write();
      break;
  }
}

std::uint8_t Ncr5380::initiator_command_read() const {
  std::uint8_t value = icr_;
  if (arbitration_ == ArbitrationState::arbitrating) value |= ncr::icr::AIP;
  if (lost_arbitration_) value |= ncr::icr::LA;
  return value;
}

std::uint8_t Ncr5380::target_command_read() const {
  return static_cast<std::uint8_t>(tcr_ | (last_byte_sent_ ? ncr::tcr::LAST_BYTE_SENT : 0));
}

std::uint8_t Ncr5380::current_scsi_bus_status_read() const {
  const BusState& s = bus_.state();
  std::uint8_t value = 0;
  if (s.any(sig::RST)) value |= ncr::cbsr::RST;
  if (s.any(sig::BSY)) value |= ncr::cbsr::BSY;
  if (s.any(sig::REQ)) value |= ncr::cbsr::REQ;
  if (s.any(sig::MSG)) value |= ncr::cbsr::MSG;
  if (s.any(sig::CD)) value |= ncr::cbsr::CD;
  if (s.any(sig::IO)) value |= ncr::cbsr::IO;
  if (s.any(sig::SEL)) value |= ncr::cbsr::SEL;
  // No parity lines are modelled; DBP shows what a sender would drive.
  if (std::popcount(s.data) % 2 == 0) value |= ncr::cbsr::DBP;
  return value;
}

std::uint8_t Ncr5380::bus_and_status_read() const {
  const BusState& s = bus_.state();
  std::uint8_t value = 0;
  if (end_of_dma_) value |= ncr::bsr::END_OF_DMA;
  if (dma_ != DmaDirection::None && s.any(sig::REQ) && !s.any(sig::ACK) && phase_matches()) {
    value |= ncr::bsr::DMA_REQUEST;
  }
  if (irq_) value |= ncr::bsr::IRQ_ACTIVE;
  if (phase_matches()) value |= ncr::bsr::PHASE_MATCH;
  if (busy_error_) value |= ncr::bsr::BUSY_ERROR;
  if (s.any(sig::ATN)) value |= ncr::bsr::ATN;
  if (s.any(sig::ACK)) value |= ncr::bsr::ACK;
  return value;
}

std::uint8_t Ncr5380::reset_parity_interrupt_read() {
  busy_error_ = false;
  if (irq_) {
    irq_ = false;
    if (log_.on(log_category::INTERRUPT)) log_.write("IRQ cleared");
    if (host_) host_->irq_changed(false);
  }
  return 0;
}

void Ncr5380::output_data_write(std::uint8_t value) {
  output_data_ = value;
  update_drive();
}

void Ncr5380::initiator_command_write(std::uint8_t value) {
  // AIP and LA are status bits; software writes them back in
  // read-modify-write sequences, so they are ignored rather than refused.
  icr_ = value & ncr::icr::WRITABLE;
  update_drive();
}

void Ncr5380::mode_write(std::uint8_t value) {
  const std::uint8_t before = mode_;
  mode_ = value;
  if (value & ncr::mode::UNSUPPORTED) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "write of 0x%02X to Mode sets%s%s%s%s, which this initiator-only board without "
                  "parity does not support",
                  value, (value & ncr::mode::BLOCK_MODE_DMA) ? " Block Mode DMA" : "",
                  (value & ncr::mode::TARGET_MODE) ? " Target Mode" : "",
                  (value & ncr::mode::ENABLE_PARITY_CHECK) ? " Enable Parity Check" : "",
                  (value & ncr::mode::ENABLE_PARITY_INTERRUPT) ? " Enable Parity Interrupt" : "");
    guest_error(text);
  }
  const bool arbitrate_before = before & ncr::mode::ARBITRATE;
  const bool arbitrate_now = value & ncr::mode::ARBITRATE;
  if (!arbitrate_before && arbitrate_now) {
    lost_arbitration_ = false;
    arbitration_ = ArbitrationState::wait_bus_free;
    if (log_.on(log_category::ARBITRATION)) log_.write("arbitration: waiting for bus free");
    arbitration_evaluate();
  } else if (arbitrate_before && !arbitrate_now) {
    arbitration_stop();
  }
  if ((before & ncr::mode::DMA_MODE) && !(value & ncr::mode::DMA_MODE)) {
    end_of_dma_ = false;
    stop_dma(DmaStopReason::DmaModeCleared);
  }
  update_drive();
}

void Ncr5380::target_command_write(std::uint8_t value) {
  // Assert REQ only acts in the target role; as an initiator it is inert.
  tcr_ = value & ncr::tcr::WRITABLE;
  update_drive();
}

void Ncr5380::start_dma_send_write() {
  if (!(mode_ & ncr::mode::DMA_MODE)) {
    guest_error("write of Start DMA Send (offset 5) without DMA Mode set in Mode");
    return;
  }
  if (tcr_ & ncr::tcr::ASSERT_IO) {
    guest_error("write of Start DMA Send (offset 5) with I/O set in Target Command");
  }
  last_byte_sent_ = false;
  start_dma(DmaDirection::Send);
}

void Ncr5380::start_dma_initiator_receive_write() {
  if (!(mode_ & ncr::mode::DMA_MODE)) {
    guest_error("write of Start DMA Initiator Receive (offset 7) without DMA Mode set in Mode");
    return;
  }
  if (!(tcr_ & ncr::tcr::ASSERT_IO)) {
    guest_error("write of Start DMA Initiator Receive (offset 7) with I/O clear in Target Command");
  }
  start_dma(DmaDirection::InitiatorReceive);
}

void Ncr5380::start_dma(DmaDirection direction) {
  end_of_dma_ = false;
  dma_ack_ = false;
  dma_data_.reset();
  dma_ = direction;
  if (log_.on(log_category::DMA)) {
    log_.write("DMA %s started", direction == DmaDirection::Send ? "send" : "initiator receive");
  }
  update_drive();
  if (host_) host_->dma_started(direction);
}

void Ncr5380::stop_dma(DmaStopReason reason) {
  if (dma_ == DmaDirection::None) return;
  dma_ = DmaDirection::None;
  dma_ack_ = false;
  dma_data_.reset();
  if (log_.on(log_category::DMA)) log_.write("DMA stopped: %s", dma_stop_reason_name(reason));
  update_drive();
  if (host_) host_->dma_stopped(reason);
}

bool Ncr5380::phase_matches() const {
  return static_cast<std::uint8_t>(bus_.state().phase()) == (tcr_ & ncr::tcr::PHASE_MASK);
}

void Ncr5380::dma_drive(bool ack, std::optional<std::uint8_t> data) {
  if (dma_ == DmaDirection::None) return;
  dma_ack_ = ack;
  dma_data_ = data;
  update_drive();
}

void Ncr5380::dma_terminal_count() {
  end_of_dma_ = true;
  if (dma_ == DmaDirection::Send) last_byte_sent_ = true;
  if (mode_ & ncr::mode::ENABLE_EOP_INTERRUPT) raise_irq("end of process");
  stop_dma(DmaStopReason::TerminalCount);
}

void Ncr5380::raise_irq(const char* cause) {
  if (log_.on(log_category::INTERRUPT)) log_.write("IRQ: %s", cause);
  if (irq_) return;
  irq_ = true;
  if (host_) host_->irq_changed(true);
}

void Ncr5380::update_drive() {
  if (detaching_) return;
  const BusState& bus = bus_.state();
  std::uint16_t signals = 0;
  if (icr_ & ncr::icr::ASSERT_RST) signals |= sig::RST;
  if ((icr_ & ncr::icr::ASSERT_ACK) || dma_ack_) signals |= sig::ACK;
  if (icr_ & ncr::icr::ASSERT_BSY) signals |= sig::BSY;
  if (icr_ & ncr::icr::ASSERT_SEL) signals |= sig::SEL;
  if (icr_ & ncr::icr::ASSERT_ATN) signals |= sig::ATN;

  std::uint8_t data = 0;
  if (arbitration_ == ArbitrationState::arbitrating) {
    signals |= sig::BSY;
    data = output_data_;
  } else if (dma_data_) {
    data = *dma_data_;
  } else if ((icr_ & ncr::icr::ASSERT_DATA_BUS) && !bus.any(sig::IO) && phase_matches()) {
    data = output_data_;
  }
  bus_.drive(bus_id_, signals, data);
}

void Ncr5380::arbitration_evaluate() {
  const bool bus_free = !bus_.state().any(sig::BSY | sig::SEL);
  switch (arbitration_) {
    case ArbitrationState::wait_bus_free:
      if (!bus_free) return;
      arbitration_ = ArbitrationState::bus_free_timing;
      bus_free_timer_ = clock_.schedule_in(bus_.timings().bus_free_delay_ns,
                                           [this] { arbitration_bus_free_elapsed(); });
      break;
    case ArbitrationState::bus_free_timing:
      if (bus_free) return;
      clock_.cancel(bus_free_timer_);
      arbitration_ = ArbitrationState::wait_bus_free;
      break;
    case ArbitrationState::idle:
    case ArbitrationState::arbitrating:
      break;
  }
}

void Ncr5380::arbitration_bus_free_elapsed() {
  bus_free_timer_ = {};
  arbitration_ = ArbitrationState::arbitrating;
  if (log_.on(log_category::ARBITRATION)) {
    log_.write("arbitration: bus free, asserting BSY and ID 0x%02X", output_data_);
  }
  update_drive();
}

void Ncr5380::arbitration_stop() {
  clock_.cancel(bus_free_timer_);
  if (arbitration_ != ArbitrationState::idle && log_.on(log_category::ARBITRATION)) {
    log_.write("arbitration: ended%s", lost_arbitration_ ? " (lost)" : "");
  }
  arbitration_ = ArbitrationState::idle;
  lost_arbitration_ = false;
}

void Ncr5380::on_bus_change(const BusState& before, const BusState& now) {
  if (detaching_) return;

  if (rose(before, now, sig::RST)) {
    raise_irq("RST on the bus");
    // The chip lets go of the bus on a reset; only its own RST stays.
    icr_ &= ncr::icr::ASSERT_RST;
    if (arbitration_ != ArbitrationState::idle) {
      clock_.cancel(bus_free_timer_);
      arbitration_ = ArbitrationState::wait_bus_free;
    }
    stop_dma(DmaStopReason::BusReset);
  }
  if (fell(before, now, sig::BSY)) {
    if (mode_ & ncr::mode::MONITOR_BUSY) {
      busy_error_ = true;
      raise_irq("loss of BSY");
    }
    stop_dma(DmaStopReason::BusyLost);
  }
  if (rose(before, now, sig::REQ) && (mode_ & ncr::mode::DMA_MODE) &&
      static_cast<std::uint8_t>(now.phase()) != (tcr_ & ncr::tcr::PHASE_MASK)) {
    raise_irq("phase mismatch");
    stop_dma(DmaStopReason::PhaseMismatch);
  }
  if (selection_condition(now, select_enable_) && !selection_condition(before, select_enable_)) {
    raise_irq(now.any(sig::IO) ? "reselection" : "selection");
  }

  if (arbitration_ == ArbitrationState::arbitrating) {
    if (now.any(sig::SEL) && !(icr_ & ncr::icr::ASSERT_SEL) && !lost_arbitration_) {
      lost_arbitration_ = true;
      if (log_.on(log_category::ARBITRATION)) log_.write("arbitration: lost (SEL seen)");
    }
  } else {
    arbitration_evaluate();
  }

  update_drive();
  if (host_) host_->bus_changed(before, now);
}

}  // namespace qzr::hw
