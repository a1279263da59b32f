/* The SCSI port-driver interface: the request block, the configuration and
 * registration records, the ScsiPort services and their constants. */
#ifndef NT_INCLUDE_SRB_H
#define NT_INCLUDE_SRB_H

#include <stddef.h>

#include "miniport.h"

#define SCSI_MAXIMUM_TARGETS 8
#define SCSI_MAXIMUM_LOGICAL_UNITS 8
#define MAXIMUM_CDB_SIZE 12

/* ---- SCSI request block ------------------------------------------------ */

typedef struct _SCSI_REQUEST_BLOCK {
  USHORT Length;
  UCHAR Function;
  UCHAR SrbStatus;
  UCHAR ScsiStatus;
  UCHAR PathId;
  UCHAR TargetId;
  UCHAR Lun;
  UCHAR QueueTag;
  UCHAR QueueAction;
  UCHAR CdbLength;
  UCHAR SenseInfoBufferLength;
  ULONG SrbFlags;
  ULONG DataTransferLength;
  ULONG TimeOutValue;
  PVOID DataBuffer;
  PVOID SenseInfoBuffer;
  struct _SCSI_REQUEST_BLOCK* NextSrb;
  PVOID OriginalRequest;
  PVOID SrbExtension;
  union {
    ULONG InternalStatus;
    ULONG QueueSortKey;
  };
  UCHAR Cdb[16];
} SCSI_REQUEST_BLOCK, *PSCSI_REQUEST_BLOCK;

#define SCSI_REQUEST_BLOCK_SIZE sizeof(SCSI_REQUEST_BLOCK)

#if NT_ASSERT_LAYOUT_32
NT_STATIC_ASSERT(sizeof(SCSI_REQUEST_BLOCK) == 64, "SRB is 64 bytes");
NT_STATIC_ASSERT(offsetof(SCSI_REQUEST_BLOCK, SrbFlags) == 12, "SrbFlags at 12");
NT_STATIC_ASSERT(offsetof(SCSI_REQUEST_BLOCK, DataTransferLength) == 16, "length at 16");
NT_STATIC_ASSERT(offsetof(SCSI_REQUEST_BLOCK, DataBuffer) == 24, "DataBuffer at 24");
NT_STATIC_ASSERT(offsetof(SCSI_REQUEST_BLOCK, NextSrb) == 32, "NextSrb at 32");
NT_STATIC_ASSERT(offsetof(SCSI_REQUEST_BLOCK, QueueSortKey) == 44, "QueueSortKey at 44");
NT_STATIC_ASSERT(offsetof(SCSI_REQUEST_BLOCK, Cdb) == 48, "Cdb at 48");
#endif

/* SRB functions */
#define SRB_FUNCTION_EXECUTE_SCSI 0x00
#define SRB_FUNCTION_CLAIM_DEVICE 0x01
#define SRB_FUNCTION_IO_CONTROL 0x02
#define SRB_FUNCTION_RECEIVE_EVENT 0x03
#define SRB_FUNCTION_RELEASE_QUEUE 0x04
#define SRB_FUNCTION_ATTACH_DEVICE 0x05
#define SRB_FUNCTION_RELEASE_DEVICE 0x06
#define SRB_FUNCTION_SHUTDOWN 0x07
#define SRB_FUNCTION_FLUSH 0x08
#define SRB_FUNCTION_ABORT_COMMAND 0x10
#define SRB_FUNCTION_RELEASE_RECOVERY 0x11
#define SRB_FUNCTION_RESET_BUS 0x12
#define SRB_FUNCTION_RESET_DEVICE 0x13
#define SRB_FUNCTION_TERMINATE_IO 0x14
#define SRB_FUNCTION_FLUSH_QUEUE 0x15
#define SRB_FUNCTION_REMOVE_DEVICE 0x16

