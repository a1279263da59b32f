// The port driver's behaviour toward a miniport, shown with a test miniport
// where the real one cannot provoke it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <vector>

#include "scsi.h"
#include "tests/scsiport/double_miniport.h"
#include "tests/scsiport/port_rig.h"

namespace qzr::nt::scsiport::test {
namespace {

constexpr UCHAR kInquiry = 0x12;
constexpr UCHAR kRequestSense = 0x03;
constexpr UCHAR kTestUnitReady = 0x00;

// Board registers the interrupt tests touch.
constexpr ULONG kInitiatorCommand = 1;
constexpr ULONG kResetParityInterrupt = 7;
constexpr ULONG kBoardControl = 9;  // write; BOARD_STATUS when read
constexpr UCHAR kAssertRst = 0x80;
constexpr UCHAR kIntEnable = 0x10;

ScsiRequest test_unit_ready(UCHAR target, ULONG timeout_s = 10) {
  ScsiRequest request;
  request.target_id = target;
  request.cdb = {kTestUnitReady, 0, 0, 0, 0, 0};
  request.timeout_s = timeout_s;
  return request;
}

struct DoubleRig : PortRig {
  DoubleMiniport miniport;
  explicit DoubleRig(const hw::MachineSettings& settings = {}, const PortSettings& port = {})
      : PortRig(settings, port) {}
  void load() { ASSERT_EQ(miniport.load(port_driver), 0u) << logs(); }
};

// ---- Registration ----------------------------------------------------------------

TEST(Registration, StartsOnlyBoardsOfTheRegisteredIdentityFromAValidRecord) {
  constexpr ULONG kSuccess = 0;
  constexpr ULONG kNoSuchDevice = 0xC000000E;
  constexpr ULONG kRevisionMismatch = 0xC0000059;
  constexpr ULONG kInvalidParameter = 0xC000000D;
  static char other_vendor[4] = {'1', 'F', '7', 'D'};
  static char too_long_device[5] = {'0', '0', '0', '0', '1'};
  struct Case {
    const char* name;
    std::function<void(HW_INITIALIZATION_DATA&)> edit;
    ULONG status;
    bool bad_registration;
  };
  const Case cases[] = {
      {"as registered", [](HW_INITIALIZATION_DATA&) {}, kSuccess, false},
      {"another vendor", [](HW_INITIALIZATION_DATA& d) { d.VendorId = other_vendor; },
       kNoSuchDevice, false},
      {"leading zero in the device id",
       [](HW_INITIALIZATION_DATA& d) {
         d.DeviceId = too_long_device;
         d.DeviceIdLength = 5;
       },
       kSuccess, false},
      {"not a PCI miniport", [](HW_INITIALIZATION_DATA& d) { d.AdapterInterfaceType = Isa; },
       kNoSuchDevice, false},
      {"record too short", [](HW_INITIALIZATION_DATA& d) { d.HwInitializationDataSize -= 4; },
       kRevisionMismatch, true},
      {"no HwStartIo", [](HW_INITIALIZATION_DATA& d) { d.HwStartIo = nullptr; }, kInvalidParameter,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleRig rig;
    rig.miniport.edit_registration = c.edit;
    EXPECT_EQ(rig.miniport.load(rig.port_driver), c.status);
    EXPECT_EQ(rig.port_driver.port_count(), c.status == kSuccess ? 1u : 0u);
    EXPECT_EQ(rig.port_driver.driver_errors().size(), c.bad_registration ? 1u : 0u) << rig.logs();
  }
}

// ---- Scan ------------------------------------------------------------------------

TEST(Scan, RecordsWhoAnsweredAndCreatesClassDevicesByType) {
  struct Answer {
    UCHAR target, lun, byte0;
  };
  // 0x7F: the target exists but this LUN does not (qualifier 3).
  const std::vector<Answer> answers = {
      {1, 0, 0x00}, {2, 0, 0x06}, {2, 1, 0x06}, {3, 0, 0x05}, {4, 0, 0x03}, {5, 0, 0x7F},
  };
  for (bool all_luns : {false, true}) {
    SCOPED_TRACE(all_luns ? "LUNs 1-7 too" : "LUN 0 only");
    PortSettings settings;
    settings.scan_luns_above_zero = all_luns;
    DoubleRig rig({}, settings);
    rig.miniport.start_io = [&](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
      UCHAR status = SRB_STATUS_SELECTION_TIMEOUT;
      for (const Answer& a : answers) {
        if (a.target == srb->TargetId && a.lun == srb->Lun) {
          std::memset(srb->DataBuffer, 0, srb->DataTransferLength);
          static_cast<UCHAR*>(srb->DataBuffer)[0] = a.byte0;
          status = SRB_STATUS_SUCCESS;
        }
      }
      DoubleMiniport::complete(extension, srb, status);
      DoubleMiniport::next_request(extension);
    };
    rig.load();

    std::vector<std::tuple<int, int, bool>> records;
    for (const InquiryRecord& r : rig.port().inquiry_data()) {
      records.emplace_back(r.target_id, r.lun, r.claimed);
    }
    std::vector<std::tuple<int, int, bool>> expected = {
        {1, 0, true}, {2, 0, true}, {3, 0, true}, {4, 0, false}};
    std::vector<std::string> names = {"\\\\.\\PhysicalDrive0", "\\\\.\\scanner0", "\\\\.\\CdRom0"};
    if (all_luns) {
      expected.emplace_back(2, 1, true);
      names.push_back("\\\\.\\scanner1");
    }
    EXPECT_EQ(records, expected);
    std::vector<std::string> seen;
    for (const ClassDevice& device : rig.port_driver.class_devices()) seen.push_back(device.name);
    EXPECT_EQ(seen, names);
    // Four answering targets, each asked for LUNs 1-7 when the setting is on.
    EXPECT_EQ(rig.miniport.started.size(), all_luns ? 8u + 4 * 7 : 8u);
    rig.expect_clean();
  }
}

// ---- One request at a time -----------------------------------------------------

TEST(Queue, HandsOverTheNextRequestOnlyAfterNextRequest) {
  DoubleRig rig;
  rig.load();
  rig.miniport.started.clear();
  rig.miniport.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);  // and no NextRequest
  };
  PortDevice& port = rig.port();
  const auto first = port.submit(test_unit_ready(1));
  const auto second = port.submit(test_unit_ready(2));
  port.run_until_idle(rig.now_ns() + 30 * hw::kNsPerS);

