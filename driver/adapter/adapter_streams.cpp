// UsbAudioAdapter: the slots the stream engine serves: claims, the operating-system stream's
// formats, chunk queues and direction start and stop.
#include "usb_audio_adapter.h"

STDMETHODIMP UsbAudioAdapter::ClaimDirections(BOOLEAN Capture, BOOLEAN Playback,
                                              BOOLEAN Exclusive) {
  return m_Engine.Claims().Claim(Capture, Playback, Exclusive);
}

STDMETHODIMP UsbAudioAdapter::ReleaseDirections(BOOLEAN Capture, BOOLEAN Playback) {
  m_Engine.Claims().Release(Capture, Playback);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::SetOsFormat(ULONG Direction, USHORT FormatTag, ULONG Channels,
                                          ULONG Bits, ULONG Rate) {
  return m_Engine.SetOsFormat(Direction, FormatTag, Channels, Bits, Rate);
}

STDMETHODIMP UsbAudioAdapter::ClearOsFormat(ULONG Direction) {
  m_Engine.ClearOsFormat(Direction);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::QueuePlaybackChunk(PVOID Address, ULONG Bytes) {
  // A device on its way out takes no more of the stream's buffer.
  if (RemovalNoticed()) return STATUS_DELETE_PENDING;
  return m_Engine.Chunks().Queue(kDirectionPlayback, Address, Bytes);
}

STDMETHODIMP UsbAudioAdapter::QueueCaptureChunk(PVOID Address, ULONG Bytes) {
  if (RemovalNoticed()) return STATUS_DELETE_PENDING;
  return m_Engine.Chunks().Queue(kDirectionCapture, Address, Bytes);
}

STDMETHODIMP UsbAudioAdapter::FlushPlaybackChunks() {
  m_Engine.Chunks().Flush(kDirectionPlayback);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::FlushCaptureChunks() {
  m_Engine.Chunks().Flush(kDirectionCapture);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::StartOsDirection(ULONG Direction, ULONG BufferBytes) {
  return m_Engine.StartOsDirection(Direction, BufferBytes);
}

STDMETHODIMP UsbAudioAdapter::StopOsDirection(ULONG Direction) {
  m_Engine.StopOsDirection(Direction);
  return STATUS_SUCCESS;
}
