// The few kernel32 calls the windowed programs make.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "state.h"

using namespace qzr::user;

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
  int platform = desk().version_platform;
  info->dwPlatformId = static_cast<DWORD>(platform);
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  switch (platform) {
    case VER_PLATFORM_WIN32_NT:
      info->dwMajorVersion = 4, info->dwMinorVersion = 0, info->dwBuildNumber = 1381;
      std::strcpy(info->szCSDVersion, "Service Pack 6");
      break;
    case VER_PLATFORM_WIN32_WINDOWS:
      info->dwMajorVersion = 4, info->dwMinorVersion = 0, info->dwBuildNumber = 0x040003B6;
      break;
    default:  // Win32s on Windows 3.1
      info->dwMajorVersion = 3, info->dwMinorVersion = 10, info->dwBuildNumber = 0;
  }
  return TRUE;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  int r = strcasecmp(a ? a : "", b ? b : "");
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
  int r = std::strcmp(a ? a : "", b ? b : "");
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}
int WINAPI lstrlenA(LPCSTR s) {
  return s ? static_cast<int>(std::strlen(s)) : 0;
}
LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
  return dst && src ? std::strcpy(dst, src) : nullptr;
}

// wsprintfA writes at most 1024 characters, as on Windows. A `long` there
// is 32 bits, so "%ld" takes the same argument as "%d": the l is dropped
// before the host's formatter, whose long is 64 bits, sees it.
int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...) {
  if (!out || !format) return 0;
  std::string f;
  for (const char* p = format; *p; ++p) {
    f += *p;
    if (*p != '%') continue;
    ++p;
    while (*p && std::strchr("-+ #0123456789.*", *p)) f += *p++;
    if (*p == 'l' && p[1] && std::strchr("diuxXoc", p[1])) ++p;
    if (!*p) break;
    f += *p;
  }
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out, 1025, f.c_str(), args);
  va_end(args);
  return n > 1024 ? 1024 : n;
}

int WINAPI MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long p = static_cast<long long>(number) * numerator;
  // Rounded half away from zero, as Windows rounds.
  long long half = (denominator < 0 ? -denominator : denominator) / 2;
  long long r = ((p < 0) != (denominator < 0)) ? (p - ((p < 0) ? half : -half)) / denominator
                                               : (p + ((p < 0) ? -half : half)) / denominator;
  return static_cast<int>(r);
}

}  // extern "C"
