// Painting a window: BeginPaint and GetDC give a device context that draws where the window is
// being rendered (nowhere otherwise); the default erase fills with the class's brush.
#include <cstring>

#include "win32/gdi_state.h"
#include "win32/window_system.h"

using tarnlink::win32::PaintTarget;
using tarnlink::win32::State;

namespace {

HDC WindowDC(HWND window) {
  std::shared_ptr<void> target;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    auto& targets = tarnlink::win32::Windows(state).paintTargets;
    auto it = targets.find(window);
    if (it != targets.end()) target = it->second;
  }
  return tarnlink::win32::CreateWindowDC(window, static_cast<PaintTarget*>(target.get()));
}

}  // namespace

namespace tarnlink::win32 {

LRESULT EraseWithClassBrush(HWND window, HDC dc) {
  HBRUSH brush = nullptr;
  {
    State& state = MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = Windows(state);
    Window* record = FindWindowRecord(windows, window);
    if (record == nullptr) return 0;
    for (const auto& [key, windowClass] : windows.classes)
      if (key.second == record->className &&
          (key.first == record->process || key.first == 0))
        brush = windowClass.definition.hbrBackground;
  }
  if (brush == nullptr) return 0;
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, brush);
  return 1;
}

}  // namespace tarnlink::win32

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
  if (lpPaint == nullptr || !IsWindow(hWnd)) return nullptr;
  std::memset(lpPaint, 0, sizeof *lpPaint);
  lpPaint->hdc = WindowDC(hWnd);
  GetClientRect(hWnd, &lpPaint->rcPaint);
  lpPaint->fErase =
      SendMessageW(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(lpPaint->hdc), 0) == 0;
  return lpPaint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* lpPaint) {
  if (lpPaint == nullptr) return FALSE;
  return DeleteDC(lpPaint->hdc);
}

HDC WINAPI GetDC(HWND hWnd) { return WindowDC(hWnd); }

int WINAPI ReleaseDC(HWND, HDC hDC) { return DeleteDC(hDC); }
