/* ASPI for Win32 request blocks, codes and exports: the one definition the
 * library and its clients share. Records are byte images in the client's
 * memory; the offsets below hold on the 32-bit build. */
#ifndef ASPI_ASPI_SRB_H
#define ASPI_ASPI_SRB_H

#include <stddef.h>

#include "ntdef.h"

/* Command codes (SRB_Cmd). */
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03
#define SC_RESET_DEV 0x04
#define SC_SET_HA_PARMS 0x05
#define SC_GET_DISK_INFO 0x06

/* Status codes (SRB_Status and the status byte of both exports' results). */
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ERR 0x04
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_OLD_MANAGER 0xE1
#define SS_ILLEGAL_MODE 0xE2
#define SS_NO_ASPI 0xE3
#define SS_FAILED_INIT 0xE4

/* Request flags (SRB_Flags). */
#define SRB_POSTING 0x01
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10

/* Target status values (SRB_TargStat). */
#define STATUS_GOOD 0x00
#define STATUS_CHKCOND 0x02

typedef struct {
  UCHAR SRB_Cmd;
  UCHAR SRB_Status;
  UCHAR SRB_HaId;
  UCHAR SRB_Flags;
  ULONG SRB_Hdr_Rsvd;
} SRB_Header, *PSRB_Header, *LPSRB;

typedef struct {
  UCHAR SRB_Cmd;
  UCHAR SRB_Status;
  UCHAR SRB_HaId;
  UCHAR SRB_Flags;
  ULONG SRB_Hdr_Rsvd;
  UCHAR HA_Count;
  UCHAR HA_SCSI_ID;
  UCHAR HA_ManagerId[16];
  UCHAR HA_Identifier[16];
  UCHAR HA_Unique[16];
  USHORT HA_Rsvd1;
} SRB_HAInquiry, *PSRB_HAInquiry;

typedef struct {
  UCHAR SRB_Cmd;
  UCHAR SRB_Status;
  UCHAR SRB_HaId;
  UCHAR SRB_Flags;
  ULONG SRB_Hdr_Rsvd;
  UCHAR SRB_Target;
  UCHAR SRB_Lun;
  USHORT SRB_Rsvd1;
  ULONG SRB_BufLen;
  PUCHAR SRB_BufPointer;
  UCHAR SRB_SenseLen;
  UCHAR SRB_CDBLen;
  UCHAR SRB_HaStat;
  UCHAR SRB_TargStat;
  PVOID SRB_PostProc; /* an ASPI_POST_ROUTINE, read only with SRB_POSTING */
  PVOID SRB_Rsvd2;
  UCHAR SRB_Rsvd3[16];
  UCHAR CDBByte[16];
  UCHAR SenseArea[16]; /* SRB_SenseLen bytes; beyond 16 they continue past the record */
} SRB_ExecSCSICmd, *PSRB_ExecSCSICmd;

/* The post routine: called with the client's SRB address, caller cleans. */
typedef void (*ASPI_POST_ROUTINE)(PVOID srb);

NT_STATIC_ASSERT(sizeof(SRB_Header) == 8, "SRB header size");
NT_STATIC_ASSERT(offsetof(SRB_HAInquiry, HA_Count) == 8, "SRB_HAInquiry layout");
NT_STATIC_ASSERT(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9, "SRB_HAInquiry layout");
NT_STATIC_ASSERT(offsetof(SRB_HAInquiry, HA_ManagerId) == 10, "SRB_HAInquiry layout");
NT_STATIC_ASSERT(offsetof(SRB_HAInquiry, HA_Identifier) == 26, "SRB_HAInquiry layout");
NT_STATIC_ASSERT(offsetof(SRB_HAInquiry, HA_Unique) == 42, "SRB_HAInquiry layout");
NT_STATIC_ASSERT(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58, "SRB_HAInquiry layout");
NT_STATIC_ASSERT(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry size");

#if NT_ASSERT_LAYOUT_32
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SRB_Rsvd3) == 32, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "SRB_ExecSCSICmd layout");
NT_STATIC_ASSERT(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd size");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Export ordinal 1: bits 0-7 the adapter count, bits 8-15 SS_COMP. */
ULONG GetASPI32SupportInfo(void);
/* Export ordinal 2: runs one SRB to its end; the low 16 bits are its status. */
ULONG SendASPI32Command(LPSRB lpASPISRB);

#ifdef __cplusplus
}
#endif

#endif /* ASPI_ASPI_SRB_H */
