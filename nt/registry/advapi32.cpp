#include "nt/registry/advapi32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qzr::nt::registry {

namespace {

Advapi32* current = nullptr;

// Handle values of their own, apart from the device handles (from 0x40).
constexpr std::uintptr_t kFirstKeyHandle = 0x00100000;
constexpr std::uintptr_t kFirstTokenHandle = 0x00200000;
constexpr std::uintptr_t kHandleStep = 4;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kGenericWrite = 0x40000000u;
constexpr DWORD kGenericExecute = 0x20000000u;
constexpr DWORD kGenericAll = 0x10000000u;

struct Privilege {
  const char* name;
  DWORD luid;
};
// Windows NT 4.0's privileges and their identifiers.
constexpr Privilege kPrivileges[] = {
    {SE_CREATE_TOKEN_NAME, 2},
    {SE_ASSIGNPRIMARYTOKEN_NAME, 3},
    {SE_LOCK_MEMORY_NAME, 4},
    {SE_INCREASE_QUOTA_NAME, 5},
    {SE_MACHINE_ACCOUNT_NAME, 6},
    {SE_TCB_NAME, 7},
    {SE_SECURITY_NAME, 8},
    {SE_TAKE_OWNERSHIP_NAME, 9},
    {SE_LOAD_DRIVER_NAME, 10},
    {SE_SYSTEM_PROFILE_NAME, 11},
    {SE_SYSTEMTIME_NAME, 12},
    {SE_PROF_SINGLE_PROCESS_NAME, 13},
    {SE_INC_BASE_PRIORITY_NAME, 14},
    {SE_CREATE_PAGEFILE_NAME, 15},
    {SE_CREATE_PERMANENT_NAME, 16},
    {SE_BACKUP_NAME, 17},
    {SE_RESTORE_NAME, 18},
    {SE_SHUTDOWN_NAME, kShutdownPrivilegeLuid},
    {SE_DEBUG_NAME, 20},
    {SE_AUDIT_NAME, 21},
    {SE_SYSTEM_ENVIRONMENT_NAME, 22},
    {SE_CHANGE_NOTIFY_NAME, kChangeNotifyPrivilegeLuid},
    {SE_REMOTE_SHUTDOWN_NAME, 24},
};

struct PredefinedKey {
  HKEY handle;
  std::string_view root;
};

const PredefinedKey kPredefined[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
};

const PredefinedKey* predefined(HKEY handle) {
  for (const auto& p : kPredefined) {
    if (p.handle == handle) return &p;
  }
  return nullptr;
}

REGSAM map_generic(REGSAM access) {
  REGSAM mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
                             static_cast<REGSAM>(MAXIMUM_ALLOWED));
  if ((access & kGenericRead) || (access & kGenericExecute)) mapped |= KEY_READ;
  if (access & kGenericWrite) mapped |= KEY_WRITE;
  if ((access & kGenericAll) || (access & MAXIMUM_ALLOWED)) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

bool empty_name(LPCSTR s) {
  return s == nullptr || s[0] == '\0';
}

// Copies `text` with its terminating zero into a buffer of `*chars`
// characters; on success *chars is the length without the zero.
LONG copy_name(const std::string& text, LPSTR out, LPDWORD chars) {
  if (out == nullptr || chars == nullptr) return ERROR_INVALID_PARAMETER;
  if (text.size() + 1 > *chars) return ERROR_MORE_DATA;
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  *chars = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

// RegQueryValueExA's rules for the data buffer.
LONG copy_data(const Value& value, LPDWORD type, LPBYTE data, LPDWORD data_bytes) {
  if (data != nullptr && data_bytes == nullptr) return ERROR_INVALID_PARAMETER;
  if (type != nullptr) *type = value.type;
  if (data_bytes == nullptr) return ERROR_SUCCESS;
  const auto size = static_cast<DWORD>(value.data.size());
  if (data != nullptr && *data_bytes < size) {
    *data_bytes = size;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && size > 0) std::memcpy(data, value.data.data(), size);
  *data_bytes = size;
  return ERROR_SUCCESS;
}

}  // namespace

void install(Advapi32* advapi32) {
  current = advapi32;
}

Advapi32* installed() {
  return current;
}

bool lookup_privilege(const char* name, LUID& luid) {
  if (name == nullptr) return false;
  for (const auto& p : kPrivileges) {
    if (Hive::names_equal(p.name, name)) {
      luid.LowPart = p.luid;
      luid.HighPart = 0;
      return true;
    }
  }
  return false;
}

Advapi32::Advapi32(Hive& hive, std::string hive_path)
    : hive_(hive), hive_path_(std::move(hive_path)) {}

Advapi32::~Advapi32() {
  if (current == this) current = nullptr;
}

bool Advapi32::privilege_held(DWORD luid) const {
  if (luid == kShutdownPrivilegeLuid) return user_holds_shutdown_privilege;
  return luid == kChangeNotifyPrivilegeLuid;
}

bool Advapi32::privilege_enabled(DWORD luid) const {
  return privilege_held(luid) && std::find(enabled_privileges_.begin(), enabled_privileges_.end(),
                                           luid) != enabled_privileges_.end();
}

std::size_t Advapi32::open_keys() const {
  return static_cast<std::size_t>(
      std::count_if(keys_.begin(), keys_.end(), [](const auto& k) { return k.has_value(); }));
}

std::vector<DWORD> Advapi32::token_accesses() const {
  std::vector<DWORD> accesses;
  for (const Token& t : tokens_) accesses.push_back(t.access);
  return accesses;
}

bool Advapi32::flush(std::string& error) {
  if (hive_path_.empty()) return true;
  return hive_.save(hive_path_, error);
}

LONG Advapi32::resolve(HKEY handle, REGSAM needed, Key*& key) {
  key = nullptr;
  if (const auto* p = predefined(handle)) {
    key = hive_.root(p->root);
    return key != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  }
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kFirstKeyHandle || (value - kFirstKeyHandle) % kHandleStep != 0) {
    return ERROR_INVALID_HANDLE;
  }
  std::size_t index = (value - kFirstKeyHandle) / kHandleStep;
  if (index >= keys_.size() || !keys_[index]) return ERROR_INVALID_HANDLE;
  if ((keys_[index]->access & needed) != needed) return ERROR_ACCESS_DENIED;
  key = hive_.find_key(keys_[index]->path);
  return key != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG Advapi32::new_handle(const Key& key, REGSAM access, PHKEY result) {
  auto slot =
      std::find_if(keys_.begin(), keys_.end(), [](const auto& k) { return !k.has_value(); });
  if (slot == keys_.end()) {
    if (keys_.size() >= kMaxOpenKeys) return ERROR_NOT_ENOUGH_MEMORY;
    slot = keys_.insert(keys_.end(), std::nullopt);
  }
  *slot = OpenKey{key.path(), map_generic(access)};
  auto index = static_cast<std::uintptr_t>(slot - keys_.begin());
  *result = reinterpret_cast<HKEY>(kFirstKeyHandle + index * kHandleStep);
  return ERROR_SUCCESS;
}

LONG Advapi32::create_key(HKEY parent, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result,
                          LPDWORD disposition, bool same_handle_for_empty) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
  Key* from = nullptr;
  if (LONG status = resolve(parent, 0, from); status != ERROR_SUCCESS) return status;
  if (empty_name(sub_key)) {
    if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
    if (same_handle_for_empty) {
      *result = parent;
      return ERROR_SUCCESS;
    }
    return new_handle(*from, access, result);
  }
  if (sub_key[0] == '\\') return ERROR_BAD_PATHNAME;

