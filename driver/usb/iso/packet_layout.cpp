#include "packet_layout.h"

#include "iso_trace_points.h"

BOOLEAN PacketArrayFits(ULONG count, ULONG capacity) {
  if (count > capacity) {
    TRACE_POINT(kTraceIsoPacketArrayShort, count, capacity);
    return FALSE;
  }
  return TRUE;
}

VOID ClearTrailingPackets(PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG from, ULONG count,
                          ULONG offset) {
  for (ULONG k = from; k < count; ++k) {
    packets[k].Offset = offset;
    packets[k].Length = 0;
    packets[k].Status = USBD_STATUS_SUCCESS;
  }
}
