// Events, mutexes and semaphores: their state changes under the dispatcher lock, and every
// change that signals an object lets its waiters in.
#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;

namespace {

// An object is usable once initialised: its wait list links to itself or to waiters.
void CheckObject(Machine& machine, Lock& lock, PDISPATCHER_HEADER header, UCHAR typeA, UCHAR typeB,
                 const char* what) {
  if (header == nullptr || header->WaitListHead.Flink == nullptr ||
      (header->Type != typeA && header->Type != typeB))
    machine.BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION, what,
                           {0x1400, reinterpret_cast<ULONG_PTR>(header), 0, 0});
  if (KeGetCurrentIrql() > DISPATCH_LEVEL)
    machine.BugCheckLocked(lock, IRQL_NOT_LESS_OR_EQUAL,
                           "dispatcher object used above DISPATCH_LEVEL",
                           {reinterpret_cast<ULONG_PTR>(header), KeGetCurrentIrql(), 0, 0});
  // Signalling, resetting and releasing are where another processor's thread could step in.
  machine.PreemptionPoint(lock);
}

void CheckEvent(Machine& machine, Lock& lock, PRKEVENT event) {
  CheckObject(machine, lock, &event->Header, EventNotificationObject, EventSynchronizationObject,
              "event used before KeInitializeEvent");
}

void InitializeHeader(PDISPATCHER_HEADER header, UCHAR type, LONG state) {
  header->Type = type;
  header->Signalling = 0;
  header->Size = 0;
  header->Reserved = 0;
  header->SignalState = state;
  InitializeListHead(&header->WaitListHead);
}

// Signals the event and lets its waiters go, under the dispatcher lock; returns the old state.
LONG SignalEvent(Machine& machine, PRKEVENT Event) {
  const LONG previous = Event->Header.SignalState;
  if (previous == 0) {
    Event->Header.SignalState = 1;
    machine.WaitTest(&Event->Header);
  }
  return previous;
}

}  // namespace

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  InitializeHeader(
      &Event->Header,
      Type == SynchronizationEvent ? EventSynchronizationObject : EventNotificationObject,
      State ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
  UNREFERENCED_PARAMETER(Increment);
  UNREFERENCED_PARAMETER(Wait);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  CheckEvent(machine, lock, Event);
  return SignalEvent(machine, Event);
}

LONG KeResetEvent(PRKEVENT Event) {
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  CheckEvent(machine, lock, Event);
  const LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 0;
  return previous;
}

VOID KeClearEvent(PRKEVENT Event) {
  KeResetEvent(Event);
}

LONG KeReadStateEvent(PRKEVENT Event) {
  return Event->Header.SignalState;
}

LONG KePulseEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
  UNREFERENCED_PARAMETER(Increment);
  UNREFERENCED_PARAMETER(Wait);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  CheckEvent(machine, lock, Event);
  const LONG previous = SignalEvent(machine, Event);
  Event->Header.SignalState = 0;
  return previous;
}

VOID KeInitializeMutex(PRKMUTEX Mutex, ULONG Level) {
  UNREFERENCED_PARAMETER(Level);
  if (Machine* machine = Machine::CurrentOrNull()) {
    Lock lock(machine->dispatcherLock());
    machine->ForgetLockOrder(Mutex);
  }
  InitializeHeader(&Mutex->Header, MutantObject, 1);
  Mutex->MutantListEntry.Flink = Mutex->MutantListEntry.Blink = nullptr;
  Mutex->OwnerThread = nullptr;
  Mutex->Abandoned = FALSE;
  Mutex->ApcDisable = 1;
}

LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait) {
  UNREFERENCED_PARAMETER(Wait);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  CheckObject(machine, lock, &Mutex->Header, MutantObject, MutantObject,
              "mutex used before KeInitializeMutex");
  if (Mutex->OwnerThread != Machine::CurrentThread())
    // Windows raises STATUS_MUTANT_NOT_OWNED here, which no kernel code handles.
    machine.BugCheckLocked(
        lock, KMODE_EXCEPTION_NOT_HANDLED, "mutex released by a thread that does not own it",
        {static_cast<ULONG_PTR>(static_cast<ULONG>(STATUS_MUTANT_NOT_OWNED)),
         reinterpret_cast<ULONG_PTR>(Mutex), reinterpret_cast<ULONG_PTR>(Mutex->OwnerThread), 0});
  const LONG previous = Mutex->Header.SignalState;
  if (++Mutex->Header.SignalState == 1) {
    RemoveEntryList(&Mutex->MutantListEntry);
    Mutex->OwnerThread = nullptr;
    machine.WaitTest(&Mutex->Header);
  }
  return previous;
}

LONG KeReadStateMutex(PRKMUTEX Mutex) {
  return Mutex->Header.SignalState;
}

VOID KeInitializeSemaphore(PRKSEMAPHORE Semaphore, LONG Count, LONG Limit) {
  if (Limit <= 0 || Count < 0 || Count > Limit)
    tarnlink::kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
                             "semaphore initialised with a count outside 0..limit", 0x1401,
                             reinterpret_cast<ULONG_PTR>(Semaphore), static_cast<ULONG_PTR>(Count),
                             static_cast<ULONG_PTR>(Limit));
  InitializeHeader(&Semaphore->Header, SemaphoreObject, Count);
  Semaphore->Limit = Limit;
}

LONG KeReleaseSemaphore(PRKSEMAPHORE Semaphore, KPRIORITY Increment, LONG Adjustment,
                        BOOLEAN Wait) {
  UNREFERENCED_PARAMETER(Increment);
  UNREFERENCED_PARAMETER(Wait);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  CheckObject(machine, lock, &Semaphore->Header, SemaphoreObject, SemaphoreObject,
              "semaphore used before KeInitializeSemaphore");
  const LONG previous = Semaphore->Header.SignalState;
  if (Adjustment <= 0 || Adjustment > Semaphore->Limit - previous)
    // Windows raises STATUS_SEMAPHORE_LIMIT_EXCEEDED, which no kernel code handles.
    machine.BugCheckLocked(
        lock, KMODE_EXCEPTION_NOT_HANDLED, "semaphore released beyond its limit",
        {static_cast<ULONG_PTR>(static_cast<ULONG>(STATUS_SEMAPHORE_LIMIT_EXCEEDED)),
         reinterpret_cast<ULONG_PTR>(Semaphore), static_cast<ULONG_PTR>(Adjustment),
         static_cast<ULONG_PTR>(Semaphore->Limit)});
  Semaphore->Header.SignalState = previous + Adjustment;
  if (previous == 0) machine.WaitTest(&Semaphore->Header);
  return previous;
}

LONG KeReadStateSemaphore(PRKSEMAPHORE Semaphore) {
  return Semaphore->Header.SignalState;
}
