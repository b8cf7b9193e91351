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

}  // namespace tarnlink::win32
