// Memory descriptor lists: a buffer described by its pages, locked so that the pages stay
// resident and mapped so that the kernel can address them. Windows' layout, flags and calls.
//
// In the host every page is resident and addressable where it lies: locking fills the page
// frames (the page number of the address) and a kernel mapping is the described address
// itself. The flags still say what was locked and mapped, so that the verifier can catch an
// unlock, unmap or free that Windows would trip over.
#pragma once

#include "kernel/io_types.h"
#include "kernel/ke_types.h"

#define PAGE_SIZE 0x1000
#define PAGE_SHIFT 12L

typedef ULONG_PTR PFN_NUMBER, *PPFN_NUMBER;

#define BYTE_OFFSET(Va) ((ULONG)((LONG_PTR)(Va) & (PAGE_SIZE - 1)))
#define PAGE_ALIGN(Va) ((PVOID)((ULONG_PTR)(Va) & ~(PAGE_SIZE - 1)))
#define ROUND_TO_PAGES(Size) (((ULONG_PTR)(Size) + PAGE_SIZE - 1) & ~(PAGE_SIZE - 1))
#define BYTES_TO_PAGES(Size) (((Size) >> PAGE_SHIFT) + (((Size) & (PAGE_SIZE - 1)) != 0))
#define ADDRESS_AND_SIZE_TO_SPAN_PAGES(Va, Size) \
  ((ULONG)((((ULONG_PTR)(Va) & (PAGE_SIZE - 1)) + (Size) + (PAGE_SIZE - 1)) >> PAGE_SHIFT))
#define COMPUTE_PAGES_SPANNED(Va, Size) ADDRESS_AND_SIZE_TO_SPAN_PAGES(Va, Size)

// The page-frame array, one PFN_NUMBER per page spanned, follows the header in memory.
typedef struct _MDL {
  struct _MDL* Next;
  CSHORT Size;  // header and frame array, in bytes
  CSHORT MdlFlags;
  PEPROCESS Process;     // the process whose user pages are locked; null for system addresses
  PVOID MappedSystemVa;  // first described byte in system space, while the flags say so
  PVOID StartVa;         // page-aligned
  ULONG ByteCount;
  ULONG ByteOffset;  // of the first byte within the first page
} MDL;
static_assert(sizeof(MDL) == 48, "MDL layout");

#define MDL_MAPPED_TO_SYSTEM_VA 0x0001
#define MDL_PAGES_LOCKED 0x0002
#define MDL_SOURCE_IS_NONPAGED_POOL 0x0004
#define MDL_ALLOCATED_FIXED_SIZE 0x0008
#define MDL_PARTIAL 0x0010
#define MDL_PARTIAL_HAS_BEEN_MAPPED 0x0020
#define MDL_IO_PAGE_READ 0x0040
#define MDL_WRITE_OPERATION 0x0080
#define MDL_PARENT_MAPPED_SYSTEM_VA 0x0100
#define MDL_FREE_EXTRA_PTES 0x0200
#define MDL_DESCRIBES_AWE 0x0400
#define MDL_IO_SPACE 0x0800
#define MDL_NETWORK_HEADER 0x1000
#define MDL_MAPPING_CAN_FAIL 0x2000
#define MDL_PAGE_CONTENTS_INVARIANT 0x4000
#define MDL_ALLOCATED_MUST_SUCCEED 0x4000
#define MDL_INTERNAL 0x8000

typedef enum _LOCK_OPERATION { IoReadAccess, IoWriteAccess, IoModifyAccess } LOCK_OPERATION;

typedef enum _MEMORY_CACHING_TYPE {
  MmNonCached = FALSE,
  MmCached = TRUE,
  MmWriteCombined = 2,
  MmHardwareCoherentCached,
  MmNonCachedUnordered,
  MmUSWCCached,
  MmMaximumCacheType,
  MmNotMapped = -1
} MEMORY_CACHING_TYPE;

