#include "win32/named_objects.h"

#include <string>

#include "kernel/namespace.h"
#include "kernel/ps.h"
#include "win32/errhandlingapi.h"
#include "win32/nt_error.h"
#include "win32/synchapi.h"

namespace tarnlink::win32 {

namespace {

constexpr GENERIC_MAPPING kMutantMapping = {STANDARD_RIGHTS_READ | MUTANT_QUERY_STATE,
                                            STANDARD_RIGHTS_WRITE,
                                            STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE,
                                            MUTANT_ALL_ACCESS};
OBJECT_TYPE g_mutantType = {"Mutant", nullptr, nullptr, kMutantMapping, MUTANT_ALL_ACCESS,
                            nullptr};

ULONG HandleAttributes(BOOL inherit) {
  return inherit ? OBJ_INHERIT : 0;
}

// The namespace path of a Win32 object name; empty (with the last error set) when invalid.
std::u16string NamespacePath(LPCWSTR name) {
  std::u16string path = io::Win32ObjectName(name);
  if (path.empty()) FailWith(STATUS_OBJECT_PATH_NOT_FOUND);
  return path;
}

HANDLE InsertHandle(PVOID object, ACCESS_MASK access, ULONG attributes) {
  HANDLE handle = nullptr;
  const NTSTATUS status =
      ObHostInsertHandle(PsGetCurrentProcess(), object, access, attributes, &handle);
  ObDereferenceObject(object);
  if (!NT_SUCCESS(status)) {
    FailWith(status);
    return nullptr;
  }
  return handle;
}

}  // namespace

POBJECT_TYPE MutantType() {
  return &g_mutantType;
}

HANDLE CreateNamedObject(POBJECT_TYPE Type, SIZE_T BodySize, ACCESS_MASK AllAccess,
                         LPSECURITY_ATTRIBUTES Attributes, LPCWSTR Name,
                         const std::function<void(PVOID)>& Initialize, bool* Created) {
  *Created = false;
  const ULONG attributes =
      HandleAttributes(Attributes != nullptr && Attributes->bInheritHandle);
  std::u16string path;
  if (Name != nullptr && Name[0] != 0) {
    path = NamespacePath(Name);
    if (path.empty()) return nullptr;
    PVOID existing = nullptr;
    const NTSTATUS status = io::ReferenceNamedObject(path, nullptr, &existing);
    if (NT_SUCCESS(status)) {
      if (ObHostObjectHeader(existing)->Type != Type) {
        // Another kind of object holds the name.
        ObDereferenceObject(existing);
        FailWithError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      HANDLE handle = InsertHandle(existing, AllAccess, attributes);
      if (handle != nullptr) SetLastError(ERROR_ALREADY_EXISTS);
      return handle;
    }
  }
  PVOID object = nullptr;
  NTSTATUS status = ObHostCreateObject(Type, BodySize, OB_FLAG_MACHINE_OWNED, &object);
  if (!NT_SUCCESS(status)) {
    FailWith(status);
    return nullptr;
  }
  Initialize(object);
  if (!path.empty()) {
    status = io::InsertNamedObject(path, object);
    if (!NT_SUCCESS(status)) {
      ObDereferenceObject(object);
      FailWith(status);
      return nullptr;
    }
  }
  HANDLE handle = InsertHandle(object, AllAccess, attributes);
  if (handle != nullptr) {
    *Created = true;
    SetLastError(ERROR_SUCCESS);
  }
  return handle;
}

HANDLE OpenNamedObject(POBJECT_TYPE Type, ACCESS_MASK DesiredAccess, BOOL InheritHandle,
                       LPCWSTR Name) {
  if (Name == nullptr) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string path = NamespacePath(Name);
  if (path.empty()) return nullptr;
  PVOID object = nullptr;
  const NTSTATUS status = io::ReferenceNamedObject(path, Type, &object);
  if (!NT_SUCCESS(status)) {
    FailWith(status == STATUS_OBJECT_TYPE_MISMATCH ? STATUS_INVALID_HANDLE : status);
    return nullptr;
  }
  // Every object here has a null DACL: any access the type defines is granted, nothing more.
  const ACCESS_MASK access = ObHostMapGenericAccess(Type, DesiredAccess);
  if ((access & ~Type->ValidAccessMask) != 0) {
    ObDereferenceObject(object);
    FailWith(STATUS_ACCESS_DENIED);
    return nullptr;
  }
  return InsertHandle(object, access, HandleAttributes(InheritHandle));
}

PVOID ReferenceHandle(HANDLE Handle, POBJECT_TYPE Type, ACCESS_MASK DesiredAccess) {
  PVOID object = nullptr;
  const NTSTATUS status =
      ObReferenceObjectByHandle(Handle, DesiredAccess, Type, UserMode, &object, nullptr);
  if (!NT_SUCCESS(status)) {
    FailWith(status == STATUS_OBJECT_TYPE_MISMATCH ? STATUS_INVALID_HANDLE : status);
    return nullptr;
  }
  return object;
}

}  // namespace tarnlink::win32
