// CIsoTransferEngine: building and sending the asynchronous requests of the streams. Every request
// is one URB in one IRP; what the completion needs travels in the request context.
#include "driver_pool.h"
#include "driver_settings.h"
#include "driver_types.h"
#include "iso_trace_points.h"
#include "iso_transfer_engine.h"
#include "iso_transfer_urb.h"
#include "length_header_packets.h"
#include "playback_packets.h"

namespace {

// Bulk and interrupt URBs are allocated with room to spare over the record, as every version of
// the USB stack accepts.
constexpr SIZE_T kBulkUrbBytes = 128;
static_assert(kBulkUrbBytes >= sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER));

BOOLEAN IsIsochronousPipe(const USBD_PIPE_INFORMATION& pipe) {
  return pipe.PipeType == UsbdPipeTypeIsochronous;
}

}  // namespace

USBRequestContext* CIsoTransferEngine::TakeRequestContext(PUSBD_PIPE_INFORMATION pipe, ULONG bytes,
                                                          PUSB_TRANSFER_CALLBACK callback,
                                                          PVOID callbackContext) {
  USBRequestContext* context = m_Port.AllocateRequestContext();
  if (context == nullptr) return nullptr;
  context->pipe = pipe;
  context->callback = callback;
  context->callbackContext = callbackContext;
  context->owner = this;
  context->requestedBytes = bytes;
  context->pipeInterval = pipe->Interval;
  return context;
}

VOID CIsoTransferEngine::ReleaseRequest(USBRequestContext* context) {
  if (PURB urb = context->urb) {
    if (urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER) {
      m_UrbCache.Give(m_Port.UsbdHandle(), urb, context->urbPackets);
    } else {
      FreeDriverPool(urb);
    }
  }
  if (context->separateBuffer != nullptr) {
    ExFreePoolWithTag(context->separateBuffer, kLengthHeaderPoolTag);
  }
  m_Port.FreeRequestContext(context);
}

