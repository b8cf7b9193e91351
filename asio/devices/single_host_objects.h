// The machine-wide objects that keep one ASIO host on the devices at a time and tell the control
// panel when a host is there.
#pragma once

#include "user_mode.h"

// Created owned by the first host's driver object; that it exists means a host holds the driver.
inline constexpr LPCWSTR kHostMutexName = WSTR("Global\\{F1DAE1EF-4F8D-481D-981D-2473B50A5774}");
// Owned by a driver object's device-watch thread for the object's whole life.
inline constexpr LPCWSTR kActiveMutexName = WSTR("Global\\{9460351B-B0D4-4DD3-82E2-2DCB5CB20C20}");
// Set while a driver object lives.
inline constexpr LPCWSTR kActiveEventName = WSTR("Global\\{B2F8C4E6-3082-4004-A089-3E8BEAF01A74}");
// Serialises device, rate, buffer and settings work of every driver object and the control panel.
inline constexpr LPCWSTR kInstanceMutexName =
    WSTR("Global\\{447BE54C-7F89-4760-A7E0-5D561E8E51C6}");

// Creates (or opens) the instance mutex, not owned, open to every process; null on failure.
HANDLE CreateInstanceMutex();

// Holds the instance mutex for a scope. An abandoned mutex counts as taken: its owner died, and
// the state it guards is re-read by whoever comes next.
class InstanceLock {
 public:
  explicit InstanceLock(HANDLE mutex);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  HANDLE mutex_;
  bool held_;
};
