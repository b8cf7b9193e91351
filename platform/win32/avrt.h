// The multimedia class scheduler (avrt.h): a thread joins a task such as "Pro Audio" and runs
// at the task's real-time priorities until it leaves.
#pragma once

#include "win32/windef.h"

typedef enum _AVRT_PRIORITY {
  AVRT_PRIORITY_VERYLOW = -2,
  AVRT_PRIORITY_LOW,
  AVRT_PRIORITY_NORMAL,
  AVRT_PRIORITY_HIGH,
  AVRT_PRIORITY_CRITICAL
} AVRT_PRIORITY,
    *PAVRT_PRIORITY;

HANDLE WINAPI AvSetMmThreadCharacteristicsW(LPCWSTR TaskName, LPDWORD TaskIndex);
BOOL WINAPI AvSetMmThreadPriority(HANDLE AvrtHandle, AVRT_PRIORITY Priority);
BOOL WINAPI AvRevertMmThreadCharacteristics(HANDLE AvrtHandle);
