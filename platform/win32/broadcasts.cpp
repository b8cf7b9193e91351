// What reaches windows from the machine: power broadcasts to every top-level window, and
// device-interface arrival and removal to the windows registered for the interface class.
// Both are queued to the windows' threads, which handle them before posted messages.
#include <cstring>

#include "kernel/pnp_host.h"
#include "win32/dbt.h"
#include "win32/nt_error.h"
#include "win32/win32_host.h"
#include "win32/window_system.h"

using tarnlink::win32::DeviceRegistration;
using tarnlink::win32::FailWithError;
using tarnlink::win32::State;
using tarnlink::win32::WindowSystem;

namespace {

// The record a WM_DEVICECHANGE for an interface points at, with the interface's path.
std::shared_ptr<std::vector<BYTE>> InterfaceRecord(const tarnlink::io::DeviceInterfaceInfo& info) {
  const std::u16string& path = info.devicePath;
  const size_t size =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(WCHAR);
  auto bytes = std::make_shared<std::vector<BYTE>>(size, 0);
  auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes->data());
  record->dbcc_size = static_cast<DWORD>(size);
  record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  record->dbcc_classguid = info.interfaceClass;
  std::memcpy(record->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return bytes;
}

void InterfaceChanged(const tarnlink::io::DeviceInterfaceInfo& info, bool arrived) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  for (const auto& [handle, registration] : windows.registrations) {
    if (!(registration.interfaceClass == info.interfaceClass)) continue;
    auto record = InterfaceRecord(info);
    const auto lParam = reinterpret_cast<LPARAM>(record->data());
    tarnlink::win32::NotifyWindow(windows, registration.window, WM_DEVICECHANGE,
                                  arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                  std::move(record), lParam);
  }
}

}  // namespace

HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                              DWORD Flags) {
  const auto* filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(NotificationFilter);
  // Windows handles and device-interface filters only.
  if (filter == nullptr || Flags != DEVICE_NOTIFY_WINDOW_HANDLE ||
      filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      filter->dbcc_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) {
    FailWithError(ERROR_INVALID_DATA);
    return nullptr;
  }
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  auto window = static_cast<HWND>(hRecipient);
  if (windows.windows.count(window) == 0) {
    FailWithError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (!windows.watchingInterfaces) {
    tarnlink::io::WatchDeviceInterfaces(InterfaceChanged);
    windows.watchingInterfaces = true;
  }
  auto handle = reinterpret_cast<HDEVNOTIFY>(windows.nextHandle);
  windows.nextHandle += 2;
  windows.registrations[handle] = DeviceRegistration{window, filter->dbcc_classguid};
  return handle;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  if (tarnlink::win32::Windows(state).registrations.erase(Handle) == 0)
    return FailWithError(ERROR_INVALID_HANDLE);
  return TRUE;
}

namespace tarnlink::win32 {

void BroadcastPower(WPARAM event) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = Windows(state);
  for (const auto& [handle, window] : windows.windows)
    if (window.parent == nullptr) NotifyWindow(windows, handle, WM_POWERBROADCAST, event, nullptr, 0);
}

}  // namespace tarnlink::win32