NTSTATUS CIsoTransferEngine::TakeIsoUrb(USBRequestContext* context, ULONG packets) {
  context->urb = m_UrbCache.Take(m_Port.UsbdHandle(), packets, &context->urbPackets);
  return context->urb != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS CIsoTransferEngine::Submit(USBRequestContext* context, PIO_COMPLETION_ROUTINE routine) {
  PIRP irp = m_Port.GetIrp();
  if (irp == nullptr) {
    TRACE_POINT(kTraceIsoNoIrp, context->pipe->EndpointAddress);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
  next->Parameters.Others.Argument1 = context->urb;
  IoSetCompletionRoutine(irp, routine, context, TRUE, TRUE, TRUE);
  // The completion routine reports the outcome, whatever the call returns.
  IoCallDriver(m_Port.TargetDevice(), irp);
  return STATUS_SUCCESS;
}

NTSTATUS CIsoTransferEngine::SubmitPlayback(PVOID buffer, PMDL mdl, ULONG bytes, ULONG milliseconds,
                                            PUSB_TRANSFER_CALLBACK callback,
                                            PVOID callbackContext) {
  return SubmitPlayback(CurrentPlaybackPacing(), buffer, mdl, bytes, milliseconds, callback,
                        callbackContext);
}

NTSTATUS CIsoTransferEngine::SubmitPlayback(const PlaybackPacing& before, PVOID buffer, PMDL mdl,
                                            ULONG bytes, ULONG milliseconds,
                                            PUSB_TRANSFER_CALLBACK callback,
                                            PVOID callbackContext, BOOLEAN reserved) {
  IsoStreamValues* record = m_Streams.playback;
  if (record == nullptr || record->DataPipe == nullptr) {
    TRACE_POINT(kTraceIsoPipeMissing, Value(Direction::Playback));
    return STATUS_NOT_SUPPORTED;
  }
  if (buffer == nullptr && mdl == nullptr) {
    TRACE_POINT(kTraceIsoNoBuffer, record->DataPipe->EndpointAddress, bytes);
    return STATUS_INVALID_PARAMETER;
  }
  const BOOLEAN lengthHeader = m_Streams.lengthHeader;
  if (lengthHeader && record->FeedbackPipe != nullptr) {
    // Length headers are laid out along the rate pattern; a device that also paces itself
    // with feedback is not served.
    TRACE_POINT(kTraceIsoLengthHeaderWithFeedback, record->DataPipe->EndpointAddress);
    return STATUS_UNSUCCESSFUL;
  }
  USBRequestContext* context =
      TakeRequestContext(record->DataPipe, bytes, callback, callbackContext);
  if (context == nullptr) return STATUS_INSUFFICIENT_RESOURCES;

  // The layout is computed on a copy of the pacing snapshot. The copy is committed before the
  // IRP goes down (a completion may resubmit at once) and the snapshot taken back when there is
  // no IRP, so a refused request leaves the stream where it was.
  const IsoStreamShape shape = PlaybackShape();
  PlaybackPacing pacing = before;
  PlaybackPacing counting = before;
  const ULONG packets = ::BuildPlaybackPackets(shape, counting, bytes, milliseconds, nullptr, 0);
  NTSTATUS status = STATUS_SUCCESS;
  if (packets == 0) {
    TRACE_POINT(kTraceIsoNoLayout, bytes, milliseconds);
    status = STATUS_INVALID_PARAMETER;
  } else if (lengthHeader) {
    context->separateBufferSize = LengthHeaderBufferBytes(bytes, packets);
    context->separateBuffer =
        context->separateBufferSize == 0
            ? nullptr
            : ExAllocatePoolWithTag(DriverPoolType(), context->separateBufferSize,
                                    kLengthHeaderPoolTag);
    if (context->separateBuffer == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(status)) {
    status = TakeIsoUrb(context, packets);
  }
  if (NT_SUCCESS(status)) {
    auto& iso = context->urb->UrbIsochronousTransfer;
    iso.PipeHandle = record->DataPipe->PipeHandle;
    iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = buffer;
    iso.TransferBufferMDL = mdl;
    iso.TransferBufferLength = bytes;
    iso.NumberOfPackets = packets;
    iso.StartFrame = 0;
    if (lengthHeader) {
      status = FillLengthHeaderRequest(context, buffer, mdl, bytes, pacing);
    } else if (::BuildPlaybackPackets(shape, pacing, bytes, milliseconds, iso.IsoPacket, packets) !=
               packets) {
      TRACE_POINT(kTraceIsoNoLayout, bytes, milliseconds);
      status = STATUS_UNSUCCESSFUL;
    }
  }
  if (NT_SUCCESS(status)) {
    if (!reserved) CommitPlaybackPacing(pacing);
    status = Submit(context, TransferCompletionRoutine);
    if (!NT_SUCCESS(status) && !reserved) CommitPlaybackPacing(before);
  }
  if (!NT_SUCCESS(status)) ReleaseRequest(context);
  return status;
}

NTSTATUS CIsoTransferEngine::FillLengthHeaderRequest(USBRequestContext* context, PVOID buffer,
                                                     PMDL mdl, ULONG bytes,
                                                     PlaybackPacing& pacing) {
  if (context->separateBuffer == nullptr) return STATUS_UNSUCCESSFUL;
  const UCHAR* audio = static_cast<const UCHAR*>(buffer);
  if (audio == nullptr) {
    // The copy reads `bytes` through the MDL, so it must describe at least that many.
    if (MmGetMdlByteCount(mdl) < bytes) {
      TRACE_POINT(kTraceIsoNoBuffer, MmGetMdlByteCount(mdl), bytes);
      return STATUS_INVALID_PARAMETER;
    }
    audio = static_cast<const UCHAR*>(
        MmGetSystemAddressForMdlSafe(mdl, SettingsForSystem().MappingPriority));
    if (audio == nullptr) {
      TRACE_POINT(kTraceIsoMappingFailed, bytes);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
  }
  auto& iso = context->urb->UrbIsochronousTransfer;
  iso.TransferBuffer = context->separateBuffer;
  iso.TransferBufferMDL = nullptr;
  iso.TransferBufferLength = BuildLengthHeaderPackets(
      PlaybackShape(), pacing, audio, bytes, static_cast<PUCHAR>(context->separateBuffer),
      context->separateBufferSize, iso.IsoPacket, iso.NumberOfPackets);
  return STATUS_SUCCESS;
}

NTSTATUS CIsoTransferEngine::BuildPipeIsochRequest(USBRequestContext* context, ULONG packets,
                                                   PVOID buffer, ULONG transferFlags,
                                                   ULONG startFrame) {
  const USBD_PIPE_INFORMATION& pipe = *context->pipe;
  if (packets == 0) {
    TRACE_POINT(kTraceIsoNoLayout, context->requestedBytes, pipe.MaximumPacketSize);
    return STATUS_INVALID_PARAMETER;
  }
  if (!NT_SUCCESS(TakeIsoUrb(context, packets))) return STATUS_INSUFFICIENT_RESOURCES;
  FillPipeIsochUrb(context->urb->UrbIsochronousTransfer, pipe, buffer, context->requestedBytes,
                   transferFlags, startFrame, packets);
  return STATUS_SUCCESS;
}

NTSTATUS CIsoTransferEngine::SubmitCapture(PVOID buffer, ULONG bytes,
                                           PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext) {
  IsoStreamValues* record = m_Streams.capture;
  if (record == nullptr) {
    TRACE_POINT(kTraceIsoInterfaceMissing, Value(Direction::Capture));
    return STATUS_INVALID_PARAMETER;
  }
  if (record->DataPipe == nullptr) {
    TRACE_POINT(kTraceIsoPipeMissing, Value(Direction::Capture));
    return STATUS_NOT_SUPPORTED;
  }
  return TransferPipe(record->DataPipe, buffer, bytes, kIsoReadFlags, callback, callbackContext, 0);
}

NTSTATUS CIsoTransferEngine::TransferPipe(PUSBD_PIPE_INFORMATION pipe, PVOID buffer, ULONG bytes,
                                          ULONG transferFlags, PUSB_TRANSFER_CALLBACK callback,
                                          PVOID callbackContext, ULONG startFrame) {
  if (pipe == nullptr) return STATUS_INVALID_PARAMETER;
  if (buffer == nullptr && bytes != 0) {
    TRACE_POINT(kTraceIsoNoBuffer, pipe->EndpointAddress, bytes);
    return STATUS_INVALID_PARAMETER;
  }
  USBRequestContext* context = TakeRequestContext(pipe, bytes, callback, callbackContext);
  if (context == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = STATUS_SUCCESS;
  if (IsIsochronousPipe(*pipe)) {
    status =
        BuildPipeIsochRequest(context, PipeTransferPacketCount(*pipe, bytes, m_Port.IsHighSpeed()),
                              buffer, transferFlags, startFrame);
  } else {
    context->urb = static_cast<PURB>(AllocateDriverPool(kBulkUrbBytes));
    if (context->urb == nullptr) {
      status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
      FillBulkOrInterruptUrb(context->urb, *pipe, buffer, bytes, transferFlags);
    }
  }
  if (NT_SUCCESS(status)) status = Submit(context, TransferCompletionRoutine);
  if (!NT_SUCCESS(status)) ReleaseRequest(context);
  return status;
}

ULONG CIsoTransferEngine::GetFeedbackBufferSize() const {
  const IsoStreamValues* record = m_Streams.playback;
  return FeedbackBufferSize(record != nullptr ? record->FeedbackPipe : nullptr,
                            m_Port.IsHighSpeed());
}

NTSTATUS CIsoTransferEngine::RecvFeedback(PVOID buffer, ULONG bytes,
                                          PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext) {
  IsoStreamValues* record = m_Streams.playback;
  PUSBD_PIPE_INFORMATION pipe = record != nullptr ? record->FeedbackPipe : nullptr;
  if (pipe == nullptr || !IsIsochronousPipe(*pipe)) {
    TRACE_POINT(kTraceIsoPipeMissing, Value(Direction::Playback));
    return STATUS_INVALID_PARAMETER;
  }
  if (buffer == nullptr || bytes == 0) {
    TRACE_POINT(kTraceIsoNoBuffer, pipe->EndpointAddress, bytes);
    return STATUS_INVALID_PARAMETER;
  }
  USBRequestContext* context = TakeRequestContext(pipe, bytes, callback, callbackContext);
  if (context == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = BuildPipeIsochRequest(context, FeedbackReadPacketCount(*pipe, bytes), buffer,
                                          kIsoReadFlags, 0);
  if (NT_SUCCESS(status)) status = Submit(context, _RecvFeedbackCompletionRoutine);
  if (!NT_SUCCESS(status)) ReleaseRequest(context);
  return status;
}
