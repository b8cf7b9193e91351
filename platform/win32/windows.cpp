// Window classes and windows. Window procedures are called without the state's lock held, so
// they may call back into any API.
#include <string>
#include <utility>

#include "kernel/ke.h"
#include "kernel/ps.h"
#include "kernel/registry_names.h"
#include "win32/errhandlingapi.h"
#include "win32/nt_error.h"
#include "win32/processthreadsapi.h"
#include "win32/window_system.h"

using tarnlink::win32::FailWithError;
using tarnlink::win32::State;
using tarnlink::win32::Window;
using tarnlink::win32::WindowSystem;

namespace {

ULONG_PTR CurrentProcessId() {
  return reinterpret_cast<ULONG_PTR>(PsGetCurrentProcessId());
}

std::pair<ULONG_PTR, std::u16string> ClassKey(LPCWSTR name) {
  return {CurrentProcessId(), host::FoldRegistryName(name)};
}

// The window record's fields a caller needs, copied out under the lock.
bool Lookup(HWND handle, Window* window) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  auto it = windows.windows.find(handle);
  if (it == windows.windows.end()) return false;
  *window = it->second;
  return true;
}

}  // namespace

namespace tarnlink::win32 {

WindowSystem& Windows(State& state) {
  if (state.windowSystem == nullptr) state.windowSystem = std::make_shared<WindowSystem>();
  return *state.windowSystem;
}

MessageQueue& QueueOf(WindowSystem& windows, ULONG thread) {
  std::unique_ptr<MessageQueue>& queue = windows.queues[thread];
  if (queue == nullptr) {
    queue = std::make_unique<MessageQueue>();
    KeInitializeEvent(&queue->wake, SynchronizationEvent, FALSE);
  }
  return *queue;
}

void NotifyWindow(WindowSystem& windows, HWND window, UINT message, WPARAM wParam,
                  std::shared_ptr<std::vector<BYTE>> payload, LPARAM lParam) {
  auto it = windows.windows.find(window);
  if (it == windows.windows.end()) return;
  auto sent = std::make_shared<SentMessage>();
  sent->message = MSG{window, message, wParam, lParam, 0, {0, 0}};
  sent->payload = std::move(payload);
  MessageQueue& queue = QueueOf(windows, it->second.thread);
  queue.sent.push_back(std::move(sent));
  KeSetEvent(&queue.wake, EVENT_INCREMENT, FALSE);
}

}  // namespace tarnlink::win32

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* lpwcx) {
  if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXW) ||
      lpwcx->lpszClassName == nullptr || lpwcx->lpfnWndProc == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  auto key = ClassKey(lpwcx->lpszClassName);
  if (windows.classes.count(key) != 0) {
    FailWithError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  tarnlink::win32::WindowClass& entry = windows.classes[key];
  entry.definition = *lpwcx;
  entry.name = lpwcx->lpszClassName;
  entry.definition.lpszClassName = entry.name.c_str();
  entry.atom = windows.nextAtom++;
  return entry.atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE) {
  if (lpClassName == nullptr) return FailWithError(ERROR_INVALID_PARAMETER);
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  auto key = ClassKey(lpClassName);
  if (windows.classes.count(key) == 0) return FailWithError(ERROR_CLASS_DOES_NOT_EXIST);
  for (const auto& [handle, window] : windows.windows)
    if (window.process == key.first && window.className == key.second)
      return FailWithError(ERROR_CLASS_HAS_WINDOWS);
  windows.classes.erase(key);
  return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                            DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                            HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  if (lpClassName == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HWND handle = nullptr;
  Window window;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = tarnlink::win32::Windows(state);
    tarnlink::win32::RegisterSystemClasses(windows);
    auto key = ClassKey(lpClassName);
    auto found = windows.classes.find(key);
    if (found == windows.classes.end()) {
      // The system's classes are every process's.
      key.first = 0;
      found = windows.classes.find(key);
    }
    if (found == windows.classes.end()) {
      FailWithError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (hWndParent != nullptr && hWndParent != HWND_MESSAGE &&
        windows.windows.count(hWndParent) == 0) {
      FailWithError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    handle = reinterpret_cast<HWND>(windows.nextHandle);
    windows.nextHandle += 2;
    window.procedure = found->second.definition.lpfnWndProc;
    window.thread = GetCurrentThreadId();
    window.parent = hWndParent;
    window.className = key.second;
    window.process = CurrentProcessId();
    window.text = lpWindowName != nullptr ? lpWindowName : u"";
    window.style = dwStyle;
    window.exStyle = dwExStyle;
    window.rect = {X, Y, X + nWidth, Y + nHeight};
    if ((dwStyle & WS_CHILD) != 0) window.id = static_cast<int>(reinterpret_cast<INT_PTR>(hMenu));
    windows.windows[handle] = window;
    tarnlink::win32::QueueOf(windows, window.thread);
  }
  CREATESTRUCTW create = {lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                          static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
  const LPARAM createParam = reinterpret_cast<LPARAM>(&create);
  if (!window.procedure(handle, WM_NCCREATE, 0, createParam) ||
      window.procedure(handle, WM_CREATE, 0, createParam) == -1) {
    DestroyWindow(handle);
    FailWithError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return handle;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  Window window;
  if (!Lookup(hWnd, &window)) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
  if (window.thread != GetCurrentThreadId()) return FailWithError(ERROR_ACCESS_DENIED);
  window.procedure(hWnd, WM_DESTROY, 0, 0);
  for (HWND child : tarnlink::win32::ChildrenOf(hWnd)) DestroyWindow(child);
  window.procedure(hWnd, WM_NCDESTROY, 0, 0);
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  windows.windows.erase(hWnd);
  windows.paintTargets.erase(hWnd);
  if (windows.focus == hWnd) windows.focus = nullptr;
  if (windows.foreground == hWnd) windows.foreground = nullptr;
  tarnlink::win32::MessageQueue& queue = tarnlink::win32::QueueOf(windows, window.thread);
  std::erase_if(queue.timers, [hWnd](const tarnlink::win32::Timer& t) { return t.window == hWnd; });
  std::erase_if(queue.posted, [hWnd](const MSG& m) { return m.hwnd == hWnd; });
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  Window window;
  return Lookup(hWnd, &window) ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    case WM_POWERBROADCAST:
      return TRUE;
    case WM_SETTEXT:
      return tarnlink::win32::StoreWindowText(hWnd, reinterpret_cast<LPCWSTR>(lParam));
    case WM_GETTEXT:
      return GetWindowTextW(hWnd, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return GetWindowTextLengthW(hWnd);
    case WM_SETFONT:
    case WM_GETFONT:
      return tarnlink::win32::WindowFont(hWnd, Msg == WM_SETFONT, reinterpret_cast<HFONT>(wParam));
    case WM_SETICON:
    case WM_GETICON:
      return tarnlink::win32::WindowIcon(hWnd, Msg == WM_SETICON, wParam,
                                         reinterpret_cast<HICON>(lParam));
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hWnd, &paint);
      EndPaint(hWnd, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return tarnlink::win32::EraseWithClassBrush(hWnd, reinterpret_cast<HDC>(wParam));
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
          ShowWindow(hWnd, SW_MINIMIZE);
          return 0;
        case SC_RESTORE:
          ShowWindow(hWnd, SW_RESTORE);
          return 0;
        case SC_CLOSE:
          PostMessageW(hWnd, WM_CLOSE, 0, 0);
          return 0;
        default:
          return 0;
      }
    default:
      return 0;
  }
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) {
  Window window;
  if (!Lookup(hWnd, &window)) {
    FailWithError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (nIndex == GWLP_USERDATA) return window.userData;
  if (nIndex == GWL_STYLE) return static_cast<LONG>(window.style);
  if (nIndex == GWL_EXSTYLE) return static_cast<LONG>(window.exStyle);
  if (nIndex == GWLP_ID) return window.id;
  if (nIndex >= 0) {
    auto it = window.extraBytes.find(nIndex);
    return it != window.extraBytes.end() ? it->second : 0;
  }
  if (nIndex == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(window.procedure);
  FailWithError(ERROR_INVALID_INDEX);
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  auto it = windows.windows.find(hWnd);
  if (it == windows.windows.end()) {
    FailWithError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR previous = 0;
  if (nIndex == GWLP_USERDATA) {
    previous = std::exchange(it->second.userData, dwNewLong);
  } else if (nIndex == GWLP_WNDPROC) {
    previous = reinterpret_cast<LONG_PTR>(
        std::exchange(it->second.procedure, reinterpret_cast<WNDPROC>(dwNewLong)));
  } else if (nIndex == GWL_STYLE) {
    previous = std::exchange(it->second.style, static_cast<DWORD>(dwNewLong));
  } else if (nIndex == GWL_EXSTYLE) {
    previous = std::exchange(it->second.exStyle, static_cast<DWORD>(dwNewLong));
  } else if (nIndex == GWLP_ID) {
    previous = std::exchange(it->second.id, static_cast<int>(dwNewLong));
  } else if (nIndex >= 0) {
    previous = std::exchange(it->second.extraBytes[nIndex], dwNewLong);
  } else {
    FailWithError(ERROR_INVALID_INDEX);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return previous;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE, LPCWSTR lpCursorName) {
  // Only the system's arrow is known; nothing is drawn here.
  if (lpCursorName != IDC_ARROW) {
    FailWithError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(ULONG_PTR{0x10003});
}
