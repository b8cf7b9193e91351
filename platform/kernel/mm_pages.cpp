// Making an MDL's pages usable: non-paged pool described as it lies, pages locked and
// unlocked, kernel mappings made and released.
#include <sys/mman.h>

#include "kernel/mm_mdl.h"
#include "kernel/mm_verifier.h"
#include "kernel/ps.h"

using tarnlink::kernel::Machine;
using tarnlink::kernel::PoolTracker;
using tarnlink::kernel::UserMapping;
using tarnlink::mm::CheckDescribedRange;
using tarnlink::mm::CheckIrql;
using tarnlink::mm::MdlViolation;

namespace {

ULONG PagesSpanned(PMDL mdl) {
  return ADDRESS_AND_SIZE_TO_SPAN_PAGES(MmGetMdlVirtualAddress(mdl), mdl->ByteCount);
}

// Locking and building start from an MDL that only describes its buffer: pages held twice
// would be released once, and a partial MDL's pages belong to its source.
void CheckOnlyDescribed(PMDL mdl, const char* reason) {
  constexpr CSHORT held = MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL |
                          MDL_PARTIAL | MDL_IO_SPACE;
  if (mdl->MdlFlags & held) MdlViolation(kMdlDescribedTwice, reason, mdl, mdl->MdlFlags);
  CheckDescribedRange(mdl, MmGetMdlVirtualAddress(mdl), mdl->ByteCount);
}

// Host memory is resident where it lies, so a page's frame is its page number.
void FillFrames(PMDL mdl) {
  const PFN_NUMBER first = reinterpret_cast<ULONG_PTR>(mdl->StartVa) >> PAGE_SHIFT;
  const ULONG pages = PagesSpanned(mdl);
  for (ULONG page = 0; page < pages; ++page) MmGetMdlPfnArray(mdl)[page] = first + page;
}

// A partial MDL may carry its source's mapping; only one it made itself is its to release.
bool HoldsOwnMapping(PMDL mdl) {
  return (mdl->MdlFlags & MDL_PARTIAL) ? (mdl->MdlFlags & MDL_PARTIAL_HAS_BEEN_MAPPED) != 0
                                       : (mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA) != 0;
}

// A mapping into the current process: the MDL's pages a second time, at an address of their
// own. Only whole pages of non-paged pool (or locked pages) can be shared with a process, and
// the host can map a second time only the pool's page-backed blocks.
PVOID MapIntoProcess(PMDL mdl, MEMORY_CACHING_TYPE cacheType, ULONG priority) {
  CheckIrql(APC_LEVEL, kMdlUserMapAboveApc,
            "MmMapLockedPagesSpecifyCache for user mode above APC_LEVEL",
            reinterpret_cast<ULONG_PTR>(mdl), static_cast<ULONG_PTR>(UserMode));
  if (!(mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL)))
    MdlViolation(kMdlMapNotLocked, "MDL pages mapped without being locked", mdl, PagesSpanned(mdl),
                 reinterpret_cast<ULONG_PTR>(mdl->StartVa) >> PAGE_SHIFT);
  const SIZE_T bytes = static_cast<SIZE_T>(PagesSpanned(mdl)) << PAGE_SHIFT;
  Machine& machine = Machine::Current();
  PoolTracker::Block block{};
  void* blockBase = nullptr;
  if (!machine.pool().FindContaining(mdl->StartVa, bytes, &block, &blockBase) ||
      !block.pageBacked)
    MdlViolation(kMdlUserMapNotPages,
                 "user mapping of memory that is not whole pages of non-paged pool", mdl,
                 reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(mdl)));
  if (machine.mappingFailures().ShouldFail()) return nullptr;
  // Size 0 asks mremap for a second mapping of the same shared pages.
  void* base = mremap(mdl->StartVa, 0, bytes, MREMAP_MAYMOVE);
  if (base == MAP_FAILED) return nullptr;
  PVOID user = static_cast<PUCHAR>(base) + mdl->ByteOffset;
  machine.userMappings().Add(UserMapping{user, base, bytes, mdl, PsGetCurrentProcess(),
                                         static_cast<ULONG>(cacheType), priority});
  return user;
}

}  // namespace

VOID MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList) {
  PMDL mdl = MemoryDescriptorList;
  CheckOnlyDescribed(mdl, "MmBuildMdlForNonPagedPool on an MDL whose pages are held already");
  PVOID va = MmGetMdlVirtualAddress(mdl);
  // The pool can tell its non-paged blocks; memory that is not one of them (paged pool, a
  // stack, a host buffer) may not stay resident, so the verifier refuses it.
  PoolTracker::Block block{};
  if (!Machine::Current().pool().FindContaining(va, mdl->ByteCount, &block) || block.paged)
    MdlViolation(kMdlNotNonPagedPool,
                 "MmBuildMdlForNonPagedPool over memory that is not non-paged pool", mdl,
                 reinterpret_cast<ULONG_PTR>(va));
  FillFrames(mdl);
  mdl->Process = nullptr;
  mdl->MappedSystemVa = va;
  mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
}

