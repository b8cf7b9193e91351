// CAsioStream: prepare's rings and events, unprepare, and the start and stop of the stream on
// the engine's directions.
#include "asio_stream.h"

#include "engine_trace_points.h"
#include "stream_engine.h"

VOID CAsioStream::Initialize(CStreamEngine* engine) {
  m_Engine = engine;
  KeInitializeSpinLock(&m_StreamLock);
  KeInitializeEvent(&m_OutputStop, NotificationEvent, FALSE);
  m_CaptureRing.Initialize(kDirectionCapture);
  m_PlaybackRing.Initialize(kDirectionPlayback);
  m_Format = {};
  m_Format.FormatTag = static_cast<USHORT>(FormatTag::Pcm);
  m_FirstSignalPending = 1;
  m_PlaybackSource.Initialize(this);
  m_CaptureSink.Initialize(this);
  CPlaybackEngine& playback = engine->PlaybackEngineOf(StreamUser::Asio);
  playback.SetSource(&m_PlaybackSource);
  m_PlaybackSource.AttachEngine(&playback);
  engine->CaptureFeedOf(StreamUser::Asio).SetTarget(&m_CaptureSink);
}

NTSTATUS CAsioStream::AllocateRings(const AsioStreamFormat& format, ULONG captureFrames,
                                    ULONG playbackFrames) {
  const UCHAR fill = format.Kind == kStreamKindDsd ? ASIO_DSD_FILL_BYTE : ASIO_PCM_FILL_BYTE;
  NTSTATUS status = STATUS_SUCCESS;
  if (captureFrames != 0) {
    status = m_CaptureRing.Allocate(format.CaptureChannels * (format.CaptureBits / 8),
                                    captureFrames, fill);
  }
  if (NT_SUCCESS(status) && playbackFrames != 0) {
    status = m_PlaybackRing.Allocate(format.PlaybackChannels * (format.PlaybackBits / 8),
                                     playbackFrames, fill);
  }
  if (!NT_SUCCESS(status)) {
    FreeRings();
    return status;
  }
  m_Format = format;
  return STATUS_SUCCESS;
}

VOID CAsioStream::FreeRings() {
  m_PlaybackRing.Free();
  m_CaptureRing.Free();
  m_Format = {};
  m_Format.FormatTag = static_cast<USHORT>(FormatTag::Pcm);
}

NTSTATUS CAsioStream::ReferenceEvent(ULONGLONG handle, PKEVENT* slot) {
  if (handle == 0) {
    if (*slot != nullptr) ObDereferenceObject(*slot);
    *slot = nullptr;
    return STATUS_SUCCESS;
  }
  if (*slot != nullptr) return STATUS_UNSUCCESSFUL;
  PVOID object = nullptr;
  // The handle is the client's: looked up in its process, as a user-mode caller's would be.
  const NTSTATUS status = ObReferenceObjectByHandle(
      reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle)), SYNCHRONIZE | EVENT_MODIFY_STATE,
      *ExEventObjectType, UserMode, &object, nullptr);
  if (NT_SUCCESS(status)) *slot = static_cast<PKEVENT>(object);
  return status;
}

NTSTATUS CAsioStream::ReferenceEvents(ULONGLONG periodEvent, ULONGLONG outputEvent) {
  const BOOLEAN periodTaken = periodEvent != 0 && m_PeriodEvent == nullptr;
  NTSTATUS status = ReferenceEvent(periodEvent, &m_PeriodEvent);
  if (NT_SUCCESS(status)) status = ReferenceEvent(outputEvent, &m_OutputEvent);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioEventRefused, status);
    if (periodTaken && m_PeriodEvent != nullptr) {
      ObDereferenceObject(m_PeriodEvent);
      m_PeriodEvent = nullptr;
    }
  }
  return status;
}

VOID CAsioStream::Unprepare() {
  const BOOLEAN capture = m_CaptureRing.Exists();
  const BOOLEAN playback = m_PlaybackRing.Exists();
  ReferenceEvent(0, &m_PeriodEvent);
  ReferenceEvent(0, &m_OutputEvent);
  FreeRings();
  m_Engine->SetStreamKind(kStreamKindPcm);
  m_Engine->Claims().Release(capture, playback);
}

