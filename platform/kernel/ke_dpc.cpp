// Deferred procedure calls. They run on the processor thread at DISPATCH_LEVEL, in the order
// queued (high importance at the front), before any ready thread runs.
#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

namespace {
// Marks a queued DPC (DpcData is non-null exactly while it is queued).
char g_queuedMarker;
constexpr UCHAR kDpcObjectType = 0x13;
}  // namespace

bool Machine::QueueDpc(PKDPC dpc, PVOID argument1, PVOID argument2) {
  if (dpc->DpcData != nullptr) return false;
  dpc->DpcData = &g_queuedMarker;
  dpc->SystemArgument1 = argument1;
  dpc->SystemArgument2 = argument2;
  if (dpc->Importance == HighImportance) {
    InsertHeadList(&dpcQueue_, &dpc->DpcListEntry);
  } else {
    InsertTailList(&dpcQueue_, &dpc->DpcListEntry);
  }
  return true;
}

bool Machine::RemoveDpc(PKDPC dpc) {
  if (dpc->DpcData == nullptr) return false;
  RemoveEntryList(&dpc->DpcListEntry);
  dpc->DpcData = nullptr;
  return true;
}

void Machine::DpcProcessorMain(Lock& lock, PKTHREAD self) {
  for (;;) {
    if (dying_) return;
    while (!IsListEmpty(&dpcQueue_)) {
      PKDPC dpc = CONTAINING_RECORD(RemoveHeadList(&dpcQueue_), KDPC, DpcListEntry);
      // Cleared before the call, so the routine may queue its DPC again.
      dpc->DpcData = nullptr;
      const PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
      PVOID context = dpc->DeferredContext;
      PVOID argument1 = dpc->SystemArgument1;
      PVOID argument2 = dpc->SystemArgument2;
      lock.unlock();
      routine(dpc, context, argument1, argument2);
      lock.lock();
      if (self->irql != DISPATCH_LEVEL || self->heldCount != 0)
        BugCheckLocked(lock, IRQL_UNEXPECTED_VALUE,
                       "DPC routine returned at another IRQL or holding a spin lock",
                       {self->irql, static_cast<ULONG_PTR>(self->heldCount),
                        reinterpret_cast<ULONG_PTR>(routine), 0});
    }
    self->state = ThreadState::Idle;
    SwitchAway(lock, self);
  }
}

}  // namespace tarnlink::kernel

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
  Dpc->Type = tarnlink::kernel::kDpcObjectType;
  Dpc->Importance = MediumImportance;
  Dpc->Number = 0;
  Dpc->DpcListEntry.Flink = Dpc->DpcListEntry.Blink = nullptr;
  Dpc->DeferredRoutine = DeferredRoutine;
  Dpc->DeferredContext = DeferredContext;
  Dpc->SystemArgument1 = Dpc->SystemArgument2 = nullptr;
  Dpc->DpcData = nullptr;
}

VOID KeInitializeThreadedDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine,
                             PVOID DeferredContext) {
  KeInitializeDpc(Dpc, DeferredRoutine, DeferredContext);
}

VOID KeSetImportanceDpc(PRKDPC Dpc, KDPC_IMPORTANCE Importance) {
  Dpc->Importance = static_cast<UCHAR>(Importance);
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2) {
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  if (Dpc == nullptr || Dpc->Type != tarnlink::kernel::kDpcObjectType ||
      Dpc->DeferredRoutine == nullptr)
    machine.BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                           "DPC queued before KeInitializeDpc",
                           {0x1600, reinterpret_cast<ULONG_PTR>(Dpc), 0, 0});
  machine.PreemptionPoint(lock);
  if (!machine.QueueDpc(Dpc, SystemArgument1, SystemArgument2)) return FALSE;
  machine.PreemptForDpcs(lock, Machine::CurrentThread());
  return TRUE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc) {
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  return machine.RemoveDpc(Dpc) ? TRUE : FALSE;
}

VOID KeFlushQueuedDpcs() {
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  PKTHREAD self = Machine::CurrentThread();
  if (self->irql != PASSIVE_LEVEL)
    machine.BugCheckLocked(lock, IRQL_NOT_LESS_OR_EQUAL, "KeFlushQueuedDpcs above PASSIVE_LEVEL",
                           {0, self->irql, 0, 0x1601});
  machine.FlushDpcs(lock, self);
}

ULONG KeGetCurrentProcessorNumber() {
  return 0;
}

ULONG KeQueryActiveProcessorCount(PKAFFINITY ActiveProcessors) {
  if (ActiveProcessors != nullptr) *ActiveProcessors = 1;
  return 1;
}
