#include "staging_buffer.h"

#include "driver_pool.h"

NTSTATUS AllocateStaging(StagingBuffer* staging, ULONG frameBytes, ULONG periodFrames,
                         ULONG extraBytes) {
  FreeStaging(staging);
  const ULONGLONG period = static_cast<ULONGLONG>(periodFrames) * frameBytes;
  ULONGLONG bytes = period + extraBytes;
  bytes = bytes > frameBytes ? bytes - frameBytes : period;
  bytes = (bytes + 3) & ~3ull;
  if (period == 0 || period > 0x7FFFFFFFull || bytes > 0x7FFFFFFFull || bytes < period)
    return STATUS_INVALID_PARAMETER;
  staging->Data = static_cast<PUCHAR>(AllocateDriverPool(static_cast<SIZE_T>(bytes)));
  if (staging->Data == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  staging->AllocatedBytes = static_cast<ULONG>(bytes);
  staging->FrameBytes = frameBytes;
  staging->PeriodBytes = static_cast<ULONG>(period);
  staging->UsedBytes = 0;
  return STATUS_SUCCESS;
}

VOID FreeStaging(StagingBuffer* staging) {
  FreeDriverPool(staging->Data);
  *staging = {};
}

BOOLEAN StageCapture(StagingBuffer* staging, const UCHAR* src, ULONG frames,
                     const UCHAR** period) {
  if (staging->Data == nullptr) return FALSE;
  if (src != nullptr) {
    const ULONG room = staging->AllocatedBytes - staging->UsedBytes;
    const ULONGLONG offered = static_cast<ULONGLONG>(frames) * staging->FrameBytes;
    ULONG bytes = offered < room ? static_cast<ULONG>(offered) : room;
    bytes -= bytes % staging->FrameBytes;  // whole frames, so the period taken starts on one
    RtlCopyMemory(staging->Data + staging->UsedBytes, src, bytes);
    staging->UsedBytes += bytes;
  }
  if (staging->UsedBytes < staging->PeriodBytes) return FALSE;
  *period = staging->Data + staging->UsedBytes - staging->PeriodBytes;
  return TRUE;
}
