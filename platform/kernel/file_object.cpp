#include <cstring>
#include <new>

#include "kernel/device_object_host.h"
#include "kernel/ex_pool.h"
#include "kernel/file_object_host.h"
#include "kernel/interlocked.h"
#include "kernel/irp_owned.h"
#include "kernel/namespace.h"
#include "kernel/ps.h"

namespace tarnlink::io {

namespace {

FileObjectHost* HostOf(PFILE_OBJECT file) {
  return static_cast<FileObjectHost*>(file->FileObjectExtension);
}

NTSTATUS SetFileName(PFILE_OBJECT file, std::u16string_view name) {
  if (name.empty()) return STATUS_SUCCESS;
  if (name.size() * sizeof(WCHAR) > UNICODE_STRING_MAX_BYTES - sizeof(WCHAR))
    return STATUS_OBJECT_NAME_INVALID;
  auto bytes = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  auto buffer =
      static_cast<PWCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes + sizeof(WCHAR), kIoNameTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  std::memcpy(buffer, name.data(), bytes);
  buffer[name.size()] = 0;
  file->FileName = UNICODE_STRING{bytes, static_cast<USHORT>(bytes + sizeof(WCHAR)), buffer};
  return STATUS_SUCCESS;
}

// A new file object for an open of Device; one reference for the caller, which also keeps the
// device alive.
NTSTATUS CreateFileObject(PDEVICE_OBJECT device, const ResolvedPath& resolved, ULONG options,
                          PFILE_OBJECT* result) {
  PVOID body = nullptr;
  NTSTATUS status = ObHostCreateObject(*IoFileObjectType, sizeof(FILE_OBJECT), 0, &body);
  if (!NT_SUCCESS(status)) return status;
  auto file = static_cast<PFILE_OBJECT>(body);
  file->Type = IO_TYPE_FILE;
  file->Size = sizeof(FILE_OBJECT);
  file->FileObjectExtension = new FileObjectHost{resolved.interfaceReference, false};
  KeInitializeEvent(&file->Lock, SynchronizationEvent, FALSE);
  KeInitializeEvent(&file->Event, NotificationEvent, FALSE);
  KeInitializeSpinLock(&file->IrpListLock);
  InitializeListHead(&file->IrpList);
  if (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT))
    file->Flags |= FO_SYNCHRONOUS_IO;
  ObReferenceObject(device);
  file->DeviceObject = device;
  status = SetFileName(file, resolved.remainder);
  if (!NT_SUCCESS(status)) {
    ObDereferenceObject(file);
    return status;
  }
  *result = file;
  return STATUS_SUCCESS;
}

}  // namespace

namespace {

// Sends the create for a new open of Device and hands the caller a handle; Related (referenced
// by the new file until it goes) is the file the open is relative to, or null.
NTSTATUS OpenOnDevice(PDEVICE_OBJECT device, const ResolvedPath& resolved, PFILE_OBJECT related,
                      ACCESS_MASK DesiredAccess, ULONG Attributes, ULONG ShareAccess,
                      ULONG CreateDisposition, ULONG CreateOptions, PHANDLE Handle,
                      PIO_STATUS_BLOCK IoStatus) {
  PFILE_OBJECT file = nullptr;
  NTSTATUS status = STATUS_SUCCESS;
  if (device->DeviceObjectExtension->DeletePending) {
    status = STATUS_DELETE_PENDING;
  } else if ((device->Flags & DO_EXCLUSIVE) && device->ReferenceCount != 0) {
    status = STATUS_ACCESS_DENIED;
  } else {
    status = CreateFileObject(device, resolved, CreateOptions, &file);
  }
  if (!NT_SUCCESS(status)) return status;
  if (related != nullptr) {
    ObReferenceObject(related);
    file->RelatedFileObject = related;
  }

  IO_STACK_LOCATION parameters = {};
  parameters.Parameters.Create.Options = (CreateDisposition << 24) | (CreateOptions & 0xFFFFFF);
  parameters.Parameters.Create.ShareAccess = static_cast<USHORT>(ShareAccess);
  IO_STATUS_BLOCK create_status = {};
  status = SendSynchronousFileRequest(file, IRP_MJ_CREATE, &parameters, &create_status);
  if (IoStatus != nullptr) *IoStatus = create_status;
  if (!NT_SUCCESS(status)) {
    ObDereferenceObject(file);  // no close is owed for a refused create
    return status;
  }
  HostOf(file)->created = true;
  InterlockedIncrement(&device->ReferenceCount);  // open files of the device
  ACCESS_MASK granted = ObHostMapGenericAccess(*IoFileObjectType, DesiredAccess);
  file->ReadAccess = (granted & FILE_READ_DATA) != 0;
  file->WriteAccess = (granted & FILE_WRITE_DATA) != 0;
  status = ObHostInsertHandle(PsGetCurrentProcess(), file, granted, Attributes, Handle);
  file->Flags |= FO_HANDLE_CREATED;
  // Without a handle the reference below is the last: clean-up and close follow at once.
  if (!NT_SUCCESS(status)) CloseFileObjectHandle(PsGetCurrentProcess(), file, 0);
  ObDereferenceObject(file);
  if (NT_SUCCESS(status) && IoStatus != nullptr) IoStatus->Information = FILE_OPENED;
  return status;
}

}  // namespace

