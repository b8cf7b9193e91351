// AsioHandle: the requests that move a handle through its states: the device's ASIO ownership,
// the stream's prepare with its rings and events, start, stop, unprepare, and the start time.
#include "asio_format_query.h"
#include "asio_handle.h"
#include "asio_ring_sizing.h"
#include "asioctl_trace_points.h"
#include "driver_types.h"
#include "transfer_settings.h"

namespace {

constexpr ULONG kClaimAttempts = 10;
constexpr LONGLONG kClaimRetryInterval = -10000;  // 1 ms

NTSTATUS ClaimWithRetries(CStreamEngine& engine, BOOLEAN capture, BOOLEAN playback,
                          BOOLEAN exclusive) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  for (ULONG attempt = 1; attempt <= kClaimAttempts; ++attempt) {
    status = engine.Claims().Claim(capture, playback, exclusive);
    if (NT_SUCCESS(status) || attempt == kClaimAttempts) break;
    TRACE_POINT(kTraceAsioClaimRetry, attempt, status);
    LARGE_INTEGER interval;
    interval.QuadPart = kClaimRetryInterval;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  }
  return status;
}

// The frames of each wanted ring, each ring's data area counted by the header's signed fill.
NTSTATUS SizeRings(const PrepareRequest& in, ULONG rate, const AsioStreamFormat& format,
                   ULONG* captureFrames, ULONG* playbackFrames) {
  const AsioRingFrames frames =
      SizeAsioRings(in.periodFrames, rate, g_TransferSettings.PlaybackTransferMs,
                    in.captureWanted != 0, in.playbackWanted != 0);
  ULONG ringBytes = 0;
  ULONG blockBytes = 0;
  *captureFrames = 0;
  *playbackFrames = 0;
  if (in.captureWanted != 0) {
    NTSTATUS status = SizeAsioRingBlock(frames.capture, format.CaptureChannels * (format.CaptureBits / 8),
                                        &ringBytes, &blockBytes);
    if (!NT_SUCCESS(status)) return status;
    *captureFrames = static_cast<ULONG>(frames.capture);
  }
  if (in.playbackWanted != 0) {
    NTSTATUS status = SizeAsioRingBlock(
        frames.playback, format.PlaybackChannels * (format.PlaybackBits / 8), &ringBytes, &blockBytes);
    if (!NT_SUCCESS(status)) return status;
    *playbackFrames = static_cast<ULONG>(frames.playback);
  }
  return STATUS_SUCCESS;
}

// Steps 1 to 4 of a prepare: what the request asks must suit the device.
NTSTATUS CheckPrepareRequest(IAsioDevice& device, const PrepareRequest& in) {
  if (in.periodFrames == 0 || (in.captureWanted == 0 && in.playbackWanted == 0) || in.dsd > 1)
    return STATUS_INVALID_PARAMETER;
  CUSBAudioCL& model = device.Model();
  if ((in.captureWanted != 0 && model.CaptureInterface() == nullptr) ||
      (in.playbackWanted != 0 && model.PlaybackInterface() == nullptr))
    return STATUS_INVALID_DEVICE_REQUEST;
  if (in.dsd != 0 && device.DsdNative() == 0) return STATUS_INVALID_DEVICE_REQUEST;
  if ((in.formatTag != ASIO_FORMAT_PCM && in.formatTag != ASIO_FORMAT_FLOAT) ||
      (in.dsd != 0 && in.formatTag == ASIO_FORMAT_FLOAT))
    return STATUS_INVALID_DEVICE_REQUEST;
  return STATUS_SUCCESS;
}