/* SRB status */
#define SRB_STATUS_PENDING 0x00
#define SRB_STATUS_SUCCESS 0x01
#define SRB_STATUS_ABORTED 0x02
#define SRB_STATUS_ABORT_FAILED 0x03
#define SRB_STATUS_ERROR 0x04
#define SRB_STATUS_BUSY 0x05
#define SRB_STATUS_INVALID_REQUEST 0x06
#define SRB_STATUS_INVALID_PATH_ID 0x07
#define SRB_STATUS_NO_DEVICE 0x08
#define SRB_STATUS_TIMEOUT 0x09
#define SRB_STATUS_SELECTION_TIMEOUT 0x0A
#define SRB_STATUS_COMMAND_TIMEOUT 0x0B
#define SRB_STATUS_MESSAGE_REJECTED 0x0D
#define SRB_STATUS_BUS_RESET 0x0E
#define SRB_STATUS_PARITY_ERROR 0x0F
#define SRB_STATUS_REQUEST_SENSE_FAILED 0x10
#define SRB_STATUS_NO_HBA 0x11
#define SRB_STATUS_DATA_OVERRUN 0x12
#define SRB_STATUS_UNEXPECTED_BUS_FREE 0x13
#define SRB_STATUS_PHASE_SEQUENCE_FAILURE 0x14
#define SRB_STATUS_BAD_SRB_BLOCK_LENGTH 0x15
#define SRB_STATUS_REQUEST_FLUSHED 0x16
#define SRB_STATUS_INVALID_LUN 0x20
#define SRB_STATUS_INVALID_TARGET_ID 0x21
#define SRB_STATUS_BAD_FUNCTION 0x22
#define SRB_STATUS_ERROR_RECOVERY 0x23
#define SRB_STATUS_QUEUE_FROZEN 0x40
#define SRB_STATUS_AUTOSENSE_VALID 0x80
#define SRB_STATUS(Status) ((Status) & ~(SRB_STATUS_AUTOSENSE_VALID | SRB_STATUS_QUEUE_FROZEN))

/* SRB flags */
#define SRB_FLAGS_QUEUE_ACTION_ENABLE 0x00000002
#define SRB_FLAGS_DISABLE_DISCONNECT 0x00000004
#define SRB_FLAGS_DISABLE_SYNCH_TRANSFER 0x00000008
#define SRB_FLAGS_BYPASS_FROZEN_QUEUE 0x00000010
#define SRB_FLAGS_DISABLE_AUTOSENSE 0x00000020
#define SRB_FLAGS_DATA_IN 0x00000040
#define SRB_FLAGS_DATA_OUT 0x00000080
#define SRB_FLAGS_NO_DATA_TRANSFER 0x00000000
#define SRB_FLAGS_UNSPECIFIED_DIRECTION (SRB_FLAGS_DATA_IN | SRB_FLAGS_DATA_OUT)
#define SRB_FLAGS_NO_QUEUE_FREEZE 0x00000100
#define SRB_FLAGS_ADAPTER_CACHE_ENABLE 0x00000200
#define SRB_FLAGS_IS_ACTIVE 0x00010000
#define SRB_FLAGS_ALLOCATED_FROM_ZONE 0x00020000

/* ---- Port configuration ------------------------------------------------ */

typedef struct _PORT_CONFIGURATION_INFORMATION {
  ULONG Length;
  ULONG SystemIoBusNumber;
  INTERFACE_TYPE AdapterInterfaceType;
  ULONG BusInterruptLevel;
  ULONG BusInterruptVector;
  KINTERRUPT_MODE InterruptMode;
  ULONG MaximumTransferLength;
  ULONG NumberOfPhysicalBreaks;
  ULONG DmaChannel;
  ULONG DmaPort;
  DMA_WIDTH DmaWidth;
  DMA_SPEED DmaSpeed;
  ULONG AlignmentMask;
  ULONG NumberOfAccessRanges;
  ACCESS_RANGE (*AccessRanges)[];
  PVOID Reserved;
  UCHAR NumberOfBuses;
  CCHAR InitiatorBusId[8];
  BOOLEAN ScatterGather;
  BOOLEAN Master;
  BOOLEAN CachesData;
  BOOLEAN AdapterScansDown;
  BOOLEAN AtdiskPrimaryClaimed;
  BOOLEAN AtdiskSecondaryClaimed;
  BOOLEAN Dma32BitAddresses;
  BOOLEAN DemandMode;
  BOOLEAN MapBuffers;
  BOOLEAN NeedPhysicalAddresses;
  BOOLEAN TaggedQueuing;
  BOOLEAN AutoRequestSense;
  BOOLEAN MultipleRequestPerLu;
  BOOLEAN ReceiveEvent;
  BOOLEAN RealModeInitialized;
  BOOLEAN BufferAccessScsiPortControlled;
  UCHAR MaximumNumberOfTargets;
  UCHAR ReservedUchars[2];
  ULONG SlotNumber;
  ULONG BusInterruptLevel2;
  ULONG BusInterruptVector2;
  KINTERRUPT_MODE InterruptMode2;
  ULONG DmaChannel2;
  ULONG DmaPort2;
  DMA_WIDTH DmaWidth2;
  DMA_SPEED DmaSpeed2;
  ULONG DeviceExtensionSize;
  ULONG SpecificLuExtensionSize;
  ULONG SrbExtensionSize;
} PORT_CONFIGURATION_INFORMATION, *PPORT_CONFIGURATION_INFORMATION;

