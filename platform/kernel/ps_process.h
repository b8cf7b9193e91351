// Processes, host side: the process record and how the platform creates processes and moves
// threads between them. Product code sees PEPROCESS only as an opaque pointer.
#pragma once

#include "kernel/ke_types.h"
#include "kernel/ob_handle_table.h"

struct _EPROCESS {
  DISPATCHER_HEADER Header;  // signalled when the process has ended
  tarnlink::kernel::HandleTable* ObjectTable;
  ULONG_PTR UniqueProcessId;
  CHAR ImageFileName[16];
  BOOLEAN Terminated;
  PVOID Extension;  // per-process data of the I/O side (user processes, namespaces)
};

// Creates a process with its own handle table; one reference for the caller.
NTSTATUS PsHostCreateProcess(const char* ImageName, PEPROCESS* Process);
// Closes every handle of the process and signals it. The process object lives on while
// referenced.
VOID PsHostTerminateProcess(PEPROCESS Process);
// The process whose handle table and address space Thread uses (its own, or the one it is
// attached to).
PEPROCESS PsHostCurrentProcessOf(PKTHREAD Thread);
// Moves a thread (for example a user-mode program's main thread) into a process.
VOID PsHostSetThreadProcess(PKTHREAD Thread, PEPROCESS Process);
