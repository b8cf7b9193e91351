// The window system's records for one machine: classes, windows, each thread's message queue
// with its timers, and device-notification registrations. Host side.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/ke_types.h"
#include "win32/win32_state.h"
#include "win32/winuser.h"

namespace tarnlink::win32 {

struct WindowClass {
  WNDCLASSEXW definition{};
  std::u16string name;
  ATOM atom = 0;
};

struct Window {
  WNDPROC procedure = nullptr;
  ULONG thread = 0;  // the thread that created it and receives its messages
  HWND parent = nullptr;
  std::u16string className;  // folded, with the creating process
  ULONG_PTR process = 0;
  LONG_PTR userData = 0;
  // What the visual part keeps: text, styles, the rectangle in the parent's client coordinates
  // (the screen's for a top-level window), the control id, and the window's own data (a
  // dialog's or a control's state).
  std::u16string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{};
  int id = 0;
  HFONT font = nullptr;  // WM_SETFONT
  HICON icons[2] = {};   // WM_SETICON: ICON_SMALL, ICON_BIG
  std::shared_ptr<void> extra;
  std::map<int, LONG_PTR> extraBytes;  // GetWindowLongPtrW with an index from 0 (DWLP_*)
};

// A message another thread sent: the receiving thread runs the window procedure and, when the
// sender waits, sets done.
struct SentMessage {
  MSG message{};
  std::shared_ptr<std::vector<BYTE>> payload;  // what lParam points at, kept alive
  KEVENT done{};
  LRESULT result = 0;
  bool waited = false;
};

struct Timer {
  HWND window = nullptr;
  UINT_PTR id = 0;
  ULONGLONG period = 0;  // 100 ns units
  ULONGLONG due = 0;     // interrupt time
  TIMERPROC procedure = nullptr;
};

struct MessageQueue {
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::deque<MSG> posted;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
  KEVENT wake{};  // set whenever something arrives
  // The keys down as this thread has taken its key messages so far (GetKeyState), by virtual
  // key: 0x80 while down.
  BYTE keys[256] = {};
};

struct DeviceRegistration {
  HWND window = nullptr;
  GUID interfaceClass{};
};

struct WindowSystem {
  std::map<std::pair<ULONG_PTR, std::u16string>, WindowClass> classes;  // (process, folded name)
  std::map<HWND, Window> windows;
  std::map<ULONG, std::unique_ptr<MessageQueue>> queues;  // by thread id
  std::map<HDEVNOTIFY, DeviceRegistration> registrations;
  bool watchingInterfaces = false;
  HWND focus = nullptr;
  HWND foreground = nullptr;
  // Where BeginPaint draws for a window while the window is being rendered (see render.h).
  std::map<HWND, std::shared_ptr<void>> paintTargets;
  ULONG_PTR nextHandle = 0x10010;
  ATOM nextAtom = 0xC000;
};

// The machine's window system; the caller holds the state's lock.
WindowSystem& Windows(State& state);
// The queue of a thread, made on first use; the caller holds the state's lock.
MessageQueue& QueueOf(WindowSystem& windows, ULONG thread);
// Queues a message for the window's thread without waiting for it to be handled; the payload
// (what lParam points at) lives until then. The caller holds the state's lock.
void NotifyWindow(WindowSystem& windows, HWND window, UINT message, WPARAM wParam,
                  std::shared_ptr<std::vector<BYTE>> payload, LPARAM lParam);

// The window's record, or null; the caller holds the state's lock.
Window* FindWindowRecord(WindowSystem& windows, HWND window);
// A copy of the window's record taken under the lock; false for no such window.
bool CopyWindowRecord(HWND window, Window* copy);
// The window's own data, or null (taken under the lock; stable while the window lives).
void* WindowExtra(HWND window);
// The window's children in creation order.
std::vector<HWND> ChildrenOf(HWND window);
// WM_SETTEXT's default: stores the window's text.
BOOL StoreWindowText(HWND window, LPCWSTR text);
// WM_SETFONT (set) and WM_GETFONT for any window: the font it was given.
LRESULT WindowFont(HWND window, bool set, HFONT font);
// WM_SETICON (set) and WM_GETICON: the icon of the kind (ICON_SMALL, ICON_BIG); setting
// returns the previous one.
LRESULT WindowIcon(HWND window, bool set, WPARAM kind, HICON icon);
// WM_ERASEBKGND's default: fills the client area with the class's background brush.
LRESULT EraseWithClassBrush(HWND window, HDC dc);
// Makes the system's window classes (dialogs and the standard and common controls) known.
void RegisterSystemClasses(WindowSystem& windows);

}  // namespace tarnlink::win32