#if NT_ASSERT_LAYOUT_32
NT_STATIC_ASSERT(offsetof(PORT_CONFIGURATION_INFORMATION, AccessRanges) == 56, "AccessRanges");
NT_STATIC_ASSERT(offsetof(PORT_CONFIGURATION_INFORMATION, NumberOfBuses) == 64, "NumberOfBuses");
NT_STATIC_ASSERT(offsetof(PORT_CONFIGURATION_INFORMATION, ScatterGather) == 73, "ScatterGather");
NT_STATIC_ASSERT(offsetof(PORT_CONFIGURATION_INFORMATION, SlotNumber) == 92, "SlotNumber");
NT_STATIC_ASSERT(sizeof(PORT_CONFIGURATION_INFORMATION) == 136, "NT 4.0 configuration record");
#endif

#define CONFIG_INFO_VERSION_2 sizeof(PORT_CONFIGURATION_INFORMATION)

/* ---- Miniport entry points and registration ---------------------------- */

typedef BOOLEAN (*PHW_INITIALIZE)(IN PVOID DeviceExtension);
typedef BOOLEAN (*PHW_STARTIO)(IN PVOID DeviceExtension, IN PSCSI_REQUEST_BLOCK Srb);
typedef BOOLEAN (*PHW_INTERRUPT)(IN PVOID DeviceExtension);
typedef VOID (*PHW_TIMER)(IN PVOID DeviceExtension);
typedef VOID (*PHW_DMA_STARTED)(IN PVOID DeviceExtension);
typedef ULONG (*PHW_FIND_ADAPTER)(IN PVOID DeviceExtension, IN PVOID HwContext,
                                  IN PVOID BusInformation, IN PCHAR ArgumentString,
                                  IN OUT PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                                  OUT PBOOLEAN Again);
typedef BOOLEAN (*PHW_RESET_BUS)(IN PVOID DeviceExtension, IN ULONG PathId);
typedef BOOLEAN (*PHW_ADAPTER_STATE)(IN PVOID DeviceExtension, IN PVOID Context,
                                     IN BOOLEAN SaveState);

typedef struct _HW_INITIALIZATION_DATA {
  ULONG HwInitializationDataSize;
  INTERFACE_TYPE AdapterInterfaceType;
  PHW_INITIALIZE HwInitialize;
  PHW_STARTIO HwStartIo;
  PHW_INTERRUPT HwInterrupt;
  PHW_FIND_ADAPTER HwFindAdapter;
  PHW_RESET_BUS HwResetBus;
  PHW_DMA_STARTED HwDmaStarted;
  PHW_ADAPTER_STATE HwAdapterState;
  ULONG DeviceExtensionSize;
  ULONG SpecificLuExtensionSize;
  ULONG SrbExtensionSize;
  ULONG NumberOfAccessRanges;
  PVOID Reserved;
  BOOLEAN MapBuffers;
  BOOLEAN NeedPhysicalAddresses;
  BOOLEAN TaggedQueuing;
  BOOLEAN AutoRequestSense;
  BOOLEAN MultipleRequestPerLu;
  BOOLEAN ReceiveEvent;
  USHORT VendorIdLength;
  PVOID VendorId;
  USHORT ReservedUshort;
  USHORT DeviceIdLength;
  PVOID DeviceId;
} HW_INITIALIZATION_DATA, *PHW_INITIALIZATION_DATA;

#if NT_ASSERT_LAYOUT_32
NT_STATIC_ASSERT(offsetof(HW_INITIALIZATION_DATA, DeviceExtensionSize) == 36, "extension size");
NT_STATIC_ASSERT(offsetof(HW_INITIALIZATION_DATA, MapBuffers) == 56, "MapBuffers at 56");
NT_STATIC_ASSERT(offsetof(HW_INITIALIZATION_DATA, VendorIdLength) == 62, "VendorIdLength");
NT_STATIC_ASSERT(offsetof(HW_INITIALIZATION_DATA, VendorId) == 64, "VendorId at 64");
NT_STATIC_ASSERT(offsetof(HW_INITIALIZATION_DATA, DeviceId) == 72, "DeviceId at 72");
NT_STATIC_ASSERT(sizeof(HW_INITIALIZATION_DATA) == 76, "NT 4.0 registration record");
#endif

