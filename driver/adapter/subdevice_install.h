// Installing the wave subdevice under the reference string of the device's fixed rate: a
// WaveRT port bound to this driver's miniport and to the adapter, registered with the framework.
#pragma once

#include "kernel_mode.h"

// STATUS_UNSUCCESSFUL for a rate without a name; the device then runs without a subdevice.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    InstallSubdevice(PDEVICE_OBJECT DeviceObject, PUNKNOWN AdapterUnknown, ULONG fixedRate);
