// Look-aside lists: freed blocks are kept (up to the depth) and handed out again, so a steady
// state allocates nothing from the pool.
#include "kernel/bugcheck.h"
#include "kernel/ex_pool.h"
#include "kernel/machine.h"

using tarnlink::kernel::Verify;

namespace {

constexpr ULONG kLookasideMagic = 0x4C6B4C61;  // "aLkL"
constexpr USHORT kDefaultDepth = 4;
constexpr USHORT kMaximumDepth = 256;

void Initialize(PGENERAL_LOOKASIDE L, POOL_TYPE type, SIZE_T size, ULONG tag, USHORT depth) {
  InitializeSListHead(&L->ListHead);
  L->Depth = depth == 0 ? kDefaultDepth : (depth > kMaximumDepth ? kMaximumDepth : depth);
  L->MaximumDepth = kMaximumDepth;
  L->TotalAllocates = L->AllocateMisses = L->TotalFrees = L->FreeMisses = 0;
  L->Type = type;
  L->Tag = tag;
  // Blocks are linked through their first bytes while cached.
  L->Size = static_cast<ULONG>(size < sizeof(SLIST_ENTRY) ? sizeof(SLIST_ENTRY) : size);
  L->Allocate = nullptr;
  L->Free = nullptr;
  L->AllocateEx = nullptr;
  L->FreeEx = nullptr;
  L->ListEntry.Flink = L->ListEntry.Blink = nullptr;
  L->Flags = 0;
  L->Magic = kLookasideMagic;
}

void CheckList(PGENERAL_LOOKASIDE L) {
  if (L == nullptr || L->Magic != kLookasideMagic)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "look-aside list used before init or after delete",
           0x1800, reinterpret_cast<ULONG_PTR>(L));
}

PVOID AllocateBlock(PGENERAL_LOOKASIDE L, PLOOKASIDE_LIST_EX owner) {
  CheckList(L);
  ++L->TotalAllocates;
  if (PSLIST_ENTRY entry = InterlockedPopEntrySList(&L->ListHead)) return entry;
  ++L->AllocateMisses;
  if (L->AllocateEx != nullptr) return L->AllocateEx(L->Type, L->Size, L->Tag, owner);
  if (L->Allocate != nullptr) return L->Allocate(L->Type, L->Size, L->Tag);
  return ExAllocatePoolWithTag(L->Type, L->Size, L->Tag);
}

void ReleaseBlock(PGENERAL_LOOKASIDE L, PLOOKASIDE_LIST_EX owner, PVOID entry) {
  if (L->FreeEx != nullptr) {
    L->FreeEx(entry, owner);
  } else if (L->Free != nullptr) {
    L->Free(entry);
  } else {
    ExFreePoolWithTag(entry, L->Tag);
  }
}

void FreeBlock(PGENERAL_LOOKASIDE L, PLOOKASIDE_LIST_EX owner, PVOID entry) {
  CheckList(L);
  if (entry == nullptr)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "null block freed to a look-aside list", 0x1801,
           reinterpret_cast<ULONG_PTR>(L));
  ++L->TotalFrees;
  if (QueryDepthSList(&L->ListHead) < L->Depth) {
    InterlockedPushEntrySList(&L->ListHead, static_cast<PSLIST_ENTRY>(entry));
    return;
  }
  ++L->FreeMisses;
  ReleaseBlock(L, owner, entry);
}

void Flush(PGENERAL_LOOKASIDE L, PLOOKASIDE_LIST_EX owner) {
  CheckList(L);
  PSLIST_ENTRY entry = InterlockedFlushSList(&L->ListHead);
  while (entry != nullptr) {
    PSLIST_ENTRY next = entry->Next;
    ReleaseBlock(L, owner, entry);
    entry = next;
  }
}

void Delete(PGENERAL_LOOKASIDE L, PLOOKASIDE_LIST_EX owner) {
  Flush(L, owner);
  L->Magic = 0;
}

}  // namespace

VOID ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG Flags, SIZE_T Size, ULONG Tag,
                                     USHORT Depth) {
  Initialize(&Lookaside->L, NonPagedPoolNx, Size, Tag, Depth);
  Lookaside->L.Allocate = Allocate;
  Lookaside->L.Free = Free;
  Lookaside->L.Flags = Flags;
}

VOID ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
  Delete(&Lookaside->L, nullptr);
}

PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
  return AllocateBlock(&Lookaside->L, nullptr);
}

VOID ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry) {
  FreeBlock(&Lookaside->L, nullptr, Entry);
}

NTSTATUS ExInitializeLookasideListEx(PLOOKASIDE_LIST_EX Lookaside, PALLOCATE_FUNCTION_EX Allocate,
                                     PFREE_FUNCTION_EX Free, POOL_TYPE PoolType, ULONG Flags,
                                     SIZE_T Size, ULONG Tag, USHORT Depth) {
  if (Lookaside == nullptr || Size == 0 || Size > 0xFFFFFFFF) return STATUS_INVALID_PARAMETER;
  Initialize(&Lookaside->L, PoolType, Size, Tag, Depth);
  Lookaside->L.AllocateEx = Allocate;
  Lookaside->L.FreeEx = Free;
  Lookaside->L.Flags = Flags;
  return STATUS_SUCCESS;
}

VOID ExDeleteLookasideListEx(PLOOKASIDE_LIST_EX Lookaside) {
  Delete(&Lookaside->L, Lookaside);
}

PVOID ExAllocateFromLookasideListEx(PLOOKASIDE_LIST_EX Lookaside) {
  return AllocateBlock(&Lookaside->L, Lookaside);
}

VOID ExFreeToLookasideListEx(PLOOKASIDE_LIST_EX Lookaside, PVOID Entry) {
  FreeBlock(&Lookaside->L, Lookaside, Entry);
}

VOID ExFlushLookasideListEx(PLOOKASIDE_LIST_EX Lookaside) {
  Flush(&Lookaside->L, Lookaside);
}
