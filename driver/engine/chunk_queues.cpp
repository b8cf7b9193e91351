#include "chunk_queues.h"

#include "driver_pool.h"
#include "driver_settings.h"
#include "engine_trace_points.h"

NTSTATUS CChunkQueues::Initialize() {
  for (ULONG direction = 0; direction < kDirectionCount; ++direction) {
    InitializeListHead(&m_Lists[direction]);
    KeInitializeSpinLock(&m_Locks[direction]);
  }
  NTSTATUS status = ExInitializeLookasideListEx(&m_Entries, nullptr, nullptr,
                                                g_DriverSettings.LookasidePoolType, 0,
                                                sizeof(ChunkEntry), kDriverPoolTag, 0);
  m_Ready = NT_SUCCESS(status);
  if (!m_Ready) return status;
  // A block of a stream queues at most two pieces per direction (up to the cyclic buffer's end,
  // then from its start). Entries for all of them go through the list now, so that the first
  // block that wraps, however late in a stream, allocates nothing.
  PVOID warm[2 * kDirectionCount] = {};
  for (PVOID& entry : warm) entry = ExAllocateFromLookasideListEx(&m_Entries);
  for (PVOID entry : warm) {
    if (entry != nullptr) ExFreeToLookasideListEx(&m_Entries, entry);
  }
  return status;
}

VOID CChunkQueues::Delete() {
  if (!m_Ready) return;
  Flush(kDirectionPlayback);
  Flush(kDirectionCapture);
  ExDeleteLookasideListEx(&m_Entries);
  m_Ready = FALSE;
}

NTSTATUS CChunkQueues::Queue(ULONG direction, PVOID address, ULONG bytes) {
  if (direction >= kDirectionCount || !m_Ready) return STATUS_INVALID_PARAMETER;
  auto* entry = static_cast<ChunkEntry*>(ExAllocateFromLookasideListEx(&m_Entries));
  if (entry == nullptr) {
    TRACE_POINT(kTraceChunkDropped, direction, bytes);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  entry->Chunk = address;
  entry->Current = address;
  entry->Bytes = bytes;
  KIRQL irql;
  KeAcquireSpinLock(&m_Locks[direction], &irql);
  InsertTailList(&m_Lists[direction], &entry->Link);
  KeReleaseSpinLock(&m_Locks[direction], irql);
  return STATUS_SUCCESS;
}

VOID CChunkQueues::Flush(ULONG direction) {
  if (direction >= kDirectionCount || !m_Ready) return;
  KIRQL irql;
  KeAcquireSpinLock(&m_Locks[direction], &irql);
  while (!IsListEmpty(&m_Lists[direction])) {
    ExFreeToLookasideListEx(&m_Entries,
                            CONTAINING_RECORD(RemoveHeadList(&m_Lists[direction]), ChunkEntry, Link));
  }
  KeReleaseSpinLock(&m_Locks[direction], irql);
}

BOOLEAN CChunkQueues::IsEmpty(ULONG direction) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Locks[direction], &irql);
  const BOOLEAN empty = IsListEmpty(&m_Lists[direction]);
  KeReleaseSpinLock(&m_Locks[direction], irql);
  return empty;
}
