// Starting a device: the framework's start routine.
#pragma once

#include "kernel_mode.h"

// Creates and initialises the device's adapter, registers it for power management, installs
// the wave subdevice and makes the adapter the device's in the dispatch context. The adapter
// then lives on the references the framework holds; the last one destroys it.
NTSTATUS StartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, PRESOURCELIST ResourceList);