/* ---- Return values, notifications and error-log codes ------------------ */

#define SP_RETURN_NOT_FOUND 0
#define SP_RETURN_FOUND 1
#define SP_RETURN_ERROR 2
#define SP_RETURN_BAD_CONFIG 3

typedef enum _SCSI_NOTIFICATION_TYPE {
  RequestComplete = 0,
  NextRequest = 1,
  NextLuRequest = 2,
  ResetDetected = 3,
  CallDisableInterrupts = 4,
  CallEnableInterrupts = 5,
  RequestTimerCall = 6
} SCSI_NOTIFICATION_TYPE,
    *PSCSI_NOTIFICATION_TYPE;

#define SP_BUS_PARITY_ERROR 0x0001
#define SP_UNEXPECTED_DISCONNECT 0x0002
#define SP_INVALID_RESELECTION 0x0003
#define SP_BUS_TIME_OUT 0x0004
#define SP_PROTOCOL_ERROR 0x0005
#define SP_INTERNAL_ADAPTER_ERROR 0x0006
#define SP_REQUEST_TIMEOUT 0x0007
#define SP_IRQ_NOT_RESPONDING 0x0008
#define SP_BAD_FW_WARNING 0x0009
#define SP_BAD_FW_ERROR 0x000A

#define SP_UNTAGGED 0xFF

/* ---- Port-driver services ---------------------------------------------- */

#ifdef __cplusplus
extern "C" {
#endif

ULONG ScsiPortInitialize(IN PVOID Argument1, IN PVOID Argument2,
                         IN PHW_INITIALIZATION_DATA HwInitializationData, IN PVOID HwContext);

ULONG ScsiPortGetBusData(IN PVOID DeviceExtension, IN ULONG BusDataType, IN ULONG SystemIoBusNumber,
                         IN ULONG SlotNumber, IN PVOID Buffer, IN ULONG Length);

PVOID ScsiPortGetDeviceBase(IN PVOID HwDeviceExtension, IN INTERFACE_TYPE BusType,
                            IN ULONG SystemIoBusNumber, IN SCSI_PHYSICAL_ADDRESS IoAddress,
                            IN ULONG NumberOfBytes, IN BOOLEAN InIoSpace);

SCSI_PHYSICAL_ADDRESS ScsiPortConvertUlongToPhysicalAddress(IN ULONG UlongAddress);

UCHAR ScsiPortReadPortUchar(IN PUCHAR Port);
VOID ScsiPortWritePortUchar(IN PUCHAR Port, IN UCHAR Value);
VOID ScsiPortReadPortBufferUlong(IN PULONG Port, IN PULONG Buffer, IN ULONG Count);
VOID ScsiPortWritePortBufferUlong(IN PULONG Port, IN PULONG Buffer, IN ULONG Count);

VOID ScsiPortStallExecution(IN ULONG Delay);

VOID ScsiPortNotification(IN SCSI_NOTIFICATION_TYPE NotificationType, IN PVOID HwDeviceExtension,
                          ...);

VOID ScsiPortCompleteRequest(IN PVOID HwDeviceExtension, IN UCHAR PathId, IN UCHAR TargetId,
                             IN UCHAR Lun, IN UCHAR SrbStatus);

PVOID ScsiPortGetLogicalUnit(IN PVOID HwDeviceExtension, IN UCHAR PathId, IN UCHAR TargetId,
                             IN UCHAR Lun);

VOID ScsiPortLogError(IN PVOID HwDeviceExtension, IN PSCSI_REQUEST_BLOCK Srb OPTIONAL,
                      IN UCHAR PathId, IN UCHAR TargetId, IN UCHAR Lun, IN ULONG ErrorCode,
                      IN ULONG UniqueId);

/* printf-style; as on Windows, an 'l' length modifier names a 32-bit value. */
VOID ScsiDebugPrint(IN ULONG DebugPrintLevel, IN PCSZ DebugMessage, ...);

#ifdef __cplusplus
}
#endif

#endif /* NT_INCLUDE_SRB_H */
