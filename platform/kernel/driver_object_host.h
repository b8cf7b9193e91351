// Loading drivers, host side: the machine creates a driver object, runs its entry, and later
// unloads it. Product code never includes this header.
#pragma once

#include <string_view>

#include "kernel/driver_object.h"

// A driver object named \Driver\<ServiceName> whose dispatch table refuses every request with
// STATUS_INVALID_DEVICE_REQUEST until the driver fills it. The machine owns the object.
NTSTATUS IoHostCreateDriver(std::u16string_view ServiceName, PDRIVER_OBJECT* DriverObject);
// Calls the driver's entry with its service key, the Services\<ServiceName> key of
// \Registry\Machine\SYSTEM\CurrentControlSet.
NTSTATUS IoHostCallDriverEntry(PDRIVER_OBJECT DriverObject, PDRIVER_INITIALIZE DriverEntry);
// Calls the unload routine (if any) and releases the driver object.
VOID IoHostUnloadDriver(PDRIVER_OBJECT DriverObject);
