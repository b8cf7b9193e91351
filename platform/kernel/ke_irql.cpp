// IRQL and spin locks. One thread holds the processor at a time, so a spin lock is contended
// only when its holder was preempted under a schedule seed; otherwise finding it held means it
// can never be released, and the verifier says so. Each
// thread remembers the locks it holds and the IRQL each acquisition saved, so that releases by
// the wrong thread or with the wrong IRQL are caught where they happen.
#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"

using tarnlink::kernel::HeldSpinLock;
using tarnlink::kernel::kMaxHeldSpinLocks;
using tarnlink::kernel::Machine;
using tarnlink::kernel::Verify;

namespace {

ULONG_PTR OwnerWord(PKTHREAD thread) {
  return reinterpret_cast<ULONG_PTR>(thread) | 1;
}

// Lowering IRQL below DISPATCH_LEVEL lets queued DPCs run at once, as the DPC interrupt would.
void LowerTo(PKTHREAD thread, KIRQL irql) {
  thread->irql = irql;
  if (irql >= DISPATCH_LEVEL) return;
  Machine& machine = Machine::Current();
  tarnlink::kernel::Lock lock(machine.dispatcherLock());
  machine.PreemptForDpcs(lock, thread);
}

// With a schedule seed the holder may be a thread preempted before its release: spin, giving
// it the processor, as a second processor would. Returns the lock word once it stops spinning.
ULONG_PTR SpinWhileHeld(PKSPIN_LOCK SpinLock) {
  Machine& machine = Machine::Current();
  tarnlink::kernel::Lock lock(machine.dispatcherLock());
  ULONG_PTR word = *SpinLock;
  while (word != 0 && machine.SpinOn(lock, word)) word = *SpinLock;
  return word;
}

void Acquire(PKTHREAD thread, PKSPIN_LOCK SpinLock, KIRQL oldIrql, bool restoresIrql) {
  if (SpinLock == nullptr) Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "null spin lock", 0x1500);
  if (thread->irql < DISPATCH_LEVEL)
    Verify(IRQL_NOT_GREATER_OR_EQUAL, "spin lock acquired at DPC level below DISPATCH_LEVEL",
           reinterpret_cast<ULONG_PTR>(SpinLock), thread->irql);
  tarnlink::kernel::SynchronisationPoint();
  ULONG_PTR word = *SpinLock;
  if (word == OwnerWord(thread))
    Verify(SPIN_LOCK_ALREADY_OWNED, "spin lock acquired again by its owner",
           reinterpret_cast<ULONG_PTR>(SpinLock));
  if (word != 0) word = SpinWhileHeld(SpinLock);
  if (word != 0)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
           "spin lock is held by a thread that cannot run to release it (or was never "
           "initialised)",
           0x1501, reinterpret_cast<ULONG_PTR>(SpinLock), word);
  if (thread->heldCount == kMaxHeldSpinLocks)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "too many spin locks held at once", 0x1502);
  *SpinLock = OwnerWord(thread);
  thread->held[thread->heldCount++] = HeldSpinLock{SpinLock, oldIrql, restoresIrql};
}

// Releases a held lock; returns the acquisition record.
HeldSpinLock Release(PKTHREAD thread, PKSPIN_LOCK SpinLock) {
  if (SpinLock == nullptr || *SpinLock != OwnerWord(thread))
    Verify(SPIN_LOCK_NOT_OWNED, "spin lock released by a thread that does not hold it",
           reinterpret_cast<ULONG_PTR>(SpinLock), SpinLock ? *SpinLock : 0);
  if (thread->irql < DISPATCH_LEVEL)
    Verify(IRQL_NOT_GREATER_OR_EQUAL, "spin lock held below DISPATCH_LEVEL",
           reinterpret_cast<ULONG_PTR>(SpinLock), thread->irql);
  int index = thread->heldCount - 1;
  while (thread->held[index].lock != SpinLock) --index;
  const HeldSpinLock record = thread->held[index];
  for (int i = index; i + 1 < thread->heldCount; ++i) thread->held[i] = thread->held[i + 1];
  --thread->heldCount;
  *SpinLock = 0;
  return record;
}

void ReleaseRestoring(PKTHREAD thread, PKSPIN_LOCK SpinLock, KIRQL newIrql) {
  const HeldSpinLock record = Release(thread, SpinLock);
  if (!record.restoresIrql || newIrql != record.oldIrql)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
           "spin lock released with an IRQL other than the one its acquisition saved", 0x1503,
           reinterpret_cast<ULONG_PTR>(SpinLock), newIrql, record.oldIrql);
  LowerTo(thread, newIrql);
}

KIRQL RaiseToDispatch(PKTHREAD thread) {
  const KIRQL old = thread->irql;
  if (old > DISPATCH_LEVEL)
    Verify(IRQL_NOT_LESS_OR_EQUAL, "spin lock acquired above DISPATCH_LEVEL", 0, old);
  thread->irql = DISPATCH_LEVEL;
  return old;
}

}  // namespace

