// Settings the whole driver shares, chosen once at entry from the system version.
#pragma once

#include "kernel_mode.h"

struct DriverSettings {
  POOL_TYPE PoolType;           // every allocation of the driver
  POOL_TYPE LookasidePoolType;  // the adapter's look-aside lists
  ULONG MappingPriority;        // mapping transfer buffers into system space
};

extern DriverSettings g_DriverSettings;

// Non-executable pool and mappings from Windows 8 on; older systems have neither.
VOID ChooseDriverSettings();
