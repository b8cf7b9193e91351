// CStreamEngine: opening and closing the directions, counted per user, and the operating-system
// stream's start and stop on top of them.
#include "engine_trace_points.h"
#include "stream_engine.h"

namespace {

constexpr LONGLONG kRunningWait = -10LL * 1000 * 10000;  // 10 s, relative

}  // namespace

NTSTATUS CStreamEngine::OpenDirection(ULONG direction) {
  if (direction >= kDirectionCount || m_Model->StreamInterface(direction) == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  m_Gate.TakeForOpener();
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  const NTSTATUS status = BothDirections() ? OpenBoth() : OpenOne(direction);
  KeReleaseMutex(&m_StreamMutex, FALSE);
  m_Gate.Release();
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceOpenFailed, direction, status);
  return status;
}

NTSTATUS CStreamEngine::CloseDirection(ULONG direction) {
  if (direction >= kDirectionCount) return STATUS_INVALID_PARAMETER;
  m_Gate.TakeForOpener();
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  const NTSTATUS status = BothDirections() ? CloseBoth() : CloseOne(direction);
  KeReleaseMutex(&m_StreamMutex, FALSE);
  m_Gate.Release();
  return status;
}

NTSTATUS CStreamEngine::BringUp(ULONG direction) {
  NTSTATUS status = StartWorker(direction);
  if (!NT_SUCCESS(status)) return status;
  DirectionEvents& events = m_Events[direction];
  KeSetEvent(&events.Run, direction == kDirectionPlayback ? IO_SOUND_INCREMENT : IO_NO_INCREMENT,
             FALSE);
  PVOID objects[2] = {&events.Running, &events.Stop};
  LARGE_INTEGER timeout;
  timeout.QuadPart = kRunningWait;
  status = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, &timeout,
                                    nullptr);
  if (status == STATUS_WAIT_0) return STATUS_SUCCESS;
  return status == STATUS_WAIT_1 ? STATUS_CANCELLED : STATUS_UNSUCCESSFUL;
}

NTSTATUS CStreamEngine::OpenOne(ULONG direction) {
  if (m_OpenCount[direction] != 0) {
    ++m_OpenCount[direction];
    return STATUS_SUCCESS;
  }
  StopWorker(direction);
  if (KeReadStateEvent(m_Device.RemovalEvent) != 0) return STATUS_DELETE_PENDING;
  NTSTATUS status = STATUS_SUCCESS;
  if (m_Model->GetCurrentAltSetting(direction) == 0) status = ConfigureDirection(direction);
  if (NT_SUCCESS(status)) {
    if (direction == kDirectionPlayback) InitializeCredits();
    status = BringUp(direction);
  }
  if (NT_SUCCESS(status)) {
    ++m_OpenCount[direction];
  } else {
    StopWorker(direction);
    ResetDirectionFormat(direction);
  }
  return status;
}

NTSTATUS CStreamEngine::OpenBoth() {
  ULONG& capture = m_OpenCount[kDirectionCapture];
  ULONG& playback = m_OpenCount[kDirectionPlayback];
  if (capture != playback) {
    TRACE_POINT(kTraceOpenCountsDiffer, capture, playback);
    return STATUS_UNSUCCESSFUL;
  }
  if (capture != 0) {
    ++capture;
    ++playback;
    return STATUS_SUCCESS;
  }
  StopWorker(kDirectionCapture);
  StopWorker(kDirectionPlayback);
  if (KeReadStateEvent(m_Device.RemovalEvent) != 0) return STATUS_DELETE_PENDING;
  NTSTATUS status = ConfigureDirection(kDirectionCapture);
  if (NT_SUCCESS(status)) status = ConfigureDirection(kDirectionPlayback);
  if (NT_SUCCESS(status)) {
    InitializeCredits();
    status = BringUp(kDirectionCapture);
  }
  if (NT_SUCCESS(status)) status = BringUp(kDirectionPlayback);
  if (NT_SUCCESS(status)) {
    ++capture;
    ++playback;
    return STATUS_SUCCESS;
  }
  StopWorker(kDirectionCapture);
  StopWorker(kDirectionPlayback);
  ResetDirectionFormat(kDirectionCapture);
  ResetDirectionFormat(kDirectionPlayback);
  return status;
}

