// CAsioStream: the engine's side of the rings (capture writes with their staging, playback
// reads), the period signal that wakes the client, and the stream's interrupted flag. These run
// from the completion paths, up to DISPATCH_LEVEL: no allocation, no waits.
#include "asio_stream.h"
#include "engine_trace_points.h"
#include "stream_engine.h"

namespace {

// Period events go with a priority boost, so the client's streaming thread runs soon.
constexpr KPRIORITY kPeriodIncrement = 8;

ULONG BytesOf(ULONG frames, ULONG frameBytes) {
  const ULONGLONG bytes = static_cast<ULONGLONG>(frames) * frameBytes;
  return bytes < 0xFFFFFFFFull ? static_cast<ULONG>(bytes) : 0xFFFFFFFFu - 0xFFFFFFFFu % frameBytes;
}

}  // namespace

VOID CAsioStream::SetEvent(PKEVENT event, KPRIORITY increment) {
  // A stream prepared without the event runs without the signal.
  if (event != nullptr) KeSetEvent(event, increment, FALSE);
}

VOID CAsioStream::CollectEngineBreak() {
  if (m_Engine->TakeStreamInterrupted() != 0) MarkInterrupted();
}

VOID CAsioStream::MarkInterrupted() {
  KIRQL irql;
  KeAcquireSpinLock(&m_StreamLock, &irql);
  InterlockedExchange(&m_Interrupted, 1);
  m_CaptureRing.SetInterrupted(1);
  m_PlaybackRing.SetInterrupted(1);
  KeReleaseSpinLock(&m_StreamLock, irql);
  TRACE_POINT(kTraceAsioInterrupted);
}

ULONG CAsioStream::Interrupted() {
  CollectEngineBreak();
  // A device that went away breaks the running stream off, whichever transfer noticed it.
  if (m_Started && m_Engine->DeviceGone()) return 1;
  return m_Interrupted != 0 ? 1 : 0;
}

VOID CAsioStream::CaptureWrite(PCVOID src, ULONG frames) {
  CollectEngineBreak();
  if (!m_CaptureRing.IsStarted()) return;
  auto data = static_cast<const UCHAR*>(src);
  if (m_Staging.UsedBytes < m_Staging.PeriodBytes) {
    const UCHAR* period = nullptr;
    if (!StageCapture(&m_Staging, data, frames, &period)) return;
    data = period;
    frames = m_Format.PeriodFrames;
  }
  if (data == nullptr) {
    m_CaptureRing.SetInterrupted(1);
    return;
  }
  m_CaptureRing.Write(data, BytesOf(frames, m_CaptureRing.FrameBytes()), FALSE);
  SignalPeriod(frames);
}

VOID CAsioStream::SignalPeriod(ULONG frames) {
  if (!m_CaptureRing.IsStarted()) return;
  if (frames == 0) {
    SetEvent(m_PeriodEvent, kPeriodIncrement);
    return;
  }
  m_PeriodCounter += frames;
  if (m_PeriodCounter < m_Format.PeriodFrames) return;
  m_PeriodCounter -= m_Format.PeriodFrames;
  SetEvent(m_PeriodEvent, kPeriodIncrement);
  if (m_FirstSignalPending != 0) {
    m_FirstSignalPending = 0;
    m_StartTime = KeQueryPerformanceCounter(nullptr).QuadPart;
  }
  if (m_PlaybackRing.Exists() && !m_PlaybackRing.IsStarted()) m_PlaybackRing.MarkStarted();
}

VOID CAsioStream::PlaybackServiced() {
  CollectEngineBreak();
  if (!HasCaptureRing()) SetEvent(m_PeriodEvent, kPeriodIncrement);
}

ULONG CAsioStream::ReadPlayback(PVOID dst, ULONG frames) {
  const ULONG frameBytes = m_PlaybackRing.FrameBytes();
  if (frameBytes == 0) return 0;
  return m_PlaybackRing.ReadWithPending(static_cast<UCHAR*>(dst), BytesOf(frames, frameBytes)) /
         frameBytes;
}

ULONG CAsioStream::PlaybackFramesAvailable() const {
  const ULONG frameBytes = m_PlaybackRing.FrameBytes();
  return frameBytes != 0 ? m_PlaybackRing.FillBytes() / frameBytes : 0;
}

BOOLEAN CAsioStream::PlaybackRingStarted() {
  KIRQL irql;
  KeAcquireSpinLock(&m_StreamLock, &irql);
  const BOOLEAN started = m_PlaybackRing.IsStarted();
  KeReleaseSpinLock(&m_StreamLock, irql);
  return started;
}
