// The driver's side of the private \asio channel: each private file object gets an AsioHandle
// in its driver context field at create, and keeps a reference to the device's adapter until
// its close. Creates are serialised with the removal notice by the dispatch mutex; every other
// handle operation runs inside the adapter's request guard.
#pragma once

#include "kernel_mode.h"

NTSTATUS PrivateCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS PrivateClose(PIRP Irp);
NTSTATUS PrivateCleanup(PIRP Irp);
NTSTATUS PrivateDeviceControl(PIRP Irp);
