// What a window shows and how it stands: text, enabled and shown states, the minimised state,
// focus, the foreground window, geometry, and the enumeration of top-level windows.
#include <algorithm>
#include <utility>

#include "win32/errhandlingapi.h"
#include "win32/nt_error.h"
#include "win32/processthreadsapi.h"
#include "win32/window_system.h"

using tarnlink::win32::FailWithError;
using tarnlink::win32::State;
using tarnlink::win32::Window;
using tarnlink::win32::WindowSystem;

namespace {

// Frame of a top-level window with a caption (fixed frame, as a dialog has): left, top, right,
// bottom widths in pixels.
constexpr LONG kFrame = 3;
constexpr LONG kCaption = 23;

bool HasFrame(const Window& window) {
  return (window.style & WS_CHILD) == 0 && (window.style & WS_CAPTION) == WS_CAPTION;
}

// Runs change on the window's record under the lock; false for no such window.
template <typename Change>
bool Update(HWND handle, Change change) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  Window* window = tarnlink::win32::FindWindowRecord(tarnlink::win32::Windows(state), handle);
  if (window == nullptr) return false;
  change(*window);
  return true;
}

}  // namespace

namespace tarnlink::win32 {

Window* FindWindowRecord(WindowSystem& windows, HWND window) {
  auto it = windows.windows.find(window);
  return it != windows.windows.end() ? &it->second : nullptr;
}

bool CopyWindowRecord(HWND window, Window* copy) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  Window* record = FindWindowRecord(Windows(state), window);
  if (record == nullptr) return false;
  *copy = *record;
  return true;
}

void* WindowExtra(HWND window) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  Window* record = FindWindowRecord(Windows(state), window);
  return record != nullptr ? record->extra.get() : nullptr;
}

std::vector<HWND> ChildrenOf(HWND window) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  std::vector<HWND> children;
  for (const auto& [handle, record] : Windows(state).windows)
    if (record.parent == window && (record.style & WS_CHILD) != 0) children.push_back(handle);
  return children;
}

LRESULT WindowFont(HWND window, bool set, HFONT font) {
  HFONT current = nullptr;
  Update(window, [&](Window& record) {
    if (set) record.font = font;
    current = record.font;
  });
  return reinterpret_cast<LRESULT>(current);
}

LRESULT WindowIcon(HWND window, bool set, WPARAM kind, HICON icon) {
  HICON previous = nullptr;
  if (kind > ICON_BIG) return 0;
  Update(window, [&](Window& record) {
    previous = record.icons[kind];
    if (set) record.icons[kind] = icon;
  });
  return reinterpret_cast<LRESULT>(previous);
}

}  // namespace tarnlink::win32

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  Window window;
  if (!tarnlink::win32::CopyWindowRecord(hWnd, &window)) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  if (lpString == nullptr || nMaxCount <= 0) return 0;
  const size_t count = std::min(window.text.size(), static_cast<size_t>(nMaxCount - 1));
  window.text.copy(lpString, count);
  lpString[count] = 0;
  return static_cast<int>(count);
}

int WINAPI GetWindowTextLengthW(HWND hWnd) {
  Window window;
  if (!tarnlink::win32::CopyWindowRecord(hWnd, &window)) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  return static_cast<int>(window.text.size());
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  if (!IsWindow(hWnd)) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  // The window hears of it; its default handling stores the text.
  SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString));
  return TRUE;
}

namespace tarnlink::win32 {

BOOL StoreWindowText(HWND window, LPCWSTR text) {
  return Update(window, [&](Window& record) { record.text = text != nullptr ? text : u""; })
             ? TRUE
             : FALSE;
}

}  // namespace tarnlink::win32

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  bool wasDisabled = false;
  bool changed = false;
  if (!Update(hWnd, [&](Window& record) {
        wasDisabled = (record.style & WS_DISABLED) != 0;
        changed = wasDisabled == (bEnable != FALSE);
        if (bEnable) record.style &= ~static_cast<DWORD>(WS_DISABLED);
        else record.style |= WS_DISABLED;
      }))
    return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  if (changed) {
    if (!bEnable && GetFocus() == hWnd) SetFocus(nullptr);
    SendMessageW(hWnd, WM_ENABLE, bEnable, 0);
  }
  return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  Window window;
  if (!tarnlink::win32::CopyWindowRecord(hWnd, &window)) return FALSE;
  return (window.style & WS_DISABLED) == 0 ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  bool wasVisible = false;
  Update(hWnd, [&](Window& record) {
    wasVisible = (record.style & WS_VISIBLE) != 0;
    switch (nCmdShow) {
      case SW_HIDE:
        record.style &= ~static_cast<DWORD>(WS_VISIBLE);
        break;
      case SW_MINIMIZE:
      case SW_SHOWMINIMIZED:
        record.style |= WS_VISIBLE | WS_MINIMIZE;
        break;
      default:  // SW_SHOWNORMAL, SW_SHOW, SW_RESTORE
        record.style |= WS_VISIBLE;
        if (nCmdShow != SW_SHOW) record.style &= ~static_cast<DWORD>(WS_MINIMIZE);
        break;
    }
  });
  return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  for (HWND window = hWnd; window != nullptr;) {
    Window record;
    if (!tarnlink::win32::CopyWindowRecord(window, &record) || (record.style & WS_VISIBLE) == 0)
      return FALSE;
    window = (record.style & WS_CHILD) != 0 ? record.parent : nullptr;
  }
  return TRUE;
}

