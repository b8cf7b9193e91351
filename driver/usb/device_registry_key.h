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

  // Opens the hardware key of the physical device object with full access.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      Open(_In_ PDEVICE_OBJECT physicalDeviceObject);
  BOOLEAN IsOpen() const { return m_Handle != nullptr; }

  // The value's partial information in a new pool block the caller frees with FreeDriverPool.
  // STATUS_NO_MATCH when the value changed size between the size query and the read.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      QueryValue(_In_ PCWSTR name, _Out_ PKEY_VALUE_PARTIAL_INFORMATION* information);
  // Reads a value that must have exactly this type and data size; anything else is
  // STATUS_NO_MATCH and leaves the caller's buffer alone.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      ReadValue(_In_ PCWSTR name, ULONG type, _Out_writes_bytes_(size) PVOID data, ULONG size);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      WriteValue(_In_ PCWSTR name, ULONG type, _In_reads_bytes_(size) const VOID* data, ULONG size);

  // Closes the handle (if any) and forgets it.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Close();

 private:
  HANDLE m_Handle = nullptr;
};
