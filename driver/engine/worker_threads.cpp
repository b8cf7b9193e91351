// CStreamEngine: starting and stopping the transfer workers, their credits and outstanding
// counts, and what the completions of both directions share.
#include "engine_trace_points.h"
#include "stream_engine.h"
#include "system_thread.h"

namespace {

constexpr ULONG kClockPolls = 100;                    // 1 ms apart
constexpr LONGLONG kClockPollInterval = -10000;       // 1 ms
constexpr LONGLONG kIdleWait = -1000LL * 10000;       // 1 s
constexpr LONG kFeedbackCredits = 8;
constexpr LONG kCaptureCredits = 8;

}  // namespace

BOOLEAN CStreamEngine::ExplicitFeedback() const {
  const USBAudioStreamInterface* playback = m_Model->PlaybackInterface();
  return !m_Model->IsImplicitFeedbackMode() && playback != nullptr &&
         playback->FeedbackPipe != nullptr;
}

VOID CStreamEngine::InitializeCredits() {
  const LONG limit = static_cast<LONG>(m_PlaybackTransfersInFlight);
  if (ExplicitFeedback()) {
    // No playback transfer goes out before the device has said how fast it plays.
    KeInitializeSemaphore(&m_Credits[kFeedback], kFeedbackCredits, kFeedbackCredits);
    InterlockedExchange(&m_FeedbackSeen, 0);
    KeInitializeSemaphore(&m_Credits[kPlayback], 0, limit);
  } else {
    KeInitializeSemaphore(&m_Credits[kFeedback], 0, kFeedbackCredits);
    InterlockedExchange(&m_FeedbackSeen, 1);
    KeInitializeSemaphore(&m_Credits[kPlayback], limit, limit);
  }
}

NTSTATUS CStreamEngine::StartWorker(ULONG direction) {
  DirectionEvents& events = m_Events[direction];
  KeClearEvent(&events.Stop);
  if (direction == kDirectionPlayback) {
    m_Recoveries[kDirectionPlayback] = 0;
  } else {
    KeInitializeSemaphore(&m_Credits[kCapture], kCaptureCredits, kCaptureCredits);
  }
  BOOLEAN stable = FALSE;
  for (ULONG poll = 0; poll <= kClockPolls && !stable; ++poll) {
    stable = m_Model->IsClockStable(direction);
    if (!stable && poll < kClockPolls) {
      LARGE_INTEGER interval;
      interval.QuadPart = kClockPollInterval;
      KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
  }
  if (!stable) {
    TRACE_POINT(kTraceClockNotStable, direction);
    KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
    return STATUS_UNSUCCESSFUL;
  }
  PKTHREAD thread = nullptr;
  const NTSTATUS status = StartReferencedSystemThread(
      direction == kDirectionPlayback ? PlaybackWorkerEntry : CaptureWorkerEntry, this, &thread);
  if (!NT_SUCCESS(status)) {
    // Not started, or running without a reference to wait on: either way it is told to stop.
    TRACE_POINT(kTraceWorkerCreateFailed, direction, status);
    KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
    return status;
  }
  m_Worker[direction] = thread;
  return STATUS_SUCCESS;
}

VOID CStreamEngine::StopWorker(ULONG direction) {
  auto* thread = static_cast<PKTHREAD>(
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&m_Worker[direction]), nullptr));
  if (thread == nullptr) return;
  DirectionEvents& events = m_Events[direction];
  KeSetEvent(&events.Stop, IO_NO_INCREMENT, FALSE);
  KeClearEvent(&events.Run);
  if (direction == kDirectionPlayback && KeGetCurrentIrql() <= APC_LEVEL) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = kIdleWait;
    KeWaitForSingleObject(&m_Idle[kPlayback], Executive, KernelMode, FALSE, &timeout);
  }
  KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(thread);
  KeClearEvent(&events.Running);
}

VOID CStreamEngine::CountOutstanding(Kind kind) {
  KIRQL irql;
  KeAcquireSpinLock(&m_OutstandingLock[kind], &irql);
  if (m_Outstanding[kind]++ == 0) KeClearEvent(&m_Idle[kind]);
  KeReleaseSpinLock(&m_OutstandingLock[kind], irql);
}

VOID CStreamEngine::UncountOutstanding(Kind kind) {
  KIRQL irql;
  KeAcquireSpinLock(&m_OutstandingLock[kind], &irql);
  if (m_Outstanding[kind] != 0 && --m_Outstanding[kind] == 0) {
    KeSetEvent(&m_Idle[kind], IO_NO_INCREMENT, FALSE);
  }
  KeReleaseSpinLock(&m_OutstandingLock[kind], irql);
}

ULONG CStreamEngine::QueryBusFrame() {
  const USB_BUS_INTERFACE_USBDI_V1& bus = m_Model->BusInterface();
  ULONG frame = 0;
  if (bus.QueryBusTime != nullptr) bus.QueryBusTime(bus.BusContext, &frame);
  return frame;
}

BOOLEAN CStreamEngine::IsDeviceGoneStatus(NTSTATUS status) {
  return status == STATUS_NO_SUCH_DEVICE || status == STATUS_DELETE_PENDING ||
         status == STATUS_DEVICE_NOT_CONNECTED;
}

VOID CStreamEngine::MarkDeviceGone(NTSTATUS status) {
  if (InterlockedExchange(&m_DeviceGone, 1) == 0) TRACE_POINT(kTraceDeviceGone, status);
}

TransferContext* CStreamEngine::TakeContext() {
  auto* context = static_cast<TransferContext*>(ExAllocateFromLookasideListEx(&m_ContextPool));
  if (context == nullptr) {
    TRACE_POINT(kTraceContextAllocFailed);
    return nullptr;
  }
  RtlZeroMemory(context, sizeof(*context));
  context->Engine = this;
  InitializeListHead(&context->FreeLink);
  for (LIST_ENTRY& link : context->EngineLinks) InitializeListHead(&link);
  return context;
}

UCHAR CStreamEngine::FillByte() const {
  // DSD idles with the pattern the converter reads as silence; PCM with zeros.
  return m_StreamKind == kStreamKindDsd ? 0x96 : 0x00;
}
