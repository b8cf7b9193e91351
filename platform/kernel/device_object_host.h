// The I/O manager's private part of a device object. Host side.
#pragma once

#include "kernel/device_object.h"

struct _DEVOBJ_EXTENSION {
  CSHORT Type;
  USHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PDEVICE_OBJECT AttachedTo;  // the device below in the stack, null at the bottom
  BOOLEAN DeletePending;      // IoDeleteDevice was called; the memory lives while referenced
  PVOID DeviceNode;           // the PnP record of a physical device object, else null
  PVOID NameEntry;            // the namespace entry of a named device, else null
};
typedef struct _DEVOBJ_EXTENSION DEVOBJ_EXTENSION, *PDEVOBJ_EXTENSION;

namespace tarnlink::io {
// Gives an unnamed device a \Device\NNNNNNNN name, as physical device objects get one.
NTSTATUS NameDeviceAutomatically(PDEVICE_OBJECT DeviceObject);
}  // namespace tarnlink::io
