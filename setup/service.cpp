// The service entries of the miniport and the restart of Windows NT.
//
// The entries go under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services
// in a key named after the service, in a fixed order; an existing key is
// reused and whatever else it holds is left alone. The restart enables the
// shutdown privilege in the process's own token just for the request, and
// reports each failure to the user in a "Warning" box.
#include "setup.h"

namespace {

// Room for the key path and the image path of any service name Windows
// accepts as a key name (255 characters).
const DWORD PATH_CHARS = 320;

// Appends `Text` to the string in `Buffer` (of `Size` characters); FALSE,
// with the buffer unchanged, when the result would not fit.
BOOL AppendText(CHAR* Buffer, DWORD Size, LPCSTR Text) {
  DWORD Used = 0;
  DWORD Length = 0;

  while (Used < Size && Buffer[Used] != '\0') {
    Used++;
  }
  while (Text[Length] != '\0') {
    if (Used + Length + 1 >= Size) {
      return FALSE;
    }
    Length++;
  }
  for (DWORD i = 0; i <= Length; i++) {
    Buffer[Used + i] = Text[i];
  }
  return TRUE;
}

// Byte count of a string with its terminating zero, as the registry takes it.
DWORD StringBytes(LPCSTR Text) {
  DWORD Length = 0;

  while (Text[Length] != '\0') {
    Length++;
  }
  return Length + 1;
}

BOOL SetStringValue(HKEY Key, LPCSTR Name, DWORD Type, LPCSTR Text) {
  return RegSetValueExA(Key, Name, 0, Type, (const BYTE*)Text, StringBytes(Text)) == ERROR_SUCCESS;
}

BOOL SetDwordValue(HKEY Key, LPCSTR Name, DWORD Value) {
  return RegSetValueExA(Key, Name, 0, REG_DWORD, (const BYTE*)&Value, sizeof(DWORD)) ==
         ERROR_SUCCESS;
}

void ShowWarning(LPCSTR Text) {
  MessageBoxA(GetFocus(), Text, WARNING_CAPTION, MB_OK);
}

// Sets the shutdown privilege of the token to `Attributes` (enabled or 0);
// the caller reads the outcome from the last error.
void AdjustShutdownPrivilege(HANDLE Token, PTOKEN_PRIVILEGES Privileges, DWORD Attributes) {
  Privileges->PrivilegeCount = 1;
  Privileges->Privileges[0].Attributes = Attributes;
  AdjustTokenPrivileges(Token, FALSE, Privileges, 0, NULL, NULL);
}

}  // namespace

extern "C" {

BOOL WriteServiceEntries(LPCSTR ServiceName) {
  CHAR KeyPath[PATH_CHARS] = "";
  CHAR ImagePath[PATH_CHARS] = "";
  HKEY Key;

  if (ServiceName == NULL || !AppendText(KeyPath, PATH_CHARS, SERVICES_KEY) ||
      !AppendText(KeyPath, PATH_CHARS, ServiceName) ||
      !AppendText(ImagePath, PATH_CHARS, DRIVERS_FOLDER) ||
      !AppendText(ImagePath, PATH_CHARS, ServiceName) ||
      !AppendText(ImagePath, PATH_CHARS, ".SYS")) {
    return FALSE;
  }

  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, KeyPath, &Key) != ERROR_SUCCESS) {
    return FALSE;
  }

  // The first failed write ends the registration; the values written before
  // it stay. The key is closed on every path so no handle is left behind.
  if (!SetStringValue(Key, "ImagePath", REG_EXPAND_SZ, ImagePath) ||
      !SetStringValue(Key, "Group", REG_SZ, SERVICE_GROUP) ||
      !SetDwordValue(Key, "ErrorControl", SERVICE_ERROR_NORMAL) ||
      !SetDwordValue(Key, "Type", SERVICE_KERNEL_DRIVER) ||
      !SetDwordValue(Key, "Start", SERVICE_SYSTEM_START) ||
      !SetDwordValue(Key, "Tag", SERVICE_TAG)) {
    RegCloseKey(Key);
    return FALSE;
  }

  RegCloseKey(Key);
  return TRUE;
}

BOOL RegisterDriverService(void) {
  return WriteServiceEntries(SERVICE_NAME);
}

BOOL RestartWindowsNT(void) {
  HANDLE Token;
  TOKEN_PRIVILEGES Privileges;
  BOOL Restarted;

  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &Token)) {
    ShowWarning("OpenProcessToken failed.");
    return FALSE;
  }

  // A lookup that fails leaves identifier 0, which no token holds: the
  // enabling below then reports the failure.
  Privileges.Privileges[0].Luid.LowPart = 0;
  Privileges.Privileges[0].Luid.HighPart = 0;
  LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &Privileges.Privileges[0].Luid);

  // AdjustTokenPrivileges succeeds even when the user lacks the privilege;
  // only the last error tells.
  AdjustShutdownPrivilege(Token, &Privileges, SE_PRIVILEGE_ENABLED);
  if (GetLastError() != ERROR_SUCCESS) {
    ShowWarning("AdjustTokenPrivileges enable failed.");
    return FALSE;
  }

  // At once, without a message, closing applications by force, then reboot.
  Restarted = InitiateSystemShutdownA(NULL, NULL, 0, TRUE, TRUE);
  if (!Restarted) {
    ShowWarning("InitiateSystemShutdown failed.");
  }

  AdjustShutdownPrivilege(Token, &Privileges, 0);
  if (GetLastError() != ERROR_SUCCESS) {
    ShowWarning("AdjustTokenPriveleges disable failed.");
  }

  return Restarted;
}

}  // extern "C"
