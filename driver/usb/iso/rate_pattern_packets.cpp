// Rate pattern mode: without feedback, each (micro)frame step carries the next entry of the
// rate's pattern cycle, so that whole cycles deliver the nominal rate exactly.
#include "iso_trace_points.h"
#include "packet_layout.h"
#include "playback_packets.h"

namespace {

struct PatternStepper {
  const RatePattern& pattern;
  ULONG position;

  ULONG NextFrames() {
    const ULONG frames = pattern.entries[position];
    position = (position + 1) % pattern.length;
    return frames;
  }
};

ULONG CountPackets(const IsoStreamShape& shape, const PlaybackPacing& pacing, ULONG bytes) {
  PatternStepper stepper{pacing.pattern, pacing.patternPosition % pacing.pattern.length};
  ULONGLONG total = 0;
  ULONG count = 0;
  for (ULONG step = 0; total < bytes; ++step) {
    if (step % shape.serviceInterval == 0) {
      if (count == kIsoMaxPackets) {
        TRACE_POINT(kTraceIsoPacketLimit, bytes, count);
        return 0;
      }
      ++count;
    }
    total += static_cast<ULONGLONG>(stepper.NextFrames()) * shape.bytesPerFrame;
  }
  return count;
}

VOID FillPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                 PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count) {
  PatternStepper stepper{pacing.pattern, pacing.patternPosition % pacing.pattern.length};
  ULONG offset = 0;
  ULONG k = 0;
  for (; k < count && offset < bytes; ++k) {
    ULONG length = 0;
    for (ULONG step = 0; step < shape.serviceInterval && offset + length < bytes; ++step) {
      const ULONGLONG add = static_cast<ULONGLONG>(stepper.NextFrames()) * shape.bytesPerFrame;
      const ULONG left = bytes - offset - length;
      length += add < left ? static_cast<ULONG>(add) : left;
    }
    packets[k].Offset = offset;
    packets[k].Length = length;
    packets[k].Status = USBD_STATUS_SUCCESS;
    offset += length;
  }
  ClearTrailingPackets(packets, k, count, offset);
  pacing.patternPosition = stepper.position;
}

}  // namespace

BOOLEAN RatePatternUsable(const IsoStreamShape& shape, const PlaybackPacing& pacing) {
  if (!IsoShapeUsable(shape)) {
    TRACE_POINT(kTraceIsoShapeInvalid, shape.bytesPerFrame, shape.serviceInterval);
    return FALSE;
  }
  if (pacing.pattern.entries == nullptr || pacing.pattern.length == 0) {
    TRACE_POINT(kTraceIsoNoPattern, pacing.pattern.length);
    return FALSE;
  }
  return TRUE;
}

ULONG CountRatePatternPackets(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                              ULONG bytes) {
  if (!RatePatternUsable(shape, pacing)) {
    return 0;
  }
  const ULONG counted = CountPackets(shape, pacing, bytes);
  return counted == 0 ? 0 : RoundUpToMultiple(counted, PacketsPerMillisecond(shape));
}

ULONG BuildRatePatternPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                              PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity) {
  const ULONG count = CountRatePatternPackets(shape, pacing, bytes);
  if (count == 0 || packets == nullptr) {
    return count;
  }
  if (!PacketArrayFits(count, capacity)) {
    return 0;
  }
  FillPackets(shape, pacing, bytes, packets, count);
  return count;
}
