// Message queues: posted and sent messages, WM_QUIT, and timers that become WM_TIMER when the
// queue is otherwise empty, all waiting on the machine's scheduler and clock.
#include <algorithm>

#include "kernel/ke.h"
#include "win32/errhandlingapi.h"
#include "win32/mmsystem.h"
#include "win32/nt_error.h"
#include "win32/processthreadsapi.h"
#include "win32/user_threads.h"
#include "win32/window_system.h"

using tarnlink::win32::FailWithError;
using tarnlink::win32::MessageQueue;
using tarnlink::win32::SentMessage;
using tarnlink::win32::State;
using tarnlink::win32::Timer;
using tarnlink::win32::WindowSystem;

namespace {

bool Matches(const MSG& message, HWND window, UINT low, UINT high) {
  if (window != nullptr && message.hwnd != window) return false;
  if (low == 0 && high == 0) return true;
  return message.message >= low && message.message <= high;
}

// Taking a key message from the queue moves the thread's key state on, as GetKeyState sees it.
void FollowKeys(MessageQueue& queue, const MSG& message) {
  if (message.wParam >= 256) return;
  if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)
    queue.keys[message.wParam] = 0x80;
  else if (message.message == WM_KEYUP || message.message == WM_SYSKEYUP)
    queue.keys[message.wParam] = 0;
}

// Runs the window procedure for a message another thread sent, and tells a waiting sender.
void Deliver(const std::shared_ptr<SentMessage>& sent) {
  WNDPROC procedure = nullptr;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = tarnlink::win32::Windows(state);
    auto it = windows.windows.find(sent->message.hwnd);
    if (it != windows.windows.end()) procedure = it->second.procedure;
  }
  if (procedure != nullptr)
    sent->result = procedure(sent->message.hwnd, sent->message.message, sent->message.wParam,
                             sent->message.lParam);
  if (sent->waited) KeSetEvent(&sent->done, EVENT_INCREMENT, FALSE);
}

enum class Found { Message, Quit, Nothing };

// One step of retrieval for the calling thread: handles sent messages, then takes a posted
// message, WM_QUIT or a due timer. *Wait receives the time until the next timer (or 0 for none).
Found Retrieve(LPMSG out, HWND window, UINT low, UINT high, bool remove, LONGLONG* wait) {
  const ULONG self = GetCurrentThreadId();
  for (;;) {
    std::shared_ptr<SentMessage> sent;
    State& state = tarnlink::win32::MachineState();
    {
      std::lock_guard guard(state.lock);
      MessageQueue& queue = tarnlink::win32::QueueOf(tarnlink::win32::Windows(state), self);
      if (!queue.sent.empty()) {
        sent = queue.sent.front();
        queue.sent.pop_front();
      } else {
        auto posted = std::find_if(queue.posted.begin(), queue.posted.end(),
                                   [&](const MSG& m) { return Matches(m, window, low, high); });
        if (posted != queue.posted.end()) {
          *out = *posted;
          if (remove) {
            FollowKeys(queue, *posted);
            queue.posted.erase(posted);
          }
          return out->message == WM_QUIT ? Found::Quit : Found::Message;
        }
        if (queue.quit) {
          *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, timeGetTime(), {}};
          if (remove) queue.quit = false;
          return Found::Quit;
        }
        const ULONGLONG now = KeQueryInterruptTime();
        *wait = 0;
        for (Timer& timer : queue.timers) {
          MSG tick = {timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.procedure),
                      timeGetTime(), {}};
          if (timer.due <= now && Matches(tick, window, low, high)) {
            // Expirations that came while the message waited fold into this one.
            if (remove) timer.due += ((now - timer.due) / timer.period + 1) * timer.period;
            *out = tick;
            return Found::Message;
          }
          const LONGLONG until = static_cast<LONGLONG>(timer.due - now);
          if (timer.due > now && (*wait == 0 || until < *wait)) *wait = until;
        }
        return Found::Nothing;
      }
    }
    Deliver(sent);
  }
}

// Waits until something arrives for the calling thread, or for Timeout (100 ns, 0 = none).
void WaitForMessages(LONGLONG timeout) {
  KEVENT* wake;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    wake = &tarnlink::win32::QueueOf(tarnlink::win32::Windows(state), GetCurrentThreadId()).wake;
  }
  LARGE_INTEGER relative;
  relative.QuadPart = -timeout;
  tarnlink::win32::ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  self.inUserWait = true;
  KeWaitForSingleObject(wake, UserRequest, UserMode, FALSE, timeout != 0 ? &relative : nullptr);
  self.inUserWait = false;
  tarnlink::win32::EndIfTerminated(self);
}

