// The target side of the SCSI-2 bus protocol for one SCSI ID and up to eight
// logical units.
//
// How a command lives here:
//   idle --selection--> selection_respond --BSY--> selection_wait_sel_release
//   --> [message_out: IDENTIFY ...] --> command --> unit_executing
//   --> [disconnect: DISCONNECT, bus free; the task waits in `disconnected_`
//        while the unit works, then reselect_* arbitrates and reselects,
//        IDENTIFY in Message In] --> data_in / data_out
//   --> [every N blocks: SAVE DATA POINTER, DISCONNECT, reselect, go on]
//   --> status --> message_in COMMAND COMPLETE --> bus free.
// What comes next on a connection is decided from the task's progress
// (`next_phase`), so a detour to Message Out (ATN) or a reselection resumes
// exactly where the task stood. The data pointer lives in the task: a
// reselection continues from the byte after the last SAVE DATA POINTER,
// which is also the last byte moved, since this target saves the pointer
// only at the block boundary where it disconnects.
//
// Every wait is an event on the clock or a bus change; nothing polls. A
// target waiting for an initiator's ACK (or anything else from it) waits
// with nothing scheduled, as a real target does: only the initiator, or a
// bus reset, can end that wait. Reselection waits are bounded by the
// selection time-out and the retry budget.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "hw/clock.h"
#include "hw/scsi_bus.h"
#include "hw/targets/logical_unit.h"
#include "hw/targets/target_settings.h"

namespace qzr::hw {

// Read-only view for tests and tools.
struct TargetStatus {
  const char* state = "";
  bool connected = false;          // on the bus with a task
  bool command_pending = false;    // a task is disconnected, awaiting the unit or a reselection
  std::uint64_t commands = 0;      // commands handed to a logical unit
  std::uint64_t reselections = 0;  // reselections the initiator answered
  std::uint64_t reselection_timeouts = 0;
  std::uint64_t abandoned_commands = 0;  // given up, aborted, dropped by a reset
  std::uint64_t data_in_bytes = 0;       // sent to the initiator in Data In
  std::uint64_t data_out_bytes = 0;      // taken from the initiator in Data Out
};

class ScsiTarget final : public BusAgent {
 public:
  static constexpr std::size_t kMaxLuns = 8;
  using Units = std::array<std::unique_ptr<LogicalUnit>, kMaxLuns>;

  // StayInDataOut without a byte count asks for this many more bytes before
  // it gives up and sends the status.
  static constexpr std::uint32_t kStayInDataOutDefaultBytes = 64 * 1024;

  // Null entries in `units` are LUNs that do not exist (AbsentLun).
  ScsiTarget(Clock& clock, ScsiBus& bus, TargetSettings settings, Units units);
  ~ScsiTarget() override;
  ScsiTarget(const ScsiTarget&) = delete;
  ScsiTarget& operator=(const ScsiTarget&) = delete;

  std::uint8_t id() const { return settings_.id; }
  // Never null for lun < 8: an absent LUN answers through an AbsentLun.
  LogicalUnit* unit(std::size_t lun) const;
  TargetStatus status() const;
  const TargetSettings& settings() const { return settings_; }
  // Scripts one more fault from now on, e.g. once the initiator has scanned
  // the bus; it counts its firings from zero.
  void add_fault(const Fault& fault);

  void on_bus_change(const BusState& before, const BusState& now) override;

 private:
  enum class State : std::uint8_t {
    Idle,
    BusReset,
    SelectionRespond,
    SelectionWaitSelRelease,
    Connected,  // in an information-transfer phase (see phase_, handshake_)
    UnitExecuting,
    Hung,  // NeverRaiseReq: holds the bus, asks for nothing
    Disconnected,
    ReselectRetryWait,
    ReselectWaitBusFree,
    ReselectArbitrating,
    ReselectSelecting,
    ReselectWaitAnswer,
    ReselectAnswered,
  };
  enum class Handshake : std::uint8_t { None, ReqDelay, DataSettle, WaitAck, WaitAckRelease };
  // What follows a Message In byte once it has been taken.
  enum class AfterMessage : std::uint8_t { Continue, Disconnect, Complete, Release };

  struct QueuedMessage {
    std::uint8_t byte = 0;
    AfterMessage after = AfterMessage::Continue;
  };