NTSTATUS CStreamEngine::CloseOne(ULONG direction) {
  if (m_OpenCount[direction] == 0) {
    TRACE_POINT(kTraceCloseUnopened, direction);
    return STATUS_SUCCESS;
  }
  if (--m_OpenCount[direction] == 0) {
    StopWorker(direction);
    ResetDirectionFormat(direction);
    m_Chunks.Flush(direction);
  }
  return STATUS_SUCCESS;
}

NTSTATUS CStreamEngine::CloseBoth() {
  ULONG& capture = m_OpenCount[kDirectionCapture];
  ULONG& playback = m_OpenCount[kDirectionPlayback];
  if (capture != playback) {
    TRACE_POINT(kTraceOpenCountsDiffer, capture, playback);
    return STATUS_UNSUCCESSFUL;
  }
  if (capture == 0) {
    TRACE_POINT(kTraceCloseUnopened, 2u);
    return STATUS_SUCCESS;
  }
  --capture;
  --playback;
  if (capture == 0) {
    StopWorker(kDirectionPlayback);
    StopWorker(kDirectionCapture);
    ResetDirectionFormat(kDirectionPlayback);
    ResetDirectionFormat(kDirectionCapture);
    m_Chunks.Flush(kDirectionPlayback);
    m_Chunks.Flush(kDirectionCapture);
  }
  return STATUS_SUCCESS;
}

PlaybackEngineStart CStreamEngine::EngineShape() const {
  PlaybackEngineStart shape = {};
  shape.Playback = m_UsbFormat[kDirectionPlayback];
  shape.Capture = m_UsbFormat[kDirectionCapture];
  shape.PlaybackMaxBytes = m_MaxTransferBytes[kDirectionPlayback];
  shape.CaptureMaxBytes = m_MaxTransferBytes[kDirectionCapture];
  shape.PlaybackTransfersInFlight = m_PlaybackTransfersInFlight;
  shape.PlaybackTransferMs = m_PlaybackTransferMs;
  shape.CaptureTransferMs = m_CaptureTransferMs;
  shape.StreamKind = m_StreamKind;
  shape.AmdWorkaround = m_Device.AmdWorkaround;
  return shape;
}

NTSTATUS CStreamEngine::StartPlaybackEngine(StreamUser user) {
  return m_Engines[Value(user)].Start(EngineShape());
}

NTSTATUS CStreamEngine::StartCaptureFeed(StreamUser user) {
  return m_Feeds[Value(user)].Start(m_UsbFormat[kDirectionCapture],
                                    m_MaxTransferBytes[kDirectionCapture]);
}

NTSTATUS CStreamEngine::StartOsDirection(ULONG direction, ULONG bufferBytes) {
  NTSTATUS status = OpenDirection(direction);
  if (!NT_SUCCESS(status)) return status;
  if (direction == kDirectionCapture) {
    status = StartCaptureFeed(StreamUser::Os);
  } else {
    const OsFormat& os = m_OsFormat[kDirectionPlayback];
    const ULONGLONG perMs = static_cast<ULONGLONG>(os.FrameBytes) * os.Rate;
    // The buffer's length in milliseconds, at most 100.
    ULONGLONG parameter = perMs != 0 ? static_cast<ULONGLONG>(bufferBytes) * 100000 / (perMs * 100) : 0;
    if (parameter > 100) parameter = 100;
    CPlaybackEngine& engine = m_Engines[Value(StreamUser::Os)];
    engine.SetLatencyParameter(static_cast<ULONG>(parameter));
    status = StartPlaybackEngine(StreamUser::Os);
  }
  if (!NT_SUCCESS(status)) CloseDirection(direction);
  return status;
}

VOID CStreamEngine::StopOsDirection(ULONG direction) {
  if (direction >= kDirectionCount) return;
  if (direction == kDirectionCapture) {
    m_Feeds[Value(StreamUser::Os)].Stop();
  } else {
    m_Engines[Value(StreamUser::Os)].Stop();
  }
  CloseDirection(direction);
  m_Chunks.Flush(direction);
}
