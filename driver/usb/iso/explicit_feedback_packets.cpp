// Explicit feedback: each (micro)frame step carries (G + R) >> 16 frames, where G is the
// device's 16.16 feedback value and R the fraction carried over, so that over time the stream
// delivers exactly what the device says it consumes.
#include "iso_trace_points.h"
#include "packet_layout.h"
#include "playback_packets.h"

namespace {

struct FeedbackStepper {
  ULONG feedback;
  ULONG fraction;

  ULONG NextFrames() {
    const ULONGLONG sum = static_cast<ULONGLONG>(feedback) + fraction;
    fraction = static_cast<ULONG>(sum & 0xFFFF);
    return static_cast<ULONG>(sum >> 16);
  }
};

ULONGLONG StepBytes(FeedbackStepper& stepper, ULONG frameBytes) {
  return static_cast<ULONGLONG>(stepper.NextFrames()) * frameBytes;
}

// First phase: packets until the running total reaches the bytes; no state is stored.
ULONG CountPackets(const IsoStreamShape& shape, const PlaybackPacing& pacing, ULONG bytes) {
  FeedbackStepper stepper{pacing.feedback, static_cast<ULONG>(pacing.accumulator) & 0xFFFF};
  const ULONG stepsPerPacket = shape.highSpeed ? shape.serviceInterval : 1;
  ULONGLONG total = 0;
  ULONG count = 0;
  for (ULONG step = 0; total < bytes; ++step) {
    if (step % stepsPerPacket == 0) {
      if (count == kIsoMaxPackets) {
        TRACE_POINT(kTraceIsoPacketLimit, bytes, count);
        return 0;
      }
      ++count;
    }
    total += StepBytes(stepper, shape.bytesPerFrame);
  }
  return count;
}

// The count was rounded up to whole milliseconds: share the frames out evenly instead, the
// first packets one frame more. Isochronous OUT packets take their length from consecutive
// offsets, so only the offsets carry the split.
VOID SpreadEvenly(const IsoStreamShape& shape, ULONG bytes, PUSBD_ISO_PACKET_DESCRIPTOR packets,
                  ULONG count) {
  const ULONG frames = bytes / shape.bytesPerFrame;
  const ULONG each = frames / count;
  const ULONG extra = frames % count;
  ULONG offset = 0;
  for (ULONG k = 0; k < count; ++k) {
    packets[k].Offset = offset;
    packets[k].Length = 0;
    packets[k].Status = USBD_STATUS_SUCCESS;
    offset += (each + (k < extra ? 1 : 0)) * shape.bytesPerFrame;
  }
}

VOID FillPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                 PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count) {
  FeedbackStepper stepper{pacing.feedback, static_cast<ULONG>(pacing.accumulator) & 0xFFFF};
  ULONG offset = 0;
  ULONG k = 0;
  for (; k < count && offset < bytes; ++k) {
    ULONG length = 0;
    for (ULONG step = 0; step < shape.serviceInterval && offset + length < bytes; ++step) {
      const ULONGLONG left = bytes - offset - length;
      const ULONGLONG add = StepBytes(stepper, shape.bytesPerFrame);
      length += static_cast<ULONG>(add < left ? add : left);
    }
    packets[k].Offset = offset;
    packets[k].Length = length;
    packets[k].Status = USBD_STATUS_SUCCESS;
    offset += length;
    pacing.accumulator = static_cast<LONG>(stepper.fraction);
  }
  ClearTrailingPackets(packets, k, count, offset);
}

}  // namespace

ULONG BuildExplicitFeedbackPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                                   PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity) {
  if (!IsoShapeUsable(shape)) {
    TRACE_POINT(kTraceIsoShapeInvalid, shape.bytesPerFrame, shape.serviceInterval);
    return 0;
  }
  const ULONG counted = CountPackets(shape, pacing, bytes);
  if (counted == 0) {
    return 0;
  }
  const ULONG count = RoundUpToMultiple(counted, PacketsPerMillisecond(shape));
  if (packets == nullptr) {
    return count;
  }
  if (!PacketArrayFits(count, capacity)) {
    return 0;
  }
  if (count != counted) {
    SpreadEvenly(shape, bytes, packets, count);
  } else {
    FillPackets(shape, pacing, bytes, packets, count);
  }
  return count;
}
