// Lost bus time, seen from the completions of one direction: each transfer spans a known number
// of bus frames, so consecutive completions should be that far apart. A gap as wide as the
// whole window of transfers in flight means the pipeline ran dry on the bus; a lag that keeps
// accumulating means the stream slid behind. Either counts as a failed transfer, so the worker
// rebuilds the pipeline.
#pragma once

#include "kernel_mode.h"

struct CompletionContinuity {
  ULONG LastBusFrame;
  LONG Drift;
  LONG LateTotal;
};

struct ContinuityLimits {
  ULONG TransferMs;       // bus frames one transfer spans
  ULONG TransfersInFlight;
};

// The late total above which the stream is taken as slid behind.
inline constexpr LONG kLateTotalLimit = 999;

// Checks one completion at busFrame against the previous one. `running` is FALSE for the first
// completion after a start, which only sets the reference. Returns the status the completion
// goes on with: a good status becomes STATUS_UNEXPECTED_IO_ERROR when time was lost.
_IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
    CheckContinuity(CompletionContinuity& state, const ContinuityLimits& limits, BOOLEAN running,
                    ULONG busFrame, NTSTATUS status);
