// Settings the whole driver shares, which follow from the system version: non-executable pool
// and non-executable system-space mappings exist from Windows 8 on.
#pragma once

#include "kernel_mode.h"

struct DriverSettings {
  POOL_TYPE PoolType;           // every allocation of the driver
  POOL_TYPE LookasidePoolType;  // the driver's look-aside lists
  ULONG MappingPriority;        // mapping transfer buffers into system space
};

// The settings for the system the driver runs on, worked out from its version on every call, so
// code that runs before the driver's entry (or in a test without one) gets the same answer.
DriverSettings SettingsForSystem();

// The settings the entry chose, for the adapter's records.
extern DriverSettings g_DriverSettings;

// At entry: g_DriverSettings becomes SettingsForSystem().
VOID ChooseDriverSettings();
