#include "usb_support.h"

#include "usb_trace_points.h"

BOOLEAN BoundedCopy(PVOID destination, SIZE_T capacity, const VOID* source, SIZE_T n) {
  if (n > capacity || (n != 0 && (destination == nullptr || source == nullptr))) {
    TRACE_POINT(kTraceBoundedCopyRefused, n, capacity);
    return FALSE;
  }
  if (n != 0) RtlCopyMemory(destination, source, n);
  return TRUE;
}
