// CStreamEngine: the capture worker. It keeps one capture transfer per credit on the bus; the
// completions come back through the capture deferred procedure call, which delivers the data
// and resubmits. A recovery drains and resets the pipe and has playback recover too when
// playback is clocked by capture.
#include "driver_pool.h"
#include "engine_trace_points.h"
#include "stream_engine.h"

VOID CStreamEngine::CaptureWorkerEntry(PVOID context) {
  static_cast<CStreamEngine*>(context)->CaptureWorker();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

VOID CStreamEngine::CaptureWorker() {
  DirectionEvents& events = m_Events[kDirectionCapture];
  KeClearEvent(&events.Reset);
  for (;;) {
    PVOID credits[2] = {&events.Stop, &m_Credits[kCapture]};
    NTSTATUS status =
        KeWaitForMultipleObjects(2, credits, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
    if (status == STATUS_WAIT_0) break;
    PVOID gates[3] = {&events.Stop, &events.Reset, &events.Run};
    status =
        KeWaitForMultipleObjects(3, gates, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
    if (status == STATUS_WAIT_0) {
      KeReleaseSemaphore(&m_Credits[kCapture], IO_NO_INCREMENT, 1, FALSE);
      break;
    }
    if (status == STATUS_WAIT_1) {
      RecoverCapture();
      continue;
    }
    CountOutstanding(kCapture);
    SubmitCapture(nullptr);
  }
  KeWaitForSingleObject(&m_Idle[kCapture], Executive, KernelMode, FALSE, nullptr);
  m_Model->ResetPipe(m_Model->CaptureInterface()->DataPipe);
}

VOID CStreamEngine::RecoverCapture() {
  DirectionEvents& events = m_Events[kDirectionCapture];
  TRACE_POINT(kTraceRecovery, kDirectionCapture, m_Recoveries[kDirectionCapture]);
  ++m_Recoveries[kDirectionCapture];
  KeReleaseSemaphore(&m_Credits[kCapture], IO_NO_INCREMENT, 1, FALSE);
  PUSBD_PIPE_INFORMATION pipe = m_Model->CaptureInterface()->DataPipe;
  m_Model->AbortPipe(pipe);
  KeWaitForSingleObject(&m_Idle[kCapture], Executive, KernelMode, FALSE, nullptr);
  m_Model->ResetPipe(pipe);
  KeClearEvent(&events.Running);
  KeClearEvent(&events.Reset);
  // Playback that follows capture lost its reference and must start over with it.
  CPlaybackEngine& asio = m_Engines[Value(StreamUser::Asio)];
  CPlaybackEngine& os = m_Engines[Value(StreamUser::Os)];
  if (asio.IsStarted() && asio.IsCaptureClocked()) {
    KeSetEvent(&m_Events[kDirectionPlayback].Reset, IO_NO_INCREMENT, FALSE);
    InterlockedExchange(&m_StreamInterrupted, 1);
  } else if ((os.IsStarted() && os.IsCaptureClocked()) || m_Model->IsImplicitFeedbackMode()) {
    KeSetEvent(&m_Events[kDirectionPlayback].Reset, IO_NO_INCREMENT, FALSE);
  }
}

VOID CStreamEngine::FreeCaptureContext(TransferContext* context) {
  if (context == nullptr) return;
  FreeDriverPool(context->Buffer);
  ExFreeToLookasideListEx(&m_ContextPool, context);
}

VOID CStreamEngine::SubmitCapture(TransferContext* context) {
  DirectionEvents& events = m_Events[kDirectionCapture];
  const BOOLEAN allowed =
      KeReadStateEvent(&events.Stop) == 0 && KeReadStateEvent(&events.Reset) == 0 &&
      (m_Model->IsImplicitFeedbackMode() || KeReadStateEvent(&events.Run) != 0);
  const ULONG bytes = m_MaxTransferBytes[kDirectionCapture];
  NTSTATUS status = allowed ? STATUS_SUCCESS : STATUS_CANCELLED;
  if (NT_SUCCESS(status) && context == nullptr) {
    context = TakeContext();
    if (context != nullptr) context->Buffer = static_cast<PUCHAR>(AllocateDriverPool(bytes));
    if (context == nullptr || context->Buffer == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(status)) {
    context->RequestedBytes = bytes;
    status = m_Model->SubmitCapture(context->Buffer, bytes, CaptureCompletion, context);
    if (NT_SUCCESS(status)) return;
    TRACE_POINT(kTraceSubmitFailed, kDirectionCapture, status);
    KeSetEvent(&events.Reset, IO_NO_INCREMENT, FALSE);
  }
  FreeCaptureContext(context);
  KeReleaseSemaphore(&m_Credits[kCapture], IO_NO_INCREMENT, 1, FALSE);
  UncountOutstanding(kCapture);
}
