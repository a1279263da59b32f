/* QZR6140 miniport: driver records, the board's register map and the
 * driver's routines. */
#ifndef DRIVER_QZR6140_H
#define DRIVER_QZR6140_H

#include "miniport.h"
#include "scsi.h"
#include "srb.h"

/* ---- Register window: offsets from BaseIoAddress ------------------------ */

/* NCR 53C80 core */
#define CURRENT_SCSI_DATA 0           /* read */
#define OUTPUT_DATA 0                 /* write */
#define INITIATOR_COMMAND 1           /* read/write */
#define MODE_REGISTER 2               /* read/write */
#define TARGET_COMMAND 3              /* read/write */
#define CURRENT_SCSI_BUS_STATUS 4     /* read */
#define SELECT_ENABLE 4               /* write */
#define BUS_AND_STATUS 5              /* read */
#define START_DMA_SEND 5              /* write */
#define RESET_PARITY_INTERRUPT 7      /* read */
#define START_DMA_INITIATOR_RECEIVE 7 /* write */

/* Board logic */
#define HOST_BUFFER_PORT 8 /* 32-bit, one 128-byte block per 32-ULONG move */
#define BOARD_STATUS 9     /* read */
#define BOARD_CONTROL 9    /* write */
#define BLOCK_COUNT_LOW 10
#define BLOCK_COUNT_HIGH 12
#define SWAP_CONTROL 13
#define BUFFER_ACCESS 26 /* write only */

/* Initiator Command register */
#define ASSERT_RST 0x80
#define ARBIT_IN_PROG 0x40    /* read */
#define LOST_ARBITRATION 0x20 /* read */
#define ASSERT_ACK 0x10
#define ASSERT_BSY 0x08
#define ASSERT_SEL 0x04
#define ASSERT_ATN 0x02
#define ASSERT_DATA_BUS 0x01

/* Mode register */
#define MODE_BLOCK_MODE_DMA 0x80
#define MODE_TARGET_MODE 0x40
#define MODE_ENABLE_PARITY_INTERRUPT 0x20
#define MODE_ENABLE_PARITY_CHECKING 0x10
#define MODE_ENABLE_EOP_INTERRUPT 0x08
#define MODE_MONITOR_BUSY 0x04
#define MODE_DMA_MODE 0x02
#define MODE_ARBITRATE 0x01

/* Target Command register: the bus phase the initiator expects */
#define ASSERT_MSG 0x04
#define ASSERT_CD 0x02
#define ASSERT_IO 0x01
#define LAST_BYTE_SEND 0x80 /* read */
#define TC_DATA_OUT 0x00
#define TC_DATA_IN (ASSERT_IO)
#define TC_COMMAND (ASSERT_CD)
#define TC_STATUS (ASSERT_CD | ASSERT_IO)
#define TC_NO_PHASE (ASSERT_MSG) /* matches no phase: any REQ mismatches */
#define TC_MESSAGE_OUT (ASSERT_MSG | ASSERT_CD)
#define TC_MESSAGE_IN (ASSERT_MSG | ASSERT_CD | ASSERT_IO)

/* Current SCSI Bus Status register */
#define SCSI_RST 0x80
#define SCSI_BSY 0x40
#define SCSI_REQ 0x20
#define SCSI_MSG 0x10
#define SCSI_CD 0x08
#define SCSI_IO 0x04
#define SCSI_SEL 0x02
#define SCSI_DBP 0x01

/* Phase patterns under BUS_PHASE_MASK (BSY, REQ, MSG, C/D, I/O) */
#define BUS_PHASE_MASK 0x7C
#define BUS_PHASE_DATA_OUT 0x60
#define BUS_PHASE_DATA_IN 0x64
#define BUS_PHASE_COMMAND 0x68
#define BUS_PHASE_STATUS 0x6C
#define BUS_PHASE_MESSAGE_OUT 0x78
#define BUS_PHASE_MESSAGE_IN 0x7C
#define BUS_PHASE_BUS_FREE 0x00

/* Bus and Status register */
#define BAS_END_OF_DMA 0x80
#define BAS_DMA_REQUEST 0x40
#define BAS_PARITY_ERROR 0x20
#define BAS_IRQ_ACTIVE 0x10
#define BAS_PHASE_MATCH 0x08
#define BAS_BUSY_ERROR 0x04
#define BAS_ATN 0x02
#define BAS_ACK 0x01

