#include "host_activity_watcher.h"

#include <initializer_list>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "rate_names.h"
#include "settings/cpl_reg_util.h"

bool CHostActivityWatcher::Start(HANDLE instanceMutex) {
  instanceMutex_ = instanceMutex;
  activeMutex_ = CreateMutexW(nullptr, FALSE, kActiveMutexName);
  activeEvent_ = CreateEventW(nullptr, TRUE, FALSE, kActiveEventName);
  quit_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (activeMutex_ != nullptr && activeEvent_ != nullptr && quit_ != nullptr)
    thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
  if (thread_ == nullptr) {
    AsioTrace(kTraceCplWatcherFailed, 4, GetLastError());
    Stop();
    return false;
  }
  return true;
}

void CHostActivityWatcher::Stop() {
  if (thread_ != nullptr) {
    if (quit_ != nullptr) {
      SetEvent(quit_);
      WaitForSingleObject(thread_, INFINITE);
    } else {
      TerminateThread(thread_, 0);
    }
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  for (HANDLE* handle : {&quit_, &activeMutex_, &activeEvent_}) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
  }
}

DWORD WINAPI CHostActivityWatcher::Thread(LPVOID self) {
  static_cast<CHostActivityWatcher*>(self)->Run();
  return 0;
}

void CHostActivityWatcher::TidyRate() {
  InstanceLock lock(instanceMutex_);
  CCplRegUtil settings;
  const DWORD rate = settings.ReadNumber(kSettingSamplingRate);
  if (IsNamedDsdRate(rate)) settings.WriteNumber(kSettingSamplingRate, rate / 32);
}

void CHostActivityWatcher::Run() {
  for (;;) {
    // No host holds the driver while this thread holds the active mutex.
    const HANDLE idle[2] = {activeMutex_, quit_};
    DWORD woken = WaitForMultipleObjects(2, idle, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1) return;
    if (woken == WAIT_OBJECT_0 || woken == WAIT_ABANDONED_0) {
      TidyRate();
      ResetEvent(activeEvent_);
      ReleaseMutex(activeMutex_);
    } else {
      AsioTrace(kTraceCplWaitFailed, 1, GetLastError());
    }
    // A host's driver object sets the event when it starts; the next round then waits for it
    // to let go of the mutex.
    const HANDLE busy[2] = {activeEvent_, quit_};
    woken = WaitForMultipleObjects(2, busy, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1) return;
    if (woken != WAIT_OBJECT_0) AsioTrace(kTraceCplWaitFailed, 2, GetLastError());
  }
}
