// MDLs: pool buffers described by their pages, made addressable through non-paged pool or
// locked and mapped pages, partial MDLs, IRP chains, mappings that cannot be had, and the
// misuses the verifier stops.
#include <gmock/gmock.h>

#include <functional>

#include "kernel/bugcheck.h"
#include "kernel/machine.h"
#include "kernel/ps_process.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

constexpr ULONG kMdlTag = PoolTag("Mdl ");
constexpr ULONG kTag = PoolTag("Test");
constexpr ULONG kPriority = NormalPagePriority | MdlMappingNoExecute;

// Pool pages to place a buffer in at a chosen offset from a page boundary.
class PoolPages {
 public:
  explicit PoolPages(ULONG pages, POOL_FLAGS kind = POOL_FLAG_NON_PAGED)
      : block_(ExAllocatePool2(kind, (pages + 1) * PAGE_SIZE, kTag)) {}
  ~PoolPages() { ExFreePoolWithTag(block_, kTag); }
  PUCHAR At(SIZE_T offset) const {
    return static_cast<PUCHAR>(PAGE_ALIGN(static_cast<PUCHAR>(block_) + PAGE_SIZE - 1)) + offset;
  }

 private:
  PVOID block_;
};

CSHORT Flags(PMDL mdl) {
  return mdl->MdlFlags;
}

void ExpectFramesOf(PMDL mdl, PVOID va, ULONG pages) {
  const PFN_NUMBER first = reinterpret_cast<ULONG_PTR>(PAGE_ALIGN(va)) >> PAGE_SHIFT;
  for (ULONG page = 0; page < pages; ++page)
    EXPECT_EQ(MmGetMdlPfnArray(mdl)[page], first + page) << "page " << page;
}

struct Geometry {
  const char* name;
  SIZE_T offset;  // from a page boundary
  ULONG length;
  ULONG byteOffset;
  ULONG pages;
};

void PrintTo(const Geometry& geometry, std::ostream* out) {
  *out << geometry.name;
}

const Geometry kGeometries[] = {
    {"WholePage", 0, PAGE_SIZE, 0, 1},
    {"InsideOnePage", 100, 200, 100, 1},
    {"EndsOnABoundary", 96, PAGE_SIZE - 96, 96, 1},
    {"StraddlesABoundary", PAGE_SIZE - 8, 16, PAGE_SIZE - 8, 2},
    {"UnalignedOverThreePages", PAGE_SIZE + 1, 2 * PAGE_SIZE, 1, 3},
};

class MdlGeometryTest : public KernelTest, public ::testing::WithParamInterface<Geometry> {
 protected:
  // An MDL for the geometry's buffer, checked for what it describes.
  PMDL Describe(const PoolPages& pages) {
    const Geometry& g = GetParam();
    PUCHAR va = pages.At(g.offset);
    PMDL mdl = IoAllocateMdl(va, g.length, FALSE, FALSE, nullptr);
    EXPECT_NE(mdl, nullptr);
    if (mdl == nullptr) return nullptr;
    const SIZE_T size = sizeof(MDL) + g.pages * sizeof(PFN_NUMBER);
    EXPECT_EQ(MmGetMdlVirtualAddress(mdl), va);
    EXPECT_EQ(mdl->StartVa, PAGE_ALIGN(va));
    EXPECT_EQ(MmGetMdlByteOffset(mdl), g.byteOffset);
    EXPECT_EQ(MmGetMdlByteCount(mdl), g.length);
    EXPECT_EQ(ADDRESS_AND_SIZE_TO_SPAN_PAGES(va, g.length), g.pages);
    EXPECT_EQ(MmSizeOfMdl(va, g.length), size);
    EXPECT_EQ(static_cast<SIZE_T>(mdl->Size), size);
    EXPECT_EQ(kernel().PoolStats(kMdlTag).liveBytes, size) << "MDLs are pool of their own tag";
    return mdl;
  }
};

