#include "device_settings.h"

#include "adapter_trace_points.h"

NTSTATUS ReadDwordSetting(CDeviceRegistryKey& key, PCWSTR name, PULONG value) {
  ULONG data = 0;
  NTSTATUS status = key.ReadValue(name, REG_DWORD, &data, sizeof(data));
  if (status == STATUS_NO_MATCH) {
    TRACE_POINT(kTraceSettingUnusable, name[0]);
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  if (NT_SUCCESS(status)) *value = data;
  return status;
}

VOID WriteDwordSetting(CDeviceRegistryKey& key, PCWSTR name, ULONG value) {
  NTSTATUS status = key.WriteValue(name, REG_DWORD, &value, sizeof(value));
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceSettingWriteFailed, name[0], status);
}
