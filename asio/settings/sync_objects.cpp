#include "sync_objects.h"

#include "asio_trace.h"
#include "asio_trace_points.h"

SYNCOBJ::~SYNCOBJ() { CloseHandles(); }

void SYNCOBJ::CloseHandles() {
  for (HANDLE& handle : handles_) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
  }
}

int SYNCOBJ_ASIO::CreateEvents() {
  CloseHandles();
  handles_[0] = CreateEventW(nullptr, TRUE, FALSE, kSettingsListenerEventName);
  handles_[1] = CreateEventW(nullptr, FALSE, FALSE, kSettingsChangeEventName);
  handles_[2] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  for (HANDLE handle : handles_) {
    if (handle == nullptr) {
      AsioTrace(kTraceSettingsEventFailed, GetLastError());
      CloseHandles();
      return 0;
    }
  }
  return 1;
}