NTSTATUS OpenFile(std::u16string_view Path, ACCESS_MASK DesiredAccess, ULONG Attributes,
                  ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions,
                  KPROCESSOR_MODE Mode, PHANDLE Handle, PIO_STATUS_BLOCK IoStatus) {
  if (Handle == nullptr) return STATUS_INVALID_PARAMETER;
  // A user-mode caller cannot ask for a handle in the kernel's table.
  if (Mode == UserMode) Attributes &= ~static_cast<ULONG>(OBJ_KERNEL_HANDLE);
  ResolvedPath resolved;
  NTSTATUS status = ResolvePath(Path, &resolved);
  if (!NT_SUCCESS(status)) return status;
  POBJECT_HEADER header = ObHostObjectHeader(resolved.object);
  if (header->Type != *IoDeviceObjectType) {
    ObDereferenceObject(resolved.object);
    return STATUS_OBJECT_TYPE_MISMATCH;
  }
  auto device = static_cast<PDEVICE_OBJECT>(resolved.object);
  status = OpenOnDevice(device, resolved, nullptr, DesiredAccess, Attributes, ShareAccess,
                        CreateDisposition, CreateOptions, Handle, IoStatus);
  ObDereferenceObject(device);
  return status;
}

NTSTATUS OpenRelativeFile(HANDLE Root, std::u16string_view Name, ACCESS_MASK DesiredAccess,
                          ULONG Attributes, ULONG ShareAccess, ULONG CreateDisposition,
                          ULONG CreateOptions, KPROCESSOR_MODE Mode, PHANDLE Handle,
                          PIO_STATUS_BLOCK IoStatus) {
  if (Handle == nullptr) return STATUS_INVALID_PARAMETER;
  if (Mode == UserMode) Attributes &= ~static_cast<ULONG>(OBJ_KERNEL_HANDLE);
  PVOID object = nullptr;
  NTSTATUS status = ObReferenceObjectByHandle(Root, 0, *IoFileObjectType, Mode, &object, nullptr);
  if (!NT_SUCCESS(status)) return status;
  auto root = static_cast<PFILE_OBJECT>(object);
  ResolvedPath resolved;
  resolved.remainder = std::u16string(Name);
  if (HostOf(root) != nullptr) resolved.interfaceReference = HostOf(root)->interfaceReference;
  status = root->DeviceObject != nullptr
               ? OpenOnDevice(root->DeviceObject, resolved, root, DesiredAccess, Attributes,
                              ShareAccess, CreateDisposition, CreateOptions, Handle, IoStatus)
               : STATUS_INVALID_PARAMETER;
  ObDereferenceObject(root);
  return status;
}

VOID CloseFileObjectHandle(PEPROCESS Process, PVOID Object, ULONG_PTR ProcessHandleCount) {
  UNREFERENCED_PARAMETER(Process);
  UNREFERENCED_PARAMETER(ProcessHandleCount);
  auto file = static_cast<PFILE_OBJECT>(Object);
  POBJECT_HEADER header = ObHostObjectHeader(file);
  // Clean-up goes once, when the last handle of every process has gone.
  if (header->HandleCount > 0 || (file->Flags & FO_CLEANUP_COMPLETE)) return;
  if (!HostOf(file)->created) return;
  file->Flags |= FO_CLEANUP_COMPLETE;
  SendSynchronousFileRequest(file, IRP_MJ_CLEANUP, nullptr, nullptr);
}

VOID DeleteFileObject(PVOID Object) {
  auto file = static_cast<PFILE_OBJECT>(Object);
  FileObjectHost* host = HostOf(file);
  const bool created = host != nullptr && host->created;
  if (created) {
    // The object is past its last reference; the close request must not revive it.
    SendSynchronousFileRequest(file, IRP_MJ_CLOSE, nullptr, nullptr);
  }
  if (file->FileName.Buffer != nullptr) ExFreePoolWithTag(file->FileName.Buffer, kIoNameTag);
  file->FileName = UNICODE_STRING{};
  delete host;
  file->FileObjectExtension = nullptr;
  if (PDEVICE_OBJECT device = file->DeviceObject) {
    if (created) InterlockedDecrement(&device->ReferenceCount);
    file->DeviceObject = nullptr;
    ObDereferenceObject(device);
  }
  if (PFILE_OBJECT related = file->RelatedFileObject) {
    file->RelatedFileObject = nullptr;
    ObDereferenceObject(related);
  }
}

VOID DiscardFileObject(PVOID Object) {
  auto file = static_cast<PFILE_OBJECT>(Object);
  delete HostOf(file);
  file->FileObjectExtension = nullptr;
}

}  // namespace tarnlink::io

std::u16string_view IoHostFileInterfaceReference(PFILE_OBJECT FileObject) {
  auto* host = static_cast<tarnlink::io::FileObjectHost*>(FileObject->FileObjectExtension);
  return host == nullptr ? std::u16string_view{} : std::u16string_view(host->interfaceReference);
}
