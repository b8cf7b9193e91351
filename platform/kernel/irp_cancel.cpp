#include "kernel/interlocked.h"
#include "kernel/irp.h"
#include "kernel/irp_owned.h"
#include "kernel/irp_verifier.h"

namespace {
// The one system-wide cancel lock: cancel routines run holding it and release it themselves.
KSPIN_LOCK g_cancel_lock = 0;
}  // namespace

VOID IoAcquireCancelSpinLock(PKIRQL Irql) {
  KeAcquireSpinLock(&g_cancel_lock, Irql);
}

VOID IoReleaseCancelSpinLock(KIRQL Irql) {
  KeReleaseSpinLock(&g_cancel_lock, Irql);
}

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine) {
  return reinterpret_cast<PDRIVER_CANCEL>(
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&Irp->CancelRoutine),
                                 reinterpret_cast<PVOID>(CancelRoutine)));
}

BOOLEAN IoCancelIrp(PIRP Irp) {
  if (Irp->Type != IO_TYPE_IRP) tarnlink::io::IrpViolation(kIrpNotAnIrp, Irp);
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  return tarnlink::io::CancelIrpWithLockHeld(Irp, irql);
}

BOOLEAN tarnlink::io::CancelIrpWithLockHeld(PIRP Irp, KIRQL irql) {
  Irp->Cancel = TRUE;
  PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  if (Irp->CurrentLocation > Irp->StackCount)
    KeBugCheckEx(CANCEL_STATE_IN_COMPLETED_IRP, reinterpret_cast<ULONG_PTR>(Irp),
                 reinterpret_cast<ULONG_PTR>(routine), 0, 0);
  Irp->CancelIrql = irql;
  routine(IoGetCurrentIrpStackLocation(Irp)->DeviceObject, Irp);
  return TRUE;
}
