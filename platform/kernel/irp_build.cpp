#include <algorithm>
#include <cstring>

#include "kernel/device_object.h"
#include "kernel/ex_pool.h"
#include "kernel/irp_owned.h"

namespace tarnlink::io {

NTSTATUS PrepareDeviceControl(PIRP Irp, ULONG IoControlCode, BOOLEAN Internal, PVOID InputBuffer,
                              ULONG InputBufferLength, PVOID OutputBuffer,
                              ULONG OutputBufferLength) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  next->MajorFunction = Internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
  next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
  next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
  OwnedRecord(Irp)->outputLength = OutputBufferLength;
  switch (METHOD_FROM_CTL_CODE(IoControlCode)) {
    case METHOD_BUFFERED: {
      ULONG size = std::max(InputBufferLength, OutputBufferLength);
      if (size != 0) {
        PVOID buffer = ExAllocatePoolWithTag(NonPagedPoolNx, size, kSystemBufferTag);
        if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        std::memset(buffer, 0, size);
        if (InputBufferLength != 0) std::memcpy(buffer, InputBuffer, InputBufferLength);
        Irp->AssociatedIrp.SystemBuffer = buffer;
        Irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
      }
      if (OutputBufferLength != 0) {
        Irp->Flags |= IRP_INPUT_OPERATION;
        Irp->UserBuffer = OutputBuffer;
      }
      return STATUS_SUCCESS;
    }
    case METHOD_NEITHER:
      next->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
      Irp->UserBuffer = OutputBuffer;
      return STATUS_SUCCESS;
    default:
      return STATUS_NOT_SUPPORTED;
  }
}

}  // namespace tarnlink::io

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                   PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength, BOOLEAN InternalDeviceIoControl,
                                   PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
  PIRP irp = tarnlink::io::AllocateOwnedIrp(DeviceObject->StackSize);
  if (irp == nullptr) return nullptr;
  irp->RequestorMode = KernelMode;
  irp->UserIosb = IoStatusBlock;
  irp->UserEvent = Event;
  irp->IoStatus.Status = STATUS_SUCCESS;
  if (!NT_SUCCESS(tarnlink::io::PrepareDeviceControl(irp, IoControlCode, InternalDeviceIoControl,
                                                     InputBuffer, InputBufferLength, OutputBuffer,
                                                     OutputBufferLength))) {
    if (irp->AssociatedIrp.SystemBuffer != nullptr)
      ExFreePoolWithTag(irp->AssociatedIrp.SystemBuffer, tarnlink::io::kSystemBufferTag);
    irp->IoStatus.Status = STATUS_INSUFFICIENT_RESOURCES;
    irp->UserIosb = nullptr;
    irp->UserEvent = nullptr;
    irp->Flags = 0;
    tarnlink::io::FinishOwnedIrp(irp);
    return nullptr;
  }
  return irp;
}
