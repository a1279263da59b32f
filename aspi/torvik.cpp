// ASPI for Win32 over the Windows NT SCSI device interface, for one scanner.
// At process attach the first SCSI port with a scanner becomes ASPI host
// adapter 0; its devices' inquiry data is kept so that INQUIRY for them is
// answered without touching the bus. Scanner commands go to "\\.\scanner0"
// by direct pass-through. Nothing is allocated and no handle is kept.
#include "torvik.h"

#include <string.h>

#if defined(__GNUC__)
#define TORVIK_EXPORT __attribute__((visibility("default")))
#else
#define TORVIK_EXPORT
#endif

#define ADAPTER_SCSI_ID 7
#define PASS_THROUGH_TIMEOUT_S 9999
#define SCSIOP_INQUIRY 0x12
#define SCSI_STATUS_GOOD 0x00
#define SCSI_STATUS_CHECK_CONDITION 0x02
#define INQUIRY_RECORD_HEADER_BYTES 12
// A chain longer than this many records must loop: each record takes at
// least its header and 36 bytes of the 2048.
#define MAX_CHAIN_RECORDS \
  (INQUIRY_REPLY_BYTES / (INQUIRY_RECORD_HEADER_BYTES + INQUIRY_ENTRY_BYTES))

extern "C" {

UCHAR NumberOfHostAdapters;
UCHAR TheSannerWithHostAdapterNo;
UCHAR ScannerSCSIID;
UCHAR InquiryDataBuffer[INQUIRY_ENTRIES][INQUIRY_ENTRY_BYTES];

}  // extern "C"

namespace {

const char* const kPortNames[] = {
    "\\\\.\\scsi0:", "\\\\.\\scsi1:", "\\\\.\\scsi2:", "\\\\.\\scsi3:"};
const char kScannerName[] = "\\\\.\\scanner0";
const char kManagerId[16] = {' ', 'A', 'S', 'P', 'I', ' ', 'f', 'o',
                             'r', ' ', 'W', 'I', 'N', '3', '2', ' '};
const char kAdapterIdentifier[16] = {' ', 'K', 'A', 'V', 'R', 'I', ' ', 'P',
                                     'C', 'I', ' ', 'S', 'C', 'S', 'I', ' '};

HANDLE OpenDevice(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                     OPEN_EXISTING, 0, NULL);
}

ULONG ReadUlong(const UCHAR* bytes) {
  ULONG value;
  memcpy(&value, bytes, sizeof value);
  return value;
}

// Whether a record of the inquiry chain, with the 36 bytes read from it,
// lies wholly inside the reply.
BOOLEAN RecordInside(ULONG offset, ULONG reply_bytes) {
  return offset != 0 && offset <= reply_bytes &&
         reply_bytes - offset >= INQUIRY_RECORD_HEADER_BYTES + INQUIRY_ENTRY_BYTES;
}

// Checks every bus entry and every chain before anything is taken from the
// reply: a bus count or an offset outside it, or a chain that loops, makes
// the whole reply unusable.
BOOLEAN ReplyWellFormed(const UCHAR* reply, ULONG reply_bytes) {
  if (reply_bytes < 1) return FALSE;
  ULONG buses = reply[0];
  if (offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + buses * sizeof(SCSI_BUS_DATA) > reply_bytes) {
    return FALSE;
  }
  for (ULONG bus = 0; bus < buses; ++bus) {
    const UCHAR* entry =
        reply + offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA);
    ULONG offset = ReadUlong(entry + offsetof(SCSI_BUS_DATA, InquiryDataOffset));
    for (ULONG records = 0; offset != 0; ++records) {
      if (records >= MAX_CHAIN_RECORDS || !RecordInside(offset, reply_bytes)) return FALSE;
      offset = ReadUlong(reply + offset + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset));
    }
  }
  return TRUE;
}