TEST_P(MdlGeometryTest, NonPagedPoolIsAddressedWhereItLies) {
  CheckLeaksAtTearDown();
  PoolPages pages(4);
  PMDL mdl = Describe(pages);
  ASSERT_NE(mdl, nullptr);
  MmBuildMdlForNonPagedPool(mdl);
  EXPECT_EQ(Flags(mdl), MDL_SOURCE_IS_NONPAGED_POOL);
  ExpectFramesOf(mdl, MmGetMdlVirtualAddress(mdl), GetParam().pages);
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(mdl, kPriority), MmGetMdlVirtualAddress(mdl));
  EXPECT_EQ(Flags(mdl), MDL_SOURCE_IS_NONPAGED_POOL) << "no mapping was made";
  IoFreeMdl(mdl);
}

TEST_P(MdlGeometryTest, LockedPagesMapUnmapAndUnlock) {
  CheckLeaksAtTearDown();
  PoolPages pages(4);
  PMDL mdl = Describe(pages);
  ASSERT_NE(mdl, nullptr);
  PVOID va = MmGetMdlVirtualAddress(mdl);
  MmProbeAndLockPages(mdl, KernelMode, IoWriteAccess);
  EXPECT_EQ(Flags(mdl), MDL_PAGES_LOCKED | MDL_WRITE_OPERATION);
  ExpectFramesOf(mdl, va, GetParam().pages);

  PVOID mapped = MmGetSystemAddressForMdlSafe(mdl, kPriority);
  EXPECT_EQ(mapped, va);
  EXPECT_EQ(Flags(mdl) & MDL_MAPPED_TO_SYSTEM_VA, MDL_MAPPED_TO_SYSTEM_VA);
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(mdl, kPriority), mapped) << "the mapping is reused";
  MmUnmapLockedPages(mapped, mdl);
  EXPECT_EQ(Flags(mdl), MDL_PAGES_LOCKED | MDL_WRITE_OPERATION);

  EXPECT_EQ(MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE, kPriority), va);
  MmUnlockPages(mdl);  // releases the mapping too
  EXPECT_EQ(Flags(mdl) & (MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA), 0);
  IoFreeMdl(mdl);
}

INSTANTIATE_TEST_SUITE_P(Buffers, MdlGeometryTest, ::testing::ValuesIn(kGeometries),
                         [](const auto& param) { return std::string(param.param.name); });

// A partial MDL over pages 1..3 of a four-page source, by how the source holds its pages.
struct PartialCase {
  const char* name;
  std::function<void(PMDL)> prepareSource;
  CSHORT inherited;  // flags the part takes from its source
  bool ownMapping;   // the part's address comes from a mapping of its own
};

void PrintTo(const PartialCase& partial, std::ostream* out) {
  *out << partial.name;
}

const PartialCase kPartials[] = {
    {"NonPagedPoolSource", [](PMDL source) { MmBuildMdlForNonPagedPool(source); },
     MDL_SOURCE_IS_NONPAGED_POOL, false},
    {"MappedSource",
     [](PMDL source) {
       MmProbeAndLockPages(source, KernelMode, IoReadAccess);
       MmGetSystemAddressForMdlSafe(source, kPriority);
     },
     MDL_MAPPED_TO_SYSTEM_VA, false},
    {"LockedSource", [](PMDL source) { MmProbeAndLockPages(source, KernelMode, IoReadAccess); }, 0,
     true},
};

class PartialMdlTest : public KernelTest, public ::testing::WithParamInterface<PartialCase> {};

