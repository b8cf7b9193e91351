// CUSBAudioCL: the pipes of the current alternate settings.
#include "audio_trace_points.h"
#include "usb_audio_model.h"

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

PUSBD_PIPE_INFORMATION CUSBAudioCL::LinkPipe(const USB_ENDPOINT_DESCRIPTOR* endpoint,
                                             NTSTATUS* status) {
  if (endpoint == nullptr) return nullptr;
  PUSBD_PIPE_INFORMATION pipe = FindPipe(endpoint->bEndpointAddress);
  if (pipe == nullptr) {
    TRACE_POINT(kTracePipeMissing, 0, endpoint->bEndpointAddress);
    *status = STATUS_NOT_SUPPORTED;
    return nullptr;
  }
  NormalisePipeInterval(pipe, IsHighSpeed());
  return pipe;
}

NTSTATUS CUSBAudioCL::LinkPipes() {
  NTSTATUS status = STATUS_SUCCESS;
  for (USBAudioStreamInterface* s = m_StreamInterfaces; s != nullptr; s = s->Next) {
    const USBAudioAltSetting& setting = s->AltSettings[s->CurrentAltSetting];
    s->DataPipe = LinkPipe(setting.DataEndpoint, &status);
    s->FeedbackPipe = LinkPipe(setting.FeedbackEndpoint, &status);
  }
  return status;
}

NTSTATUS CUSBAudioCL::GetStreamPipe(ULONG direction, PDRMFORWARD forward) const {
  const USBAudioStreamInterface* record = StreamInterface(direction);
  if (record == nullptr || record->DataPipe == nullptr || forward == nullptr) {
    TRACE_POINT(kTraceStreamPipeMissing, direction);
    return STATUS_UNSUCCESSFUL;
  }
  forward->Flags = 0;
  forward->DeviceObject = TargetDevice();
  forward->FileObject = nullptr;
  forward->Context = record->DataPipe->PipeHandle;
  return STATUS_SUCCESS;
}
