#include "asio_stream_sources.h"

#include "asio_stream.h"
#include "engine_trace_points.h"
#include "playback_engine.h"

template <typename Interface, ULONG kDirection>
USHORT CAsioStreamFormat<Interface, kDirection>::Kind() {
  return m_Stream->Format().Kind;
}

template <typename Interface, ULONG kDirection>
USHORT CAsioStreamFormat<Interface, kDirection>::FormatTag() {
  return m_Stream->Format().FormatTag;
}

template <typename Interface, ULONG kDirection>
ULONG CAsioStreamFormat<Interface, kDirection>::Bits() {
  const AsioStreamFormat& format = m_Stream->Format();
  return kDirection == kDirectionCapture ? format.CaptureBits : format.PlaybackBits;
}

template <typename Interface, ULONG kDirection>
ULONG CAsioStreamFormat<Interface, kDirection>::Channels() {
  const AsioStreamFormat& format = m_Stream->Format();
  return kDirection == kDirectionCapture ? format.CaptureChannels : format.PlaybackChannels;
}

template <typename Interface, ULONG kDirection>
ULONG CAsioStreamFormat<Interface, kDirection>::SampleRate() {
  return m_Stream->SampleRate();
}

template class CAsioStreamFormat<IPlaybackSource, kDirectionPlayback>;
template class CAsioStreamFormat<ICaptureSink, kDirectionCapture>;

ULONG CAsioPlaybackSource::Read(PVOID dst, ULONG frames) {
  return m_Stream->ReadPlayback(dst, frames);
}

BOOLEAN CAsioPlaybackSource::HasCapture() {
  return m_Stream->HasCaptureRing();
}

BOOLEAN CAsioPlaybackSource::PlaybackStarted() {
  return m_Stream->PlaybackRingStarted();
}

ULONG CAsioPlaybackSource::FramesAvailable() {
  return m_Stream->PlaybackFramesAvailable();
}

VOID CAsioPlaybackSource::Serviced() {
  m_Stream->PlaybackServiced();
}

VOID CAsioPlaybackSource::OutputReady() {
  if (m_Engine != nullptr) m_Engine->LockedRefill();
}

VOID CAsioCaptureSink::Write(PCVOID src, ULONG frames) {
  m_Stream->CaptureWrite(src, frames);
}

NTSTATUS CAsioCaptureSink::Prepare(const UsbFormat& usb, ULONG) {
  if (usb.FrameBytes != FrameBytes()) {
    TRACE_POINT(kTraceAsioCaptureFormat, usb.FrameBytes, FrameBytes());
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  return STATUS_SUCCESS;
}
