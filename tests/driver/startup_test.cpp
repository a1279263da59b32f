// Registration with the port driver, the adapter search and the board reset.
#include <cstdio>

#include "tests/driver/driver_fixture.h"

namespace qzr::driver_test {
namespace {

TEST(DriverEntry, RegistersTheMiniportAndReturnsThePortDriversResult) {
  RecordingPort port;
  port.set_initialize_result(0xC0000001);
  int driver_object = 0;
  char registry_path[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\QZR6140";

  EXPECT_EQ(DriverEntry(&driver_object, registry_path), 0xC0000001u);

  ASSERT_EQ(port.registrations().size(), 1u);
  const auto& registration = port.registrations()[0];
  const HW_INITIALIZATION_DATA& data = registration.data;
  EXPECT_EQ(registration.argument1, &driver_object);
  EXPECT_EQ(registration.argument2, registry_path);
  EXPECT_TRUE(registration.has_context);
  EXPECT_EQ(registration.context_value, 0u);

  EXPECT_EQ(data.HwInitializationDataSize, sizeof(HW_INITIALIZATION_DATA));
  EXPECT_EQ(data.AdapterInterfaceType, PCIBus);
  EXPECT_EQ(data.HwInitialize, &KLV528xInitialize);
  EXPECT_EQ(data.HwStartIo, &KLV528xStartIo);
  EXPECT_EQ(data.HwInterrupt, &KLV528xInterrupt);
  EXPECT_EQ(data.HwFindAdapter, &KLV528xFindAdapter);
  EXPECT_EQ(data.HwResetBus, &KLV528xResetBus);
  EXPECT_EQ(data.HwDmaStarted, nullptr);
  EXPECT_EQ(data.HwAdapterState, nullptr);
  EXPECT_EQ(data.DeviceExtensionSize, sizeof(ADAPTER_EXTENSION));
  EXPECT_EQ(data.SpecificLuExtensionSize, sizeof(LU_EXTENSION));
  EXPECT_EQ(data.SrbExtensionSize, 0u);
  EXPECT_EQ(data.NumberOfAccessRanges, 2u);
  EXPECT_EQ(data.Reserved, nullptr);
  EXPECT_EQ(data.MapBuffers, TRUE);
  EXPECT_EQ(data.NeedPhysicalAddresses, TRUE);
  EXPECT_EQ(data.TaggedQueuing, FALSE);
  EXPECT_EQ(data.AutoRequestSense, TRUE);
  EXPECT_EQ(data.MultipleRequestPerLu, FALSE);
  EXPECT_EQ(data.ReceiveEvent, FALSE);
  EXPECT_EQ(data.VendorIdLength, 4);
  EXPECT_EQ(registration.vendor_id, "1F7C");
  EXPECT_EQ(data.DeviceIdLength, 4);
  EXPECT_EQ(registration.device_id, "0001");
  EXPECT_EQ(port.lines(), Lines{"Initialize"});
}

class FindAdapterTest : public DriverTest {
 protected:
  FindAdapterTest() {
    ranges[0].RangeStart.QuadPart = 0xE000;
    ranges[0].RangeLength = 0x40;  // as the port driver reports it; rewritten to 32
    ranges[0].RangeInMemory = TRUE;
    config.Length = sizeof(config);
    config.SystemIoBusNumber = 2;
    config.SlotNumber = 9;
    config.AdapterInterfaceType = PCIBus;
    config.NumberOfAccessRanges = 2;
    config.AccessRanges = reinterpret_cast<ACCESS_RANGE(*)[]>(ranges);
    config.BusInterruptLevel = 99;
    config.InterruptMode = Latched;
    // A fresh adapter record, as the port driver hands it over.
    adapter = ADAPTER_EXTENSION{};
    port.pci_header()[0x3C] = 11;  // InterruptLine
  }

  ULONG find() { return KLV528xFindAdapter(&adapter, nullptr, nullptr, nullptr, &config, &again); }

  ACCESS_RANGE ranges[2]{};
  PORT_CONFIGURATION_INFORMATION config{};
  BOOLEAN again = TRUE;
};

TEST_F(FindAdapterTest, WithoutAnAccessRangeFindsNothingAndTouchesNothing) {
  ranges[0].RangeStart.QuadPart = 0;

  EXPECT_EQ(find(), static_cast<ULONG>(SP_RETURN_NOT_FOUND));

  EXPECT_EQ(again, FALSE);
  EXPECT_EQ(adapter.ScanInProgress, 1);
  EXPECT_EQ(adapter.LastInquiryTarget, 7);
  EXPECT_EQ(adapter.BaseIoAddress, nullptr);
  EXPECT_TRUE(port.events().empty());
}

TEST_F(FindAdapterTest, WithNoAccessRangesAtAllFindsNothing) {
  config.NumberOfAccessRanges = 0;
  config.AccessRanges = nullptr;
  EXPECT_EQ(find(), static_cast<ULONG>(SP_RETURN_NOT_FOUND));
  EXPECT_TRUE(port.events().empty());
}

TEST_F(FindAdapterTest, MapsTheRangeAndWritesTheConfiguration) {
  EXPECT_EQ(find(), static_cast<ULONG>(SP_RETURN_FOUND));

  // Only configuration services: no board register is touched.
  EXPECT_EQ(port.lines(), (Lines{"GetBusData(4, 2, 9, 64)", "GetDeviceBase(5, 2, 0xe000, 64, io)",
                                 "ConvertUlongToPhysicalAddress(0xe000)"}));

  EXPECT_EQ(again, FALSE);
  EXPECT_EQ(adapter.BaseIoAddress, port.base());
  EXPECT_EQ(adapter.InterruptLine, 11);
  EXPECT_EQ(adapter.InitiatorIdBit, 0x80);
  EXPECT_EQ(adapter.ScanInProgress, 1);
  EXPECT_EQ(adapter.LastInquiryTarget, 7);
  EXPECT_EQ(adapter.ActiveLu, nullptr);

  EXPECT_EQ(config.BusInterruptLevel, 11u);
  EXPECT_EQ(config.InterruptMode, LevelSensitive);
  EXPECT_EQ(ranges[0].RangeStart.QuadPart, 0xE000);
  EXPECT_EQ(ranges[0].RangeLength, 32u);
  EXPECT_EQ(ranges[0].RangeInMemory, FALSE);
  EXPECT_EQ(config.ScatterGather, TRUE);
  EXPECT_EQ(config.NumberOfPhysicalBreaks, 17u);
  EXPECT_EQ(config.NeedPhysicalAddresses, TRUE);
  EXPECT_EQ(config.TaggedQueuing, FALSE);
  EXPECT_EQ(config.Master, FALSE);
  EXPECT_EQ(config.Dma32BitAddresses, TRUE);
  EXPECT_EQ(config.InitiatorBusId[0], 7);
  EXPECT_EQ(config.MaximumTransferLength, 0xFFFFFFFFu);
  EXPECT_EQ(config.NumberOfBuses, 1);
}

TEST_F(FindAdapterTest, InterruptLineZeroIsKeptAsNoInterrupt) {
  port.pci_header()[0x3C] = 0;
  EXPECT_EQ(find(), static_cast<ULONG>(SP_RETURN_FOUND));
  EXPECT_EQ(adapter.InterruptLine, 0);
  EXPECT_EQ(config.BusInterruptLevel, 0u);
}

TEST_F(FindAdapterTest, AShortConfigurationReadLeavesNoStaleInterruptLine) {
  // The returned length is not consulted; what was not read must read as 0.
  port.set_bus_data_result(0);
  port.pci_header()[0x3C] = 0;
  EXPECT_EQ(find(), static_cast<ULONG>(SP_RETURN_FOUND));
  EXPECT_EQ(adapter.InterruptLine, 0);
}

TEST_F(FindAdapterTest, ARangeThatCannotBeMappedIsNotFound) {
  port.set_device_base_result(nullptr);
  EXPECT_EQ(find(), static_cast<ULONG>(SP_RETURN_NOT_FOUND));
  EXPECT_EQ(adapter.BaseIoAddress, nullptr);
  EXPECT_EQ(port.count(Call::PortRead) + port.count(Call::PortWrite), 0u);
}

// The board reset keeps DIR_IN and INT_ENABLE as they read before the pulse.
struct BoardResetCase {
  UCHAR status_before;
  UCHAR control_after;
};

class BoardResetTest : public DriverTest, public ::testing::WithParamInterface<BoardResetCase> {};

TEST_P(BoardResetTest, InitializePulsesResetAndRestoresDirectionAndInterruptEnable) {
  port.answer(BOARD_STATUS, {GetParam().status_before});
  char status[32], restored[32];
  std::snprintf(status, sizeof status, "BOARD_STATUS -> 0x%02x", GetParam().status_before);
  std::snprintf(restored, sizeof restored, "BOARD_CONTROL <- 0x%02x", GetParam().control_after);

  EXPECT_EQ(KLV528xInitialize(&adapter), TRUE);

  // Neither the SCSI bus nor Select Enable is touched.
  EXPECT_EQ(port.lines(), (Lines{status, "BOARD_CONTROL <- 0x80", "stall 10", restored, "stall 1",
                                 "MR <- 0x00", "TCR <- 0x00"}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, BoardResetTest,
                         ::testing::Values(BoardResetCase{0x00, 0x00}, BoardResetCase{0xD5, 0x50},
                                           BoardResetCase{0x41, 0x40}, BoardResetCase{0x9C, 0x10}));

}  // namespace
}  // namespace qzr::driver_test
