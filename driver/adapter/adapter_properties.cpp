// UsbAudioAdapter: the kernel-streaming properties that reach the device (jacks, volume, mute)
// and the pins' signal-processing modes. Each is answered against the filter of the miniport
// it concerns: the one a request is addressed to, or the registered one for the modes.
#include "adapter_trace_points.h"
#include "device_property_handlers.h"
#include "miniport_stream_control.h"
#include "usb_audio_adapter.h"

namespace {

// Runs answer(filter) against the description of a miniport of this driver; a target that is
// none gets STATUS_INVALID_DEVICE_REQUEST.
template <typename Answer>
NTSTATUS WithFilterOf(PUNKNOWN target, Answer answer) {
  PVOID control = nullptr;
  if (target == nullptr ||
      !NT_SUCCESS(target->QueryInterface(IID_IMiniportStreamControl, &control))) {
    TRACE_POINT(kTraceAdapterRefused, STATUS_INVALID_DEVICE_REQUEST);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  auto* miniport = static_cast<PMINIPORTSTREAMCONTROL>(control);
  PPCFILTER_DESCRIPTOR filter = nullptr;
  NTSTATUS status = miniport->GetDescription(&filter);
  if (NT_SUCCESS(status)) status = filter != nullptr ? answer(*filter) : STATUS_INVALID_DEVICE_STATE;
  miniport->Release();
  return status;
}

}  // namespace

STDMETHODIMP UsbAudioAdapter::HandleNodeProperty(PPCPROPERTY_REQUEST Request) {
  if (Request == nullptr) return STATUS_INVALID_PARAMETER;
  return WithFilterOf(Request->MajorTarget, [&](const PCFILTER_DESCRIPTOR& filter) {
    return HandleNodeRequest(m_Model, filter, Request);
  });
}

STDMETHODIMP UsbAudioAdapter::HandleJackProperty(PPCPROPERTY_REQUEST Request) {
  if (Request == nullptr) return STATUS_INVALID_PARAMETER;
  return WithFilterOf(Request->MajorTarget, [&](const PCFILTER_DESCRIPTOR& filter) {
    return HandleJackRequest(filter, Request);
  });
}

STDMETHODIMP UsbAudioAdapter::GetSignalProcessingModes(ULONG Pin, GUID* Modes, PULONG Count) {
  PMINIPORTSTREAMCONTROL miniport = m_Engine.ReferenceMiniport();
  NTSTATUS status = WithFilterOf(miniport, [&](const PCFILTER_DESCRIPTOR& filter) {
    return ListSignalProcessingModes(filter, Pin, Modes, Count);
  });
  if (miniport != nullptr) miniport->Release();
  return status;
}
