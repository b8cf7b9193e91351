#include "capture_feed.h"

#include "engine_trace_points.h"

VOID CCaptureFeed::Initialize() {
  KeInitializeSpinLock(&m_Lock);
}

NTSTATUS CCaptureFeed::SetTarget(ICaptureSink* target) {
  if (target == nullptr) {
    TRACE_POINT(kTraceFeedTargetMissing);
    return STATUS_INVALID_PARAMETER;
  }
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Target = target;
  KeReleaseSpinLock(&m_Lock, irql);
  return STATUS_SUCCESS;
}

VOID CCaptureFeed::ClearTarget() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Target = nullptr;
  m_Active = 0;
  KeReleaseSpinLock(&m_Lock, irql);
}

NTSTATUS CCaptureFeed::Start(const UsbFormat& capture, ULONG captureMaxBytes) {
  if (m_Target == nullptr || capture.FrameBytes == 0) return STATUS_INVALID_PARAMETER;
  m_Capture = capture;
  NTSTATUS status = m_Target->Prepare(capture, captureMaxBytes / capture.FrameBytes);
  if (!NT_SUCCESS(status)) return status;
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Active = 1;
  KeReleaseSpinLock(&m_Lock, irql);
  return STATUS_SUCCESS;
}

VOID CCaptureFeed::Stop() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Active = 0;
  ICaptureSink* target = m_Target;
  KeReleaseSpinLock(&m_Lock, irql);
  if (target != nullptr) target->Stop();
}

VOID CCaptureFeed::Deliver(PCVOID data, ULONG frames) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  if (m_Active != 0 && m_Target != nullptr) m_Target->Write(data, frames);
  KeReleaseSpinLock(&m_Lock, irql);
}
