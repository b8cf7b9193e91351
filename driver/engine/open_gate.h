// The open gate: an atomic word taken before the stream mutex. Openers and closers hold it with
// 1; a transfer worker rebuilding its pipeline holds it with 2, so that no direction opens or
// closes under it. A waiter polls every millisecond, as the holder may be a worker that itself
// waits for transfers to drain. The verifier is told of every taking and release, so that the
// gate is in its lock-order check with the mutexes: control mutex, then gate, then stream mutex.
#pragma once

#include "kernel_mode.h"

class COpenGate {
 public:
  static constexpr LONG kFree = 0;
  static constexpr LONG kOpener = 1;
  static constexpr LONG kRecovery = 2;

  // Free, and without an order among the locks yet.
  VOID Initialize();
  // Waits until the gate is free and takes it for an open or close.
  _IRQL_requires_(PASSIVE_LEVEL) VOID TakeForOpener();
  // Takes the gate for a recovery only when it is free at once.
  BOOLEAN TryTakeForRecovery();
  VOID Release();
  LONG Value() const { return m_Value; }

 private:
  volatile LONG m_Value = kFree;
};
