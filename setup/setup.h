/* The installer's routines that change the system: the service entries
 * that make Windows NT load the miniport at start-up, and the restart that
 * makes them take effect. The installer's window calls them in this order. */
#ifndef SETUP_SETUP_H
#define SETUP_SETUP_H

#include "windows.h"

#define SERVICE_NAME "QZR6140"
#define SERVICES_KEY "SYSTEM\\CurrentControlSet\\Services\\"
#define DRIVERS_FOLDER "\\SystemRoot\\System32\\drivers\\"
#define SERVICE_GROUP "SCSI Miniport"
#define SERVICE_TAG 17

#define SERVICE_KERNEL_DRIVER 0x00000001
#define SERVICE_SYSTEM_START 0x00000001
#define SERVICE_ERROR_NORMAL 0x00000001

#define WARNING_CAPTION "Warning"

#ifdef __cplusplus
extern "C" {
#endif

BOOL WriteServiceEntries(LPCSTR ServiceName);
BOOL RegisterDriverService(void);
BOOL RestartWindowsNT(void);

#ifdef __cplusplus
}
#endif

#endif /* SETUP_SETUP_H */
