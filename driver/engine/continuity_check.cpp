#include "continuity_check.h"

#include "engine_trace_points.h"

NTSTATUS CheckContinuity(CompletionContinuity& state, const ContinuityLimits& limits,
                         BOOLEAN running, ULONG busFrame, NTSTATUS status) {
  if (!running) {
    state.Drift = 0;
    state.LateTotal = 0;
    state.LastBusFrame = busFrame;
    return status;
  }
  const ULONG diff = busFrame - state.LastBusFrame;
  state.LastBusFrame = busFrame;
  BOOLEAN lost = FALSE;
  if (diff >= limits.TransfersInFlight * limits.TransferMs) {
    lost = TRUE;
  } else if (diff > limits.TransferMs) {
    TRACE_POINT(kTraceBusGap, diff, limits.TransferMs);
  }
  state.Drift += static_cast<LONG>(diff) - static_cast<LONG>(limits.TransferMs);
  if (state.Drift != 0) {
    state.LateTotal += static_cast<LONG>(diff);
    if (state.LateTotal > kLateTotalLimit) lost = TRUE;
  } else {
    state.LateTotal = 0;
  }
  if (!lost || !NT_SUCCESS(status)) return status;
  TRACE_POINT(kTraceLostBusTime, diff, state.Drift, state.LateTotal);
  return STATUS_UNEXPECTED_IO_ERROR;
}
