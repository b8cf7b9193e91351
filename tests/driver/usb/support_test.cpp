// The driver's pool allocations and bounded copy.
#include <gtest/gtest.h>

#include <array>

#include "kernel/host_kernel.h"
#include "support/kernel_test.h"
#include "usb_support.h"

namespace {

using tarnlink::kernel::PoolTag;
using tarnlink::kernel::testing::KernelTest;

class SupportTest : public KernelTest {};

TEST_F(SupportTest, AllocationsAreZeroedTaggedAndGivenBack) {
  CheckLeaksAtTearDown();
  ASSERT_EQ(kDriverPoolTag, PoolTag("USBA"));
  ASSERT_TRUE(RunInThread([&] {
    auto* block = static_cast<UCHAR*>(AllocateDriverPool(300));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
    EXPECT_EQ(kernel().PoolStats(kDriverPoolTag).liveBytes, 300u);
    FreeDriverPool(block);
    FreeDriverPool(nullptr);
    EXPECT_EQ(kernel().PoolStats(kDriverPoolTag).liveCount, 0u);
  }));
}

TEST_F(SupportTest, FailedAllocationIsNull) {
  ASSERT_TRUE(RunInThread([&] {
    kernel().FailPoolAllocation(1, kDriverPoolTag);
    EXPECT_EQ(AllocateDriverPool(16), nullptr);
  }));
}

TEST_F(SupportTest, PoolTypeFollowsWindowsVersion) {
  HostSetWindowsVersion(NTDDI_WIN7);
  EXPECT_EQ(DriverPoolType(), NonPagedPool);
  HostSetWindowsVersion(NTDDI_WIN8);
  EXPECT_EQ(DriverPoolType(), NonPagedPoolNx);
  HostSetWindowsVersion(NTDDI_WIN10);
  EXPECT_EQ(DriverPoolType(), NonPagedPoolNx);
}

TEST_F(SupportTest, BoundedCopyCopiesAllOrNothing) {
  struct Case {
    SIZE_T capacity;
    SIZE_T n;
    bool copied;
  };
  const Case cases[] = {{8, 8, true}, {8, 3, true}, {8, 0, true}, {7, 8, false}, {0, 1, false}};
  const std::array<UCHAR, 8> source = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const Case& c : cases) {
    std::array<UCHAR, 8> destination = {};
    BOOLEAN result = BoundedCopy(destination.data(), c.capacity, source.data(), c.n);
    EXPECT_EQ(result != FALSE, c.copied) << c.capacity << "/" << c.n;
    for (SIZE_T i = 0; i < destination.size(); ++i) {
      const UCHAR expected = c.copied && i < c.n ? source[i] : 0;
      EXPECT_EQ(destination[i], expected) << c.capacity << "/" << c.n << " byte " << i;
    }
  }
  EXPECT_FALSE(BoundedCopy(nullptr, 8, source.data(), 4));
}

}  // namespace
