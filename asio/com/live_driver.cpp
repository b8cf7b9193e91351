#include "live_driver.h"

namespace {

constexpr int kProcesses = 64;

struct LiveDriver {
  DWORD process;
  const void* object;
};

volatile LONG g_busy = 0;
LiveDriver g_live[kProcesses] = {};

// A short spin: the table is touched only when a driver object is made or goes.
class TableLock {
 public:
  TableLock() {
    while (InterlockedExchange(&g_busy, 1) != 0) Sleep(0);
  }
  ~TableLock() { InterlockedExchange(&g_busy, 0); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
};

}  // namespace

bool ClaimLiveDriver(const void* object) {
  const DWORD process = GetCurrentProcessId();
  TableLock lock;
  LiveDriver* free = nullptr;
  for (LiveDriver& entry : g_live) {
    if (entry.object != nullptr && entry.process == process) return false;
    if (entry.object == nullptr && free == nullptr) free = &entry;
  }
  if (free == nullptr) return false;
  *free = {process, object};
  return true;
}

void ForgetLiveDriver(const void* object) {
  TableLock lock;
  for (LiveDriver& entry : g_live) {
    if (entry.object == object) entry = {};
  }
}
