// Creating and opening the Win32 layer's synchronisation objects, named or not, in the
// machine's namespace. Host side.
#pragma once

#include <functional>

#include "kernel/ob_host.h"
#include "win32/windef.h"

namespace tarnlink::win32 {

// The object type of Win32 mutexes (mutants).
POBJECT_TYPE MutantType();

// Creates an object of Type (Initialize prepares its body) or, when Name is taken by an object
// of the same type, opens that one: the result is a handle with AllAccess, and the last error
// is ERROR_ALREADY_EXISTS or 0. *Created tells which. Null on failure, with the last error.
HANDLE CreateNamedObject(POBJECT_TYPE Type, SIZE_T BodySize, ACCESS_MASK AllAccess,
                         LPSECURITY_ATTRIBUTES Attributes, LPCWSTR Name,
                         const std::function<void(PVOID)>& Initialize, bool* Created);
// Opens an existing named object of Type with the access asked for. Null on failure.
HANDLE OpenNamedObject(POBJECT_TYPE Type, ACCESS_MASK DesiredAccess, BOOL InheritHandle,
                       LPCWSTR Name);
// The referenced object behind a handle of the current process, or null with the last error.
PVOID ReferenceHandle(HANDLE Handle, POBJECT_TYPE Type, ACCESS_MASK DesiredAccess);

}  // namespace tarnlink::win32
