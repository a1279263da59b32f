/* QZR6140 SCSI miniport.
 *
 * How a request lives
 * -------------------
 * The port driver hands us one request at a time (KLV528xStartIo) and never
 * calls StartIo, the interrupt routine or the bus reset at the same time, so
 * the driver takes no lock and keeps all its state in the two records the
 * port driver allocates zero-filled: ADAPTER_EXTENSION per board and
 * LU_EXTENSION per logical unit.
 *
 *   taken      StartIo records the request in its LU (CurrentSrb, LuState
 *              LU_STATE_START) and copies DataBuffer/DataTransferLength into
 *              the LU's saved data pointer and length.
 *   selected   ActiveLu names the LU; the adapter arbitrates for ID 7 and
 *              selects the target with ATN, then sends IDENTIFY (0xC0 | LUN
 *              when the target may disconnect, 0x80 | LUN otherwise).
 *   connected  the phase engine follows the target's phases, working on
 *              CurrentDataPointer/CurrentDataLength in the adapter record.
 *   disconnected  the pointers are saved back into the LU, ActiveLu is
 *              cleared and the request waits in its LU alone. Only LUN 0
 *              requests outside the bus scan, on a board with an interrupt
 *              line, are allowed to get here: reselection always resumes
 *              LUN 0 of the reselecting target.
 *   reselected the interrupt routine answers the reselection, restores the
 *              saved pointers and re-enters the phase engine.
 *   completed  COMMAND COMPLETE ends it: RequestComplete, the 5380 back to
 *              rest (Mode, Target Command, Initiator Command all 0) and
 *              NextRequest. NextRequest is never sent on a disconnection,
 *              so at most one request is ever in progress.
 *
 * Every wait is a bounded busy poll (the WAIT_ routines); a failed step
 * returns FALSE and its caller decides what that means for the request.
 * The phase engine runs at interrupt level, so nothing a target does may
 * keep it there for long: a target that holds BSY without REQ, one that
 * keeps asking for phases that move no data (Data Out after the data is
 * exhausted, endless messages), a board that never frees a slot or never
 * loads its counter, a send that never ends - each fails the request with
 * a bus reset after a bound of about a second. A target that sends more
 * than was asked for has the excess dropped, never stored past the
 * request's buffer; a transfer larger than the 12-bit block counter goes
 * in several phases of at most 4095 blocks each.
 * A reselection we answer but cannot resume is aborted (ATN, ABORT) so
 * that the target leaves the bus free for the others.
 * A write the target cuts short (to disconnect, inside a block or not) is
 * resumed at the first byte the target did not take: the block counter and,
 * in the write direction, SWAP_CONTROL's count of bytes taken from the
 * oldest held block say exactly how far the send got.
 * A request that ends GOOD with bytes left unmoved completes as
 * SRB_STATUS_DATA_OVERRUN with DataTransferLength cut to the bytes moved.
 * No register value is cached: each test reads the port again, and each
 * read-modify-write reads the port just before writing it.
 */
#include "qzr6140.h"

/* ---- Register access ----------------------------------------------------- */

static inline UCHAR KLV528xReadRegister(PUCHAR BaseIoAddress, ULONG Offset) {
  return ScsiPortReadPortUchar(BaseIoAddress + Offset);
}

static inline VOID KLV528xWriteRegister(PUCHAR BaseIoAddress, ULONG Offset, UCHAR Value) {
  ScsiPortWritePortUchar(BaseIoAddress + Offset, Value);
}

static VOID KLV528xZeroMemory(PVOID Buffer, ULONG Length) {
  PUCHAR bytes = (PUCHAR)Buffer;
  for (ULONG i = 0; i < Length; i++) {
    bytes[i] = 0;
  }
}

/* The 5380's resting state between requests, then ask for the next one. */
static VOID KLV528xIdleAndNextRequest(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  KLV528xWriteRegister(base, MODE_REGISTER, 0);
  KLV528xWriteRegister(base, TARGET_COMMAND, 0);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
  ScsiPortStallExecution(1);
  ScsiPortNotification(NextRequest, Adapter);
}

/* Board reset: pulse BOARD_RESET, keep the direction and interrupt enable as
 * they were, and leave the 5380 in initiator mode with no expected phase.
 * The SCSI bus and Select Enable are left alone. */
static VOID KLV528xResetBoard(PUCHAR BaseIoAddress) {
  UCHAR status = KLV528xReadRegister(BaseIoAddress, BOARD_STATUS);
  KLV528xWriteRegister(BaseIoAddress, BOARD_CONTROL, BOARD_RESET);
  ScsiPortStallExecution(10);
  KLV528xWriteRegister(BaseIoAddress, BOARD_CONTROL, status & (DIR_IN | INT_ENABLE));
  ScsiPortStallExecution(1);
  KLV528xWriteRegister(BaseIoAddress, MODE_REGISTER, 0);
  KLV528xWriteRegister(BaseIoAddress, TARGET_COMMAND, 0);
}

/* ---- Registration and adapter start-up ----------------------------------- */

extern "C" ULONG DriverEntry(IN PVOID DriverObject, IN PVOID Argument2) {
  HW_INITIALIZATION_DATA hwInitializationData;
  UCHAR vendorId[4] = {'1', 'F', '7', 'C'};
  UCHAR deviceId[4] = {'0', '0', '0', '1'};
  ULONG hwContext = 0;

  KLV528xZeroMemory(&hwInitializationData, sizeof(hwInitializationData));
  hwInitializationData.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
  hwInitializationData.AdapterInterfaceType = PCIBus;
  hwInitializationData.HwInitialize = KLV528xInitialize;
  hwInitializationData.HwStartIo = KLV528xStartIo;
  hwInitializationData.HwInterrupt = KLV528xInterrupt;
  hwInitializationData.HwFindAdapter = KLV528xFindAdapter;
  hwInitializationData.HwResetBus = KLV528xResetBus;
  hwInitializationData.HwDmaStarted = NULL;
  hwInitializationData.HwAdapterState = NULL;
  hwInitializationData.DeviceExtensionSize = sizeof(ADAPTER_EXTENSION);
  hwInitializationData.SpecificLuExtensionSize = sizeof(LU_EXTENSION);
  hwInitializationData.SrbExtensionSize = 0;
  hwInitializationData.NumberOfAccessRanges = 2;
  hwInitializationData.MapBuffers = TRUE;
  hwInitializationData.NeedPhysicalAddresses = TRUE;
  hwInitializationData.TaggedQueuing = FALSE;
  hwInitializationData.AutoRequestSense = TRUE;
  hwInitializationData.MultipleRequestPerLu = FALSE;
  hwInitializationData.ReceiveEvent = FALSE;
  hwInitializationData.VendorIdLength = 4;
  hwInitializationData.VendorId = vendorId;
  hwInitializationData.DeviceIdLength = 4;
  hwInitializationData.DeviceId = deviceId;

  return ScsiPortInitialize(DriverObject, Argument2, &hwInitializationData, &hwContext);
}

extern "C" ULONG KLV528xFindAdapter(IN PVOID HwDeviceExtension, IN PVOID HwContext,
                                    IN PVOID BusInformation, IN PCHAR ArgumentString,
                                    IN OUT PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                                    OUT PBOOLEAN Again) {
  PADAPTER_EXTENSION adapter = (PADAPTER_EXTENSION)HwDeviceExtension;
  PCI_COMMON_CONFIG pciConfig;
  PACCESS_RANGE range;
  (void)HwContext;
  (void)BusInformation;
  (void)ArgumentString;

  *Again = FALSE;
  adapter->ScanInProgress = 1;
  adapter->LastInquiryTarget = QZR_INITIATOR_ID;

  if (ConfigInfo->NumberOfAccessRanges == 0 || ConfigInfo->AccessRanges == NULL) {
    return SP_RETURN_NOT_FOUND;
  }
  range = &(*ConfigInfo->AccessRanges)[0];
  if (range->RangeStart.LowPart == 0) {
    return SP_RETURN_NOT_FOUND;
  }

  /* Zeroed first so that a short read cannot leave a stale interrupt line. */
  KLV528xZeroMemory(&pciConfig, PCI_COMMON_HDR_LENGTH);
  ScsiPortGetBusData(adapter, PCIConfiguration, ConfigInfo->SystemIoBusNumber,
                     ConfigInfo->SlotNumber, &pciConfig, PCI_COMMON_HDR_LENGTH);

  adapter->BaseIoAddress = (PUCHAR)ScsiPortGetDeviceBase(
      adapter, ConfigInfo->AdapterInterfaceType, ConfigInfo->SystemIoBusNumber, range->RangeStart,
      range->RangeLength, TRUE);
  if (adapter->BaseIoAddress == NULL) {
    /* Unmapped registers would send every access to port 0. */
    return SP_RETURN_NOT_FOUND;
  }

  adapter->InterruptLine = pciConfig.u.type0.InterruptLine;
  ConfigInfo->BusInterruptLevel = pciConfig.u.type0.InterruptLine;
  ConfigInfo->InterruptMode = LevelSensitive;

  adapter->InitiatorIdBit = (UCHAR)(1 << QZR_INITIATOR_ID);

  range->RangeStart = ScsiPortConvertUlongToPhysicalAddress(range->RangeStart.LowPart);
  range->RangeLength = 32;
  range->RangeInMemory = FALSE;

  /* Data always moves by programmed I/O through the mapped DataBuffer; what is
   * declared here about scatter/gather and physical addresses is never used. */
  ConfigInfo->ScatterGather = TRUE;
  ConfigInfo->NumberOfPhysicalBreaks = 17;
  ConfigInfo->NeedPhysicalAddresses = TRUE;
  ConfigInfo->TaggedQueuing = FALSE;
  ConfigInfo->Master = FALSE;
  ConfigInfo->Dma32BitAddresses = TRUE;
  ConfigInfo->InitiatorBusId[0] = QZR_INITIATOR_ID;
  ConfigInfo->MaximumTransferLength = 0xFFFFFFFF;
  ConfigInfo->NumberOfBuses = 1;

  return SP_RETURN_FOUND;
}