  Key* existing = hive_.find_key(*from, sub_key);
  if (existing == nullptr) {
    // Creating needs the right on the parent; opening does not.
    Key* unused = nullptr;
    if (LONG status = resolve(parent, KEY_CREATE_SUB_KEY, unused); status != ERROR_SUCCESS) {
      return status;
    }
    if (std::string_view(sub_key).find("\\\\") != std::string_view::npos) return ERROR_BAD_PATHNAME;
    existing = hive_.create_key(*from, sub_key);
    if (existing == nullptr) return ERROR_INVALID_PARAMETER;
    if (disposition != nullptr) *disposition = REG_CREATED_NEW_KEY;
  } else if (disposition != nullptr) {
    *disposition = REG_OPENED_EXISTING_KEY;
  }
  return new_handle(*existing, access, result);
}

LONG Advapi32::open_key(HKEY parent, LPCSTR sub_key, REGSAM access, PHKEY result,
                        bool same_handle_for_empty) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Key* from = nullptr;
  if (LONG status = resolve(parent, 0, from); status != ERROR_SUCCESS) return status;
  if (empty_name(sub_key)) {
    if (same_handle_for_empty) {
      *result = parent;
      return ERROR_SUCCESS;
    }
    return new_handle(*from, access, result);
  }
  Key* key = sub_key[0] == '\\' ? nullptr : hive_.find_key(*from, sub_key);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  return new_handle(*key, access, result);
}

