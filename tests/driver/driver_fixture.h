// The smallest world a driver routine needs: a zero-filled adapter record
// mapped at the recording port's base, one logical unit and one request.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qzr6140.h"
#include "tests/driver/recording_port.h"

namespace qzr::driver_test {

using Lines = std::vector<std::string>;

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    adapter.BaseIoAddress = port.base();
    adapter.InitiatorIdBit = 0x80;
    adapter.InterruptLine = 11;
    adapter.LastInquiryTarget = 7;
    request.Length = sizeof(SCSI_REQUEST_BLOCK);
    request.Function = SRB_FUNCTION_EXECUTE_SCSI;
    request.TargetId = 1;
    request.CdbLength = 6;
    port.add_logical_unit(0, 1, 0, &lu);
    port.name(&request, "request");
  }

  // The request holds the bus, as after a successful selection.
  void put_request_on_bus() {
    lu.CurrentSrb = &request;
    lu.LuState = LU_STATE_COMMAND;
    adapter.ActiveLu = &lu;
  }

  RecordingPort port;
  ADAPTER_EXTENSION adapter{};
  LU_EXTENSION lu{};
  SCSI_REQUEST_BLOCK request{};
};

// The 5380's resting state and the request for the next one.
inline const Lines kIdleSequence = {"MR <- 0x00", "TCR <- 0x00", "ICR <- 0x00", "stall 1",
                                    "NextRequest"};

inline Lines operator+(Lines head, const Lines& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

}  // namespace qzr::driver_test