BOOL WINAPI IsIconic(HWND hWnd) {
  Window window;
  return tarnlink::win32::CopyWindowRecord(hWnd, &window) && (window.style & WS_MINIMIZE) != 0;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  if (tarnlink::win32::FindWindowRecord(windows, hWnd) == nullptr) return FALSE;
  windows.foreground = hWnd;
  return TRUE;
}

HWND WINAPI GetForegroundWindow() {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  return tarnlink::win32::Windows(state).foreground;
}

HWND WINAPI SetFocus(HWND hWnd) {
  HWND previous;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = tarnlink::win32::Windows(state);
    if (hWnd != nullptr && tarnlink::win32::FindWindowRecord(windows, hWnd) == nullptr) {
      FailWithError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    previous = std::exchange(windows.focus, hWnd);
  }
  if (previous == hWnd) return previous;
  if (previous != nullptr && IsWindow(previous))
    SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
  if (hWnd != nullptr) SendMessageW(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  return previous;
}

HWND WINAPI GetFocus() {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  return tarnlink::win32::Windows(state).focus;
}

HWND WINAPI GetParent(HWND hWnd) {
  Window window;
  if (!tarnlink::win32::CopyWindowRecord(hWnd, &window)) return nullptr;
  return (window.style & WS_CHILD) != 0 ? window.parent : nullptr;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  Window window;
  if (lpRect == nullptr || !tarnlink::win32::CopyWindowRecord(hWnd, &window))
    return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  LONG width = window.rect.right - window.rect.left;
  LONG height = window.rect.bottom - window.rect.top;
  if (HasFrame(window)) {
    width -= 2 * kFrame;
    height -= 2 * kFrame + kCaption;
  }
  *lpRect = {0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  Window window;
  if (lpRect == nullptr || !tarnlink::win32::CopyWindowRecord(hWnd, &window))
    return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  RECT rect = window.rect;
  // A child's rectangle is in its parent's client area, whose origin is found up the chain.
  while ((window.style & WS_CHILD) != 0 && window.parent != nullptr) {
    if (!tarnlink::win32::CopyWindowRecord(window.parent, &window)) break;
    const LONG x = window.rect.left + (HasFrame(window) ? kFrame : 0);
    const LONG y = window.rect.top + (HasFrame(window) ? kFrame + kCaption : 0);
    rect = {rect.left + x, rect.top + y, rect.right + x, rect.bottom + y};
  }
  *lpRect = rect;
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT*, BOOL) {
  // Windows are drawn when they are rendered, so there is nothing to remember here.
  return hWnd == nullptr || IsWindow(hWnd);
}

BOOL WINAPI UpdateWindow(HWND hWnd) { return IsWindow(hWnd); }

BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
  if (lpEnumFunc == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  std::vector<HWND> topLevel;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    for (const auto& [handle, window] : tarnlink::win32::Windows(state).windows)
      if ((window.style & WS_CHILD) == 0 && window.parent != HWND_MESSAGE)
        topLevel.push_back(handle);
  }
  for (HWND window : topLevel)
    if (IsWindow(window) && !lpEnumFunc(window, lParam)) break;
  return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  Window window;
  if (!tarnlink::win32::CopyWindowRecord(hWnd, &window)) {
    FailWithError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (lpdwProcessId != nullptr) *lpdwProcessId = static_cast<DWORD>(window.process);
  return window.thread;
}

int WINAPI GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}
