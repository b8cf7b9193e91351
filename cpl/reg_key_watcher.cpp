#include "reg_key_watcher.h"

#include <bit>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "wide_text.h"

CRegKeyWatcher::CRegKeyWatcher(HKEY root, LPCWSTR subkey)
    : root_(root), subkey_(subkey, subkey + TextLength(subkey) + 1) {}

CRegKeyWatcher::~CRegKeyWatcher() { StopWorkers(); }

void CRegKeyWatcher::StopWorkers() {
  // Workers blocked in their wait would otherwise outlive the watcher's handles.
  if (quit_ != nullptr) SetEvent(quit_);
  for (HANDLE worker : workers_) {
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
  }
  workers_.clear();
  if (quit_ != nullptr) CloseHandle(quit_);
  quit_ = nullptr;
}

DWORD CRegKeyWatcher::WorkerCount() {
  DWORD processors = 0;
  DWORD length = 0;
  if (!GetLogicalProcessorInformation(nullptr, &length) &&
      GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > 0) {
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records(
        length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
    if (GetLogicalProcessorInformation(records.data(), &length))
      for (const auto& record : records)
        if (record.Relationship == RelationProcessorCore)
          processors += static_cast<DWORD>(std::popcount(record.ProcessorMask));
  }
  if (processors == 0) processors = 1;
  if (processors > 16) processors = 16;
  return processors + 1;
}

DWORD CRegKeyWatcher::Start() {
  quit_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (quit_ == nullptr) return GetLastError();
  workerCount_ = WorkerCount();
  for (DWORD i = 0; i < workerCount_; ++i) {
    HANDLE worker = CreateThread(nullptr, 0, Worker, this, CREATE_SUSPENDED, nullptr);
    if (worker == nullptr) {
      const DWORD error = GetLastError();
      for (HANDLE made : workers_) {
        TerminateThread(made, error);
        CloseHandle(made);
      }
      workers_.clear();
      return error;
    }
    workers_.push_back(worker);
  }
  for (HANDLE worker : workers_) ResumeThread(worker);
  return ERROR_SUCCESS;
}

DWORD WINAPI CRegKeyWatcher::Worker(LPVOID self) {
  return static_cast<CRegKeyWatcher*>(self)->Watch();
}

DWORD CRegKeyWatcher::Watch() {
  HANDLE change = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (change == nullptr) return GetLastError();
  HKEY key = nullptr;
  LONG status = RegOpenKeyExW(root_, subkey_.data(), 0, KEY_NOTIFY | KEY_WOW64_64KEY, &key);
  if (status != ERROR_SUCCESS) {
    AsioTrace(kTraceCplWatcherFailed, 1, status);
    CloseHandle(change);
    return static_cast<DWORD>(status);
  }
  const HANDLE waits[2] = {quit_, change};
  for (;;) {
    status = RegNotifyChangeKeyValue(key, TRUE,
                                     REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                         REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY,
                                     change, TRUE);
    if (status != ERROR_SUCCESS) {
      AsioTrace(kTraceCplWatcherFailed, 2, status);
      break;
    }
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0) {
      // Closing the key completes the pending notification; its event then says so.
      RegCloseKey(key);
      key = nullptr;
      WaitForSingleObject(change, INFINITE);
      break;
    }
    if (woken != WAIT_OBJECT_0 + 1) {
      status = static_cast<LONG>(GetLastError());
      AsioTrace(kTraceCplWatcherFailed, 3, status);
      break;
    }
    OnChange();
  }
  if (key != nullptr) RegCloseKey(key);
  CloseHandle(change);
  return static_cast<DWORD>(status);
}
