// Pool memory and look-aside lists.
#pragma once

#include "kernel/ke_types.h"
#include "kernel/ntstatus.h"

typedef enum _POOL_TYPE {
  NonPagedPool = 0,
  NonPagedPoolExecute = 0,
  PagedPool = 1,
  NonPagedPoolMustSucceed = 2,
  NonPagedPoolCacheAligned = 4,
  PagedPoolCacheAligned = 5,
  NonPagedPoolBase = 0,
  NonPagedPoolNx = 512,
  NonPagedPoolNxCacheAligned = 516,
} POOL_TYPE;

typedef ULONG64 POOL_FLAGS;
#define POOL_FLAG_REQUIRED_START 0x0000000000000001ULL
#define POOL_FLAG_USE_QUOTA 0x0000000000000001ULL
#define POOL_FLAG_UNINITIALIZED 0x0000000000000002ULL
#define POOL_FLAG_SESSION 0x0000000000000004ULL
#define POOL_FLAG_CACHE_ALIGNED 0x0000000000000008ULL
#define POOL_FLAG_RAISE_ON_FAILURE 0x0000000000000020ULL
#define POOL_FLAG_NON_PAGED 0x0000000000000040ULL
#define POOL_FLAG_NON_PAGED_EXECUTE 0x0000000000000080ULL
#define POOL_FLAG_PAGED 0x0000000000000100ULL

// ExAllocatePool2 returns zeroed memory unless POOL_FLAG_UNINITIALIZED is given; the older
// calls return memory filled with a pattern, so code that forgets to initialise shows it.
PVOID ExAllocatePool2(POOL_FLAGS Flags, SIZE_T NumberOfBytes, ULONG Tag);
PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
PVOID ExAllocatePoolZero(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID ExFreePoolWithTag(PVOID P, ULONG Tag);
VOID ExFreePool(PVOID P);

// Look-aside lists: a cache of fixed-size blocks in front of the pool.
typedef PVOID ALLOCATE_FUNCTION(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
typedef ALLOCATE_FUNCTION* PALLOCATE_FUNCTION;
typedef VOID FREE_FUNCTION(PVOID Buffer);
typedef FREE_FUNCTION* PFREE_FUNCTION;

struct _LOOKASIDE_LIST_EX;
typedef PVOID ALLOCATE_FUNCTION_EX(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag,
                                   struct _LOOKASIDE_LIST_EX* Lookaside);
typedef ALLOCATE_FUNCTION_EX* PALLOCATE_FUNCTION_EX;
typedef VOID FREE_FUNCTION_EX(PVOID Buffer, struct _LOOKASIDE_LIST_EX* Lookaside);
typedef FREE_FUNCTION_EX* PFREE_FUNCTION_EX;

typedef struct _GENERAL_LOOKASIDE {
  SLIST_HEADER ListHead;
  USHORT Depth;
  USHORT MaximumDepth;
  ULONG TotalAllocates;
  ULONG AllocateMisses;
  ULONG TotalFrees;
  ULONG FreeMisses;
  POOL_TYPE Type;
  ULONG Tag;
  ULONG Size;
  PALLOCATE_FUNCTION Allocate;
  PFREE_FUNCTION Free;
  PALLOCATE_FUNCTION_EX AllocateEx;
  PFREE_FUNCTION_EX FreeEx;
  LIST_ENTRY ListEntry;
  ULONG Flags;
  ULONG Magic;  // set while the list is initialised; catches use after delete
} GENERAL_LOOKASIDE, *PGENERAL_LOOKASIDE;

typedef struct _NPAGED_LOOKASIDE_LIST {
  GENERAL_LOOKASIDE L;
} NPAGED_LOOKASIDE_LIST, *PNPAGED_LOOKASIDE_LIST;

typedef struct _PAGED_LOOKASIDE_LIST {
  GENERAL_LOOKASIDE L;
} PAGED_LOOKASIDE_LIST, *PPAGED_LOOKASIDE_LIST;

typedef struct _LOOKASIDE_LIST_EX {
  GENERAL_LOOKASIDE L;
} LOOKASIDE_LIST_EX, *PLOOKASIDE_LIST_EX;

#define LOOKASIDE_MINIMUM_BLOCK_SIZE (sizeof(SLIST_ENTRY))
#define EX_LOOKASIDE_LIST_EX_FLAGS_RAISE_ON_FAIL 0x00000001UL
#define EX_LOOKASIDE_LIST_EX_FLAGS_FAIL_NO_RAISE 0x00000002UL

VOID ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG Flags, SIZE_T Size, ULONG Tag,
                                     USHORT Depth);
VOID ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside);
PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside);
VOID ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry);

NTSTATUS ExInitializeLookasideListEx(PLOOKASIDE_LIST_EX Lookaside, PALLOCATE_FUNCTION_EX Allocate,
                                     PFREE_FUNCTION_EX Free, POOL_TYPE PoolType, ULONG Flags,
                                     SIZE_T Size, ULONG Tag, USHORT Depth);
VOID ExDeleteLookasideListEx(PLOOKASIDE_LIST_EX Lookaside);
PVOID ExAllocateFromLookasideListEx(PLOOKASIDE_LIST_EX Lookaside);
VOID ExFreeToLookasideListEx(PLOOKASIDE_LIST_EX Lookaside, PVOID Entry);
VOID ExFlushLookasideListEx(PLOOKASIDE_LIST_EX Lookaside);
