// CAsioStream: the output thread. The client sets its output event once it has written a
// period into the playback ring; the thread makes the ASIO playback engine pull it at once
// rather than at the next transfer.
#include "asio_stream.h"
#include "engine_trace_points.h"
#include "system_thread.h"

namespace {

constexpr KPRIORITY kOutputPriority = 16;

}  // namespace

NTSTATUS CAsioStream::StartOutputThread() {
  // Without an output event there is nothing to wait for: the engine still pulls from the ring
  // as it adds transfers.
  if (m_OutputEvent == nullptr) return STATUS_SUCCESS;
  KeClearEvent(&m_OutputStop);
  const NTSTATUS status = StartReferencedSystemThread(OutputThreadEntry, this, &m_OutputThread);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAsioOutputThreadFailed, status);
    // A thread that runs without a reference cannot be waited for: it is told to end.
    KeSetEvent(&m_OutputStop, IO_NO_INCREMENT, FALSE);
  }
  return status;
}

VOID CAsioStream::StopOutputThread() {
  PKTHREAD thread = m_OutputThread;
  m_OutputThread = nullptr;
  if (thread == nullptr) return;
  KeSetEvent(&m_OutputStop, IO_NO_INCREMENT, FALSE);
  KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(thread);
}

VOID CAsioStream::OutputThreadEntry(PVOID context) {
  static_cast<CAsioStream*>(context)->OutputThread();
  PsTerminateSystemThread(STATUS_SUCCESS);
}

VOID CAsioStream::OutputThread() {
  KeSetPriorityThread(KeGetCurrentThread(), kOutputPriority);
  SetEvent(m_OutputEvent, IO_NO_INCREMENT);
  PVOID objects[] = {&m_OutputStop, m_OutputEvent};
  for (;;) {
    const NTSTATUS status = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode,
                                                     FALSE, nullptr, nullptr);
    if (status == STATUS_WAIT_0) break;
    if (status == STATUS_WAIT_1) {
      KeClearEvent(m_OutputEvent);
      m_PlaybackSource.OutputReady();
    } else {
      TRACE_POINT(kTraceAsioOutputWait, status);
    }
  }
}
