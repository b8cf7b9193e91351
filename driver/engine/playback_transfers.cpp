// CStreamEngine: submitting playback transfers and completing them. A completed transfer is
// refilled and resubmitted from its completion, so the pipeline keeps its depth without the
// worker; a failed one goes back through a work item while the worker recovers.
#include "engine_trace_points.h"
#include "stream_engine.h"
#include "transfer_settings.h"

namespace {

constexpr ULONG kDumpPlayback = 0xFFFFFFFE;

// Sixteen bytes a record, each with its offset and the transfer's length: a length that is not
// a whole number of records ends in a record padded with zeros, which the length tells apart.
VOID DumpTransfer(const UCHAR* buffer, ULONG bytes) {
  for (ULONG offset = 0; offset < bytes; offset += 16) {
    ULONG words[4] = {};
    RtlCopyMemory(words, buffer + offset, bytes - offset < 16 ? bytes - offset : 16);
    TRACE_POINT(kTracePlaybackDump, offset, bytes, words[0], words[1], words[2], words[3]);
  }
}

}  // namespace

VOID CStreamEngine::DeclinePlayback(TransferContext* context) {
  if (context != nullptr) {
    KIRQL irql;
    KeAcquireSpinLock(&m_ContextLock, &irql);
    InsertHeadList(&m_FreePlayback, &context->FreeLink);
    KeReleaseSpinLock(&m_ContextLock, irql);
  }
  KeReleaseSemaphore(&m_Credits[kPlayback], IO_NO_INCREMENT, 1, FALSE);
  UncountOutstanding(kPlayback);
}

VOID CStreamEngine::SubmitPlayback(TransferContext* completed) {
  DirectionEvents& events = m_Events[kDirectionPlayback];
  const BOOLEAN ahead = m_Device.AmdWorkaround;
  KIRQL irql;
  KeAcquireSpinLock(&m_ContextLock, &irql);
  const BOOLEAN refused =
      KeReadStateEvent(&events.Run) == 0 || KeReadStateEvent(&events.Reset) != 0 ||
      (KeReadStateEvent(&events.Stop) != 0 && m_Chunks.IsEmpty(kDirectionPlayback));
  if (completed != nullptr) {
    // Written ahead again only while the pipeline runs: a recovery hands every transfer anew.
    if (ahead && !refused) PlayedAhead(completed);
    InsertTailList(&m_FreePlayback, &completed->FreeLink);
  }
  if (refused || IsListEmpty(&m_FreePlayback)) {
    KeReleaseSpinLock(&m_ContextLock, irql);
    if (refused) {
      DeclinePlayback(nullptr);
    } else {
      // More credits than contexts (some could not be allocated): the credit is retired until
      // the next recovery, so the worker does not spin on it.
      UncountOutstanding(kPlayback);
    }
    return;
  }
  TransferContext* context =
      CONTAINING_RECORD(RemoveHeadList(&m_FreePlayback), TransferContext, FreeLink);
  // The pacing snapshot and the submission stay together under the lock: the transfer engine's
  // pacing state advances with every playback request, so requests must go out in the order
  // their sizes were taken.
  // Written ahead, a transfer carries the length and pacing it was handed to the engines with.
  const PlaybackPacing pacing = ahead ? context->Pacing : m_Model->LatchPlaybackPacing();
  const ULONG length = ahead ? context->RequestedBytes
                       : m_Model->IsImplicitFeedbackMode()
                           ? ImplicitLength(context)
                           : m_Model->TransferBytes(pacing, m_PlaybackTransferMs);
  context->FeedbackUsed = pacing.feedback;
  NTSTATUS status = STATUS_SUCCESS;
  if (length == 0) {
    TRACE_POINT(kTraceZeroLength);
    KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
    status = STATUS_UNSUCCESSFUL;
  } else if (length > m_MaxTransferBytes[kDirectionPlayback]) {
    // Only a broken pacing value gets here; the recovery starts it from nominal again.
    TRACE_POINT(kTraceTransferTooLong, length, m_MaxTransferBytes[kDirectionPlayback]);
    KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
    status = STATUS_BUFFER_OVERFLOW;
  }
  if (NT_SUCCESS(status)) {
    if (ahead) {
      for (CPlaybackEngine& engine : m_Engines) engine.RetirePending(context);
    } else {
      context->RequestedBytes = length;
      RtlFillMemory(context->Buffer, length, FillByte());
      for (CPlaybackEngine& engine : m_Engines) engine.DirectWrite(context);
    }
    if (g_TransferSettings.DumpCapture == kDumpPlayback) DumpTransfer(context->Buffer, length);
    context->IndexAndFlags |= kContextInFlight;
    InterlockedIncrement(&m_PlaybackInFlight);
    // The engines learn of the transfer before the bus can complete it.
    if (!ahead) {
      for (CPlaybackEngine& engine : m_Engines) engine.AddPending(context);
    }
    status = m_Model->SubmitPlayback(pacing, context->Buffer, context->Mdl, length,
                                     m_PlaybackTransferMs, PlaybackCompletion, context, ahead);
    if (!NT_SUCCESS(status)) {
      TRACE_POINT(kTraceSubmitFailed, kDirectionPlayback, status);
      if (!ahead) {
        for (CPlaybackEngine& engine : m_Engines) engine.RemovePending(context);
      }
      KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
      InterlockedDecrement(&m_PlaybackInFlight);
      context->IndexAndFlags &= ~kContextInFlight;
    }
  }
  KeReleaseSpinLock(&m_ContextLock, irql);
  if (!NT_SUCCESS(status)) DeclinePlayback(context);
}

