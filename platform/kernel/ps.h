// System threads and the current process.
#pragma once

#include "kernel/ke_types.h"
#include "kernel/ob.h"

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess,
                              POBJECT_ATTRIBUTES ObjectAttributes, HANDLE ProcessHandle,
                              PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                              PVOID StartContext);
// Ends the calling system thread; never returns.
[[noreturn]] NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus);

PETHREAD PsGetCurrentThread();
HANDLE PsGetCurrentThreadId();
HANDLE PsGetThreadId(PETHREAD Thread);
BOOLEAN PsIsSystemThread(PETHREAD Thread);
PEPROCESS PsGetCurrentProcess();
HANDLE PsGetCurrentProcessId();
HANDLE PsGetProcessId(PEPROCESS Process);
PEPROCESS PsGetThreadProcess(PETHREAD Thread);
PEPROCESS IoGetCurrentProcess();
extern PEPROCESS PsInitialSystemProcess;

// Running in another process's address space and handle table for a while.
typedef struct _KAPC_STATE {
  PEPROCESS SavedProcess;
  ULONG_PTR Reserved[5];
} KAPC_STATE, *PKAPC_STATE, *PRKAPC_STATE;
VOID KeStackAttachProcess(PRKPROCESS Process, PRKAPC_STATE ApcState);
VOID KeUnstackDetachProcess(PRKAPC_STATE ApcState);
