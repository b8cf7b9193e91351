// The object manager's kernel API: object types, references, handles.
#include <mutex>

#include "kernel/bugcheck.h"
#include "kernel/file_object_host.h"
#include "kernel/machine.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"

namespace tarnlink::kernel {
void DeleteThreadObject(PVOID object);
void DiscardThreadObject(PVOID object);
void DeleteProcessObject(PVOID object);
void DiscardProcessObject(PVOID object);
}  // namespace tarnlink::kernel

using tarnlink::kernel::HandleTable;
using tarnlink::kernel::Machine;
using tarnlink::kernel::Verify;

namespace {

constexpr GENERIC_MAPPING kStandardMapping = {
    STANDARD_RIGHTS_READ | 0x1, STANDARD_RIGHTS_WRITE | 0x2, STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE,
    STANDARD_RIGHTS_ALL | 0xFFFF};

OBJECT_TYPE g_threadType = {"Thread",          tarnlink::kernel::DeleteThreadObject,
                            nullptr,           kStandardMapping,
                            THREAD_ALL_ACCESS, tarnlink::kernel::DiscardThreadObject};
OBJECT_TYPE g_processType = {
    "Process",          tarnlink::kernel::DeleteProcessObject, nullptr, kStandardMapping,
    PROCESS_ALL_ACCESS, tarnlink::kernel::DiscardProcessObject};
OBJECT_TYPE g_eventType = {"Event", nullptr, nullptr, kStandardMapping, EVENT_ALL_ACCESS, nullptr};
OBJECT_TYPE g_semaphoreType = {"Semaphore",          nullptr, nullptr, kStandardMapping,
                               SEMAPHORE_ALL_ACCESS, nullptr};
// File objects belong to the I/O manager: clean-up at the last handle, close at the last
// reference.
OBJECT_TYPE g_fileType = {"File",           tarnlink::io::DeleteFileObject,
                          tarnlink::io::CloseFileObjectHandle,
                          kStandardMapping, 0x1F01FF, tarnlink::io::DiscardFileObject};
OBJECT_TYPE g_deviceType = {"Device", nullptr, nullptr, kStandardMapping, 0x1F01FF, nullptr};
OBJECT_TYPE g_driverType = {"Driver", nullptr, nullptr, kStandardMapping, 0x1F01FF, nullptr};

POBJECT_TYPE g_threadTypePointer = &g_threadType;
POBJECT_TYPE g_processTypePointer = &g_processType;
POBJECT_TYPE g_eventTypePointer = &g_eventType;
POBJECT_TYPE g_semaphoreTypePointer = &g_semaphoreType;
POBJECT_TYPE g_fileTypePointer = &g_fileType;
POBJECT_TYPE g_deviceTypePointer = &g_deviceType;
POBJECT_TYPE g_driverTypePointer = &g_driverType;

// Handle tables change only in API calls; one lock keeps them consistent with the counts.
std::mutex g_handleLock;

HandleTable* TableFor(PEPROCESS process, HANDLE handle) {
  if (HandleTable::IsKernelHandle(handle)) return Machine::Current().systemProcess()->ObjectTable;
  return process->ObjectTable;
}

NTSTATUS CloseHandleIn(PEPROCESS process, HANDLE handle, KPROCESSOR_MODE mode) {
  Machine& machine = Machine::Current();
  if (HandleTable::IsKernelHandle(handle)) process = machine.systemProcess();
  HandleTable::Entry entry;
  ULONG_PTR remaining = 0;
  NTSTATUS status = STATUS_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> guard(g_handleLock);
    HandleTable* table = TableFor(process, handle);
    if (!(mode == UserMode && table->IsKernelTable())) status = table->Remove(handle, &entry);
    if (NT_SUCCESS(status)) remaining = table->CountFor(entry.object);
  }
  if (!NT_SUCCESS(status)) {
    if (mode == KernelMode && HandleTable::IsKernelHandle(handle))
      Verify(INVALID_KERNEL_HANDLE, "kernel handle closed that is not open",
             reinterpret_cast<ULONG_PTR>(handle), 1);
    return status;
  }
  machine.objects().AddHandle(entry.object, -1);
  POBJECT_HEADER header = machine.objects().Header(entry.object);
  if (header != nullptr && header->Type->CloseProcedure != nullptr)
    header->Type->CloseProcedure(process, entry.object, remaining);
  ObfDereferenceObject(entry.object);
  return STATUS_SUCCESS;
}

}  // namespace

