// Starting a device: the framework's start routine, and the step that undoes it at removal.
#pragma once

#include "dispatch_context.h"

NTSTATUS StartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, PRESOURCELIST ResourceList);
// Gives back what the start made for the device.
VOID StopDeviceFunction(DispatchContext* Context);