extern "C" BOOLEAN KLV528xInitialize(IN PVOID HwDeviceExtension) {
  PADAPTER_EXTENSION adapter = (PADAPTER_EXTENSION)HwDeviceExtension;
  KLV528xResetBoard(adapter->BaseIoAddress);
  return TRUE;
}

/* ---- Request entry ------------------------------------------------------- */

extern "C" BOOLEAN KLV528xStartIo(IN PVOID HwDeviceExtension, IN PSCSI_REQUEST_BLOCK Srb) {
  PADAPTER_EXTENSION adapter = (PADAPTER_EXTENSION)HwDeviceExtension;
  PLU_EXTENSION luExtension;

  adapter->PathId = Srb->PathId;
  luExtension =
      (PLU_EXTENSION)ScsiPortGetLogicalUnit(adapter, Srb->PathId, Srb->TargetId, Srb->Lun);
  Srb->SrbStatus = SRB_STATUS_PENDING;

  switch (Srb->Function) {
    case SRB_FUNCTION_EXECUTE_SCSI:
      if (luExtension == NULL) {
        /* The port driver promises an LU record for every address it sends;
         * without one there is nowhere to keep the request, so refuse it. */
        Srb->SrbStatus = SRB_STATUS_INVALID_REQUEST;
        ScsiPortNotification(RequestComplete, adapter, Srb);
        break;
      }
      {
        /* Taken before execution: once completed, the request is the port
         * driver's again and is not read here any more. */
        UCHAR opcode = Srb->Cdb[0];
        UCHAR targetId = Srb->TargetId;

        luExtension->CurrentSrb = Srb;
        luExtension->LuState = LU_STATE_START;
        luExtension->SavedDataPointer = (PUCHAR)Srb->DataBuffer;
        luExtension->SavedDataLength = Srb->DataTransferLength;
        KLV528xStartExecution(adapter, luExtension, Srb);

        /* Profiling follows every INQUIRY of the bus scan, answered or not;
         * the port driver's INQUIRY to our own ID ends the scan for good. */
        if (opcode == SCSIOP_INQUIRY && adapter->ScanInProgress == 1) {
          if (targetId == QZR_INITIATOR_ID) {
            adapter->ScanInProgress = 0;
          } else {
            KLV528xProfileTarget(adapter, targetId);
          }
        }
        return TRUE;
      }

    case SRB_FUNCTION_ABORT_COMMAND:
      KLV528xAbort(adapter, luExtension, Srb);
      break;

    case SRB_FUNCTION_RESET_BUS:
      /* ScsiPortCompleteRequest inside the reset ends this request together
       * with every other outstanding one; it gets no RequestComplete here. */
      KLV528xResetBus(adapter, Srb->PathId);
      Srb->SrbStatus = SRB_STATUS_SUCCESS;
      break;

    default:
      Srb->SrbStatus = SRB_STATUS_INVALID_REQUEST;
      ScsiPortNotification(RequestComplete, adapter, Srb);
      break;
  }

  KLV528xIdleAndNextRequest(adapter);
  return TRUE;
}

VOID KLV528xAbort(PADAPTER_EXTENSION Adapter, PLU_EXTENSION LuExtension, PSCSI_REQUEST_BLOCK Srb) {
  PLU_EXTENSION activeLu = Adapter->ActiveLu;
  (void)LuExtension;

  /* Only the request holding the bus can be aborted, and only by resetting
   * the bus: a disconnected one has no bus to take back. */
  if (activeLu != NULL && activeLu->CurrentSrb != NULL && activeLu->CurrentSrb == Srb->NextSrb) {
    KLV528xResetBus(Adapter, Srb->PathId);
    ScsiPortNotification(ResetDetected, Adapter);
  } else {
    Srb->SrbStatus = SRB_STATUS_ABORT_FAILED;
    ScsiPortNotification(RequestComplete, Adapter, Srb);
  }
}

extern "C" BOOLEAN KLV528xResetBus(IN PVOID HwDeviceExtension, IN ULONG PathId) {
  PADAPTER_EXTENSION adapter = (PADAPTER_EXTENSION)HwDeviceExtension;
  PUCHAR base = adapter->BaseIoAddress;

  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_RST);
  ScsiPortStallExecution(100);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
  ScsiPortStallExecution(100);

  KLV528xResetBoard(base);
  ScsiPortStallExecution(1);

  ScsiPortCompleteRequest(adapter, (UCHAR)PathId, 0xFF, 0xFF, SRB_STATUS_BUS_RESET);

  /* Only the LU holding the bus is cleared; a disconnected one keeps its
   * record until its next request overwrites it. */
  if (adapter->ActiveLu != NULL) {
    adapter->ActiveLu->LuState = LU_STATE_COMPLETE;
    adapter->ActiveLu->CurrentSrb = NULL;
    adapter->ActiveLu = NULL;
  }

  ScsiPortNotification(NextRequest, adapter);
  return TRUE;
}

/* ---- Execution ----------------------------------------------------------- */

VOID KLV528xStartExecution(PADAPTER_EXTENSION Adapter, PLU_EXTENSION LuExtension,
                           PSCSI_REQUEST_BLOCK Srb) {
  PUCHAR base = Adapter->BaseIoAddress;
  /* Read now: the request may be completed, and no longer ours, by the time
   * the phase loop returns. */
  UCHAR targetId = Srb->TargetId;

  Adapter->ActiveLu = LuExtension;
  /* The command phase loads the working pointer, but a target may show a
   * data phase before it, or break off the command: until then it must
   * point at this request's data, not where an earlier request left it. */
  Adapter->CurrentDataPointer = LuExtension->SavedDataPointer;
  Adapter->CurrentDataLength = LuExtension->SavedDataLength;

  if (!KLV528xArbitrate(Adapter)) {
    Srb->SrbStatus = SRB_STATUS_BUSY;
    ScsiPortNotification(RequestComplete, Adapter, Srb);
    ScsiPortNotification(NextRequest, Adapter);
    /* The port driver owns the request again: keep no pointer to it. */
    LuExtension->CurrentSrb = NULL;
    Adapter->ActiveLu = NULL;
    return;
  }

  if (!KLV528xSelect(Adapter, LuExtension, Srb)) {
    Srb->SrbStatus = SRB_STATUS_SELECTION_TIMEOUT;
    ScsiPortNotification(RequestComplete, Adapter, Srb);
    KLV528xWriteRegister(base, MODE_REGISTER, 0);
    KLV528xWriteRegister(base, TARGET_COMMAND, 0);
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    ScsiPortStallExecution(1);
    ScsiPortNotification(NextRequest, Adapter);
    LuExtension->CurrentSrb = NULL;
    Adapter->ActiveLu = NULL;
    return;
  }

  /* The first REQ only paces us: on time-out its messages are printed and
   * the phase loop decides what the bus shows. */
  (void)WAIT_REQ(base, START_EX_REQ_BUDGET, "Start Ex");
  if ((KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & BUS_PHASE_MASK) == BUS_PHASE_COMMAND) {
    KLV528xCommand(Adapter);
  }

  KLV528xRunPhase(Adapter);

  /* The scan's INQUIRY answers are shorter than a block, so the drain has
   * left the whole answer in Non128ByteData: keep its vendor, product and
   * revision text on every change of target. */
  if (Adapter->ScanInProgress == 1 && targetId != Adapter->LastInquiryTarget) {
    if (targetId < QZR_TARGETS) {
      PUCHAR text = (PUCHAR)Non128ByteData + 8;
      for (ULONG i = 0; i < QZR_INQUIRY_TEXT_BYTES; i++) {
        Adapter->InquiryText[targetId][i] = text[i];
      }
    }
    Adapter->LastInquiryTarget = targetId;
  }
}

/* ---- Device profiling ------------------------------------------------------ */

const DEVICE_DELAY_ROW DirectAccessDevice[DIRECT_ACCESS_DEVICE_ROWS] = {
    {"IOMEGA  ZIP 100         R.41", 16}, {"FUJITSU M2511A          1500", 16},
    {"FUJITSU M2512A          1500", 16}, {"iomega  jaz1GB          J.83", 18},
    {"FUJITSU M1606S          6237", 32},
};

const DEVICE_DELAY_ROW OpticalMemory[OPTICAL_MEMORY_ROWS] = {
    {"FUJITSU M2513A          1500", 18},
};

