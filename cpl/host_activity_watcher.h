// Follows the ASIO hosts through the single-host objects the ASIO driver keeps: whenever no
// host holds the driver, a DSD rate left in the settings becomes its PCM word rate (rate / 32),
// so the next host, or the operating system's path, starts from a rate it can run.
#pragma once

#include "user_mode.h"

class CHostActivityWatcher {
 public:
  CHostActivityWatcher() = default;
  ~CHostActivityWatcher() { Stop(); }
  CHostActivityWatcher(const CHostActivityWatcher&) = delete;
  CHostActivityWatcher& operator=(const CHostActivityWatcher&) = delete;

  // Opens or creates the objects and starts the thread; false (traced, with nothing left
  // running) on any failure. instanceMutex is the dialog's, used for the settings write.
  bool Start(HANDLE instanceMutex);
  // Ends the thread and closes everything; harmless when not started.
  void Stop();

 private:
  static DWORD WINAPI Thread(LPVOID self);
  void Run();
  void TidyRate();

  HANDLE instanceMutex_ = nullptr;
  HANDLE thread_ = nullptr;
  HANDLE quit_ = nullptr;
  HANDLE activeMutex_ = nullptr;
  HANDLE activeEvent_ = nullptr;
};
