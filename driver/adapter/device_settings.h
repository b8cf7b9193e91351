// The adapter's values in the device's hardware key. Each is a REG_DWORD; the key is writable
// by administrators and tools, so a value of another type or size counts as absent rather than
// refusing the device for ever.
#pragma once

#include "device_registry_key.h"

inline constexpr PCWSTR kForceAmdChipsetValue = WSTR("ForceAMDChipset");
inline constexpr PCWSTR kDsdNativeModeValue = WSTR("DSDNativeModeSupported");
inline constexpr PCWSTR kDumpCaptureValue = WSTR("gDumpCapture");
inline constexpr PCWSTR kSampleRateValue = WSTR("SampleRate");

// STATUS_SUCCESS with *value read, STATUS_OBJECT_NAME_NOT_FOUND for an absent (or unusable)
// value with *value untouched, or the failure of the read itself.
NTSTATUS ReadDwordSetting(CDeviceRegistryKey& key, PCWSTR name, PULONG value);
// A failed write is traced and otherwise ignored: the setting is then only lost for the next
// start.
VOID WriteDwordSetting(CDeviceRegistryKey& key, PCWSTR name, ULONG value);
