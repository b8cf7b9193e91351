// The device-watch thread: it makes its driver object the one host on the devices, tells the
// control panel a host is there, and runs the hidden window that receives power broadcasts and
// timers for the object.
#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "driver_texts.h"
#include "orv_asio_driver.h"

namespace {

constexpr LPCWSTR kWatchWindowClass = WSTR("Velmor_USBDAC_ASIO");

// What the thread holds while it runs, released in reverse on the way out.
struct HostObjects {
  HANDLE hostMutex = nullptr;
  HANDLE activeMutex = nullptr;
  HANDLE activeEvent = nullptr;
  bool activeOwned = false;
};

void ReleaseHostObjects(HostObjects& held, HANDLE instanceMutex) {
  if (held.activeEvent != nullptr) {
    InstanceLock lock(instanceMutex);
    ResetEvent(held.activeEvent);
    CloseHandle(held.activeEvent);
  }
  if (held.activeMutex != nullptr) {
    if (held.activeOwned) ReleaseMutex(held.activeMutex);
    CloseHandle(held.activeMutex);
  }
  if (held.hostMutex != nullptr) {
    ReleaseMutex(held.hostMutex);
    CloseHandle(held.hostMutex);
  }
}

HWND CreateWatchWindow(COrvAsioDriver* driver, WNDPROC procedure) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kWatchWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return nullptr;
  HWND window = CreateWindowExW(0, kWatchWindowClass, WSTR(""), WS_OVERLAPPED, 0, 0, 0, 0,
                                nullptr, nullptr, nullptr, driver);
  if (window == nullptr) UnregisterClassW(kWatchWindowClass, nullptr);
  return window;
}

}  // namespace

DWORD WINAPI COrvAsioDriver::DeviceWatchThread(LPVOID parameter) {
  return static_cast<COrvAsioDriver*>(parameter)->RunDeviceWatch();
}

DWORD COrvAsioDriver::RunDeviceWatch() {
  HostObjects held;
  held.hostMutex = CreateMutexW(nullptr, TRUE, kHostMutexName);
  if (held.hostMutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another host's driver object holds the devices. The handle opened on its mutex owns
    // nothing, so it is only closed.
    if (held.hostMutex != nullptr) CloseHandle(held.hostMutex);
    AsioTrace(kTraceDeviceWatchFailed, 1);
    SetErrorText(kTextOtherHost);
    SetEvent(windowReady_);
    return 1;
  }
  held.activeMutex = CreateMutexW(nullptr, FALSE, kActiveMutexName);
  if (held.activeMutex != nullptr) {
    const DWORD wait = WaitForSingleObject(held.activeMutex, INFINITE);
    held.activeOwned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  held.activeEvent = CreateEventW(nullptr, TRUE, FALSE, kActiveEventName);
  if (held.activeEvent != nullptr) {
    InstanceLock lock(instanceMutex_);
    SetEvent(held.activeEvent);
  }
  HWND window = held.activeOwned && held.activeEvent != nullptr
                    ? CreateWatchWindow(this, WatchWindowProc)
                    : nullptr;
  if (window == nullptr) {
    AsioTrace(kTraceDeviceWatchFailed, 2, GetLastError());
    SetErrorText(kTextNoResources);
    ReleaseHostObjects(held, instanceMutex_);
    SetEvent(windowReady_);
    return 1;
  }
  window_ = window;
  SetEvent(windowReady_);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(window);
  UnregisterClassW(kWatchWindowClass, nullptr);
  ReleaseHostObjects(held, instanceMutex_);
  return 0;
}

LRESULT CALLBACK COrvAsioDriver::WatchWindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* driver = reinterpret_cast<COrvAsioDriver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (driver != nullptr && message == WM_TIMER) {
    if (wParam == kResumeTimer) driver->OnResumeCheck();
    if (wParam == kIdleTimer) driver->OnIdleTick();
    return 0;
  }
  if (driver != nullptr && message == WM_POWERBROADCAST) {
    if (wParam == PBT_APMSUSPEND) driver->OnSuspend();
    if (wParam == PBT_APMRESUMEAUTOMATIC) driver->OnResumeCheck();
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool COrvAsioDriver::StartDeviceWatch() {
  window_ = nullptr;
  windowReady_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (windowReady_ != nullptr)
    watchThread_ = CreateThread(nullptr, 0, DeviceWatchThread, this, 0, nullptr);
  if (watchThread_ == nullptr) {
    AsioTrace(kTraceDeviceWatchFailed, 3, GetLastError());
    SetErrorText(kTextNoResources);
    StopDeviceWatch();
    return false;
  }
  WaitForSingleObject(windowReady_, INFINITE);
  if (window_ != nullptr) return true;
  // The thread has stored why it produced no window.
  StopDeviceWatch();
  return false;
}

void COrvAsioDriver::StopDeviceWatch() {
  if (window_ != nullptr) PostMessageW(window_, WM_QUIT, 0, 0);
  if (watchThread_ != nullptr) {
    WaitForSingleObject(watchThread_, INFINITE);
    CloseHandle(watchThread_);
  }
  if (windowReady_ != nullptr) CloseHandle(windowReady_);
  watchThread_ = nullptr;
  windowReady_ = nullptr;
  window_ = nullptr;
}
