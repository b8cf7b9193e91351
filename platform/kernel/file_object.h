// File objects: one per open of a device, shared by every handle duplicated from that open.
#pragma once

#include "kernel/io_types.h"
#include "kernel/ke_types.h"
#include "kernel/rtl_string.h"

typedef struct _FILE_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;  // the device the open was sent to (top of its stack)
  PVOID Vpb;
  PVOID FsContext;   // for the driver; kernel streaming keeps its object header here
  PVOID FsContext2;  // for the driver
  PVOID SectionObjectPointer;
  PVOID PrivateCacheMap;
  NTSTATUS FinalStatus;
  struct _FILE_OBJECT* RelatedFileObject;
  BOOLEAN LockOperation;
  BOOLEAN DeletePending;
  BOOLEAN ReadAccess;
  BOOLEAN WriteAccess;
  BOOLEAN DeleteAccess;
  BOOLEAN SharedRead;
  BOOLEAN SharedWrite;
  BOOLEAN SharedDelete;
  ULONG Flags;
  // What followed the device's name in the opened path: "\asio", a reference string, or empty.
  UNICODE_STRING FileName;
  LARGE_INTEGER CurrentByteOffset;
  ULONG Waiters;
  ULONG Busy;
  PVOID LastLock;
  KEVENT Lock;
  KEVENT Event;
  PVOID CompletionContext;
  KSPIN_LOCK IrpListLock;
  LIST_ENTRY IrpList;  // requests outstanding on this file, for cancellation
  PVOID FileObjectExtension;
  // A pointer-sized slot that belongs to the driver serving the file, beside FsContext and
  // FsContext2, for drivers whose file objects the kernel-streaming layer already fills.
  PVOID DriverContext;
} FILE_OBJECT;

#define FO_SYNCHRONOUS_IO 0x00000002
#define FO_HANDLE_CREATED 0x00040000
#define FO_CLEANUP_COMPLETE 0x00004000
