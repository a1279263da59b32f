// Targets that misbehave, through the whole stack: each fault the target
// model can script, the request status, error-log entry and bus state it
// leaves, the time it takes, and that the next request goes through.
#include <gtest/gtest.h>

#include <optional>

#include "tests/stack/stack_rig.h"

namespace qzr::nt::scsiport::stack_test {
namespace {

using Kind = hw::Fault::Kind;

constexpr std::uint8_t kDiskId = 0;
constexpr std::uint32_t kDiskBlocks = 256;
constexpr std::uint16_t kRequestBlocks = 4;
constexpr ULONG kNoEntry = 0;

enum class Command : std::uint8_t { Read, Write };

struct FaultCase {
  const char* name;
  hw::Fault fault;
  Command command;
  hw::DisconnectPolicy policy;
  UCHAR srb_status;  // SRB_STATUS() of the outcome
  UCHAR scsi_status;
  ULONG bytes;      // DataTransferLength as completed
  ULONG unique_id;  // of the miniport's error-log entry; kNoEntry: none
  hw::TimeNs bound_ns;
  hw::TimeNs unit_latency_ns = 20 * hw::kNsPerUs;
};

hw::Fault fault(Kind kind) {
  hw::Fault f;
  f.kind = kind;
  f.times = 1;
  return f;
}
hw::Fault in_phase(Kind kind, std::optional<hw::Phase> phase) {
  hw::Fault f = fault(kind);
  f.phase = phase;
  return f;
}
hw::Fault with_bytes(Kind kind, std::uint32_t bytes) {
  hw::Fault f = fault(kind);
  f.bytes = bytes;
  return f;
}
hw::Fault status_byte(std::uint8_t status) {
  hw::Fault f = fault(Kind::StatusByte);
  f.status = status;
  return f;
}
hw::Fault message(std::vector<std::uint8_t> bytes) {
  hw::Fault f = fault(Kind::MessageInBytes);
  f.message = std::move(bytes);
  return f;
}

constexpr hw::DisconnectPolicy kNever{};
constexpr hw::DisconnectPolicy kAfterCommand{hw::DisconnectPolicy::Kind::AfterCommand, 0};
constexpr ULONG kAll = kRequestBlocks * 512;
constexpr hw::TimeNs kQuick = 200 * hw::kNsPerMs;
// The selection time-out: bus-free rounds of about 1.5 s.
constexpr hw::TimeNs kSelection = 2 * hw::kNsPerS;
// The miniport's own bounds are about a second of port polling each.
constexpr hw::TimeNs kBound = 3 * hw::kNsPerS;

class StackFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(StackFault, EndsTheRequestAsExpectedAndLeavesTheBusUsable) {
  const FaultCase& c = GetParam();
  ImageDir dir;
  const auto image = dir.path() / "disk.img";
  const std::vector<std::uint8_t> original = patterned_bytes(kDiskBlocks * 512, 3);
  write_file(image, original);
  hw::TargetConfig disk = disk_target(kDiskId, image);
  disk.settings.disconnect = c.policy;
  disk.units[0].second.timings.command_latency_ns = c.unit_latency_ns;
  StackRig rig;
  rig.start(std::span(&disk, 1));
  rig.machine.target(kDiskId)->add_fault(c.fault);

  std::vector<std::uint8_t> data(kAll + 64, 0xEE);
  std::vector<std::uint8_t> written = patterned_bytes(kAll, 4);
  const std::span<std::uint8_t> buffer =
      c.command == Command::Read ? std::span(data).first(kAll) : std::span(written);
  const ScsiRequest request = c.command == Command::Read
                                  ? read10(kDiskId, 8, kRequestBlocks, buffer)
                                  : write10(kDiskId, 8, kRequestBlocks, buffer);
  const RequestOutcome outcome = rig.port_driver.execute(request);
  ASSERT_TRUE(outcome.finished) << rig.logs();
  EXPECT_EQ(SRB_STATUS(outcome.srb_status), c.srb_status) << rig.logs();
  EXPECT_EQ(outcome.scsi_status, c.scsi_status);
  EXPECT_EQ(outcome.bytes, c.bytes);
  EXPECT_LE(outcome.finished_ns - outcome.started_ns, c.bound_ns);

  std::vector<ULONG> ids;
  for (const ErrorLogEntry& entry : rig.port_driver.error_log()) ids.push_back(entry.unique_id);
  const std::vector<ULONG> expected_ids =
      c.unique_id == kNoEntry ? std::vector<ULONG>{} : std::vector<ULONG>{c.unique_id};
  EXPECT_EQ(ids, expected_ids) << rig.logs();
  // Nothing lands past the request's buffer, whatever the target sends.
  EXPECT_TRUE(std::all_of(data.begin() + kAll, data.end(), [](auto b) { return b == 0xEE; }));

