// A SCSI-2 initiator for tests: drives the bus lines itself, the way a host
// adapter's firmware would, and lets virtual time pass while it waits. Every
// wait has a limit in virtual time; a wait that runs out is reported, never
// retried forever.
//
// `run_command` carries one command from arbitration to bus free, following
// disconnections and reselections; the step methods (arbitrate, select,
// send_byte, ...) are there for tests that need to misbehave between steps.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "hw/clock.h"
#include "hw/scsi_bus.h"
#include "hw/targets/scsi_defs.h"

namespace qzr::hw::testing {

class TestInitiator final : public BusAgent {
 public:
  struct Limits {
    // For the target's next REQ (or bus free) within a connection.
    TimeNs phase_wait_ns = 1 * kNsPerS;
    // For a reselection after a DISCONNECT.
    TimeNs reselection_wait_ns = 2 * kNsPerS;
    // For the bus to become free before arbitrating.
    TimeNs bus_free_wait_ns = 1 * kNsPerS;
    // Handshakes in one run_command: stops a target that never lets go.
    std::size_t max_transfers = 1 << 20;
  };

  struct Options {
    bool identify = true;  // select with ATN and send IDENTIFY
    // Sent in the same Message Out phase after IDENTIFY.
    std::vector<std::uint8_t> messages_after_identify;
    // Raise ATN before acknowledging this data byte (counted from the start
    // of the data) and send `atn_messages` when the target asks.
    std::optional<std::size_t> atn_at_data_byte;
    std::vector<std::uint8_t> atn_messages;
    // Raise ATN before acknowledging the first message byte equal to this,
    // and send `atn_messages`.
    std::optional<std::uint8_t> atn_on_message;
    bool answer_reselection = true;
  };

  enum class Arbitration : std::uint8_t { Won, Lost, BusNeverFree };

  struct Result {
    bool arbitration_won = false;
    bool selected = false;
    std::optional<std::uint8_t> status;
    std::vector<std::uint8_t> data_in;
    std::vector<std::uint8_t> messages;  // every Message In byte, in order
    std::vector<Phase> phases;           // each phase the target entered, in order
    std::size_t data_out_sent = 0;       // Data Out bytes acknowledged
    std::size_t data_out_overrun = 0;    // ... of which past the end of data_out
    std::uint32_t disconnects = 0;
    std::uint32_t reselections = 0;
    bool command_complete = false;  // COMMAND COMPLETE, then bus free
    bool unexpected_bus_free = false;
    bool timed_out = false;              // the target stopped asking, BSY still on
    bool reselection_timed_out = false;  // disconnected and never came back
  };

  TestInitiator(Clock& clock, ScsiBus& bus, std::uint8_t id = 7)
      : clock_(clock), bus_(bus), id_(id), agent_(bus.attach("initiator", this)) {}
  ~TestInitiator() override { bus_.detach(agent_); }
  TestInitiator(const TestInitiator&) = delete;
  TestInitiator& operator=(const TestInitiator&) = delete;

  void on_bus_change(const BusState&, const BusState&) override {}

  std::uint8_t id() const { return id_; }
  std::uint8_t own_bit() const { return static_cast<std::uint8_t>(1u << id_); }
  Limits& limits() { return limits_; }
  const BusState& bus() const { return bus_.state(); }

  // --- Waiting ---------------------------------------------------------------

  // Lets virtual time pass, event by event, until `condition` holds or
  // `limit_ns` has passed. Each round runs one event or reaches the limit.
  bool wait_until(const std::function<bool()>& condition, TimeNs limit_ns) {
    const TimeNs deadline_ns = clock_.now_ns() + limit_ns;
    while (!condition()) {
      if (clock_.now_ns() >= deadline_ns) return false;
      if (!clock_.run_next_event(deadline_ns)) return condition();
    }
    return true;
  }
  void pass(TimeNs delay_ns) { clock_.advance_by(delay_ns); }

