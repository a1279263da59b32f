// advapi32 of one machine: the Reg* calls over its hive, the process
// token with its privileges, and system shutdown. A program's calls reach
// the instance installed with install(); the runtime owns it, fills in the
// machine settings and, at a safe point, looks at the pending shutdown.
//
// Choices where the platform leaves things to us:
// - Registry writes change the hive in memory only; flush() (and
//   RegFlushKey) write the hive file when a path was given.
// - Key handles name their key by path and find it again on each call, so
//   a hive reloaded under an open handle gives ERROR_KEY_DELETED, never a
//   dangling key. Predefined keys have every right; an opened key the
//   rights it was opened with (ERROR_ACCESS_DENIED otherwise).
// - RegCreateKeyA and RegOpenKeyA with an empty subkey give back the
//   handle passed in, as Windows does for these two.
// - Value data above kMaxValueBytes, or a name with CR or LF, is refused
//   with ERROR_INVALID_PARAMETER (the hive file could not hold it).
// - REG_OPTION_VOLATILE is refused (ERROR_INVALID_PARAMETER): every key
//   here is saved with the hive.
// - The token holds SeChangeNotifyPrivilege (enabled) and, when the user
//   holds it (a machine setting), SeShutdownPrivilege (disabled until a
//   program enables it). Token handles stay valid for the process's life.
// - InitiateSystemShutdownA does not end the program: it records the
//   request and returns, as on Windows where the system goes down a
//   moment later. Only the local machine (null or empty name) can be shut
//   down; others give ERROR_BAD_NETPATH. A second request while one is
//   pending gives ERROR_SHUTDOWN_IN_PROGRESS.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "nt/registry/hive.h"
#include "winreg.h"

namespace qzr::nt::registry {

// Privilege identifiers as Windows NT numbers them.
inline constexpr DWORD kShutdownPrivilegeLuid = 19;
inline constexpr DWORD kChangeNotifyPrivilegeLuid = 23;

// Open handles beyond these are refused with ERROR_NOT_ENOUGH_MEMORY.
inline constexpr std::size_t kMaxOpenKeys = 65536;
inline constexpr std::size_t kMaxTokenHandles = 65536;
// A privilege record longer than this is refused (ERROR_INVALID_PARAMETER).
inline constexpr DWORD kMaxPrivilegeCount = 64;

struct ShutdownRequest {
  bool reboot = false;
  bool force_apps_closed = false;
  DWORD time_out_s = 0;
  std::optional<std::string> message;  // none: no message to the user
};

// Scripted failures for tests.
struct Advapi32Faults {
  bool fail_open_token = false;  // OpenProcessToken fails with open_token_error
  DWORD open_token_error = ERROR_ACCESS_DENIED;
  // The n-th RegSetValueExA call since install (counting from 1) fails
  // with set_value_error and changes nothing; 0: none fails.
  unsigned fail_set_value_at = 0;
  LONG set_value_error = ERROR_ACCESS_DENIED;
  // The n-th AdjustTokenPrivileges call since install (counting from 1)
  // fails with adjust_error and changes nothing; 0: none fails.
  unsigned fail_adjust_at = 0;
  DWORD adjust_error = ERROR_ACCESS_DENIED;
  bool refuse_shutdown = false;  // InitiateSystemShutdownA fails with shutdown_error
  DWORD shutdown_error = ERROR_NOT_READY;
};

class Advapi32 {
 public:
  // `hive_path`: the file flush() writes; empty: flush() has nowhere to go.
  explicit Advapi32(Hive& hive, std::string hive_path = {});
  ~Advapi32();
  Advapi32(const Advapi32&) = delete;
  Advapi32& operator=(const Advapi32&) = delete;

  Hive& hive() { return hive_; }

  // Machine settings and scripted faults, set before the program runs.
  bool user_holds_shutdown_privilege = true;
  Advapi32Faults faults;

  // What the runtime and tests look at.
  bool shutdown_pending() const { return shutdown_.has_value(); }
  const std::optional<ShutdownRequest>& pending_shutdown() const { return shutdown_; }
  bool privilege_enabled(DWORD luid) const;
  std::size_t open_keys() const;
  unsigned set_value_calls() const { return set_value_calls_; }
  // The access asked for by each OpenProcessToken that succeeded, in order.
  std::vector<DWORD> token_accesses() const;
  // Writes the hive to its file (atomically); true when there is no file.
  bool flush(std::string& error);

  // The calls, with Windows' results: a LONG error code from the Reg
  // calls; from the others TRUE/FALSE with `error` for the last error
  // (left alone where Windows leaves it).
  LONG create_key(HKEY parent, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result,
                  LPDWORD disposition, bool same_handle_for_empty);
  LONG open_key(HKEY parent, LPCSTR sub_key, REGSAM access, PHKEY result,
                bool same_handle_for_empty);
  LONG close_key(HKEY key);
  LONG set_value(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD data_bytes);
  LONG query_value(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD data_bytes);
  LONG delete_value(HKEY key, LPCSTR name);
  LONG enum_key(HKEY key, DWORD index, LPSTR name, LPDWORD name_chars, LPSTR class_name,
                LPDWORD class_chars, PFILETIME last_write);
  LONG enum_value(HKEY key, DWORD index, LPSTR name, LPDWORD name_chars, LPDWORD type, LPBYTE data,
                  LPDWORD data_bytes);
  LONG flush_key(HKEY key);

  bool open_process_token(HANDLE process, DWORD access, PHANDLE token, DWORD& error);
  bool adjust_token_privileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES new_state,
                               DWORD buffer_bytes, PTOKEN_PRIVILEGES previous_state,
                               PDWORD return_bytes, DWORD& error);
  bool initiate_shutdown(LPCSTR machine, LPCSTR message, DWORD time_out_s, BOOL force, BOOL reboot,
                         DWORD& error);

 private:
  struct OpenKey {
    std::string path;  // full path, root first
    REGSAM access = 0;
  };
  struct Token {
    DWORD access = 0;
  };

  // The key behind a handle and the rights it carries, or the error.
  LONG resolve(HKEY handle, REGSAM needed, Key*& key);
  LONG new_handle(const Key& key, REGSAM access, PHKEY result);
  bool privilege_held(DWORD luid) const;

  Hive& hive_;
  std::string hive_path_;
  std::vector<std::optional<OpenKey>> keys_;
  std::vector<Token> tokens_;
  std::vector<DWORD> enabled_privileges_{kChangeNotifyPrivilegeLuid};
  std::optional<ShutdownRequest> shutdown_;
  unsigned set_value_calls_ = 0;
  unsigned adjust_calls_ = 0;
};

// The advapi32 this process's calls reach; null: none (the Reg calls give
// ERROR_INVALID_HANDLE, the others fail with it). An instance uninstalls
// itself when destroyed.
void install(Advapi32* advapi32);
Advapi32* installed();

// The identifier Windows NT gives a privilege name (case-insensitive);
// false for a name it does not know.
bool lookup_privilege(const char* name, LUID& luid);

}  // namespace qzr::nt::registry
