#include "request_dispatch.h"

#include "adapter_trace_points.h"
#include "asio_file_name.h"
#include "dispatch_context.h"
#include "private_requests.h"

namespace {

BOOLEAN IsPrivate(PIRP Irp) {
  return IsAsioFileObject(IoGetCurrentIrpStackLocation(Irp)->FileObject);
}

VOID NoteRemoval(DispatchContext* context, UCHAR minor) {
  KeWaitForSingleObject(&context->DispatchMutex, Executive, KernelMode, FALSE, nullptr);
  context->Removing = 1;
  KeReleaseMutex(&context->DispatchMutex, FALSE);
  TRACE_POINT(kTraceRemovalNotice, minor);
  if (context->Adapter != nullptr) context->Adapter->NotifyRemoval();
}

}  // namespace

NTSTATUS DispatchCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateCreate(DeviceObject, Irp);
}

NTSTATUS DispatchClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateClose(Irp);
}

NTSTATUS DispatchCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateCleanup(Irp);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateDeviceControl(Irp);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  DispatchContext* context = GetDispatchContext(DeviceObject);
  UCHAR minor = IoGetCurrentIrpStackLocation(Irp)->MinorFunction;
  switch (minor) {
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
      // On remove the framework then drops its references, and the adapter goes with them.
      NoteRemoval(context, minor);
      break;
    default:
      break;
  }
  return PcDispatchIrp(DeviceObject, Irp);
}
