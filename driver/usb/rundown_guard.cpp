#include "rundown_guard.h"

#include "usb_trace_points.h"

RundownGuard::RundownGuard(BOOLEAN open) : closed_(open ? FALSE : TRUE) {
  KeInitializeSpinLock(&lock_);
  KeInitializeEvent(&drained_, NotificationEvent, TRUE);
}

BOOLEAN RundownGuard::Acquire() {
  KIRQL irql;
  KeAcquireSpinLock(&lock_, &irql);
  BOOLEAN admitted = closed_ ? FALSE : TRUE;
  if (admitted) {
    ++users_;
    KeClearEvent(&drained_);
  }
  KeReleaseSpinLock(&lock_, irql);
  return admitted;
}

VOID RundownGuard::Release() {
  KIRQL irql;
  KeAcquireSpinLock(&lock_, &irql);
  if (users_ == 0) {
    // A release without its acquire would let a later Close return while a user is inside.
    KeReleaseSpinLock(&lock_, irql);
    TRACE_POINT(kTraceRundownUnbalancedRelease);
    return;
  }
  if (--users_ == 0) KeSetEvent(&drained_, IO_NO_INCREMENT, FALSE);
  KeReleaseSpinLock(&lock_, irql);
}

VOID RundownGuard::Close() {
  KIRQL irql;
  KeAcquireSpinLock(&lock_, &irql);
  closed_ = TRUE;
  KeReleaseSpinLock(&lock_, irql);
  KeWaitForSingleObject(&drained_, Executive, KernelMode, FALSE, nullptr);
}

VOID RundownGuard::Reopen() {
  KIRQL irql;
  KeAcquireSpinLock(&lock_, &irql);
  closed_ = FALSE;
  KeReleaseSpinLock(&lock_, irql);
}
