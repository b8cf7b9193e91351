// Timers and DPCs: expiry instants, periods, DPC queuing rules and the IRQL they run at.
#include <gmock/gmock.h>

#include <vector>

#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

using ::testing::ElementsAre;

struct DpcLog {
  std::vector<uint64_t> times;
  std::vector<KIRQL> irqls;
  PKTIMER cancelAfter3 = nullptr;
};

void RecordDpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto* log = static_cast<DpcLog*>(context);
  log->times.push_back(KeQueryInterruptTime());
  log->irqls.push_back(KeGetCurrentIrql());
  if (log->cancelAfter3 != nullptr && log->times.size() == 3) KeCancelTimer(log->cancelAfter3);
}

using TimerDpcTest = KernelTest;

TEST_F(TimerDpcTest, PeriodicTimerRunsItsDpcEveryPeriodAtDispatchLevel) {
  KTIMER timer;
  KDPC dpc;
  DpcLog log;
  log.cancelAfter3 = &timer;
  KeInitializeTimerEx(&timer, NotificationTimer);
  KeInitializeDpc(&dpc, RecordDpc, &log);
  LARGE_INTEGER due;
  due.QuadPart = -5 * kMs;
  EXPECT_FALSE(KeSetTimerEx(&timer, due, 2, &dpc));
  ASSERT_TRUE(kernel().RunFor(20 * kMs));
  EXPECT_THAT(log.times, ElementsAre(5 * kMs, 7 * kMs, 9 * kMs));
  EXPECT_THAT(log.irqls, ElementsAre(DISPATCH_LEVEL, DISPATCH_LEVEL, DISPATCH_LEVEL));
  EXPECT_TRUE(KeReadStateTimer(&timer));
  EXPECT_FALSE(KeCancelTimer(&timer)) << "cancelled from its own DPC already";
}

TEST_F(TimerDpcTest, SettingAgainReplacesTheDueTimeAndReportsThatItWasSet) {
  KTIMER timer;
  KeInitializeTimer(&timer);
  LARGE_INTEGER due;
  due.QuadPart = -10 * kMs;
  EXPECT_FALSE(KeSetTimer(&timer, due, nullptr));
  due.QuadPart = -3 * kMs;
  EXPECT_TRUE(KeSetTimer(&timer, due, nullptr));
  uint64_t woke = 0;
  PKTHREAD waiter = kernel().StartThread([&] {
    KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr);
    woke = KeQueryInterruptTime();
  });
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({waiter}));
  EXPECT_EQ(woke, 3 * kMs);
}

TEST_F(TimerDpcTest, SynchronizationTimerWakesOneWaiterPerExpiry) {
  KTIMER timer;
  KeInitializeTimerEx(&timer, SynchronizationTimer);
  LARGE_INTEGER due;
  due.QuadPart = -1 * kMs;
  KeSetTimerEx(&timer, due, 1, nullptr);
  std::vector<uint64_t> wakes;
  auto body = [&] {
    KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr);
    wakes.push_back(KeQueryInterruptTime());
  };
  PKTHREAD a = kernel().StartThread(body), b = kernel().StartThread(body);
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({a, b}));
  KeCancelTimer(&timer);
  EXPECT_THAT(wakes, ElementsAre(1 * kMs, 2 * kMs));
}

struct QueueProbe {
  int runs = 0;
  PVOID lastArgument = nullptr;
};

void CountDpc(PKDPC, PVOID context, PVOID argument1, PVOID) {
  auto* probe = static_cast<QueueProbe*>(context);
  ++probe->runs;
  probe->lastArgument = argument1;
}

TEST_F(TimerDpcTest, DpcQueuesOnceAndRunsAsSoonAsIrqlDropsBelowDispatch) {
  KDPC dpc;
  QueueProbe probe;
  KeInitializeDpc(&dpc, CountDpc, &probe);
  int first = 1, second = 2;
  ASSERT_TRUE(RunInThread([&] {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, &first, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&dpc, &second, nullptr)) << "already queued";
    EXPECT_EQ(probe.runs, 0) << "not while this processor is at DISPATCH_LEVEL";
    KeLowerIrql(old);
    EXPECT_EQ(probe.runs, 1) << "ran when the IRQL dropped";
    EXPECT_EQ(probe.lastArgument, &first);
    // Queued at PASSIVE_LEVEL it runs before the insert returns.
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, &second, nullptr));
    EXPECT_EQ(probe.runs, 2);
    // A removed DPC never runs.
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    EXPECT_TRUE(KeRemoveQueueDpc(&dpc));
    EXPECT_FALSE(KeRemoveQueueDpc(&dpc));
    KeLowerIrql(old);
    EXPECT_EQ(probe.runs, 2);
  }));
}

TEST_F(TimerDpcTest, ThousandWakeUpsPerSimulatedSecondForTenSeconds) {
  // Not a timing assertion: ten simulated seconds of a 1 ms period must stay cheap to run.
  KTIMER timer;
  KeInitializeTimerEx(&timer, SynchronizationTimer);
  LARGE_INTEGER due;
  due.QuadPart = -1 * kMs;
  KeSetTimerEx(&timer, due, 1, nullptr);
  int wakes = 0;
  PKTHREAD waiter = kernel().StartThread([&] {
    for (int i = 0; i < 10000; ++i)
      KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr);
    wakes = 10000;
  });
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({waiter}));
  KeCancelTimer(&timer);
  EXPECT_EQ(wakes, 10000);
  EXPECT_EQ(Now(), 10000 * kMs);
}

TEST_F(TimerDpcTest, TimerResolutionRequestsAreCountedAndGivenBack) {
  EXPECT_EQ(ExSetTimerResolution(10000, TRUE), 10000u);
  EXPECT_EQ(kernel().TimerResolution(), 10000u);
  EXPECT_EQ(kernel().TimerResolutionRequests(), 1u);
  EXPECT_EQ(ExSetTimerResolution(0, FALSE), 156250u);
  EXPECT_EQ(kernel().TimerResolutionRequests(), 0u);
}

}  // namespace
}  // namespace tarnlink::kernel::testing
