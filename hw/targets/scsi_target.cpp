#include "hw/targets/scsi_target.h"

#include <algorithm>
#include <bit>
#include <string>

#include "hw/targets/absent_lun.h"

namespace qzr::hw {
namespace {

bool phase_is_in(Phase phase) {
  return (static_cast<std::uint8_t>(phase) & 1) != 0;
}

}  // namespace

std::size_t ScsiTarget::Task::cdb_length() const {
  return cdb.empty() ? 6 : scsi::command_length(cdb[0]);
}

ScsiTarget::ScsiTarget(Clock& clock, ScsiBus& bus, TargetSettings settings, Units units)
    : clock_(clock),
      bus_(bus),
      agent_(bus.attach("target " + std::to_string(settings.id), this)),
      settings_(std::move(settings)),
      units_(std::move(units)),
      fault_firings_(settings_.faults.size(), 0) {
  for (auto& unit : units_) {
    if (!unit) unit = std::make_unique<AbsentLun>();
  }
  for (const Fault& fault : settings_.faults) {
    if (fault.kind != Fault::Kind::ReselectWithoutCommand) continue;
    phantom_timers_.push_back(clock_.schedule_at(fault.at_ns, [this] { phantom_reselect_due(); }));
  }
}

void ScsiTarget::add_fault(const Fault& fault) {
  settings_.faults.push_back(fault);
  fault_firings_.push_back(0);
  if (fault.kind == Fault::Kind::ReselectWithoutCommand) {
    phantom_timers_.push_back(clock_.schedule_at(fault.at_ns, [this] { phantom_reselect_due(); }));
  }
}

ScsiTarget::~ScsiTarget() {
  clock_.cancel(timer_);
  clock_.cancel(pending_timer_);
  clock_.cancel(bus_free_timer_);
  for (auto& id : phantom_timers_) clock_.cancel(id);
  bus_.detach(agent_);
}

LogicalUnit* ScsiTarget::unit(std::size_t lun) const {
  return lun < kMaxLuns ? units_[lun].get() : nullptr;
}

TargetStatus ScsiTarget::status() const {
  TargetStatus s = counters_;
  s.state = state_name();
  s.connected = current_.has_value();
  s.command_pending = disconnected_.has_value() && !disconnected_->phantom;
  return s;
}

// --- Driving the bus ---------------------------------------------------------

void ScsiTarget::drive(std::uint16_t signals, std::uint8_t data) {
  driven_signals_ = signals;
  driven_data_ = data;
  bus_.drive(agent_, signals, data);
}

void ScsiTarget::schedule(TimeNs delay_ns, Step step) {
  clock_.cancel(timer_);
  timer_ = clock_.schedule_in(delay_ns, [this, step] {
    timer_ = {};
    (this->*step)();
  });
}

bool ScsiTarget::is_selection_of_us(const BusState& bus) const {
  return bus.has(sig::SEL) && !bus.any(sig::BSY | sig::IO | sig::RST) && (bus.data & own_bit()) &&
         std::popcount(bus.data) <= 2;
}

bool ScsiTarget::idle_on_bus() const {
  switch (state_) {
    case State::Idle:
    case State::Disconnected:
    case State::ReselectRetryWait:
    case State::ReselectWaitBusFree:
      return true;
    default:
      return false;
  }
}

const Fault* ScsiTarget::take_fault(Fault::Kind kind, std::optional<std::uint8_t> opcode,
                                    std::optional<Phase> phase) {
  const bool phase_matters = kind == Fault::Kind::NeverRaiseReq || kind == Fault::Kind::DropBsy;
  for (std::size_t i = 0; i < settings_.faults.size(); ++i) {
    const Fault& fault = settings_.faults[i];
    if (fault.kind != kind) continue;
    if (phase_matters && fault.phase != phase) continue;
    // Before the first command byte the opcode is unknown: a fault that
    // names one then applies to whatever command comes.
    if (fault.opcode && opcode && *fault.opcode != *opcode) continue;
    if (fault.times != 0 && fault_firings_[i] >= fault.times) continue;
    ++fault_firings_[i];
    return &fault;
  }
  return nullptr;
}

// --- Bus changes -------------------------------------------------------------

void ScsiTarget::on_bus_change(const BusState&, const BusState& now) {
  if (now.has(sig::RST)) {
    if (state_ != State::BusReset) bus_reset();
    return;
  }
  if (state_ == State::BusReset) go_idle();
  if (ignoring_selection_ && !now.has(sig::SEL)) ignoring_selection_ = false;

  switch (state_) {
    case State::Idle:
    case State::Disconnected:
    case State::ReselectRetryWait:
      if (is_selection_of_us(now)) begin_selection_response();
      break;
    case State::ReselectWaitBusFree:
      if (is_selection_of_us(now)) {
        begin_selection_response();
      } else {
        wait_bus_free_for_reselection();
      }
      break;
    case State::SelectionWaitSelRelease:
      if (!now.has(sig::SEL)) selection_complete(now);
      break;
    case State::ReselectArbitrating:
      // Someone else won and is selecting: losers step off at once.
      if (now.has(sig::SEL)) reselect_lost();
      break;
    case State::ReselectWaitAnswer:
      if (now.has(sig::BSY)) {
        ++counters_.reselections;
        current_ = std::move(disconnected_);
        disconnected_.reset();
        current_->ready_to_reselect = false;
        current_->reselection_attempts = 0;
        current_->chunk_start = current_->data_pos;
        state_ = State::ReselectAnswered;
        schedule(2 * bus_.timings().deskew_delay_ns, &ScsiTarget::reselect_release_sel);
        drive(sig::SEL | sig::BSY | sig::IO, driven_data_);
      }
      break;
    case State::Connected:
      handshake_on_bus(now);
      break;
    default:
      break;
  }
}

// --- Selection ---------------------------------------------------------------

void ScsiTarget::begin_selection_response() {
  if (ignoring_selection_) return;
  if (take_fault(Fault::Kind::NoSelectionResponse, std::nullopt)) {
    ignoring_selection_ = true;  // until SEL falls: one fault firing per selection
    return;
  }
  clock_.cancel(bus_free_timer_);
  state_ = State::SelectionRespond;
  schedule(bus_.timings().bus_settle_delay_ns + settings_.timings.selection_response_ns,
           &ScsiTarget::selection_assert_bsy);
}

void ScsiTarget::selection_assert_bsy() {
  const BusState& bus = bus_.state();
  if (!is_selection_of_us(bus)) {  // the initiator gave up meanwhile
    go_idle();
    return;
  }
  const auto others = static_cast<std::uint8_t>(bus.data & ~own_bit());
  selecting_initiator_bit_ = std::popcount(others) == 1 ? others : 0;
  if (selecting_initiator_bit_) last_initiator_bit_ = selecting_initiator_bit_;
  state_ = State::SelectionWaitSelRelease;
  drive(sig::BSY, 0);
}

void ScsiTarget::selection_complete(const BusState& bus) {
  Task task;
  task.initiator_bit = selecting_initiator_bit_;
  task.busy_only = disconnected_.has_value() && !disconnected_->phantom;
  current_ = std::move(task);
  if (take_fault(Fault::Kind::NeverRaiseReq, std::nullopt, std::nullopt)) {
    state_ = State::Hung;
    return;
  }
  if (take_fault(Fault::Kind::DropBsy, std::nullopt, std::nullopt)) {
    go_idle();
    return;
  }
  enter_phase(bus.has(sig::ATN) ? Phase::MessageOut : Phase::Command);
}

// --- Information transfer ----------------------------------------------------

void ScsiTarget::enter_phase(Phase phase) {
  state_ = State::Connected;
  phase_ = phase;
  handshake_ = Handshake::None;
  cancel_timer();
  const auto opcode = current_ ? current_->opcode() : std::nullopt;
  const auto lines = static_cast<std::uint16_t>(sig::BSY | phase_signals(phase));
  if (take_fault(Fault::Kind::NeverRaiseReq, opcode, phase)) {
    state_ = State::Hung;
    drive(lines, 0);
    return;
  }
  if (take_fault(Fault::Kind::DropBsy, opcode, phase)) {
    drop_connection();
    return;
  }
  handshake_ = Handshake::ReqDelay;
  schedule(settings_.timings.phase_change_ns, &ScsiTarget::raise_req);
  drive(lines, 0);
}

void ScsiTarget::raise_req() {
  if (phase_is_in(phase_)) {
    // The byte must be on the lines, deskewed, before REQ says it is there.
    handshake_ = Handshake::DataSettle;
    schedule(2 * bus_.timings().deskew_delay_ns + bus_.timings().cable_skew_ns,
             &ScsiTarget::assert_req);
    drive(driven_signals_, outgoing_byte());
  } else {
    assert_req();
  }
}

void ScsiTarget::assert_req() {
  handshake_ = Handshake::WaitAck;
  drive(driven_signals_ | sig::REQ, driven_data_);
}

void ScsiTarget::handshake_on_bus(const BusState& now) {
  if (handshake_ == Handshake::WaitAck && now.has(sig::ACK)) {
    latched_byte_ = phase_is_in(phase_) ? driven_data_ : now.data;
    handshake_ = Handshake::WaitAckRelease;
    drive(driven_signals_ & ~sig::REQ, driven_data_);
  } else if (handshake_ == Handshake::WaitAckRelease && !now.has(sig::ACK)) {
    handshake_ = Handshake::None;
    byte_done(latched_byte_);
  }
}

std::uint8_t ScsiTarget::outgoing_byte() const {
  const Task& task = *current_;
  switch (phase_) {
    case Phase::DataIn:
      // Bytes past the unit's data (ExtraData) count up from the position.
      return task.data_pos < task.outcome.data_in.size() ? task.outcome.data_in[task.data_pos]
                                                         : static_cast<std::uint8_t>(task.data_pos);
    case Phase::Status:
      return task.status_override.value_or(task.status);
    case Phase::MessageIn:
      return message_in_.empty() ? scsi::msg::NO_OPERATION : message_in_.front().byte;
    default:
      return 0;
  }
}

void ScsiTarget::continue_after_byte(bool more_in_phase) {
  if (bus_.state().has(sig::ATN)) {
    enter_phase(Phase::MessageOut);
  } else if (more_in_phase) {
    handshake_ = Handshake::ReqDelay;
    schedule(settings_.timings.req_interval_ns, &ScsiTarget::raise_req);
  } else {
    next_phase();
  }
}

void ScsiTarget::byte_done(std::uint8_t byte) {
  if (!current_) return;
  Task& task = *current_;
  switch (phase_) {
    case Phase::MessageOut:
      take_message_out(byte);
      break;
    case Phase::Command:
      task.cdb.push_back(byte);
      continue_after_byte(!task.cdb_complete());
      break;
    case Phase::DataIn:
    case Phase::DataOut:
      data_byte_done(byte);
      break;
    case Phase::Status:
      task.status_sent = true;
      continue_after_byte(false);
      break;
    case Phase::MessageIn:
      message_in_taken();
      break;
    default:
      break;
  }
}

void ScsiTarget::data_byte_done(std::uint8_t byte) {
  Task& task = *current_;
  if (phase_ == Phase::DataOut) {
    if (task.data_pos < task.outcome.data_out_bytes) task.data_out.push_back(byte);
    ++counters_.data_out_bytes;
  } else {
    ++counters_.data_in_bytes;
  }
  ++task.data_pos;
  const bool more = task.data_pos < task.data_limit;
  const DisconnectPolicy& policy = settings_.disconnect;
  const std::uint64_t chunk_bytes = std::uint64_t{policy.blocks} * task.outcome.block_bytes;
  if (more && task.may_disconnect && policy.kind == DisconnectPolicy::Kind::AfterBlocks &&
      chunk_bytes != 0 && task.data_pos - task.chunk_start >= chunk_bytes) {
    // Data has moved, so the initiator must save the pointer to resume here.
    queue_message(scsi::msg::SAVE_DATA_POINTER);
    queue_message(scsi::msg::DISCONNECT, AfterMessage::Disconnect);
    task.reselect_delay_ns = 0;
    continue_after_byte(false);
    return;
  }
  continue_after_byte(more);
}

void ScsiTarget::next_phase() {
  if (!current_) {
    go_idle();
    return;
  }
  if (bus_.state().has(sig::ATN)) {
    enter_phase(Phase::MessageOut);
    return;
  }
  if (!message_in_.empty()) {
    enter_phase(Phase::MessageIn);
    return;
  }
  Task& task = *current_;
  if (!task.cdb_complete()) {
    enter_phase(Phase::Command);
    return;
  }
  if (!task.executed) {
    state_ = State::UnitExecuting;
    schedule(settings_.timings.command_overhead_ns, &ScsiTarget::execute_command);
    return;
  }
  if (task.data_remaining()) {
    enter_phase(task.outcome.direction == DataDirection::Out ? Phase::DataOut : Phase::DataIn);
    return;
  }
  if (task.outcome.direction == DataDirection::Out && !task.data_out_delivered) {
    task.data_out_delivered = true;
    const DataOutResult result = unit(task.lun)->complete_data_out(task.cdb, task.data_out);
    task.status = result.status;
    state_ = State::UnitExecuting;
    schedule(result.latency_ns, &ScsiTarget::unit_latency_elapsed);
    return;
  }
  if (!task.status_sent) {
    if (task.complete_without_status) {
      task.status_sent = true;
    } else {
      enter_phase(Phase::Status);
      return;
    }
  }
  if (task.bus_free_without_complete || task.closing_queued) {
    go_idle();
    return;
  }
  task.closing_queued = true;
  for (std::uint8_t byte : task.extra_messages) queue_message(byte);
  queue_message(scsi::msg::COMMAND_COMPLETE, AfterMessage::Complete);
  enter_phase(Phase::MessageIn);
}

void ScsiTarget::queue_message(std::uint8_t byte, AfterMessage after) {
  message_in_.push_back(QueuedMessage{byte, after});
}

void ScsiTarget::message_in_taken() {
  const QueuedMessage message = message_in_.front();
  message_in_.pop_front();
  last_message_in_ = message.byte;
  const bool atn = bus_.state().has(sig::ATN);
  if (message.after == AfterMessage::Continue) {
    continue_after_byte(!message_in_.empty());
    return;
  }
  // The initiator may answer a DISCONNECT with MESSAGE REJECT: hear it out
  // first. The other final messages end the connection whatever it says.
  if (atn && message.after == AfterMessage::Disconnect) {
    after_message_out_ = message.after;
    enter_phase(Phase::MessageOut);
    return;
  }
  perform(message.after);
}

void ScsiTarget::perform(AfterMessage after) {
  switch (after) {
    case AfterMessage::Continue:
      next_phase();
      break;
    case AfterMessage::Disconnect:
      disconnect();
      break;
    case AfterMessage::Complete:
    case AfterMessage::Release:
      go_idle();
      break;
  }
}

void ScsiTarget::take_message_out(std::uint8_t byte) {
  const bool atn = bus_.state().has(sig::ATN);
  Task& task = *current_;
  if (!extended_message_.empty()) {
    extended_message_.push_back(byte);
    const std::size_t length = extended_message_[1] == 0 ? 256 : extended_message_[1];
    // No extended message (synchronous or wide transfer) is supported: the
    // initiator then knows the target stays asynchronous and narrow.
    if (extended_message_.size() >= 2 + length || !atn) {
      extended_message_.clear();
      queue_message(scsi::msg::MESSAGE_REJECT);
    }
  } else if (byte & scsi::msg::IDENTIFY) {
    if (task.cdb.empty()) {
      task.lun = byte & 0x07;
      task.lun_from_identify = true;
      task.may_disconnect = (byte & scsi::msg::IDENTIFY_DISCONNECT_PRIVILEGE) &&
                            task.initiator_bit != 0 &&
                            settings_.disconnect.kind != DisconnectPolicy::Kind::Never;
    }
  } else {
    switch (byte) {
      case scsi::msg::ABORT:
        if (task.executed && !task.busy_only && !task.phantom) {
          unit(task.lun)->abandon();
          ++counters_.abandoned_commands;
        }
        go_idle();
        return;
      case scsi::msg::BUS_DEVICE_RESET:
        if (disconnected_ && !disconnected_->phantom) ++counters_.abandoned_commands;
        disconnected_.reset();
        clock_.cancel(pending_timer_);
        reset_units();
        go_idle();
        return;
      case scsi::msg::MESSAGE_REJECT:
        // A rejected DISCONNECT keeps the connection; other rejections
        // change nothing for this target.
        if (last_message_in_ == scsi::msg::DISCONNECT) after_message_out_.reset();
        break;
      case scsi::msg::EXTENDED_MESSAGE:
        extended_message_.push_back(byte);
        break;
      // Nothing here has parity, so there is nothing to send again.
      case scsi::msg::INITIATOR_DETECTED_ERROR:
      case scsi::msg::MESSAGE_PARITY_ERROR:
      case scsi::msg::NO_OPERATION:
        break;
      default:
        queue_message(scsi::msg::MESSAGE_REJECT);
        break;
    }
  }
  if (atn) {
    continue_after_byte(true);
  } else {
    message_out_finished();
  }
}

void ScsiTarget::message_out_finished() {
  extended_message_.clear();
  if (after_message_out_) {
    const AfterMessage after = *after_message_out_;
    after_message_out_.reset();
    perform(after);
    return;
  }
  next_phase();
}

// --- Execution ---------------------------------------------------------------

void ScsiTarget::execute_command() {
  Task& task = *current_;
  if (!task.lun_from_identify) task.lun = static_cast<std::uint8_t>(task.cdb[1] >> 5);
  task.executed = true;
  if (task.busy_only) {
    // One task per target: another initiator's command waits its turn.
    task.status = scsi::status::BUSY;
    next_phase();
    return;
  }
  ++counters_.commands;
  task.outcome = unit(task.lun)->execute(task.cdb);
  task.status = task.outcome.status;
  switch (task.outcome.direction) {
    case DataDirection::In:
      task.data_limit = task.outcome.data_in.size();
      break;
    case DataDirection::Out:
      task.data_limit = task.outcome.data_out_bytes;
      break;
    case DataDirection::None:
      task.data_limit = 0;
      break;
  }
  arm_command_faults(task);
  if (task.may_disconnect) {
    // No data has moved yet: no pointer to save.
    task.reselect_delay_ns = task.outcome.latency_ns;
    queue_message(scsi::msg::DISCONNECT, AfterMessage::Disconnect);
    next_phase();
    return;
  }
  state_ = State::UnitExecuting;
  schedule(task.outcome.latency_ns, &ScsiTarget::unit_latency_elapsed);
}

void ScsiTarget::arm_command_faults(Task& task) {
  using Kind = Fault::Kind;
  const auto opcode = task.opcode();
  if (const Fault* f = take_fault(Kind::ExtraData, opcode);
      f && task.outcome.direction != DataDirection::Out) {
    task.outcome.direction = DataDirection::In;
    task.data_limit += f->bytes;
  }
  if (const Fault* f = take_fault(Kind::StayInDataOut, opcode);
      f && task.outcome.direction == DataDirection::Out) {
    task.data_limit += f->bytes != 0 ? f->bytes : kStayInDataOutDefaultBytes;
  }
  if (const Fault* f = take_fault(Kind::StopDataAfter, opcode)) {
    task.data_limit = std::min<std::size_t>(task.data_limit, f->bytes);
  }
  if (const Fault* f = take_fault(Kind::StatusByte, opcode)) task.status_override = f->status;
  if (const Fault* f = take_fault(Kind::MessageInBytes, opcode)) task.extra_messages = f->message;
  task.bus_free_without_complete = take_fault(Kind::BusFreeWithoutComplete, opcode) != nullptr;
  task.complete_without_status = take_fault(Kind::CompleteWithoutStatus, opcode) != nullptr;
}

// --- Disconnection and reselection -------------------------------------------

void ScsiTarget::disconnect() {
  Task task = std::move(*current_);
  current_.reset();
  task.ready_to_reselect = false;
  const TimeNs delay_ns = task.reselect_delay_ns;
  disconnected_ = std::move(task);
  clock_.cancel(pending_timer_);
  pending_timer_ = clock_.schedule_in(delay_ns, [this] { reselect_due(); });
  go_idle();
}

void ScsiTarget::reselect_due() {
  pending_timer_ = {};
  if (!disconnected_) return;
  disconnected_->ready_to_reselect = true;
  // While connected for someone else the reselection waits for go_idle.
  if (state_ == State::Disconnected || state_ == State::ReselectRetryWait ||
      state_ == State::Idle) {
    state_ = State::ReselectWaitBusFree;
    wait_bus_free_for_reselection();
  }
}

void ScsiTarget::wait_bus_free_for_reselection() {
  const BusState& bus = bus_.state();
  if (bus.any(sig::BSY | sig::SEL | sig::RST)) {
    // BSY rising at the very instant our bus-free delay ends is another
    // device starting to arbitrate with us: both go ahead, the higher ID wins.
    const bool arbitrating_with_us = clock_.pending(bus_free_timer_) &&
                                     bus_free_timer_.when_ns <= clock_.now_ns() &&
                                     !bus.any(sig::SEL | sig::RST);
    if (!arbitrating_with_us) clock_.cancel(bus_free_timer_);
  } else if (!clock_.pending(bus_free_timer_)) {
    bus_free_timer_ = clock_.schedule_in(bus_.timings().bus_free_delay_ns, [this] {
      bus_free_timer_ = {};
      reselect_bus_free_elapsed();
    });
  }
}

void ScsiTarget::reselect_bus_free_elapsed() {
  if (state_ != State::ReselectWaitBusFree) return;
  if (bus_.state().any(sig::SEL | sig::RST)) return;  // a change re-arms the wait
  state_ = State::ReselectArbitrating;
  schedule(bus_.timings().arbitration_delay_ns, &ScsiTarget::reselect_arbitration_evaluate);
  drive(sig::BSY, own_bit());
}

void ScsiTarget::reselect_arbitration_evaluate() {
  const BusState& bus = bus_.state();
  const auto higher_ids = static_cast<std::uint8_t>(0xFF << (settings_.id + 1));
  if (bus.has(sig::SEL) || (bus.data & higher_ids)) {
    reselect_lost();
    return;
  }
  state_ = State::ReselectSelecting;
  schedule(bus_.timings().bus_clear_delay_ns + bus_.timings().bus_settle_delay_ns,
           &ScsiTarget::reselect_drive_ids);
  drive(sig::BSY | sig::SEL, own_bit());
}

void ScsiTarget::reselect_drive_ids() {
  schedule(2 * bus_.timings().deskew_delay_ns, &ScsiTarget::reselect_release_bsy);
  drive(sig::BSY | sig::SEL | sig::IO, own_bit() | disconnected_->initiator_bit);
}

void ScsiTarget::reselect_release_bsy() {
  state_ = State::ReselectWaitAnswer;
  schedule(bus_.timings().selection_timeout_ns, &ScsiTarget::reselect_timeout);
  drive(sig::SEL | sig::IO, driven_data_);
}

void ScsiTarget::reselect_timeout() {
  ++counters_.reselection_timeouts;
  Task& task = *disconnected_;
  ++task.reselection_attempts;
  if (task.reselection_attempts < settings_.timings.reselection_attempts) {
    state_ = State::ReselectRetryWait;
    clock_.cancel(pending_timer_);
    pending_timer_ =
        clock_.schedule_in(settings_.timings.reselection_retry_ns, [this] { reselect_due(); });
    release_bus();
    return;
  }
  // Nobody claims the command: give it up.
  if (!task.phantom) {
    unit(task.lun)->abandon();
    ++counters_.abandoned_commands;
  }
  disconnected_.reset();
  go_idle();
}

void ScsiTarget::reselect_release_sel() {
  Task& task = *current_;
  queue_message(static_cast<std::uint8_t>(scsi::msg::IDENTIFY | task.lun),
                task.phantom ? AfterMessage::Release : AfterMessage::Continue);
  state_ = State::Connected;
  drive(sig::BSY | sig::IO, 0);
  enter_phase(Phase::MessageIn);
}

void ScsiTarget::reselect_lost() {
  state_ = State::ReselectWaitBusFree;
  cancel_timer();
  release_bus();
  wait_bus_free_for_reselection();
}

void ScsiTarget::phantom_reselect_due() {
  if (disconnected_ || !(state_ == State::Idle)) {
    phantom_due_ = true;  // go_idle starts it once nothing else is pending
    return;
  }
  Task task;
  task.phantom = true;
  task.initiator_bit = last_initiator_bit_;
  task.ready_to_reselect = true;
  task.executed = true;
  disconnected_ = std::move(task);
  state_ = State::ReselectWaitBusFree;
  wait_bus_free_for_reselection();
}

// --- Ending ------------------------------------------------------------------

void ScsiTarget::go_idle() {
  cancel_timer();
  handshake_ = Handshake::None;
  message_in_.clear();
  after_message_out_.reset();
  extended_message_.clear();
  current_.reset();
  if (disconnected_ && disconnected_->ready_to_reselect) {
    state_ = State::ReselectWaitBusFree;
  } else if (disconnected_) {
    state_ = State::Disconnected;
  } else {
    state_ = State::Idle;
  }
  release_bus();
  if (state_ == State::ReselectWaitBusFree) {
    wait_bus_free_for_reselection();
  } else if (state_ == State::Idle && phantom_due_) {
    phantom_due_ = false;
    phantom_reselect_due();
  }
}

void ScsiTarget::drop_connection() {
  if (current_ && current_->executed && !current_->busy_only && !current_->phantom) {
    unit(current_->lun)->abandon();
    ++counters_.abandoned_commands;
  }
  go_idle();
}

void ScsiTarget::bus_reset() {
  if ((current_ && !current_->phantom) || (disconnected_ && !disconnected_->phantom)) {
    counters_.abandoned_commands += (current_ ? 1 : 0) + (disconnected_ ? 1 : 0);
  }
  cancel_timer();
  clock_.cancel(pending_timer_);
  clock_.cancel(bus_free_timer_);
  current_.reset();
  disconnected_.reset();
  message_in_.clear();
  after_message_out_.reset();
  extended_message_.clear();
  handshake_ = Handshake::None;
  ignoring_selection_ = false;
  state_ = State::BusReset;
  release_bus();
  reset_units();
}

void ScsiTarget::reset_units() {
  for (auto& unit : units_) unit->reset();
}

const char* ScsiTarget::state_name() const {
  switch (state_) {
    case State::Idle:
      return "idle";
    case State::BusReset:
      return "bus_reset";
    case State::SelectionRespond:
      return "selection_respond";
    case State::SelectionWaitSelRelease:
      return "selection_wait_sel_release";
    case State::Connected:
      switch (phase_) {
        case Phase::DataOut:
          return "data_out";
        case Phase::DataIn:
          return "data_in";
        case Phase::Command:
          return "command";
        case Phase::Status:
          return "status";
        case Phase::MessageOut:
          return "message_out";
        case Phase::MessageIn:
          return "message_in";
        default:
          return "reserved_phase";
      }
    case State::UnitExecuting:
      return "unit_executing";
    case State::Hung:
      return "hung";
    case State::Disconnected:
      return "disconnected";
    case State::ReselectRetryWait:
      return "reselect_retry_wait";
    case State::ReselectWaitBusFree:
      return "reselect_wait_bus_free";
    case State::ReselectArbitrating:
      return "reselect_arbitrating";
    case State::ReselectSelecting:
      return "reselect_selecting";
    case State::ReselectWaitAnswer:
      return "reselect_wait_answer";
    case State::ReselectAnswered:
      return "reselect_answered";
  }
  return "?";
}

}  // namespace qzr::hw