ULONG HaInquiry(PSRB_HAInquiry srb) {
  if (srb->SRB_HaId != 0) return SS_INVALID_HA;
  srb->HA_Count = NumberOfHostAdapters;
  srb->HA_SCSI_ID = ADAPTER_SCSI_ID;
  memcpy(srb->HA_ManagerId, kManagerId, sizeof kManagerId);
  memcpy(srb->HA_Identifier, kAdapterIdentifier, sizeof kAdapterIdentifier);
  return SS_COMP;
}

BOOLEAN AnsweredFromCache(const SRB_ExecSCSICmd* srb) {
  return srb->SRB_HaId == TheSannerWithHostAdapterNo && srb->SRB_Target < INQUIRY_ENTRIES &&
         InquiryDataBuffer[srb->SRB_Target][0] != NO_DEVICE_TYPE &&
         srb->SRB_Target != ScannerSCSIID && srb->CDBByte[0] == SCSIOP_INQUIRY;
}

ULONG AnswerFromCache(PSRB_ExecSCSICmd srb) {
  ULONG bytes = srb->SRB_BufLen < INQUIRY_ENTRY_BYTES ? srb->SRB_BufLen : INQUIRY_ENTRY_BYTES;
  if (bytes > 0) memcpy(srb->SRB_BufPointer, InquiryDataBuffer[srb->SRB_Target], bytes);
  return SS_COMP;
}

ULONG PassThroughToScanner(PSRB_ExecSCSICmd srb) {
  HANDLE scanner = OpenDevice(kScannerName);
  if (scanner == INVALID_HANDLE_VALUE) return SS_ERR;

  SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER request;
  memset(&request, 0, sizeof request);
  request.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  request.sptd.PathId = srb->SRB_HaId;
  request.sptd.TargetId = srb->SRB_Target;
  request.sptd.Lun = 0;
  request.sptd.CdbLength = srb->SRB_CDBLen;
  // The record holds 32 sense bytes: a longer request would let the port
  // driver write past it.
  UCHAR sense_bytes =
      srb->SRB_SenseLen < sizeof request.ucSenseBuf ? srb->SRB_SenseLen : sizeof request.ucSenseBuf;
  request.sptd.SenseInfoLength = sense_bytes;
  request.sptd.DataIn = (srb->SRB_Flags & SRB_DIR_IN) ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  request.sptd.DataTransferLength = srb->SRB_BufLen;
  request.sptd.TimeOutValue = PASS_THROUGH_TIMEOUT_S;
  request.sptd.DataBuffer = srb->SRB_BufPointer;
  request.sptd.SenseInfoOffset = offsetof(SCSI_PASS_THROUGH_DIRECT_WITH_BUFFER, ucSenseBuf);
  memcpy(request.sptd.Cdb, srb->CDBByte, sizeof request.sptd.Cdb);

  DWORD returned = 0;
  BOOL sent = DeviceIoControl(scanner, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                              &request, sizeof request, &returned, NULL);
  CloseHandle(scanner);
  if (!sent) return SS_ERR;

  switch (request.sptd.ScsiStatus) {
    case SCSI_STATUS_GOOD:
      return SS_COMP;
    case SCSI_STATUS_CHECK_CONDITION:
      // SenseArea continues past the record when the client asked for more
      // than 16 bytes.
      memcpy(srb->SenseArea, request.ucSenseBuf, sense_bytes);
      srb->SRB_TargStat = SCSI_STATUS_CHECK_CONDITION;
      return SS_ERR;
    default:
      // BUSY, RESERVATION CONFLICT and the like: the command did not run, and
      // the client finds out which status ended it.
      srb->SRB_TargStat = request.sptd.ScsiStatus;
      return SS_ERR;
  }
}

