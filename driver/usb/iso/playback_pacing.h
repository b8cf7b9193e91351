// The inputs of playback packet scheduling, as small records so that the arithmetic needs
// nothing of the device model: the device model fills them from its stored packet values and
// writes the pacing state back after a transfer has been laid out.
#pragma once

#include "kernel_mode.h"
#include "rate_pattern_table.h"

// A URB describes at most this many isochronous packets; a layout that would need more is
// refused rather than looped for.
inline constexpr ULONG kIsoMaxPackets = 1024;

struct IsoStreamShape {
  BOOLEAN highSpeed;
  ULONG serviceInterval;  // (micro)frames per packet, 2^(bInterval - 1)
  ULONG bytesPerFrame;    // F
};

enum class PlaybackPacingMode {
  ImplicitFeedback,  // the capture stream says how many bytes each transfer carries
  ExplicitFeedback,  // the device's 16.16 feedback value drives a fractional accumulator
  RatePattern,       // no feedback: the rate pattern table's cycle
};

struct PlaybackPacing {
  PlaybackPacingMode mode;
  // Implicit feedback: the packet bounds of the format.
  ULONG nominalPacketBytes;
  BOOLEAN integralRate;
  // Explicit feedback: the feedback in use (16.16 frames per step) and the fraction carried
  // from one transfer to the next (only its low 16 bits count).
  ULONG feedback;
  LONG accumulator;
  // Rate pattern: the current row's cycle for the bus speed and the position in it.
  RatePattern pattern;
  ULONG patternPosition;
};

// (Micro)frame steps in a transfer of `milliseconds`.
ULONG TransferSteps(const IsoStreamShape& shape, ULONG milliseconds);

// The bytes a playback transfer of `milliseconds` laid out from `pacing` carries: at its
// feedback (explicit feedback) or along its pattern (rate pattern mode). The packet builders
// lay the transfer out from the same record. Changes no pacing state.
ULONG PlaybackTransferBytes(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                            ULONG milliseconds);

// The same with `feedback` in place of the pacing's own.
ULONG GetTransferBytes(const IsoStreamShape& shape, const PlaybackPacing& pacing,
                       ULONG milliseconds, ULONG feedback);