  struct Task {
    std::uint8_t initiator_bit = 0;  // 0: single-initiator selection, no reselection
    std::uint8_t lun = 0;
    bool lun_from_identify = false;
    bool may_disconnect = false;
    bool busy_only = false;  // selected while another task is pending: answers BUSY
    bool phantom = false;    // ReselectWithoutCommand: nothing behind it
    std::vector<std::uint8_t> cdb;
    bool executed = false;
    CommandOutcome outcome;
    std::uint8_t status = 0;
    std::size_t data_limit = 0;  // bytes the data phase moves, faults included
    std::size_t data_pos = 0;
    std::size_t chunk_start = 0;  // data_pos at the last (re)connection for data
    std::vector<std::uint8_t> data_out;
    bool data_out_delivered = false;
    bool status_sent = false;
    bool closing_queued = false;
    TimeNs reselect_delay_ns = 0;
    bool ready_to_reselect = false;
    std::uint32_t reselection_attempts = 0;
    // Faults that shape this command, taken when it was executed.
    std::optional<std::uint8_t> status_override;
    std::vector<std::uint8_t> extra_messages;
    bool bus_free_without_complete = false;
    bool complete_without_status = false;

    std::size_t cdb_length() const;
    bool cdb_complete() const { return !cdb.empty() && cdb.size() >= cdb_length(); }
    bool data_remaining() const { return executed && data_pos < data_limit; }
    std::optional<std::uint8_t> opcode() const {
      return cdb.empty() ? std::nullopt : std::optional<std::uint8_t>(cdb[0]);
    }
  };

  using Step = void (ScsiTarget::*)();

  // Driving the bus.
  void drive(std::uint16_t signals, std::uint8_t data);
  void release_bus() { drive(0, 0); }
  void schedule(TimeNs delay_ns, Step step);
  void cancel_timer() { clock_.cancel(timer_); }
  std::uint8_t own_bit() const { return static_cast<std::uint8_t>(1u << settings_.id); }
  bool is_selection_of_us(const BusState& bus) const;
  bool idle_on_bus() const;

  // Selection.
  void begin_selection_response();
  void selection_assert_bsy();
  void selection_complete(const BusState& bus);

  // Information transfer.
  void enter_phase(Phase phase);
  void raise_req();
  void assert_req();
  void handshake_on_bus(const BusState& now);
  void byte_done(std::uint8_t byte);
  void continue_after_byte(bool more_in_phase);
  std::uint8_t outgoing_byte() const;
  void next_phase();
  void take_message_out(std::uint8_t byte);
  void message_out_finished();
  void message_in_taken();
  void queue_message(std::uint8_t byte, AfterMessage after = AfterMessage::Continue);
  void data_byte_done(std::uint8_t byte);
  void perform(AfterMessage after);

  // Execution.
  void execute_command();
  void unit_latency_elapsed() { next_phase(); }
  void arm_command_faults(Task& task);

  // Disconnection and reselection.
  void disconnect();
  void reselect_due();
  void wait_bus_free_for_reselection();
  void reselect_bus_free_elapsed();
  void reselect_arbitration_evaluate();
  void reselect_drive_ids();
  void reselect_release_bsy();
  void reselect_timeout();
  void reselect_release_sel();
  void reselect_lost();
  void phantom_reselect_due();

  // Ending.
  void go_idle();
  void drop_connection();
  void bus_reset();
  void reset_units();

  const Fault* take_fault(Fault::Kind kind, std::optional<std::uint8_t> opcode,
                          std::optional<Phase> phase = std::nullopt);
  const char* state_name() const;

  Clock& clock_;
  ScsiBus& bus_;
  ScsiBus::AgentId agent_;
  TargetSettings settings_;
  Units units_;
  std::vector<std::uint32_t> fault_firings_;    // per settings_.faults entry
  std::vector<Clock::EventId> phantom_timers_;  // scripted reselections with nothing pending

  State state_ = State::Idle;
  Phase phase_ = Phase::DataOut;
  Handshake handshake_ = Handshake::None;
  std::uint8_t latched_byte_ = 0;
  std::uint16_t driven_signals_ = 0;
  std::uint8_t driven_data_ = 0;
  Clock::EventId timer_;           // the connection's or reselection's next step
  Clock::EventId pending_timer_;   // the disconnected task's unit latency or retry
  Clock::EventId bus_free_timer_;  // bus free long enough to arbitrate

  std::optional<Task> current_;
  std::optional<Task> disconnected_;
  std::deque<QueuedMessage> message_in_;
  std::optional<AfterMessage> after_message_out_;  // a final message ATN interrupted
  std::uint8_t last_message_in_ = 0;
  std::vector<std::uint8_t> extended_message_;  // being taken in Message Out
  bool ignoring_selection_ = false;
  bool phantom_due_ = false;
  std::uint8_t selecting_initiator_bit_ = 0;
  // Whom a reselection with nothing pending goes to: the last initiator
  // seen, ID 7 before any.
  std::uint8_t last_initiator_bit_ = 0x80;

  TargetStatus counters_;
};

}  // namespace qzr::hw