  EXPECT_TRUE(port.outcome(first).finished);
  EXPECT_FALSE(port.outcome(second).finished);
  EXPECT_EQ(rig.miniport.started.size(), 1u);
}

// ---- Time-out ------------------------------------------------------------------------

TEST(TimeOut, ResetsTheBusAndEndsTheLateRequestWithTimeOut) {
  DoubleRig rig;
  rig.load();
  // Takes every request and never completes it, but asks for more.
  rig.miniport.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK) {
    DoubleMiniport::next_request(extension);
  };
  PortDevice& port = rig.port();
  const auto late = port.submit(test_unit_ready(1, 2));
  const auto other = port.submit(test_unit_ready(2, 10));
  port.run_until_idle(rig.now_ns() + 30 * hw::kNsPerS);

  const RequestOutcome late_outcome = port.outcome(late);
  ASSERT_TRUE(late_outcome.finished);
  EXPECT_EQ(late_outcome.srb_status, SRB_STATUS_TIMEOUT);
  EXPECT_EQ(late_outcome.finished_ns - late_outcome.started_ns, 2 * hw::kNsPerS);
  // The rest end as the miniport's reset ends them.
  EXPECT_EQ(port.outcome(other).srb_status, SRB_STATUS_BUS_RESET);
  EXPECT_EQ(rig.miniport.reset_calls, 1);

