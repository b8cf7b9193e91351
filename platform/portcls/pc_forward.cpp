#include "portcls/pc_dispatch.h"

namespace tarnlink::portcls {
namespace {

NTSTATUS SignalForwarded(PDEVICE_OBJECT, PIRP, PVOID Context) {
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS CompleteIrp(PIRP Irp, NTSTATUS Status) {
  Irp->IoStatus.Status = Status;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return Status;
}

NTSTATUS PassDown(DeviceContext* context, PIRP Irp) {
  IoSkipCurrentIrpStackLocation(Irp);
  return IoCallDriver(context->lowerDevice, Irp);
}

NTSTATUS ForwardAndWait(DeviceContext* context, PIRP Irp) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(Irp);
  IoSetCompletionRoutine(Irp, SignalForwarded, &done, TRUE, TRUE, TRUE);
  if (IoCallDriver(context->lowerDevice, Irp) == STATUS_PENDING)
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  return Irp->IoStatus.Status;
}

}  // namespace tarnlink::portcls
