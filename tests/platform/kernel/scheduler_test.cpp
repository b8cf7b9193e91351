// The scheduler: deadlock reports, deterministic order and instants, priorities, thread ends.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

void Sleep100ns(LONGLONG units) {
  LARGE_INTEGER t;
  t.QuadPart = -units;
  KeDelayExecutionThread(KernelMode, FALSE, &t);
}

using SchedulerTest = KernelTest;

TEST_F(SchedulerTest, EveryThreadWaitingWithNothingDueIsAReportedDeadlock) {
  ExpectDeadlock();
  KEVENT first, second;
  KeInitializeEvent(&first, NotificationEvent, FALSE);
  KeInitializeEvent(&second, NotificationEvent, FALSE);
  PKTHREAD a = kernel().StartThread(
      [&] {
        Sleep100ns(5000);
        KeWaitForSingleObject(&first, Executive, KernelMode, FALSE, nullptr);
      },
      "alpha");
  PKTHREAD b = kernel().StartThread(
      [&] { KeWaitForSingleObject(&second, Executive, KernelMode, FALSE, nullptr); }, "beta");
  EXPECT_FALSE(kernel().RunUntilThreadsEnd({a, b}));
  const StopInfo* stop = kernel().Stop();
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->kind, StopInfo::Kind::Deadlock);
  EXPECT_EQ(stop->time, 5000u) << "time ran to the last deadline first";
  EXPECT_THAT(stop->report, HasSubstr("'alpha': waiting for notification event"));
  EXPECT_THAT(stop->report, HasSubstr("'beta': waiting for notification event"));
  EXPECT_THAT(stop->report, HasSubstr("'host': driving the machine"));
}

TEST_F(SchedulerTest, DeadlockReportNamesTheOwnerOfAWaitedMutex) {
  ExpectDeadlock();
  KMUTEX mutex;
  KEVENT never;
  KeInitializeMutex(&mutex, 0);
  KeInitializeEvent(&never, NotificationEvent, FALSE);
  PKTHREAD owner = kernel().StartThread(
      [&] {
        KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
        KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
      },
      "owner");
  PKTHREAD waiter = kernel().StartThread(
      [&] { KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr); }, "waiter");
  EXPECT_FALSE(kernel().RunUntilThreadsEnd({owner, waiter}));
  EXPECT_THAT(kernel().Stop()->report, HasSubstr("'waiter': waiting for mutex"));
  EXPECT_THAT(kernel().Stop()->report, HasSubstr("owned by owner"));
}

// A scenario with threads, a periodic timer DPC and events; returns what happened when.
std::vector<std::string> RunScenario(HostKernel& kernel) {
  static std::vector<std::string>* log;
  std::vector<std::string> events;
  log = &events;
  auto note = [](const char* what) {
    log->push_back(std::string(what) + "@" + std::to_string(KeQueryInterruptTime()));
  };
  KEVENT go;
  KeInitializeEvent(&go, SynchronizationEvent, FALSE);
  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(
      &dpc,
      [](PKDPC, PVOID context, PVOID, PVOID) {
        log->push_back("dpc@" + std::to_string(KeQueryInterruptTime()));
        KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
      },
      &go);
  LARGE_INTEGER due;
  due.QuadPart = -7000;
  KeSetTimerEx(&timer, due, 1, &dpc);
  std::vector<PKTHREAD> threads;
  for (int i = 0; i < 3; ++i) {
    threads.push_back(kernel.StartThread([&, i] {
      for (int round = 0; round < 3; ++round) {
        KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, nullptr);
        note(i == 0 ? "t0" : i == 1 ? "t1" : "t2");
        Sleep100ns(1000 * (i + 1));
      }
    }));
  }
  kernel.RunUntilThreadsEnd(threads);
  KeCancelTimer(&timer);
  return events;
}

TEST(SchedulerDeterminism, SameScenarioGivesTheSameOrderAndInstants) {
  std::vector<std::string> first, second;
  {
    HostKernel kernel;
    first = RunScenario(kernel);
  }
  {
    HostKernel kernel;
    second = RunScenario(kernel);
  }
  EXPECT_EQ(first.size(), 9u + 9u);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.front(), "dpc@7000");
}