  ASSERT_EQ(rig.port_driver.error_log().size(), 1u);
  const ErrorLogEntry& entry = rig.port_driver.error_log()[0];
  EXPECT_TRUE(entry.from_port_driver);
  EXPECT_EQ(entry.error_code, ULONG{SP_REQUEST_TIMEOUT});
  EXPECT_EQ(entry.target_id, 1);
  rig.expect_clean();
}

// ---- Interrupts ------------------------------------------------------------------

TEST(Interrupt, AnUnclaimedLineIsMaskedAClaimedOneServed) {
  struct Case {
    const char* name;
    bool claims;
    UCHAR status;
    bool masked;
  };
  const Case cases[] = {
      {"claimed", true, SRB_STATUS_SUCCESS, false},
      {"never claimed", false, SRB_STATUS_TIMEOUT, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleRig rig;
    rig.load();
    PSCSI_REQUEST_BLOCK pending = nullptr;
    // Starts the request and makes the board interrupt: a bus reset raises
    // the 53C80's IRQ, latched until Reset Parity/Interrupt is read.
    rig.miniport.start_io = [&](PVOID, PSCSI_REQUEST_BLOCK srb) {
      PUCHAR base = rig.miniport.base;
      pending = srb;
      ScsiPortWritePortUchar(base + kBoardControl, kIntEnable);
      ScsiPortWritePortUchar(base + kInitiatorCommand, kAssertRst);
      ScsiPortStallExecution(30);
      ScsiPortWritePortUchar(base + kInitiatorCommand, 0);
    };
    rig.miniport.interrupt = [&](PVOID extension) -> BOOLEAN {
      if (!c.claims) return FALSE;
      PUCHAR base = rig.miniport.base;
      (void)ScsiPortReadPortUchar(base + kResetParityInterrupt);
      (void)ScsiPortReadPortUchar(base + kBoardControl);
      DoubleMiniport::complete(extension, pending, SRB_STATUS_SUCCESS);
      DoubleMiniport::next_request(extension);
      return TRUE;
    };

    const RequestOutcome outcome = rig.port_driver.execute(test_unit_ready(1, 1));
    EXPECT_EQ(outcome.srb_status, c.status);
    EXPECT_EQ(rig.port().interrupt_masked(), c.masked);
    const bool logged =
        std::any_of(rig.port_driver.error_log().begin(), rig.port_driver.error_log().end(),
                    [](const ErrorLogEntry& e) { return e.error_code == SP_IRQ_NOT_RESPONDING; });
    EXPECT_EQ(logged, c.masked);
    EXPECT_EQ(rig.miniport.interrupt_calls,
              c.claims ? 1 : rig.port_driver.settings().unclaimed_interrupt_limit);
    EXPECT_TRUE(rig.port_driver.driver_errors().empty()) << rig.logs();
  }
}

// ---- Transfer limit ----------------------------------------------------------------

TEST(TransferLimit, IsTheSmallerOfMaximumLengthAndPhysicalBreaks) {
  constexpr ULONG kUnset = DoubleMiniport::kUnset;
  struct Case {
    ULONG maximum_transfer_length;
    ULONG physical_breaks;
    ULONG bytes;
    bool refused;
  };
  const Case cases[] = {
      {0xFFFFFFFF, 17, 17 * 4096, false},
      {0xFFFFFFFF, 17, 17 * 4096 + 1, true},
      {4096, 17, 4096, false},
      {4096, 17, 4097, true},
      {kUnset, kUnset, 1 << 20, false},
      {kUnset, 2, 3 * 4096, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "max " << c.maximum_transfer_length << " breaks "
                                      << c.physical_breaks << " bytes " << c.bytes);
    DoubleRig rig;
    rig.miniport.maximum_transfer_length = c.maximum_transfer_length;
    rig.miniport.physical_breaks = c.physical_breaks;
    rig.load();
    rig.miniport.started.clear();
    std::vector<std::uint8_t> buffer(c.bytes);
    ScsiRequest request = test_unit_ready(1);
    request.direction = DataDirection::In;
    request.buffer = buffer;
    const RequestOutcome outcome = rig.port_driver.execute(request);
    EXPECT_EQ(outcome.srb_status, c.refused ? SRB_STATUS_INVALID_REQUEST : SRB_STATUS_SUCCESS);
    EXPECT_EQ(rig.miniport.started.size(), c.refused ? 0u : 1u);
  }
}

// ---- Automatic sense ---------------------------------------------------------------

TEST(AutoSense, ACheckConditionGetsItsSenseThroughTheMiniport) {
  const std::array<std::uint8_t, 18> kSense = {0x70, 0, 0x05, 0,    0, 0, 0, 10, 0,
                                               0,    0, 0,    0x24, 0, 0, 0, 0,  0};
  struct Case {
    const char* name;
    UCHAR sense_bytes;
    ULONG flags;
    UCHAR sense_status;  // how the miniport ends the REQUEST SENSE
    bool asks_for_sense;
    bool sense_valid;
  };
  const Case cases[] = {
      {"sense buffer", 18, 0, SRB_STATUS_SUCCESS, true, true},
      {"short sense buffer", 8, 0, SRB_STATUS_SUCCESS, true, true},
      {"REQUEST SENSE fails", 18, 0, SRB_STATUS_SELECTION_TIMEOUT, true, false},
      {"no sense buffer", 0, 0, SRB_STATUS_SUCCESS, false, false},
      {"autosense disabled", 18, SRB_FLAGS_DISABLE_AUTOSENSE, SRB_STATUS_SUCCESS, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleRig rig;
    rig.load();
    rig.miniport.started.clear();
    rig.miniport.start_io = [&](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
      if (srb->Cdb[0] == kRequestSense) {
        std::memcpy(srb->DataBuffer, kSense.data(),
                    std::min<std::size_t>(srb->DataTransferLength, kSense.size()));
        DoubleMiniport::complete(extension, srb, c.sense_status);
      } else {
        DoubleMiniport::complete(extension, srb, SRB_STATUS_ERROR, SCSISTAT_CHECK_CONDITION);
      }
      DoubleMiniport::next_request(extension);
    };
    ScsiRequest request = test_unit_ready(3);
    request.lun = 1;
    request.sense_bytes = c.sense_bytes;
    request.extra_flags = c.flags;
    const RequestOutcome outcome = rig.port_driver.execute(request);

    EXPECT_EQ(outcome.scsi_status, SCSISTAT_CHECK_CONDITION);
    EXPECT_EQ(outcome.srb_status,
              SRB_STATUS_ERROR | (c.sense_valid ? SRB_STATUS_AUTOSENSE_VALID : 0));
    ASSERT_EQ(rig.miniport.started.size(), c.asks_for_sense ? 2u : 1u);
    if (c.asks_for_sense) {
      const SCSI_REQUEST_BLOCK& sense = rig.miniport.started[1];
      EXPECT_EQ(sense.TargetId, 3);
      EXPECT_EQ(sense.Lun, 1);
      const std::vector<UCHAR> cdb(sense.Cdb, sense.Cdb + sense.CdbLength);
      EXPECT_EQ(cdb, (std::vector<UCHAR>{kRequestSense, 0x20, 0, 0, c.sense_bytes, 0}));
    }
    const std::vector<std::uint8_t> expected_sense =
        c.sense_valid ? std::vector<std::uint8_t>(kSense.begin(), kSense.begin() + c.sense_bytes)
                      : std::vector<std::uint8_t>{};
    EXPECT_EQ(outcome.sense, expected_sense);
    rig.expect_clean();
  }
}

// ---- Logical units -------------------------------------------------------------------

TEST(LogicalUnits, ExistForAddressesRequestsWereSentToAndAreKept) {
  DoubleRig rig;
  rig.load();
  std::map<int, PVOID> seen;
  PVOID never_sent = reinterpret_cast<PVOID>(1);
  int marker_seen = -1;
  rig.miniport.start_io = [&](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    auto* lu = static_cast<UCHAR*>(ScsiPortGetLogicalUnit(extension, 0, srb->TargetId, srb->Lun));
    never_sent = ScsiPortGetLogicalUnit(extension, 0, 6, 3);
    seen[srb->TargetId] = lu;
    if (lu != nullptr) {
      if (marker_seen < 0) marker_seen = lu[DoubleMiniport::kLuExtensionBytes - 1];
      lu[DoubleMiniport::kLuExtensionBytes - 1] = 0x5A;
    }
    DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
    DoubleMiniport::next_request(extension);
  };
  rig.port_driver.execute(test_unit_ready(5));
  const PVOID first = seen[5];
  rig.port_driver.execute(test_unit_ready(5));

  ASSERT_NE(first, nullptr);
  EXPECT_EQ(seen[5], first);
  EXPECT_EQ(marker_seen, 0);  // zero-filled when made
  EXPECT_EQ(static_cast<UCHAR*>(first)[DoubleMiniport::kLuExtensionBytes - 1], 0x5A);
  EXPECT_EQ(never_sent, nullptr);
  rig.expect_clean();
}

// ---- Completion order ------------------------------------------------------------------

TEST(Completion, RequestCompleteTakesEffectBeforeCompleteRequestEndsTheRest) {
  struct Case {
    const char* name;
    bool completes_first;
    UCHAR status;
  };
  const Case cases[] = {
      {"completed, then the rest ended", true, SRB_STATUS_SUCCESS},
      {"ended with the rest, then written", false, SRB_STATUS_BUS_RESET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleRig rig;
    rig.load();
    rig.miniport.start_io = [&](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
      if (c.completes_first) DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
      ScsiPortCompleteRequest(extension, 0, SP_UNTAGGED, SP_UNTAGGED, SRB_STATUS_BUS_RESET);
      // A miniport's bus-reset request writes its status after it was ended.
      srb->SrbStatus = SRB_STATUS_SUCCESS;
      DoubleMiniport::next_request(extension);
    };
    EXPECT_EQ(rig.port_driver.execute(test_unit_ready(1)).srb_status, c.status);
    rig.expect_clean();
  }
}

// ---- Verifier ----------------------------------------------------------------------------

TEST(Verifier, CatchesWhatADriverVerifierWould) {
  struct Case {
    const char* name;
    std::function<void(DoubleMiniport&, PVOID, PSCSI_REQUEST_BLOCK)> misbehave;
    DriverErrorKind kind;
  };
  const Case cases[] = {
      {"completed twice",
       [](DoubleMiniport&, PVOID extension, PSCSI_REQUEST_BLOCK srb) {
         DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
         DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
       },
       DriverErrorKind::RequestCompletedTwice},
      {"completes a request of its own",
       [](DoubleMiniport&, PVOID extension, PSCSI_REQUEST_BLOCK srb) {
         SCSI_REQUEST_BLOCK forged = *srb;
         DoubleMiniport::complete(extension, &forged, SRB_STATUS_SUCCESS);
         DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
       },
       DriverErrorKind::CompletionOfUnknownRequest},
      {"reads past its registers",
       [](DoubleMiniport& miniport, PVOID extension, PSCSI_REQUEST_BLOCK srb) {
         EXPECT_EQ(ScsiPortReadPortUchar(miniport.base + 32), 0xFF);
         DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
       },
       DriverErrorKind::PortOutsideMappedRange},
      {"names an extension that is not its own",
       [](DoubleMiniport&, PVOID extension, PSCSI_REQUEST_BLOCK srb) {
         std::array<std::uint64_t, 8> stranger{};
         DoubleMiniport::complete(stranger.data(), srb, SRB_STATUS_SUCCESS);
         DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
       },
       DriverErrorKind::UnknownExtension},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleRig rig;
    rig.load();
    rig.miniport.start_io = [&](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
      c.misbehave(rig.miniport, extension, srb);
      DoubleMiniport::next_request(extension);
    };
    const RequestOutcome outcome = rig.port_driver.execute(test_unit_ready(1));
    EXPECT_EQ(outcome.srb_status, SRB_STATUS_SUCCESS);
    ASSERT_EQ(rig.port_driver.driver_errors().size(), 1u) << rig.logs();
    EXPECT_EQ(rig.port_driver.driver_errors()[0].kind, c.kind) << rig.logs();
    EXPECT_TRUE(rig.machine.guest_errors().empty()) << rig.logs();
  }
}

TEST(Verifier, CatchesAnExtensionUsedAfterThePortDriverFreedIt) {
  DoubleRig rig;
  // A second board of the same identity: the miniport refuses the first,
  // whose extension the port driver then frees, and takes the second.
  hw::Qzr6140Board second_board(rig.machine.bus(), rig.machine.guest_errors());
  rig.machine.pci().plug(rig.machine.board_slot() + 1, second_board, 10);
  PVOID refused = nullptr;
  rig.miniport.find_adapter = [&](PVOID extension, PPORT_CONFIGURATION_INFORMATION config,
                                  PBOOLEAN again) -> ULONG {
    *again = FALSE;
    if (refused == nullptr) {
      refused = extension;
      return SP_RETURN_NOT_FOUND;
    }
    return rig.miniport.map_board(extension, config);
  };
  rig.load();
  ASSERT_EQ(rig.port_driver.port_count(), 1u);
  EXPECT_EQ(rig.port().pci_slot(), rig.machine.board_slot() + 1);
  EXPECT_TRUE(rig.port_driver.driver_errors().empty()) << rig.logs();

  rig.miniport.start_io = [&](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    EXPECT_EQ(ScsiPortGetLogicalUnit(refused, 0, srb->TargetId, 0), nullptr);
    DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
    DoubleMiniport::next_request(extension);
  };
  rig.port_driver.execute(test_unit_ready(1));
  ASSERT_EQ(rig.port_driver.driver_errors().size(), 1u) << rig.logs();
  EXPECT_EQ(rig.port_driver.driver_errors()[0].kind, DriverErrorKind::ExtensionUsedAfterFree);
}

// ---- Logs --------------------------------------------------------------------------

TEST(Logs, KeepErrorLogEntriesAndDebugLinesFormattedTheWindowsWay) {
  DoubleRig rig;
  rig.load();
  rig.miniport.start_io = [](PVOID extension, PSCSI_REQUEST_BLOCK srb) {
    // 'l' is 32 bits on Windows: these arguments are passed as ULONG/LONG.
    ScsiDebugPrint(0, "Fail to get REQ  ! ! !, %lx, %s %ld|%08lX", ULONG{0x1869F}, "Select",
                   LONG{-5}, ULONG{0xBEEF});
    ScsiPortLogError(extension, srb, srb->PathId, srb->TargetId, srb->Lun, SP_PROTOCOL_ERROR, 5);
    DoubleMiniport::complete(extension, srb, SRB_STATUS_SUCCESS);
    DoubleMiniport::next_request(extension);
  };
  rig.port_driver.execute(test_unit_ready(4));

  ASSERT_EQ(rig.port_driver.debug_log().size(), 1u);
  EXPECT_EQ(rig.port_driver.debug_log()[0].text,
            "Fail to get REQ  ! ! !, 1869f, Select -5|0000BEEF");
  ASSERT_EQ(rig.port_driver.error_log().size(), 1u);
  const ErrorLogEntry& entry = rig.port_driver.error_log()[0];
  EXPECT_FALSE(entry.from_port_driver);
  EXPECT_TRUE(entry.with_request);
  EXPECT_EQ(entry.port_number, 0);
  EXPECT_EQ(entry.target_id, 4);
  EXPECT_EQ(entry.error_code, ULONG{SP_PROTOCOL_ERROR});
  EXPECT_EQ(entry.unique_id, 5u);
}

}  // namespace
}  // namespace qzr::nt::scsiport::test
