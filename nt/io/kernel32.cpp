// The kernel32 device calls of this process, over the installed namespace.
// The last error is per thread, as on Windows.
#include "kernel32_io.h"
#include "nt/io/device_namespace.h"

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}  // namespace

using qzr::nt::io::installed_namespace;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE) {
  auto* device_namespace = installed_namespace();
  if (device_namespace == nullptr) {
    last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  return device_namespace->open(lpFileName, dwDesiredAccess, dwCreationDisposition, last_error);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED) {
  auto* device_namespace = installed_namespace();
  if (device_namespace == nullptr) {
    last_error = ERROR_INVALID_HANDLE;
    return 0;
  }
  return device_namespace->control(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                   nOutBufferSize, lpBytesReturned, last_error)
             ? 1
             : 0;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  auto* device_namespace = installed_namespace();
  if (device_namespace == nullptr) {
    last_error = ERROR_INVALID_HANDLE;
    return 0;
  }
  return device_namespace->close(hObject, last_error) ? 1 : 0;
}

DWORD WINAPI GetLastError(void) {
  return last_error;
}
void WINAPI SetLastError(DWORD dwErrCode) {
  last_error = dwErrCode;
}

}  // extern "C"
