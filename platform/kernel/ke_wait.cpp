// Waiting on dispatcher objects. A thread's wait is satisfied when one (wait-any) or all
// (wait-all) of its objects are signalled for it; satisfying consumes what the object kind
// says (a synchronisation event resets, a semaphore counts down, a mutex gets an owner).
#include <cstdio>
#include <cstdlib>

#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

namespace {

bool IsDispatcherType(UCHAR type) {
  switch (type) {
    case EventNotificationObject:
    case EventSynchronizationObject:
    case MutantObject:
    case ProcessObject:
    case SemaphoreObject:
    case ThreadObject:
    case TimerNotificationObject:
    case TimerSynchronizationObject:
      return true;
    default:
      return false;
  }
}

bool SignalledFor(PDISPATCHER_HEADER object, PKTHREAD thread) {
  if (object->Type == MutantObject)
    return object->SignalState > 0 || reinterpret_cast<PKMUTANT>(object)->OwnerThread == thread;
  return object->SignalState > 0;
}

// Takes what the wait consumes; true when it acquired an abandoned mutex.
bool Consume(PDISPATCHER_HEADER object, PKTHREAD thread) {
  switch (object->Type) {
    case EventSynchronizationObject:
    case TimerSynchronizationObject:
      object->SignalState = 0;
      return false;
    case SemaphoreObject:
      --object->SignalState;
      return false;
    case MutantObject: {
      auto* mutex = reinterpret_cast<PKMUTANT>(object);
      --object->SignalState;
      if (object->SignalState == 0) {
        mutex->OwnerThread = thread;
        InsertTailList(&thread->mutantList, &mutex->MutantListEntry);
        const bool abandoned = mutex->Abandoned != FALSE;
        mutex->Abandoned = FALSE;
        return abandoned;
      }
      return false;
    }
    default:
      return false;
  }
}

// Satisfies a wait now if it can; returns the wait status, or STATUS_PENDING.
NTSTATUS TrySatisfy(PKTHREAD thread, ULONG count, PVOID* objects, WAIT_TYPE type) {
  if (type == WaitAny) {
    for (ULONG i = 0; i < count; ++i) {
      auto* object = static_cast<PDISPATCHER_HEADER>(objects[i]);
      if (SignalledFor(object, thread))
        return (Consume(object, thread) ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0) + i;
    }
    return STATUS_PENDING;
  }
  for (ULONG i = 0; i < count; ++i)
    if (!SignalledFor(static_cast<PDISPATCHER_HEADER>(objects[i]), thread)) return STATUS_PENDING;
  bool abandoned = false;
  for (ULONG i = 0; i < count; ++i)
    abandoned |= Consume(static_cast<PDISPATCHER_HEADER>(objects[i]), thread);
  return abandoned ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0;
}

}  // namespace

void Machine::Unwait(PKTHREAD thread, NTSTATUS status) {
  for (ULONG i = 0; i < thread->waitCount; ++i)
    RemoveEntryList(&thread->waitBlocks[i].WaitListEntry);
  thread->waitCount = 0;
  RemoveTimer(&thread->waitTimer.timer);
  thread->waitStatus = status;
  ReadyThread(thread);
}

void Machine::WaitTest(PDISPATCHER_HEADER object) {
  // Waiters are served first come, first served; after each satisfied waiter the scan starts
  // over, since satisfying it changed the lists.
  bool progress = true;
  while (progress && !IsListEmpty(&object->WaitListHead)) {
    progress = false;
    if (object->Type != MutantObject && object->SignalState <= 0) return;
    for (PLIST_ENTRY e = object->WaitListHead.Flink; e != &object->WaitListHead; e = e->Flink) {
      PKWAIT_BLOCK block = CONTAINING_RECORD(e, KWAIT_BLOCK, WaitListEntry);
      PKTHREAD thread = block->Thread;
      PVOID objects[MAXIMUM_WAIT_OBJECTS];
      for (ULONG i = 0; i < thread->waitCount; ++i) objects[i] = thread->waitBlocks[i].Object;
      NTSTATUS status;
      if (thread->waitType == WaitAny) {
        if (!SignalledFor(object, thread)) continue;
        status =
            (Consume(object, thread) ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0) + block->WaitKey;
      } else {
        status = TrySatisfy(thread, thread->waitCount, objects, WaitAll);
        if (status == STATUS_PENDING) continue;
      }
      Unwait(thread, status);
      progress = true;
      break;
    }
  }
}

void Machine::AbandonMutexes(PKTHREAD thread) {
  while (!IsListEmpty(&thread->mutantList)) {
    PKMUTANT mutex =
        CONTAINING_RECORD(RemoveHeadList(&thread->mutantList), KMUTANT, MutantListEntry);
    mutex->Header.SignalState = 1;
    mutex->OwnerThread = nullptr;
    mutex->Abandoned = TRUE;
    WaitTest(&mutex->Header);
  }
}

