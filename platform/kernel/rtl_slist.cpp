// S-lists. Only one thread holds the processor at a time, but the host threads are real, so
// the operations still take a lock to stay atomic.
#include <mutex>

#include "kernel/rtl_list.h"

namespace {
std::mutex g_slistLock;
}

void InitializeSListHead(PSLIST_HEADER head) {
  head->s.Alignment = 0;
  head->s.Region = 0;
}

PSLIST_ENTRY InterlockedPushEntrySList(PSLIST_HEADER head, PSLIST_ENTRY entry) {
  std::lock_guard<std::mutex> guard(g_slistLock);
  PSLIST_ENTRY first = head->List.Next;
  entry->Next = first;
  head->List.Next = entry;
  ++head->List.Depth;
  ++head->List.Sequence;
  return first;
}

PSLIST_ENTRY InterlockedPopEntrySList(PSLIST_HEADER head) {
  std::lock_guard<std::mutex> guard(g_slistLock);
  PSLIST_ENTRY first = head->List.Next;
  if (first != nullptr) {
    head->List.Next = first->Next;
    --head->List.Depth;
    ++head->List.Sequence;
  }
  return first;
}

PSLIST_ENTRY InterlockedFlushSList(PSLIST_HEADER head) {
  std::lock_guard<std::mutex> guard(g_slistLock);
  PSLIST_ENTRY first = head->List.Next;
  head->List.Next = nullptr;
  head->List.Depth = 0;
  return first;
}

USHORT QueryDepthSList(PSLIST_HEADER head) {
  std::lock_guard<std::mutex> guard(g_slistLock);
  return head->List.Depth;
}
