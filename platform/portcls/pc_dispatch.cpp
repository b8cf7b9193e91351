// PcDispatchIrp: every request of an adapter device that the driver does not serve itself.
#include "portcls/pc_dispatch.h"

#include "kernel/file_object_host.h"
#include "kernel/machine.h"
#include "portcls/pc_host_state.h"
#include "portcls/pc_subdevice.h"
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

// An open of a subdevice's interface stands for its filter; anything after the reference
// string, or an open of no registered subdevice, names nothing the framework has.
NTSTATUS Create(DeviceContext* context, PIRP Irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(Irp)->FileObject;
  if (file == nullptr || !FileNameOf(file).empty() ||
      !HasSubdevice(context, IoHostFileInterfaceReference(file))) {
    TRACE_POINT(kTracePcCreateRefused);
    return CompleteIrp(Irp, STATUS_OBJECT_NAME_NOT_FOUND);
  }
  Irp->IoStatus.Information = 0;
  return CompleteIrp(Irp, STATUS_SUCCESS);
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
      return Create(context, Irp);
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      Irp->IoStatus.Information = 0;
      return CompleteIrp(Irp, STATUS_SUCCESS);
    default:
      // Kernel-streaming requests on filter handles are served once filters exist.
      TRACE_POINT(kTracePcUnsupportedRequest, stack->MajorFunction);
      Irp->IoStatus.Information = 0;
      return CompleteIrp(Irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}
