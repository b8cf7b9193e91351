// Watches a registry key and its subtree: a few worker threads each keep a change notification
// armed on their own handle of the key and report every change through OnChange.
#pragma once

#include <vector>

#include "user_mode.h"

class CRegKeyWatcher {
 public:
  CRegKeyWatcher(HKEY root, LPCWSTR subkey);
  // Tells the workers to end and waits for them, then closes the handles.
  virtual ~CRegKeyWatcher();
  CRegKeyWatcher(const CRegKeyWatcher&) = delete;
  CRegKeyWatcher& operator=(const CRegKeyWatcher&) = delete;

  // Starts one worker per logical processor (at least 1, at most 16) and one more; returns
  // ERROR_SUCCESS or the error that stopped it (no worker runs then).
  DWORD Start();

  // How many workers Start runs on this machine.
  static DWORD WorkerCount();

 protected:
  // Called by a worker after each change.
  virtual void OnChange() = 0;

 private:
  static DWORD WINAPI Worker(LPVOID self);
  DWORD Watch();
  void StopWorkers();

  HKEY root_;
  std::vector<WCHAR> subkey_;
  HANDLE quit_ = nullptr;
  std::vector<HANDLE> workers_;
  DWORD workerCount_ = 0;
};
