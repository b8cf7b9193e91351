#include "iso_urb_cache.h"

CIsoUrbCache::CIsoUrbCache() {
  KeInitializeSpinLock(&m_Lock);
}

PURB CIsoUrbCache::Take(USBD_HANDLE handle, ULONG packets, PULONG capacity) {
  PURB urb = nullptr;
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  for (ULONG i = 0; i < m_Count; ++i) {
    if (m_Entries[i].capacity < packets) continue;
    urb = m_Entries[i].urb;
    *capacity = m_Entries[i].capacity;
    m_Entries[i] = m_Entries[--m_Count];
    break;
  }
  KeReleaseSpinLock(&m_Lock, irql);
  if (urb == nullptr) {
    if (!NT_SUCCESS(USBD_IsochUrbAllocate(handle, packets, &urb))) return nullptr;
    *capacity = packets;
    return urb;
  }
  // As fresh as a new one: no status, packet results or frame of the last request survive.
  const SIZE_T size = GET_ISO_URB_SIZE(static_cast<SIZE_T>(packets));
  RtlZeroMemory(urb, GET_ISO_URB_SIZE(static_cast<SIZE_T>(*capacity)));
  urb->UrbHeader.Length = static_cast<USHORT>(size);
  urb->UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
  urb->UrbIsochronousTransfer.NumberOfPackets = packets;
  return urb;
}

VOID CIsoUrbCache::Give(USBD_HANDLE handle, PURB urb, ULONG capacity) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  const BOOLEAN kept = m_Count < kEntries;
  if (kept) m_Entries[m_Count++] = {urb, capacity};
  KeReleaseSpinLock(&m_Lock, irql);
  if (!kept) USBD_UrbFree(handle, urb);
}

VOID CIsoUrbCache::Flush(USBD_HANDLE handle) {
  while (m_Count != 0) USBD_UrbFree(handle, m_Entries[--m_Count].urb);
}
