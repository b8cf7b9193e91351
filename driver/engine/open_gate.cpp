#include "open_gate.h"

namespace {

constexpr LONGLONG kPollInterval = -10000;  // 1 ms, relative

}  // namespace

VOID COpenGate::Initialize() {
  m_Value = kFree;
  VERIFIER_LOCK_INITIALIZED(this);
}

VOID COpenGate::TakeForOpener() {
  VERIFIER_LOCK_ACQUIRE(this);
  // Taken only from free: another opener's or a recovery's hold is never overwritten, so the
  // holder's release cannot free the gate under the new owner.
  while (InterlockedCompareExchange(&m_Value, kOpener, kFree) != kFree) {
    LARGE_INTEGER interval;
    interval.QuadPart = kPollInterval;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  }
}

BOOLEAN COpenGate::TryTakeForRecovery() {
  if (InterlockedCompareExchange(&m_Value, kRecovery, kFree) != kFree) return FALSE;
  VERIFIER_LOCK_ACQUIRE(this);
  return TRUE;
}

VOID COpenGate::Release() {
  VERIFIER_LOCK_RELEASE(this);
  InterlockedExchange(&m_Value, kFree);
}
