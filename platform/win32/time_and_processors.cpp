// Time stamps and processor information, all from the machine.
#include "kernel/ke.h"
#include "win32/nt_error.h"
#include "win32/sysinfoapi.h"

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
  if (lpPerformanceCount == nullptr) return tarnlink::win32::FailWithError(ERROR_NOACCESS);
  *lpPerformanceCount = KeQueryPerformanceCounter(nullptr);
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  if (lpFrequency == nullptr) return tarnlink::win32::FailWithError(ERROR_NOACCESS);
  KeQueryPerformanceCounter(lpFrequency);
  return TRUE;
}

ULONGLONG WINAPI GetTickCount64() {
  return KeQueryInterruptTime() / 10000;
}

DWORD WINAPI GetTickCount() {
  return static_cast<DWORD>(GetTickCount64());
}

BOOL WINAPI GetLogicalProcessorInformation(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION Buffer,
                                           PDWORD ReturnedLength) {
  if (ReturnedLength == nullptr) return tarnlink::win32::FailWithError(ERROR_INVALID_PARAMETER);
  const ULONG processors = KeQueryActiveProcessorCount(nullptr);
  const DWORD needed = processors * sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  const DWORD available = *ReturnedLength;
  *ReturnedLength = needed;
  if (Buffer == nullptr || available < needed)
    return tarnlink::win32::FailWithError(ERROR_INSUFFICIENT_BUFFER);
  for (ULONG i = 0; i < processors; ++i) {
    Buffer[i] = {};
    Buffer[i].ProcessorMask = ULONG_PTR{1} << i;
    Buffer[i].Relationship = RelationProcessorCore;
  }
  return TRUE;
}
