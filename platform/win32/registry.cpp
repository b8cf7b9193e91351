// The registry calls over the machine's one registry. Keys opened here are key objects behind
// handles of the calling process, as the kernel's own registry calls make them.
#include <memory>
#include <string>

#include "kernel/registry_key_object.h"
#include "kernel/status_to_dos.h"
#include "win32/registry_notify.h"
#include "win32/winreg.h"

using host::RegistryKeyRef;

namespace {

LSTATUS ErrorOf(NTSTATUS status) {
  return static_cast<LSTATUS>(RtlNtStatusToDosError(status));
}

bool IsPredefined(HKEY key) {
  return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT;
}

// The key a handle (predefined or opened) stands for.
LSTATUS KeyOf(HKEY handle, ACCESS_MASK access, RegistryKeyRef* key) {
  host::RegistryStore& store = host::MachineRegistry();
  if (handle == HKEY_LOCAL_MACHINE) {
    *key = store.Root(host::RegistryRoot::LocalMachine);
  } else if (handle == HKEY_CURRENT_USER) {
    *key = store.Root(host::RegistryRoot::CurrentUser);
  } else if (handle == HKEY_CLASSES_ROOT) {
    *key = store.Root(host::RegistryRoot::ClassesRoot);
  } else {
    const NTSTATUS status =
        tarnlink::io::KeyFromHandle(reinterpret_cast<HANDLE>(handle), access, UserMode, key);
    return NT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
  }
  return ERROR_SUCCESS;
}

// The access of a new handle; the registry view flags are accepted and mean nothing here.
ACCESS_MASK HandleAccess(REGSAM sam) {
  return sam & ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
}

LSTATUS InsertHandle(const RegistryKeyRef& key, REGSAM sam, PHKEY result) {
  HANDLE handle = nullptr;
  const NTSTATUS status =
      tarnlink::io::InsertKeyHandle(key, HandleAccess(sam), 0, UserMode, &handle);
  if (!NT_SUCCESS(status)) return ErrorOf(status);
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

std::u16string_view TextOf(LPCWSTR text) {
  return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired,
                             PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyRef base;
  LSTATUS error = KeyOf(hKey, 0, &base);
  if (error != ERROR_SUCCESS) return error;
  RegistryKeyRef key = host::MachineRegistry().Open(base, TextOf(lpSubKey));
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  return InsertHandle(key, samDesired, phkResult);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyRef base;
  LSTATUS error = KeyOf(hKey, KEY_CREATE_SUB_KEY, &base);
  if (error != ERROR_SUCCESS) return error;
  RegistryKeyRef key;
  bool created = false;
  const NTSTATUS status = host::MachineRegistry().Create(base, lpSubKey, &key, &created);
  if (!NT_SUCCESS(status)) return ErrorOf(status);
  error = InsertHandle(key, samDesired, phkResult);
  if (error == ERROR_SUCCESS && lpdwDisposition != nullptr)
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return error;
}

LSTATUS WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyExW(hKey, lpSubKey != nullptr ? lpSubKey : u"", 0, nullptr, 0,
                         KEY_ALL_ACCESS, nullptr, phkResult, nullptr);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyRef key;
  LSTATUS error = KeyOf(hKey, KEY_QUERY_VALUE, &key);
  if (error != ERROR_SUCCESS) return error;
  host::RegistryValue value;
  const NTSTATUS status = host::MachineRegistry().QueryValue(key, TextOf(lpValueName), &value);
  if (!NT_SUCCESS(status)) return ErrorOf(status);
  if (lpType != nullptr) *lpType = value.type;
  const auto size = static_cast<DWORD>(value.data.size());
  if (lpData != nullptr && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData != nullptr && size != 0) std::copy(value.data.begin(), value.data.end(), lpData);
  if (lpcbData != nullptr) *lpcbData = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  RegistryKeyRef key;
  LSTATUS error = KeyOf(hKey, KEY_SET_VALUE, &key);
  if (error != ERROR_SUCCESS) return error;
  const NTSTATUS status =
      host::MachineRegistry().SetValue(key, TextOf(lpValueName), dwType, lpData, cbData);
  return NT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  RegistryKeyRef key;
  LSTATUS error = KeyOf(hKey, KEY_SET_VALUE, &key);
  if (error != ERROR_SUCCESS) return error;
  const NTSTATUS status = host::MachineRegistry().DeleteValue(key, TextOf(lpValueName));
  return NT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyRef base;
  LSTATUS error = KeyOf(hKey, 0, &base);
  if (error != ERROR_SUCCESS) return error;
  RegistryKeyRef key = host::MachineRegistry().Open(base, lpSubKey);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  const NTSTATUS status = host::MachineRegistry().DeleteKey(key);
  return NT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                             LPWSTR, LPDWORD, PFILETIME) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyRef key;
  LSTATUS error = KeyOf(hKey, KEY_ENUMERATE_SUB_KEYS, &key);
  if (error != ERROR_SUCCESS) return error;
  std::u16string name;
  const NTSTATUS status = host::MachineRegistry().EnumerateSubkey(key, dwIndex, &name);
  if (!NT_SUCCESS(status) || status == STATUS_NO_MORE_ENTRIES)
    return status == STATUS_NO_MORE_ENTRIES ? ERROR_NO_MORE_ITEMS : ErrorOf(status);
  if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
  name.copy(lpName, name.size());
  lpName[name.size()] = 0;
  *lpcchName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  tarnlink::win32::EndKeyNotification(reinterpret_cast<HANDLE>(hKey));
  const NTSTATUS status = ObCloseHandle(reinterpret_cast<HANDLE>(hKey), UserMode);
  return NT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
}

LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                       HANDLE hEvent, BOOL fAsynchronous) {
  if ((dwNotifyFilter & ~static_cast<DWORD>(REG_LEGAL_CHANGE_FILTER)) != 0 ||
      dwNotifyFilter == 0 || (fAsynchronous && hEvent == nullptr))
    return ERROR_INVALID_PARAMETER;
  if (IsPredefined(hKey)) return ERROR_INVALID_HANDLE;
  RegistryKeyRef key;
  const LSTATUS error = KeyOf(hKey, KEY_NOTIFY, &key);
  if (error != ERROR_SUCCESS) return error;
  return tarnlink::win32::ArmKeyNotification(reinterpret_cast<HANDLE>(hKey), key,
                                             bWatchSubtree != FALSE, dwNotifyFilter, hEvent,
                                             fAsynchronous != FALSE);
}
