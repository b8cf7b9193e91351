#include "driver_pool.h"

#include "common_trace_points.h"
#include "driver_settings.h"

POOL_TYPE DriverPoolType() {
  return SettingsForSystem().PoolType;
}

PVOID AllocateDriverPool(SIZE_T bytes) {
  PVOID memory = ExAllocatePoolZero(DriverPoolType(), bytes, kDriverPoolTag);
  if (memory == nullptr) TRACE_POINT(kTracePoolAllocationFailed, bytes);
  return memory;
}

VOID FreeDriverPool(PVOID memory) {
  if (memory != nullptr) ExFreePoolWithTag(memory, kDriverPoolTag);
}