POBJECT_TYPE* PsThreadType = &g_threadTypePointer;
POBJECT_TYPE* PsProcessType = &g_processTypePointer;
POBJECT_TYPE* ExEventObjectType = &g_eventTypePointer;
POBJECT_TYPE* ExSemaphoreObjectType = &g_semaphoreTypePointer;
POBJECT_TYPE* IoFileObjectType = &g_fileTypePointer;
POBJECT_TYPE* IoDeviceObjectType = &g_deviceTypePointer;
POBJECT_TYPE* IoDriverObjectType = &g_driverTypePointer;

NTSTATUS ObHostCreateObject(POBJECT_TYPE Type, SIZE_T BodySize, ULONG Flags, PVOID* Object) {
  return Machine::Current().objects().Create(Type, BodySize, Flags, Object);
}

POBJECT_HEADER ObHostObjectHeader(PVOID Object) {
  return Machine::Current().objects().Header(Object);
}

BOOLEAN ObHostIsObject(PVOID Object) {
  return ObHostObjectHeader(Object) != nullptr;
}

SIZE_T ObHostDriverObjectCount() {
  return Machine::Current().objects().DriverObjectCount();
}

ACCESS_MASK ObHostMapGenericAccess(POBJECT_TYPE Type, ACCESS_MASK Access) {
  if (Access & GENERIC_READ) Access |= Type->GenericMapping.GenericRead;
  if (Access & GENERIC_WRITE) Access |= Type->GenericMapping.GenericWrite;
  if (Access & GENERIC_EXECUTE) Access |= Type->GenericMapping.GenericExecute;
  if (Access & (GENERIC_ALL | MAXIMUM_ALLOWED)) Access |= Type->GenericMapping.GenericAll;
  return Access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
}

NTSTATUS ObHostInsertHandle(PEPROCESS Process, PVOID Object, ACCESS_MASK GrantedAccess,
                            ULONG Attributes, PHANDLE Handle) {
  Machine& machine = Machine::Current();
  if ((Attributes & OBJ_KERNEL_HANDLE) != 0 || Process == nullptr)
    Process = machine.systemProcess();
  ObfReferenceObject(Object);
  NTSTATUS status;
  {
    std::lock_guard<std::mutex> guard(g_handleLock);
    status = Process->ObjectTable->Insert(Object, GrantedAccess, Attributes, Handle);
  }
  if (!NT_SUCCESS(status)) {
    ObfDereferenceObject(Object);
    return status;
  }
  machine.objects().AddHandle(Object, 1);
  return STATUS_SUCCESS;
}

SIZE_T ObHostKernelHandleCount() {
  std::lock_guard<std::mutex> guard(g_handleLock);
  return Machine::Current().kernelHandles().Count();
}

LONG_PTR ObfReferenceObject(PVOID Object) {
  ULONG error;
  const LONG_PTR count = Machine::Current().objects().Reference(Object, 1, &error);
  if (error != 0)
    Verify(error, "reference to something that is not a live object",
           reinterpret_cast<ULONG_PTR>(Object), static_cast<ULONG_PTR>(count));
  return count;
}

LONG_PTR ObfDereferenceObject(PVOID Object) {
  ULONG error;
  const LONG_PTR count = Machine::Current().objects().Dereference(Object, &error);
  if (error != 0)
    Verify(error, "dereference of an object with no references left (or not an object)",
           reinterpret_cast<ULONG_PTR>(Object));
  return count;
}

