#include "settings_watch.h"

#include "asio_trace.h"
#include "asio_trace_points.h"

DWORD WINAPI SettingsWatchThread(LPVOID parameter) {
  const auto* watch = static_cast<const SettingsWatch*>(parameter);
  if (watch == nullptr || watch->settings == nullptr || watch->sink == nullptr ||
      watch->settings->ListenerEvent() == nullptr || watch->settings->ChangeEvent() == nullptr ||
      watch->settings->QuitEvent() == nullptr)
    return static_cast<DWORD>(-1);
  CRegUtil2& settings = *watch->settings;
  SetEvent(settings.ListenerEvent());
  const HANDLE events[2] = {settings.QuitEvent(), settings.ChangeEvent()};
  for (;;) {
    const DWORD result = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) {
      ResetEvent(settings.ListenerEvent());
      return 0;
    }
    if (result == WAIT_OBJECT_0 + 1) {
      watch->sink->OnSettingsChanged();
    } else {
      // A failed wait is no reason to stop listening.
      AsioTrace(kTraceSettingsWaitFailed, result, GetLastError());
    }
  }
}
