// CStreamEngine: the playback worker. It owns the playback transfer contexts, hands out one
// transfer (or feedback read) per credit, and rebuilds the pipeline when a completion asks for
// it: everything drains, the pipes are reset, and the stream restarts after a pause that lets
// the device's FIFO run empty, from the engines' latency targets.
#include "driver_pool.h"
#include "engine_trace_points.h"
#include "stream_engine.h"

namespace {

constexpr LONGLONG kRecoveryPause = -25LL * 10000;  // 25 ms

VOID WaitForever(PVOID object) {
  KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr);
}

}  // namespace

VOID CStreamEngine::PlaybackWorkerEntry(PVOID context) {
  static_cast<CStreamEngine*>(context)->PlaybackWorker();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS CStreamEngine::AllocatePlaybackContexts() {
  // With the controller workaround the transfers waiting to go out are written ahead, so
  // there are as many of them again as in flight, and one more.
  const ULONG count = m_Device.AmdWorkaround ? 2 * m_PlaybackTransfersInFlight + 1
                                             : m_PlaybackTransfersInFlight;
  const ULONG bytes = m_MaxTransferBytes[kDirectionPlayback];
  m_PlaybackContextCount = 0;
  for (ULONG index = 0; index < count; ++index) {
    TransferContext* context = TakeContext();
    if (context == nullptr) continue;
    context->Buffer = static_cast<PUCHAR>(AllocateDriverPool(bytes));
    context->Mdl = context->Buffer != nullptr
                       ? IoAllocateMdl(context->Buffer, bytes, FALSE, FALSE, nullptr)
                       : nullptr;
    if (context->Mdl == nullptr) {
      TRACE_POINT(kTraceContextAllocFailed, index);
      FreeDriverPool(context->Buffer);
      ExFreeToLookasideListEx(&m_ContextPool, context);
      continue;
    }
    MmBuildMdlForNonPagedPool(context->Mdl);
    context->IndexAndFlags = index;
    m_PlaybackContexts[m_PlaybackContextCount++] = context;
  }
  FillContexts();
  return m_PlaybackContextCount != 0 ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

VOID CStreamEngine::FillContexts() {
  KIRQL irql;
  KeAcquireSpinLock(&m_ContextLock, &irql);
  InitializeListHead(&m_FreePlayback);
  for (ULONG index = 0; index < m_PlaybackContextCount; ++index) {
    TransferContext* context = m_PlaybackContexts[index];
    RtlFillMemory(context->Buffer, m_MaxTransferBytes[kDirectionPlayback], FillByte());
    InsertTailList(&m_FreePlayback, &context->FreeLink);
  }
  KeReleaseSpinLock(&m_ContextLock, irql);
}

VOID CStreamEngine::FreePlaybackContexts() {
  InitializeListHead(&m_FreePlayback);
  for (ULONG index = 0; index < m_PlaybackContextCount; ++index) {
    TransferContext* context = m_PlaybackContexts[index];
    IoFreeMdl(context->Mdl);
    FreeDriverPool(context->Buffer);
    ExFreeToLookasideListEx(&m_ContextPool, context);
    m_PlaybackContexts[index] = nullptr;
  }
  m_PlaybackContextCount = 0;
}

VOID CStreamEngine::PlaybackWorker() {
  DirectionEvents& events = m_Events[kDirectionPlayback];
  if (!NT_SUCCESS(AllocatePlaybackContexts())) {
    KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
    return;
  }
  KeClearEvent(&events.Reset);
  const BOOLEAN feedback = ExplicitFeedback();
  if (m_Model->IsImplicitFeedbackMode()) {
    RunImplicitStart();
  } else if (feedback) {
    KeSetEvent(&m_FeedbackRun, IO_NO_INCREMENT, FALSE);
  }
  if (m_Device.AmdWorkaround) ReadyAllAhead();

  for (;;) {
    // The stop event is waited on with the credits: a worker whose credits are all on the bus
    // must still hear it, as feedback reads keep circulating until they are told to stop.
    PVOID credits[3] = {&events.Stop, &m_Credits[kPlayback], &m_Credits[kFeedback]};
    NTSTATUS status =
        KeWaitForMultipleObjects(3, credits, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
    if (status == STATUS_WAIT_0) break;
    const Kind kind = status == STATUS_WAIT_1 ? kPlayback : kFeedback;
    PVOID gates[3] = {&events.Stop, &events.Reset, &events.Run};
    status =
        KeWaitForMultipleObjects(3, gates, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
    if (status == STATUS_WAIT_0) {
      KeReleaseSemaphore(&m_Credits[kind], IO_NO_INCREMENT, 1, FALSE);
      break;
    }
    if (status == STATUS_WAIT_1) {
      RecoverPlayback(kind);
      continue;
    }
    CountOutstanding(kind);
    if (kind == kPlayback) {
      SubmitPlayback(nullptr);
    } else {
      SubmitFeedbackRead(nullptr);
    }
  }

  WaitForever(&m_Idle[kPlayback]);
  if (feedback) {
    KeClearEvent(&m_FeedbackRun);
    WaitForever(&m_Idle[kFeedback]);
  }
  for (CPlaybackEngine& engine : m_Engines) engine.EmptyPending();
  FreePlaybackContexts();
}

VOID CStreamEngine::RecoverPlayback(Kind credit) {
  DirectionEvents& events = m_Events[kDirectionPlayback];
  TRACE_POINT(kTraceRecovery, kDirectionPlayback, m_Recoveries[kDirectionPlayback]);
  ++m_Recoveries[kDirectionPlayback];
  KeReleaseSemaphore(&m_Credits[credit], IO_NO_INCREMENT, 1, FALSE);
  WaitForever(&m_Idle[kPlayback]);
  const BOOLEAN feedback = ExplicitFeedback();
  USBAudioStreamInterface* playback = m_Model->PlaybackInterface();
  if (feedback) {
    KeClearEvent(&m_FeedbackRun);
    WaitForever(&m_Idle[kFeedback]);
  }
  m_Model->ResetPipe(playback->DataPipe);
  if (feedback) m_Model->ResetPipe(playback->FeedbackPipe);
  for (CPlaybackEngine& engine : m_Engines) engine.EmptyPending();
  KeClearEvent(&events.Reset);
  LARGE_INTEGER pause;
  pause.QuadPart = kRecoveryPause;
  KeDelayExecutionThread(KernelMode, FALSE, &pause);
  InitializeCredits();

  // Openers and closers wait while the pipeline restarts. When one already holds the gate it is
  // waiting for this worker (an open's first completion, a close's stop), so the restart goes
  // ahead without the gate rather than leave the pipeline stalled.
  const BOOLEAN gated = m_Gate.TryTakeForRecovery();
  if (gated) KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  RestartPlaybackPipeline();
  if (gated) {
    KeReleaseMutex(&m_StreamMutex, FALSE);
    m_Gate.Release();
  }
}

VOID CStreamEngine::RestartPlaybackPipeline() {
  KeClearEvent(&m_Events[kDirectionPlayback].Running);
  KIRQL irql;
  KeAcquireSpinLock(&m_ContextLock, &irql);
  for (CPlaybackEngine& engine : m_Engines) engine.EmptyPending();
  KeReleaseSpinLock(&m_ContextLock, irql);
  CPlaybackEngine& asio = m_Engines[Value(StreamUser::Asio)];
  if (asio.IsStarted() && asio.IsCaptureClocked()) InterlockedExchange(&m_StreamInterrupted, 1);
  FillContexts();
  for (CPlaybackEngine& engine : m_Engines) engine.LatencyReset();
  if (m_Model->IsImplicitFeedbackMode()) {
    RunImplicitStart();
  } else if (ExplicitFeedback()) {
    KeSetEvent(&m_FeedbackRun, IO_NO_INCREMENT, FALSE);
  }
  if (m_Device.AmdWorkaround) ReadyAllAhead();
}
