// CIsoTransferEngine: the completion routines of the asynchronous requests. They run at
// DISPATCH_LEVEL, report to the stream engine's callback and keep the IRP for the pool.
#include "iso_trace_points.h"
#include "iso_transfer_engine.h"
#include "transfer_conclusion.h"

namespace {

// The request an IRP completes, or null (traced) when its context is not a whole request.
USBRequestContext* CompletedRequest(PIRP irp, PVOID context) {
  auto* request = static_cast<USBRequestContext*>(context);
  if (request == nullptr || request->urb == nullptr || request->owner == nullptr) {
    TRACE_POINT(kTraceIsoCompletionWithoutRequest, static_cast<ULONG>(irp->IoStatus.Status));
    return nullptr;
  }
  return request;
}

}  // namespace

NTSTATUS CIsoTransferEngine::TransferCompletionRoutine(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  if (USBRequestContext* request = CompletedRequest(irp, context)) {
    request->owner->CompleteTransfer(irp, request);
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS CIsoTransferEngine::_RecvFeedbackCompletionRoutine(PDEVICE_OBJECT, PIRP irp,
                                                            PVOID context) {
  if (USBRequestContext* request = CompletedRequest(irp, context)) {
    request->owner->CompleteFeedbackRead(irp, request);
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

VOID CIsoTransferEngine::TraceCurrentBusFrame(PURB urb) {
  ULONG frame = 0;
  if (!m_Port.QueryBusFrame(&frame)) return;
  TRACE_POINT(kTraceIsoBadStartFrame, urb->UrbIsochronousTransfer.StartFrame, frame);
}

VOID CIsoTransferEngine::CompleteTransfer(PIRP irp, USBRequestContext* request) {
  const NTSTATUS irpStatus = irp->IoStatus.Status;
  PURB urb = request->urb;
  if (!NT_SUCCESS(irpStatus) && urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER &&
      urb->UrbHeader.Status == USBD_STATUS_BAD_START_FRAME) {
    TraceCurrentBusFrame(urb);
  }
  const TransferFacts facts{m_Port.IsHighSpeed(),    m_Port.UsbVersion(),
                            request->pipeInterval,   request->requestedBytes,
                            request->requestedBytes, request->separateBuffer != nullptr};
  TransferConclusion result = ConcludeTransfer(irpStatus, urb, facts);
  result.status = ValidateIsoCompletion(result.status, urb);
  // The request is released before the callback, so a resubmission from the callback finds
  // its context in the look-aside list; the IRP goes back to the pool last.
  const PUSB_TRANSFER_CALLBACK callback = request->callback;
  const PVOID callbackContext = request->callbackContext;
  ReleaseRequest(request);
  if (callback != nullptr) {
    callback(result.status, result.bytes, result.startFrame, callbackContext, result.durationMs);
  }
  m_Port.ReturnIrp(irp);
}

VOID CIsoTransferEngine::CompleteFeedbackRead(PIRP irp, USBRequestContext* request) {
  IsoStreamValues* record = m_Streams.playback;
  auto& iso = request->urb->UrbIsochronousTransfer;
  // Reads always carry the caller's buffer; it is read no further than the size it was
  // submitted with, whatever the controller reports.
  ULONG lastRaw = 0;
  KIRQL irql;
  if (record != nullptr) {
    KeAcquireSpinLock(&record->FeedbackLock, &irql);
    lastRaw = record->FeedbackLastRaw;
    KeReleaseSpinLock(&record->FeedbackLock, irql);
  }
  const FeedbackConclusion result = ConcludeFeedbackRead(
      irp->IoStatus.Status, request->urb, static_cast<const UCHAR*>(iso.TransferBuffer),
      request->requestedBytes, lastRaw);
  if (record != nullptr) {
    KeAcquireSpinLock(&record->FeedbackLock, &irql);
    record->FeedbackLastRaw = lastRaw;
    KeReleaseSpinLock(&record->FeedbackLock, irql);
  }
  const PUSB_TRANSFER_CALLBACK callback = request->callback;
  const PVOID callbackContext = request->callbackContext;
  ReleaseRequest(request);
  if (callback != nullptr) {
    callback(result.status, result.average, result.startFrame, callbackContext, 0);
  }
  m_Port.ReturnIrp(irp);
}

NTSTATUS CIsoTransferEngine::ValidateIsoCompletion(NTSTATUS status, PURB urb) const {
  if (urb == nullptr || urb->UrbHeader.Function != URB_FUNCTION_ISOCH_TRANSFER) return status;
  const IsoStreamValues* capture = m_Streams.capture;
  if (capture == nullptr) {
    return ValidateCapturePackets(status, urb->UrbIsochronousTransfer, nullptr);
  }
  const CapturePacketWindow window{
      capture->MinimumPacketBytes > 0 ? static_cast<ULONG>(capture->MinimumPacketBytes) : 0,
      capture->MaximumPacketBytes > 0 ? static_cast<ULONG>(capture->MaximumPacketBytes) : 0};
  return ValidateCapturePackets(status, urb->UrbIsochronousTransfer, &window);
}
