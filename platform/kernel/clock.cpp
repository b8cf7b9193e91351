// The machine clock and the kernel's time services. Every time the kernel reports derives from
// one interrupt-time count in 100 ns units: virtual (moved by the scheduler) or the host's
// monotonic clock.
#include <thread>

#include "kernel/ke.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

namespace {
constexpr ULONG kDefaultResolution = 156250;  // 15.625 ms, the default clock tick
constexpr ULONG kFinestResolution = 5000;     // 0.5 ms
}  // namespace

uint64_t Machine::Now() const {
  if (mode_ == ClockMode::Virtual) return virtualNow_.load(std::memory_order_relaxed);
  const auto elapsed = std::chrono::steady_clock::now() - realStart_;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100);
}

uint64_t Machine::DeadlineFrom(LONGLONG dueTime) const {
  const uint64_t now = Now();
  if (dueTime < 0) return now + static_cast<uint64_t>(-dueTime);
  const uint64_t absolute = static_cast<uint64_t>(dueTime);
  // An absolute time before boot (or 0) is already due.
  if (absolute <= systemTimeBase_) return now;
  const uint64_t due = absolute - systemTimeBase_;
  return due < now ? now : due;
}

bool Machine::AdvanceClock(Lock& lock) {
  if (IsListEmpty(&timerList_)) return false;
  const uint64_t due =
      CONTAINING_RECORD(timerList_.Flink, KTIMER, TimerListEntry)->DueTime.QuadPart;
  if (mode_ == ClockMode::Virtual) {
    if (due > virtualNow_) virtualNow_ = due;
  } else if (due > Now()) {
    lock.unlock();
    std::this_thread::sleep_until(realStart_ + std::chrono::nanoseconds(due * 100));
    lock.lock();
  }
  ExpireTimers();
  return true;
}

void Machine::StallClock(uint64_t duration) {
  if (mode_ == ClockMode::Virtual) {
    virtualNow_ += duration;
  } else {
    const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(duration * 100);
    while (std::chrono::steady_clock::now() < until) {
    }
  }
}

ULONG Machine::SetTimerResolution(ULONG desired, bool set) {
  if (set) {
    ++timerResolutionRequests_;
    timerResolution_ = desired < kFinestResolution    ? kFinestResolution
                       : desired > kDefaultResolution ? kDefaultResolution
                                                      : desired;
  } else if (timerResolutionRequests_ > 0 && --timerResolutionRequests_ == 0) {
    timerResolution_ = kDefaultResolution;
  }
  return timerResolution_;
}

}  // namespace tarnlink::kernel

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency) {
  if (PerformanceFrequency != nullptr) PerformanceFrequency->QuadPart = 10000000;
  LARGE_INTEGER counter;
  counter.QuadPart = static_cast<LONGLONG>(Machine::Current().Now());
  return counter;
}

ULONGLONG KeQueryInterruptTime() {
  return Machine::Current().Now();
}

ULONGLONG KeQueryInterruptTimePrecise(PULONGLONG QpcTimeStamp) {
  const ULONGLONG now = Machine::Current().Now();
  if (QpcTimeStamp != nullptr) *QpcTimeStamp = now;
  return now;
}

VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime) {
  Machine& machine = Machine::Current();
  CurrentTime->QuadPart = static_cast<LONGLONG>(machine.SystemTimeBase() + machine.Now());
}

VOID KeQuerySystemTimePrecise(PLARGE_INTEGER CurrentTime) {
  KeQuerySystemTime(CurrentTime);
}

ULONG KeQueryTimeIncrement() {
  return 156250;
}

VOID KeQueryTickCount(PLARGE_INTEGER TickCount) {
  TickCount->QuadPart = static_cast<LONGLONG>(Machine::Current().Now() / KeQueryTimeIncrement());
}

ULONG ExSetTimerResolution(ULONG DesiredTime, BOOLEAN SetResolution) {
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  return machine.SetTimerResolution(DesiredTime, SetResolution != FALSE);
}

VOID KeStallExecutionProcessor(ULONG MicroSeconds) {
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  // The processor is busy for that long: in virtual time the clock moves with it.
  machine.StallClock(static_cast<uint64_t>(MicroSeconds) * 10);
}