/* Every row is tried and each match sets its value: the last match wins. */
UCHAR KLV528xLookUpDelay(const UCHAR* InquiryText, const DEVICE_DELAY_ROW* Rows, ULONG Count,
                         UCHAR Delay) {
  for (ULONG row = 0; row < Count; row++) {
    BOOLEAN same = TRUE;
    for (ULONG i = 0; i < INQUIRY_TEXT_COMPARED_BYTES; i++) {
      if (InquiryText[i] != (UCHAR)Rows[row].Text[i]) {
        same = FALSE;
        break;
      }
    }
    if (same) {
      Delay = Rows[row].BlockWriteDelay;
    }
  }
  return Delay;
}

VOID KLV528xProfileTarget(PADAPTER_EXTENSION Adapter, UCHAR TargetId) {
  if (TargetId >= QZR_TARGETS) {
    return;
  }
  const UCHAR* text = Adapter->InquiryText[TargetId];
  PUCHAR delay = &Adapter->BlockWriteDelay[TargetId];

  switch (Adapter->TargetDeviceType[TargetId]) {
    case DIRECT_ACCESS_DEVICE:
      *delay = KLV528xLookUpDelay(text, DirectAccessDevice, DIRECT_ACCESS_DEVICE_ROWS, 30);
      break;
    case SEQUENTIAL_ACCESS_DEVICE:
      *delay = 20;
      break;
    case WRITE_ONCE_READ_MULTIPLE_DEVICE:
      *delay = 16;
      break;
    case READ_ONLY_DIRECT_ACCESS_DEVICE:
      *delay = 90;
      break;
    case OPTICAL_DEVICE:
      *delay = KLV528xLookUpDelay(text, OpticalMemory, OPTICAL_MEMORY_ROWS, 18);
      break;
    default:
      /* Scanners and the rest keep theirs: scanner writes go byte by byte. */
      break;
  }
}

/* ---- Arbitration and selection ------------------------------------------- */

BOOLEAN KLV528xArbitrate(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  ULONG rounds = BUS_FREE_ROUNDS;
  UCHAR mode;

  for (;;) {
    if (Adapter->ActiveLu->LuState != LU_STATE_START) {
      return FALSE;
    }
    if ((KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & (SCSI_BSY | SCSI_SEL)) == 0) {
      break;
    }
    ScsiPortStallExecution(1);
    if (--rounds == 0) {
      return FALSE;
    }
  }

  KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
  KLV528xWriteRegister(base, OUTPUT_DATA, Adapter->InitiatorIdBit);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_DATA_BUS);
  ScsiPortStallExecution(3);

  mode = KLV528xReadRegister(base, MODE_REGISTER);
  KLV528xWriteRegister(base, MODE_REGISTER, mode | MODE_ARBITRATE);

  if (!WAIT_ARBIT_IN_PROG(base)) {
    mode = KLV528xReadRegister(base, MODE_REGISTER);
    KLV528xWriteRegister(base, MODE_REGISTER, mode & ~MODE_ARBITRATE);
    KLV528xWriteRegister(base, MODE_REGISTER, 0);
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }

  ScsiPortStallExecution(5); /* arbitration delay */

  if (KLV528xReadRegister(base, INITIATOR_COMMAND) & LOST_ARBITRATION) {
    mode = KLV528xReadRegister(base, MODE_REGISTER);
    KLV528xWriteRegister(base, MODE_REGISTER, mode & ~MODE_ARBITRATE);
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }

  /* We are ID 7, the highest, so any other ID on the data bus means a
   * simultaneous arbitration: we give way rather than judge priority. */
  if (KLV528xReadRegister(base, CURRENT_SCSI_DATA) != Adapter->InitiatorIdBit) {
    KLV528xWriteRegister(base, MODE_REGISTER, MODE_DMA_MODE);
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }

  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_BSY | ASSERT_SEL);
  ScsiPortStallExecution(2);
  mode = KLV528xReadRegister(base, MODE_REGISTER);
  KLV528xWriteRegister(base, MODE_REGISTER, mode & ~MODE_ARBITRATE);
  return TRUE;
}

BOOLEAN KLV528xSelect(PADAPTER_EXTENSION Adapter, PLU_EXTENSION LuExtension,
                      PSCSI_REQUEST_BLOCK Srb) {
  (void)LuExtension;
  /* Reselection resumes LUN 0 of the reselecting target and needs an
   * interrupt to announce it; the bus scan must run each request to its end. */
  if ((Srb->SrbFlags & SRB_FLAGS_DISABLE_DISCONNECT) || Adapter->InterruptLine == 0 ||
      Adapter->ScanInProgress || Srb->Lun != 0) {
    return KLV528xSelect_Disable_Disconnect(Adapter);
  }
  return KLV528xSelect_Enable_Disconnect(Adapter);
}

/* Selection with ATN, then IDENTIFY (IdentifyBase | LUN) if the target asks
 * for a message. */
static BOOLEAN KLV528xSelectTarget(PADAPTER_EXTENSION Adapter, UCHAR IdentifyBase) {
  PUCHAR base = Adapter->BaseIoAddress;
  PSCSI_REQUEST_BLOCK srb = Adapter->ActiveLu->CurrentSrb;
  UCHAR targetIdBit;
  UCHAR initiatorCommand;

  KLV528xWriteRegister(base, TARGET_COMMAND, 0);

  /* A target or LUN beyond what the bus and IDENTIFY can carry would turn the
   * shift below, or the identify byte, into garbage: treat it like our own ID. */
  if (srb->TargetId >= SCSI_MAXIMUM_TARGETS || srb->Lun >= SCSI_MAXIMUM_LOGICAL_UNITS ||
      (UCHAR)(1 << srb->TargetId) == Adapter->InitiatorIdBit) {
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }
  targetIdBit = (UCHAR)(1 << srb->TargetId);

  KLV528xWriteRegister(base, OUTPUT_DATA, Adapter->InitiatorIdBit | targetIdBit);
  KLV528xWriteRegister(base, INITIATOR_COMMAND,
                       ASSERT_BSY | ASSERT_SEL | ASSERT_ATN | ASSERT_DATA_BUS);
  ScsiPortStallExecution(5);

  /* No reselection may slip in while we select. */
  KLV528xWriteRegister(base, SELECT_ENABLE, 0);

  initiatorCommand = KLV528xReadRegister(base, INITIATOR_COMMAND);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, initiatorCommand & ~ASSERT_BSY);
  ScsiPortStallExecution(2);

  if (!WAIT_BSY(base)) {
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }

  /* Release SEL and the data bus; ATN stays up to ask for Message Out. */
  initiatorCommand = KLV528xReadRegister(base, INITIATOR_COMMAND) & ASSERT_ATN;
  KLV528xWriteRegister(base, INITIATOR_COMMAND, initiatorCommand);

  if (initiatorCommand == 0) {
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    ScsiPortStallExecution(1);
    return TRUE;
  }

  /* A target that wants no message is still selected: the phase engine
   * follows whatever it shows. */
  if (!WAIT_REQ(base, SELECT_REQ_BUDGET, "Select En Disc") ||
      (KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & BUS_PHASE_MASK) !=
          BUS_PHASE_MESSAGE_OUT) {
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return TRUE;
  }

  KLV528xWriteRegister(base, TARGET_COMMAND, TC_MESSAGE_OUT);
  Adapter->CurrentPhase = CURRENT_PHASE_IDENTIFY;
  KLV528xWriteRegister(base, OUTPUT_DATA, (UCHAR)(IdentifyBase | srb->Lun));
  /* Dropping ATN before the ACK marks this as the last message byte. */
  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_DATA_BUS);
  ScsiPortStallExecution(3);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_DATA_BUS | ASSERT_ACK);

  if (!WAIT_DE_REQ(base, IDENTIFY_DE_REQ_BUDGET)) {
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }

  KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
  ScsiPortStallExecution(1);
  KLV528xWriteRegister(base, SELECT_ENABLE, Adapter->InitiatorIdBit);
  return TRUE;
}

BOOLEAN KLV528xSelect_Enable_Disconnect(PADAPTER_EXTENSION Adapter) {
  return KLV528xSelectTarget(Adapter, SCSIMESS_IDENTIFY_WITH_DISCON);
}

BOOLEAN KLV528xSelect_Disable_Disconnect(PADAPTER_EXTENSION Adapter) {
  return KLV528xSelectTarget(Adapter, SCSIMESS_IDENTIFY);
}

/* ---- Phase engine -------------------------------------------------------- */

VOID KLV528xDetermineNextPhase(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  UCHAR status = KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS);

  /* BSY alone: the target is between phases; give it a moment. */
  for (ULONG i = 0; i < BUS_BETWEEN_PHASES_REREADS && status == SCSI_BSY; i++) {
    status = KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS);
  }

  switch (status & BUS_PHASE_MASK) {
    case BUS_PHASE_BUS_FREE:
      Adapter->ActiveLu->LuState = LU_STATE_BUS_FREE;
      break;
    case BUS_PHASE_DATA_OUT:
      Adapter->ActiveLu->LuState = LU_STATE_DATA_OUT;
      break;
    case BUS_PHASE_DATA_IN:
      Adapter->ActiveLu->LuState = LU_STATE_DATA_IN;
      break;
    case BUS_PHASE_COMMAND:
      Adapter->ActiveLu->LuState = LU_STATE_COMMAND;
      break;
    case BUS_PHASE_STATUS:
      Adapter->ActiveLu->LuState = LU_STATE_STATUS;
      break;
    case BUS_PHASE_MESSAGE_OUT:
      Adapter->ActiveLu->LuState = LU_STATE_MESSAGE_OUT;
      break;
    case BUS_PHASE_MESSAGE_IN:
      Adapter->ActiveLu->LuState = LU_STATE_MESSAGE_IN;
      break;
    default:
      Adapter->ActiveLu->LuState = LU_STATE_UNKNOWN;
      break;
  }
}