TEST_F(SchedulerTest, ReadyThreadsRunByPriorityThenInOrderOfReadiness) {
  std::vector<int> order;
  std::vector<PKTHREAD> threads;
  threads.push_back(kernel().StartThread([&] { order.push_back(1); }, "low", 8));
  threads.push_back(kernel().StartThread([&] { order.push_back(2); }, "high", 16));
  threads.push_back(kernel().StartThread([&] { order.push_back(3); }, "low too", 8));
  PKTHREAD raised = kernel().StartThread([&] { order.push_back(4); }, "raised", 8);
  threads.push_back(raised);
  KeSetPriorityThread(raised, 20);
  ASSERT_TRUE(kernel().RunUntilThreadsEnd(threads));
  EXPECT_THAT(order, ElementsAre(4, 2, 1, 3));
}

struct ExitProbe {
  bool afterTerminate = false;
  bool unwound = false;
};

// Records that the stack frame holding it was unwound.
struct UnwindWitness {
  bool* unwound;
  ~UnwindWitness() { *unwound = true; }
};

TEST_F(SchedulerTest, SystemThreadEndsThroughPsTerminateSystemThread) {
  ExitProbe probe;
  HANDLE handle;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  ASSERT_EQ(PsCreateSystemThread(
                &handle, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr,
                [](PVOID context) {
                  auto* seen = static_cast<ExitProbe*>(context);
                  UnwindWitness witness{&seen->unwound};
                  Sleep100ns(300);
                  PsTerminateSystemThread(STATUS_SUCCESS);
                  seen->afterTerminate = true;
                },
                &probe),
            STATUS_SUCCESS);
  PVOID thread = nullptr;
  ASSERT_EQ(
      ObReferenceObjectByHandle(handle, SYNCHRONIZE, *PsThreadType, KernelMode, &thread, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(Now(), 300u);
  EXPECT_FALSE(probe.afterTerminate);
  EXPECT_TRUE(probe.unwound) << "the thread's stack was unwound";
  ObDereferenceObject(thread);
  CheckLeaksAtTearDown();
}

TEST(SchedulerTeardown, AThreadBlockedWhenTheMachineGoesHasItsStackUnwound) {
  bool unwound = false;
  KEVENT never;
  KeInitializeEvent(&never, NotificationEvent, FALSE);
  {
    HostKernel kernel;
    kernel.StartThread([&] {
      UnwindWitness witness{&unwound};
      KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
    });
    ASSERT_TRUE(kernel.RunPending());
    EXPECT_FALSE(unwound);
  }
  EXPECT_TRUE(unwound);
}

TEST_F(SchedulerTest, RunForStopsAtTheRequestedInstant) {
  int ticks = 0;
  kernel().StartThread([&] {
    for (;;) {
      Sleep100ns(3 * kMs);
      ++ticks;
    }
  });
  ASSERT_TRUE(kernel().RunFor(10 * kMs));
  EXPECT_EQ(Now(), 10 * kMs);
  EXPECT_EQ(ticks, 3);
}

}  // namespace
}  // namespace tarnlink::kernel::testing

namespace tarnlink::kernel::testing {
namespace {

class RealTimeTest : public KernelTest {
 protected:
  HostKernel::Options MachineOptions() const override {
    HostKernel::Options options;
    options.clock = ClockMode::Real;
    return options;
  }
};

TEST_F(RealTimeTest, DelaysFollowTheHostClock) {
  EXPECT_EQ(kernel().Mode(), ClockMode::Real);
  const ULONGLONG start = KeQueryInterruptTime();
  uint64_t woke = 0;
  ASSERT_TRUE(RunInThread([&] {
    Sleep100ns(2 * kMs);
    woke = KeQueryInterruptTime();
  }));
  EXPECT_GE(woke, start + 2 * kMs);
}

TEST_F(SchedulerTest, BugCheckInADpcStopsTheMachineAndReturnsControlToTheHost) {
  ExpectBugCheck(0x1234);
  KDPC dpc;
  KeInitializeDpc(
      &dpc, [](PKDPC, PVOID, PVOID, PVOID) { KeBugCheckEx(0x1234, 0, 0, 0, 0); }, nullptr);
  EXPECT_FALSE(RunInThread([&] { KeInsertQueueDpc(&dpc, nullptr, nullptr); }));
  ASSERT_NE(kernel().Stop(), nullptr);
  EXPECT_EQ(kernel().Stop()->thread, "dpc processor 0");
}

}  // namespace
}  // namespace tarnlink::kernel::testing
