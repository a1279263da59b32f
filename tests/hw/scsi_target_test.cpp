#include "hw/targets/scsi_target.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "hw/targets/other_initiator.h"
#include "tests/hw/test_initiator.h"

namespace qzr::hw {
namespace {

using testing::TestInitiator;
using Bytes = std::vector<std::uint8_t>;
namespace msg = scsi::msg;

// A logical unit that shows what the target did with it: READ(6)/READ(10)
// return a counting pattern, WRITE(6) takes bytes, TEST UNIT READY and the
// 12-byte group succeed with no data, anything else is refused.
class PatternUnit : public LogicalUnit {
 public:
  static std::uint8_t pattern(std::size_t i) { return static_cast<std::uint8_t>(i * 7 + 1); }
  static Bytes pattern_bytes(std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = pattern(i);
    return out;
  }

  std::uint32_t block_bytes = 16;
  TimeNs latency_ns = 0;
  std::vector<Bytes> cdbs;
  Bytes written;
  int resets = 0;
  int abandons = 0;

  std::uint8_t device_type() const override { return scsi::device_type::DIRECT_ACCESS; }

  CommandOutcome execute(std::span<const std::uint8_t> cdb) override {
    cdbs.emplace_back(cdb.begin(), cdb.end());
    CommandOutcome o;
    o.latency_ns = latency_ns;
    o.block_bytes = block_bytes;
    switch (cdb[0]) {
      case scsi::op::TEST_UNIT_READY:
        return o;
      case scsi::op::READ_6:
      case scsi::op::READ_10: {
        const std::size_t blocks = cdb[0] == scsi::op::READ_6 ? cdb[4] : cdb[8];
        o.direction = DataDirection::In;
        o.data_in = pattern_bytes(blocks * block_bytes);
        return o;
      }
      case scsi::op::WRITE_6:
        o.direction = DataDirection::Out;
        o.data_out_bytes = cdb[4] * block_bytes;
        return o;
      default:
        if (cdb[0] >> 5 == 5 || cdb[0] >> 5 == 2) return o;  // 12- and 10-byte groups
        return CommandOutcome::check_condition();
    }
  }
  DataOutResult complete_data_out(std::span<const std::uint8_t>,
                                  std::span<const std::uint8_t> data) override {
    written.assign(data.begin(), data.end());
    return {};
  }
  void reset() override { ++resets; }
  void abandon() override { ++abandons; }
};

const Bytes kTestUnitReady{scsi::op::TEST_UNIT_READY, 0, 0, 0, 0, 0};
Bytes read6(std::uint8_t blocks, std::uint8_t lun_bits = 0) {
  return {scsi::op::READ_6, lun_bits, 0, 0, blocks, 0};
}
Bytes write6(std::uint8_t blocks) {
  return {scsi::op::WRITE_6, 0, 0, 0, blocks, 0};
}

constexpr std::uint8_t kTargetId = 3;

// Faults read as sentences: FaultScript(Kind::DropBsy).in(Phase::DataIn).
struct FaultScript {
  Fault fault;
  explicit FaultScript(Fault::Kind kind) { fault.kind = kind; }
  FaultScript& opcode(std::uint8_t v) { return fault.opcode = v, *this; }
  FaultScript& in(Phase v) { return fault.phase = v, *this; }
  FaultScript& bytes(std::uint32_t v) { return fault.bytes = v, *this; }
  FaultScript& status(std::uint8_t v) { return fault.status = v, *this; }
  FaultScript& message(Bytes v) { return fault.message = std::move(v), *this; }
  FaultScript& times(std::uint32_t v) { return fault.times = v, *this; }
  FaultScript& at(TimeNs v) { return fault.at_ns = v, *this; }
  operator Fault() const { return fault; }
};

TestInitiator::Options without_identify() {
  TestInitiator::Options o;
  o.identify = false;
  return o;
}
TestInitiator::Options without_reselection_answer() {
  TestInitiator::Options o;
  o.answer_reselection = false;
  return o;
}

class TargetTest : public ::testing::Test {
 protected:
  // Builds the target with units at the given LUNs; the rest are absent.
  ScsiTarget& make_target(TargetSettings settings = {}, std::vector<std::uint8_t> luns = {0}) {
    settings.id = kTargetId;
    ScsiTarget::Units units;
    for (std::uint8_t lun : luns) {
      auto unit = std::make_unique<PatternUnit>();
      this->units[lun] = unit.get();
      units[lun] = std::move(unit);
    }
    target = std::make_unique<ScsiTarget>(clock, bus, std::move(settings), std::move(units));
    return *target;
  }
  static TargetSettings with_faults(std::vector<Fault> faults) {
    TargetSettings s;
    s.faults = std::move(faults);
    return s;
  }
  PatternUnit& unit0() { return *units.at(0); }
  // Lets the target settle: runs events for a while of virtual time.
  void idle(TimeNs ns) { clock.advance_by(ns); }

