// Host-side object manager interface for the platform: creating object types and objects,
// inserting handles. Product code never includes this header.
#pragma once

#include "kernel/ob.h"

// What the object manager knows about a kind of object.
struct _OBJECT_TYPE {
  const char* Name;
  // Runs when the last reference goes, before the memory is released.
  VOID (*DeleteProcedure)(PVOID Object);
  // Runs after a handle to the object was closed in Process; ProcessHandleCount is the number
  // of handles the process still has to it (0 means its last one went).
  VOID (*CloseProcedure)(PEPROCESS Process, PVOID Object, ULONG_PTR ProcessHandleCount);
  GENERIC_MAPPING GenericMapping;
  ACCESS_MASK ValidAccessMask;
  // Runs when the machine is torn down with the object still alive: releases host resources
  // only, and calls no driver. Null when the body owns nothing.
  VOID (*DiscardProcedure)(PVOID Object);
};
typedef struct _OBJECT_TYPE OBJECT_TYPE;

typedef struct _OBJECT_HEADER {
  ULONG Magic;
  ULONG Flags;
  LONG_PTR PointerCount;
  LONG_PTR HandleCount;
  POBJECT_TYPE Type;
  PVOID NameInfo;  // owned by the named-object namespace; null for unnamed objects
} OBJECT_HEADER, *POBJECT_HEADER;

// Object flags.
#define OB_FLAG_MACHINE_OWNED 0x1UL  // belongs to the machine, not to a driver: no leak report

// Creates a zeroed object body of BodySize bytes with one reference. Returns
// STATUS_INSUFFICIENT_RESOURCES when the (injectable) allocation fails.
NTSTATUS ObHostCreateObject(POBJECT_TYPE Type, SIZE_T BodySize, ULONG Flags, PVOID* Object);
// The header of a live object, or null when Object is not one.
POBJECT_HEADER ObHostObjectHeader(PVOID Object);
BOOLEAN ObHostIsObject(PVOID Object);
// Objects alive right now that are not machine-owned.
SIZE_T ObHostDriverObjectCount();

// Inserts a handle for Object into Process's table (the kernel handle table for
// OBJ_KERNEL_HANDLE or the System process); the handle holds its own reference.
NTSTATUS ObHostInsertHandle(PEPROCESS Process, PVOID Object, ACCESS_MASK GrantedAccess,
                            ULONG Attributes, PHANDLE Handle);
// Closes a handle of Process's table (kernel handles always close in the kernel table).
NTSTATUS ObHostCloseHandle(PEPROCESS Process, HANDLE Handle, KPROCESSOR_MODE PreviousMode);
// Maps the generic bits of an access mask through the type's mapping.
ACCESS_MASK ObHostMapGenericAccess(POBJECT_TYPE Type, ACCESS_MASK Access);
// Handles open in the kernel handle table.
SIZE_T ObHostKernelHandleCount();
