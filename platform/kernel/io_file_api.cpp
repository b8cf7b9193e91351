#include "kernel/io_file_api.h"

#include "kernel/device_object.h"
#include "kernel/file_object_host.h"
#include "kernel/io_strings.h"
#include "kernel/irp_owned.h"
#include "kernel/ps.h"

namespace {

NTSTATUS CreateFile(KPROCESSOR_MODE mode, PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                    POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                    ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions) {
  if (ObjectAttributes == nullptr) return STATUS_INVALID_PARAMETER;
  // A root directory is a file the new one is opened through (a kernel-streaming filter).
  if (ObjectAttributes->RootDirectory != nullptr) {
    return tarnlink::io::OpenRelativeFile(
        ObjectAttributes->RootDirectory, tarnlink::io::StringView(ObjectAttributes->ObjectName),
        DesiredAccess, ObjectAttributes->Attributes, ShareAccess, CreateDisposition, CreateOptions,
        mode, FileHandle, IoStatusBlock);
  }
  return tarnlink::io::OpenFile(tarnlink::io::StringView(ObjectAttributes->ObjectName),
                                DesiredAccess, ObjectAttributes->Attributes, ShareAccess,
                                CreateDisposition, CreateOptions, mode, FileHandle, IoStatusBlock);
}

// The access a control code demands of the handle.
ACCESS_MASK RequiredAccess(ULONG code) {
  ULONG access = (code >> 14) & 3;
  return ((access & FILE_READ_ACCESS) ? FILE_READ_DATA : 0) |
         ((access & FILE_WRITE_ACCESS) ? FILE_WRITE_DATA : 0);
}

NTSTATUS DeviceIoControl(KPROCESSOR_MODE mode, HANDLE FileHandle, HANDLE Event,
                         PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode, PVOID InputBuffer,
                         ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength) {
  if (IoStatusBlock == nullptr) return STATUS_ACCESS_VIOLATION;
  if ((InputBuffer == nullptr && InputBufferLength != 0) ||
      (OutputBuffer == nullptr && OutputBufferLength != 0))
    return STATUS_INVALID_USER_BUFFER;
  PVOID object = nullptr;
  OBJECT_HANDLE_INFORMATION info = {};
  NTSTATUS status =
      ObReferenceObjectByHandle(FileHandle, 0, *IoFileObjectType, mode, &object, &info);
  if (!NT_SUCCESS(status)) return status;
  auto file = static_cast<PFILE_OBJECT>(object);
  ACCESS_MASK required = RequiredAccess(IoControlCode);
  if ((info.GrantedAccess & required) != required) {
    ObDereferenceObject(file);
    return STATUS_ACCESS_DENIED;
  }
  PVOID event = nullptr;
  if (Event != nullptr) {
    status = ObReferenceObjectByHandle(Event, EVENT_MODIFY_STATE, *ExEventObjectType, mode, &event,
                                       nullptr);
    if (!NT_SUCCESS(status)) {
      ObDereferenceObject(file);
      return status;
    }
    KeClearEvent(static_cast<PKEVENT>(event));
  }
  KeClearEvent(&file->Event);

  PDEVICE_OBJECT device = IoGetAttachedDevice(file->DeviceObject);
  PIRP irp = tarnlink::io::AllocateOwnedIrp(device->StackSize);
  if (irp == nullptr) {
    if (event != nullptr) ObDereferenceObject(event);
    ObDereferenceObject(file);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  tarnlink::io::OwnedIrp* record = tarnlink::io::OwnedRecord(irp);
  record->fileObject = file;  // the IRP now owns the file reference
  record->referencedEvent = static_cast<PKEVENT>(event);
  IO_STATUS_BLOCK* final_status = IoStatusBlock;
  irp->RequestorMode = mode;
  irp->UserIosb = final_status;
  irp->UserEvent = event != nullptr ? static_cast<PKEVENT>(event) : &file->Event;
  irp->Tail.Overlay.OriginalFileObject = file;
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoGetNextIrpStackLocation(irp)->FileObject = file;
  status = tarnlink::io::PrepareDeviceControl(irp, IoControlCode, FALSE, InputBuffer,
                                              InputBufferLength, OutputBuffer, OutputBufferLength);
  if (!NT_SUCCESS(status)) {
    irp->UserIosb = nullptr;
    irp->UserEvent = nullptr;
    irp->IoStatus.Status = status;
    tarnlink::io::FinishOwnedIrp(irp);
    return status;
  }
  bool synchronous = (file->Flags & FO_SYNCHRONOUS_IO) != 0;
  ObReferenceObject(file);  // the wait below outlives the IRP's reference
  KIRQL irql;
  KeAcquireSpinLock(&file->IrpListLock, &irql);
  InsertTailList(&file->IrpList, &irp->ThreadListEntry);
  KeReleaseSpinLock(&file->IrpListLock, irql);

  status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING && synchronous) {
    KeWaitForSingleObject(event != nullptr ? event : &file->Event, Executive, mode, FALSE, nullptr);
    status = final_status->Status;
  }
  ObDereferenceObject(file);
  return status;
}

// Cancels the file's outstanding requests, those of one thread or all of them, one at a time:
// a cancel routine completes its IRP, which takes it off the list.
NTSTATUS CancelFileIo(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, bool all_threads) {
  PVOID object = nullptr;
  NTSTATUS status =
      ObReferenceObjectByHandle(FileHandle, 0, *IoFileObjectType, UserMode, &object, nullptr);
  if (!NT_SUCCESS(status)) return status;
  auto file = static_cast<PFILE_OBJECT>(object);
  PETHREAD self = PsGetCurrentThread();
  bool found = false;
  for (;;) {
    KIRQL cancel_irql;
    IoAcquireCancelSpinLock(&cancel_irql);
    PIRP victim = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&file->IrpListLock, &irql);
    for (PLIST_ENTRY e = file->IrpList.Flink; e != &file->IrpList; e = e->Flink) {
      PIRP irp = CONTAINING_RECORD(e, IRP, ThreadListEntry);
      if (!irp->Cancel && (all_threads || irp->Tail.Overlay.Thread == self)) {
        victim = irp;
        break;
      }
    }
    KeReleaseSpinLock(&file->IrpListLock, irql);
    if (victim == nullptr) {
      IoReleaseCancelSpinLock(cancel_irql);
      break;
    }
    found = true;
    tarnlink::io::CancelIrpWithLockHeld(victim, cancel_irql);
  }
  ObDereferenceObject(file);
  if (IoStatusBlock != nullptr) *IoStatusBlock = IO_STATUS_BLOCK{{STATUS_SUCCESS}, 0};
  return found || !all_threads ? STATUS_SUCCESS : STATUS_NOT_FOUND;
}

}  // namespace