  // The fault has fired; the bus is free and the next request goes through.
  rig.port().run_until_idle(rig.now_ns() + hw::kNsPerS);
  EXPECT_TRUE(rig.bus_free()) << rig.logs();
  std::vector<std::uint8_t> again(kAll);
  const RequestOutcome next = rig.port_driver.execute(read10(kDiskId, 100, kRequestBlocks, again));
  EXPECT_EQ(next.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_TRUE(std::equal(again.begin(), again.end(), original.begin() + 100 * 512));
  EXPECT_TRUE(rig.port_driver.driver_errors().empty()) << rig.logs();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Faults, StackFault,
    ::testing::Values(
        FaultCase{"NoSelectionResponse", fault(Kind::NoSelectionResponse), Command::Read, kNever,
                  SRB_STATUS_SELECTION_TIMEOUT, 0, kAll, kNoEntry, kSelection},
        // Right after selection the wait for the first REQ has its own budget
        // of about ten seconds of polling, longer than the phase engine's.
        FaultCase{"NeverRaiseReqAfterSelection", in_phase(Kind::NeverRaiseReq, std::nullopt),
                  Command::Read, kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_NO_REQ, 12 * hw::kNsPerS},
        FaultCase{"NeverRaiseReqInDataIn", in_phase(Kind::NeverRaiseReq, hw::Phase::DataIn),
                  Command::Read, kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_NO_REQ, kBound},
        FaultCase{"NeverRaiseReqInDataOut", in_phase(Kind::NeverRaiseReq, hw::Phase::DataOut),
                  Command::Write, kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_NO_REQ, kBound},
        FaultCase{"NeverRaiseReqInStatus", in_phase(Kind::NeverRaiseReq, hw::Phase::Status),
                  Command::Read, kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_NO_REQ, kBound},
        FaultCase{"NeverRaiseReqAfterReselection", in_phase(Kind::NeverRaiseReq, hw::Phase::DataIn),
                  Command::Read, kAfterCommand, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_NO_REQ, kBound},
        FaultCase{"DropBsyAfterSelection", in_phase(Kind::DropBsy, std::nullopt), Command::Read,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        FaultCase{"DropBsyInCommand", in_phase(Kind::DropBsy, hw::Phase::Command), Command::Read,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        FaultCase{"DropBsyInDataIn", in_phase(Kind::DropBsy, hw::Phase::DataIn), Command::Read,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        FaultCase{"DropBsyInDataOut", in_phase(Kind::DropBsy, hw::Phase::DataOut), Command::Write,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        FaultCase{"DropBsyInStatus", in_phase(Kind::DropBsy, hw::Phase::Status), Command::Read,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        FaultCase{"DropBsyInMessageIn", in_phase(Kind::DropBsy, hw::Phase::MessageIn),
                  Command::Read, kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        // The disk reports the short write itself.
        FaultCase{"StopDataOutAfterAFewBytes", with_bytes(Kind::StopDataAfter, 700),
                  Command::Write, kNever, SRB_STATUS_ERROR, 0x02, kAll, kNoEntry, kQuick},
        // The excess is dropped and the request failed, never stored past the buffer.
        FaultCase{"ExtraDataIn", with_bytes(Kind::ExtraData, 300), Command::Read, kNever,
                  SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_PHASE_FAILED, kQuick},
        FaultCase{"StayInDataOut", with_bytes(Kind::StayInDataOut, 0), Command::Write, kNever,
                  SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_NO_PROGRESS, kBound},
        FaultCase{"StayInDataOutABit", with_bytes(Kind::StayInDataOut, 100), Command::Write,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll, UNIQUE_ID_NO_PROGRESS,
                  kBound},
        FaultCase{"BusFreeWithoutComplete", fault(Kind::BusFreeWithoutComplete), Command::Read,
                  kNever, SRB_STATUS_PHASE_SEQUENCE_FAILURE, 0, kAll,
                  UNIQUE_ID_UNEXPECTED_PHASE, kQuick},
        FaultCase{"CompleteWithoutStatus", fault(Kind::CompleteWithoutStatus), Command::Read,
                  kNever, SRB_STATUS_ERROR, 0, kAll, UNIQUE_ID_NO_STATUS, kQuick},
        FaultCase{"StatusBusy", status_byte(0x08), Command::Read, kNever, SRB_STATUS_BUSY, 0x08,
                  kAll, kNoEntry, kQuick},
        FaultCase{"StatusReservationConflict", status_byte(0x18), Command::Write, kNever,
                  SRB_STATUS_BUSY, 0x18, kAll, kNoEntry, kQuick},
        FaultCase{"SaveDataPointerBeforeComplete", message({0x02}), Command::Read, kNever,
                  SRB_STATUS_SUCCESS, 0, kAll, kNoEntry, kQuick},
        FaultCase{"ExtendedSynchronousRequest", message({0x01, 0x03, 0x01, 0x19, 0x08}),
                  Command::Read, kNever, SRB_STATUS_SUCCESS, 0, kAll, kNoEntry, kQuick},
        FaultCase{"MessageRejectBeforeComplete", message({0x07}), Command::Write, kNever,
                  SRB_STATUS_SUCCESS, 0, kAll, kNoEntry, kQuick}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A target that ends a read's data early and then reports GOOD: only 700 of
// the 2048 bytes arrived. Reported as a full success with its whole length,
// the caller would take stale buffer bytes for data; the request comes back
// with the bytes moved and SRB_STATUS_DATA_OVERRUN instead.
TEST(StackUnderrun, AShortDataInIsNotReportedAsAFullSuccess) {
  ImageDir dir;
  const auto image = dir.path() / "disk.img";
  write_file(image, patterned_bytes(kDiskBlocks * 512, 3));
  hw::TargetConfig disk = disk_target(kDiskId, image);
  StackRig rig;
  rig.start(std::span(&disk, 1));
  rig.machine.target(kDiskId)->add_fault(with_bytes(Kind::StopDataAfter, 700));
  std::vector<std::uint8_t> data(kAll);
  const RequestOutcome outcome = rig.port_driver.execute(read10(kDiskId, 8, kRequestBlocks, data));
  EXPECT_EQ(SRB_STATUS(outcome.srb_status), SRB_STATUS_DATA_OVERRUN);
  EXPECT_EQ(outcome.bytes, 700u);
}

// A CHECK CONDITION: the port driver fetches the sense and hands it back.
TEST(StackSense, ACheckConditionComesBackWithTheSenseThePortDriverFetched) {
  ImageDir dir;
  const auto image = dir.path() / "disk.img";
  write_file(image, patterned_bytes(kDiskBlocks * 512));
  hw::TargetConfig disk = disk_target(kDiskId, image);
  StackRig rig;
  rig.start(std::span(&disk, 1));
  std::vector<std::uint8_t> data(512);
  const RequestOutcome refused = rig.port_driver.execute(read10(kDiskId, kDiskBlocks, 1, data));
  EXPECT_EQ(refused.srb_status, SRB_STATUS_ERROR | SRB_STATUS_AUTOSENSE_VALID);
  EXPECT_EQ(refused.scsi_status, 0x02);
  ASSERT_GE(refused.sense.size(), 13u);
  EXPECT_EQ(refused.sense[2] & 0x0F, 0x05);  // ILLEGAL REQUEST
  EXPECT_EQ(refused.sense[12], 0x21);        // logical block address out of range
  rig.expect_clean();
}

// A reselection for a command nobody sent, arriving while another target's
// read is disconnected, should be logged, refused, and leave the read to
// complete intact. The answered stray target keeps the bus until the driver
// aborts it; left connected, it held BSY and REQ and the read's own target
// could never reselect (port driver time-out, bus never free).
TEST(StackReselection, AReselectionWithoutACommandIsLoggedAndHarmless) {
  constexpr std::uint8_t kStrayId = 1;
  ImageDir dir;
  const auto image = dir.path() / "disk.img";
  const auto stray_image = dir.path() / "stray.img";
  const auto original = patterned_bytes(kDiskBlocks * 512);
  write_file(image, original);
  write_file(stray_image, patterned_bytes(kDiskBlocks * 512, 11));
  std::vector<hw::TargetConfig> targets = {disk_target(kDiskId, image),
                                           disk_target(kStrayId, stray_image)};
  targets[0].settings.disconnect = kAfterCommand;
  targets[0].units[0].second.timings.command_latency_ns = 20 * hw::kNsPerMs;
  StackRig rig;
  rig.start(targets);
  hw::Fault stray = fault(Kind::ReselectWithoutCommand);
  stray.at_ns = rig.now_ns() + 5 * hw::kNsPerMs;
  rig.machine.target(kStrayId)->add_fault(stray);

  std::vector<std::uint8_t> data(kAll);
  const RequestOutcome read = rig.port_driver.execute(read10(kDiskId, 1, kRequestBlocks, data));
  EXPECT_EQ(read.srb_status, SRB_STATUS_SUCCESS) << rig.logs();
  EXPECT_TRUE(std::equal(data.begin(), data.end(), original.begin() + 512));
  std::vector<ULONG> ids;
  for (const ErrorLogEntry& entry : rig.port_driver.error_log()) ids.push_back(entry.unique_id);
  EXPECT_EQ(ids, std::vector<ULONG>{UNIQUE_ID_INVALID_RESELECTION}) << rig.logs();
  rig.machine.clock().advance_by(10 * hw::kNsPerMs);
  EXPECT_TRUE(rig.bus_free());
  EXPECT_TRUE(rig.port_driver.driver_errors().empty()) << rig.logs();
  EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.logs();
}

}  // namespace
}  // namespace qzr::nt::scsiport::stack_test