KIRQL KeGetCurrentIrql() {
  return Machine::CurrentThread()->irql;
}

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
  PKTHREAD thread = Machine::CurrentThread();
  if (NewIrql < thread->irql || NewIrql > HIGH_LEVEL)
    Verify(IRQL_NOT_GREATER_OR_EQUAL, "KeRaiseIrql to a lower IRQL", thread->irql, NewIrql);
  *OldIrql = thread->irql;
  thread->irql = NewIrql;
}

KIRQL KeRaiseIrqlToDpcLevel() {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  return old;
}

VOID KeLowerIrql(KIRQL NewIrql) {
  PKTHREAD thread = Machine::CurrentThread();
  if (NewIrql > thread->irql)
    Verify(IRQL_NOT_LESS_OR_EQUAL, "KeLowerIrql to a higher IRQL", thread->irql, NewIrql);
  if (NewIrql < thread->baseIrql)
    Verify(IRQL_NOT_LESS_OR_EQUAL, "IRQL lowered below the level the code was called at",
           thread->irql, NewIrql, thread->baseIrql);
  if (NewIrql < DISPATCH_LEVEL && thread->heldCount != 0)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
           "IRQL lowered below DISPATCH_LEVEL while holding a spin lock", 0x1504,
           reinterpret_cast<ULONG_PTR>(thread->held[thread->heldCount - 1].lock));
  LowerTo(thread, NewIrql);
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
  *SpinLock = 0;
}

VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) {
  PKTHREAD thread = Machine::CurrentThread();
  const KIRQL old = RaiseToDispatch(thread);
  Acquire(thread, SpinLock, old, true);
  *OldIrql = old;
}

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
  KIRQL old;
  KeAcquireSpinLock(SpinLock, &old);
  return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
  ReleaseRestoring(Machine::CurrentThread(), SpinLock, NewIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock) {
  PKTHREAD thread = Machine::CurrentThread();
  Acquire(thread, SpinLock, thread->irql, false);
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) {
  const HeldSpinLock record = Release(Machine::CurrentThread(), SpinLock);
  if (record.restoresIrql)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
           "spin lock taken with KeAcquireSpinLock released without restoring the IRQL", 0x1505,
           reinterpret_cast<ULONG_PTR>(SpinLock));
}

BOOLEAN KeTestSpinLock(PKSPIN_LOCK SpinLock) {
  return *SpinLock == 0 ? TRUE : FALSE;
}

VOID KeAcquireInStackQueuedSpinLock(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle) {
  PKTHREAD thread = Machine::CurrentThread();
  const KIRQL old = RaiseToDispatch(thread);
  Acquire(thread, SpinLock, old, true);
  LockHandle->LockQueue.Next = nullptr;
  LockHandle->LockQueue.Lock = SpinLock;
  LockHandle->OldIrql = old;
}

VOID KeReleaseInStackQueuedSpinLock(PKLOCK_QUEUE_HANDLE LockHandle) {
  PKSPIN_LOCK lock = LockHandle->LockQueue.Lock;
  LockHandle->LockQueue.Lock = nullptr;
  ReleaseRestoring(Machine::CurrentThread(), lock, LockHandle->OldIrql);
}

VOID KeAcquireInStackQueuedSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock,
                                              PKLOCK_QUEUE_HANDLE LockHandle) {
  KeAcquireSpinLockAtDpcLevel(SpinLock);
  LockHandle->LockQueue.Next = nullptr;
  LockHandle->LockQueue.Lock = SpinLock;
  LockHandle->OldIrql = DISPATCH_LEVEL;
}

VOID KeReleaseInStackQueuedSpinLockFromDpcLevel(PKLOCK_QUEUE_HANDLE LockHandle) {
  PKSPIN_LOCK lock = LockHandle->LockQueue.Lock;
  LockHandle->LockQueue.Lock = nullptr;
  KeReleaseSpinLockFromDpcLevel(lock);
}

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry,
                                        PKSPIN_LOCK Lock) {
  KIRQL old;
  KeAcquireSpinLock(Lock, &old);
  PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : ListHead->Flink;
  InsertHeadList(ListHead, ListEntry);
  KeReleaseSpinLock(Lock, old);
  return first;
}

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry,
                                        PKSPIN_LOCK Lock) {
  KIRQL old;
  KeAcquireSpinLock(Lock, &old);
  PLIST_ENTRY last = IsListEmpty(ListHead) ? nullptr : ListHead->Blink;
  InsertTailList(ListHead, ListEntry);
  KeReleaseSpinLock(Lock, old);
  return last;
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock) {
  KIRQL old;
  KeAcquireSpinLock(Lock, &old);
  PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : RemoveHeadList(ListHead);
  KeReleaseSpinLock(Lock, old);
  return first;
}

PSLIST_ENTRY ExInterlockedPushEntrySList(PSLIST_HEADER ListHead, PSLIST_ENTRY ListEntry,
                                         PKSPIN_LOCK Lock) {
  UNREFERENCED_PARAMETER(Lock);
  return InterlockedPushEntrySList(ListHead, ListEntry);
}

PSLIST_ENTRY ExInterlockedPopEntrySList(PSLIST_HEADER ListHead, PKSPIN_LOCK Lock) {
  UNREFERENCED_PARAMETER(Lock);
  return InterlockedPopEntrySList(ListHead);
}