/* Scanners take their data byte by byte, everything else through the host
 * buffer. */
static BOOLEAN KLV528xDataOut(PADAPTER_EXTENSION Adapter) {
  UCHAR targetId = Adapter->ActiveLu->CurrentSrb != NULL ? Adapter->ActiveLu->CurrentSrb->TargetId
                                                         : QZR_INITIATOR_ID;
  if (targetId < QZR_TARGETS && Adapter->TargetDeviceType[targetId] == SCANNER_DEVICE) {
    return KLV528xWriteDataByte(Adapter);
  }
  return KLV528xWriteDataBlock(Adapter);
}

VOID KLV528xRunPhase(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  /* Progress is data moved beyond the furthest point reached so far in this
   * connection. A target that keeps asking for phases without letting data
   * move (a Data Out after the data is exhausted, endless messages) is cut
   * off after a bounded number of phases. */
  ULONG leastLength = Adapter->CurrentDataLength;
  ULONG roundsWithoutProgress = 0;

  /* The command phase loads the current pair from the saved one, so the
   * saved length is where this connection's data starts too. */
  if (Adapter->ActiveLu != NULL && Adapter->ActiveLu->SavedDataLength > leastLength) {
    leastLength = Adapter->ActiveLu->SavedDataLength;
  }

  for (;;) {
    if (Adapter->ActiveLu == NULL) {
      return;
    }

    /* A free bus ends the wait at once (WAIT_REQ fails without BSY); a
     * target that holds BSY and never raises REQ is given up after a bound. */
    ULONG rounds = 0;
    for (;;) {
      BOOLEAN requested = WAIT_REQ(base, RUN_PHASE_REQ_BUDGET, "Run Phase");
      KLV528xDetermineNextPhase(Adapter);
      if (requested || Adapter->ActiveLu->LuState == LU_STATE_BUS_FREE) {
        break;
      }
      if (++rounds >= RUN_PHASE_WAIT_ROUNDS) {
        KLV528xPhaseFailure(Adapter, UNIQUE_ID_NO_REQ);
        return;
      }
    }

    if (Adapter->CurrentDataLength < leastLength) {
      leastLength = Adapter->CurrentDataLength;
      roundsWithoutProgress = 0;
    } else if (++roundsWithoutProgress > PHASE_ROUNDS_WITHOUT_PROGRESS) {
      KLV528xPhaseFailure(Adapter, UNIQUE_ID_NO_PROGRESS);
      return;
    }

    switch (Adapter->ActiveLu->LuState) {
      case LU_STATE_MESSAGE_IN:
        if (!KLV528xMessageIn(Adapter)) {
          KLV528xPhaseFailure(Adapter, UNIQUE_ID_PHASE_FAILED);
          return;
        }
        break;
      case LU_STATE_MESSAGE_OUT:
        KLV528xMessageOut(Adapter);
        break;
      case LU_STATE_COMMAND:
        KLV528xCommand(Adapter);
        break;
      case LU_STATE_DATA_IN:
        if (!KLV528xReadDataBlock(Adapter)) {
          KLV528xPhaseFailure(Adapter, UNIQUE_ID_PHASE_FAILED);
          return;
        }
        break;
      case LU_STATE_DATA_OUT:
        if (!KLV528xDataOut(Adapter)) {
          KLV528xPhaseFailure(Adapter, UNIQUE_ID_DATA_OUT_FAILED);
          return;
        }
        break;
      case LU_STATE_STATUS:
        if (!KLV528xStatus(Adapter)) {
          KLV528xPhaseFailure(Adapter, UNIQUE_ID_PHASE_FAILED);
          return;
        }
        break;
      default:
        KLV528xUnexpectedPhase(Adapter, UNIQUE_ID_UNEXPECTED_PHASE);
        return;
    }
  }
}

/* A phase routine failed: the target's state is unknown, so the request
 * fails and the bus is reset, which also sends NextRequest. */
VOID KLV528xPhaseFailure(PADAPTER_EXTENSION Adapter, ULONG UniqueId) {
  PLU_EXTENSION luExtension = Adapter->ActiveLu;
  PSCSI_REQUEST_BLOCK srb = luExtension != NULL ? luExtension->CurrentSrb : NULL;
  ULONG pathId = Adapter->PathId;

  if (srb != NULL) {
    pathId = srb->PathId;
    srb->SrbStatus = SRB_STATUS_PHASE_SEQUENCE_FAILURE;
    ScsiPortLogError(Adapter, srb, srb->PathId, srb->TargetId, srb->Lun, SP_PROTOCOL_ERROR,
                     UniqueId);
    ScsiPortNotification(RequestComplete, Adapter, srb);
  }
  KLV528xResetBus(Adapter, pathId);
  Adapter->ActiveLu = NULL;
}

/* The bus went free, or shows a phase we have no routine for. The target is
 * not talking to us any more, so there is nothing to reset. */
VOID KLV528xUnexpectedPhase(PADAPTER_EXTENSION Adapter, ULONG UniqueId) {
  PLU_EXTENSION luExtension = Adapter->ActiveLu;
  PSCSI_REQUEST_BLOCK srb = luExtension != NULL ? luExtension->CurrentSrb : NULL;

  if (srb != NULL) {
    srb->SrbStatus = SRB_STATUS_PHASE_SEQUENCE_FAILURE;
    ScsiPortLogError(Adapter, srb, srb->PathId, srb->TargetId, srb->Lun, SP_PROTOCOL_ERROR,
                     UniqueId);
    ScsiPortNotification(RequestComplete, Adapter, srb);
  }
  ScsiPortNotification(NextRequest, Adapter);
  /* The request is the port driver's again: a late reselection by its
   * target must not find it. */
  if (luExtension != NULL) {
    luExtension->CurrentSrb = NULL;
  }
  Adapter->ActiveLu = NULL;
}

/* ---- Interrupt and reselection --------------------------------------------- */

/* A target we answered but have no request for holds the bus until someone
 * takes it off: left alone it keeps BSY and REQ up for good, and no other
 * target can reselect. Raise ATN, take what it sends, and answer its
 * message-out phase with ABORT, which sends it bus free. Bounded: at most
 * ABORT_RESELECTION_ROUNDS bytes, each REQ awaited for ABORT_RESELECTION_POLLS. */
static VOID KLV528xAbortReselection(PUCHAR BaseIoAddress) {
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_ATN);
  for (ULONG round = 0; round < ABORT_RESELECTION_ROUNDS; round++) {
    UCHAR bus = 0;
    ULONG polls;
    for (polls = 0; polls < ABORT_RESELECTION_POLLS; polls++) {
      bus = KLV528xReadRegister(BaseIoAddress, CURRENT_SCSI_BUS_STATUS);
      if ((bus & SCSI_BSY) == 0 || (bus & SCSI_REQ) != 0) {
        break;
      }
    }
    if ((bus & (SCSI_BSY | SCSI_REQ)) != (SCSI_BSY | SCSI_REQ)) {
      break; /* bus free, or a target that stopped asking */
    }
    KLV528xWriteRegister(BaseIoAddress, TARGET_COMMAND,
                         (UCHAR)((bus & (SCSI_MSG | SCSI_CD | SCSI_IO)) >> 2));
    if ((bus & BUS_PHASE_MASK) == BUS_PHASE_MESSAGE_OUT) {
      /* The only byte: ATN goes before the ACK. */
      KLV528xWriteRegister(BaseIoAddress, OUTPUT_DATA, SCSIMESS_ABORT);
      KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_ATN | ASSERT_DATA_BUS);
      ScsiPortStallExecution(2);
      KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_DATA_BUS);
      KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_DATA_BUS | ASSERT_ACK);
      (void)WAIT_DE_REQ(BaseIoAddress, HANDSHAKE_DE_REQ_BUDGET);
      break;
    }
    /* Any other phase: acknowledge the byte, keeping ATN up. */
    KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_ATN | ASSERT_ACK);
    (void)WAIT_DE_REQ(BaseIoAddress, HANDSHAKE_DE_REQ_BUDGET);
    KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_ATN);
  }
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, 0);
  KLV528xWriteRegister(BaseIoAddress, TARGET_COMMAND, TC_NO_PHASE);
}

/* The reselection answer of KLV528xReselectPhase; TargetId receives the
 * reselecting target, 0xFF while it is not known. */