TEST_P(PartialMdlTest, DescribesTheRestOfItsSourceAndItsAddress) {
  CheckLeaksAtTearDown();
  const PartialCase& c = GetParam();
  PoolPages pages(4);
  PUCHAR va = pages.At(100);
  const ULONG length = 3 * PAGE_SIZE;
  PMDL source = IoAllocateMdl(va, length, FALSE, FALSE, nullptr);
  PMDL part = IoAllocateMdl(va, length, FALSE, FALSE, nullptr);
  ASSERT_TRUE(source && part);
  c.prepareSource(source);

  PUCHAR start = va + PAGE_SIZE + 50;
  IoBuildPartialMdl(source, part, start, 0);  // 0: up to the end of the source
  EXPECT_EQ(MmGetMdlVirtualAddress(part), start);
  EXPECT_EQ(MmGetMdlByteOffset(part), 150u);
  EXPECT_EQ(MmGetMdlByteCount(part), 2 * PAGE_SIZE - 50);
  EXPECT_EQ(Flags(part), MDL_PARTIAL | c.inherited);
  for (ULONG page = 0; page < 3; ++page)
    EXPECT_EQ(MmGetMdlPfnArray(part)[page], MmGetMdlPfnArray(source)[page + 1]) << "page " << page;

  EXPECT_EQ(MmGetSystemAddressForMdlSafe(part, kPriority), start);
  const CSHORT own = MDL_MAPPED_TO_SYSTEM_VA | MDL_PARTIAL_HAS_BEEN_MAPPED;
  EXPECT_EQ(Flags(part) & own, c.ownMapping ? own : (c.inherited & own));
  IoFreeMdl(part);  // releases a mapping of its own
  EXPECT_EQ(Flags(source) & ~MDL_PAGES_LOCKED, c.inherited) << "the source keeps its state";
  if (Flags(source) & MDL_PAGES_LOCKED) MmUnlockPages(source);
  IoFreeMdl(source);
}

INSTANTIATE_TEST_SUITE_P(Sources, PartialMdlTest, ::testing::ValuesIn(kPartials),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(KernelTest, MdlsChainOnTheirIrpAndAFailedAllocationLeavesTheChain) {
  CheckLeaksAtTearDown();
  PoolPages pages(1);
  PIRP irp = IoAllocateIrp(1, FALSE);
  ASSERT_NE(irp, nullptr);
  PMDL first = IoAllocateMdl(pages.At(0), 64, FALSE, FALSE, irp);
  PMDL second = IoAllocateMdl(pages.At(64), 64, TRUE, FALSE, irp);
  PMDL third = IoAllocateMdl(pages.At(128), 64, TRUE, FALSE, irp);
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(irp->MdlAddress, first);
  EXPECT_EQ(first->Next, second);
  EXPECT_EQ(second->Next, third);
  EXPECT_EQ(third->Next, nullptr);
  EXPECT_EQ(kernel().PoolStats(kMdlTag).liveCount, 3u);

  kernel().FailPoolAllocation(1, kMdlTag);
  EXPECT_EQ(IoAllocateMdl(pages.At(0), 64, FALSE, FALSE, irp), nullptr);
  EXPECT_EQ(irp->MdlAddress, first);
  EXPECT_EQ(kernel().PoolStats(kMdlTag).failedCount, 1u);

  for (PMDL mdl = irp->MdlAddress, next; mdl != nullptr; mdl = next) {
    next = mdl->Next;
    IoFreeMdl(mdl);
  }
  irp->MdlAddress = nullptr;
  IoFreeIrp(irp);
}

TEST_F(KernelTest, AMappingThatCannotBeHadGivesNoAddress) {
  CheckLeaksAtTearDown();
  PoolPages pages(1);
  PMDL pool = IoAllocateMdl(pages.At(0), 64, FALSE, FALSE, nullptr);
  PMDL locked = IoAllocateMdl(pages.At(64), 64, FALSE, FALSE, nullptr);
  ASSERT_TRUE(pool && locked);
  MmBuildMdlForNonPagedPool(pool);
  MmProbeAndLockPages(locked, KernelMode, IoReadAccess);

  kernel().FailMdlMapping(1);
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(pool, kPriority), pages.At(0))
      << "non-paged pool needs no mapping, so the failure waits for one";
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(locked, kPriority), nullptr);
  EXPECT_EQ(Flags(locked) & MDL_MAPPED_TO_SYSTEM_VA, 0);
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(locked, kPriority), pages.At(64)) << "one failure only";
  kernel().FailMdlMapping(1);
  EXPECT_EQ(MmMapLockedPagesSpecifyCache(pool, UserMode, MmCached, nullptr, FALSE, kPriority),
            nullptr)
      << "nor can a process always have one";

  MmUnlockPages(locked);
  IoFreeMdl(locked);
  IoFreeMdl(pool);
}

