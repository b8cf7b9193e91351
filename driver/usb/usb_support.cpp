#include "usb_support.h"

#include "usb_trace_points.h"

POOL_TYPE DriverPoolType() {
  return RtlIsNtDdiVersionAvailable(NTDDI_WIN8) ? NonPagedPoolNx : NonPagedPool;
}

PVOID AllocateDriverPool(SIZE_T bytes) {
  PVOID memory = ExAllocatePoolZero(DriverPoolType(), bytes, kDriverPoolTag);
  if (memory == nullptr) TRACE_POINT(kTracePoolAllocationFailed, bytes);
  return memory;
}

VOID FreeDriverPool(PVOID memory) {
  if (memory != nullptr) ExFreePoolWithTag(memory, kDriverPoolTag);
}

BOOLEAN BoundedCopy(PVOID destination, SIZE_T capacity, const VOID* source, SIZE_T n) {
  if (n > capacity || (n != 0 && (destination == nullptr || source == nullptr))) {
    TRACE_POINT(kTraceBoundedCopyRefused, n, capacity);
    return FALSE;
  }
  if (n != 0) RtlCopyMemory(destination, source, n);
  return TRUE;
}