VOID MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode,
                         LOCK_OPERATION Operation) {
  PMDL mdl = MemoryDescriptorList;
  CheckIrql(DISPATCH_LEVEL, kMdlProbeAboveDispatch, "MmProbeAndLockPages above DISPATCH_LEVEL",
            reinterpret_cast<ULONG_PTR>(mdl), static_cast<ULONG_PTR>(AccessMode));
  CheckOnlyDescribed(mdl, "MmProbeAndLockPages on an MDL whose pages are held already");
  if (Machine::Current().lockFailures().ShouldFail())
    tarnlink::kernel::Verify(
        KMODE_EXCEPTION_NOT_HANDLED, "MmProbeAndLockPages raised: the pages cannot be locked",
        static_cast<ULONG>(STATUS_ACCESS_VIOLATION), 0, Operation == IoReadAccess ? 0 : 1,
        reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(mdl)));
  FillFrames(mdl);
  // Locked user pages are charged to the process that locked them.
  mdl->Process = AccessMode == UserMode ? PsGetCurrentProcess() : nullptr;
  if (Operation == IoReadAccess)
    mdl->MdlFlags &= ~MDL_WRITE_OPERATION;
  else
    mdl->MdlFlags |= MDL_WRITE_OPERATION;
  mdl->MdlFlags |= MDL_PAGES_LOCKED;
}

VOID MmUnlockPages(PMDL MemoryDescriptorList) {
  PMDL mdl = MemoryDescriptorList;
  CheckIrql(DISPATCH_LEVEL, kMdlUnlockAboveDispatch, "MmUnlockPages above DISPATCH_LEVEL",
            reinterpret_cast<ULONG_PTR>(mdl), 0);
  if (mdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL)
    MdlViolation(kMdlUnlockNonPagedPool, "MmUnlockPages on an MDL built for non-paged pool", mdl,
                 mdl->MdlFlags);
  if (!(mdl->MdlFlags & MDL_PAGES_LOCKED))
    MdlViolation(kMdlUnlockNotLocked, "MmUnlockPages on pages that are not locked", mdl,
                 mdl->MdlFlags);
  if (mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA) MmUnmapLockedPages(mdl->MappedSystemVa, mdl);
  mdl->MdlFlags &= ~MDL_PAGES_LOCKED;
}

PVOID MmMapLockedPagesSpecifyCache(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode,
                                   MEMORY_CACHING_TYPE CacheType, PVOID RequestedAddress,
                                   ULONG BugCheckOnFailure, ULONG Priority) {
  UNREFERENCED_PARAMETER(RequestedAddress);
  PMDL mdl = MemoryDescriptorList;
  // Windows raises an exception when a user mapping fails; kernel code here has no exception
  // handling, so the failure comes back as null, as the caller's handler would turn it.
  if (AccessMode == UserMode) return MapIntoProcess(mdl, CacheType, Priority);
  CheckIrql(DISPATCH_LEVEL, kMdlKernelMapAboveDispatch,
            "MmMapLockedPagesSpecifyCache for kernel mode above DISPATCH_LEVEL",
            reinterpret_cast<ULONG_PTR>(mdl), static_cast<ULONG_PTR>(AccessMode));
  if (BugCheckOnFailure)
    MdlViolation(kMdlMapBugCheckOnFailure, "kernel mapping asked to bug check when it fails", mdl,
                 mdl->MdlFlags);
  if (mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL))
    MdlViolation(kMdlMappedTwice, "MDL mapped to system space while it has a system address", mdl,
                 mdl->MdlFlags);
  if (!(mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_PARTIAL | MDL_IO_SPACE)))
    MdlViolation(kMdlMapNotLocked, "MDL pages mapped without being locked", mdl, PagesSpanned(mdl),
                 reinterpret_cast<ULONG_PTR>(mdl->StartVa) >> PAGE_SHIFT);
  if (Machine::Current().mappingFailures().ShouldFail()) return nullptr;
  mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
  mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
  if (mdl->MdlFlags & MDL_PARTIAL) mdl->MdlFlags |= MDL_PARTIAL_HAS_BEEN_MAPPED;
  return mdl->MappedSystemVa;
}

VOID MmUnmapLockedPages(PVOID BaseAddress, PMDL MemoryDescriptorList) {
  PMDL mdl = MemoryDescriptorList;
  CheckIrql(DISPATCH_LEVEL, kMdlUnmapAboveDispatch, "MmUnmapLockedPages above DISPATCH_LEVEL",
            reinterpret_cast<ULONG_PTR>(BaseAddress), reinterpret_cast<ULONG_PTR>(mdl));
  UserMapping mapping{};
  if (Machine::Current().userMappings().Find(BaseAddress, &mapping)) {
    if (mapping.mdl != mdl)
      MdlViolation(kMdlUnmapNotMapped, "MmUnmapLockedPages of an address the MDL has not mapped",
                   mdl, reinterpret_cast<ULONG_PTR>(BaseAddress));
    Machine::Current().userMappings().Take(BaseAddress, &mapping);
    munmap(mapping.base, mapping.bytes);
    return;
  }
  if (!HoldsOwnMapping(mdl) || BaseAddress != mdl->MappedSystemVa)
    MdlViolation(kMdlUnmapNotMapped, "MmUnmapLockedPages of an address the MDL has not mapped", mdl,
                 reinterpret_cast<ULONG_PTR>(BaseAddress));
  mdl->MdlFlags &= ~(MDL_MAPPED_TO_SYSTEM_VA | MDL_PARTIAL_HAS_BEEN_MAPPED);
}
