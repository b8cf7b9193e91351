// UsbAudioAdapter: the slots the stream engine, the filter description and the property
// handlers serve. Until those exist each answers STATUS_NOT_IMPLEMENTED with its slot number
// traced, so a caller that arrives early fails plainly.
#include "adapter_trace_points.h"
#include "usb_audio_adapter.h"

namespace {

NTSTATUS Unserved(ULONG slot) {
  TRACE_POINT(kTraceSlotNotImplemented, slot);
  return STATUS_NOT_IMPLEMENTED;
}

}  // namespace

STDMETHODIMP UsbAudioAdapter::ClaimDirections(BOOLEAN, BOOLEAN, BOOLEAN) {
  return Unserved(4);
}

STDMETHODIMP UsbAudioAdapter::ReleaseDirections(BOOLEAN, BOOLEAN) {
  return Unserved(5);
}

STDMETHODIMP UsbAudioAdapter::SetOsFormat(ULONG, USHORT, ULONG, ULONG, ULONG) {
  return Unserved(8);
}

STDMETHODIMP UsbAudioAdapter::ClearOsFormat(ULONG) {
  return Unserved(9);
}

STDMETHODIMP UsbAudioAdapter::QueuePlaybackChunk(PVOID, ULONG) {
  return Unserved(10);
}

STDMETHODIMP UsbAudioAdapter::QueueCaptureChunk(PVOID, ULONG) {
  return Unserved(11);
}

STDMETHODIMP UsbAudioAdapter::FlushPlaybackChunks() {
  return Unserved(12);
}

STDMETHODIMP UsbAudioAdapter::FlushCaptureChunks() {
  return Unserved(13);
}

STDMETHODIMP UsbAudioAdapter::HandleNodeProperty(PPCPROPERTY_REQUEST) {
  return Unserved(15);
}

STDMETHODIMP UsbAudioAdapter::HandleJackProperty(PPCPROPERTY_REQUEST) {
  return Unserved(16);
}

STDMETHODIMP UsbAudioAdapter::GetSignalProcessingModes(ULONG, GUID*, PULONG) {
  return Unserved(17);
}

STDMETHODIMP UsbAudioAdapter::BuildFilterDescriptor(FilterDescriptorBlock*) {
  return Unserved(22);
}

STDMETHODIMP UsbAudioAdapter::FreeFilterDescriptor(FilterDescriptorBlock*) {
  return Unserved(23);
}

STDMETHODIMP UsbAudioAdapter::StartOsDirection(ULONG, ULONG) {
  return Unserved(24);
}

STDMETHODIMP UsbAudioAdapter::StopOsDirection(ULONG) {
  return Unserved(25);
}
