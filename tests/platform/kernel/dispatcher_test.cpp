// Dispatcher objects and waits, in virtual time: who wakes, with which status, at which instant.
#include <gmock/gmock.h>

#include <vector>

#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

using ::testing::ElementsAre;

class DispatcherTest : public KernelTest {
 protected:
  // Relative due time in milliseconds.
  static LARGE_INTEGER After(LONGLONG ms) {
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10000;
    return t;
  }
  static void Sleep(LONGLONG ms) {
    LARGE_INTEGER t = After(ms);
    KeDelayExecutionThread(KernelMode, FALSE, &t);
  }
  PKTHREAD Waiter(PVOID object, std::vector<int>* woken, int id) {
    return kernel().StartThread([object, woken, id] {
      EXPECT_EQ(KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr),
                STATUS_SUCCESS);
      woken->push_back(id);
    });
  }
};

TEST_F(DispatcherTest, NotificationEventReleasesEveryWaiterAndStaysSet) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  std::vector<int> woken;
  PKTHREAD a = Waiter(&event, &woken, 1), b = Waiter(&event, &woken, 2);
  ASSERT_TRUE(kernel().RunPending());
  EXPECT_TRUE(woken.empty());
  EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({a, b}));
  EXPECT_THAT(woken, ElementsAre(1, 2));
  EXPECT_EQ(KeReadStateEvent(&event), 1);
  EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1) << "previous state is returned";
  EXPECT_EQ(KeResetEvent(&event), 1);
  EXPECT_EQ(KeResetEvent(&event), 0);
}

TEST_F(DispatcherTest, SynchronizationEventReleasesOneWaiterPerSetInArrivalOrder) {
  KEVENT event;
  KeInitializeEvent(&event, SynchronizationEvent, FALSE);
  std::vector<int> woken;
  PKTHREAD a = Waiter(&event, &woken, 1), b = Waiter(&event, &woken, 2);
  ASSERT_TRUE(kernel().RunPending());
  KeSetEvent(&event, EVENT_INCREMENT, FALSE);
  ASSERT_TRUE(kernel().RunPending());
  EXPECT_THAT(woken, ElementsAre(1));
  EXPECT_EQ(KeReadStateEvent(&event), 0) << "the woken waiter consumed the signal";
  KeSetEvent(&event, EVENT_INCREMENT, FALSE);
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({a, b}));
  EXPECT_THAT(woken, ElementsAre(1, 2));
  // Set with nobody waiting: stays set until one wait takes it.
  KeSetEvent(&event, EVENT_INCREMENT, FALSE);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
}

TEST_F(DispatcherTest, MutexIsRecursiveAndPassesOnOnlyWhenFullyReleased) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 0);
  std::vector<int> order;
  PKTHREAD owner = kernel().StartThread([&] {
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    order.push_back(1);
    Sleep(2);
    EXPECT_EQ(KeReleaseMutex(&mutex, FALSE), -1);
    Sleep(2);
    order.push_back(2);
    EXPECT_EQ(KeReleaseMutex(&mutex, FALSE), 0);
  });
  PKTHREAD other = kernel().StartThread([&] {
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    order.push_back(3);
    EXPECT_EQ(Now(), 4 * kMs) << "acquired at the instant of the last release";
    KeReleaseMutex(&mutex, FALSE);
  });
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({owner, other}));
  EXPECT_THAT(order, ElementsAre(1, 2, 3));
  EXPECT_EQ(KeReadStateMutex(&mutex), 1);
}

TEST_F(DispatcherTest, MutexOfAnEndedThreadIsAbandonedToTheNextWaiter) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 0);
  KEVENT other;
  KeInitializeEvent(&other, NotificationEvent, FALSE);
  PKTHREAD owner = kernel().StartThread([&] {
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    Sleep(1);
  });
  NTSTATUS status = STATUS_PENDING;
  PKTHREAD waiter = kernel().StartThread([&] {
    PVOID objects[2] = {&other, &mutex};
    status = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr,
                                      nullptr);
    KeReleaseMutex(&mutex, FALSE);
    LARGE_INTEGER zero{};
    // Once taken, the mutex is no longer abandoned.
    EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    KeReleaseMutex(&mutex, FALSE);
  });
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({owner, waiter}));
  EXPECT_EQ(status, STATUS_ABANDONED_WAIT_0 + 1);
}

