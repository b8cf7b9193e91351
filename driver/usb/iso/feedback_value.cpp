#include "feedback_value.h"

#include "iso_trace_points.h"

ULONG NominalFeedback(ULONG rate, BOOLEAN highSpeed, ULONG direction, ULONG serviceInterval) {
  ULONGLONG value = static_cast<ULONGLONG>(rate) * 65536 / 1000;
  if (highSpeed) {
    // Capture values are per microframe; playback values per service interval.
    const ULONG perInterval =
        serviceInterval != 0 && serviceInterval <= 8 ? 8 / serviceInterval : 1;
    value /= direction == kDirectionCapture ? 8 : perInterval;
  }
  return static_cast<ULONG>(value);
}

namespace {

ULONG ReadLittleEndian(const UCHAR* at, ULONG count) {
  ULONG value = 0;
  for (ULONG i = count; i-- > 0;) {
    value = (value << 8) | at[i];
  }
  return value;
}

}  // namespace

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
      value = ReadLittleEndian(read.buffer + packet.Offset, 3) * 4;
      last = value;
    } else if (packet.Length == 4) {
      value = ReadLittleEndian(read.buffer + packet.Offset, 4);
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
