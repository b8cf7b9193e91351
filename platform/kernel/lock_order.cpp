// The order in which threads take mutexes, and the locks a driver builds itself and tells the
// verifier of (driver_locks.h). Two threads that take the same two locks in opposite orders can
// deadlock, however rarely the timing lines up; Windows' deadlock detection reports the
// inversion the first time the second order is seen, and so does the machine.
#include <algorithm>
#include <string>
#include <unordered_set>

#include "kernel/bugcheck.h"
#include "kernel/driver_locks.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

namespace {

// Whether `to` was ever taken while holding `from`, directly or through other mutexes.
bool Reaches(const std::unordered_map<const void*, std::vector<const void*>>& order,
             const void* from, const void* to) {
  std::vector<const void*> pending = {from};
  std::unordered_set<const void*> seen = {from};
  while (!pending.empty()) {
    const void* at = pending.back();
    pending.pop_back();
    const auto next = order.find(at);
    if (next == order.end()) continue;
    for (const void* later : next->second) {
      if (later == to) return true;
      if (seen.insert(later).second) pending.push_back(later);
    }
  }
  return false;
}

}  // namespace

void Machine::CheckLockOrder(Lock& lock, PKTHREAD self, const void* taken) {
  std::vector<const void*> held;
  for (PLIST_ENTRY e = self->mutantList.Flink; e != &self->mutantList; e = e->Flink) {
    held.push_back(CONTAINING_RECORD(e, KMUTANT, MutantListEntry));
  }
  held.insert(held.end(), self->driverLocks.begin(), self->driverLocks.end());
  for (const void* before : held) {
    if (before == taken) continue;
    if (Reaches(lockOrder_, taken, before)) {
      // Parameter 0x1001 is what Windows' deadlock detection reports.
      BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                     "lock order inversion: a lock is waited for while holding one that was "
                     "taken after it before",
                     {0x1001, reinterpret_cast<ULONG_PTR>(taken),
                      reinterpret_cast<ULONG_PTR>(before), 0});
    }
    std::vector<const void*>& after = lockOrder_[before];
    if (std::find(after.begin(), after.end(), taken) == after.end()) after.push_back(taken);
  }
}

void Machine::ForgetLockOrder(const void* mutex) {
  lockOrder_.erase(mutex);
  for (auto& [held, after] : lockOrder_) {
    after.erase(std::remove(after.begin(), after.end(), mutex), after.end());
  }
}

void Machine::AcquireDriverLock(Lock& lock, PKTHREAD self, const void* driverLock) {
  if (std::find(self->driverLocks.begin(), self->driverLocks.end(), driverLock) !=
      self->driverLocks.end())
    // A polled word is not recursive: its holder waiting for it again waits forever.
    BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                   "driver lock acquired again by the thread that holds it",
                   {0x1002, reinterpret_cast<ULONG_PTR>(driverLock), 0, 0});
  CheckLockOrder(lock, self, driverLock);
  self->driverLocks.push_back(driverLock);
}

void Machine::ReleaseDriverLock(Lock& lock, PKTHREAD self, const void* driverLock) {
  const auto held = std::find(self->driverLocks.begin(), self->driverLocks.end(), driverLock);
  if (held == self->driverLocks.end())
    BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                   "driver lock released by a thread that does not hold it",
                   {0x1003, reinterpret_cast<ULONG_PTR>(driverLock), 0, 0});
  self->driverLocks.erase(held);
}

}  // namespace tarnlink::kernel

VOID KiVerifierLockInitialized(PVOID Lock) {
  using namespace tarnlink::kernel;
  if (Machine* machine = Machine::CurrentOrNull()) {
    tarnlink::kernel::Lock lock(machine->dispatcherLock());
    machine->ForgetLockOrder(Lock);
  }
}

VOID KiVerifierLockAcquire(PVOID Lock) {
  using namespace tarnlink::kernel;
  Machine& machine = Machine::Current();
  tarnlink::kernel::Lock lock(machine.dispatcherLock());
  machine.AcquireDriverLock(lock, Machine::CurrentThread(), Lock);
}

VOID KiVerifierLockRelease(PVOID Lock) {
  using namespace tarnlink::kernel;
  Machine& machine = Machine::Current();
  tarnlink::kernel::Lock lock(machine.dispatcherLock());
  machine.ReleaseDriverLock(lock, Machine::CurrentThread(), Lock);
}