// Steps 7 and 8: the format at the stream's rate, and the rings sized and allocated for it.
NTSTATUS SetUpRings(IAsioDevice& device, const PrepareRequest& in) {
  CStreamEngine& engine = device.Engine();
  const ULONG rate = engine.FixedRate() != 0 ? engine.FixedRate() : engine.AsioRate();
  FormatQueryRecord record = {};
  record.formatTag = in.formatTag;
  record.sampleRate = rate;
  NTSTATUS status = QueryAsioFormat(device.Model(), &record);
  if (!NT_SUCCESS(status)) return status;
  if ((in.captureWanted != 0 && (record.captureChannels == 0 || record.captureBits < 8)) ||
      (in.playbackWanted != 0 && (record.playbackChannels == 0 || record.playbackBits < 8)))
    return STATUS_INVALID_DEVICE_REQUEST;
  AsioStreamFormat format = {};
  format.PeriodFrames = in.periodFrames;
  format.Kind = in.dsd != 0 ? kStreamKindDsd : kStreamKindPcm;
  format.FormatTag = in.formatTag;
  if (in.captureWanted != 0) {
    format.CaptureChannels = record.captureChannels;
    format.CaptureBits = record.captureBits;
  }
  if (in.playbackWanted != 0) {
    format.PlaybackChannels = record.playbackChannels;
    format.PlaybackBits = record.playbackBits;
  }
  ULONG captureFrames = 0;
  ULONG playbackFrames = 0;
  status = SizeRings(in, rate, format, &captureFrames, &playbackFrames);
  if (!NT_SUCCESS(status)) return status;
  return device.AsioStream().AllocateRings(format, captureFrames, playbackFrames);
}

}  // namespace

NTSTATUS AsioHandle::Acquire() {
  if (InterlockedCompareExchange(m_Device->AsioOwnerWord(), 1, 0) != 0) return STATUS_DEVICE_BUSY;
  m_State = AsioHandleAcquired;
  m_Device->Engine().SetAsioActive(1);
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::Release() {
  if (InterlockedCompareExchange(m_Device->AsioOwnerWord(), 0, 1) != 1)
    TRACE_POINT(kTraceAsioReleaseNotHeld);
  m_State = AsioHandleOpened;
  m_Device->Engine().SetAsioActive(0);
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::Prepare(AsioRequest* request) {
  PrepareRequest in;
  RtlCopyMemory(&in, request->Buffer, sizeof in);
  NTSTATUS status = CheckPrepareRequest(*m_Device, in);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioPrepareRefused, 1, status);
    return status;
  }
  CStreamEngine& engine = m_Device->Engine();
  CAsioStream& stream = m_Device->AsioStream();
  const BOOLEAN capture = in.captureWanted != 0;
  const BOOLEAN playback = in.playbackWanted != 0;
  status = ClaimWithRetries(engine, capture, playback, in.dsd != 0);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioPrepareRefused, 5, status);
    return status;
  }
  status = engine.SetStreamKind(in.dsd != 0 ? kStreamKindDsd : kStreamKindPcm);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioPrepareRefused, 6, status);
    engine.Claims().Release(capture, playback);
    return status;
  }
  status = SetUpRings(*m_Device, in);
  if (NT_SUCCESS(status)) {
    const PrepareResult result = {reinterpret_cast<ULONG_PTR>(stream.CaptureRingAddress()),
                                  reinterpret_cast<ULONG_PTR>(stream.PlaybackRingAddress())};
    RtlCopyMemory(request->Buffer, &result, sizeof result);
    status = stream.ReferenceEvents(in.periodEvent, in.outputEvent);
    if (!NT_SUCCESS(status)) stream.FreeRings();
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioPrepareRefused, 7, status);
    engine.SetStreamKind(kStreamKindPcm);
    engine.Claims().Release(capture, playback);
    return status;
  }
  if (stream.HasCaptureRing() && stream.HasPlaybackRing()) {
    engine.PlaybackEngineOf(StreamUser::Asio).SetLatencyParameter(in.latencyPercent);
  }
  m_State = AsioHandlePrepared;
  request->Information = request->OutputLength;
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::Start() {
  const NTSTATUS status = m_Device->AsioStream().Start();
  if (NT_SUCCESS(status)) m_State = AsioHandleRunning;
  return status;
}

NTSTATUS AsioHandle::Stop() {
  m_Device->AsioStream().Stop();
  m_State = AsioHandlePrepared;
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::Unprepare() {
  m_Device->AsioStream().Unprepare();
  m_State = AsioHandleAcquired;
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::GetStartTime(AsioRequest* request) {
  const LONGLONG time = m_Device->AsioStream().StartTime();
  RtlCopyMemory(request->Buffer, &time, sizeof time);
  request->Information = sizeof time;
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::SetStartTime(AsioRequest* request) {
  ULONGLONG time = 0;
  RtlCopyMemory(&time, request->Buffer, sizeof time);
  m_Device->AsioStream().SetStartTime(time);
  return STATUS_SUCCESS;
}