LONG_PTR ObReferenceObjectWithTag(PVOID Object, ULONG Tag) {
  UNREFERENCED_PARAMETER(Tag);
  return ObfReferenceObject(Object);
}

LONG_PTR ObDereferenceObjectWithTag(PVOID Object, ULONG Tag) {
  UNREFERENCED_PARAMETER(Tag);
  return ObfDereferenceObject(Object);
}

NTSTATUS ObReferenceObjectByPointer(PVOID Object, ACCESS_MASK DesiredAccess,
                                    POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode) {
  UNREFERENCED_PARAMETER(DesiredAccess);
  UNREFERENCED_PARAMETER(AccessMode);
  POBJECT_HEADER header = ObHostObjectHeader(Object);
  if (header == nullptr)
    Verify(REFERENCE_BY_POINTER, "reference to something that is not a live object",
           reinterpret_cast<ULONG_PTR>(Object));
  if (ObjectType != nullptr && header->Type != ObjectType) return STATUS_OBJECT_TYPE_MISMATCH;
  ObfReferenceObject(Object);
  return STATUS_SUCCESS;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                   POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                   PVOID* Object, POBJECT_HANDLE_INFORMATION HandleInformation) {
  if (Object == nullptr) return STATUS_INVALID_PARAMETER;
  *Object = nullptr;
  Machine& machine = Machine::Current();
  PVOID target = nullptr;
  ACCESS_MASK granted = 0;
  ULONG attributes = 0;
  if (Handle == NtCurrentThread() || Handle == NtCurrentProcess()) {
    target = Handle == NtCurrentThread() ? static_cast<PVOID>(PsGetCurrentThread())
                                         : static_cast<PVOID>(PsGetCurrentProcess());
    granted = Handle == NtCurrentThread() ? THREAD_ALL_ACCESS : PROCESS_ALL_ACCESS;
  } else {
    std::lock_guard<std::mutex> guard(g_handleLock);
    if (AccessMode == UserMode && HandleTable::IsKernelHandle(Handle)) return STATUS_INVALID_HANDLE;
    const HandleTable::Entry* entry = TableFor(PsGetCurrentProcess(), Handle)->Lookup(Handle);
    if (entry == nullptr) return STATUS_INVALID_HANDLE;
    target = entry->object;
    granted = entry->granted;
    attributes = entry->attributes;
  }
  POBJECT_HEADER header = machine.objects().Header(target);
  if (header == nullptr) return STATUS_INVALID_HANDLE;
  if (ObjectType != nullptr && header->Type != ObjectType) return STATUS_OBJECT_TYPE_MISMATCH;
  if (AccessMode == UserMode) {
    const ACCESS_MASK wanted = ObHostMapGenericAccess(header->Type, DesiredAccess);
    if ((wanted & ~granted) != 0) return STATUS_ACCESS_DENIED;
  }
  ObfReferenceObject(target);
  *Object = target;
  if (HandleInformation != nullptr) {
    HandleInformation->GrantedAccess = granted;
    HandleInformation->HandleAttributes = attributes;
  }
  return STATUS_SUCCESS;
}

NTSTATUS ObReferenceObjectByHandleWithTag(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                          POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                          ULONG Tag, PVOID* Object,
                                          POBJECT_HANDLE_INFORMATION HandleInformation) {
  UNREFERENCED_PARAMETER(Tag);
  return ObReferenceObjectByHandle(Handle, DesiredAccess, ObjectType, AccessMode, Object,
                                   HandleInformation);
}

NTSTATUS ObHostCloseHandle(PEPROCESS Process, HANDLE Handle, KPROCESSOR_MODE PreviousMode) {
  return CloseHandleIn(Process, Handle, PreviousMode);
}

NTSTATUS ObCloseHandle(HANDLE Handle, KPROCESSOR_MODE PreviousMode) {
  return CloseHandleIn(PsGetCurrentProcess(), Handle, PreviousMode);
}

NTSTATUS ZwClose(HANDLE Handle) {
  return ObCloseHandle(Handle, KernelMode);
}
