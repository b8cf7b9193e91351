// CUSBAudioControl: the configuration and the pipes of the current alternate settings.
#include "audio_control.h"
#include "audio_trace_points.h"
#include "usb_support.h"

namespace {

// The USB stack polls an isochronous pipe at the interval it is given; this driver schedules
// at most one packet per microframe group of 4 at high speed and one per frame at full speed.
VOID NormalisePipeInterval(PUSBD_PIPE_INFORMATION pipe, BOOLEAN highSpeed) {
  if (pipe->PipeType != UsbdPipeTypeIsochronous) return;
  if (highSpeed) {
    if (pipe->Interval == 0) pipe->Interval = 1;
    if (pipe->Interval > 4) pipe->Interval = 4;
  } else {
    pipe->Interval = 1;
  }
}

}  // namespace

PUSBD_PIPE_INFORMATION CUSBAudioControl::LinkPipe(const USB_ENDPOINT_DESCRIPTOR* endpoint,
                                                  NTSTATUS* status) {
  if (endpoint == nullptr) return nullptr;
  PUSBD_PIPE_INFORMATION pipe = m_Function.FindPipe(endpoint->bEndpointAddress);
  if (pipe == nullptr) {
    TRACE_POINT(kTracePipeMissing, 0, endpoint->bEndpointAddress);
    *status = STATUS_NOT_SUPPORTED;
    return nullptr;
  }
  NormalisePipeInterval(pipe, m_Function.IsHighSpeed());
  return pipe;
}

NTSTATUS CUSBAudioControl::LinkPipes() {
  NTSTATUS status = STATUS_SUCCESS;
  for (USBAudioStreamInterface* s = m_Model.FirstStreamInterface(); s != nullptr; s = s->Next) {
    const USBAudioAltSetting& setting = s->AltSettings[s->CurrentAltSetting];
    s->DataPipe = LinkPipe(setting.DataEndpoint, &status);
    s->FeedbackPipe = LinkPipe(setting.FeedbackEndpoint, &status);
  }
  return status;
}

NTSTATUS CUSBAudioControl::GetStreamPipe(ULONG direction, PDRMFORWARD forward) const {
  const USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  if (record == nullptr || record->DataPipe == nullptr || forward == nullptr) {
    TRACE_POINT(kTraceStreamPipeMissing, direction);
    return STATUS_UNSUCCESSFUL;
  }
  forward->Flags = 0;
  forward->DeviceObject = m_Function.TargetDevice();
  forward->FileObject = nullptr;
  forward->Context = record->DataPipe->PipeHandle;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::Configure() {
  PAGED_CODE();
  LONG count = 0;
  PUSBD_INTERFACE_LIST_ENTRY list = m_Model.Quirks().configureAllInterfaces
                                        ? m_Function.CreateInterfaceList(&count)
                                        : m_Model.CreateAudioInterfaceList(&count);
  if (list == nullptr) {
    TRACE_POINT(kTraceConfigureFailed, 1, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = m_Function.ConfigurationRequest(list, count);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceConfigureFailed, 2, status);
  for (USBAudioStreamInterface* s = m_Model.FirstStreamInterface();
       NT_SUCCESS(status) && s != nullptr; s = s->Next) {
    s->CurrentAltSetting = 0;
    status = m_Function.SelectAlternate(s->InterfaceNumber, 0);
    if (!NT_SUCCESS(status)) TRACE_POINT(kTraceConfigureFailed, 3, status);
  }
  if (NT_SUCCESS(status)) status = LinkPipes();
  FreeDriverPool(list);
  return status;
}
