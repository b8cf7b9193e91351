// The driver's side of the private \asio channel. Until the channel's handle objects exist, a
// private create is refused: with STATUS_DELETE_PENDING once the device is going, else as a
// request the driver does not serve.
#pragma once

#include "kernel_mode.h"

NTSTATUS PrivateCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// Close, clean-up and device control of a private file object.
NTSTATUS PrivateUnserved(PIRP Irp);
