// CStreamEngine: capture completions and the deferred procedure call that hands their data to
// the capture feeds. The completion only records and queues; the data moves in the DPC, in
// completion order.
#include "engine_trace_points.h"
#include "stream_engine.h"

VOID CStreamEngine::CaptureCompletion(NTSTATUS status, ULONG bytes, ULONG startFrame,
                                      PVOID callbackContext, ULONG durationMs) {
  auto* context = static_cast<TransferContext*>(callbackContext);
  CStreamEngine* engine = context->Engine;
  context->BusFrame = engine->QueryBusFrame();
  context->Status = status;
  context->BytesTransferred = bytes;
  context->StartFrame = startFrame;
  context->Count = durationMs;
  if (InterlockedExchange(&engine->m_FailNextCapture, 0) != 0) {
    TRACE_POINT(kTraceFailNextInjected, kDirectionCapture);
    context->Status = STATUS_UNSUCCESSFUL;
  }
  DirectionEvents& events = engine->m_Events[kDirectionCapture];
  const BOOLEAN running = KeReadStateEvent(&events.Running) != 0;
  const NTSTATUS checked =
      CheckContinuity(engine->m_Continuity[kDirectionCapture],
                      {engine->m_CaptureTransferMs, 8}, running, context->BusFrame, context->Status);
  if (checked != context->Status) ++engine->m_LostTime[kDirectionCapture];
  context->Status = checked;
  if (!running) KeSetEvent(&events.Running, IO_NO_INCREMENT, FALSE);
  if (NT_SUCCESS(context->Status)) {
    if (!engine->m_Device.AmdWorkaround) {
      for (CPlaybackEngine& playback : engine->m_Engines) {
        playback.CompletionNotice(bytes, startFrame + engine->m_CaptureTransferMs);
      }
    }
    if (engine->m_Model->IsImplicitFeedbackMode()) engine->SizeFromCapture(bytes);
  }
  KIRQL irql;
  KeAcquireSpinLock(&engine->m_CompletedLock, &irql);
  const BOOLEAN wasEmpty = IsListEmpty(&engine->m_CompletedCaptures);
  InsertTailList(&engine->m_CompletedCaptures, &context->FreeLink);
  KeReleaseSpinLock(&engine->m_CompletedLock, irql);
  if (wasEmpty) KeInsertQueueDpc(&engine->m_CaptureDpcObject, nullptr, nullptr);
}

VOID CStreamEngine::CaptureDpc(PKDPC, PVOID deferredContext, PVOID, PVOID) {
  static_cast<CStreamEngine*>(deferredContext)->DeliverCompletedCaptures();
}

VOID CStreamEngine::DeliverCompletedCaptures() {
  DirectionEvents& events = m_Events[kDirectionCapture];
  for (;;) {
    KeAcquireSpinLockAtDpcLevel(&m_CompletedLock);
    TransferContext* context =
        IsListEmpty(&m_CompletedCaptures)
            ? nullptr
            : CONTAINING_RECORD(RemoveHeadList(&m_CompletedCaptures), TransferContext, FreeLink);
    KeReleaseSpinLockFromDpcLevel(&m_CompletedLock);
    if (context == nullptr) return;
    const BOOLEAN run = KeReadStateEvent(&events.Run) != 0;
    if (!NT_SUCCESS(context->Status)) {
      TRACE_POINT(kTraceTransferFailed, kDirectionCapture, context->Status,
                  context->BytesTransferred);
      if (run) {
        for (CCaptureFeed& feed : m_Feeds) feed.Deliver(nullptr, 0);
      }
      if (IsDeviceGoneStatus(context->Status)) {
        MarkDeviceGone(context->Status);
        KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
      }
      KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
    } else if (run) {
      const ULONG frameBytes = m_UsbFormat[kDirectionCapture].FrameBytes;
      const ULONG frames = frameBytes != 0 ? context->BytesTransferred / frameBytes : 0;
      for (CCaptureFeed& feed : m_Feeds) feed.Deliver(context->Buffer, frames);
    }
    SubmitCapture(context);
  }
}
