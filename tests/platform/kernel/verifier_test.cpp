// Each misuse the verifier knows stops the machine with its bug check, in the offending thread,
// and the report names the reason; the host thread gets control back.
#include <gmock/gmock.h>

#include <functional>

#include "kernel/bugcheck.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::kernel::testing {
namespace {

constexpr ULONG kTag = PoolTag("Test");

struct Misuse {
  const char* name;
  ULONG code;
  const char* reason;  // part of the report's reason
  std::function<void()> body;
};

void PrintTo(const Misuse& misuse, std::ostream* out) {
  *out << misuse.name;
}

const Misuse kMisuses[] = {
    {"PagedCodeAtDispatch", IRQL_NOT_LESS_OR_EQUAL, "paged code ran at DISPATCH_LEVEL",
     [] {
       KIRQL old;
       KeRaiseIrql(DISPATCH_LEVEL, &old);
       PAGED_CODE();
     }},
    {"FailedAssertion", KMODE_EXCEPTION_NOT_HANDLED, "assertion failed: 1 + 1 == 3",
     [] { NT_ASSERT(1 + 1 == 3); }},
    {"WaitWithTimeoutAtDispatch", IRQL_NOT_LESS_OR_EQUAL, "non-zero time-out",
     [] {
       KEVENT event;
       KeInitializeEvent(&event, NotificationEvent, FALSE);
       KIRQL old;
       KeRaiseIrql(DISPATCH_LEVEL, &old);
       LARGE_INTEGER timeout;
       timeout.QuadPart = -10000;
       KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout);
     }},
    {"MutexAtDispatch", IRQL_NOT_LESS_OR_EQUAL, "mutex acquired at DISPATCH_LEVEL",
     [] {
       KMUTEX mutex;
       KeInitializeMutex(&mutex, 0);
       KIRQL old;
       KeRaiseIrql(DISPATCH_LEVEL, &old);
       LARGE_INTEGER zero{};
       KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero);
     }},
    {"SpinLockReleasedNotHeld", SPIN_LOCK_NOT_OWNED, "does not hold",
     [] {
       KSPIN_LOCK lock;
       KeInitializeSpinLock(&lock);
       KIRQL old;
       KeRaiseIrql(DISPATCH_LEVEL, &old);
       KeReleaseSpinLock(&lock, old);
     }},
    {"SpinLockAcquiredTwice", SPIN_LOCK_ALREADY_OWNED, "again by its owner",
     [] {
       KSPIN_LOCK lock;
       KeInitializeSpinLock(&lock);
       KIRQL old;
       KeAcquireSpinLock(&lock, &old);
       KeAcquireSpinLockAtDpcLevel(&lock);
     }},
    {"SpinLockReleasedWithWrongIrql", DRIVER_VERIFIER_DETECTED_VIOLATION, "other than the one",
     [] {
       KSPIN_LOCK lock;
       KeInitializeSpinLock(&lock);
       KIRQL old;
       KeRaiseIrql(APC_LEVEL, &old);
       KIRQL saved;
       KeAcquireSpinLock(&lock, &saved);
       KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
     }},
    {"MutexOrderInverted", DRIVER_VERIFIER_DETECTED_VIOLATION, "lock order inversion",
     [] {
       KMUTEX first;
       KMUTEX second;
       KMUTEX third;
       KeInitializeMutex(&first, 0);
       KeInitializeMutex(&second, 0);
       KeInitializeMutex(&third, 0);
       const auto take = [](KMUTEX& m) {
         KeWaitForSingleObject(&m, Executive, KernelMode, FALSE, nullptr);
       };
       // first before second, second before third; then third before first closes the cycle.
       take(first);
       take(second);
       KeReleaseMutex(&second, FALSE);
       KeReleaseMutex(&first, FALSE);
       take(second);
       take(third);
       KeReleaseMutex(&third, FALSE);
       KeReleaseMutex(&second, FALSE);
       take(third);
       take(first);
     }},
    {"DriverLockOrderInverted", DRIVER_VERIFIER_DETECTED_VIOLATION, "lock order inversion",
     [] {
       // A polled word of the driver's, told to the verifier, orders with mutexes as a mutex.
       KMUTEX mutex;
       KeInitializeMutex(&mutex, 0);
       LONG word = 0;
       VERIFIER_LOCK_INITIALIZED(&word);
       KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
       VERIFIER_LOCK_ACQUIRE(&word);
       VERIFIER_LOCK_RELEASE(&word);
       KeReleaseMutex(&mutex, FALSE);
       VERIFIER_LOCK_ACQUIRE(&word);
       KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
     }},
    {"DriverLockReleasedNotHeld", DRIVER_VERIFIER_DETECTED_VIOLATION, "does not hold it",
     [] {
       LONG word = 0;
       VERIFIER_LOCK_INITIALIZED(&word);
       VERIFIER_LOCK_RELEASE(&word);
     }},
    {"MutexReleasedByNonOwner", KMODE_EXCEPTION_NOT_HANDLED, "does not own",
     [] {
       KMUTEX mutex;
       KeInitializeMutex(&mutex, 0);
       KeReleaseMutex(&mutex, FALSE);
     }},
    {"LowerIrqlAboveCurrent", IRQL_NOT_LESS_OR_EQUAL, "KeLowerIrql to a higher IRQL",
     [] { KeLowerIrql(DISPATCH_LEVEL); }},
    {"RaiseIrqlBelowCurrent", IRQL_NOT_GREATER_OR_EQUAL, "KeRaiseIrql to a lower IRQL",
     [] {
       KIRQL old;
       KeRaiseIrql(DISPATCH_LEVEL, &old);
       KeRaiseIrql(PASSIVE_LEVEL, &old);
     }},
    {"SemaphoreBeyondLimit", KMODE_EXCEPTION_NOT_HANDLED, "beyond its limit",
     [] {
       KSEMAPHORE semaphore;
       KeInitializeSemaphore(&semaphore, 1, 2);
       KeReleaseSemaphore(&semaphore, 0, 2, FALSE);
     }},
    {"DoubleFree", BAD_POOL_CALLER, "freed twice",
     [] {
       PVOID p = ExAllocatePool2(POOL_FLAG_NON_PAGED, 32, kTag);
       ExFreePoolWithTag(p, kTag);
       ExFreePoolWithTag(p, kTag);
     }},
    {"FreeWithWrongTag", BAD_POOL_CALLER, "tag other than",
     [] { ExFreePoolWithTag(ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, kTag), PoolTag("Oops")); }},
    {"FreeOfForeignPointer", BAD_POOL_CALLER, "never gave",
     [] {
       static char notPool[16];
       ExFreePool(notPool);
     }},
    {"FreeOfPoolHoldingAQueuedTimer", 0xC7, "active timer",
     [] {
       auto* timer =
           static_cast<PKTIMER>(ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(KTIMER), kTag));
       KeInitializeTimer(timer);
       LARGE_INTEGER due;
       due.QuadPart = -10000;
       KeSetTimer(timer, due, nullptr);
       ExFreePoolWithTag(timer, kTag);
     }},
    {"UninitialisedEvent", DRIVER_VERIFIER_DETECTED_VIOLATION, "not an initialised",
     [] {
       KEVENT event{};
       LARGE_INTEGER zero{};
       KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero);
     }},
    {"ThreadEndsHoldingASpinLock", DRIVER_VERIFIER_DETECTED_VIOLATION, "holding a spin lock",
     [] {
       static KSPIN_LOCK lock = 0;
       KIRQL old;
       KeAcquireSpinLock(&lock, &old);
     }},
    {"DpcQueuedUninitialised", DRIVER_VERIFIER_DETECTED_VIOLATION, "before KeInitializeDpc",
     [] {
       KDPC dpc{};
       KeInsertQueueDpc(&dpc, nullptr, nullptr);
     }},
    {"KernelHandleClosedTwice", INVALID_KERNEL_HANDLE, "not open",
     [] {
       HANDLE thread;
       OBJECT_ATTRIBUTES attributes;
       InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
       PsCreateSystemThread(
           &thread, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr, [](PVOID) {}, nullptr);
       ZwClose(thread);
       ZwClose(thread);
     }},
    {"DriverBugCheck", 0xDEAD, "raised by the driver", [] { KeBugCheckEx(0xDEAD, 1, 2, 3, 4); }},
};