// A driver shares pool pages with a process: the process sees the same bytes at an address of
// its own, each mapping is another address, and unmapping takes only that mapping away.
TEST_F(KernelTest, PoolPagesMappedIntoAProcessAreTheSameBytesElsewhere) {
  CheckLeaksAtTearDown();
  RunAsUser([&] {
    const ULONG bytes = 2 * PAGE_SIZE;
    auto* kernelView = static_cast<PUCHAR>(ExAllocatePool2(POOL_FLAG_NON_PAGED, bytes, kTag));
    PMDL mdl = IoAllocateMdl(kernelView, bytes, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(mdl);
    const ULONG priority = HighPagePriority | MdlMappingNoExecute;
    auto* first = static_cast<PUCHAR>(
        MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE, priority));
    auto* second = static_cast<PUCHAR>(
        MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE, priority));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, kernelView);
    EXPECT_NE(first, second);
    kernelView[bytes - 1] = 0x5A;
    first[10] = 0xC3;
    EXPECT_EQ(first[bytes - 1], 0x5A);
    EXPECT_EQ(kernelView[10], 0xC3);
    EXPECT_EQ(second[10], 0xC3);

    const auto mappings = kernel().machine().userMappings().Of(PsGetCurrentProcess());
    ASSERT_EQ(mappings.size(), 2u);
    EXPECT_EQ(mappings[0].cacheType, static_cast<ULONG>(MmCached));
    EXPECT_EQ(mappings[0].priority, priority);

    MmUnmapLockedPages(first, mdl);
    EXPECT_EQ(second[10], 0xC3) << "the other mapping stays";
    MmUnmapLockedPages(second, mdl);
    EXPECT_TRUE(kernel().machine().userMappings().Of(PsGetCurrentProcess()).empty());
    IoFreeMdl(mdl);
    ExFreePoolWithTag(kernelView, kTag);
  });
}

// ---- Misuses ----

PVOID Pool(SIZE_T bytes, POOL_FLAGS kind = POOL_FLAG_NON_PAGED) {
  return ExAllocatePool2(kind, bytes, kTag);
}

PMDL LockedMdl(ULONG bytes = 64) {
  PMDL mdl = IoAllocateMdl(Pool(bytes), bytes, FALSE, FALSE, nullptr);
  MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
  return mdl;
}

PMDL NonPagedMdl(ULONG bytes = 64) {
  PMDL mdl = IoAllocateMdl(Pool(bytes), bytes, FALSE, FALSE, nullptr);
  MmBuildMdlForNonPagedPool(mdl);
  return mdl;
}

struct Misuse {
  const char* name;
  ULONG code;
  ULONG_PTR subcode;   // first parameter of a verifier stop; 0 where there is none to check
  const char* reason;  // part of the report's reason
  std::function<void()> body;
};

void PrintTo(const Misuse& misuse, std::ostream* out) {
  *out << misuse.name;
}

constexpr ULONG kVerifier = DRIVER_VERIFIER_DETECTED_VIOLATION;

