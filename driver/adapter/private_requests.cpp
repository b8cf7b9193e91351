#include "private_requests.h"

#include "adapter_trace_points.h"
#include "dispatch_context.h"

namespace {

NTSTATUS Complete(PIRP Irp, NTSTATUS Status) {
  Irp->IoStatus.Status = Status;
  Irp->IoStatus.Information = 0;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return Status;
}

}  // namespace

NTSTATUS PrivateCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  DispatchContext* context = GetDispatchContext(DeviceObject);
  KeWaitForSingleObject(&context->DispatchMutex, Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status = (context->Removing != 0 || context->DeviceGone != 0)
                        ? STATUS_DELETE_PENDING
                        : STATUS_INVALID_DEVICE_REQUEST;
  KeReleaseMutex(&context->DispatchMutex, FALSE);
  TRACE_POINT(kTracePrivateCreateRefused, status);
  return Complete(Irp, status);
}

NTSTATUS PrivateUnserved(PIRP Irp) {
  TRACE_POINT(kTracePrivateRequestUnserved, IoGetCurrentIrpStackLocation(Irp)->MajorFunction);
  return Complete(Irp, STATUS_INVALID_DEVICE_REQUEST);
}