  bool bus_is_free() const { return !bus().any(sig::BSY | sig::SEL | sig::RST); }

  // Waits until BSY and SEL have been false for a bus-free delay.
  bool wait_bus_free(TimeNs limit_ns) {
    const TimeNs deadline_ns = clock_.now_ns() + limit_ns;
    // Each round ends with the bus free long enough or busy again; a busy
    // bus must go free before the next round, so rounds are bounded by the
    // deadline.
    while (clock_.now_ns() < deadline_ns) {
      if (!wait_until([this] { return bus_is_free(); }, deadline_ns - clock_.now_ns()))
        return false;
      const TimeNs free_at_ns = clock_.now_ns() + timings().bus_free_delay_ns;
      if (!wait_until([this] { return !bus_is_free(); }, timings().bus_free_delay_ns)) return true;
      // BSY rising just as the delay ends is another device arbitrating at
      // the same moment: SCSI-2 lets both go ahead.
      if (clock_.now_ns() >= free_at_ns && !bus().any(sig::SEL | sig::RST)) return true;
    }
    return false;
  }

  // --- Arbitration and selection ----------------------------------------------

  // Arbitration in two halves so a test can let another agent act in
  // between: start_arbitration puts BSY and our ID on the bus (the bus must
  // have been found free), finish_arbitration lets the arbitration delay pass
  // and decides.
  void start_arbitration() { drive(sig::BSY, own_bit()); }
  Arbitration finish_arbitration() {
    pass(timings().arbitration_delay_ns);
    const auto higher_ids = static_cast<std::uint8_t>(0xFF << (id_ + 1));
    if (bus().has(sig::SEL) || (bus().data & higher_ids)) {
      release_all();
      return Arbitration::Lost;
    }
    drive(sig::BSY | sig::SEL, own_bit());
    return Arbitration::Won;
  }
  Arbitration arbitrate() {
    if (!wait_bus_free(limits_.bus_free_wait_ns)) return Arbitration::BusNeverFree;
    start_arbitration();
    return finish_arbitration();
  }

  // After winning arbitration: selects `target` (with ATN if asked) and
  // waits up to the selection time-out for its BSY. On a time-out the
  // selection is aborted and the bus released.
  bool select(std::uint8_t target, bool with_atn) {
    const std::uint16_t atn = with_atn ? sig::ATN : 0;
    pass(timings().bus_clear_delay_ns + timings().bus_settle_delay_ns);
    drive(sig::BSY | sig::SEL | atn, static_cast<std::uint8_t>(own_bit() | (1u << target)));
    pass(2 * timings().deskew_delay_ns);
    drive(sig::SEL | atn, data_);
    pass(timings().bus_settle_delay_ns);
    if (!wait_until([this] { return bus().has(sig::BSY); }, timings().selection_timeout_ns)) {
      drive(sig::SEL | atn, 0);
      const bool late =
          wait_until([this] { return bus().has(sig::BSY); }, timings().selection_abort_time_ns);
      if (!late) {
        release_all();
        return false;
      }
    }
    pass(2 * timings().deskew_delay_ns);
    drive(atn, 0);
    return true;
  }

  // Waits for a reselection of us and answers it: asserts BSY, waits for the
  // target to release SEL, releases BSY. Returns the reselecting target's ID.
  std::optional<std::uint8_t> answer_reselection(TimeNs limit_ns) {
    const auto reselecting = [this] {
      const BusState& b = bus();
      return b.has(sig::SEL | sig::IO) && !b.has(sig::BSY) && (b.data & own_bit());
    };
    if (!wait_until(reselecting, limit_ns)) return std::nullopt;
    const auto others = static_cast<std::uint8_t>(bus().data & ~own_bit());
    drive(sig::BSY, 0);
    const bool sel_released =
        wait_until([this] { return !bus().has(sig::SEL); }, timings().selection_timeout_ns);
    drive(0, 0);
    if (!sel_released || others == 0) return std::nullopt;
    return static_cast<std::uint8_t>(std::countr_zero(others));
  }

