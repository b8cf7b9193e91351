// The reference strings the wave subdevice registers under: one name for free-rate mode and one
// per fixed rate. The ASIO client finds the device interface by the common prefix.
#pragma once

#include "kernel_mode.h"

struct SubdeviceName {
  ULONG Rate;  // 0: free-rate mode
  PCWSTR Name;
};

// Ended by an entry with a null name.
extern const SubdeviceName g_SubdeviceNames[];

// The name for a fixed rate (0 for free-rate mode), or null for a rate the table lacks.
PCWSTR SubdeviceNameForRate(ULONG rate);
