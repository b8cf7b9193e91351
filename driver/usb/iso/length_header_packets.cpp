#include "length_header_packets.h"

#include "byte_order.h"
#include "iso_trace_points.h"
#include "packet_layout.h"
#include "playback_packets.h"

ULONG LengthHeaderBufferBytes(ULONG bytes, ULONG packets) {
  const ULONGLONG size =
      static_cast<ULONGLONG>(bytes) + static_cast<ULONGLONG>(kLengthHeaderBytes) * packets;
  return size > 0xFFFFFFFFull ? 0 : static_cast<ULONG>(size);
}

ULONG BuildLengthHeaderPackets(const IsoStreamShape& shape, PlaybackPacing& pacing,
                               const UCHAR* audio, ULONG bytes, PUCHAR buffer, ULONG bufferBytes,
                               PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count) {
  if (!RatePatternUsable(shape, pacing) || audio == nullptr || buffer == nullptr) {
    return 0;
  }
  ULONG written = 0;
  ULONG consumed = 0;
  ULONG k = 0;
  for (; k < count; ++k) {
    const ULONG room = bufferBytes - written;
    if (room <= kLengthHeaderBytes) {
      TRACE_POINT(kTraceIsoHeaderBufferFull, k, count);
      break;
    }
    const ULONG position = pacing.patternPosition % pacing.pattern.length;
    const ULONGLONG entryBytes =
        static_cast<ULONGLONG>(pacing.pattern.entries[position]) * shape.bytesPerFrame;
    ULONG length = MinUlong(bytes - consumed, room - kLengthHeaderBytes);
    if (entryBytes < length) {
      length = static_cast<ULONG>(entryBytes);
    }
    WriteLittleEndian(buffer + written, length, kLengthHeaderBytes);
    RtlCopyMemory(buffer + written + kLengthHeaderBytes, audio + consumed, length);
    packets[k].Offset = written;
    packets[k].Length = length + kLengthHeaderBytes;
    packets[k].Status = USBD_STATUS_SUCCESS;
    written += length + kLengthHeaderBytes;
    consumed += length;
    pacing.patternPosition = (position + 1) % pacing.pattern.length;
  }
  ClearTrailingPackets(packets, k, count, written);
  return written;
}
