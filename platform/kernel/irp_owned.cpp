#include "kernel/irp_owned.h"

#include <cstring>
#include <new>

#include "kernel/device_object.h"
#include "kernel/ex_pool.h"
#include "kernel/file_object.h"
#include "kernel/irp_verifier.h"
#include "kernel/ps.h"

namespace tarnlink::io {

namespace {

// Marks an IRP whose allocation starts with an OwnedPrefix.
constexpr UCHAR kOwnedAllocation = 0x80;
constexpr ULONG kOwnedMagic = 0x4F77496F;

struct alignas(16) OwnedPrefix {
  ULONG magic;
  OwnedIrp record;
};

OwnedPrefix* PrefixOf(PIRP irp) {
  return reinterpret_cast<OwnedPrefix*>(reinterpret_cast<PUCHAR>(irp) - sizeof(OwnedPrefix));
}

}  // namespace

PIRP AllocateOwnedIrp(CCHAR StackSize) {
  if (StackSize < 1) return nullptr;
  USHORT size = IoSizeOfIrp(StackSize);
  PVOID block = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(OwnedPrefix) + size, kIrpTag);
  if (block == nullptr) return nullptr;
  auto* prefix = new (block) OwnedPrefix{kOwnedMagic, OwnedIrp{}};
  auto irp = reinterpret_cast<PIRP>(prefix + 1);
  IoInitializeIrp(irp, size, StackSize);
  irp->AllocationFlags = kOwnedAllocation;
  irp->Tail.Overlay.Thread = PsGetCurrentThread();
  return irp;
}

OwnedIrp* OwnedRecord(PIRP Irp) {
  if ((Irp->AllocationFlags & kOwnedAllocation) == 0) return nullptr;
  OwnedPrefix* prefix = PrefixOf(Irp);
  return prefix->magic == kOwnedMagic ? &prefix->record : nullptr;
}

namespace {

VOID CopyBackAndFreeSystemBuffer(PIRP irp, const OwnedIrp& record) {
  if ((irp->Flags & IRP_BUFFERED_IO) == 0) return;
  if ((irp->Flags & IRP_INPUT_OPERATION) && !NT_ERROR(irp->IoStatus.Status) &&
      irp->IoStatus.Information != 0) {
    // Windows copies Information bytes whatever the caller's buffer holds; a driver that
    // reports more than fits would overrun it, so the verifier stops that here.
    if (irp->IoStatus.Information > record.outputLength) IrpViolation(kIrpInformationTooLarge, irp);
    std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, irp->IoStatus.Information);
  }
  if ((irp->Flags & IRP_DEALLOCATE_BUFFER) && irp->AssociatedIrp.SystemBuffer != nullptr)
    ExFreePoolWithTag(irp->AssociatedIrp.SystemBuffer, kSystemBufferTag);
  irp->AssociatedIrp.SystemBuffer = nullptr;
}

// Under the cancel lock too, so that a canceller holding it never sees the IRP freed.
VOID DetachFromFile(PIRP irp, PFILE_OBJECT file) {
  KIRQL cancel_irql;
  IoAcquireCancelSpinLock(&cancel_irql);
  KIRQL irql;
  KeAcquireSpinLock(&file->IrpListLock, &irql);
  RemoveEntryList(&irp->ThreadListEntry);
  InitializeListHead(&irp->ThreadListEntry);
  KeReleaseSpinLock(&file->IrpListLock, irql);
  IoReleaseCancelSpinLock(cancel_irql);
}

}  // namespace

VOID FinishOwnedIrp(PIRP Irp) {
  OwnedIrp record = *OwnedRecord(Irp);
  CopyBackAndFreeSystemBuffer(Irp, record);
  if (Irp->UserIosb != nullptr) *Irp->UserIosb = Irp->IoStatus;
  if (record.fileObject != nullptr) DetachFromFile(Irp, record.fileObject);
  if (Irp->UserEvent != nullptr) KeSetEvent(Irp->UserEvent, IO_NO_INCREMENT, FALSE);
  if (record.referencedEvent != nullptr) ObDereferenceObject(record.referencedEvent);
  Irp->Type = 0;
  ExFreePoolWithTag(PrefixOf(Irp), kIrpTag);
  if (record.fileObject != nullptr) ObDereferenceObject(record.fileObject);
}

NTSTATUS SendSynchronousFileRequest(PFILE_OBJECT FileObject, UCHAR MajorFunction,
                                    const IO_STACK_LOCATION* Parameters,
                                    PIO_STATUS_BLOCK IoStatus) {
  PDEVICE_OBJECT device = IoGetAttachedDevice(FileObject->DeviceObject);
  PIRP irp = AllocateOwnedIrp(device->StackSize);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK local = {};
  irp->UserEvent = &done;
  irp->UserIosb = &local;
  irp->Tail.Overlay.OriginalFileObject = FileObject;
  irp->Flags = MajorFunction == IRP_MJ_CREATE  ? IRP_CREATE_OPERATION
               : MajorFunction == IRP_MJ_CLOSE ? IRP_CLOSE_OPERATION
                                               : 0;
  irp->IoStatus.Status = STATUS_SUCCESS;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  if (Parameters != nullptr) next->Parameters = Parameters->Parameters;
  next->MajorFunction = MajorFunction;
  next->FileObject = FileObject;
  NTSTATUS status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    status = local.Status;
  }
  if (IoStatus != nullptr) *IoStatus = local;
  return status;
}

}  // namespace tarnlink::io
