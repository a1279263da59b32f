// What every logical unit shares: INQUIRY, REQUEST SENSE and the sense kept
// between commands, unit attention, refusing what it does not know, and the
// processor's loopback. Code names are checked here too.
#include "hw/targets/unit_base.h"

#include <gtest/gtest.h>

#include <string>

#include "hw/targets/processor.h"
#include "tests/hw/device_test_support.h"

namespace qzr::hw {
namespace {

using namespace qzr::hw::testing;
namespace sk = scsi::sense_key;

Identity sample_identity() {
  Identity identity;
  identity.vendor = "ACME";
  identity.product = "A PRODUCT NAME THAT IS TOO LONG";
  identity.revision = "2.1";
  identity.ansi_version = 2;
  identity.response_format = 2;
  identity.capabilities = 0x12;
  identity.removable = true;
  return identity;
}

Processor make_processor(bool unit_attention = false) {
  return Processor(sample_identity(), UnitTimings{}, unit_attention);
}

TEST(UnitInquiry, StandardDataFromTheIdentity) {
  Processor unit = make_processor();
  const Exchange answer = run(unit, inquiry(255));
  ASSERT_EQ(answer.status, scsi::status::GOOD);
  ASSERT_EQ(answer.data_in.size(), 36u);
  EXPECT_EQ(answer.data_in[0], scsi::device_type::PROCESSOR);
  EXPECT_EQ(answer.data_in[1], 0x80);  // RMB
  EXPECT_EQ(answer.data_in[2], 2);
  EXPECT_EQ(answer.data_in[3], 2);
  EXPECT_EQ(answer.data_in[4], 31);  // additional length: bytes 5-35
  EXPECT_EQ(answer.data_in[7], 0x12);
  const std::string text(answer.data_in.begin() + 8, answer.data_in.end());
  // Short fields padded with spaces, long ones cut to their width.
  EXPECT_EQ(text, "ACME    A PRODUCT NAME T2.1 ");
}

TEST(UnitInquiry, AllocationLengthCutsTheAnswer) {
  Processor unit = make_processor();
  for (const auto& [allocation, expected] :
       {std::pair<int, std::size_t>{0, 0}, {5, 5}, {36, 36}, {96, 36}}) {
    SCOPED_TRACE(allocation);
    const Exchange answer = run(unit, inquiry(static_cast<std::uint8_t>(allocation)));
    EXPECT_EQ(answer.status, scsi::status::GOOD);
    EXPECT_EQ(answer.data_in.size(), expected);
  }
}

TEST(UnitInquiry, VitalProductDataIsRefused) {
  Processor unit = make_processor();
  for (const Bytes& cdb : {cdb6(scsi::op::INQUIRY, 0x01, 0x00, 0, 36),  // EVPD
                           cdb6(scsi::op::INQUIRY, 0x00, 0x80, 0, 36),  // page without EVPD
                           cdb6(scsi::op::INQUIRY, 0x01, 0x83, 0, 36)}) {
    const Failure failure = run_for_sense(unit, cdb);
    EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
    EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB));
  }
}

TEST(UnitSense, KeptUntilTheNextCommandThenCleared) {
  Processor unit = make_processor();
  ASSERT_EQ(run(unit, cdb6(0x02)).status, scsi::status::CHECK_CONDITION);
  const SenseView invalid = sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_COMMAND_OPERATION_CODE);
  EXPECT_EQ(request_sense(unit), invalid);
  // REQUEST SENSE hands the sense over once.
  EXPECT_EQ(request_sense(unit), SenseView{});

  // Any other command in between, even a good one, discards it.
  ASSERT_EQ(run(unit, cdb6(0x02)).status, scsi::status::CHECK_CONDITION);
  ASSERT_EQ(run(unit, test_unit_ready()).status, scsi::status::GOOD);
  EXPECT_EQ(request_sense(unit), SenseView{});

  // An INQUIRY too: it is a new command like any other.
  ASSERT_EQ(run(unit, cdb6(0x02)).status, scsi::status::CHECK_CONDITION);
  ASSERT_EQ(run(unit, inquiry(36)).status, scsi::status::GOOD);
  EXPECT_EQ(request_sense(unit), SenseView{});
}

TEST(UnitSense, RequestSenseHonoursItsAllocationLength) {
  Processor unit = make_processor();
  for (const auto& [allocation, expected] :
       {std::pair<int, std::size_t>{0, 4}, {4, 4}, {18, 18}, {252, 18}}) {
    SCOPED_TRACE(allocation);
    ASSERT_EQ(run(unit, cdb6(0x02)).status, scsi::status::CHECK_CONDITION);
    const Exchange answer =
        run(unit, cdb6(scsi::op::REQUEST_SENSE, 0, 0, 0, static_cast<std::uint8_t>(allocation)));
    EXPECT_EQ(answer.status, scsi::status::GOOD);
    ASSERT_EQ(answer.data_in.size(), expected);
    if (expected >= 3) {
      EXPECT_EQ(answer.data_in[2], sk::ILLEGAL_REQUEST);
    }
  }
}

TEST(UnitSense, FixedFormatLayout) {
  Sense kept = Sense::of(sk::BLANK_CHECK, scsi::asc::END_OF_DATA_DETECTED);
  kept.information_valid = true;
  kept.information = 0x01020304;
  kept.filemark = true;
  kept.end_of_medium = true;
  kept.incorrect_length = true;
  const Bytes expected{0xF0, 0, 0xE8, 1, 2, 3, 4, 10, 0, 0, 0, 0, 0x00, 0x05, 0, 0, 0, 0};
  EXPECT_EQ(kept.bytes(), expected);
  EXPECT_EQ(kept.bytes(7), Bytes(expected.begin(), expected.begin() + 7));
  EXPECT_EQ(Sense{}.bytes()[0], 0x70);  // no sense: current error code, not valid
}

