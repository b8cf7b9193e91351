// The driver's own part of each device's extension, after the framework's reserved part: what
// the request routing needs to know about the device.
#pragma once

#include "adapter_interfaces.h"
#include "kernel_mode.h"

// The extension asked of the framework: its reserved part and the dispatch context.
inline constexpr ULONG kDeviceExtensionSize = 584;

struct DispatchContext {
  // The device's adapter, set at the end of a start and cleared when the adapter is destroyed.
  // Not a reference of its own: the framework's references keep the adapter.
  PUSBAUDIOADAPTER Adapter;
  KMUTEX DispatchMutex;  // serialises private creates with the removal notice
  ULONG Removing;        // a query-remove, remove or surprise removal was seen
  ULONG DeviceGone;      // a transfer found the device gone
};
static_assert(PORT_CLASS_DEVICE_EXTENSION_SIZE + sizeof(DispatchContext) <= kDeviceExtensionSize);

DispatchContext* GetDispatchContext(PDEVICE_OBJECT DeviceObject);
// Adapter null, mutex ready, both flags clear.
VOID ResetDispatchContext(DispatchContext* Context);
