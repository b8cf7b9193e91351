// Implicit feedback: the capture stream measured how many bytes this transfer carries; spread
// them over the transfer's packets as nominal packets with a few one frame longer or shorter.
#include "iso_trace_points.h"
#include "packet_layout.h"
#include "playback_packets.h"

namespace {

struct PacketMix {
  ULONG longPackets;
  ULONG normalPackets;
  ULONG shortPackets;
};

PacketMix ChooseMix(ULONG bytes, ULONG packetsPerTransfer, ULONG nominal, ULONG frameBytes,
                    BOOLEAN integralRate) {
  const LONGLONG d = packetsPerTransfer;
  // C++ division truncates toward zero, as the mix needs for a short transfer.
  const LONGLONG k =
      (static_cast<LONGLONG>(bytes) - d * static_cast<LONGLONG>(nominal)) / frameBytes;
  const ULONG byNominal =
      static_cast<ULONG>((static_cast<ULONGLONG>(bytes) + nominal - 1) / nominal);
  if (k < 0 && k >= -d && integralRate) {
    return {0, static_cast<ULONG>(d + k), static_cast<ULONG>(-k)};
  }
  if (k >= 1 && k <= d) {
    return {static_cast<ULONG>(k), static_cast<ULONG>(d - k), 0};
  }
  return {0, byNominal, 0};
}

}  // namespace

ULONG BuildImplicitFeedbackPackets(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                                   ULONG bytes, ULONG milliseconds,
                                   PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG capacity) {
  const ULONG frameBytes = shape.bytesPerFrame;
  const ULONG nominal = pacing.nominalPacketBytes;
  if (frameBytes == 0 || nominal == 0) {
    TRACE_POINT(kTraceIsoShapeInvalid, frameBytes, nominal);
    return 0;
  }
  const ULONG packetsPerTransfer = shape.highSpeed ? 8 * milliseconds : milliseconds;
  PacketMix mix = ChooseMix(bytes, packetsPerTransfer, nominal, frameBytes, pacing.integralRate);
  const ULONGLONG counted =
      static_cast<ULONGLONG>(mix.longPackets) + mix.normalPackets + mix.shortPackets;
  ULONG count = counted > kIsoMaxPackets ? kIsoMaxPackets + 1 : static_cast<ULONG>(counted);
  if (shape.highSpeed && count % 8 != 0) {
    mix.shortPackets += RoundUpToMultiple(count, 8) - count;
    count = RoundUpToMultiple(count, 8);
  }
  if (count > kIsoMaxPackets) {
    TRACE_POINT(kTraceIsoPacketLimit, bytes, count);
    return 0;
  }
  if (packets == nullptr) {
    return count;
  }
  if (!PacketArrayFits(count, capacity)) {
    return 0;
  }
  const ULONG longBytes = nominal + frameBytes;
  const ULONG shortBytes =
      pacing.integralRate && nominal >= frameBytes ? nominal - frameBytes : nominal;
  ULONG offset = 0;
  for (ULONG k = 0; k < count; ++k) {
    const ULONG size = k < mix.longPackets                       ? longBytes
                       : k < mix.longPackets + mix.normalPackets ? nominal
                                                                 : shortBytes;
    const ULONG length = MinUlong(size, bytes - offset);
    packets[k].Offset = offset;
    packets[k].Length = length;
    packets[k].Status = USBD_STATUS_SUCCESS;
    offset += length;
  }
  return count;
}