NTSTATUS ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      PLARGE_INTEGER, ULONG, ULONG ShareAccess, ULONG CreateDisposition,
                      ULONG CreateOptions, PVOID, ULONG) {
  return CreateFile(KernelMode, FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock,
                    ShareAccess, CreateDisposition, CreateOptions);
}

NTSTATUS NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      PLARGE_INTEGER, ULONG, ULONG ShareAccess, ULONG CreateDisposition,
                      ULONG CreateOptions, PVOID, ULONG) {
  return CreateFile(UserMode, FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock,
                    ShareAccess, CreateDisposition, CreateOptions);
}

NTSTATUS ZwDeviceIoControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE, PVOID,
                               PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode,
                               PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                               ULONG OutputBufferLength) {
  return DeviceIoControl(KernelMode, FileHandle, Event, IoStatusBlock, IoControlCode, InputBuffer,
                         InputBufferLength, OutputBuffer, OutputBufferLength);
}

NTSTATUS NtDeviceIoControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE, PVOID,
                               PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode,
                               PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                               ULONG OutputBufferLength) {
  return DeviceIoControl(UserMode, FileHandle, Event, IoStatusBlock, IoControlCode, InputBuffer,
                         InputBufferLength, OutputBuffer, OutputBufferLength);
}

NTSTATUS NtCancelIoFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock) {
  return CancelFileIo(FileHandle, IoStatusBlock, false);
}

NTSTATUS NtCancelIoFileEx(HANDLE FileHandle, PIO_STATUS_BLOCK, PIO_STATUS_BLOCK IoStatusBlock) {
  return CancelFileIo(FileHandle, IoStatusBlock, true);
}
