// The order in which threads take mutexes. Two threads that take the same two mutexes in
// opposite orders can deadlock, however rarely the timing lines up; Windows' deadlock detection
// reports the inversion the first time the second order is seen, and so does the machine.
#include <algorithm>
#include <string>
#include <unordered_set>

#include "kernel/bugcheck.h"
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

void Machine::CheckLockOrder(Lock& lock, PKTHREAD self, PKMUTANT mutex) {
  for (PLIST_ENTRY e = self->mutantList.Flink; e != &self->mutantList; e = e->Flink) {
    const PKMUTANT held = CONTAINING_RECORD(e, KMUTANT, MutantListEntry);
    if (held == mutex) continue;
    if (Reaches(lockOrder_, mutex, held)) {
      // Parameter 0x1001 is what Windows' deadlock detection reports.
      BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                     "lock order inversion: a mutex is waited for while holding one that was "
                     "taken after it before",
                     {0x1001, reinterpret_cast<ULONG_PTR>(mutex),
                      reinterpret_cast<ULONG_PTR>(held), 0});
    }
    std::vector<const void*>& after = lockOrder_[held];
    if (std::find(after.begin(), after.end(), mutex) == after.end()) after.push_back(mutex);
  }
}

void Machine::ForgetLockOrder(const void* mutex) {
  lockOrder_.erase(mutex);
  for (auto& [held, after] : lockOrder_) {
    after.erase(std::remove(after.begin(), after.end(), mutex), after.end());
  }
}

}  // namespace tarnlink::kernel
