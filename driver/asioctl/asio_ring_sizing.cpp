#include "asio_ring_sizing.h"

#include "asioctl_trace_points.h"

namespace {

constexpr ULONGLONG kCaptureMinimumFrames = 768;
constexpr ULONGLONG kPeriodsPerRing = 3;

ULONGLONG Larger(ULONGLONG a, ULONGLONG b) { return a > b ? a : b; }

}  // namespace

AsioRingFrames SizeAsioRings(ULONG periodFrames, ULONG sampleRate, ULONG transferMs,
                             BOOLEAN captureWanted, BOOLEAN playbackWanted) {
  AsioRingFrames frames = {0, 0};
  if (captureWanted) {
    frames.capture = kPeriodsPerRing * Larger(periodFrames, kCaptureMinimumFrames);
    if (playbackWanted) frames.playback = frames.capture + kCaptureMinimumFrames;
  } else if (playbackWanted) {
    const ULONGLONG framesPerMs = (static_cast<ULONGLONG>(sampleRate) + 999) / 1000;
    frames.playback = kPeriodsPerRing * Larger(periodFrames, framesPerMs * transferMs);
  }
  return frames;
}

NTSTATUS SizeAsioRingBlock(ULONGLONG frames, ULONG frameBytes, ULONG* ringBytes,
                           ULONG* blockBytes) {
  constexpr ULONGLONG kMostRingBytes = 0x7FFFFFFF;  // the largest signed fill count
  // Checked by division so the product itself cannot overflow.
  if (frameBytes == 0 || frames > kMostRingBytes / frameBytes) {
    TRACE_POINT(kTraceAsioRingTooLarge, frames, frameBytes);
    return STATUS_INVALID_PARAMETER;
  }
  const ULONGLONG bytes = frames * frameBytes;
  const ULONGLONG used = sizeof(SharedRingHeader) + bytes;
  *ringBytes = static_cast<ULONG>(bytes);
  *blockBytes = static_cast<ULONG>((used + ASIO_RING_PAGE_BYTES - 1) / ASIO_RING_PAGE_BYTES *
                                   ASIO_RING_PAGE_BYTES);
  return STATUS_SUCCESS;
}
