// Processes: a handle table and an identity. The System process owns the kernel handle table.
#include <cstring>

#include "kernel/machine.h"
#include "kernel/mm_verifier.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"

using tarnlink::kernel::HandleTable;
using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;

namespace tarnlink::kernel {

namespace {
ULONG_PTR g_nextProcessId = 4;
}

void DeleteProcessObject(PVOID object) {
  auto* process = static_cast<PEPROCESS>(object);
  PsHostTerminateProcess(process);
  delete process->ObjectTable;
  process->ObjectTable = nullptr;
}

void DiscardProcessObject(PVOID object) {
  auto* process = static_cast<PEPROCESS>(object);
  delete process->ObjectTable;
  process->ObjectTable = nullptr;
}

}  // namespace tarnlink::kernel

PEPROCESS PsInitialSystemProcess = nullptr;

NTSTATUS PsHostCreateProcess(const char* ImageName, PEPROCESS* Process) {
  PVOID body = nullptr;
  const NTSTATUS status =
      ObHostCreateObject(*PsProcessType, sizeof(EPROCESS), OB_FLAG_MACHINE_OWNED, &body);
  if (!NT_SUCCESS(status)) return status;
  auto* process = static_cast<PEPROCESS>(body);
  process->Header.Type = ProcessObject;
  InitializeListHead(&process->Header.WaitListHead);
  const bool system = PsInitialSystemProcess == nullptr || std::strcmp(ImageName, "System") == 0;
  if (system) tarnlink::kernel::g_nextProcessId = 4;
  process->ObjectTable = new HandleTable(system);
  process->UniqueProcessId = tarnlink::kernel::g_nextProcessId;
  tarnlink::kernel::g_nextProcessId += 4;
  std::strncpy(process->ImageFileName, ImageName != nullptr ? ImageName : "",
               sizeof process->ImageFileName - 1);
  if (system) PsInitialSystemProcess = process;
  *Process = process;
  return STATUS_SUCCESS;
}

VOID PsHostTerminateProcess(PEPROCESS Process) {
  if (Process->Terminated) return;
  Process->Terminated = TRUE;
  // Handles close one by one, as when the process ends on Windows: the close procedure of each
  // object type sees every close.
  for (HANDLE handle = Process->ObjectTable->FirstHandle(); handle != nullptr;
       handle = Process->ObjectTable->FirstHandle())
    ObHostCloseHandle(Process, handle, KernelMode);
  if (Machine* machine = Machine::CurrentOrNull()) {
    // Closing the handles gave every driver its clean-up; a mapping that outlives them would
    // leave the process's pages to a driver that forgot them.
    for (const tarnlink::kernel::UserMapping& left : machine->userMappings().Of(Process))
      tarnlink::mm::MdlViolation(kMdlUserMappingLeft,
                                 "a driver's mapping into a process outlived the process",
                                 left.mdl, reinterpret_cast<ULONG_PTR>(left.userAddress),
                                 reinterpret_cast<ULONG_PTR>(Process));
    Lock lock(machine->dispatcherLock());
    Process->Header.SignalState = 1;
    machine->WaitTest(&Process->Header);
  }
}

PEPROCESS PsHostCurrentProcessOf(PKTHREAD Thread) {
  return Thread->attachedProcess != nullptr ? Thread->attachedProcess : Thread->process;
}

VOID PsHostSetThreadProcess(PKTHREAD Thread, PEPROCESS Process) {
  Thread->process = Process;
}

PEPROCESS PsGetCurrentProcess() {
  return PsHostCurrentProcessOf(Machine::CurrentThread());
}
PEPROCESS IoGetCurrentProcess() {
  return PsGetCurrentProcess();
}

HANDLE PsGetProcessId(PEPROCESS Process) {
  return reinterpret_cast<HANDLE>(Process->UniqueProcessId);
}

HANDLE PsGetCurrentProcessId() {
  return PsGetProcessId(PsGetCurrentProcess());
}

VOID KeStackAttachProcess(PRKPROCESS Process, PRKAPC_STATE ApcState) {
  PKTHREAD thread = Machine::CurrentThread();
  ApcState->SavedProcess = thread->attachedProcess;
  thread->attachedProcess = Process;
}

VOID KeUnstackDetachProcess(PRKAPC_STATE ApcState) {
  Machine::CurrentThread()->attachedProcess = ApcState->SavedProcess;
}
