// The machine-wide object namespace: named device objects, symbolic links (device interfaces
// among them) and named objects such as the Win32 layer's events and mutexes. Names compare
// without regard to letter case. Host side; product code never includes this header.
#pragma once

#include <string>
#include <string_view>

#include "kernel/ob_host.h"

namespace tarnlink::io {

// Links written \DosDevices\X, \GLOBAL??\X and \??\X are one and the same.
std::u16string CanonicalObjectName(std::u16string_view name);

// Named objects. The namespace holds no reference: an object's name lasts while it has handles
// (or, for a device object, until IoDeleteDevice), as temporary objects on Windows.
// STATUS_OBJECT_NAME_COLLISION when the name is in use.
NTSTATUS InsertNamedObject(std::u16string_view name, PVOID object);
VOID RemoveNamedObject(PVOID object);
// The name an object was inserted under, or empty.
std::u16string NameOf(PVOID object);
// A referenced object of the given type (null: any type) under exactly this name.
// STATUS_OBJECT_NAME_NOT_FOUND, or STATUS_OBJECT_TYPE_MISMATCH.
NTSTATUS ReferenceNamedObject(std::u16string_view name, POBJECT_TYPE type, PVOID* object);

// Symbolic links. An interface link also names the reference string under which its device
// interface was registered.
NTSTATUS CreateSymbolicLink(std::u16string_view link, std::u16string_view target,
                            std::u16string_view interfaceReference = {});
NTSTATUS DeleteSymbolicLink(std::u16string_view link);

// Resolves a path to a named object: a symbolic link at the start is replaced by its target,
// and the rest of the path after the object's name is handed back.
struct ResolvedPath {
  PVOID object = nullptr;             // referenced
  std::u16string remainder;           // "\asio", or empty
  std::u16string interfaceReference;  // of the interface link the path went through
};
NTSTATUS ResolvePath(std::u16string_view path, ResolvedPath* resolved);

// Where the Win32 layer's object names live: "Global\X" in \BaseNamedObjects, "Local\X" and
// plain "X" in the session's own directory. Empty for an invalid name (a backslash in X).
std::u16string Win32ObjectName(std::u16string_view name);

// Forgets every entry (a new machine).
VOID ResetNamespace();

}  // namespace tarnlink::io
