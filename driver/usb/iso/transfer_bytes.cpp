#include "bus_timing.h"
#include "playback_pacing.h"

ULONG TransferSteps(const IsoStreamShape& shape, ULONG milliseconds) {
  if (!shape.highSpeed) {
    return shape.serviceInterval * milliseconds;
  }
  // Whole packets per millisecond; serviceable high-speed intervals (1, 2, 4, 8) divide 8.
  return shape.serviceInterval *
         (milliseconds * PacketsPerMillisecond(TRUE, shape.serviceInterval));
}

ULONG PlaybackTransferBytes(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                            ULONG milliseconds) {
  if (shape.serviceInterval == 0) {
    return 0;
  }
  const ULONG steps = TransferSteps(shape, milliseconds);
  ULONGLONG frames = 0;
  if (pacing.mode == PlaybackPacingMode::ExplicitFeedback) {
    const ULONGLONG fraction = static_cast<ULONG>(pacing.accumulator) & 0xFFFF;
    frames = (fraction + static_cast<ULONGLONG>(steps) * pacing.feedback) >> 16;
  } else if (pacing.pattern.length != 0) {
    ULONG position = pacing.patternPosition % pacing.pattern.length;
    for (ULONG step = 0; step < steps; ++step) {
      frames += pacing.pattern.entries[position];
      position = (position + 1) % pacing.pattern.length;
    }
  }
  const ULONGLONG bytes = frames * shape.bytesPerFrame;
  return bytes > 0xFFFFFFFFull ? 0 : static_cast<ULONG>(bytes);
}

ULONG GetTransferBytes(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                       ULONG milliseconds, ULONG feedback) {
  PlaybackPacing at = pacing;
  at.feedback = feedback;
  return PlaybackTransferBytes(shape, at, milliseconds);
}
