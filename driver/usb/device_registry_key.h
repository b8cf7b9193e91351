// The device's hardware registry key ("Device Parameters" of its instance): where the driver
// keeps its per-device settings. Which values live there is the adapter's business.
#pragma once

#include "kernel_mode.h"

class CDeviceRegistryKey {
 public:
  CDeviceRegistryKey() = default;
  ~CDeviceRegistryKey() { Close(); }
  CDeviceRegistryKey(const CDeviceRegistryKey&) = delete;
  CDeviceRegistryKey& operator=(const CDeviceRegistryKey&) = delete;

  // Opens the hardware key of the physical device object with full access (PASSIVE_LEVEL).
  NTSTATUS Open(PDEVICE_OBJECT physicalDeviceObject);
  BOOLEAN IsOpen() const { return handle_ != nullptr; }

  // The value's partial information in a new pool block the caller frees with FreeDriverPool.
  // STATUS_NO_MATCH when the value changed size between the size query and the read.
  NTSTATUS QueryValue(PCWSTR name, PKEY_VALUE_PARTIAL_INFORMATION* information);
  // Reads a value that must have exactly this type and data size; anything else is
  // STATUS_NO_MATCH and leaves the caller's buffer alone.
  NTSTATUS ReadValue(PCWSTR name, ULONG type, PVOID data, ULONG size);
  NTSTATUS WriteValue(PCWSTR name, ULONG type, const VOID* data, ULONG size);

  // Closes the handle (if any) and forgets it.
  VOID Close();

 private:
  HANDLE handle_ = nullptr;
};
