// The streaming side of one opened device: the period buffers between the host's buffers and
// the rings, and the waits for the kernel driver's period event.
#include <algorithm>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "device_stream.h"

namespace {

constexpr ULONG kPlaybackPeriods = 2;
// Far longer than any period. A device that went away sets no more period events; a wait that
// lasts this long looks whether the driver broke the stream off.
constexpr DWORD kStallCheckMs = 250;

PeriodBuffer MakePeriod(ULONG length, BYTE fillByte) {
  PeriodBuffer period;
  period.length = length;
  period.bytes.assign((length + 3) / 4 * 4, fillByte);
  return period;
}

// Waits for the stop or the period event; alerts do not end the wait. A long silence ends it
// only when the ring says the stream was broken off.
RingWait WaitForPeriod(HANDLE stopEvent, HANDLE periodEvent, ClientRing& ring) {
  const HANDLE events[] = {stopEvent, periodEvent};
  for (;;) {
    const DWORD result = WaitForMultipleObjectsEx(2, events, FALSE, kStallCheckMs, TRUE);
    if (result == WAIT_IO_COMPLETION) continue;
    if (result == WAIT_TIMEOUT) {
      if (ring.TakeInterrupted()) return RingWait::Interrupted;
      continue;
    }
    if (result == WAIT_OBJECT_0) return RingWait::Stopped;
    if (result == WAIT_OBJECT_0 + 1) return RingWait::Complete;
    AsioTrace(kTraceStreamWaitFailed, result, GetLastError());
    return RingWait::Error;
  }
}

}  // namespace

void DeviceStream::AllocatePeriods(const PeriodGeometry& geometry) {
  FreePeriods();
  fillByte_ = geometry.fillByte;
  driverHasInputs_ = geometry.driverHasInputs;
  const ULONG frameBytes = geometry.periodFrames * geometry.bytesPerSample;
  if (inputChannels_ != 0) {
    capture_.assign(geometry.queueDepth, MakePeriod(frameBytes * inputChannels_, fillByte_));
  }
  if (outputChannels_ != 0) {
    // The host's output goes out one period at a time, in two buffers taken in turn.
    playback_.assign(kPlaybackPeriods, MakePeriod(frameBytes * outputChannels_, fillByte_));
  }
}

void DeviceStream::FreePeriods() {
  capture_.clear();
  playback_.clear();
}

void DeviceStream::FillPeriods() {
  for (auto* periods : {&capture_, &playback_}) {
    for (PeriodBuffer& period : *periods) std::fill(period.bytes.begin(), period.bytes.end(), fillByte_);
  }
}

void DeviceStream::ResetCaptureFill() {
  for (PeriodBuffer& period : capture_) period.fill = 0;
}

void DeviceStream::FollowRings() {
  FollowPlaybackWriter();
  if (captureView_.Mapped()) captureView_.RestartReading();
}

void DeviceStream::FollowPlaybackWriter() {
  if (playbackView_.Mapped()) playbackView_.FollowWriteOffset();
}

RingWait DeviceStream::ReadCapturePeriod(ULONG c, HANDLE stopEvent) {
  if (!captureView_.Mapped() || c >= capture_.size()) return RingWait::Error;
  PeriodBuffer& period = capture_[c];
  bool wait = captureView_.Fill() == 0;
  for (;;) {
    if (wait) {
      const RingWait woken = WaitForPeriod(stopEvent, periodEvent_, captureView_);
      if (woken != RingWait::Complete) return woken;
    }
    if (captureView_.TakeInterrupted()) return RingWait::Interrupted;
    const ULONG delivered =
        captureView_.Read(period.bytes.data() + period.fill, period.length - period.fill);
    period.fill += delivered;
    if (period.fill >= period.length) return RingWait::Complete;
    // The ring ran dry before the period was whole: the next period event brings the rest.
    wait = delivered == 0 || captureView_.Fill() == 0;
    if (wait) ResetEvent(periodEvent_);
  }
}

RingWait DeviceStream::WaitPlaybackSpace(HANDLE stopEvent) {
  if (!playbackView_.Mapped() || playback_.empty()) return RingWait::Error;
  for (;;) {
    const RingWait woken = WaitForPeriod(stopEvent, periodEvent_, playbackView_);
    if (woken != RingWait::Complete) return woken;
    if (playbackView_.TakeInterrupted()) return RingWait::Interrupted;
    ResetEvent(periodEvent_);
    if (playbackView_.RingBytes() - playbackView_.Fill() >= playback_[0].length)
      return RingWait::Complete;
  }
}

DWORD DeviceStream::WritePlaybackPeriod(ULONG o) {
  if (!playbackView_.Mapped() || o >= playback_.size()) return ERROR_INVALID_HANDLE;
  playbackView_.Write(playback_[o].bytes.data(), playback_[o].length);
  return SetEvent(outputEvent_) ? 0 : GetLastError();
}
