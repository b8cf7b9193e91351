// MDLs as objects: their size, allocation from the pool, release, and partial MDLs.
#include "kernel/mm_mdl.h"

#include "kernel/ex_pool.h"
#include "kernel/irp.h"
#include "kernel/mm_verifier.h"

using tarnlink::kernel::Machine;
using tarnlink::kernel::PoolTracker;
using tarnlink::mm::CheckDescribedRange;
using tarnlink::mm::MdlViolation;

namespace {

constexpr ULONG kMdlTag = 0x206c644d;  // "Mdl "
// One MDL describes at most 4 GB less a page.
constexpr ULONG kLargestMdlLength = 0u - PAGE_SIZE;

void AppendToIrp(PIRP irp, PMDL mdl, BOOLEAN secondary) {
  PMDL* link = &irp->MdlAddress;
  if (secondary)
    while (*link != nullptr) link = &(*link)->Next;
  *link = mdl;
}

}  // namespace

SIZE_T MmSizeOfMdl(PVOID Base, SIZE_T Length) {
  return sizeof(MDL) + sizeof(PFN_NUMBER) * ADDRESS_AND_SIZE_TO_SPAN_PAGES(Base, Length);
}

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN ChargeQuota,
                   PIRP Irp) {
  UNREFERENCED_PARAMETER(ChargeQuota);
  CheckDescribedRange(VirtualAddress, VirtualAddress, Length);
  if (Length > kLargestMdlLength) return nullptr;
  auto mdl = static_cast<PMDL>(
      ExAllocatePoolWithTag(NonPagedPoolNx, MmSizeOfMdl(VirtualAddress, Length), kMdlTag));
  if (mdl == nullptr) return nullptr;
  MmInitializeMdl(mdl, VirtualAddress, Length);
  mdl->Process = nullptr;
  mdl->MappedSystemVa = nullptr;
  if (Irp != nullptr) AppendToIrp(Irp, mdl, SecondaryBuffer);
  return mdl;
}

VOID IoFreeMdl(PMDL Mdl) {
  // Only a block the pool gave is read: anything else, or an MDL freed already, is the pool's
  // own stop below.
  PoolTracker::Block block{};
  if (Machine::Current().pool().Find(Mdl, &block)) {
    MmPrepareMdlForReuse(Mdl);
    if ((Mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_PARTIAL)) == MDL_MAPPED_TO_SYSTEM_VA)
      MdlViolation(kMdlFreedMapped, "MDL freed while mapped to system space", Mdl, Mdl->MdlFlags);
    if (Mdl->MdlFlags & MDL_PAGES_LOCKED)
      MdlViolation(kMdlFreedLocked, "MDL freed with its pages locked", Mdl, Mdl->MdlFlags);
    if (Machine::Current().userMappings().HasMappingOf(Mdl))
      MdlViolation(kMdlFreedUserMapped, "MDL freed while its pages are mapped into a process", Mdl,
                   Mdl->MdlFlags);
  }
  ExFreePoolWithTag(Mdl, kMdlTag);
}

VOID IoBuildPartialMdl(PMDL SourceMdl, PMDL TargetMdl, PVOID VirtualAddress, ULONG Length) {
  const auto source = reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(SourceMdl));
  const ULONG_PTR offset = reinterpret_cast<ULONG_PTR>(VirtualAddress) - source;
  if (offset >= SourceMdl->ByteCount)
    MdlViolation(kMdlPartialOutsideSource, "partial MDL starts outside its source", SourceMdl,
                 reinterpret_cast<ULONG_PTR>(VirtualAddress), Length);
  if (Length == 0) Length = static_cast<ULONG>(SourceMdl->ByteCount - offset);
  if (Length > SourceMdl->ByteCount - offset)
    MdlViolation(kMdlPartialOutsideSource, "partial MDL runs past the end of its source", SourceMdl,
                 reinterpret_cast<ULONG_PTR>(VirtualAddress), Length);
  const ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(VirtualAddress, Length);
  const SIZE_T size = static_cast<USHORT>(TargetMdl->Size);
  const SIZE_T room = size < sizeof(MDL) ? 0 : (size - sizeof(MDL)) / sizeof(PFN_NUMBER);
  if (room < pages)
    tarnlink::kernel::Verify(TARGET_MDL_TOO_SMALL, "partial MDL built into too small a target",
                             reinterpret_cast<ULONG_PTR>(SourceMdl),
                             reinterpret_cast<ULONG_PTR>(TargetMdl), pages, room);

  TargetMdl->Process = SourceMdl->Process;
  TargetMdl->StartVa = PAGE_ALIGN(VirtualAddress);
  TargetMdl->ByteOffset = BYTE_OFFSET(VirtualAddress);
  TargetMdl->ByteCount = Length;
  // The part keeps how its MDL was allocated, and how the source's pages are held: a source
  // in non-paged pool or mapped to system space lends the part its address.
  TargetMdl->MdlFlags &= MDL_ALLOCATED_FIXED_SIZE | MDL_ALLOCATED_MUST_SUCCEED;
  TargetMdl->MdlFlags |=
      MDL_PARTIAL | (SourceMdl->MdlFlags & (MDL_SOURCE_IS_NONPAGED_POOL | MDL_MAPPED_TO_SYSTEM_VA |
                                            MDL_IO_PAGE_READ | MDL_IO_SPACE));
  TargetMdl->MappedSystemVa =
      TargetMdl->MdlFlags & (MDL_SOURCE_IS_NONPAGED_POOL | MDL_MAPPED_TO_SYSTEM_VA)
          ? static_cast<PCHAR>(SourceMdl->MappedSystemVa) + offset
          : nullptr;
  const ULONG_PTR firstPage =
      (reinterpret_cast<ULONG_PTR>(TargetMdl->StartVa) - (source & ~ULONG_PTR{PAGE_SIZE - 1})) >>
      PAGE_SHIFT;
  for (ULONG page = 0; page < pages; ++page)
    MmGetMdlPfnArray(TargetMdl)[page] = MmGetMdlPfnArray(SourceMdl)[firstPage + page];
}