class VerifierTest : public KernelTest, public ::testing::WithParamInterface<Misuse> {};

TEST_P(VerifierTest, StopsTheMachineWithItsBugCheck) {
  const Misuse& misuse = GetParam();
  ExpectBugCheck(misuse.code);
  TRACE_POINT(4242, 7);
  EXPECT_FALSE(RunInThread(misuse.body, "offender"));
  const StopInfo* stop = kernel().Stop();
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->kind, StopInfo::Kind::BugCheck);
  EXPECT_EQ(stop->code, misuse.code);
  EXPECT_THAT(stop->reason, ::testing::HasSubstr(misuse.reason));
  EXPECT_EQ(stop->thread, "offender");
  EXPECT_THAT(stop->report, ::testing::HasSubstr("point 4242 0x7")) << "the trace ring is printed";
}

INSTANTIATE_TEST_SUITE_P(Misuses, VerifierTest, ::testing::ValuesIn(kMisuses),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(KernelTest, PoolLeftAtUnloadStopsTheMachineWithTheLeakReport) {
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  PVOID leaked = ExAllocatePool2(POOL_FLAG_NON_PAGED, 24, PoolTag("Leak"));
  ASSERT_NE(leaked, nullptr);
  EXPECT_FALSE(kernel().DeclareDriverUnloaded());
  ASSERT_NE(kernel().Stop(), nullptr);
  EXPECT_EQ(kernel().Stop()->parameters[0], 0x62u);
  EXPECT_THAT(kernel().Stop()->report, ::testing::HasSubstr("pool 'Leak' 24 bytes"));
}

TEST_F(KernelTest, NothingLeftAtUnloadPassesTheCheck) {
  CheckLeaksAtTearDown();
  ExFreePoolWithTag(ExAllocatePool2(POOL_FLAG_NON_PAGED, 24, PoolTag("Fine")), PoolTag("Fine"));
}

}  // namespace
}  // namespace tarnlink::kernel::testing