  Clock clock{7};
  ScsiBus bus{clock};
  TestInitiator initiator{clock, bus, 7};
  std::map<std::uint8_t, PatternUnit*> units;
  std::unique_ptr<ScsiTarget> target;
};

// --- Selection and the command ------------------------------------------------

TEST_F(TargetTest, SelectionIsAnsweredUnlessTheTargetIsScriptedToIgnoreIt) {
  make_target(with_faults({FaultScript(Fault::Kind::NoSelectionResponse).times(1)}));
  const TimeNs start_ns = clock.now_ns();
  const auto ignored = initiator.run_command(kTargetId, 0, kTestUnitReady);
  EXPECT_TRUE(ignored.arbitration_won);
  EXPECT_FALSE(ignored.selected);
  EXPECT_GE(clock.now_ns() - start_ns, bus.timings().selection_timeout_ns);
  EXPECT_TRUE(unit0().cdbs.empty());

  const auto answered = initiator.run_command(kTargetId, 0, kTestUnitReady);
  EXPECT_TRUE(answered.selected);
  EXPECT_EQ(answered.status, scsi::status::GOOD);
  EXPECT_EQ(answered.messages, Bytes{msg::COMMAND_COMPLETE});
  EXPECT_TRUE(answered.command_complete);
  EXPECT_EQ(answered.phases, (std::vector<Phase>{Phase::MessageOut, Phase::Command, Phase::Status,
                                                 Phase::MessageIn}));
  EXPECT_STREQ(target->status().state, "idle");
  EXPECT_TRUE(initiator.bus_is_free());
}

TEST_F(TargetTest, SelectionOfAnotherIdIsIgnored) {
  make_target();
  const auto r = initiator.run_command(kTargetId + 1, 0, kTestUnitReady);
  EXPECT_FALSE(r.selected);
  EXPECT_TRUE(unit0().cdbs.empty());
}

TEST_F(TargetTest, LunComesFromIdentifyOrElseFromTheCommand) {
  struct Case {
    bool identify;
    std::uint8_t identify_lun;
    std::uint8_t cdb_lun_bits;
    std::uint8_t expected_lun;
  };
  for (const Case& c : {Case{true, 2, 0x00, 2}, Case{true, 1, 0x40, 1}, Case{false, 0, 0x40, 2},
                        Case{false, 0, 0x20, 1}}) {
    SCOPED_TRACE(::testing::Message() << "identify " << c.identify << " lun " << int(c.identify_lun)
                                      << " cdb bits " << int(c.cdb_lun_bits));
    make_target({}, {0, 1, 2});
    const auto r =
        initiator.run_command(kTargetId, c.identify_lun, read6(1, c.cdb_lun_bits), {}, false,
                              c.identify ? TestInitiator::Options() : without_identify());
    EXPECT_EQ(r.status, scsi::status::GOOD);
    for (std::uint8_t lun : {0, 1, 2}) {
      EXPECT_EQ(units[lun]->cdbs.size(), lun == c.expected_lun ? 1u : 0u) << "lun " << int(lun);
    }
    EXPECT_EQ(r.phases.front(), c.identify ? Phase::MessageOut : Phase::Command);
  }
}

TEST_F(TargetTest, CommandLengthFollowsTheGroupCode) {
  struct Case {
    std::uint8_t opcode;
    std::size_t length;
  };
  for (const Case& c :
       {Case{0x00, 6}, Case{0x28, 10}, Case{0x5A, 10}, Case{0xA8, 12}, Case{0xC1, 6}}) {
    SCOPED_TRACE(::testing::Message() << "opcode " << int(c.opcode));
    make_target();
    // Twelve bytes are offered; the target must ask for exactly its length.
    Bytes cdb{c.opcode, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (std::size_t i = 1; i < cdb.size(); ++i) cdb[i] = static_cast<std::uint8_t>(0x10 + i);
    cdb[1] = 0;  // LUN 0 for the 6-byte case without IDENTIFY
    const auto r = initiator.run_command(kTargetId, 0, cdb);
    ASSERT_EQ(unit0().cdbs.size(), 1u);
    EXPECT_EQ(unit0().cdbs[0], Bytes(cdb.begin(), cdb.begin() + c.length));
    EXPECT_TRUE(r.command_complete);
  }
}

TEST_F(TargetTest, DataMovesExactlyInBothDirections) {
  make_target();
  const auto in = initiator.run_command(kTargetId, 0, read6(4));
  EXPECT_EQ(in.data_in, PatternUnit::pattern_bytes(64));
  EXPECT_EQ(in.status, scsi::status::GOOD);
  EXPECT_EQ(in.messages, Bytes{msg::COMMAND_COMPLETE});

  const Bytes payload = PatternUnit::pattern_bytes(48);
  const auto out = initiator.run_command(kTargetId, 0, write6(3), payload);
  EXPECT_EQ(unit0().written, payload);
  EXPECT_EQ(out.data_out_sent, 48u);
  EXPECT_EQ(out.data_out_overrun, 0u);
  EXPECT_EQ(out.status, scsi::status::GOOD);

  const TargetStatus s = target->status();
  EXPECT_EQ(s.commands, 2u);
  EXPECT_EQ(s.data_in_bytes, 64u);
  EXPECT_EQ(s.data_out_bytes, 48u);
}

TEST_F(TargetTest, CheckConditionStatusReachesTheInitiator) {
  make_target();
  const auto r = initiator.run_command(kTargetId, 0, Bytes{0x1D, 0, 0, 0, 0, 0});
  EXPECT_EQ(r.status, scsi::status::CHECK_CONDITION);
  EXPECT_TRUE(r.command_complete);
}

// --- Disconnection and reselection ---------------------------------------------

TEST_F(TargetTest, DisconnectsOnlyWithPrivilegeAndResumesDataExactly) {
  using Kind = DisconnectPolicy::Kind;
  const std::uint8_t reselect_identify = msg::IDENTIFY | 0;
  const Bytes disconnect_only{msg::DISCONNECT, reselect_identify};
  const Bytes save_and_disconnect{msg::SAVE_DATA_POINTER, msg::DISCONNECT, reselect_identify};
  const auto seq = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    out.push_back(msg::COMMAND_COMPLETE);
    return out;
  };
  struct Case {
    const char* name;
    DisconnectPolicy policy;
    bool privilege;
    bool write;
    Bytes messages;
  };
  const Case cases[] = {
      {"never", {Kind::Never, 0}, true, false, seq({})},
      {"no privilege", {Kind::AfterCommand, 0}, false, false, seq({})},
      {"after command", {Kind::AfterCommand, 0}, true, false, seq({disconnect_only})},
      {"after command, write", {Kind::AfterCommand, 0}, true, true, seq({disconnect_only})},
      // 8 blocks, every 3: disconnects at blocks 3 and 6, not after the last.
      {"after 3 blocks",
       {Kind::AfterBlocks, 3},
       true,
       false,
       seq({disconnect_only, save_and_disconnect, save_and_disconnect})},
      {"after 3 blocks, write",
       {Kind::AfterBlocks, 3},
       true,
       true,
       seq({disconnect_only, save_and_disconnect, save_and_disconnect})},
      {"after 4 blocks: ends on a boundary",
       {Kind::AfterBlocks, 4},
       true,
       false,
       seq({disconnect_only, save_and_disconnect})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TargetSettings settings;
    settings.disconnect = c.policy;
    make_target(settings);
    unit0().latency_ns = 3 * kNsPerMs;
    const Bytes payload = PatternUnit::pattern_bytes(8 * 16);
    const TimeNs start_ns = clock.now_ns();
    const auto r = c.write ? initiator.run_command(kTargetId, 0, write6(8), payload, c.privilege)
                           : initiator.run_command(kTargetId, 0, read6(8), {}, c.privilege);
    EXPECT_EQ(r.messages, c.messages);
    EXPECT_EQ(r.status, scsi::status::GOOD);
    EXPECT_TRUE(r.command_complete);
    EXPECT_FALSE(r.unexpected_bus_free);
    EXPECT_GE(clock.now_ns() - start_ns, 3 * kNsPerMs);
    if (c.write) {
      EXPECT_EQ(unit0().written, payload);
    } else {
      EXPECT_EQ(r.data_in, payload);
    }
    EXPECT_EQ(target->status().reselections, r.reselections);
    EXPECT_EQ(r.disconnects, r.reselections);
  }
}

TEST_F(TargetTest, UnansweredReselectionIsRetriedThenGivenUp) {
  TargetSettings settings;
  settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  settings.timings.reselection_attempts = 3;
  settings.timings.reselection_retry_ns = 2 * kNsPerMs;
  make_target(settings);
  const auto r =
      initiator.run_command(kTargetId, 0, read6(1), {}, true, without_reselection_answer());
  EXPECT_EQ(r.disconnects, 1u);
  EXPECT_TRUE(target->status().command_pending);
  const TimeNs start_ns = clock.now_ns();
  ASSERT_TRUE(initiator.wait_until([&] { return !target->status().command_pending; }, 2 * kNsPerS));
  const TargetStatus s = target->status();
  EXPECT_EQ(s.reselection_timeouts, 3u);
  EXPECT_EQ(s.abandoned_commands, 1u);
  EXPECT_EQ(unit0().abandons, 1);
  EXPECT_STREQ(s.state, "idle");
  EXPECT_GE(clock.now_ns() - start_ns,
            3 * bus.timings().selection_timeout_ns + 2 * settings.timings.reselection_retry_ns);
  EXPECT_TRUE(initiator.bus_is_free());
  EXPECT_TRUE(initiator.run_command(kTargetId, 0, kTestUnitReady).command_complete);
}

TEST_F(TargetTest, ReselectionLosesArbitrationToAHigherIdAndTriesAgain) {
  TargetSettings settings;
  settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  make_target(settings);
  unit0().latency_ns = 5 * kNsPerMs;
  // The bus is busy when the unit is ready; a higher ID starts waiting for
  // it too, so both arbitrate at the same bus free.
  BusyHolder holder(clock, bus, 1, 1 * kNsPerMs, 10 * kNsPerMs);
  ArbitratingInitiator rival(clock, bus, 5, 2 * kNsPerMs, 100 * kNsPerUs);
  const auto r = initiator.run_command(kTargetId, 0, read6(2), {}, true);
  EXPECT_EQ(rival.state(), ArbitratingInitiator::State::Won);
  EXPECT_EQ(r.reselections, 1u);
  EXPECT_EQ(r.data_in, PatternUnit::pattern_bytes(32));
  EXPECT_TRUE(r.command_complete);
  bool both_ids_arbitrating = false;
  for (const TraceEntry& e : bus.trace().entries()) {
    if (e.time_ns == rival.arbitration_start_ns() && e.data == ((1u << 5) | (1u << kTargetId)))
      both_ids_arbitrating = true;
  }
  EXPECT_TRUE(both_ids_arbitrating);
}

TEST_F(TargetTest, BusResetDropsADisconnectedCommand) {
  TargetSettings settings;
  settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  make_target(settings);
  unit0().latency_ns = 5 * kNsPerMs;
  const auto r =
      initiator.run_command(kTargetId, 0, read6(1), {}, true, without_reselection_answer());
  ASSERT_EQ(r.disconnects, 1u);
  initiator.reset_bus();
  EXPECT_FALSE(target->status().command_pending);
  EXPECT_EQ(unit0().resets, 1);
  const auto reselected = [&] { return bus.state().has(sig::SEL); };
  EXPECT_FALSE(initiator.wait_until(reselected, 1 * kNsPerS));
  EXPECT_TRUE(initiator.run_command(kTargetId, 0, kTestUnitReady).command_complete);
}

TEST_F(TargetTest, BusResetReleasesEveryLineMidTransfer) {
  make_target(with_faults({FaultScript(Fault::Kind::NeverRaiseReq).in(Phase::DataIn)}));
  const auto r = initiator.run_command(kTargetId, 0, read6(1));
  EXPECT_TRUE(r.timed_out);
  EXPECT_STREQ(target->status().state, "hung");
  EXPECT_TRUE(bus.state().has(sig::BSY));
  initiator.reset_bus();
  EXPECT_EQ(bus.state().signals, 0u);
  EXPECT_EQ(unit0().resets, 1);
  EXPECT_STREQ(target->status().state, "idle");
}

TEST_F(TargetTest, TargetLeftWaitingForAckSchedulesNothingUntilReset) {
  make_target();
  ASSERT_EQ(initiator.arbitrate(), TestInitiator::Arbitration::Won);
  ASSERT_TRUE(initiator.select(kTargetId, false));
  ASSERT_TRUE(initiator.wait_req(kNsPerMs));
  EXPECT_EQ(initiator.phase(), Phase::Command);
  // The initiator walks away: the target keeps REQ up and has no event
  // pending, so idle time costs nothing and nothing spins.
  EXPECT_EQ(clock.pending_events(), 0u);
  idle(10 * kNsPerS);
  EXPECT_TRUE(bus.state().has(sig::BSY | sig::REQ));
  EXPECT_STREQ(target->status().state, "command");
  initiator.reset_bus();
  EXPECT_STREQ(target->status().state, "idle");
  EXPECT_TRUE(initiator.run_command(kTargetId, 0, kTestUnitReady).command_complete);
}

// --- Messages ----------------------------------------------------------------------

TEST_F(TargetTest, MessagesFromTheInitiator) {
  struct Case {
    const char* name;
    Bytes after_identify;  // sent right after IDENTIFY, at selection
    std::optional<std::size_t> atn_at_data_byte;
    Bytes atn_messages;  // sent when ATN is raised during the data
    bool completes;
    Bytes messages_in;
    int abandons;
    int resets;
  };
  const Case cases[] = {
      {"no operation at selection",
       {msg::NO_OPERATION},
       {},
       {},
       true,
       {msg::COMMAND_COMPLETE},
       0,
       0},
      {"unsupported message is rejected",
       {0x0F},
       {},
       {},
       true,
       {msg::MESSAGE_REJECT, msg::COMMAND_COMPLETE},
       0,
       0},
      {"extended message is rejected",
       {msg::EXTENDED_MESSAGE, 3, 1, 25, 8},
       {},
       {},
       true,
       {msg::MESSAGE_REJECT, msg::COMMAND_COMPLETE},
       0,
       0},
      {"abort at selection", {msg::ABORT}, {}, {}, false, {}, 0, 0},
      {"bus device reset", {msg::BUS_DEVICE_RESET}, {}, {}, false, {}, 0, 1},
      {"no operation during data", {}, 5, {msg::NO_OPERATION}, true, {msg::COMMAND_COMPLETE}, 0, 0},
      {"initiator detected error during data",
       {},
       5,
       {msg::INITIATOR_DETECTED_ERROR},
       true,
       {msg::COMMAND_COMPLETE},
       0,
       0},
      {"unsupported during data",
       {},
       5,
       {0x0F},
       true,
       {msg::MESSAGE_REJECT, msg::COMMAND_COMPLETE},
       0,
       0},
      {"abort during data", {}, 5, {msg::ABORT}, false, {}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make_target();
    TestInitiator::Options options;
    options.messages_after_identify = c.after_identify;
    options.atn_at_data_byte = c.atn_at_data_byte;
    options.atn_messages = c.atn_messages;
    const auto r = initiator.run_command(kTargetId, 0, read6(2), {}, false, options);
    EXPECT_EQ(r.command_complete, c.completes);
    EXPECT_EQ(r.unexpected_bus_free, !c.completes);
    EXPECT_EQ(r.messages, c.messages_in);
    EXPECT_EQ(unit0().abandons, c.abandons);
    EXPECT_EQ(unit0().resets, c.resets);
    if (c.completes) {
      EXPECT_EQ(r.data_in, PatternUnit::pattern_bytes(32));
    }
    if (c.atn_at_data_byte) {
      // The target switched to Message Out at the byte boundary.
      const std::vector<Phase> expected{Phase::MessageOut, Phase::Command, Phase::DataIn,
                                        Phase::MessageOut};
      ASSERT_GE(r.phases.size(), 4u);
      EXPECT_EQ(std::vector<Phase>(r.phases.begin(), r.phases.begin() + 4), expected);
    }
    EXPECT_TRUE(initiator.bus_is_free());
  }
}

TEST_F(TargetTest, RejectedDisconnectKeepsTheConnection) {
  TargetSettings settings;
  settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  make_target(settings);
  TestInitiator::Options options;
  options.atn_messages = {msg::MESSAGE_REJECT};
  options.atn_on_message = msg::DISCONNECT;
  const auto r = initiator.run_command(kTargetId, 0, read6(2), {}, true, options);
  EXPECT_EQ(r.disconnects, 1u);  // seen, and refused
  EXPECT_EQ(r.reselections, 0u);
  EXPECT_EQ(r.data_in, PatternUnit::pattern_bytes(32));
  EXPECT_TRUE(r.command_complete);
}

// --- Absent logical units ------------------------------------------------------

TEST_F(TargetTest, AbsentLunAnswersInquiryAndReportsLunNotSupported) {
  make_target();
  const Bytes inquiry{scsi::op::INQUIRY, 0, 0, 0, 36, 0};
  const Bytes sense{scsi::op::REQUEST_SENSE, 0, 0, 0, 18, 0};
  const auto inq = initiator.run_command(kTargetId, 4, inquiry);
  ASSERT_EQ(inq.data_in.size(), 36u);
  EXPECT_EQ(inq.data_in[0], 0x7F);
  EXPECT_EQ(inq.status, scsi::status::GOOD);

  const auto tur = initiator.run_command(kTargetId, 4, kTestUnitReady);
  EXPECT_EQ(tur.status, scsi::status::CHECK_CONDITION);

  const auto sns = initiator.run_command(kTargetId, 4, sense);
  ASSERT_EQ(sns.data_in.size(), 18u);
  EXPECT_EQ(sns.data_in[2] & 0x0F, scsi::sense_key::ILLEGAL_REQUEST);
  EXPECT_EQ(sns.data_in[12], 0x25);
  EXPECT_EQ(sns.data_in[13], 0x00);
  EXPECT_EQ(sns.status, scsi::status::GOOD);
  EXPECT_EQ(target->unit(4)->device_type(), 0x7F);
}

// --- Faults ----------------------------------------------------------------------------

TEST_F(TargetTest, FaultHooksDoWhatTheySay) {
  using Kind = Fault::Kind;
  using Result = TestInitiator::Result;
  struct Case {
    const char* name;
    Fault fault;
    bool write;
    std::function<void(const Result&, const PatternUnit&)> check;
  };
  const Bytes payload = PatternUnit::pattern_bytes(32);
  const Case cases[] = {
      {"never raise REQ after selection", FaultScript(Kind::NeverRaiseReq), false,
       [](const Result& r, const PatternUnit& u) {
         EXPECT_TRUE(r.selected);
         EXPECT_TRUE(r.timed_out);
         EXPECT_TRUE(r.phases.empty());
         EXPECT_TRUE(u.cdbs.empty());
       }},
      {"never raise REQ in status", FaultScript(Kind::NeverRaiseReq).in(Phase::Status), false,
       [](const Result& r, const PatternUnit&) {
         EXPECT_TRUE(r.timed_out);
         EXPECT_EQ(r.data_in.size(), 32u);
         EXPECT_FALSE(r.status);
       }},
      {"drop BSY in data in", FaultScript(Kind::DropBsy).in(Phase::DataIn), false,
       [](const Result& r, const PatternUnit& u) {
         EXPECT_TRUE(r.unexpected_bus_free);
         EXPECT_TRUE(r.data_in.empty());
         EXPECT_EQ(u.abandons, 1);
       }},
      {"drop BSY in command", FaultScript(Kind::DropBsy).in(Phase::Command), false,
       [](const Result& r, const PatternUnit& u) {
         EXPECT_TRUE(r.unexpected_bus_free);
         EXPECT_TRUE(u.cdbs.empty());
       }},
      {"stop data in after 5", FaultScript(Kind::StopDataAfter).bytes(5), false,
       [](const Result& r, const PatternUnit&) {
         EXPECT_EQ(r.data_in, PatternUnit::pattern_bytes(5));
         EXPECT_EQ(r.status, scsi::status::GOOD);
         EXPECT_TRUE(r.command_complete);
       }},
      {"stop data out after 5", FaultScript(Kind::StopDataAfter).bytes(5), true,
       [&payload](const Result& r, const PatternUnit& u) {
         EXPECT_EQ(u.written, Bytes(payload.begin(), payload.begin() + 5));
         EXPECT_EQ(r.data_out_sent, 5u);
         EXPECT_TRUE(r.command_complete);
       }},
      {"extra data", FaultScript(Kind::ExtraData).bytes(4), false,
       [](const Result& r, const PatternUnit&) {
         ASSERT_EQ(r.data_in.size(), 36u);
         EXPECT_EQ(Bytes(r.data_in.begin(), r.data_in.begin() + 32),
                   PatternUnit::pattern_bytes(32));
         EXPECT_TRUE(r.command_complete);
       }},
      {"stay in data out", FaultScript(Kind::StayInDataOut).bytes(100), true,
       [&payload](const Result& r, const PatternUnit& u) {
         EXPECT_EQ(r.data_out_overrun, 100u);
         EXPECT_EQ(u.written, payload);
         EXPECT_EQ(r.status, scsi::status::GOOD);
         EXPECT_TRUE(r.command_complete);
       }},
      {"bus free without complete", FaultScript(Kind::BusFreeWithoutComplete), false,
       [](const Result& r, const PatternUnit&) {
         EXPECT_EQ(r.status, scsi::status::GOOD);
         EXPECT_TRUE(r.messages.empty());
         EXPECT_TRUE(r.unexpected_bus_free);
       }},
      {"complete without status", FaultScript(Kind::CompleteWithoutStatus), false,
       [](const Result& r, const PatternUnit&) {
         EXPECT_FALSE(r.status);
         EXPECT_TRUE(r.command_complete);
       }},
      {"status byte", FaultScript(Kind::StatusByte).status(scsi::status::BUSY), false,
       [](const Result& r, const PatternUnit&) { EXPECT_EQ(r.status, scsi::status::BUSY); }},
      {"message in bytes",
       FaultScript(Kind::MessageInBytes).message({msg::EXTENDED_MESSAGE, 3, 1, 50, 8}), false,
       [](const Result& r, const PatternUnit&) {
         EXPECT_EQ(r.messages, (Bytes{msg::EXTENDED_MESSAGE, 3, 1, 50, 8, msg::COMMAND_COMPLETE}));
         EXPECT_TRUE(r.command_complete);
       }},
      {"fault for another opcode stays quiet",
       FaultScript(Kind::StatusByte).opcode(scsi::op::INQUIRY).status(scsi::status::BUSY), false,
       [](const Result& r, const PatternUnit&) { EXPECT_EQ(r.status, scsi::status::GOOD); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make_target(with_faults({c.fault}));
    const auto r = c.write ? initiator.run_command(kTargetId, 0, write6(2), payload)
                           : initiator.run_command(kTargetId, 0, read6(2));
    c.check(r, unit0());
    // Whatever happened, a reset brings the target back for the next test.
    initiator.reset_bus();
  }
}

TEST_F(TargetTest, FaultFiresAsOftenAsScripted) {
  for (std::uint32_t times : {1u, 2u, 0u}) {
    SCOPED_TRACE(times);
    make_target(with_faults({FaultScript(Fault::Kind::StatusByte)
                                 .opcode(scsi::op::READ_6)
                                 .status(scsi::status::BUSY)
                                 .times(times)}));
    EXPECT_EQ(initiator.run_command(kTargetId, 0, kTestUnitReady).status, scsi::status::GOOD);
    for (std::uint32_t i = 0; i < 4; ++i) {
      const bool fires = times == 0 || i < times;
      EXPECT_EQ(initiator.run_command(kTargetId, 0, read6(1)).status,
                fires ? scsi::status::BUSY : scsi::status::GOOD)
          << "command " << i;
    }
  }
}

TEST_F(TargetTest, ReselectionWithNothingPendingSendsIdentifyThenFreesTheBus) {
  make_target(with_faults({FaultScript(Fault::Kind::ReselectWithoutCommand).at(2 * kNsPerMs)}));
  const auto who = initiator.answer_reselection(10 * kNsPerMs);
  ASSERT_EQ(who, kTargetId);
  EXPECT_GE(clock.now_ns(), 2 * kNsPerMs);
  ASSERT_TRUE(initiator.wait_req(kNsPerMs));
  EXPECT_EQ(initiator.phase(), Phase::MessageIn);
  EXPECT_EQ(initiator.receive_byte(), msg::IDENTIFY);
  EXPECT_TRUE(initiator.wait_until([&] { return initiator.bus_is_free(); }, kNsPerMs));
  EXPECT_FALSE(target->status().command_pending);
  EXPECT_TRUE(initiator.run_command(kTargetId, 0, kTestUnitReady).command_complete);
}

TEST_F(TargetTest, SelectionWhileACommandIsDisconnectedAnswersBusy) {
  TargetSettings settings;
  settings.disconnect.kind = DisconnectPolicy::Kind::AfterCommand;
  make_target(settings);
  unit0().latency_ns = 20 * kNsPerMs;
  const auto first =
      initiator.run_command(kTargetId, 0, read6(1), {}, true, without_reselection_answer());
  ASSERT_EQ(first.disconnects, 1u);
  const auto second = initiator.run_command(kTargetId, 0, kTestUnitReady);
  EXPECT_EQ(second.status, scsi::status::BUSY);
  EXPECT_EQ(unit0().cdbs.size(), 1u);
  // The first command still comes back.
  ASSERT_EQ(initiator.answer_reselection(50 * kNsPerMs), kTargetId);
}

// --- Determinism --------------------------------------------------------------------

TEST(TargetDeterminism, SameRunSameBusTrace) {
  const auto run = [] {
    Clock clock(99);
    ScsiBus bus(clock);
    TestInitiator initiator(clock, bus, 7);
    TargetSettings settings;
    settings.id = 2;
    settings.disconnect = {DisconnectPolicy::Kind::AfterBlocks, 2};
    ScsiTarget::Units units;
    auto unit = std::make_unique<PatternUnit>();
    unit->latency_ns = 1 * kNsPerMs;
    units[0] = std::move(unit);
    ScsiTarget target(clock, bus, settings, std::move(units));
    initiator.run_command(2, 0, read6(5), {}, true);
    initiator.run_command(2, 0, write6(3), PatternUnit::pattern_bytes(48), true);
    return bus.trace().hash();
  };
  EXPECT_EQ(run(), run());
}

}  // namespace
}  // namespace qzr::hw
