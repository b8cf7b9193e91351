// The chunk queues of the operating-system stream: the pieces of the WaveRT cyclic buffer the
// miniport has handed over for the next transfer, per direction, in order. Entries come from a
// look-aside list so that queueing allocates nothing once the list is warm.
#pragma once

#include "driver_types.h"
#include "kernel_mode.h"

// One queued piece of the operating-system stream's cyclic buffer.
struct ChunkEntry {
  LIST_ENTRY Link;
  PVOID Chunk;
  PVOID Current;
  ULONG Bytes;
};

class CChunkQueues {
 public:
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Initialize();
  // Returns every entry and deletes the look-aside list.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Delete();

  // Appends a chunk; a chunk that cannot be queued is dropped (traced).
  NTSTATUS Queue(ULONG direction, PVOID address, ULONG bytes);
  VOID Flush(ULONG direction);

  // The queue of a direction and its lock, for the source and sink that consume it.
  PLIST_ENTRY List(ULONG direction) { return &m_Lists[direction]; }
  PKSPIN_LOCK Lock(ULONG direction) { return &m_Locks[direction]; }
  // Gives a consumed entry back; the direction's lock is held.
  VOID Return(ChunkEntry* entry) { ExFreeToLookasideListEx(&m_Entries, entry); }
  BOOLEAN IsEmpty(ULONG direction);

 private:
  LIST_ENTRY m_Lists[kDirectionCount];
  KSPIN_LOCK m_Locks[kDirectionCount] = {};
  LOOKASIDE_LIST_EX m_Entries = {};
  BOOLEAN m_Ready = FALSE;
};
