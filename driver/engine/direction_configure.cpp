// CStreamEngine: choosing a direction's USB alternate setting for the current rate and format,
// and dropping it back to zero bandwidth.
#include "engine_trace_points.h"
#include "stream_engine.h"

NTSTATUS CStreamEngine::ConfigureDirection(ULONG direction) {
  const ULONG rate = m_AsioRate != 0 ? m_AsioRate : m_FixedRate;
  const BOOLEAN implicit = m_Model->IsImplicitFeedbackMode();
  const BOOLEAN deviceDecides = BothDirections() ||
                                (direction == kDirectionCapture && implicit) ||
                                !InUseByOs(direction);
  USHORT tag = static_cast<USHORT>(FormatTag::Pcm);
  ULONG channels = 0;
  ULONG bits = 0;
  ULONG useRate = rate;
  NTSTATUS status = STATUS_SUCCESS;
  if (deviceDecides) {
    // Float where the device carries it, so nothing is lost before the device's own converter.
    if (m_StreamKind == kStreamKindPcm) {
      tag = static_cast<USHORT>(FormatTag::IeeeFloat);
      status = m_Model->GetMaxFormat(direction, tag, rate, &channels, &bits);
    }
    if (m_StreamKind != kStreamKindPcm || !NT_SUCCESS(status)) {
      tag = static_cast<USHORT>(FormatTag::Pcm);
      status = m_Model->GetMaxFormat(direction, tag, rate, &channels, &bits);
    }
  } else {
    const OsFormat& os = m_OsFormat[direction];
    tag = os.FormatTag;
    channels = os.Channels;
    bits = os.Bits;
    useRate = os.Rate;
  }
  if (NT_SUCCESS(status) && m_Device.NativeDsd != 0 && m_Model->GetStreamKind() != m_StreamKind) {
    status = m_Model->SendStreamKind(m_StreamKind);
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceConfigureFailed, direction, useRate, status);
    return status;
  }
  const ULONG periodMs = direction == kDirectionPlayback ? m_PlaybackTransferMs : m_CaptureTransferMs;
  ULONG outChannels = 0;
  ULONG outBits = 0;
  ULONG maxBytes = 0;
  if (implicit) {
    status = m_Model->SelectStreamingFormat(
        direction, tag, channels, bits, useRate, periodMs, &outChannels, &outBits,
        &m_ImplicitNominal[direction], &m_ImplicitNegativeSlack[direction],
        &m_ImplicitPositiveSlack[direction], &maxBytes);
  } else {
    status = m_Model->SelectStreamingFormat(direction, tag, channels, bits, useRate, periodMs,
                                            &outChannels, &outBits, &maxBytes);
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceConfigureFailed, direction, useRate, status);
    return status;
  }
  m_UsbFormat[direction] = {tag, outChannels, outBits, useRate, outChannels * outBits / 8};
  m_MaxTransferBytes[direction] = maxBytes;
  return STATUS_SUCCESS;
}

VOID CStreamEngine::ResetDirectionFormat(ULONG direction) {
  m_UsbFormat[direction] = {};
  m_MaxTransferBytes[direction] = 0;
  if (m_Model == nullptr || m_Model->StreamInterface(direction) == nullptr) return;
  ULONG channels = 0;
  ULONG bits = 0;
  ULONG maxBytes = 0;
  const ULONG periodMs = direction == kDirectionPlayback ? m_PlaybackTransferMs : m_CaptureTransferMs;
  NTSTATUS status =
      m_Model->SelectStreamingFormat(direction, 0, 0, 0, 0, periodMs, &channels, &bits, &maxBytes);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceResetFormatFailed, direction, status);
}
