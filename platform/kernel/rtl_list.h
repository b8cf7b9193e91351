// Doubly and singly linked lists, as kernel code links its records: the link lives inside the
// record and CONTAINING_RECORD recovers the record from it.
#pragma once

#include "kernel/ntdef.h"

typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY* Flink;
  struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY, *PRLIST_ENTRY;

typedef struct _SINGLE_LIST_ENTRY {
  struct _SINGLE_LIST_ENTRY* Next;
} SINGLE_LIST_ENTRY, *PSINGLE_LIST_ENTRY;

// A corrupted list (a neighbour that does not point back) stops the machine instead of linking
// records into freed memory; the check mirrors the fast-fail checks of Windows' list helpers.
void RtlpListCorrupted(PLIST_ENTRY entry);

inline void InitializeListHead(PLIST_ENTRY head) {
  head->Flink = head->Blink = head;
}

inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) {
  return head->Flink == head;
}

inline void RtlpCheckListEntry(PLIST_ENTRY entry) {
  if (entry->Flink->Blink != entry || entry->Blink->Flink != entry) RtlpListCorrupted(entry);
}

inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  RtlpCheckListEntry(entry);
  PLIST_ENTRY flink = entry->Flink;
  PLIST_ENTRY blink = entry->Blink;
  blink->Flink = flink;
  flink->Blink = blink;
  return flink == blink;
}

inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink;
  RemoveEntryList(entry);
  return entry;
}

inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Blink;
  RemoveEntryList(entry);
  return entry;
}

inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  RtlpCheckListEntry(head);
  PLIST_ENTRY blink = head->Blink;
  entry->Flink = head;
  entry->Blink = blink;
  blink->Flink = entry;
  head->Blink = entry;
}

inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  RtlpCheckListEntry(head);
  PLIST_ENTRY flink = head->Flink;
  entry->Flink = flink;
  entry->Blink = head;
  flink->Blink = entry;
  head->Flink = entry;
}

inline void AppendTailList(PLIST_ENTRY head, PLIST_ENTRY listToAppend) {
  PLIST_ENTRY listEnd = head->Blink;
  head->Blink->Flink = listToAppend;
  head->Blink = listToAppend->Blink;
  listToAppend->Blink->Flink = head;
  listToAppend->Blink = listEnd;
}

inline PSINGLE_LIST_ENTRY PopEntryList(PSINGLE_LIST_ENTRY head) {
  PSINGLE_LIST_ENTRY first = head->Next;
  if (first != nullptr) head->Next = first->Next;
  return first;
}

inline void PushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry) {
  entry->Next = head->Next;
  head->Next = entry;
}

// Interlocked singly linked list (S-list). The header keeps the depth beside the first entry.
typedef struct _SLIST_ENTRY {
  struct _SLIST_ENTRY* Next;
} SLIST_ENTRY, *PSLIST_ENTRY;

typedef union alignas(16) _SLIST_HEADER {
  struct {
    ULONGLONG Alignment;
    ULONGLONG Region;
  } s;
  struct {
    PSLIST_ENTRY Next;
    USHORT Depth;
    USHORT Sequence;
  } List;
} SLIST_HEADER, *PSLIST_HEADER;

void InitializeSListHead(PSLIST_HEADER head);
PSLIST_ENTRY InterlockedPushEntrySList(PSLIST_HEADER head, PSLIST_ENTRY entry);
PSLIST_ENTRY InterlockedPopEntrySList(PSLIST_HEADER head);
PSLIST_ENTRY InterlockedFlushSList(PSLIST_HEADER head);
USHORT QueryDepthSList(PSLIST_HEADER head);
#define ExInitializeSListHead InitializeSListHead
#define ExQueryDepthSList QueryDepthSList
#define ExInterlockedFlushSList InterlockedFlushSList