// Posts to the queue of a thread; FALSE when it has none and none may be made.
BOOL Post(ULONG thread, const MSG& message) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  MessageQueue& queue = tarnlink::win32::QueueOf(tarnlink::win32::Windows(state), thread);
  queue.posted.push_back(message);
  KeSetEvent(&queue.wake, EVENT_INCREMENT, FALSE);
  return TRUE;
}

}  // namespace

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (lpMsg == nullptr) return FailWithError(ERROR_NOACCESS);
  for (;;) {
    LONGLONG wait = 0;
    switch (Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, &wait)) {
      case Found::Message:
        return TRUE;
      case Found::Quit:
        return FALSE;
      case Found::Nothing:
        WaitForMessages(wait);
        break;
    }
  }
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
  if (lpMsg == nullptr) return FailWithError(ERROR_NOACCESS);
  LONGLONG wait = 0;
  return Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0,
                  &wait) != Found::Nothing;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  ULONG thread;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = tarnlink::win32::Windows(state);
    if (hWnd == nullptr) {
      thread = GetCurrentThreadId();
    } else {
      auto it = windows.windows.find(hWnd);
      if (it == windows.windows.end()) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
      thread = it->second.thread;
    }
  }
  return Post(thread, MSG{hWnd, Msg, wParam, lParam, timeGetTime(), {}});
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    // Only a thread that has a message queue (it has made a window or asked for messages).
    if (tarnlink::win32::Windows(state).queues.count(idThread) == 0)
      return FailWithError(ERROR_INVALID_THREAD_ID);
  }
  return Post(idThread, MSG{nullptr, Msg, wParam, lParam, timeGetTime(), {}});
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto sent = std::make_shared<SentMessage>();
  sent->message = MSG{hWnd, Msg, wParam, lParam, timeGetTime(), {}};
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = tarnlink::win32::Windows(state);
    auto it = windows.windows.find(hWnd);
    if (it == windows.windows.end()) {
      FailWithError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (it->second.thread != GetCurrentThreadId()) {
      // Another thread's window: its thread runs the procedure while this one waits.
      sent->waited = true;
      KeInitializeEvent(&sent->done, NotificationEvent, FALSE);
      MessageQueue& queue = tarnlink::win32::QueueOf(windows, it->second.thread);
      queue.sent.push_back(sent);
      KeSetEvent(&queue.wake, EVENT_INCREMENT, FALSE);
    }
  }
  if (!sent->waited) {
    Deliver(sent);
    return sent->result;
  }
  tarnlink::win32::ThreadRecord& self = tarnlink::win32::CurrentThreadRecord();
  self.inUserWait = true;
  KeWaitForSingleObject(&sent->done, UserRequest, UserMode, FALSE, nullptr);
  self.inUserWait = false;
  tarnlink::win32::EndIfTerminated(self);
  return sent->result;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
  if (lpMsg == nullptr) return 0;
  if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
    reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam,
                                               lpMsg->time);
    return 0;
  }
  if (lpMsg->hwnd == nullptr) return 0;
  WNDPROC procedure = nullptr;
  {
    State& state = tarnlink::win32::MachineState();
    std::lock_guard guard(state.lock);
    WindowSystem& windows = tarnlink::win32::Windows(state);
    auto it = windows.windows.find(lpMsg->hwnd);
    if (it == windows.windows.end()) return 0;
    procedure = it->second.procedure;
  }
  return procedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI TranslateMessage(const MSG*) {
  // The user's keys arrive as key messages only: no character is ever made of them.
  return FALSE;
}

SHORT WINAPI GetKeyState(int nVirtKey) {
  if (nVirtKey < 0 || nVirtKey >= 256) return 0;
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  const MessageQueue& queue =
      tarnlink::win32::QueueOf(tarnlink::win32::Windows(state), GetCurrentThreadId());
  return (queue.keys[nVirtKey] & 0x80) != 0 ? SHORT{-32768} : SHORT{0};
}

VOID WINAPI PostQuitMessage(int nExitCode) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  MessageQueue& queue =
      tarnlink::win32::QueueOf(tarnlink::win32::Windows(state), GetCurrentThreadId());
  queue.quit = true;
  queue.quitCode = nExitCode;
  KeSetEvent(&queue.wake, EVENT_INCREMENT, FALSE);
}

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  ULONG thread = GetCurrentThreadId();
  if (hWnd != nullptr) {
    auto it = windows.windows.find(hWnd);
    if (it == windows.windows.end()) {
      FailWithError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    thread = it->second.thread;
  }
  MessageQueue& queue = tarnlink::win32::QueueOf(windows, thread);
  // A timer without a window gets an id of its own.
  UINT_PTR id = nIDEvent;
  if (hWnd == nullptr) {
    id = 1;
    while (std::any_of(queue.timers.begin(), queue.timers.end(),
                       [&](const Timer& t) { return t.window == nullptr && t.id == id; }))
      ++id;
  }
  const ULONGLONG period = ULONGLONG{std::max<UINT>(uElapse, USER_TIMER_MINIMUM)} * 10000;
  std::erase_if(queue.timers, [&](const Timer& t) { return t.window == hWnd && t.id == id; });
  queue.timers.push_back(Timer{hWnd, id, period, KeQueryInterruptTime() + period, lpTimerFunc});
  KeSetEvent(&queue.wake, EVENT_INCREMENT, FALSE);
  return id == 0 ? 1 : id;  // success is never 0
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  WindowSystem& windows = tarnlink::win32::Windows(state);
  ULONG thread = GetCurrentThreadId();
  if (hWnd != nullptr) {
    auto it = windows.windows.find(hWnd);
    if (it == windows.windows.end()) return FailWithError(ERROR_INVALID_WINDOW_HANDLE);
    thread = it->second.thread;
  }
  MessageQueue& queue = tarnlink::win32::QueueOf(windows, thread);
  const size_t removed = std::erase_if(
      queue.timers, [&](const Timer& t) { return t.window == hWnd && t.id == uIDEvent; });
  return removed != 0 ? TRUE : FailWithError(ERROR_INVALID_PARAMETER);
}