/* BOARD_CONTROL / BOARD_STATUS */
#define BOARD_RESET 0x80    /* write, pulsed */
#define NCR5380_ENABLE 0x80 /* read: the block transfer has stopped */
#define DIR_IN 0x40
#define INT_ENABLE 0x10
#define BUFFER_BUSY 0x04
#define INT_PENDING 0x01

/* SWAP_CONTROL and BUFFER_ACCESS */
#define SWAP_NORMAL 1
#define SWAP_FORCE 2
#define SWAP_VALID_BYTES 0x7F
#define BUFFER_ACCESS_REST 0x20
#define BUFFER_ACCESS_HOST 0x22

/* ---- Adapter identity and bus geometry ---------------------------------- */

#define QZR_INITIATOR_ID 7
#define QZR_TARGETS 7             /* per-target tables hold targets 0-6; 7 is the adapter */
#define QZR_INQUIRY_TEXT_BYTES 28 /* vendor 8, product 16, revision 4 */
#define QZR_BLOCK_BYTES 128
#define QZR_BLOCK_ULONGS 32
#define QZR_HOST_BUFFER_BLOCKS 2 /* slots of the host buffer */

/* ---- Per-logical-unit record -------------------------------------------- */

#define LU_STATE_UNKNOWN 0
#define LU_STATE_START 1
#define LU_STATE_MESSAGE_IN 4
#define LU_STATE_MESSAGE_OUT 5
#define LU_STATE_COMMAND 6
#define LU_STATE_DATA_IN 7
#define LU_STATE_DATA_OUT 8
#define LU_STATE_DISCONNECTED 9
#define LU_STATE_STATUS 11
#define LU_STATE_COMPLETE 12
#define LU_STATE_BUS_FREE 13

typedef struct _LU_EXTENSION {
  ULONG LuState;
  PUCHAR SavedDataPointer;
  ULONG SavedDataLength;
  PSCSI_REQUEST_BLOCK CurrentSrb;
  UCHAR PeripheralType;
} LU_EXTENSION, *PLU_EXTENSION;

/* ---- Per-adapter record -------------------------------------------------- */

/* CurrentPhase: the bus-phase routine entered last, printed on a loss of BSY */
#define CURRENT_PHASE_COMMAND 1
#define CURRENT_PHASE_MESSAGE_IN 2
#define CURRENT_PHASE_IDENTIFY 3
#define CURRENT_PHASE_BLOCK_READ 4
#define CURRENT_PHASE_BLOCK_WRITE 5
#define CURRENT_PHASE_BYTE_WRITE 7
#define CURRENT_PHASE_STATUS 8
#define CURRENT_PHASE_RESELECTION 9

typedef struct _ADAPTER_EXTENSION {
  PUCHAR BaseIoAddress;
  PUCHAR CurrentDataPointer;
  ULONG CurrentDataLength;
  PLU_EXTENSION ActiveLu;
  UCHAR PathId;
  UCHAR InitiatorIdBit;
  UCHAR InterruptLine;
  UCHAR CurrentPhase;
  UCHAR InquiryText[QZR_TARGETS][QZR_INQUIRY_TEXT_BYTES];
  UCHAR TargetDeviceType[QZR_TARGETS];
  UCHAR BlockWriteDelay[QZR_TARGETS];
  UCHAR LastInquiryTarget;
  UCHAR ScanInProgress;
} ADAPTER_EXTENSION, *PADAPTER_EXTENSION;

/* ---- Poll budgets (attempts made: budget + 1) ---------------------------- */

#define ARBIT_IN_PROG_BUDGET 1000
#define BSY_BUDGET 999999
#define DE_SEL_BUDGET 20000
#define NCR5380_ENABLE_BUDGET 3000000
#define BUS_FREE_ROUNDS 1000000
#define HANDSHAKE_DE_REQ_BUDGET 40000
#define IDENTIFY_DE_REQ_BUDGET 20000
#define START_EX_REQ_BUDGET 19999999
#define RUN_PHASE_REQ_BUDGET 100000
#define SELECT_REQ_BUDGET 20000
#define COMMAND_REQ_BUDGET 40000
#define WRITE_BYTE_REQ_BUDGET 40000
#define MESSAGE_OUT_DE_REQ_BUDGET 20000
#define BUS_BETWEEN_PHASES_REREADS 3840 /* re-reads of a bus showing BSY alone */
#define READ_BLOCK_POLLS 33554430       /* polls for a full block to read */