TEST_F(DispatcherTest, SemaphoreCountsDownAndReleasesReturnThePreviousCount) {
  KSEMAPHORE semaphore;
  KeInitializeSemaphore(&semaphore, 2, 3);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
  EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
  std::vector<int> woken;
  PKTHREAD a = Waiter(&semaphore, &woken, 1), b = Waiter(&semaphore, &woken, 2),
           c = Waiter(&semaphore, &woken, 3);
  ASSERT_TRUE(kernel().RunPending());
  EXPECT_EQ(KeReleaseSemaphore(&semaphore, SEMAPHORE_INCREMENT, 2, FALSE), 0);
  ASSERT_TRUE(kernel().RunPending());
  EXPECT_THAT(woken, ElementsAre(1, 2));
  EXPECT_EQ(KeReadStateSemaphore(&semaphore), 0);
  KeReleaseSemaphore(&semaphore, SEMAPHORE_INCREMENT, 3, FALSE);
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({a, b, c}));
  EXPECT_EQ(KeReadStateSemaphore(&semaphore), 2);
}

TEST_F(DispatcherTest, WaitAnyAndWaitAllEndAtExactInstants) {
  KEVENT e0, e1;
  KeInitializeEvent(&e0, NotificationEvent, FALSE);
  KeInitializeEvent(&e1, SynchronizationEvent, FALSE);
  struct Outcome {
    NTSTATUS status;
    uint64_t at;
  };
  std::vector<Outcome> outcomes;
  PKTHREAD setter = kernel().StartThread([&] {
    Sleep(3);
    KeSetEvent(&e1, IO_NO_INCREMENT, FALSE);
    Sleep(4);
    KeSetEvent(&e0, IO_NO_INCREMENT, FALSE);
    Sleep(1);
    KeSetEvent(&e1, IO_NO_INCREMENT, FALSE);
  });
  PKTHREAD waiter = kernel().StartThread([&] {
    PVOID objects[2] = {&e0, &e1};
    LARGE_INTEGER timeout = After(5);
    auto record = [&](NTSTATUS s) { outcomes.push_back({s, Now()}); };
    // Any: e1 at 3 ms.
    record(KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, &timeout,
                                    nullptr));
    // All, 2 ms time-out: e0 comes at 7 ms only, so the wait times out at 5 ms.
    timeout = After(2);
    record(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, &timeout,
                                    nullptr));
    // All without time-out: e0 at 7 ms, e1 again at 8 ms.
    record(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, nullptr,
                                    nullptr));
    // Absolute time-out 1 ms after now.
    LARGE_INTEGER absolute;
    KeQuerySystemTime(&absolute);
    absolute.QuadPart += 1 * kMs;
    KeResetEvent(&e0);
    record(KeWaitForSingleObject(&e0, Executive, KernelMode, FALSE, &absolute));
  });
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({setter, waiter}));
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(outcomes[0].status, STATUS_WAIT_1);
  EXPECT_EQ(outcomes[0].at, 3 * kMs);
  EXPECT_EQ(outcomes[1].status, STATUS_TIMEOUT);
  EXPECT_EQ(outcomes[1].at, 5 * kMs);
  EXPECT_EQ(outcomes[2].status, STATUS_WAIT_0);
  EXPECT_EQ(outcomes[2].at, 8 * kMs);
  EXPECT_EQ(KeReadStateEvent(&e1), 0) << "wait-all consumed the synchronization event";
  EXPECT_EQ(outcomes[3].status, STATUS_TIMEOUT);
  EXPECT_EQ(outcomes[3].at, 9 * kMs);
}

TEST_F(DispatcherTest, ThreadObjectSignalsWhenTheThreadEnds) {
  PKTHREAD worker = kernel().StartThread([] { Sleep(2); }, "worker");
  NTSTATUS status = STATUS_PENDING;
  PKTHREAD watcher = kernel().StartThread([&] {
    status = KeWaitForSingleObject(worker, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(Now(), 2 * kMs);
  });
  ASSERT_TRUE(kernel().RunUntilThreadsEnd({watcher}));
  EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_TRUE(kernel().ThreadEnded(worker));
}

}  // namespace
}  // namespace tarnlink::kernel::testing