static BOOLEAN KLV528xAnswerReselection(PADAPTER_EXTENSION Adapter, PUCHAR TargetId) {
  PUCHAR base = Adapter->BaseIoAddress;
  PLU_EXTENSION luExtension;
  UCHAR ids;
  UCHAR target;

  *TargetId = 0xFF;
  KLV528xWriteRegister(base, TARGET_COMMAND, TC_NO_PHASE);
  Adapter->CurrentPhase = CURRENT_PHASE_RESELECTION;

  if ((KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & (SCSI_BSY | SCSI_IO | SCSI_SEL)) !=
      (SCSI_IO | SCSI_SEL)) {
    return FALSE;
  }

  ids = (UCHAR)(KLV528xReadRegister(base, CURRENT_SCSI_DATA) & ~Adapter->InitiatorIdBit);
  if (ids == 0) {
    return FALSE;
  }
  for (target = 7; (ids & (1 << target)) == 0; target--) {
  }
  *TargetId = target;

  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_BSY);
  if (!WAIT_DE_SEL(base)) {
    KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
    return FALSE;
  }
  KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);

  /* Only LUN 0 requests may disconnect; the IDENTIFY the target sends next
   * is passed over by the message-in routine. Only a request that did
   * disconnect may be resumed: any other would be resumed twice over. */
  luExtension = (PLU_EXTENSION)ScsiPortGetLogicalUnit(Adapter, Adapter->PathId, target, 0);
  if (luExtension == NULL || luExtension->CurrentSrb == NULL ||
      luExtension->LuState != LU_STATE_DISCONNECTED) {
    KLV528xAbortReselection(base);
    return FALSE;
  }

  Adapter->CurrentDataPointer = luExtension->SavedDataPointer;
  Adapter->CurrentDataLength = luExtension->SavedDataLength;
  Adapter->ActiveLu = luExtension;
  luExtension->LuState = LU_STATE_UNKNOWN;

  KLV528xWriteRegister(base, MODE_REGISTER, MODE_DMA_MODE);
  return TRUE;
}

BOOLEAN KLV528xReselectPhase(PADAPTER_EXTENSION Adapter) {
  UCHAR targetId;
  return KLV528xAnswerReselection(Adapter, &targetId);
}

extern "C" BOOLEAN KLV528xInterrupt(IN PVOID HwDeviceExtension) {
  PADAPTER_EXTENSION adapter = (PADAPTER_EXTENSION)HwDeviceExtension;
  PUCHAR base = adapter->BaseIoAddress;
  UCHAR busStatus = KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS);
  UCHAR busAndStatus = KLV528xReadRegister(base, BUS_AND_STATUS);
  UCHAR boardStatus = KLV528xReadRegister(base, BOARD_STATUS);
  UCHAR mode;

  if ((boardStatus & INT_PENDING) == 0) {
    return FALSE;
  }

  if ((busStatus & (SCSI_BSY | SCSI_IO | SCSI_SEL)) == (SCSI_IO | SCSI_SEL)) {
    UCHAR targetId;
    if (KLV528xAnswerReselection(adapter, &targetId)) {
      KLV528xClearInterrupt(base);
      KLV528xRunPhase(adapter);
      return TRUE;
    }
    KLV528xClearInterrupt(base);
    mode = KLV528xReadRegister(base, MODE_REGISTER);
    KLV528xWriteRegister(base, MODE_REGISTER, mode | MODE_DMA_MODE);
    KLV528xEnableInterrupt(base);
    KLV528xEnableReselect(adapter);
    ScsiPortLogError(adapter, NULL, adapter->PathId, targetId, 0, SP_INVALID_RESELECTION,
                     UNIQUE_ID_INVALID_RESELECTION);
    return FALSE;
  }

  if (busAndStatus & BAS_BUSY_ERROR) {
    KLV528xClearInterrupt(base);
    if (KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & SCSI_BSY) {
      return TRUE;
    }
    KLV528xWriteRegister(base, MODE_REGISTER, 0);
    ScsiDebugPrint(0, "SCSI BUSY signal Abnormal !! , Current Phase : %x\n", adapter->CurrentPhase);
    /* The target is gone and will not come back for this request: end it
     * now instead of holding every other request until the port driver's
     * time-out resets the bus. */
    if (adapter->ActiveLu != NULL) {
      KLV528xUnexpectedPhase(adapter, UNIQUE_ID_BSY_LOST);
    }
    return FALSE;
  }

  KLV528xClearInterrupt(base);
  if (KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & SCSI_REQ) {
    KLV528xRunPhase(adapter);
    return TRUE;
  }
  mode = KLV528xReadRegister(base, MODE_REGISTER);
  KLV528xWriteRegister(base, MODE_REGISTER, mode | MODE_DMA_MODE);
  KLV528xEnableReselect(adapter);
  KLV528xEnableInterrupt(base);
  return FALSE;
}

/* ---- Command, status and message phases ------------------------------------ */

VOID KLV528xCommand(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  PLU_EXTENSION luExtension = Adapter->ActiveLu;
  PSCSI_REQUEST_BLOCK srb = luExtension->CurrentSrb;
  ULONG remaining = srb->CdbLength;
  PUCHAR cursor = srb->Cdb;

  /* Cdb holds 16 bytes; a longer length must not send what lies beyond. */
  if (remaining > sizeof(srb->Cdb)) {
    remaining = sizeof(srb->Cdb);
  }

  KLV528xWriteRegister(base, TARGET_COMMAND, TC_COMMAND);
  Adapter->CurrentPhase = CURRENT_PHASE_COMMAND;
  (void)KLV528xReadRegister(base, RESET_PARITY_INTERRUPT);

  while (remaining != 0) {
    if (!WAIT_REQ(base, COMMAND_REQ_BUDGET, "Command")) {
      break;
    }
    /* A target may leave the command phase early; the rest is dropped. */
    if ((KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & BUS_PHASE_MASK) !=
        BUS_PHASE_COMMAND) {
      break;
    }
    if (!KLV528xOutByte(base, *cursor++)) {
      return;
    }
    remaining--;
  }

  Adapter->CurrentDataPointer = luExtension->SavedDataPointer;
  Adapter->CurrentDataLength = luExtension->SavedDataLength;
}

static UCHAR KLV528xMapStatus(UCHAR ScsiStatus) {
  switch (ScsiStatus) {
    case SCSISTAT_GOOD:
    case SCSISTAT_CONDITION_MET:
    case SCSISTAT_INTERMEDIATE:
    case SCSISTAT_INTERMEDIATE_COND_MET:
      return SRB_STATUS_SUCCESS;
    case SCSISTAT_CHECK_CONDITION:
    case SCSISTAT_COMMAND_TERMINATED:
      return SRB_STATUS_ERROR;
    default:
      return SRB_STATUS_BUSY;
  }
}

BOOLEAN KLV528xStatus(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  PSCSI_REQUEST_BLOCK srb = Adapter->ActiveLu->CurrentSrb;
  UCHAR status;

  KLV528xWriteRegister(base, TARGET_COMMAND, TC_STATUS);
  Adapter->CurrentPhase = CURRENT_PHASE_STATUS;
  (void)KLV528xReadRegister(base, RESET_PARITY_INTERRUPT);

  if (!KLV528xInByte(base, &status)) {
    return FALSE;
  }
  if (srb != NULL) {
    srb->ScsiStatus = status;
    /* An earlier verdict stands. */
    if (srb->SrbStatus == SRB_STATUS_PENDING) {
      srb->SrbStatus = KLV528xMapStatus(status);
    }
  }
  return TRUE;
}

BOOLEAN KLV528xMessageIn(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  PLU_EXTENSION luExtension = Adapter->ActiveLu;
  UCHAR message;

  KLV528xWriteRegister(base, TARGET_COMMAND, TC_MESSAGE_IN);
  Adapter->CurrentPhase = CURRENT_PHASE_MESSAGE_IN;
  (void)KLV528xReadRegister(base, RESET_PARITY_INTERRUPT);

  if (!KLV528xInByte(base, &message)) {
    return FALSE;
  }

  switch (message) {
    case SCSIMESS_COMMAND_COMPLETE:
    case SCSIMESS_LINK_CMD_COMP:
    case SCSIMESS_LINK_CMD_COMP_W_FLAG:
      luExtension->LuState = LU_STATE_COMPLETE;
      KLV528xNotifyCompletion(Adapter);
      break;
    case SCSIMESS_SAVE_DATA_POINTER:
      luExtension->SavedDataPointer = Adapter->CurrentDataPointer;
      luExtension->SavedDataLength = Adapter->CurrentDataLength;
      break;
    case SCSIMESS_RESTORE_POINTERS:
      Adapter->CurrentDataPointer = luExtension->SavedDataPointer;
      Adapter->CurrentDataLength = luExtension->SavedDataLength;
      break;
    case SCSIMESS_DISCONNECT:
      /* Saved even without SAVE DATA POINTER: the target resumes where the
       * data stood. */
      luExtension->LuState = LU_STATE_DISCONNECTED;
      luExtension->SavedDataPointer = Adapter->CurrentDataPointer;
      luExtension->SavedDataLength = Adapter->CurrentDataLength;
      Adapter->ActiveLu = NULL;
      KLV528xEnableReselect(Adapter);
      break;
    case SCSIMESS_EXTENDED_MESSAGE:
      /* Extended messages are not parsed: ATN asks the target for a
       * message out, and each following byte is taken on its own. */
      KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_ATN);
      ScsiPortStallExecution(10);
      break;
    default:
      /* MESSAGE REJECT, NO OPERATION, IDENTIFY from a reconnecting target
       * and the rest: acknowledged, nothing to do. */
      break;
  }
  return TRUE;
}

