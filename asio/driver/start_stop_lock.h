// Holds the driver object's start/stop lock for a scope: start, stop, suspend, resume and the
// streaming thread's restart never overlap.
#pragma once

#include "user_mode.h"

class StartStopLock {
 public:
  explicit StartStopLock(CRITICAL_SECTION* section) : section_(section) {
    EnterCriticalSection(section_);
  }
  ~StartStopLock() { LeaveCriticalSection(section_); }
  StartStopLock(const StartStopLock&) = delete;
  StartStopLock& operator=(const StartStopLock&) = delete;

 private:
  CRITICAL_SECTION* section_;
};