const Misuse kMisuses[] = {
    {"FreedWithPagesLocked", kVerifier, 0x1A02, "pages locked", [] { IoFreeMdl(LockedMdl()); }},
    {"FreedWhileMapped", kVerifier, 0x1A03, "while mapped",
     [] {
       PMDL mdl = LockedMdl();
       MmGetSystemAddressForMdlSafe(mdl, kPriority);
       IoFreeMdl(mdl);
     }},
    {"UnlockOfPagesNotLocked", kVerifier, 0x7C, "not locked",
     [] { MmUnlockPages(IoAllocateMdl(Pool(64), 64, FALSE, FALSE, nullptr)); }},
    {"UnlockOfNonPagedPool", kVerifier, 0x7D, "built for non-paged pool",
     [] { MmUnlockPages(NonPagedMdl()); }},
    {"UnmapOfWhatIsNotMapped", kVerifier, 0x1A04, "has not mapped",
     [] {
       PMDL mdl = LockedMdl();
       MmUnmapLockedPages(MmGetMdlVirtualAddress(mdl), mdl);
     }},
    {"UnmapOfTheSourcesMappingThroughAPart", kVerifier, 0x1A04, "has not mapped",
     [] {
       PMDL source = LockedMdl(256);
       MmGetSystemAddressForMdlSafe(source, kPriority);
       PMDL part = IoAllocateMdl(MmGetMdlVirtualAddress(source), 256, FALSE, FALSE, nullptr);
       IoBuildPartialMdl(source, part, MmGetMdlVirtualAddress(source), 128);
       MmUnmapLockedPages(part->MappedSystemVa, part);
     }},
    {"NonPagedPoolMdlOverStaticMemory", kVerifier, 0x1A06, "not non-paged pool",
     [] {
       static UCHAR image[64];
       MmBuildMdlForNonPagedPool(IoAllocateMdl(image, sizeof image, FALSE, FALSE, nullptr));
     }},
    {"NonPagedPoolMdlOverPagedPool", kVerifier, 0x1A06, "not non-paged pool",
     [] {
       MmBuildMdlForNonPagedPool(
           IoAllocateMdl(Pool(64, POOL_FLAG_PAGED), 64, FALSE, FALSE, nullptr));
     }},
    {"NonPagedPoolMdlPastItsBlock", kVerifier, 0x1A06, "not non-paged pool",
     [] { MmBuildMdlForNonPagedPool(IoAllocateMdl(Pool(64), 128, FALSE, FALSE, nullptr)); }},
    {"MdlForZeroBytes", kVerifier, 0x1A00, "zero bytes",
     [] { IoAllocateMdl(Pool(64), 0, FALSE, FALSE, nullptr); }},
    {"SpanPastTheEndOfTheAddressSpace", kVerifier, 0x1A01, "end of the address space",
     [] {
       IoAllocateMdl(reinterpret_cast<PVOID>(~ULONG_PTR{0} - 100), PAGE_SIZE, FALSE, FALSE,
                     nullptr);
     }},
    {"PagesLockedTwice", kVerifier, 0x1A05, "held already",
     [] { MmProbeAndLockPages(LockedMdl(), KernelMode, IoReadAccess); }},
    {"MappedWithoutLocking", kVerifier, 0x85, "without being locked",
     [] {
       MmGetSystemAddressForMdlSafe(IoAllocateMdl(Pool(64), 64, FALSE, FALSE, nullptr), kPriority);
     }},
    {"NonPagedPoolMappedAgain", kVerifier, 0x1A07, "has a system address",
     [] { MmMapLockedPagesSpecifyCache(NonPagedMdl(), KernelMode, MmCached, nullptr, FALSE, 0); }},
    {"MappingThatBugChecksOnFailure", kVerifier, 0x82, "bug check when it fails",
     [] { MmMapLockedPagesSpecifyCache(LockedMdl(), KernelMode, MmCached, nullptr, TRUE, 0); }},
    {"ProbeAboveDispatch", kVerifier, 0x70, "above DISPATCH_LEVEL",
     [] {
       PMDL mdl = IoAllocateMdl(Pool(64), 64, FALSE, FALSE, nullptr);
       KIRQL old;
       KeRaiseIrql(CLOCK_LEVEL, &old);
       MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
     }},
    {"KernelMappingAboveDispatch", kVerifier, 0x76, "above DISPATCH_LEVEL",
     [] {
       PMDL mdl = LockedMdl();
       KIRQL old;
       KeRaiseIrql(CLOCK_LEVEL, &old);
       MmGetSystemAddressForMdlSafe(mdl, kPriority);
     }},
    {"PartialOutsideItsSource", kVerifier, 0x1A08, "past the end of its source",
     [] {
       PMDL source = NonPagedMdl(256);
       PMDL part = IoAllocateMdl(MmGetMdlVirtualAddress(source), 256, FALSE, FALSE, nullptr);
       IoBuildPartialMdl(source, part, static_cast<PUCHAR>(MmGetMdlVirtualAddress(source)) + 128,
                         256);
     }},
    {"PartialIntoTooSmallATarget", 0x40 /* TARGET_MDL_TOO_SMALL */, 0, "too small a target",
     [] {
       PUCHAR buffer = static_cast<PUCHAR>(
           PAGE_ALIGN(static_cast<PUCHAR>(Pool(4 * PAGE_SIZE)) + PAGE_SIZE - 1));
       PMDL source = IoAllocateMdl(buffer, 3 * PAGE_SIZE, FALSE, FALSE, nullptr);
       MmBuildMdlForNonPagedPool(source);
       PMDL part = IoAllocateMdl(buffer, 64, FALSE, FALSE, nullptr);
       IoBuildPartialMdl(source, part, buffer, 0);
     }},
    {"UserMappingOfLessThanWholePoolPages", kVerifier, 0x1A09, "not whole pages",
     [] { MmMapLockedPagesSpecifyCache(NonPagedMdl(), UserMode, MmCached, nullptr, FALSE, 0); }},
    {"FreedWhileMappedIntoAProcess", kVerifier, 0x1A0B, "mapped into a process",
     [] {
       PMDL mdl = NonPagedMdl(PAGE_SIZE);
       MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE, 0);
       IoFreeMdl(mdl);
     }},
    {"MappingIntoAProcessLeftBehind", kVerifier, 0x1A0A, "outlived the process",
     [] {
       PEPROCESS process = nullptr;
       PsHostCreateProcess("client.exe", &process);
       KAPC_STATE state;
       KeStackAttachProcess(process, &state);
       MmMapLockedPagesSpecifyCache(NonPagedMdl(PAGE_SIZE), UserMode, MmCached, nullptr, FALSE, 0);
       KeUnstackDetachProcess(&state);
       PsHostTerminateProcess(process);
     }},
    {"InjectedLockFailureRaisesUnhandled", KMODE_EXCEPTION_NOT_HANDLED,
     static_cast<ULONG>(STATUS_ACCESS_VIOLATION), "cannot be locked",
     [] {
       HostKernel::Current()->FailPageLocking(1);
       LockedMdl();
     }},
};

class MdlMisuseTest : public KernelTest, public ::testing::WithParamInterface<Misuse> {};

TEST_P(MdlMisuseTest, StopsTheMachine) {
  const Misuse& misuse = GetParam();
  ExpectBugCheck(misuse.code);
  EXPECT_FALSE(RunInThread(misuse.body, "offender"));
  const StopInfo* stop = kernel().Stop();
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->code, misuse.code);
  if (misuse.subcode != 0) {
    EXPECT_EQ(stop->parameters[0], misuse.subcode);
  }
  EXPECT_THAT(stop->reason, ::testing::HasSubstr(misuse.reason));
}

INSTANTIATE_TEST_SUITE_P(Misuses, MdlMisuseTest, ::testing::ValuesIn(kMisuses),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tarnlink::kernel::testing
