// Kernel timers: one list ordered by due time (equal times in the order they were set) holds
// the drivers' timers and the time-outs of waiting threads.
#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

void Machine::InsertTimer(PKTIMER timer, uint64_t due) {
  if (timer->Inserted) RemoveTimer(timer);
  timer->DueTime.QuadPart = due;
  PLIST_ENTRY position = timerList_.Blink;
  while (position != &timerList_ &&
         CONTAINING_RECORD(position, KTIMER, TimerListEntry)->DueTime.QuadPart > due)
    position = position->Blink;
  // Link after `position`.
  InsertHeadList(position, &timer->TimerListEntry);
  timer->Inserted = TRUE;
}

bool Machine::RemoveTimer(PKTIMER timer) {
  if (!timer->Inserted) return false;
  RemoveEntryList(&timer->TimerListEntry);
  timer->Inserted = FALSE;
  return true;
}

void Machine::ExpireTimers() {
  const uint64_t now = Now();
  while (!IsListEmpty(&timerList_)) {
    PKTIMER timer = CONTAINING_RECORD(timerList_.Flink, KTIMER, TimerListEntry);
    const uint64_t due = timer->DueTime.QuadPart;
    if (due > now) break;
    RemoveTimer(timer);
    if (timer->Header.Type == WaitTimeoutTimerObject) {
      PKTHREAD thread = reinterpret_cast<WaitTimer*>(timer)->thread;
      if (thread->state == ThreadState::Waiting) Unwait(thread, STATUS_TIMEOUT);
      continue;
    }
    timer->Header.SignalState = 1;
    WaitTest(&timer->Header);
    if (timer->Dpc != nullptr) {
      const uint64_t systemTime = systemTimeBase_ + due;
      QueueDpc(timer->Dpc, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(systemTime & 0xFFFFFFFF)),
               reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(systemTime >> 32)));
    }
    if (timer->Period > 0) {
      // Periodic timers keep their phase; one that fell behind (real time) restarts from now.
      uint64_t next = due + static_cast<uint64_t>(timer->Period) * 10000;
      if (next <= now) next = now + static_cast<uint64_t>(timer->Period) * 10000;
      InsertTimer(timer, next);
    }
  }
}

bool Machine::HoldsActiveTimerOrDpc(const void* base, SIZE_T bytes) const {
  const auto* begin = static_cast<const char*>(base);
  const auto inside = [&](const void* p) {
    const auto* c = static_cast<const char*>(p);
    return c >= begin && c < begin + bytes;
  };
  for (PLIST_ENTRY e = timerList_.Flink; e != &timerList_; e = e->Flink)
    if (inside(e)) return true;
  for (PLIST_ENTRY e = dpcQueue_.Flink; e != &dpcQueue_; e = e->Flink)
    if (inside(e)) return true;
  return false;
}

}  // namespace tarnlink::kernel

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;
using tarnlink::kernel::Verify;

namespace {

void CheckTimer(PKTIMER Timer) {
  if (Timer == nullptr || Timer->Header.WaitListHead.Flink == nullptr ||
      (Timer->Header.Type != TimerNotificationObject &&
       Timer->Header.Type != TimerSynchronizationObject))
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "timer used before KeInitializeTimer", 0x1200,
           reinterpret_cast<ULONG_PTR>(Timer));
}

}  // namespace

VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type) {
  Timer->Header.Type =
      Type == SynchronizationTimer ? TimerSynchronizationObject : TimerNotificationObject;
  Timer->Header.SignalState = 0;
  InitializeListHead(&Timer->Header.WaitListHead);
  Timer->DueTime.QuadPart = 0;
  Timer->TimerListEntry.Flink = Timer->TimerListEntry.Blink = nullptr;
  Timer->Dpc = nullptr;
  Timer->Period = 0;
  Timer->Inserted = FALSE;
}

VOID KeInitializeTimer(PKTIMER Timer) {
  KeInitializeTimerEx(Timer, NotificationTimer);
}

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc) {
  CheckTimer(Timer);
  if (Period < 0)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "negative timer period", 0x1201,
           reinterpret_cast<ULONG_PTR>(Timer), static_cast<ULONG_PTR>(Period));
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
    lock.unlock();
    Verify(IRQL_NOT_LESS_OR_EQUAL, "KeSetTimer above DISPATCH_LEVEL", 0x1202);
  }
  const bool wasSet = machine.RemoveTimer(Timer);
  Timer->Header.SignalState = 0;
  Timer->Dpc = Dpc;
  Timer->Period = Period;
  machine.InsertTimer(Timer, machine.DeadlineFrom(DueTime.QuadPart));
  return wasSet ? TRUE : FALSE;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) {
  return KeSetTimerEx(Timer, DueTime, 0, Dpc);
}

BOOLEAN KeCancelTimer(PKTIMER Timer) {
  CheckTimer(Timer);
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  return machine.RemoveTimer(Timer) ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer) {
  CheckTimer(Timer);
  return Timer->Header.SignalState != 0 ? TRUE : FALSE;
}