LONG Advapi32::close_key(HKEY key) {
  if (predefined(key) != nullptr) return ERROR_SUCCESS;
  auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value < kFirstKeyHandle || (value - kFirstKeyHandle) % kHandleStep != 0) {
    return ERROR_INVALID_HANDLE;
  }
  std::size_t index = (value - kFirstKeyHandle) / kHandleStep;
  if (index >= keys_.size() || !keys_[index]) return ERROR_INVALID_HANDLE;
  keys_[index].reset();
  return ERROR_SUCCESS;
}

LONG Advapi32::set_value(HKEY handle, LPCSTR name, DWORD type, const BYTE* data, DWORD data_bytes) {
  ++set_value_calls_;
  if (faults.fail_set_value_at != 0 && set_value_calls_ == faults.fail_set_value_at) {
    return faults.set_value_error;
  }
  Key* key = nullptr;
  if (LONG status = resolve(handle, KEY_SET_VALUE, key); status != ERROR_SUCCESS) return status;
  if (data == nullptr && data_bytes != 0) return ERROR_NOACCESS;
  if (data_bytes > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
  std::vector<std::uint8_t> bytes(data, data + data_bytes);
  if (!hive_.set_value(*key, empty_name(name) ? "" : name, type, std::move(bytes))) {
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

LONG Advapi32::query_value(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD data_bytes) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  Key* key = nullptr;
  if (LONG status = resolve(handle, KEY_QUERY_VALUE, key); status != ERROR_SUCCESS) return status;
  const Value* value = hive_.query_value(*key, empty_name(name) ? "" : name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  return copy_data(*value, type, data, data_bytes);
}

LONG Advapi32::delete_value(HKEY handle, LPCSTR name) {
  Key* key = nullptr;
  if (LONG status = resolve(handle, KEY_SET_VALUE, key); status != ERROR_SUCCESS) return status;
  return hive_.delete_value(*key, empty_name(name) ? "" : name) ? ERROR_SUCCESS
                                                                : ERROR_FILE_NOT_FOUND;
}

LONG Advapi32::enum_key(HKEY handle, DWORD index, LPSTR name, LPDWORD name_chars, LPSTR class_name,
                        LPDWORD class_chars, PFILETIME last_write) {
  Key* key = nullptr;
  if (LONG status = resolve(handle, KEY_ENUMERATE_SUB_KEYS, key); status != ERROR_SUCCESS) {
    return status;
  }
  if (index >= key->subkeys().size()) return ERROR_NO_MORE_ITEMS;
  if (LONG status = copy_name(key->subkeys()[index]->name(), name, name_chars);
      status != ERROR_SUCCESS) {
    return status;
  }
  // Keys here have no class and no recorded write time.
  if (class_name != nullptr && class_chars != nullptr && *class_chars > 0) class_name[0] = '\0';
  if (class_chars != nullptr) *class_chars = 0;
  if (last_write != nullptr) *last_write = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG Advapi32::enum_value(HKEY handle, DWORD index, LPSTR name, LPDWORD name_chars, LPDWORD type,
                          LPBYTE data, LPDWORD data_bytes) {
  Key* key = nullptr;
  if (LONG status = resolve(handle, KEY_QUERY_VALUE, key); status != ERROR_SUCCESS) return status;
  if (index >= key->values().size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = key->values()[index];
  if (LONG status = copy_name(value.name, name, name_chars); status != ERROR_SUCCESS) return status;
  return copy_data(value, type, data, data_bytes);
}

LONG Advapi32::flush_key(HKEY handle) {
  Key* key = nullptr;
  if (LONG status = resolve(handle, 0, key); status != ERROR_SUCCESS) return status;
  std::string error;
  return flush(error) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

bool Advapi32::open_process_token(HANDLE process, DWORD access, PHANDLE token, DWORD& error) {
  if (process != kCurrentProcess) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  if (token == nullptr) {
    error = ERROR_NOACCESS;
    return false;
  }
  if (faults.fail_open_token) {
    error = faults.open_token_error;
    return false;
  }
  if (tokens_.size() >= kMaxTokenHandles) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  if (access & (kGenericAll | MAXIMUM_ALLOWED)) access = TOKEN_ALL_ACCESS;
  tokens_.push_back(Token{access});
  *token = reinterpret_cast<HANDLE>(kFirstTokenHandle + (tokens_.size() - 1) * kHandleStep);
  return true;
}

bool Advapi32::adjust_token_privileges(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES new_state,
                                       DWORD buffer_bytes, PTOKEN_PRIVILEGES previous_state,
                                       PDWORD return_bytes, DWORD& error) {
  ++adjust_calls_;
  if (faults.fail_adjust_at != 0 && adjust_calls_ == faults.fail_adjust_at) {
    error = faults.adjust_error;
    return false;
  }
  auto value = reinterpret_cast<std::uintptr_t>(token);
  if (value < kFirstTokenHandle || (value - kFirstTokenHandle) % kHandleStep != 0 ||
      (value - kFirstTokenHandle) / kHandleStep >= tokens_.size()) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  const Token& t = tokens_[(value - kFirstTokenHandle) / kHandleStep];
  if (!(t.access & TOKEN_ADJUST_PRIVILEGES) ||
      (previous_state != nullptr && !(t.access & TOKEN_QUERY))) {
    error = ERROR_ACCESS_DENIED;
    return false;
  }
  if (!disable_all && new_state == nullptr) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (!disable_all && new_state->PrivilegeCount > kMaxPrivilegeCount) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }

  // What changes: the held privileges whose enabled state flips.
  std::vector<std::pair<DWORD, bool>> changes;
  bool not_all_assigned = false;
  auto plan = [&](DWORD luid, bool enable) {
    if (privilege_enabled(luid) == enable) return;
    if (std::none_of(changes.begin(), changes.end(),
                     [&](const auto& c) { return c.first == luid; })) {
      changes.emplace_back(luid, enable);
    }
  };
  if (disable_all) {
    for (DWORD luid : enabled_privileges_) {
      if (privilege_held(luid)) plan(luid, false);
    }
  } else {
    for (DWORD i = 0; i < new_state->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& entry = new_state->Privileges[i];
      if (entry.Luid.HighPart != 0 || !privilege_held(entry.Luid.LowPart)) {
        not_all_assigned = true;
        continue;
      }
      plan(entry.Luid.LowPart, (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0);
    }
  }

  if (previous_state != nullptr) {
    const DWORD needed =
        static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                           std::max<std::size_t>(changes.size(), 1) * sizeof(LUID_AND_ATTRIBUTES));
    if (return_bytes != nullptr) *return_bytes = needed;
    if (buffer_bytes < needed) {
      error = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
    previous_state->PrivilegeCount = static_cast<DWORD>(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
      previous_state->Privileges[i].Luid = LUID{changes[i].first, 0};
      previous_state->Privileges[i].Attributes = changes[i].second ? 0 : SE_PRIVILEGE_ENABLED;
    }
  }

  for (const auto& [luid, enable] : changes) {
    auto it = std::find(enabled_privileges_.begin(), enabled_privileges_.end(), luid);
    if (enable && it == enabled_privileges_.end()) enabled_privileges_.push_back(luid);
    if (!enable && it != enabled_privileges_.end()) enabled_privileges_.erase(it);
  }
  // Windows reports success with a last error saying whether every
  // privilege named was assigned.
  error = not_all_assigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS;
  return true;
}

bool Advapi32::initiate_shutdown(LPCSTR machine, LPCSTR message, DWORD time_out_s, BOOL force,
                                 BOOL reboot, DWORD& error) {
  if (!empty_name(machine)) {
    error = ERROR_BAD_NETPATH;
    return false;
  }
  if (!privilege_enabled(kShutdownPrivilegeLuid)) {
    error = ERROR_PRIVILEGE_NOT_HELD;
    return false;
  }
  if (faults.refuse_shutdown) {
    error = faults.shutdown_error;
    return false;
  }
  if (shutdown_) {
    error = ERROR_SHUTDOWN_IN_PROGRESS;
    return false;
  }
  ShutdownRequest request;
  request.reboot = reboot != 0;
  request.force_apps_closed = force != 0;
  request.time_out_s = time_out_s;
  if (message != nullptr) request.message = std::string(message);
  shutdown_ = std::move(request);
  return true;
}

}  // namespace qzr::nt::registry

// The advapi32 (and GetCurrentProcess) entry points of this process.
using qzr::nt::registry::installed;

namespace {

// BOOL calls report failures through the thread's last error, which the
// device interface library keeps; success leaves it alone, as on Windows.
BOOL finish(bool ok, DWORD error) {
  if (!ok) SetLastError(error);
  return ok ? 1 : 0;
}

}  // namespace

extern "C" {

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->create_key(hKey, lpSubKey, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, phkResult, nullptr,
                       true);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->create_key(hKey, lpSubKey, dwOptions, samDesired, phkResult, lpdwDisposition, false);
}

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->open_key(hKey, lpSubKey, KEY_ALL_ACCESS, phkResult, true);
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->open_key(hKey, lpSubKey, samDesired, phkResult, false);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->close_key(hKey);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->set_value(hKey, lpValueName, dwType, lpData, cbData);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->query_value(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->delete_value(hKey, lpValueName);
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                          LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->enum_key(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->enum_value(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  auto* a = installed();
  if (a == nullptr) return ERROR_INVALID_HANDLE;
  return a->flush_key(hKey);
}

HANDLE WINAPI GetCurrentProcess(void) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  auto* a = installed();
  DWORD error = ERROR_INVALID_HANDLE;
  bool ok = a != nullptr && a->open_process_token(ProcessHandle, DesiredAccess, TokenHandle, error);
  return finish(ok, error);
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if (lpSystemName != nullptr && lpSystemName[0] != '\0') return finish(false, ERROR_BAD_NETPATH);
  if (lpLuid == nullptr) return finish(false, ERROR_NOACCESS);
  LUID luid{};
  if (!qzr::nt::registry::lookup_privilege(lpName, luid)) {
    return finish(false, ERROR_NO_SUCH_PRIVILEGE);
  }
  *lpLuid = luid;
  return 1;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  auto* a = installed();
  DWORD error = ERROR_INVALID_HANDLE;
  bool ok =
      a != nullptr && a->adjust_token_privileges(TokenHandle, DisableAllPrivileges, NewState,
                                                 BufferLength, PreviousState, ReturnLength, error);
  // Success too sets the last error: ERROR_SUCCESS or ERROR_NOT_ALL_ASSIGNED.
  SetLastError(error);
  return ok ? 1 : 0;
}

BOOL WINAPI InitiateSystemShutdownA(LPSTR lpMachineName, LPSTR lpMessage, DWORD dwTimeout,
                                    BOOL bForceAppsClosed, BOOL bRebootAfterShutdown) {
  auto* a = installed();
  DWORD error = ERROR_INVALID_HANDLE;
  bool ok = a != nullptr && a->initiate_shutdown(lpMachineName, lpMessage, dwTimeout,
                                                 bForceAppsClosed, bRebootAfterShutdown, error);
  return finish(ok, error);
}

}  // extern "C"
