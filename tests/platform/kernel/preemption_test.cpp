// Seeded preemption: a seed replays its interleaving exactly, seeds interleave differently,
// races that running each thread until it blocks would hide show up, and the kernel's own
// guarantees (spin locks, flushing DPCs) hold under every seed.
#include <gmock/gmock.h>

#include <set>
#include <string>
#include <vector>

#include "kernel_mode.h"
#include "kernel/host_kernel.h"
#include "kernel/preemption_hold.h"

namespace tarnlink::kernel::testing {
namespace {

constexpr uint64_t kSeeds = 12;

HostKernel::Options Seeded(uint64_t seed) {
  HostKernel::Options options;
  options.scheduleSeed = seed;
  return options;
}

// Three threads record their steps under a spin lock; returns the order the steps happened in.
std::string InterleavedSteps(uint64_t seed) {
  HostKernel kernel(Seeded(seed));
  std::string order;
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  std::vector<PKTHREAD> threads;
  for (const char name : {'a', 'b', 'c'}) {
    threads.push_back(kernel.StartThread([&, name] {
      for (int step = 0; step < 4; ++step) {
        KIRQL irql;
        KeAcquireSpinLock(&lock, &irql);
        order += name;
        KeReleaseSpinLock(&lock, irql);
      }
    }));
  }
  EXPECT_TRUE(kernel.RunUntilThreadsEnd(threads));
  return order;
}

TEST(SchedulePreemption, ASeedReplaysItsInterleavingAndSeedsDiffer) {
  std::set<std::string> orders;
  for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
    const std::string order = InterleavedSteps(seed);
    EXPECT_EQ(InterleavedSteps(seed), order) << "seed " << seed;
    orders.insert(order);
  }
  EXPECT_GT(orders.size(), kSeeds / 2);
}

// Two threads each add 10 to a counter by reading it and writing it back: an update is lost
// only when the other thread steps in between.
// With `held`, each update is made under a preemption hold, as host-side platform state is.
LONG CounterAfterUnlockedUpdates(uint64_t seed, bool held = false) {
  HostKernel kernel(Seeded(seed));
  LONG counter = 0;
  auto add = [&] {
    for (int i = 0; i < 10; ++i) {
      if (held) HoldPreemption();
      const LONG seen = ReadAcquire(&counter);
      WriteRelease(&counter, seen + 1);
      if (held) ReleasePreemption();
    }
  };
  PKTHREAD first = kernel.StartThread(add);
  PKTHREAD second = kernel.StartThread(add);
  EXPECT_TRUE(kernel.RunUntilThreadsEnd({first, second}));
  return counter;
}

TEST(SchedulePreemption, FindsALostUpdateThatRunningUntilBlockedHides) {
  EXPECT_EQ(CounterAfterUnlockedUpdates(0), 20);
  uint64_t seedsThatLoseOne = 0;
  for (uint64_t seed = 1; seed <= kSeeds; ++seed)
    if (CounterAfterUnlockedUpdates(seed) < 20) ++seedsThatLoseOne;
  EXPECT_GT(seedsThatLoseOne, 0u);
}

TEST(SchedulePreemption, NoUpdateIsLostUnderAPreemptionHold) {
  for (uint64_t seed = 1; seed <= kSeeds; ++seed)
    EXPECT_EQ(CounterAfterUnlockedUpdates(seed, true), 20) << "seed " << seed;
}

// Threads and a DPC share a spin lock and count themselves inside it. A preempted holder is
// spun on (no verifier stop), only one is ever inside, and once KeFlushQueuedDpcs returns no
// DPC is queued or half run.
struct Shared {
  KSPIN_LOCK lock;
  KDPC dpc;
  LONG inside = 0;
  LONG mostInside = 0;
  LONG dpcRunning = 0;
  int flushedWithDpcPending = 0;

  void Enter() {
    const LONG now = InterlockedIncrement(&inside);
    if (now > mostInside) mostInside = now;
    InterlockedDecrement(&inside);
  }
};

TEST(SchedulePreemption, SpinLocksAndDpcFlushesHoldUnderEverySeed) {
  for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
    HostKernel kernel(Seeded(seed));
    Shared shared;
    KeInitializeSpinLock(&shared.lock);
    KeInitializeDpc(
        &shared.dpc,
        [](PKDPC, PVOID context, PVOID, PVOID) {
          auto* s = static_cast<Shared*>(context);
          InterlockedIncrement(&s->dpcRunning);
          KeAcquireSpinLockAtDpcLevel(&s->lock);
          s->Enter();
          KeReleaseSpinLockFromDpcLevel(&s->lock);
          InterlockedDecrement(&s->dpcRunning);
        },
        &shared);
    std::vector<PKTHREAD> threads;
    for (int t = 0; t < 2; ++t) {
      threads.push_back(kernel.StartThread([&] {
        for (int round = 0; round < 5; ++round) {
          KIRQL irql;
          KeAcquireSpinLock(&shared.lock, &irql);
          shared.Enter();
          KeReleaseSpinLock(&shared.lock, irql);
          KeInsertQueueDpc(&shared.dpc, nullptr, nullptr);
          KeFlushQueuedDpcs();
          if (shared.dpcRunning != 0 || shared.dpc.DpcData != nullptr)
            ++shared.flushedWithDpcPending;
        }
      }));
    }
    ASSERT_TRUE(kernel.RunUntilThreadsEnd(threads))
        << "seed " << seed << "\n"
        << (kernel.Stop() != nullptr ? kernel.Stop()->report : "");
    EXPECT_EQ(shared.mostInside, 1) << "seed " << seed;
    EXPECT_EQ(shared.flushedWithDpcPending, 0) << "seed " << seed;
  }
}

TEST(SchedulePreemption, AStopReportNamesTheSeed) {
  HostKernel kernel(Seeded(42));
  kernel.ExpectBugCheck(0x1234);
  PKTHREAD thread = kernel.StartThread([] { KeBugCheck(0x1234); });
  EXPECT_FALSE(kernel.RunUntilThreadsEnd({thread}));
  ASSERT_NE(kernel.Stop(), nullptr);
  EXPECT_THAT(kernel.Stop()->report, ::testing::HasSubstr("schedule seed: 42"));
}

}  // namespace
}  // namespace tarnlink::kernel::testing