VOID KLV528xMessageOut(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;

  /* IDENTIFY for LUN 0 without disconnect privilege, the only byte: ATN is
   * released before the ACK. */
  KLV528xWriteRegister(base, TARGET_COMMAND, TC_MESSAGE_OUT);
  KLV528xWriteRegister(base, OUTPUT_DATA, SCSIMESS_IDENTIFY);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_DATA_BUS);
  ScsiPortStallExecution(10);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, ASSERT_DATA_BUS | ASSERT_ACK);
  (void)WAIT_DE_REQ(base, MESSAGE_OUT_DE_REQ_BUDGET);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, 0);
}

/* ---- Programmed byte transfer ------------------------------------------------ */

BOOLEAN KLV528xWriteDataByte(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  PLU_EXTENSION luExtension = Adapter->ActiveLu;
  PUCHAR cursor = Adapter->CurrentDataPointer;

  KLV528xWriteRegister(base, TARGET_COMMAND, TC_DATA_OUT);
  Adapter->CurrentPhase = CURRENT_PHASE_BYTE_WRITE;
  (void)KLV528xReadRegister(base, RESET_PARITY_INTERRUPT);

  /* A missing REQ or another phase ends the transfer early, not in error:
   * only bytes whose handshake completed are counted. */
  while (Adapter->CurrentDataLength != 0) {
    if (!WAIT_REQ(base, WRITE_BYTE_REQ_BUDGET, "Write Byte")) {
      break;
    }
    if ((KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS) & BUS_PHASE_MASK) !=
        BUS_PHASE_DATA_OUT) {
      break;
    }
    if (!KLV528xOutByte(base, *cursor)) {
      return FALSE;
    }
    cursor++;
    Adapter->CurrentDataLength--;
  }

  Adapter->CurrentDataPointer = cursor;
  luExtension->SavedDataPointer = Adapter->CurrentDataPointer;
  luExtension->SavedDataLength = Adapter->CurrentDataLength;
  return TRUE;
}

/* ---- Block transfers through the host buffer --------------------------------- */

ULONG Non128ByteData[QZR_BLOCK_ULONGS];

static VOID KLV528xCopyBytes(PUCHAR Destination, const UCHAR* Source, ULONG Length) {
  for (ULONG i = 0; i < Length; i++) {
    Destination[i] = Source[i];
  }
}

static VOID KLV528xSaveDataPointer(PADAPTER_EXTENSION Adapter) {
  Adapter->ActiveLu->SavedDataPointer = Adapter->CurrentDataPointer;
  Adapter->ActiveLu->SavedDataLength = Adapter->CurrentDataLength;
}

/* Blocks to program for what is left; the 12-bit counter caps one phase at
 * QZR_MAX_BLOCKS, and the target asks again for the rest. */
static ULONG KLV528xBlocksToProgram(ULONG Length) {
  ULONG blocks = Length / QZR_BLOCK_BYTES + (Length % QZR_BLOCK_BYTES != 0);
  return blocks > QZR_MAX_BLOCKS ? QZR_MAX_BLOCKS : blocks;
}

BOOLEAN EnableDMA(PUCHAR BaseIoAddress, UCHAR Direction, ULONG Blocks) {
  UCHAR low = (UCHAR)(Blocks % 256);
  UCHAR high = (UCHAR)((Blocks / 256) << 4);
  UCHAR value;

  KLV528xWriteRegister(BaseIoAddress, TARGET_COMMAND,
                       Direction == DMA_READ ? TC_DATA_IN : TC_DATA_OUT);
  ScsiPortStallExecution(2);
  (void)KLV528xReadRegister(BaseIoAddress, RESET_PARITY_INTERRUPT);
  KLV528xWriteRegister(BaseIoAddress, SWAP_CONTROL, SWAP_NORMAL);
  value = KLV528xReadRegister(BaseIoAddress, INITIATOR_COMMAND);
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, value | ASSERT_DATA_BUS);
  KLV528xWriteRegister(BaseIoAddress, MODE_REGISTER,
                       MODE_ENABLE_EOP_INTERRUPT | MODE_MONITOR_BUSY | MODE_DMA_MODE);
  KLV528xWriteRegister(BaseIoAddress, BOARD_CONTROL, Direction);
  if (Direction == DMA_READ) {
    KLV528xWriteRegister(BaseIoAddress, START_DMA_INITIATOR_RECEIVE, 0);
  } else {
    KLV528xWriteRegister(BaseIoAddress, START_DMA_SEND, 0);
  }
  KLV528xWriteRegister(BaseIoAddress, BUFFER_ACCESS, BUFFER_ACCESS_REST);

  /* 256 blocks load as a low byte of 0 alone: the high register is left
   * as it is. */
  KLV528xWriteRegister(BaseIoAddress, BLOCK_COUNT_LOW, low);
  if (Blocks > 256) {
    KLV528xWriteRegister(BaseIoAddress, BLOCK_COUNT_HIGH, high);
  }

  if (Direction == DMA_READ) {
    return TRUE;
  }

  /* The board may miss a count written while it settles: read it back and
   * load it again, a bounded number of times. */
  for (ULONG rewrites = 0;; rewrites++) {
    BOOLEAN loaded;
    if (Blocks <= 256) {
      loaded = KLV528xReadRegister(BaseIoAddress, BLOCK_COUNT_LOW) == low;
    } else {
      UCHAR readLow = KLV528xReadRegister(BaseIoAddress, BLOCK_COUNT_LOW);
      UCHAR readHigh = KLV528xReadRegister(BaseIoAddress, BLOCK_COUNT_HIGH);
      loaded = readLow == low && (readHigh & 0xF0) == high;
    }
    if (loaded) {
      return TRUE;
    }
    if (rewrites == BLOCK_COUNT_REWRITES) {
      return FALSE;
    }
    KLV528xWriteRegister(BaseIoAddress, BLOCK_COUNT_LOW, low);
    if (Blocks > 256) {
      KLV528xWriteRegister(BaseIoAddress, BLOCK_COUNT_HIGH, high);
    }
  }
}

BOOLEAN DisableDMA(PADAPTER_EXTENSION Adapter, UCHAR Direction) {
  PUCHAR base = Adapter->BaseIoAddress;
  BOOLEAN finished = TRUE;
  UCHAR value;

  /* A send is over when the target has left Data Out, or when its last
   * byte has left the chip. A target that released the bus is not in Data
   * Out either. Bounded: a target that sits in Data Out fails the request. */
  if (Direction == DMA_WRITE) {
    UCHAR count = KLV528xReadRegister(base, BLOCK_COUNT_LOW);
    ULONG polls = 0;
    finished = FALSE;
    if (Adapter->CurrentDataLength != 0 && count != 0) {
      while (polls++ < DISABLE_DMA_POLLS) {
        UCHAR status = KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS);
        if ((status & (SCSI_MSG | SCSI_CD | SCSI_IO)) != 0 || (status & SCSI_BSY) == 0) {
          finished = TRUE;
          break;
        }
      }
    } else {
      while (polls++ < DISABLE_DMA_POLLS) {
        UCHAR targetCommand = KLV528xReadRegister(base, TARGET_COMMAND);
        UCHAR status = KLV528xReadRegister(base, CURRENT_SCSI_BUS_STATUS);
        if ((targetCommand & LAST_BYTE_SEND) != 0 ||
            (status & (SCSI_MSG | SCSI_CD | SCSI_IO)) != 0 || (status & SCSI_BSY) == 0) {
          finished = TRUE;
          break;
        }
      }
    }
  }

  /* No expected phase: the target's next REQ raises a phase-mismatch
   * interrupt. */
  KLV528xWriteRegister(base, TARGET_COMMAND, TC_NO_PHASE);
  value = KLV528xReadRegister(base, INITIATOR_COMMAND);
  KLV528xWriteRegister(base, INITIATOR_COMMAND, value & ~ASSERT_DATA_BUS);
  ScsiPortStallExecution(1);
  value = KLV528xReadRegister(base, MODE_REGISTER);
  KLV528xWriteRegister(base, MODE_REGISTER, value & ~(MODE_ENABLE_EOP_INTERRUPT | MODE_DMA_MODE));
  ScsiPortStallExecution(2);
  value = KLV528xReadRegister(base, MODE_REGISTER);
  KLV528xWriteRegister(base, MODE_REGISTER, (value & ~MODE_MONITOR_BUSY) | MODE_DMA_MODE);
  return finished;
}

BOOLEAN ForceSwarp(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  ULONG valid;

  KLV528xWriteRegister(base, SWAP_CONTROL, SWAP_FORCE);
  valid = KLV528xReadRegister(base, SWAP_CONTROL) & SWAP_VALID_BYTES;
  if (valid == 0) {
    return TRUE;
  }
  KLV528xWriteRegister(base, SWAP_CONTROL, SWAP_NORMAL);
  ScsiPortReadPortBufferUlong((PULONG)(base + HOST_BUFFER_PORT), Non128ByteData, QZR_BLOCK_ULONGS);

  /* A target that sent more than was asked for has its excess dropped. */
  if (valid > Adapter->CurrentDataLength) {
    valid = Adapter->CurrentDataLength;
  }
  KLV528xCopyBytes(Adapter->CurrentDataPointer, (PUCHAR)Non128ByteData, valid);
  Adapter->CurrentDataPointer += valid;
  Adapter->CurrentDataLength -= valid;
  return TRUE;
}

