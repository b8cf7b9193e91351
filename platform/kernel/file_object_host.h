// File objects, host side: creation by an open, and what the object manager calls when their
// handles and references go.
#pragma once

#include <string>
#include <string_view>

#include "kernel/file_object.h"
#include "kernel/ob_host.h"

namespace tarnlink::io {

// What the I/O manager keeps with a file object (FILE_OBJECT::FileObjectExtension).
struct FileObjectHost {
  std::u16string interfaceReference;  // of the device interface the file was opened through
  bool created = false;               // the driver accepted IRP_MJ_CREATE: close is owed
};

// Opens Path as Mode would (user or kernel caller) and returns a handle in the current process
// (or the kernel table for OBJ_KERNEL_HANDLE). IoStatus receives the create's status and
// FILE_OPENED.
NTSTATUS OpenFile(std::u16string_view Path, ACCESS_MASK DesiredAccess, ULONG Attributes,
                  ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions,
                  KPROCESSOR_MODE Mode, PHANDLE Handle, PIO_STATUS_BLOCK IoStatus);

// Opens Name relative to the file behind Root (a handle of the caller's mode): a new file on the
// same device whose RelatedFileObject is that file, as kernel streaming opens a pin through its
// filter. The name reaches the driver as the new file's FileName.
NTSTATUS OpenRelativeFile(HANDLE Root, std::u16string_view Name, ACCESS_MASK DesiredAccess,
                          ULONG Attributes, ULONG ShareAccess, ULONG CreateDisposition,
                          ULONG CreateOptions, KPROCESSOR_MODE Mode, PHANDLE Handle,
                          PIO_STATUS_BLOCK IoStatus);

VOID CloseFileObjectHandle(PEPROCESS Process, PVOID Object, ULONG_PTR ProcessHandleCount);
VOID DeleteFileObject(PVOID Object);
// The machine is going away: release what the I/O manager keeps, send nothing.
VOID DiscardFileObject(PVOID Object);

}  // namespace tarnlink::io

// The reference string of the device interface a file was opened through (empty when it was
// opened by device name), so that a framework serving several interfaces of one device can
// tell which one an open is for. Host side.
std::u16string_view IoHostFileInterfaceReference(PFILE_OBJECT FileObject);