  // --- Information transfer ------------------------------------------------------

  bool wait_req(TimeNs limit_ns) {
    return wait_until([this] { return bus().has(sig::REQ); }, limit_ns);
  }
  Phase phase() const { return bus().phase(); }

  // With REQ asserted in a phase the target drives: takes the byte.
  // Returns nothing when the target never released REQ.
  std::optional<std::uint8_t> receive_byte() {
    const std::uint8_t byte = bus().data;
    drive(signals_ | sig::ACK, 0);
    const bool released =
        wait_until([this] { return !bus().has(sig::REQ); }, limits_.phase_wait_ns);
    drive(signals_ & ~sig::ACK, 0);
    if (!released) return std::nullopt;
    return byte;
  }

  // With REQ asserted in a phase we drive: sends `byte`. ATN, if asked, is
  // released before ACK so the target sees the last message byte as last.
  bool send_byte(std::uint8_t byte, bool release_atn = false) {
    drive(signals_, byte);
    pass(2 * timings().deskew_delay_ns + timings().cable_skew_ns);
    if (release_atn) drive(signals_ & ~sig::ATN, byte);
    drive(signals_ | sig::ACK, byte);
    const bool released =
        wait_until([this] { return !bus().has(sig::REQ); }, limits_.phase_wait_ns);
    drive(signals_ & ~sig::ACK, 0);
    return released;
  }

  void assert_atn() { drive(signals_ | sig::ATN, data_); }
  void release_atn() { drive(signals_ & ~sig::ATN, data_); }
  void release_all() { drive(0, 0); }

  // Asserts RST for the reset hold time, then releases every line.
  void reset_bus() {
    drive(sig::RST, 0);
    pass(timings().reset_hold_time_ns);
    release_all();
  }

  // --- One whole command -----------------------------------------------------------