NTSTATUS Machine::Wait(Lock& lock, ULONG count, PVOID* objects, WAIT_TYPE type,
                       PLARGE_INTEGER timeout, PKWAIT_BLOCK blocks, bool) {
  PKTHREAD self = CurrentThread();
  const bool polls = timeout != nullptr && timeout->QuadPart == 0;
  if (count > MAXIMUM_WAIT_OBJECTS || (count > THREAD_WAIT_OBJECTS && blocks == nullptr))
    BugCheckLocked(lock, MAXIMUM_WAIT_OBJECTS_EXCEEDED, "too many wait objects for the wait blocks",
                   {count, reinterpret_cast<ULONG_PTR>(blocks), 0, 0});
  if (type != WaitAny && type != WaitAll)
    BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION, "invalid wait type",
                   {0x1300, static_cast<ULONG_PTR>(type), 0, 0});
  bool mutex = false;
  for (ULONG i = 0; i < count; ++i) {
    auto* object = static_cast<PDISPATCHER_HEADER>(objects[i]);
    if (object == nullptr || !IsDispatcherType(object->Type) ||
        object->WaitListHead.Flink == nullptr)
      BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                     "wait on something that is not an initialised dispatcher object",
                     {0x1301, reinterpret_cast<ULONG_PTR>(object), i, 0});
    mutex |= object->Type == MutantObject;
  }
  if (mutex && (!IsListEmpty(&self->mutantList) || !self->driverLocks.empty())) {
    for (ULONG i = 0; i < count; ++i) {
      auto* object = static_cast<PDISPATCHER_HEADER>(objects[i]);
      auto* candidate = reinterpret_cast<PKMUTANT>(object);
      if (object->Type == MutantObject && candidate->OwnerThread != self)
        CheckLockOrder(lock, self, candidate);
    }
  }
  if (self->irql >= DISPATCH_LEVEL && (mutex || !polls))
    BugCheckLocked(
        lock, IRQL_NOT_LESS_OR_EQUAL,
        mutex ? "mutex acquired at DISPATCH_LEVEL or above"
              : "wait with a non-zero time-out at DISPATCH_LEVEL or above",
        {reinterpret_cast<ULONG_PTR>(count ? objects[0] : nullptr), self->irql, 0, 0x1302});

  PreemptionPoint(lock);
  const NTSTATUS now = TrySatisfy(self, count, objects, type);
  if (now != STATUS_PENDING) return now;
  if (polls) return STATUS_TIMEOUT;
  const uint64_t deadline = timeout != nullptr ? DeadlineFrom(timeout->QuadPart) : 0;
  if (timeout != nullptr && deadline <= Now()) return STATUS_TIMEOUT;
  if (stopped_) {
    std::fprintf(stderr, "host kernel: blocking wait on a stopped machine\n%s",
                 stop_.report.c_str());
    std::abort();
  }

  PKWAIT_BLOCK list = blocks != nullptr ? blocks : self->ownWaitBlocks;
  for (ULONG i = 0; i < count; ++i) {
    list[i].Thread = self;
    list[i].Object = objects[i];
    list[i].WaitKey = static_cast<USHORT>(i);
    list[i].WaitType = static_cast<UCHAR>(type);
    InsertTailList(&static_cast<PDISPATCHER_HEADER>(objects[i])->WaitListHead,
                   &list[i].WaitListEntry);
  }
  self->waitBlocks = list;
  self->waitCount = count;
  self->waitType = type;
  if (timeout != nullptr) InsertTimer(&self->waitTimer.timer, deadline);
  self->state = ThreadState::Waiting;
  SwitchAway(lock, self);
  return self->waitStatus;
}

}  // namespace tarnlink::kernel

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;

NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType,
                                  KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                                  BOOLEAN Alertable, PLARGE_INTEGER Timeout,
                                  PKWAIT_BLOCK WaitBlockArray) {
  UNREFERENCED_PARAMETER(WaitReason);
  UNREFERENCED_PARAMETER(WaitMode);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  if (Count == 0 || Object == nullptr)
    machine.BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION, "wait on no objects",
                           {0x1303, Count, 0, 0});
  return machine.Wait(lock, Count, Object, WaitType, Timeout, WaitBlockArray, Alertable);
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
  PVOID objects[1] = {Object};
  return KeWaitForMultipleObjects(1, objects, WaitAny, WaitReason, WaitMode, Alertable, Timeout,
                                  nullptr);
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                PLARGE_INTEGER Interval) {
  UNREFERENCED_PARAMETER(WaitMode);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  if (Interval == nullptr)
    machine.BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION, "delay without an interval",
                           {0x1304, 0, 0, 0});
  LARGE_INTEGER interval = *Interval;
  // A zero delay still gives the processor to whoever is ready.
  if (interval.QuadPart == 0) interval.QuadPart = -1;
  const NTSTATUS status = machine.Wait(lock, 0, nullptr, WaitAny, &interval, nullptr, Alertable);
  return status == STATUS_TIMEOUT ? STATUS_SUCCESS : status;
}
