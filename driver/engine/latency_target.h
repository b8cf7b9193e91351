// How far ahead of the bus a playback engine writes: its latency target in bytes, from the
// format, the transfer window and the engine's latency parameter (0..100, the share of the
// window beyond one capture transfer), or from an explicit override in frames.
#pragma once

#include "kernel_mode.h"

struct LatencyInputs {
  ULONG FrameBytes;
  ULONG Rate;
  ULONG LatencyParameter;  // 0..100
  ULONG OverrideFrames;    // 0: none
  ULONG PlaybackTransfersInFlight;
  ULONG PlaybackTransferMs;
  ULONG CaptureTransferMs;
};

// Rounded to a whole frame; 0 without a format.
ULONG LatencyTargetBytes(const LatencyInputs& in);