/* Bounds of our own, so that a broken or hostile target cannot hold the
 * processor at interrupt level. Each port read costs about 0.5 us. */
#define RUN_PHASE_WAIT_ROUNDS 20         /* WAIT_REQ rounds for one phase: ~1 s */
#define PHASE_ROUNDS_WITHOUT_PROGRESS 64 /* phases in a row that move no data */
#define WRITE_ROOM_POLLS 2000000         /* polls for room for a block: ~1 s */
#define DISABLE_DMA_POLLS 1000000        /* polls for the end of a send: ~1 s */
#define BLOCK_COUNT_REWRITES 1000        /* tries to load the block counter */
#define ABORT_RESELECTION_ROUNDS 64      /* bytes taken from a target we abort */
#define ABORT_RESELECTION_POLLS 200000   /* polls for each of its REQs: ~0.1 s */
#define QZR_MAX_BLOCKS 4095              /* the block counter holds 12 bits */

/* Unique ids of the error-log entries */
#define UNIQUE_ID_INVALID_RESELECTION 3
#define UNIQUE_ID_PHASE_FAILED 4
#define UNIQUE_ID_DATA_OUT_FAILED 5
#define UNIQUE_ID_UNEXPECTED_PHASE 6
#define UNIQUE_ID_NO_STATUS 7
#define UNIQUE_ID_NO_REQ 8
#define UNIQUE_ID_NO_PROGRESS 9
#define UNIQUE_ID_BSY_LOST 10

/* Direction codes: also the values written to BOARD_CONTROL */
#define DMA_READ (DIR_IN | INT_ENABLE)
#define DMA_WRITE (INT_ENABLE)

/* ---- Device profiling tables ---------------------------------------------- */

/* Peripheral device types (bits 4-0 of inquiry byte 0) */
#ifndef DIRECT_ACCESS_DEVICE
#define DIRECT_ACCESS_DEVICE 0x00
#define SEQUENTIAL_ACCESS_DEVICE 0x01
#define WRITE_ONCE_READ_MULTIPLE_DEVICE 0x04
#define READ_ONLY_DIRECT_ACCESS_DEVICE 0x05
#define SCANNER_DEVICE 0x06
#define OPTICAL_DEVICE 0x07
#endif

/* One row: inquiry vendor (8), product (16) and revision (4), blank-padded. */
typedef struct _DEVICE_DELAY_ROW {
  CHAR Text[QZR_INQUIRY_TEXT_BYTES + 1];
  UCHAR BlockWriteDelay;
} DEVICE_DELAY_ROW;

#define DIRECT_ACCESS_DEVICE_ROWS 5
#define OPTICAL_MEMORY_ROWS 1
#define INQUIRY_TEXT_COMPARED_BYTES 27 /* the last revision character is not compared */

extern const DEVICE_DELAY_ROW DirectAccessDevice[DIRECT_ACCESS_DEVICE_ROWS];
extern const DEVICE_DELAY_ROW OpticalMemory[OPTICAL_MEMORY_ROWS];

/* The partly filled last block of a read lands here; one for the whole
 * driver. Kept as ULONGs so that the string move into it is aligned. */
extern ULONG Non128ByteData[QZR_BLOCK_ULONGS];

/* ---- Routines ------------------------------------------------------------ */

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points the port driver calls */
ULONG DriverEntry(IN PVOID DriverObject, IN PVOID Argument2);
ULONG KLV528xFindAdapter(IN PVOID HwDeviceExtension, IN PVOID HwContext, IN PVOID BusInformation,
                         IN PCHAR ArgumentString, IN OUT PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                         OUT PBOOLEAN Again);
