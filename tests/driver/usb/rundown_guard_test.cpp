// RundownGuard: admission while open, and a close that waits for the users inside.
#include <gtest/gtest.h>

#include <optional>

#include "kernel/host_kernel.h"
#include "rundown_guard.h"
#include "support/kernel_test.h"
#include "usb_trace_points.h"

namespace {

using tarnlink::kernel::testing::KernelTest;

class RundownGuardTest : public KernelTest {};

TEST_F(RundownGuardTest, AdmitsOnlyWhileOpen) {
  ASSERT_TRUE(RunInThread([&] {
    RundownGuard closedAtBirth;
    EXPECT_FALSE(closedAtBirth.Acquire());
    closedAtBirth.Reopen();
    EXPECT_TRUE(closedAtBirth.Acquire());
    closedAtBirth.Release();

    RundownGuard guard(TRUE);
    EXPECT_TRUE(guard.Acquire());
    EXPECT_TRUE(guard.Acquire());
    EXPECT_EQ(guard.Users(), 2);
    guard.Release();
    guard.Release();
    guard.Close();  // nobody inside: returns at once
    EXPECT_FALSE(guard.Acquire());
    EXPECT_EQ(guard.Users(), 0);
    guard.Reopen();
    EXPECT_TRUE(guard.Acquire());
    guard.Release();
  }));
}

TEST_F(RundownGuardTest, AcquireAndReleaseWorkAtDispatchLevel) {
  ASSERT_TRUE(RunInThread([&] {
    RundownGuard guard(TRUE);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_TRUE(guard.Acquire());
    guard.Release();
    KeLowerIrql(old);
  }));
}

TEST_F(RundownGuardTest, CloseWaitsUntilTheLastUserLeaves) {
  std::optional<RundownGuard> guard;
  uint64_t closedAt = 0;
  uint64_t releasedAt = 0;
  bool lateAcquire = true;
  ASSERT_TRUE(RunInThread([&] { guard.emplace(TRUE); }));
  PKTHREAD user = kernel().StartThread(
      [&] {
        ASSERT_TRUE(guard->Acquire());
        LARGE_INTEGER delay;
        delay.QuadPart = -20 * static_cast<LONGLONG>(kMs);
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
        // Already closing: newcomers are turned away while this user is still inside.
        lateAcquire = guard->Acquire();
        releasedAt = Now();
        guard->Release();
      },
      "user");
  PKTHREAD closer = kernel().StartThread(
      [&] {
        LARGE_INTEGER delay;
        delay.QuadPart = -5 * static_cast<LONGLONG>(kMs);
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
        guard->Close();
        closedAt = Now();
      },
      "closer");
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({user, closer}));
  EXPECT_FALSE(lateAcquire);
  EXPECT_GE(closedAt, releasedAt);
  EXPECT_GE(closedAt, 20 * kMs);
}

TEST_F(RundownGuardTest, UnbalancedReleaseDoesNotOpenTheWayForClose) {
  ASSERT_TRUE(RunInThread([&] {
    RundownGuard guard(TRUE);
    guard.Release();
    EXPECT_EQ(guard.Users(), 0);
    EXPECT_TRUE(kernel().HasTracePoint(kTraceRundownUnbalancedRelease));
    EXPECT_TRUE(guard.Acquire());
    EXPECT_EQ(guard.Users(), 1);
    guard.Release();
  }));
}

}  // namespace