TEST(UnitAttention, OffByDefault) {
  Processor unit = make_processor();
  EXPECT_EQ(run(unit, test_unit_ready()).status, scsi::status::GOOD);
  unit.reset();
  EXPECT_EQ(run(unit, test_unit_ready()).status, scsi::status::GOOD);
}

TEST(UnitAttention, ReportedOnceAfterPowerOnAndAfterEachReset) {
  Processor unit = make_processor(/*unit_attention=*/true);
  const SenseView attention =
      sense(sk::UNIT_ATTENTION, scsi::asc::POWER_ON_RESET_OR_BUS_DEVICE_RESET);
  // INQUIRY neither reports nor clears it.
  EXPECT_EQ(run(unit, inquiry(36)).status, scsi::status::GOOD);
  EXPECT_EQ(run_for_sense(unit, test_unit_ready()).sense, attention);
  EXPECT_EQ(run(unit, test_unit_ready()).status, scsi::status::GOOD);

  unit.reset();
  const Failure failure = run_for_sense(unit, test_unit_ready());
  EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
  EXPECT_EQ(failure.sense, attention);
  EXPECT_EQ(run(unit, test_unit_ready()).status, scsi::status::GOOD);
}

TEST(UnitAttention, RequestSenseReportsAndClearsIt) {
  Processor unit = make_processor(/*unit_attention=*/true);
  EXPECT_EQ(request_sense(unit),
            sense(sk::UNIT_ATTENTION, scsi::asc::POWER_ON_RESET_OR_BUS_DEVICE_RESET));
  EXPECT_EQ(run(unit, test_unit_ready()).status, scsi::status::GOOD);
}

TEST(UnitCommands, UnknownOpcodesAndLinkedCommandsAreRefused) {
  Processor unit = make_processor();
  struct Case {
    const char* what;
    Bytes cdb;
    scsi::Asc asc;
  };
  const Case cases[] = {
      {"reserved group 3 opcode", cdb6(0x60), scsi::asc::INVALID_COMMAND_OPERATION_CODE},
      {"vendor opcode", cdb6(0xC0), scsi::asc::INVALID_COMMAND_OPERATION_CODE},
      {"READ CAPACITY on a processor", read_capacity(), scsi::asc::INVALID_COMMAND_OPERATION_CODE},
      {"Link bit", cdb6(scsi::op::TEST_UNIT_READY, 0, 0, 0, 0, 0x01),
       scsi::asc::INVALID_FIELD_IN_CDB},
      {"CDB shorter than its group", Bytes{scsi::op::READ_10, 0, 0},
       scsi::asc::INVALID_FIELD_IN_CDB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Failure failure = run_for_sense(unit, c.cdb);
    EXPECT_EQ(failure.status, scsi::status::CHECK_CONDITION);
    EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST, c.asc));
  }
}

TEST(ProcessorUnit, ReceiveReturnsWhatWasSentInOrder) {
  Processor unit = make_processor();
  const Bytes first = pattern(100, 1), second = pattern(50, 9);
  ASSERT_EQ(run(unit, cdb6_count(scsi::op::SEND, 0, 100), first).status, scsi::status::GOOD);
  ASSERT_EQ(run(unit, cdb6_count(scsi::op::SEND, 0, 50), second).status, scsi::status::GOOD);

  const Exchange part = run(unit, cdb6_count(scsi::op::RECEIVE, 0, 60));
  EXPECT_EQ(part.data_in, Bytes(first.begin(), first.begin() + 60));
  const Exchange rest = run(unit, cdb6_count(scsi::op::RECEIVE, 0, 1000));
  Bytes expected(first.begin() + 60, first.end());
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(rest.data_in, expected);
  EXPECT_TRUE(run(unit, cdb6_count(scsi::op::RECEIVE, 0, 10)).data_in.empty());
}

TEST(ProcessorUnit, SendBeyondTheBufferIsRefused) {
  Processor unit = make_processor();
  const auto limit = static_cast<std::int32_t>(Processor::kBufferBytes);
  ASSERT_EQ(run(unit, cdb6_count(scsi::op::SEND, 0, limit), Bytes(limit, 0)).status,
            scsi::status::GOOD);
  const Failure failure = run_for_sense(unit, cdb6_count(scsi::op::SEND, 0, 1));
  EXPECT_EQ(failure.sense, sense(sk::ILLEGAL_REQUEST, scsi::asc::INVALID_FIELD_IN_CDB));
}

TEST(ScsiCodeNames, TablesNameKnownCodesAndSayWhenUnknown) {
  EXPECT_STREQ(scsi::opcode_name(scsi::op::READ_10), "READ(10)");
  EXPECT_STREQ(scsi::opcode_name(scsi::op::INQUIRY), "INQUIRY");
  EXPECT_STREQ(scsi::opcode_name(0xFF), "unknown opcode");
  EXPECT_STREQ(scsi::message_name(scsi::msg::DISCONNECT), "DISCONNECT");
  EXPECT_STREQ(scsi::message_name(0xC3), "IDENTIFY");  // any LUN, with disconnect privilege
  EXPECT_STREQ(scsi::message_name(0x7F), "unknown message");
  EXPECT_STREQ(scsi::status_name(scsi::status::CHECK_CONDITION), "CHECK CONDITION");
  EXPECT_STREQ(scsi::status_name(0x01), "unknown status");
  EXPECT_STREQ(scsi::sense_key_name(sk::BLANK_CHECK), "BLANK CHECK");
  EXPECT_STREQ(scsi::sense_key_name(0x10), "invalid sense key");
}

}  // namespace
}  // namespace qzr::hw
