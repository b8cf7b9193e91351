// PcDispatchIrp: every request of an adapter device that the driver does not serve itself.
#include "portcls/pc_dispatch.h"

#include "kernel/file_object_host.h"
#include "kernel/machine.h"
#include "portcls/pc_host_state.h"
#include "portcls/pc_ks_objects.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {
namespace {

std::u16string FileNameOf(PFILE_OBJECT file) {
  if (file == nullptr || file->FileName.Buffer == nullptr) return {};
  return std::u16string(file->FileName.Buffer, file->FileName.Length / sizeof(WCHAR));
}

void Observe(PDEVICE_OBJECT device, PIRP Irp) {
  const DispatchObserver& observer = Host().observer;
  if (!observer) return;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  DispatchedRequest request;
  request.device = device;
  request.major = stack->MajorFunction;
  request.minor = stack->MinorFunction;
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
    request.ioControlCode = stack->Parameters.DeviceIoControl.IoControlCode;
    request.inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    request.outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    request.systemBuffer = Irp->AssociatedIrp.SystemBuffer;
  }
  request.file = stack->FileObject;
  request.fileName = FileNameOf(stack->FileObject);
  observer(request);
}

}  // namespace
}  // namespace tarnlink::portcls

NTSTATUS PcDispatchIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  using namespace tarnlink::portcls;
  DeviceContext* context = ContextOf(DeviceObject);
  if (context == nullptr || Irp == nullptr)
    tarnlink::kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
                             "PcDispatchIrp called for a device the framework did not create",
                             reinterpret_cast<ULONG_PTR>(DeviceObject),
                             reinterpret_cast<ULONG_PTR>(Irp));
  Observe(DeviceObject, Irp);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  switch (stack->MajorFunction) {
    case IRP_MJ_PNP:
      return DispatchPnp(context, Irp);
    case IRP_MJ_POWER:
      return DispatchPower(context, Irp);
    case IRP_MJ_SYSTEM_CONTROL:
      return PassDown(context, Irp);
    case IRP_MJ_CREATE:
      return CreateKsObject(context, Irp);
    case IRP_MJ_CLOSE:
      return CloseKsObject(Irp);
    case IRP_MJ_CLEANUP:
      Irp->IoStatus.Information = 0;
      return CompleteIrp(Irp, STATUS_SUCCESS);
    case IRP_MJ_DEVICE_CONTROL:
      if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_KS_PROPERTY)
        return KsPropertyRequest(Irp);
      [[fallthrough]];
    default:
      TRACE_POINT(kTracePcUnsupportedRequest, stack->MajorFunction);
      Irp->IoStatus.Information = 0;
      return CompleteIrp(Irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}
