#include "rundown_guard.h"

#include "usb_trace_points.h"

RundownGuard::RundownGuard(BOOLEAN open) : m_Closed(open ? FALSE : TRUE) {
  KeInitializeSpinLock(&m_Lock);
  KeInitializeEvent(&m_Drained, NotificationEvent, TRUE);
}

BOOLEAN RundownGuard::Acquire() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  BOOLEAN admitted = m_Closed ? FALSE : TRUE;
  if (admitted) {
    ++m_Users;
    KeClearEvent(&m_Drained);
  }
  KeReleaseSpinLock(&m_Lock, irql);
  return admitted;
}

VOID RundownGuard::Release() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  if (m_Users == 0) {
    // A release without its acquire would let a later Close return while a user is inside.
    KeReleaseSpinLock(&m_Lock, irql);
    TRACE_POINT(kTraceRundownUnbalancedRelease);
    return;
  }
  if (--m_Users == 0) KeSetEvent(&m_Drained, IO_NO_INCREMENT, FALSE);
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID RundownGuard::Close() {
  PAGED_CODE();
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Closed = TRUE;
  KeReleaseSpinLock(&m_Lock, irql);
  KeWaitForSingleObject(&m_Drained, Executive, KernelMode, FALSE, nullptr);
}

VOID RundownGuard::Reopen() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Closed = FALSE;
  KeReleaseSpinLock(&m_Lock, irql);
}