  Result run_command(std::uint8_t target, std::uint8_t lun, std::span<const std::uint8_t> cdb,
                     std::span<const std::uint8_t> data_out = {}, bool allow_disconnect = false) {
    return run_command(target, lun, cdb, data_out, allow_disconnect, Options());
  }
  Result run_command(std::uint8_t target, std::uint8_t lun, std::span<const std::uint8_t> cdb,
                     std::span<const std::uint8_t> data_out, bool allow_disconnect,
                     const Options& options) {
    Result r;
    if (arbitrate() != Arbitration::Won) return r;
    r.arbitration_won = true;
    if (!select(target, options.identify)) return r;
    r.selected = true;

    std::vector<std::uint8_t> out_messages;
    if (options.identify) {
      std::uint8_t identify = scsi::msg::IDENTIFY | (lun & 0x07);
      if (allow_disconnect) identify |= scsi::msg::IDENTIFY_DISCONNECT_PRIVILEGE;
      out_messages.push_back(identify);
      out_messages.insert(out_messages.end(), options.messages_after_identify.begin(),
                          options.messages_after_identify.end());
    }
    std::size_t out_message_pos = 0;
    std::size_t command_pos = 0;
    std::size_t data_pos = 0;  // current data pointer
    std::size_t saved_pos = 0;
    bool expecting_reselection = false;
    bool atn_raised_in_data = false;
    bool atn_raised_on_message = false;
    int last_phase = -1;  // none yet, or since the last reselection

    const auto raise_atn_with = [&](const std::vector<std::uint8_t>& messages) {
      out_messages = messages;
      out_message_pos = 0;
      assert_atn();
    };

    for (std::size_t transfer = 0; transfer < limits_.max_transfers; ++transfer) {
      if (!wait_until([this] { return bus().has(sig::REQ) || !bus().has(sig::BSY); },
                      limits_.phase_wait_ns)) {
        r.timed_out = true;
        break;
      }
      if (!bus().has(sig::BSY)) {
        release_all();
        if (r.command_complete) break;
        if (!expecting_reselection) {
          r.unexpected_bus_free = true;
          break;
        }
        if (!options.answer_reselection) break;
        const auto who = answer_reselection(limits_.reselection_wait_ns);
        if (!who || *who != target) {
          r.reselection_timed_out = true;
          break;
        }
        ++r.reselections;
        expecting_reselection = false;
        data_pos = saved_pos;  // a reselection restores the pointers
        last_phase = -1;
        continue;
      }
      const Phase now = phase();
      if (static_cast<int>(now) != last_phase) r.phases.push_back(now);
      last_phase = static_cast<int>(now);
      switch (now) {
        case Phase::MessageOut: {
          const std::uint8_t byte = out_message_pos < out_messages.size()
                                        ? out_messages[out_message_pos++]
                                        : scsi::msg::NO_OPERATION;
          if (!send_byte(byte, out_message_pos >= out_messages.size())) r.timed_out = true;
          break;
        }
        case Phase::Command: {
          const std::uint8_t byte = command_pos < cdb.size() ? cdb[command_pos] : 0;
          ++command_pos;
          if (!send_byte(byte)) r.timed_out = true;
          break;
        }
        case Phase::DataOut: {
          const bool overrun = data_pos >= data_out.size();
          if (options.atn_at_data_byte == data_pos && !atn_raised_in_data) {
            atn_raised_in_data = true;
            raise_atn_with(options.atn_messages);
          }
          if (!send_byte(overrun ? 0 : data_out[data_pos])) r.timed_out = true;
          ++data_pos;
          ++r.data_out_sent;
          if (overrun) ++r.data_out_overrun;
          break;
        }
        case Phase::DataIn: {
          if (options.atn_at_data_byte == data_pos && !atn_raised_in_data) {
            atn_raised_in_data = true;
            raise_atn_with(options.atn_messages);
          }
          const auto byte = receive_byte();
          if (!byte) {
            r.timed_out = true;
            break;
          }
          if (data_pos < r.data_in.size()) {
            r.data_in[data_pos] = *byte;
          } else {
            r.data_in.push_back(*byte);
          }
          ++data_pos;
          break;
        }
        case Phase::Status: {
          const auto byte = receive_byte();
          if (!byte) r.timed_out = true;
          r.status = byte;
          break;
        }
        case Phase::MessageIn: {
          const std::uint8_t seen = bus().data;
          if (options.atn_on_message == seen && !atn_raised_on_message) {
            atn_raised_on_message = true;
            raise_atn_with(options.atn_messages);
          }
          const auto byte = receive_byte();
          if (!byte) {
            r.timed_out = true;
            break;
          }
          r.messages.push_back(*byte);
          switch (*byte) {
            case scsi::msg::COMMAND_COMPLETE:
              r.command_complete = true;
              break;
            case scsi::msg::SAVE_DATA_POINTER:
              saved_pos = data_pos;
              break;
            case scsi::msg::RESTORE_POINTERS:
              data_pos = saved_pos;
              break;
            case scsi::msg::DISCONNECT:
              ++r.disconnects;
              expecting_reselection = true;
              break;
            default:
              break;
          }
          break;
        }
        default:
          r.timed_out = true;
          break;
      }
      if (r.timed_out) break;
    }
    if (r.command_complete) {
      wait_until([this] { return !bus().has(sig::BSY); }, limits_.phase_wait_ns);
    }
    release_all();
    return r;
  }

 private:
  const BusTimings& timings() const { return bus_.timings(); }
  void drive(std::uint16_t signals, std::uint8_t data) {
    signals_ = signals;
    data_ = data;
    bus_.drive(agent_, signals, data);
  }

  Clock& clock_;
  ScsiBus& bus_;
  std::uint8_t id_;
  ScsiBus::AgentId agent_;
  Limits limits_;
  std::uint16_t signals_ = 0;
  std::uint8_t data_ = 0;
};

}  // namespace qzr::hw::testing
