// UsbAudioAdapter: the slots the property handlers serve. Until those exist each answers
// STATUS_NOT_IMPLEMENTED with its slot number traced, so a caller that arrives early fails
// plainly.
#include "adapter_trace_points.h"
#include "usb_audio_adapter.h"

namespace {

NTSTATUS Unserved(ULONG slot) {
  TRACE_POINT(kTraceSlotNotImplemented, slot);
  return STATUS_NOT_IMPLEMENTED;
}

}  // namespace

STDMETHODIMP UsbAudioAdapter::HandleNodeProperty(PPCPROPERTY_REQUEST) {
  return Unserved(15);
}

STDMETHODIMP UsbAudioAdapter::HandleJackProperty(PPCPROPERTY_REQUEST) {
  return Unserved(16);
}

STDMETHODIMP UsbAudioAdapter::GetSignalProcessingModes(ULONG, GUID*, PULONG) {
  return Unserved(17);
}


