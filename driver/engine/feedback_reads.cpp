// CStreamEngine: the reads of an explicit feedback endpoint. Each good value, checked against a
// window around the nominal rate, becomes the feedback the next playback transfers are sized
// by; the first one releases the playback credits.
#include "driver_pool.h"
#include "engine_trace_points.h"
#include "stream_engine.h"

namespace {

constexpr ULONG kFeedbackWindow = 0x10000;  // one frame per step, 16.16

}  // namespace

VOID CStreamEngine::SubmitFeedbackRead(TransferContext* context) {
  const BOOLEAN allowed = KeReadStateEvent(&m_Events[kDirectionPlayback].Reset) == 0 &&
                          KeReadStateEvent(&m_Events[kDirectionPlayback].Stop) == 0 &&
                          KeReadStateEvent(&m_FeedbackRun) != 0;
  const ULONG bytes = m_Model->GetFeedbackBufferSize();
  NTSTATUS status = allowed && bytes != 0 ? STATUS_SUCCESS : STATUS_CANCELLED;
  if (NT_SUCCESS(status) && context == nullptr) {
    context = TakeContext();
    if (context != nullptr) {
      context->IndexAndFlags = kContextFeedback;
      context->RequestedBytes = bytes;
      context->Buffer = static_cast<PUCHAR>(AllocateDriverPool(bytes));
    }
    if (context == nullptr || context->Buffer == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(status)) {
    status = m_Model->RecvFeedback(context->Buffer, bytes, FeedbackCompletion, context);
    if (NT_SUCCESS(status)) return;
    TRACE_POINT(kTraceSubmitFailed, 2u, status);
    KeSetEvent(&m_Events[kDirectionPlayback].Reset, IO_NO_INCREMENT, FALSE);
  }
  if (context != nullptr) {
    FreeDriverPool(context->Buffer);
    ExFreeToLookasideListEx(&m_ContextPool, context);
  }
  KeReleaseSemaphore(&m_Credits[kFeedback], IO_NO_INCREMENT, 1, FALSE);
  UncountOutstanding(kFeedback);
}

VOID CStreamEngine::FeedbackCompletion(NTSTATUS status, ULONG bytes, ULONG, PVOID callbackContext,
                                       ULONG) {
  auto* context = static_cast<TransferContext*>(callbackContext);
  context->Engine->CompleteFeedbackRead(context, status, bytes);
}

VOID CStreamEngine::CompleteFeedbackRead(TransferContext* context, NTSTATUS status,
                                         ULONG average) {
  DirectionEvents& events = m_Events[kDirectionPlayback];
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceTransferFailed, 2u, status, 0u);
    if (IsDeviceGoneStatus(status)) {
      MarkDeviceGone(status);
      KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
    }
    KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
    QueueResubmit(context, kFeedback);
    return;
  }
  const ULONG nominal = m_Model->NominalFeedback(kDirectionPlayback);
  ULONG value = average;
  if (value == 0 || value < kFeedbackWindow || value + kFeedbackWindow < nominal ||
      value > nominal + kFeedbackWindow) {
    TRACE_POINT(kTraceFeedbackReplaced, value, nominal);
    value = nominal;
  }
  m_Model->StorePlaybackFeedback(value);
  if (InterlockedExchange(&m_FeedbackSeen, 1) == 0) {
    KeReleaseSemaphore(&m_Credits[kPlayback], IO_NO_INCREMENT,
                       static_cast<LONG>(m_PlaybackTransfersInFlight), FALSE);
  }
  SubmitFeedbackRead(context);
}
