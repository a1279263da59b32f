/* The SCSI port driver's device-control interface for applications: the
 * control codes, the pass-through record and the inquiry-data image. */
#ifndef NT_INCLUDE_NTDDSCSI_H
#define NT_INCLUDE_NTDDSCSI_H

#include <stddef.h>

#include "ntdef.h"

#define FILE_DEVICE_CONTROLLER 0x00000004u
#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define CTL_CODE(device, function, method, access) \
  (((device) << 16) | ((access) << 14) | ((function) << 2) | (method))

#define IOCTL_SCSI_BASE FILE_DEVICE_CONTROLLER
#define IOCTL_SCSI_PASS_THROUGH \
  CTL_CODE(IOCTL_SCSI_BASE, 0x0401, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#define IOCTL_SCSI_GET_INQUIRY_DATA \
  CTL_CODE(IOCTL_SCSI_BASE, 0x0403, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_SCSI_PASS_THROUGH_DIRECT \
  CTL_CODE(IOCTL_SCSI_BASE, 0x0405, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

NT_STATIC_ASSERT(IOCTL_SCSI_GET_INQUIRY_DATA == 0x0004100Cu, "inquiry-data code");
NT_STATIC_ASSERT(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x0004D014u, "direct pass-through code");

#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2

typedef struct _SCSI_PASS_THROUGH_DIRECT {
  USHORT Length;
  UCHAR ScsiStatus;
  UCHAR PathId;
  UCHAR TargetId;
  UCHAR Lun;
  UCHAR CdbLength;
  UCHAR SenseInfoLength;
  UCHAR DataIn;
  ULONG DataTransferLength;
  ULONG TimeOutValue;
  PVOID DataBuffer;
  ULONG SenseInfoOffset;
  UCHAR Cdb[16];
} SCSI_PASS_THROUGH_DIRECT, *PSCSI_PASS_THROUGH_DIRECT;

typedef struct _SCSI_BUS_DATA {
  UCHAR NumberOfLogicalUnits;
  UCHAR InitiatorBusId;
  ULONG InquiryDataOffset;
} SCSI_BUS_DATA, *PSCSI_BUS_DATA;

typedef struct _SCSI_ADAPTER_BUS_INFO {
  UCHAR NumberOfBuses;
  SCSI_BUS_DATA BusData[1];
} SCSI_ADAPTER_BUS_INFO, *PSCSI_ADAPTER_BUS_INFO;

typedef struct _SCSI_INQUIRY_DATA {
  UCHAR PathId;
  UCHAR TargetId;
  UCHAR Lun;
  BOOLEAN DeviceClaimed;
  ULONG InquiryDataLength;
  ULONG NextInquiryDataOffset;
  UCHAR InquiryData[1];
} SCSI_INQUIRY_DATA, *PSCSI_INQUIRY_DATA;

NT_STATIC_ASSERT(sizeof(SCSI_BUS_DATA) == 8, "SCSI_BUS_DATA layout");
NT_STATIC_ASSERT(offsetof(SCSI_BUS_DATA, InquiryDataOffset) == 4, "SCSI_BUS_DATA layout");
NT_STATIC_ASSERT(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == 4, "SCSI_ADAPTER_BUS_INFO layout");
NT_STATIC_ASSERT(offsetof(SCSI_INQUIRY_DATA, InquiryDataLength) == 4, "SCSI_INQUIRY_DATA layout");
NT_STATIC_ASSERT(offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset) == 8,
                 "SCSI_INQUIRY_DATA layout");
NT_STATIC_ASSERT(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12, "SCSI_INQUIRY_DATA layout");

#if NT_ASSERT_LAYOUT_32
NT_STATIC_ASSERT(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "SCSI_PASS_THROUGH_DIRECT size");
NT_STATIC_ASSERT(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12,
                 "SCSI_PASS_THROUGH_DIRECT layout");
NT_STATIC_ASSERT(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20,
                 "SCSI_PASS_THROUGH_DIRECT layout");
NT_STATIC_ASSERT(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24,
                 "SCSI_PASS_THROUGH_DIRECT layout");
NT_STATIC_ASSERT(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "SCSI_PASS_THROUGH_DIRECT layout");
#endif

#endif /* NT_INCLUDE_NTDDSCSI_H */
