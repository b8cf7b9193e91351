// Installing the wave subdevice under the reference string of the device's fixed rate.
#pragma once

#include "kernel_mode.h"

// STATUS_UNSUCCESSFUL for a rate without a name; the device then runs without a subdevice.
NTSTATUS InstallSubdevice(PDEVICE_OBJECT DeviceObject, ULONG fixedRate);
