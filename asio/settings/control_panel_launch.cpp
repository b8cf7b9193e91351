#include "control_panel_launch.h"

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "settings_table.h"

namespace {

constexpr DWORD kPathBytes = 256;

// The program's path, terminated; false when the setup key has no usable entry.
bool ReadControlPanelPath(WCHAR (&path)[kPathBytes / sizeof(WCHAR) + 1]) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupKeyPath, 0,
                                 KEY_READ | KEY_WOW64_64KEY, &key);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceControlPanelMissing, status);
    return false;
  }
  DWORD type = REG_NONE;
  DWORD size = kPathBytes;
  status = RegQueryValueExW(key, kControlPanelValue, nullptr, &type,
                            reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ || size < sizeof(WCHAR)) {
    AsioTrace(kTraceControlPanelMissing, status, type, size);
    return false;
  }
  // The stored text need not end in a terminator; the array has room for one past any value.
  path[size / sizeof(WCHAR)] = 0;
  return true;
}

}  // namespace

void LaunchControlPanel() {
  WCHAR path[kPathBytes / sizeof(WCHAR) + 1] = {};
  if (!ReadControlPanelPath(path)) return;
  STARTUPINFOW startup = {};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(path, nullptr, nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &process)) {
    AsioTrace(kTraceControlPanelStartFailed, GetLastError());
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}