NTSTATUS CAsioStream::Start() {
  if (m_Started) return STATUS_SUCCESS;
  const ULONG rate = m_Engine->FixedRate() != 0 ? m_Engine->FixedRate() : m_Engine->AsioRate();
  BOOLEAN captureOpened = FALSE;
  BOOLEAN playbackOpened = FALSE;
  NTSTATUS status = STATUS_SUCCESS;
  if (HasCaptureRing()) {
    status = m_Engine->OpenDirection(kDirectionCapture);
    captureOpened = NT_SUCCESS(status);
    if (NT_SUCCESS(status)) status = StartCore(rate, m_Engine->MaxTransferBytes(kDirectionCapture));
    if (NT_SUCCESS(status)) status = m_Engine->StartCaptureFeed(StreamUser::Asio);
  } else if (HasPlaybackRing()) {
    status = m_Engine->OpenDirection(kDirectionPlayback);
    playbackOpened = NT_SUCCESS(status);
    if (NT_SUCCESS(status)) status = StartCore(rate, 0);
  } else {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  if (NT_SUCCESS(status) && HasPlaybackRing()) {
    if (!playbackOpened) {
      status = m_Engine->OpenDirection(kDirectionPlayback);
      playbackOpened = NT_SUCCESS(status);
    }
    if (NT_SUCCESS(status)) status = m_Engine->StartPlaybackEngine(StreamUser::Asio);
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioStartFailed, status);
    m_Engine->PlaybackEngineOf(StreamUser::Asio).Stop();
    m_Engine->CaptureFeedOf(StreamUser::Asio).Stop();
    if (playbackOpened) m_Engine->CloseDirection(kDirectionPlayback);
    if (captureOpened) m_Engine->CloseDirection(kDirectionCapture);
    StopCore();
    return status;
  }
  m_Started = TRUE;
  return STATUS_SUCCESS;
}

VOID CAsioStream::Stop() {
  if (!m_Started) return;
  m_Started = FALSE;
  m_Engine->PlaybackEngineOf(StreamUser::Asio).Stop();
  m_Engine->CaptureFeedOf(StreamUser::Asio).Stop();
  if (HasCaptureRing()) {
    m_Engine->CloseDirection(kDirectionCapture);
    m_CaptureRing.Reset();
  }
  if (HasPlaybackRing()) {
    m_Engine->CloseDirection(kDirectionPlayback);
    m_PlaybackRing.Reset();
  }
  StopCore();
}

NTSTATUS CAsioStream::StartCore(ULONG rate, ULONG stagingExtra) {
  m_Engine->TakeStreamInterrupted();  // a break of an earlier run is not this run's
  InterlockedExchange(&m_Interrupted, 0);
  m_FirstSignalPending = 1;
  m_SampleRate = rate;
  NTSTATUS status = STATUS_SUCCESS;
  if (HasCaptureRing()) {
    m_CaptureRing.SetInterrupted(0);
    if (HasPlaybackRing()) {
      m_PlaybackRing.PrefillReset(m_Format.PeriodFrames * m_PlaybackRing.FrameBytes(),
                                  m_PrefillOverride);
    }
    status = AllocateStaging(&m_Staging, m_CaptureRing.FrameBytes(), m_Format.PeriodFrames,
                             stagingExtra);
  }
  if (NT_SUCCESS(status) && HasPlaybackRing()) {
    m_PlaybackRing.SetInterrupted(0);
    status = StartOutputThread();
  }
  if (!NT_SUCCESS(status)) {
    StopOutputThread();
    FreeStaging(&m_Staging);
  }
  return status;
}

VOID CAsioStream::StopCore() {
  StopOutputThread();
  FreeStaging(&m_Staging);
  m_FirstSignalPending = 1;
  InterlockedExchange(&m_Interrupted, 0);
  m_SampleRate = 0;
}

VOID CAsioStream::Arm() {
  if (HasCaptureRing()) {
    m_PeriodCounter = 0;
    m_CaptureRing.MarkStarted();
  } else if (!m_PlaybackRing.IsStarted()) {
    m_PlaybackRing.MarkStarted();
  }
}

VOID CAsioStream::SetStartTime(ULONGLONG time) {
  LARGE_INTEGER frequency;
  KeQueryPerformanceCounter(&frequency);
  const ULONGLONG start = static_cast<ULONGLONG>(m_StartTime);
  if (time < start || frequency.QuadPart <= 0) return;
  const ULONGLONG elapsed = time - start;
  const ULONGLONG rate = m_SampleRate;
  if (rate != 0 && elapsed > ~0ull / rate) return;
  const ULONGLONG frames = elapsed * rate / static_cast<ULONGLONG>(frequency.QuadPart);
  if (frames > 0xFFFFFFFFull) return;
  // With capture the capture path sets the pace and no reader would take the frames; only a
  // playback-only stream is aligned.
  if (!HasCaptureRing()) m_PlaybackRing.SetPendingFill(static_cast<ULONG>(frames));
}