BOOLEAN KLV528xInitialize(IN PVOID HwDeviceExtension);
BOOLEAN KLV528xStartIo(IN PVOID HwDeviceExtension, IN PSCSI_REQUEST_BLOCK Srb);
BOOLEAN KLV528xInterrupt(IN PVOID HwDeviceExtension);
BOOLEAN KLV528xResetBus(IN PVOID HwDeviceExtension, IN ULONG PathId);

#ifdef __cplusplus
}
#endif

/* Request entry */
VOID KLV528xAbort(PADAPTER_EXTENSION Adapter, PLU_EXTENSION LuExtension, PSCSI_REQUEST_BLOCK Srb);
VOID KLV528xStartExecution(PADAPTER_EXTENSION Adapter, PLU_EXTENSION LuExtension,
                           PSCSI_REQUEST_BLOCK Srb);
VOID KLV528xNotifyCompletion(PADAPTER_EXTENSION Adapter);

/* Arbitration and selection */
BOOLEAN KLV528xArbitrate(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xSelect(PADAPTER_EXTENSION Adapter, PLU_EXTENSION LuExtension,
                      PSCSI_REQUEST_BLOCK Srb);
BOOLEAN KLV528xSelect_Enable_Disconnect(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xSelect_Disable_Disconnect(PADAPTER_EXTENSION Adapter);

/* Device profiling after a scan INQUIRY */
VOID KLV528xProfileTarget(PADAPTER_EXTENSION Adapter, UCHAR TargetId);
UCHAR KLV528xLookUpDelay(const UCHAR* InquiryText, const DEVICE_DELAY_ROW* Rows, ULONG Count,
                         UCHAR Delay);

/* Phase engine, interrupt and reselection */
VOID KLV528xRunPhase(PADAPTER_EXTENSION Adapter);
VOID KLV528xDetermineNextPhase(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xReselectPhase(PADAPTER_EXTENSION Adapter);
VOID KLV528xPhaseFailure(PADAPTER_EXTENSION Adapter, ULONG UniqueId);
VOID KLV528xUnexpectedPhase(PADAPTER_EXTENSION Adapter, ULONG UniqueId);

/* Command, status and message phases */
VOID KLV528xCommand(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xStatus(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xMessageIn(PADAPTER_EXTENSION Adapter);
VOID KLV528xMessageOut(PADAPTER_EXTENSION Adapter);

/* Data transfers */
BOOLEAN KLV528xWriteDataByte(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xReadDataBlock(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xWriteDataBlock(PADAPTER_EXTENSION Adapter);
BOOLEAN EnableDMA(PUCHAR BaseIoAddress, UCHAR Direction, ULONG Blocks);
BOOLEAN DisableDMA(PADAPTER_EXTENSION Adapter, UCHAR Direction);
BOOLEAN ForceSwarp(PADAPTER_EXTENSION Adapter);
BOOLEAN ForceSwarpWrite(PADAPTER_EXTENSION Adapter);
BOOLEAN KLV528xFixPointer(PADAPTER_EXTENSION Adapter, ULONG BlocksNotMoved, ULONG BlocksHanded,
                          ULONG PaddingBytes);

/* Low-level port access */
BOOLEAN KLV528xOutByte(PUCHAR BaseIoAddress, UCHAR Byte);
BOOLEAN KLV528xInByte(PUCHAR BaseIoAddress, PUCHAR Byte);
VOID KLV528xEnableInterrupt(PUCHAR BaseIoAddress);
BOOLEAN KLV528xEnableReselect(PADAPTER_EXTENSION Adapter);
VOID KLV528xClearInterrupt(PUCHAR BaseIoAddress);

BOOLEAN WAIT_ARBIT_IN_PROG(PUCHAR BaseIoAddress);
BOOLEAN WAIT_BSY(PUCHAR BaseIoAddress);
BOOLEAN WAIT_REQ(PUCHAR BaseIoAddress, ULONG Budget, PCSZ CallerTag);
BOOLEAN WAIT_DE_REQ(PUCHAR BaseIoAddress, ULONG Budget);
BOOLEAN WAIT_DE_SEL(PUCHAR BaseIoAddress);
BOOLEAN WAIT_5380_ENABLE(PUCHAR BaseIoAddress);

#endif /* DRIVER_QZR6140_H */