BOOLEAN ForceSwarpWrite(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  ULONG block[QZR_BLOCK_ULONGS] = {0}; /* the padding is not taken */
  ULONG count = (UCHAR)Adapter->CurrentDataLength;

  KLV528xCopyBytes((PUCHAR)block, Adapter->CurrentDataPointer, count);
  KLV528xWriteRegister(base, BUFFER_ACCESS, BUFFER_ACCESS_HOST);
  ScsiPortWritePortBufferUlong((PULONG)(base + HOST_BUFFER_PORT), block, QZR_BLOCK_ULONGS);
  KLV528xWriteRegister(base, BUFFER_ACCESS, BUFFER_ACCESS_REST);
  Adapter->CurrentDataPointer += count;
  Adapter->CurrentDataLength -= count;
  return TRUE;
}

/* A send the target ended early (to disconnect, say) can leave data in the
 * host buffer that never went out, and the pointer must come back to the
 * first byte the target did not take: any fixed guess sends data twice or
 * skips it. The block counter still counts every block not fully taken -
 * the BlocksNotMoved never handed to the board and the ones the buffer
 * holds - and, in the write direction, SWAP_CONTROL gives the bytes of the
 * oldest held block the target did take. Only the low byte of the counter
 * is needed: at most two blocks are held. PaddingBytes is the padding of a
 * partial last block handed over, which is no data. FALSE when the count
 * cannot be (more blocks held than the buffer has, or than were handed
 * over): what the target got is then unknown. */
BOOLEAN KLV528xFixPointer(PADAPTER_EXTENSION Adapter, ULONG BlocksNotMoved, ULONG BlocksHanded,
                          ULONG PaddingBytes) {
  PUCHAR base = Adapter->BaseIoAddress;
  UCHAR count = KLV528xReadRegister(base, BLOCK_COUNT_LOW);
  ULONG held = (ULONG)(UCHAR)(count - (UCHAR)BlocksNotMoved);
  ULONG taken;
  ULONG unsent;

  if (held > QZR_HOST_BUFFER_BLOCKS || held > BlocksHanded) {
    return FALSE;
  }
  if (held == 0) {
    return TRUE;
  }
  taken = KLV528xReadRegister(base, SWAP_CONTROL) & SWAP_VALID_BYTES;
  unsent = held * QZR_BLOCK_BYTES - taken;
  /* A target that took the padding as well has taken all the data. */
  unsent = unsent > PaddingBytes ? unsent - PaddingBytes : 0;
  Adapter->CurrentDataPointer -= unsent;
  Adapter->CurrentDataLength += unsent;
  return TRUE;
}

BOOLEAN KLV528xReadDataBlock(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  ULONG blocks;

  Adapter->CurrentPhase = CURRENT_PHASE_BLOCK_READ;
  blocks = KLV528xBlocksToProgram(Adapter->CurrentDataLength);
  if (blocks == 0) {
    return FALSE; /* Data In with nothing expected */
  }

  (void)EnableDMA(base, DMA_READ, blocks);

  for (ULONG block = 0; block < blocks; block++) {
    UCHAR status = KLV528xReadRegister(base, BOARD_STATUS);
    BOOLEAN stopped = TRUE; /* also when the polls run out */

    for (ULONG polls = 0; polls < READ_BLOCK_POLLS; polls++) {
      if ((status & BUFFER_BUSY) == 0) {
        stopped = FALSE;
        break;
      }
      if (Adapter->ActiveLu == NULL) {
        return FALSE;
      }
      status = KLV528xReadRegister(base, BOARD_STATUS);
      if (status & NCR5380_ENABLE) {
        status = KLV528xReadRegister(base, BOARD_STATUS);
        if (status & BUFFER_BUSY) {
          break; /* the transfer stopped before this block filled */
        }
      }
    }

    if (stopped) {
      if (!WAIT_5380_ENABLE(base)) {
        ScsiDebugPrint(0, "\nReadDatablock error 1 ");
        return FALSE;
      }
      (void)ForceSwarp(Adapter);
      (void)DisableDMA(Adapter, DMA_READ);
      break;
    }

    KLV528xWriteRegister(base, BUFFER_ACCESS, BUFFER_ACCESS_HOST);
    if (Adapter->CurrentDataLength >= QZR_BLOCK_BYTES) {
      ScsiPortReadPortBufferUlong((PULONG)(base + HOST_BUFFER_PORT),
                                  (PULONG)Adapter->CurrentDataPointer, QZR_BLOCK_ULONGS);
      Adapter->CurrentDataPointer += QZR_BLOCK_BYTES;
      Adapter->CurrentDataLength -= QZR_BLOCK_BYTES;
    } else {
      /* A last block that filled although less was asked for: the target
       * sent too much. Only what the request has room for is kept. */
      ULONG kept = Adapter->CurrentDataLength;
      ScsiPortReadPortBufferUlong((PULONG)(base + HOST_BUFFER_PORT), Non128ByteData,
                                  QZR_BLOCK_ULONGS);
      KLV528xCopyBytes(Adapter->CurrentDataPointer, (PUCHAR)Non128ByteData, kept);
      Adapter->CurrentDataPointer += kept;
      Adapter->CurrentDataLength = 0;
    }
    KLV528xWriteRegister(base, BUFFER_ACCESS, BUFFER_ACCESS_REST);
  }

  if (!WAIT_5380_ENABLE(base)) {
    ScsiDebugPrint(0, "\nReadDatablock error 6 ");
    return FALSE;
  }
  (void)DisableDMA(Adapter, DMA_READ);
  KLV528xSaveDataPointer(Adapter);
  return TRUE;
}

BOOLEAN KLV528xWriteDataBlock(PADAPTER_EXTENSION Adapter) {
  PUCHAR base = Adapter->BaseIoAddress;
  PSCSI_REQUEST_BLOCK srb = Adapter->ActiveLu->CurrentSrb;
  UCHAR delay = 0;
  ULONG blocks;
  BOOLEAN partial;
  ULONG padding = 0; /* of a partial last block handed over */

  Adapter->CurrentPhase = CURRENT_PHASE_BLOCK_WRITE;
  blocks = KLV528xBlocksToProgram(Adapter->CurrentDataLength);
  /* Only the true end of the data is a partial block, not the end of a
   * phase capped by the block counter. */
  partial = Adapter->CurrentDataLength % QZR_BLOCK_BYTES != 0 &&
            Adapter->CurrentDataLength < (ULONG)(QZR_MAX_BLOCKS * QZR_BLOCK_BYTES);
  if (blocks == 0) {
    return TRUE;
  }
  if (srb != NULL && srb->TargetId < QZR_TARGETS) {
    delay = Adapter->BlockWriteDelay[srb->TargetId];
  }

  if (!EnableDMA(base, DMA_WRITE, blocks)) {
    return FALSE;
  }

  for (ULONG block = 0; block < blocks; block++) {
    UCHAR status = KLV528xReadRegister(base, BOARD_STATUS);
    BOOLEAN room = FALSE;

    ScsiPortStallExecution(delay);

    for (ULONG polls = 0; polls < WRITE_ROOM_POLLS; polls++) {
      if ((status & BUFFER_BUSY) == 0) {
        room = TRUE;
        break;
      }
      if (Adapter->ActiveLu == NULL) {
        return FALSE;
      }
      status = KLV528xReadRegister(base, BOARD_STATUS);
      if (status & NCR5380_ENABLE) {
        status = KLV528xReadRegister(base, BOARD_STATUS);
        if (status & BUFFER_BUSY) {
          /* The target stopped taking data with the buffer full: what it
           * did not take goes again after reselection. */
          if (!KLV528xFixPointer(Adapter, blocks - block, block, 0)) {
            return FALSE;
          }
          KLV528xSaveDataPointer(Adapter);
          return DisableDMA(Adapter, DMA_WRITE);
        }
      }
    }
    if (!room) {
      return FALSE;
    }

    if (block == blocks - 1 && partial) {
      padding = QZR_BLOCK_BYTES - Adapter->CurrentDataLength;
      (void)ForceSwarpWrite(Adapter);
      break;
    }

    KLV528xWriteRegister(base, BUFFER_ACCESS, BUFFER_ACCESS_HOST);
    ScsiPortWritePortBufferUlong((PULONG)(base + HOST_BUFFER_PORT),
                                 (PULONG)Adapter->CurrentDataPointer, QZR_BLOCK_ULONGS);
    Adapter->CurrentDataPointer += QZR_BLOCK_BYTES;
    KLV528xWriteRegister(base, BUFFER_ACCESS, BUFFER_ACCESS_REST);
    Adapter->CurrentDataLength -= QZR_BLOCK_BYTES;
  }

  if (!WAIT_5380_ENABLE(base)) {
    return FALSE;
  }
  /* Every block is handed over, but a target may still have stopped before
   * the last ones went out, or inside a block. */
  if (!KLV528xFixPointer(Adapter, 0, blocks, padding)) {
    return FALSE;
  }
  if (!DisableDMA(Adapter, DMA_WRITE)) {
    return FALSE;
  }
  KLV528xSaveDataPointer(Adapter);
  return TRUE;
}

