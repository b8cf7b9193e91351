#include "private_requests.h"

#include "adapter_trace_points.h"
#include "asio_handle.h"
#include "dispatch_context.h"
#include "usb_audio_adapter.h"

namespace {

NTSTATUS Complete(PIRP Irp, NTSTATUS Status, ULONG_PTR Information = 0) {
  Irp->IoStatus.Status = Status;
  Irp->IoStatus.Information = Information;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return Status;
}

PFILE_OBJECT FileOf(PIRP Irp) {
  return IoGetCurrentIrpStackLocation(Irp)->FileObject;
}

AsioHandle* HandleOf(PIRP Irp) {
  return static_cast<AsioHandle*>(FileOf(Irp)->DriverContext);
}

// The adapter is the only implementation of both of its faces.
UsbAudioAdapter* AdapterOf(IAsioDevice* device) {
  return static_cast<UsbAudioAdapter*>(device);
}

// Runs one handle operation inside the adapter's request guard; STATUS_DELETE_PENDING when the
// guard is shut.
template <typename Operation>
NTSTATUS Guarded(AsioHandle* handle, Operation operation) {
  RundownGuard& guard = handle->Device()->RequestGuard();
  if (!guard.Acquire()) {
    TRACE_POINT(kTracePrivateGuardClosed);
    return STATUS_DELETE_PENDING;
  }
  const NTSTATUS status = operation();
  guard.Release();
  return status;
}

NTSTATUS CreateHandle(DispatchContext* context, PFILE_OBJECT file) {
  if (context->Removing != 0 || context->DeviceGone != 0) return STATUS_DELETE_PENDING;
  if (context->Adapter == nullptr) return STATUS_DEVICE_NOT_READY;
  auto* adapter = static_cast<UsbAudioAdapter*>(context->Adapter);
  if (adapter->Engine().DeviceGone()) return STATUS_DELETE_PENDING;
  auto* handle = new AsioHandle(adapter);
  if (handle == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  if (file->DriverContext != nullptr) {
    handle->Destroy();
    return STATUS_UNSUCCESSFUL;
  }
  file->DriverContext = handle;
  const NTSTATUS status = Guarded(handle, [&] { return handle->Open(); });
  if (!NT_SUCCESS(status)) {
    file->DriverContext = nullptr;
    handle->Destroy();
    return status;
  }
  // The handle keeps the adapter until its close.
  adapter->AddRef();
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS PrivateCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  DispatchContext* context = GetDispatchContext(DeviceObject);
  KeWaitForSingleObject(&context->DispatchMutex, Executive, KernelMode, FALSE, nullptr);
  const NTSTATUS status = CreateHandle(context, FileOf(Irp));
  KeReleaseMutex(&context->DispatchMutex, FALSE);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTracePrivateCreateRefused, status);
  return Complete(Irp, status);
}

NTSTATUS PrivateClose(PIRP Irp) {
  AsioHandle* handle = HandleOf(Irp);
  if (handle == nullptr) return Complete(Irp, STATUS_SUCCESS);
  const NTSTATUS status = Guarded(handle, [&] { return handle->Close(); });
  UsbAudioAdapter* adapter = AdapterOf(handle->Device());
  FileOf(Irp)->DriverContext = nullptr;
  handle->Destroy();
  Complete(Irp, status);
  adapter->Release();
  return status;
}

NTSTATUS PrivateCleanup(PIRP Irp) {
  AsioHandle* handle = HandleOf(Irp);
  if (handle == nullptr) return Complete(Irp, STATUS_SUCCESS);
  Guarded(handle, [&] { return handle->CleanUp(); });
  return Complete(Irp, STATUS_SUCCESS);
}

NTSTATUS PrivateDeviceControl(PIRP Irp) {
  AsioHandle* handle = HandleOf(Irp);
  if (handle == nullptr) return Complete(Irp, STATUS_INVALID_DEVICE_REQUEST);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  AsioRequest request = {};
  request.Code = stack->Parameters.DeviceIoControl.IoControlCode;
  request.Buffer = Irp->AssociatedIrp.SystemBuffer;
  request.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  request.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  // Buffered requests only: any other transfer method would hand the driver user addresses.
  if (METHOD_FROM_CTL_CODE(request.Code) != METHOD_BUFFERED ||
      (request.Buffer == nullptr && (request.InputLength != 0 || request.OutputLength != 0))) {
    TRACE_POINT(kTracePrivateRequestRefused, request.Code);
    return Complete(Irp, STATUS_INVALID_DEVICE_REQUEST);
  }
  const NTSTATUS status = Guarded(handle, [&] { return handle->DeviceControl(&request); });
  return Complete(Irp, status, request.Information);
}
