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
      luExtension->CurrentSrb = Srb;
      luExtension->LuState = LU_STATE_START;
      luExtension->SavedDataPointer = (PUCHAR)Srb->DataBuffer;
      luExtension->SavedDataLength = Srb->DataTransferLength;
      KLV528xStartExecution(adapter, luExtension, Srb);
      /* Device profiling after a scan INQUIRY comes with the phase engine. */
      return TRUE;

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

  Adapter->ActiveLu = LuExtension;

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

  /* The command phase, the phase loop and the inquiry capture follow here
   * once the phase engine is in. */
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

/* ---- Phase engine and interrupt ------------------------------------------ */

extern "C" BOOLEAN KLV528xInterrupt(IN PVOID HwDeviceExtension) {
  /* Reselection and the phase engine come next; until then no interrupt is
   * claimed. */
  (void)HwDeviceExtension;
  return FALSE;
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