ULONG ExecScsiCmd(PSRB_ExecSCSICmd srb) {
  ULONG status;
  if (AnsweredFromCache(srb)) {
    status = AnswerFromCache(srb);
  } else if (srb->SRB_HaId == TheSannerWithHostAdapterNo && srb->SRB_Target == ScannerSCSIID) {
    status = PassThroughToScanner(srb);
  } else {
    status = SS_NO_DEVICE;
  }
  srb->SRB_Status = (UCHAR)status;
  // A client that sets the flag without a routine gets no call rather than a
  // jump to address 0.
  if ((srb->SRB_Flags & SRB_POSTING) && srb->SRB_PostProc != NULL) {
    ASPI_POST_ROUTINE post = (ASPI_POST_ROUTINE)srb->SRB_PostProc;
    post(srb);
  }
  return status;
}

}  // namespace

extern "C" {

UCHAR GetInquiryData(HANDLE fileHandle) {
  UCHAR result = NO_SCANNER;
  for (int id = 0; id < INQUIRY_ENTRIES; ++id) InquiryDataBuffer[id][0] = NO_DEVICE_TYPE;

  UCHAR reply[INQUIRY_REPLY_BYTES];
  DWORD returned = 0;
  if (!DeviceIoControl(fileHandle, IOCTL_SCSI_GET_INQUIRY_DATA, NULL, 0, reply, sizeof reply,
                       &returned, NULL)) {
    return NO_SCANNER;
  }
  ULONG reply_bytes = returned < sizeof reply ? returned : sizeof reply;
  if (!ReplyWellFormed(reply, reply_bytes)) return NO_SCANNER;

  ULONG buses = reply[0];
  for (ULONG bus = 0; bus < buses; ++bus) {
    const UCHAR* entry =
        reply + offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA);
    ULONG offset = ReadUlong(entry + offsetof(SCSI_BUS_DATA, InquiryDataOffset));
    while (offset != 0) {
      const UCHAR* record = reply + offset;
      UCHAR target = record[offsetof(SCSI_INQUIRY_DATA, TargetId)];
      const UCHAR* inquiry = record + offsetof(SCSI_INQUIRY_DATA, InquiryData);
      if (inquiry[0] != NO_DEVICE_TYPE && target < INQUIRY_ENTRIES) {
        memcpy(InquiryDataBuffer[target], inquiry, INQUIRY_ENTRY_BYTES);
      }
      if (inquiry[0] == 6 && (inquiry[1] | inquiry[2] | inquiry[3] | inquiry[4]) != 0) {
        result = target;
      }
      offset = ReadUlong(record + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset));
    }
  }
  return result;
}

BOOL DllMain(HANDLE hModule, DWORD dwFunction, LPVOID lpNot) {
  (void)hModule;
  (void)lpNot;
  if (dwFunction != DLL_PROCESS_ATTACH) return TRUE;

  NumberOfHostAdapters = 0;
  for (int port = 0; port < 4; ++port) {
    HANDLE handle = OpenDevice(kPortNames[port]);
    if (handle == INVALID_HANDLE_VALUE) break;
    ScannerSCSIID = GetInquiryData(handle);
    CloseHandle(handle);
    if (ScannerSCSIID <= ADAPTER_SCSI_ID) {
      ++NumberOfHostAdapters;
      TheSannerWithHostAdapterNo = NumberOfHostAdapters - 1;
      break;
    }
  }
  return TRUE;
}

TORVIK_EXPORT ULONG GetASPI32SupportInfo(void) {
  return ((ULONG)SS_COMP << 8) | NumberOfHostAdapters;
}

TORVIK_EXPORT ULONG SendASPI32Command(LPSRB lpASPISRB) {
  lpASPISRB->SRB_Status = SS_PENDING;
  ULONG status;
  switch (lpASPISRB->SRB_Cmd) {
    case SC_HA_INQUIRY:
      status = HaInquiry((PSRB_HAInquiry)lpASPISRB);
      break;
    case SC_GET_DEV_TYPE:
      status = SS_NO_DEVICE;
      break;
    case SC_EXEC_SCSI_CMD:
      // Sets the status itself: the post routine must see it.
      return ExecScsiCmd((PSRB_ExecSCSICmd)lpASPISRB);
    default:
      status = SS_COMP;
      break;
  }
  lpASPISRB->SRB_Status = (UCHAR)status;
  return status;
}

}  // extern "C"
