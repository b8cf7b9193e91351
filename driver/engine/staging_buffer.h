// StagingBuffer: collects the first period of capture after a start, so that the client's
// first period event comes with one whole period in the capture ring.
#pragma once

#include "kernel_mode.h"

struct StagingBuffer {
  ULONG AllocatedBytes;
  PUCHAR Data;
  ULONG UsedBytes;
  ULONG FrameBytes;
  ULONG PeriodBytes;
};

// Room for one period and one capture transfer beyond it (allocation rounded up to 4 bytes).
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    AllocateStaging(StagingBuffer* staging, ULONG frameBytes, ULONG periodFrames, ULONG extraBytes);
VOID FreeStaging(StagingBuffer* staging);
// Appends frames (cut to the room left); TRUE once a whole period is there, and then *period
// points at the last period of what was staged.
_IRQL_requires_max_(DISPATCH_LEVEL) BOOLEAN
    StageCapture(StagingBuffer* staging, const UCHAR* src, ULONG frames, const UCHAR** period);
