#include "device_registry_key.h"

#include "usb_support.h"
#include "usb_trace_points.h"

namespace {

constexpr ULONG kPartialHeaderBytes = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);

}  // namespace

NTSTATUS CDeviceRegistryKey::Open(PDEVICE_OBJECT physicalDeviceObject) {
  PAGED_CODE();
  Close();
  NTSTATUS status = IoOpenDeviceRegistryKey(physicalDeviceObject, PLUGPLAY_REGKEY_DEVICE,
                                            KEY_ALL_ACCESS, &m_Handle);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceRegistryOpenFailed, status);
    m_Handle = nullptr;
  }
  return status;
}

NTSTATUS CDeviceRegistryKey::QueryValue(PCWSTR name, PKEY_VALUE_PARTIAL_INFORMATION* information) {
  PAGED_CODE();
  if (information == nullptr) return STATUS_INVALID_PARAMETER;
  *information = nullptr;
  if (m_Handle == nullptr) return STATUS_INVALID_HANDLE;
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, name);

  ULONG needed = 0;
  NTSTATUS status =
      ZwQueryValueKey(m_Handle, &valueName, KeyValuePartialInformation, nullptr, 0, &needed);
  if (!NT_SUCCESS(status) && status != STATUS_BUFFER_TOO_SMALL &&
      status != STATUS_BUFFER_OVERFLOW) {
    TRACE_POINT(kTraceRegistryQueryFailed, status);
    return status;
  }
  if (needed < kPartialHeaderBytes) {
    TRACE_POINT(kTraceRegistryQueryFailed, needed);
    return STATUS_NO_MATCH;
  }
  auto* block = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(AllocateDriverPool(needed));
  if (block == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG returned = 0;
  status =
      ZwQueryValueKey(m_Handle, &valueName, KeyValuePartialInformation, block, needed, &returned);
  // The value may have been rewritten between the two calls; a record that does not describe
  // itself within the block is never handed out.
  if (NT_SUCCESS(status) &&
      (returned != needed || block->DataLength > needed - kPartialHeaderBytes)) {
    status = STATUS_NO_MATCH;
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceRegistryQueryFailed, status, needed, returned);
    FreeDriverPool(block);
    return status;
  }
  *information = block;
  return STATUS_SUCCESS;
}

NTSTATUS CDeviceRegistryKey::ReadValue(PCWSTR name, ULONG type, PVOID data, ULONG size) {
  PAGED_CODE();
  PKEY_VALUE_PARTIAL_INFORMATION information = nullptr;
  NTSTATUS status = QueryValue(name, &information);
  if (!NT_SUCCESS(status)) return status;
  if (information->Type != type || information->DataLength != size) {
    TRACE_POINT(kTraceRegistryValueMismatch, information->Type, information->DataLength, type,
                size);
    status = STATUS_NO_MATCH;
  } else if (!BoundedCopy(data, size, information->Data, information->DataLength)) {
    status = STATUS_NO_MATCH;
  }
  FreeDriverPool(information);
  return status;
}

NTSTATUS CDeviceRegistryKey::WriteValue(PCWSTR name, ULONG type, const VOID* data, ULONG size) {
  PAGED_CODE();
  if (m_Handle == nullptr) return STATUS_INVALID_HANDLE;
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, name);
  NTSTATUS status = ZwSetValueKey(m_Handle, &valueName, 0, type, const_cast<PVOID>(data), size);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceRegistryWriteFailed, status);
  return status;
}

VOID CDeviceRegistryKey::Close() {
  if (m_Handle == nullptr) return;
  ZwClose(m_Handle);
  m_Handle = nullptr;
}
