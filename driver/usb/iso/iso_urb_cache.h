// The isochronous URBs of finished requests, kept for the next ones. A running stream sends a
// request per transfer; taking its URB from here rather than from the pool keeps the stream
// from allocating once it runs. A URB serves any request with at most as many packets as it
// was allocated for.
#pragma once

#include "kernel_mode.h"

class CIsoUrbCache {
 public:
  CIsoUrbCache();
  CIsoUrbCache(const CIsoUrbCache&) = delete;
  CIsoUrbCache& operator=(const CIsoUrbCache&) = delete;

  // A zeroed isochronous URB for `packets` packets, as USBD_IsochUrbAllocate gives one; its
  // packet capacity in *capacity. Null when none is cached and the pool has none.
  _IRQL_requires_max_(DISPATCH_LEVEL) PURB
      Take(USBD_HANDLE handle, ULONG packets, PULONG capacity);
  // Keeps a URB taken from here (or frees it when the cache is full).
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID Give(USBD_HANDLE handle, PURB urb, ULONG capacity);
  // Frees every cached URB; before the handle closes.
  VOID Flush(USBD_HANDLE handle);

 private:
  static constexpr ULONG kEntries = 32;
  struct Entry {
    PURB urb;
    ULONG capacity;
  };
  KSPIN_LOCK m_Lock = 0;
  Entry m_Entries[kEntries] = {};
  ULONG m_Count = 0;
};
