#include "playback_packets.h"

ULONG BuildPlaybackPackets(const IsoStreamShape& shape, PlaybackPacing& pacing, ULONG bytes,
                           ULONG milliseconds, PUSBD_ISO_PACKET_DESCRIPTOR packets,
                           ULONG capacity) {
  switch (pacing.mode) {
    case PlaybackPacingMode::ImplicitFeedback:
      return BuildImplicitFeedbackPackets(shape, pacing, bytes, milliseconds, packets, capacity);
    case PlaybackPacingMode::ExplicitFeedback:
      return BuildExplicitFeedbackPackets(shape, pacing, bytes, packets, capacity);
    case PlaybackPacingMode::RatePattern:
      return BuildRatePatternPackets(shape, pacing, bytes, packets, capacity);
  }
  return 0;
}
