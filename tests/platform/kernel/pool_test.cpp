// Pool: per-tag accounting, zeroing, injected failures, and look-aside lists that stop
// touching the pool once warm.
#include <gmock/gmock.h>

#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

constexpr ULONG kUsba = PoolTag("USBA");
constexpr ULONG kOther = PoolTag("PcCr");

using PoolTest = KernelTest;

TEST_F(PoolTest, CountsLiveAndTotalAllocationsPerTag) {
  CheckLeaksAtTearDown();
  PVOID a = ExAllocatePool2(POOL_FLAG_NON_PAGED, 100, kUsba);
  PVOID b = ExAllocatePoolWithTag(NonPagedPoolNx, 28, kUsba);
  PVOID c = ExAllocatePoolWithTag(NonPagedPool, 7, kOther);
  ASSERT_TRUE(a && b && c);
  PoolTagStats usba = kernel().PoolStats(kUsba);
  EXPECT_EQ(usba.liveCount, 2u);
  EXPECT_EQ(usba.liveBytes, 128u);
  ExFreePoolWithTag(a, kUsba);
  ExFreePool(b);
  usba = kernel().PoolStats(kUsba);
  EXPECT_EQ(usba.liveCount, 0u);
  EXPECT_EQ(usba.liveBytes, 0u);
  EXPECT_EQ(usba.totalCount, 2u);
  EXPECT_EQ(usba.totalBytes, 128u);
  EXPECT_EQ(kernel().PoolStats(kOther).liveBytes, 7u);
  ASSERT_EQ(kernel().LivePoolAllocations().size(), 1u);
  EXPECT_EQ(kernel().LivePoolAllocations()[0].tag, kOther);
  ExFreePoolWithTag(c, kOther);
}

TEST_F(PoolTest, Pool2IsZeroedAndTheOlderCallsAreNot) {
  auto* zeroed = static_cast<UCHAR*>(ExAllocatePool2(POOL_FLAG_NON_PAGED, 64, kUsba));
  auto* raw = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kUsba));
  ASSERT_TRUE(zeroed && raw);
  EXPECT_EQ(RtlCompareMemory(zeroed, zeroed + 1, 63), 63u);
  EXPECT_EQ(zeroed[0], 0);
  EXPECT_NE(raw[0], 0) << "uninitialised pool carries a fill pattern";
  ExFreePoolWithTag(zeroed, kUsba);
  ExFreePoolWithTag(raw, kUsba);
}

TEST_F(PoolTest, InjectedFailureHitsTheNthMatchingAllocationOnly) {
  kernel().FailPoolAllocation(2, kUsba);
  PVOID other = ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, kOther);  // does not count
  PVOID first = ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, kUsba);
  PVOID second = ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, kUsba);
  PVOID third = ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, kUsba);
  EXPECT_NE(other, nullptr);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(kernel().PoolStats(kUsba).failedCount, 1u);
  kernel().FailPoolAllocation(1);  // any tag
  EXPECT_EQ(ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, kOther), nullptr);
  ExFreePool(other);
  ExFreePool(first);
  ExFreePool(third);
}

TEST_F(PoolTest, WarmLookasideListServesBlocksWithoutThePool) {
  CheckLeaksAtTearDown();
  NPAGED_LOOKASIDE_LIST list;
  ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 200, kUsba, 4);
  PVOID blocks[4];
  for (PVOID& block : blocks) block = ExAllocateFromNPagedLookasideList(&list);
  for (PVOID block : blocks) ExFreeToNPagedLookasideList(&list, block);
  const uint64_t warm = kernel().PoolStats(kUsba).totalCount;
  for (int period = 0; period < 100; ++period) {
    PVOID a = ExAllocateFromNPagedLookasideList(&list);
    PVOID b = ExAllocateFromNPagedLookasideList(&list);
    ASSERT_TRUE(a && b);
    ExFreeToNPagedLookasideList(&list, b);
    ExFreeToNPagedLookasideList(&list, a);
  }
  EXPECT_EQ(kernel().PoolStats(kUsba).totalCount, warm) << "no pool traffic per period";
  EXPECT_EQ(kernel().PoolStats(kUsba).liveCount, 4u) << "the cache holds its blocks";
  ExDeleteNPagedLookasideList(&list);
}

TEST_F(PoolTest, LookasideExUsesItsCallbacksAndAFailedAllocationShows) {
  CheckLeaksAtTearDown();
  static int allocations = 0, frees = 0;
  LOOKASIDE_LIST_EX list;
  ASSERT_EQ(ExInitializeLookasideListEx(
                &list,
                [](POOL_TYPE type, SIZE_T size, ULONG tag, PLOOKASIDE_LIST_EX) -> PVOID {
                  ++allocations;
                  return ExAllocatePoolWithTag(type, size, tag);
                },
                [](PVOID buffer, PLOOKASIDE_LIST_EX) {
                  ++frees;
                  ExFreePool(buffer);
                },
                NonPagedPoolNx, 0, 48, kUsba, 1),
            STATUS_SUCCESS);
  PVOID a = ExAllocateFromLookasideListEx(&list);
  PVOID b = ExAllocateFromLookasideListEx(&list);
  kernel().FailPoolAllocation(1, kUsba);
  EXPECT_EQ(ExAllocateFromLookasideListEx(&list), nullptr);
  ExFreeToLookasideListEx(&list, a);
  ExFreeToLookasideListEx(&list, b);  // beyond the depth of 1: back to the pool
  EXPECT_EQ(allocations, 3);
  EXPECT_EQ(frees, 1);
  ExDeleteLookasideListEx(&list);
  EXPECT_EQ(frees, 2);
}

TEST_F(PoolTest, LookasideUsedAfterDeleteIsCaught) {
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  EXPECT_FALSE(RunInThread([] {
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 16, kUsba, 0);
    ExDeleteNPagedLookasideList(&list);
    ExAllocateFromNPagedLookasideList(&list);
  }));
}

}  // namespace
}  // namespace tarnlink::kernel::testing