VOID CStreamEngine::PlaybackCompletion(NTSTATUS status, ULONG bytes, ULONG startFrame,
                                       PVOID callbackContext, ULONG durationMs) {
  auto* context = static_cast<TransferContext*>(callbackContext);
  context->Status = status;
  context->BytesTransferred = bytes;
  context->StartFrame = startFrame;
  context->Count = durationMs;
  context->Engine->CompletePlayback(context);
}

VOID CStreamEngine::CompletePlayback(TransferContext* context) {
  DirectionEvents& events = m_Events[kDirectionPlayback];
  context->BusFrame = QueryBusFrame();
  InterlockedDecrement(&m_PlaybackInFlight);
  context->IndexAndFlags &= ~kContextInFlight;
  NTSTATUS status = context->Status;
  if (InterlockedExchange(&m_FailNextPlayback, 0) != 0) {
    TRACE_POINT(kTraceFailNextInjected, kDirectionPlayback);
    status = STATUS_UNSUCCESSFUL;
  }
  const BOOLEAN running = KeReadStateEvent(&events.Running) != 0;
  const NTSTATUS checked = CheckContinuity(
      m_Continuity[kDirectionPlayback], {m_PlaybackTransferMs, m_PlaybackTransfersInFlight},
      running, context->BusFrame, status);
  if (checked != status) ++m_LostTime[kDirectionPlayback];
  status = checked;
  if (!running) KeSetEvent(&events.Running, IO_NO_INCREMENT, FALSE);
  if (context->BytesTransferred != context->RequestedBytes) {
    TRACE_POINT(kTraceTransferShort, context->BytesTransferred, context->RequestedBytes);
    KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
  }
  // Written ahead, the transfer tells the engines what it played as it goes out again.
  if (!m_Device.AmdWorkaround) {
    for (CPlaybackEngine& engine : m_Engines) {
      engine.TransferCompleted(context, context->BytesTransferred,
                               context->StartFrame + context->Count);
    }
  }
  if (NT_SUCCESS(status)) {
    SubmitPlayback(context);
    return;
  }
  TRACE_POINT(kTraceTransferFailed, kDirectionPlayback, status, context->BusFrame);
  if (IsDeviceGoneStatus(status)) {
    MarkDeviceGone(status);
    KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
  }
  KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
  QueueResubmit(context, kPlayback);
}

VOID CStreamEngine::QueueResubmit(TransferContext* context, Kind kind) {
  context->WorkItem = IoAllocateWorkItem(m_Device.DeviceObject);
  if (context->WorkItem != nullptr) {
    IoQueueWorkItem(context->WorkItem, ResubmitWorkItem, DelayedWorkQueue, context);
    return;
  }
  TRACE_POINT(kTraceWorkItemMissing, kind);
  if (kind == kPlayback) {
    DeclinePlayback(context);
  } else {
    SubmitFeedbackRead(context);  // refused while the reset event is set
  }
}

VOID CStreamEngine::ResubmitWorkItem(PDEVICE_OBJECT, PVOID callbackContext) {
  auto* context = static_cast<TransferContext*>(callbackContext);
  PIO_WORKITEM item = context->WorkItem;
  context->WorkItem = nullptr;
  CStreamEngine* engine = context->Engine;
  if ((context->IndexAndFlags & kContextFeedback) != 0) {
    engine->SubmitFeedbackRead(context);
  } else {
    engine->SubmitPlayback(context);
  }
  IoFreeWorkItem(item);
}