/* ---- Completion ---------------------------------------------------------- */

VOID KLV528xNotifyCompletion(PADAPTER_EXTENSION Adapter) {
  PLU_EXTENSION luExtension = Adapter->ActiveLu;
  PSCSI_REQUEST_BLOCK srb = luExtension != NULL ? luExtension->CurrentSrb : NULL;

  if (srb != NULL && srb->SrbStatus == SRB_STATUS_PENDING) {
    /* COMMAND COMPLETE without a status byte: the outcome is unknown. */
    srb->SrbStatus = SRB_STATUS_ERROR;
    ScsiPortLogError(Adapter, srb, srb->PathId, srb->TargetId, srb->Lun, SP_INTERNAL_ADAPTER_ERROR,
                     7);
  }

  /* A target that moved fewer bytes than asked and still reports GOOD: give
   * back the length that did move, flagged as an underrun, so that nobody
   * takes the untouched rest of the buffer for data. */
  if (srb != NULL && srb->SrbStatus == SRB_STATUS_SUCCESS && Adapter->CurrentDataLength != 0 &&
      Adapter->CurrentDataLength <= srb->DataTransferLength) {
    srb->DataTransferLength -= Adapter->CurrentDataLength;
    srb->SrbStatus = SRB_STATUS_DATA_OVERRUN;
  }

  if (luExtension != NULL) {
    luExtension->CurrentSrb = NULL;
  }
  Adapter->ActiveLu = NULL;

  /* The profiling of the bus scan keys on the peripheral type; an INQUIRY
   * without a buffer has none to give. */
  if (srb != NULL && srb->Cdb[0] == SCSIOP_INQUIRY && srb->DataBuffer != NULL &&
      srb->DataTransferLength != 0) {
    UCHAR peripheralType = ((PUCHAR)srb->DataBuffer)[0] & 0x1F;
    luExtension->PeripheralType = peripheralType;
    if (Adapter->ScanInProgress == 1 && srb->TargetId < QZR_TARGETS) {
      Adapter->TargetDeviceType[srb->TargetId] = peripheralType;
    }
  }

  if (srb != NULL) {
    ScsiPortNotification(RequestComplete, Adapter, srb);
  }

  KLV528xIdleAndNextRequest(Adapter);
}

/* ---- Low-level port access ----------------------------------------------- */

BOOLEAN KLV528xOutByte(PUCHAR BaseIoAddress, UCHAR Byte) {
  BOOLEAN taken;
  KLV528xWriteRegister(BaseIoAddress, OUTPUT_DATA, Byte);
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_DATA_BUS);
  ScsiPortStallExecution(2); /* data settles before ACK */
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_DATA_BUS | ASSERT_ACK);
  taken = WAIT_DE_REQ(BaseIoAddress, HANDSHAKE_DE_REQ_BUDGET);
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, 0);
  return taken;
}

BOOLEAN KLV528xInByte(PUCHAR BaseIoAddress, PUCHAR Byte) {
  BOOLEAN ended;
  *Byte = KLV528xReadRegister(BaseIoAddress, CURRENT_SCSI_DATA);
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, ASSERT_ACK);
  ended = WAIT_DE_REQ(BaseIoAddress, HANDSHAKE_DE_REQ_BUDGET);
  KLV528xWriteRegister(BaseIoAddress, INITIATOR_COMMAND, 0);
  return ended;
}

VOID KLV528xEnableInterrupt(PUCHAR BaseIoAddress) {
  UCHAR status = KLV528xReadRegister(BaseIoAddress, BOARD_STATUS);
  KLV528xWriteRegister(BaseIoAddress, BOARD_CONTROL, (UCHAR)((status & DIR_IN) | INT_ENABLE));
}

BOOLEAN KLV528xEnableReselect(PADAPTER_EXTENSION Adapter) {
  KLV528xEnableInterrupt(Adapter->BaseIoAddress);
  KLV528xWriteRegister(Adapter->BaseIoAddress, SELECT_ENABLE, Adapter->InitiatorIdBit);
  return TRUE;
}

VOID KLV528xClearInterrupt(PUCHAR BaseIoAddress) {
  (void)KLV528xReadRegister(BaseIoAddress, RESET_PARITY_INTERRUPT);
  (void)KLV528xReadRegister(BaseIoAddress, BOARD_STATUS);
}

/* One bounded poll: at most Budget + 1 reads of Offset, each failed one
 * followed by a stall of StallUs (none when 0). Counting down from Budget
 * keeps a budget of 0xFFFFFFFF from wrapping. */
static BOOLEAN KLV528xPoll(PUCHAR BaseIoAddress, ULONG Offset, UCHAR Mask, UCHAR Expected,
                           ULONG Budget, ULONG StallUs) {
  ULONG remaining = Budget;
  for (;;) {
    if ((KLV528xReadRegister(BaseIoAddress, Offset) & Mask) == Expected) {
      return TRUE;
    }
    if (StallUs != 0) {
      ScsiPortStallExecution(StallUs);
    }
    if (remaining == 0) {
      return FALSE;
    }
    remaining--;
  }
}

BOOLEAN WAIT_ARBIT_IN_PROG(PUCHAR BaseIoAddress) {
  if (KLV528xPoll(BaseIoAddress, INITIATOR_COMMAND, ARBIT_IN_PROG, ARBIT_IN_PROG,
                  ARBIT_IN_PROG_BUDGET, 1)) {
    return TRUE;
  }
  ScsiDebugPrint(0, "\n Fail to get ARBIT_IN_PROG ! ! ! !");
  return FALSE;
}

BOOLEAN WAIT_BSY(PUCHAR BaseIoAddress) {
  if (KLV528xPoll(BaseIoAddress, CURRENT_SCSI_BUS_STATUS, SCSI_BSY, SCSI_BSY, BSY_BUDGET, 1)) {
    return TRUE;
  }
  ScsiDebugPrint(0, "Fail to get BSY in Selection ! ! !\n");
  return FALSE;
}

/* Phase names under the mask 0x5C (BSY, MSG, C/D, I/O; REQ left out). */
static const struct {
  UCHAR Bits;
  PCSZ Name;
} KLV528xPhaseNames[] = {
    {0x00, "\n Bus Free  "},         {0x40, "\n Data Out Phase  "},
    {0x44, "\n Data In Phase  "},    {0x48, "\n Command Phase  "},
    {0x4C, "\n Status Phase  "},     {0x58, "\n Message Out Phase  "},
    {0x5C, "\n Message In Phase  "},
};

BOOLEAN WAIT_REQ(PUCHAR BaseIoAddress, ULONG Budget, PCSZ CallerTag) {
  PCSZ phaseName = "\n UnDetermined  ";
  UCHAR bits;

  /* No target holds the bus: nothing will ever raise REQ, and that is for
   * the caller to judge, not worth a message here. */
  if ((KLV528xReadRegister(BaseIoAddress, CURRENT_SCSI_BUS_STATUS) & SCSI_BSY) == 0) {
    return FALSE;
  }
  if (KLV528xPoll(BaseIoAddress, CURRENT_SCSI_BUS_STATUS, SCSI_BSY | SCSI_REQ, SCSI_BSY | SCSI_REQ,
                  Budget, 0)) {
    return TRUE;
  }

  bits = KLV528xReadRegister(BaseIoAddress, CURRENT_SCSI_BUS_STATUS) &
         (SCSI_BSY | SCSI_MSG | SCSI_CD | SCSI_IO);
  for (ULONG i = 0; i < sizeof(KLV528xPhaseNames) / sizeof(KLV528xPhaseNames[0]); i++) {
    if (KLV528xPhaseNames[i].Bits == bits) {
      phaseName = KLV528xPhaseNames[i].Name;
    }
  }
  ScsiDebugPrint(0, phaseName);
  ScsiDebugPrint(0, "Fail to get REQ  ! ! !, %lx, %s", Budget, CallerTag);
  return FALSE;
}

BOOLEAN WAIT_DE_REQ(PUCHAR BaseIoAddress, ULONG Budget) {
  return KLV528xPoll(BaseIoAddress, CURRENT_SCSI_BUS_STATUS, SCSI_REQ, 0, Budget, 1);
}

BOOLEAN WAIT_DE_SEL(PUCHAR BaseIoAddress) {
  if (KLV528xPoll(BaseIoAddress, CURRENT_SCSI_BUS_STATUS, SCSI_SEL, 0, DE_SEL_BUDGET, 1)) {
    return TRUE;
  }
  ScsiDebugPrint(0, "\n DE_SEL error error.");
  return FALSE;
}

BOOLEAN WAIT_5380_ENABLE(PUCHAR BaseIoAddress) {
  if (KLV528xPoll(BaseIoAddress, BOARD_STATUS, NCR5380_ENABLE, NCR5380_ENABLE,
                  NCR5380_ENABLE_BUDGET, 1)) {
    return TRUE;
  }
  ScsiDebugPrint(0, "\n Fail to wait 5380 become accessible ! ! !");
  return FALSE;
}
