#include "request_dispatch.h"

#include "adapter_trace_points.h"
#include "asio_file_name.h"
#include "dispatch_context.h"
#include "private_requests.h"
#include "start_device.h"

namespace {

BOOLEAN IsPrivate(PIRP Irp) {
  return IsAsioFileObject(IoGetCurrentIrpStackLocation(Irp)->FileObject);
}

VOID NoteRemoval(DispatchContext* context, UCHAR minor) {
  KeWaitForSingleObject(&context->DispatchMutex, Executive, KernelMode, FALSE, nullptr);
  context->Removing = 1;
  KeReleaseMutex(&context->DispatchMutex, FALSE);
  TRACE_POINT(kTraceRemovalNotice, minor);
}

}  // namespace

NTSTATUS DispatchCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateCreate(DeviceObject, Irp);
}

NTSTATUS DispatchClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateUnserved(Irp);
}

NTSTATUS DispatchCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateUnserved(Irp);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (!IsPrivate(Irp)) return PcDispatchIrp(DeviceObject, Irp);
  return PrivateUnserved(Irp);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  DispatchContext* context = GetDispatchContext(DeviceObject);
  UCHAR minor = IoGetCurrentIrpStackLocation(Irp)->MinorFunction;
  switch (minor) {
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
      NoteRemoval(context, minor);
      break;
    case IRP_MN_REMOVE_DEVICE:
      NoteRemoval(context, minor);
      // The framework deletes the device on the way down: what the start made goes first.
      StopDeviceFunction(context);
      break;
    default:
      break;
  }
  return PcDispatchIrp(DeviceObject, Irp);
}
