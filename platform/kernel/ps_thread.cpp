// System threads: thread objects created through the object manager and run by the scheduler.
#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;
using tarnlink::kernel::ThreadRole;
using tarnlink::kernel::Verify;

namespace tarnlink::kernel {

void DeleteThreadObject(PVOID object) {
  PKTHREAD thread = static_cast<PKTHREAD>(object);
  if (Machine* machine = Machine::CurrentOrNull()) {
    Lock lock(machine->dispatcherLock());
    RemoveEntryList(&thread->threadListLink.link);
  }
  thread->~KTHREAD();
}

void DiscardThreadObject(PVOID object) {
  static_cast<PKTHREAD>(object)->~KTHREAD();
}

}  // namespace tarnlink::kernel

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess,
                              POBJECT_ATTRIBUTES ObjectAttributes, HANDLE ProcessHandle,
                              PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                              PVOID StartContext) {
  UNREFERENCED_PARAMETER(ProcessHandle);
  if (ThreadHandle == nullptr || StartRoutine == nullptr) return STATUS_INVALID_PARAMETER;
  if (KeGetCurrentIrql() != PASSIVE_LEVEL)
    Verify(IRQL_NOT_LESS_OR_EQUAL, "PsCreateSystemThread above PASSIVE_LEVEL", 0,
           KeGetCurrentIrql());
  Machine& machine = Machine::Current();
  PKTHREAD thread;
  {
    Lock lock(machine.dispatcherLock());
    thread = machine.CreateThread(
        lock, ThreadRole::System, "system thread", 8,
        [StartRoutine, StartContext] { StartRoutine(StartContext); }, 0);
    if (thread == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    thread->startRoutine = StartRoutine;
    thread->startContext = StartContext;
  }
  const ULONG attributes = ObjectAttributes != nullptr ? ObjectAttributes->Attributes : 0;
  PEPROCESS target =
      (attributes & OBJ_KERNEL_HANDLE) != 0 ? machine.systemProcess() : PsGetCurrentProcess();
  const NTSTATUS status =
      ObHostInsertHandle(target, thread, ObHostMapGenericAccess(*PsThreadType, DesiredAccess),
                         attributes, ThreadHandle);
  if (ClientId != nullptr) {
    ClientId->UniqueProcess = PsGetProcessId(machine.systemProcess());
    ClientId->UniqueThread = PsGetThreadId(thread);
  }
  {
    Lock lock(machine.dispatcherLock());
    machine.ReadyThread(thread);
  }
  return status;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus) {
  PKTHREAD self = Machine::CurrentThread();
  if (self->role != ThreadRole::System)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
           "PsTerminateSystemThread called outside a system thread", 0x1700);
  Machine::TerminateCurrentThread(ExitStatus);
}

PKTHREAD KeGetCurrentThread() {
  return Machine::CurrentThread();
}
PETHREAD PsGetCurrentThread() {
  return Machine::CurrentThread();
}

HANDLE PsGetThreadId(PETHREAD Thread) {
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(Thread->id));
}

HANDLE PsGetCurrentThreadId() {
  return PsGetThreadId(Machine::CurrentThread());
}

BOOLEAN PsIsSystemThread(PETHREAD Thread) {
  return Thread->role != ThreadRole::Host ? TRUE : FALSE;
}

PEPROCESS PsGetThreadProcess(PETHREAD Thread) {
  return Thread->process;
}

KPRIORITY KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority) {
  if (Priority < LOW_PRIORITY + 1 || Priority > HIGH_PRIORITY)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "thread priority outside 1..31", 0x1701,
           reinterpret_cast<ULONG_PTR>(Thread), static_cast<ULONG_PTR>(Priority));
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  const KPRIORITY old = Thread->priority;
  machine.SetPriority(Thread, Priority);
  return old;
}

KPRIORITY KeQueryPriorityThread(PKTHREAD Thread) {
  return Thread->priority;
}