// The Priority of a system-space mapping: a page priority, optionally ORed with MdlMapping*.
typedef enum _MM_PAGE_PRIORITY {
  LowPagePriority,
  NormalPagePriority = 16,
  HighPagePriority = 32
} MM_PAGE_PRIORITY;
#define MdlMappingNoWrite 0x80000000
#define MdlMappingNoExecute 0x40000000

SIZE_T MmSizeOfMdl(PVOID Base, SIZE_T Length);

inline VOID MmInitializeMdl(PMDL MemoryDescriptorList, PVOID BaseVa, SIZE_T Length) {
  MemoryDescriptorList->Next = nullptr;
  MemoryDescriptorList->Size = static_cast<CSHORT>(MmSizeOfMdl(BaseVa, Length));
  MemoryDescriptorList->MdlFlags = 0;
  MemoryDescriptorList->StartVa = PAGE_ALIGN(BaseVa);
  MemoryDescriptorList->ByteOffset = BYTE_OFFSET(BaseVa);
  MemoryDescriptorList->ByteCount = static_cast<ULONG>(Length);
}

inline PVOID MmGetMdlVirtualAddress(PMDL Mdl) {
  return static_cast<PCHAR>(Mdl->StartVa) + Mdl->ByteOffset;
}
inline ULONG MmGetMdlByteCount(PMDL Mdl) {
  return Mdl->ByteCount;
}
inline ULONG MmGetMdlByteOffset(PMDL Mdl) {
  return Mdl->ByteOffset;
}
inline PPFN_NUMBER MmGetMdlPfnArray(PMDL Mdl) {
  return reinterpret_cast<PPFN_NUMBER>(Mdl + 1);
}

// Allocation from the pool (tag "Mdl "). With an IRP, the MDL becomes Irp->MdlAddress, or with
// SecondaryBuffer it goes to the end of the IRP's chain. A length above 4 GB less a page fails.
PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN ChargeQuota,
                   PIRP Irp);
// Releases a partial MDL's own mapping first; a locked or mapped MDL stops the machine.
VOID IoFreeMdl(PMDL Mdl);
// Describes part of SourceMdl's buffer (all of the rest when Length is 0) in TargetMdl, which
// must be large enough; the part inherits the source's system address, if it has one.
VOID IoBuildPartialMdl(PMDL SourceMdl, PMDL TargetMdl, PVOID VirtualAddress, ULONG Length);

// Non-paged pool is resident and mapped already: the MDL gets its frames and its address.
VOID MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList);
// Locks the pages for the access. A failure raises an exception on Windows; the host has no
// exception handling in kernel code, so it stops the machine as an unhandled one would.
VOID MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode,
                         LOCK_OPERATION Operation);
// Unlocks the pages, releasing a system mapping first.
VOID MmUnlockPages(PMDL MemoryDescriptorList);
// Maps locked pages. KernelMode gives a system address or, when no mapping can be had and
// BugCheckOnFailure is FALSE, null. UserMode maps the same pages a second time into the current
// process (the pool's whole-page blocks only), at an address other than the kernel's; it gives
// null where Windows would raise. MmUnmapLockedPages with that address takes the mapping away;
// one still there when its process ends, or when its MDL is freed, stops the machine.
PVOID MmMapLockedPagesSpecifyCache(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode,
                                   MEMORY_CACHING_TYPE CacheType, PVOID RequestedAddress,
                                   ULONG BugCheckOnFailure, ULONG Priority);
VOID MmUnmapLockedPages(PVOID BaseAddress, PMDL MemoryDescriptorList);

// The system address of the buffer: the one it has, or a new kernel mapping (null if none).
inline PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, ULONG Priority) {
  if (Mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))
    return Mdl->MappedSystemVa;
  return MmMapLockedPagesSpecifyCache(Mdl, KernelMode, MmCached, nullptr, FALSE, Priority);
}

// Before a partial MDL is built again or freed, its own mapping goes.
inline VOID MmPrepareMdlForReuse(PMDL Mdl) {
  if (Mdl->MdlFlags & MDL_PARTIAL_HAS_BEEN_MAPPED) MmUnmapLockedPages(Mdl->MappedSystemVa, Mdl);
}
