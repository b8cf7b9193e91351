// Memory helpers of the run-time library.
#pragma once

#include <cstring>

#include "kernel/ntdef.h"

#define RtlCopyMemory(Destination, Source, Length) memcpy((Destination), (Source), (Length))
#define RtlMoveMemory(Destination, Source, Length) memmove((Destination), (Source), (Length))
#define RtlFillMemory(Destination, Length, Fill) memset((Destination), (Fill), (Length))
#define RtlZeroMemory(Destination, Length) memset((Destination), 0, (Length))
#define RtlEqualMemory(Destination, Source, Length) (!memcmp((Destination), (Source), (Length)))

// Number of leading bytes that are equal.
inline SIZE_T RtlCompareMemory(const VOID* source1, const VOID* source2, SIZE_T length) {
  const UCHAR* a = static_cast<const UCHAR*>(source1);
  const UCHAR* b = static_cast<const UCHAR*>(source2);
  SIZE_T i = 0;
  while (i < length && a[i] == b[i]) ++i;
  return i;
}
