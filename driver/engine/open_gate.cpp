#include "open_gate.h"

namespace {

constexpr LONGLONG kPollInterval = -10000;  // 1 ms, relative

}  // namespace

VOID COpenGate::TakeForOpener() {
  // Taken only from free: another opener's or a recovery's hold is never overwritten, so the
  // holder's release cannot free the gate under the new owner.
  while (InterlockedCompareExchange(&m_Value, kOpener, kFree) != kFree) {
    LARGE_INTEGER interval;
    interval.QuadPart = kPollInterval;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  }
}

BOOLEAN COpenGate::TryTakeForRecovery() {
  return InterlockedCompareExchange(&m_Value, kRecovery, kFree) == kFree;
}

VOID COpenGate::Release() {
  InterlockedExchange(&m_Value, kFree);
}
