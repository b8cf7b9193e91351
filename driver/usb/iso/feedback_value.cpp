#include "feedback_value.h"

#include "bus_timing.h"
#include "byte_order.h"
#include "driver_types.h"
#include "iso_trace_points.h"

ULONG NominalFeedback(ULONG rate, BOOLEAN highSpeed, ULONG direction, ULONG serviceInterval) {
  ULONGLONG value = static_cast<ULONGLONG>(rate) * 65536 / 1000;
  if (highSpeed) {
    // Capture values are per microframe; playback values per service interval.
    value /= direction == Value(Direction::Capture) ? kMicroframesPerMillisecond
                                                    : PacketsPerMillisecond(TRUE, serviceInterval);
  }
  return static_cast<ULONG>(value);
}

ULONG DecodeFeedback(const FeedbackRead& read, ULONG& lastRaw) {
  if (read.transferLength == 0) {
    return lastRaw;
  }
  ULONG last = lastRaw;
  // A 64-bit sum: a device reporting huge values must not wrap the average into range.
  ULONGLONG sum = 0;
  ULONG counted = 0;
  for (ULONG k = 0; k < read.packetCount; ++k) {
    const USBD_ISO_PACKET_DESCRIPTOR& packet = read.packets[k];
    if (!USBD_SUCCESS(packet.Status)) {
      continue;
    }
    const ULONGLONG end = static_cast<ULONGLONG>(packet.Offset) + packet.Length;
    if (end > read.bufferBytes || (packet.Length != 0 && read.buffer == nullptr)) {
      TRACE_POINT(kTraceFeedbackPacketOutside, k, packet.Offset, packet.Length);
      continue;
    }
    ULONG value = 0;
    if (packet.Length == 3) {
      value = ReadLe24(read.buffer + packet.Offset) * 4;
      last = value;
    } else if (packet.Length == 4) {
      value = ReadLe32(read.buffer + packet.Offset);
      last = value;
    } else if (packet.Length == 0) {
      value = last;
    } else {
      TRACE_POINT(kTraceFeedbackPacketLength, k, packet.Length);
      continue;
    }
    sum += value;
    ++counted;
  }
  if (last != 0) {
    lastRaw = last;
  }
  return counted == 0 ? 0 : static_cast<ULONG>(sum / counted);
}
