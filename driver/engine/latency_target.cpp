#include "latency_target.h"

namespace {

// The most milliseconds of transfers an engine writes ahead.
constexpr ULONG kMaxAheadMs = 16;

}  // namespace

ULONG LatencyTargetBytes(const LatencyInputs& in) {
  const ULONG fb = in.FrameBytes;
  if (fb == 0) return 0;
  ULONG target = 0;
  if (in.OverrideFrames != 0) {
    const ULONG cap = (in.Rate + 999) * fb * kMaxAheadMs / 1000;
    target = in.OverrideFrames * fb < cap ? in.OverrideFrames * fb : cap;
  } else {
    // The window of playback transfers still ahead once two capture transfers have passed; the
    // arithmetic is unsigned as the engine's, a window below zero wraps and the cap applies.
    const ULONG window =
        (in.PlaybackTransfersInFlight - 1) * in.PlaybackTransferMs - 2 * in.CaptureTransferMs;
    const ULONG ahead = window < kMaxAheadMs ? window : kMaxAheadMs;
    const ULONG floor = (in.Rate + 999) * in.CaptureTransferMs / 1000 * fb;
    target = floor + ((in.Rate / 1000) * ahead * fb - floor) * in.LatencyParameter / 100;
  }
  const ULONG half = target + fb / 2;
  return half - half % fb;
}
