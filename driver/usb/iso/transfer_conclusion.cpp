#include "transfer_conclusion.h"

#include "feedback_value.h"
#include "iso_trace_points.h"
#include "iso_transfer_urb.h"

namespace {

VOID TraceFailedIsoUrb(NTSTATUS irpStatus, const struct _URB_ISOCH_TRANSFER& iso) {
  TRACE_POINT(kTraceIsoTransferFailed, static_cast<ULONG>(irpStatus),
              static_cast<ULONG>(iso.Hdr.Status), iso.StartFrame, iso.NumberOfPackets,
              iso.ErrorCount, iso.TransferBufferLength, iso.TransferFlags);
  for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
    TRACE_POINT(kTraceIsoPacketFailed, k, iso.IsoPacket[k].Offset, iso.IsoPacket[k].Length,
                static_cast<ULONG>(iso.IsoPacket[k].Status));
  }
}

BOOLEAN IsIsochronous(PURB urb) {
  return urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER;
}

}  // namespace

TransferConclusion ConcludeTransfer(NTSTATUS irpStatus, PURB urb, const TransferFacts& facts) {
  TransferConclusion result{irpStatus, 0, 0, 0};
  if (!IsIsochronous(urb)) {
    if (NT_SUCCESS(irpStatus)) {
      result.bytes = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
    } else {
      TRACE_POINT(kTraceBulkTransferFailed, static_cast<ULONG>(irpStatus),
                  static_cast<ULONG>(urb->UrbHeader.Status));
    }
    return result;
  }
  auto& iso = urb->UrbIsochronousTransfer;
  const BOOLEAN in = USBD_TRANSFER_DIRECTION_FLAG(iso.TransferFlags) == USBD_TRANSFER_DIRECTION_IN;
  if (!NT_SUCCESS(irpStatus)) {
    TraceFailedIsoUrb(irpStatus, iso);
  } else if (in) {
    const CaptureResult capture = FinishCaptureTransfer(irpStatus, iso, facts.submittedBytes);
    result = {capture.status, capture.bytes, iso.StartFrame, 0};
  } else {
    // A length-header request sent the headers too; its caller asked for the audio alone.
    result.bytes = facts.separateBuffer ? facts.callerBytes : iso.TransferBufferLength;
    result.startFrame = iso.StartFrame;
  }
  result.durationMs =
      IsoTransferDurationMs(iso.NumberOfPackets, facts.pipeInterval, facts.bcdUSB, facts.highSpeed);
  return result;
}

FeedbackConclusion ConcludeFeedbackRead(NTSTATUS irpStatus, PURB urb, const UCHAR* buffer,
                                        ULONG bufferBytes, ULONG& lastRaw) {
  auto& iso = urb->UrbIsochronousTransfer;
  if (!NT_SUCCESS(irpStatus)) {
    TraceFailedIsoUrb(irpStatus, iso);
    return {irpStatus, 0, 0};
  }
  const FeedbackRead read{iso.IsoPacket, iso.NumberOfPackets, buffer, bufferBytes,
                          iso.TransferBufferLength};
  return {irpStatus, buffer == nullptr ? 0 : DecodeFeedback(read, lastRaw), iso.StartFrame};
}
