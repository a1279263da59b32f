/* The library's own entry points and state, beside the two exports that
 * aspi_srb.h declares: the attach notification, the per-port discovery and
 * the four variables discovery fills in and every request reads. */
#ifndef ASPI_TORVIK_H
#define ASPI_TORVIK_H

#include "aspi_srb.h"
#include "kernel32_io.h"
#include "ntddscsi.h"

#define INQUIRY_ENTRIES 7
#define INQUIRY_ENTRY_BYTES 36
#define INQUIRY_REPLY_BYTES 2048
#define NO_SCANNER 0xFF
#define NO_DEVICE_TYPE 0x1F

/* One pass-through request: used as both input and output of the device
 * control, so the port driver's sense lands in ucSenseBuf. */
typedef struct _SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG Filler;
  UCHAR ucSenseBuf[32];
} SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER, *PSCSI_PASS_THROUGH_DIRECT_WITH_BUFFER;

#if NT_ASSERT_LAYOUT_32
NT_STATIC_ASSERT(offsetof(SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER, ucSenseBuf) == 48,
                 "pass-through record layout");
NT_STATIC_ASSERT(sizeof(SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER) == 80, "pass-through record size");
#endif

#ifdef __cplusplus
extern "C" {
#endif

extern UCHAR NumberOfHostAdapters;
extern UCHAR TheSannerWithHostAdapterNo;
extern UCHAR ScannerSCSIID;
extern UCHAR InquiryDataBuffer[INQUIRY_ENTRIES][INQUIRY_ENTRY_BYTES];

BOOL DllMain(HANDLE hModule, DWORD dwFunction, LPVOID lpNot);
UCHAR GetInquiryData(HANDLE fileHandle);

#ifdef __cplusplus
}
#endif

#endif /* ASPI_TORVIK_H */
