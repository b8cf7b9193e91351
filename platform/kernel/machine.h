// The machine behind HostKernel: scheduler, dispatcher, clock, DPCs, work queue, and the
// parts (pool, trace ring, objects) the kernel API reaches through Machine::Current().
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "kernel/failure_schedule.h"
#include "kernel/fiber.h"
#include "kernel/host_kernel.h"
#include "kernel/ke_thread.h"
#include "kernel/mm_user_mappings.h"
#include "kernel/object_manager.h"
#include "kernel/pool_tracker.h"
#include "kernel/ps_process.h"
#include "kernel/trace_ring.h"

struct _IO_WORKITEM;

namespace tarnlink::kernel {

using Lock = std::unique_lock<std::mutex>;

class Machine {
 public:
  explicit Machine(const HostKernel::Options& options);
  ~Machine();

  // The machine of this process; a kernel call without one stops the process with a message.
  static Machine& Current();
  static Machine* CurrentOrNull();
  static PKTHREAD CurrentThreadOrNull();
  static std::string CurrentThreadName();
  // The calling thread, which must be one the machine knows.
  static PKTHREAD CurrentThread();
  static void SetCurrentThread(PKTHREAD thread);

  // ---- Scheduler (scheduler.cpp). All of these expect the dispatcher lock held. ----
  std::mutex& dispatcherLock() { return lock_; }
  PKTHREAD RunningThread() const { return running_; }
  void ReadyThread(PKTHREAD thread);
  void SetPriority(PKTHREAD thread, KPRIORITY priority);
  // Gives the processor away; returns when the calling thread holds it again.
  void SwitchAway(Lock& lock, PKTHREAD self);
  // A DPC became due while the running thread is below DISPATCH_LEVEL: let it run now.
  void PreemptForDpcs(Lock& lock, PKTHREAD self);
  bool DpcsPending() const { return !IsListEmpty(&dpcQueue_); }
  // Seeded preemption. At a synchronisation point the running thread may give the processor
  // to another ready thread; a spin lock found held by a preempted thread is spun on.
  uint64_t scheduleSeed() const { return scheduleSeed_; }
  uint64_t switches() const { return switches_; }
  void PreemptionPoint(Lock& lock);
  // Host-side platform state (the Win32 layer's) is being changed under a lock of its own:
  // no seeded preemption until it is released. See PreemptionHold.
  void HoldPreemption() { ++preemptionHolds_; }
  void ReleasePreemption() { --preemptionHolds_; }
  // Gives the processor away while the thread whose owner word is in a spin lock the caller
  // wants is preempted; false when the holder cannot run (the lock can never be released).
  bool SpinOn(Lock& lock, ULONG_PTR ownerWord);
  // Returns once no DPC is queued or running.
  void FlushDpcs(Lock& lock, PKTHREAD self);
  PKTHREAD CreateThread(Lock& lock, ThreadRole role, std::string name, KPRIORITY priority,
                        std::function<void()> body, ULONG objectFlags);
  // Ends the calling thread from anywhere on its stack: unwinds to the thread's entry, which
  // ends it with `status`.
  [[noreturn]] static void TerminateCurrentThread(NTSTATUS status);
  bool RunUntil(const std::function<bool()>& done, const uint64_t* deadline);

  // ---- Dispatcher (ke_wait.cpp). Lock held. ----
  NTSTATUS Wait(Lock& lock, ULONG count, PVOID* objects, WAIT_TYPE type, PLARGE_INTEGER timeout,
                PKWAIT_BLOCK blocks, bool alertable);
  void WaitTest(PDISPATCHER_HEADER object);
  void Unwait(PKTHREAD thread, NTSTATUS status);
  void AbandonMutexes(PKTHREAD thread);

  // ---- Lock order (lock_order.cpp). Lock held. ----
  // The calling thread, holding other mutexes or driver locks, is about to wait for `taken` (a
  // mutex or a driver lock): as Windows' deadlock detection does, the machine stops when some
  // thread ever took them the other way round (directly or through other locks), and otherwise
  // remembers this order.
  void CheckLockOrder(Lock& lock, PKTHREAD self, const void* taken);
  // A mutex or driver lock initialised anew (perhaps where another one lived) has no order yet.
  void ForgetLockOrder(const void* mutex);
  // A driver lock (driver_locks.h) is checked as above and then held by the calling thread, or
  // given up by it.
  void AcquireDriverLock(Lock& lock, PKTHREAD self, const void* driverLock);
  void ReleaseDriverLock(Lock& lock, PKTHREAD self, const void* driverLock);

  // ---- Timers and clock (clock.cpp, ke_timer.cpp). ----
  uint64_t Now() const;
  uint64_t SystemTimeBase() const { return systemTimeBase_; }
  // Converts a kernel due time (negative relative, positive absolute) to interrupt time.
  uint64_t DeadlineFrom(LONGLONG dueTime) const;
  void InsertTimer(PKTIMER timer, uint64_t due);
  bool RemoveTimer(PKTIMER timer);
  void ExpireTimers();
  // Moves the clock to the earliest deadline (sleeping in real mode) and expires what is due.
  // False when there is no deadline at all.
  bool AdvanceClock(Lock& lock);
  void StallClock(uint64_t duration);
  ULONG SetTimerResolution(ULONG desired, bool set);
  ULONG timerResolution() const { return timerResolution_; }
  ULONG timerResolutionRequests() const { return timerResolutionRequests_; }
  ClockMode mode() const { return mode_; }
  // Whether [base, base + bytes) holds a timer in the timer list or a queued DPC.
  bool HoldsActiveTimerOrDpc(const void* base, SIZE_T bytes) const;

  // ---- DPCs and work items (ke_dpc.cpp, io_workitem.cpp). Lock held. ----
  bool QueueDpc(PKDPC dpc, PVOID argument1, PVOID argument2);
  bool RemoveDpc(PKDPC dpc);
  void QueueWorkItem(Lock& lock, _IO_WORKITEM* item);

  // ---- Stop (verifier.cpp). ----
  [[noreturn]] void BugCheck(ULONG code, const char* reason, ULONG_PTR p1, ULONG_PTR p2,
                             ULONG_PTR p3, ULONG_PTR p4);
  [[noreturn]] void BugCheckLocked(Lock& lock, ULONG code, const std::string& reason,
                                   const ULONG_PTR (&params)[4]);
  bool stopped() const { return stopped_.load(); }
  const StopInfo* stopInfo() const { return stopped_ ? &stop_ : nullptr; }
  void ExpectBugCheck(ULONG code) {
    bugCheckExpected_ = true;
    expectedBugCheck_ = code;
  }
  bool bugCheckExpected() const { return bugCheckExpected_; }
  ULONG expectedBugCheck() const { return expectedBugCheck_; }
  std::string DescribeThreads() const;
  std::vector<ThreadInfo> ThreadInfos() const;

  PoolTracker& pool() { return pool_; }
  // Injected failures of system-space mappings and of page locking.
  FailureSchedule& mappingFailures() { return mappingFailures_; }
  FailureSchedule& lockFailures() { return lockFailures_; }
  // Driver mappings of non-paged pages into processes.
  UserMappingTable& userMappings() { return userMappings_; }
  TraceRing& trace() { return trace_; }
  ObjectManager& objects() { return objects_; }
  PEPROCESS systemProcess() const { return systemProcess_; }
  HandleTable& kernelHandles() { return *systemProcess_->ObjectTable; }
  PKTHREAD hostThread() const { return hostThread_; }

 private:
  friend class HostKernel;
  void StopLocked(Lock& lock, StopInfo::Kind kind, ULONG code, const std::string& reason,
                  const ULONG_PTR (&params)[4]);
  void ReportDeadlock(Lock& lock);
  PKTHREAD PickNext();
  PKTHREAD PickReadyAtRandom();
  uint64_t NextRandom();
  // The running thread goes back among the ready ones and the processor goes elsewhere.
  void Yield(Lock& lock, PKTHREAD self);
  void Dequeue(PKTHREAD thread);
  void HandTo(PKTHREAD next);
  // Chooses the thread that runs next and marks it running: moves the clock when nothing can
  // run, and stops the machine as deadlocked when nothing is due.
  void Dispatch(Lock& lock);
  // Switches to the thread marked running, unless that is `self`; returns when `self` runs.
  void RunOther(Lock& lock, PKTHREAD self);
  void UnwindForShutdown(Lock& lock, PKTHREAD self);
  static void ThreadEntry(void* thread);
  void RunThreadBody(Lock& lock, PKTHREAD thread);
  // Ends the calling thread: bookkeeping, then the processor goes to the next thread for good.
  [[noreturn]] void ExitThread(Lock& lock, PKTHREAD self, NTSTATUS status);
  void DpcProcessorMain(Lock& lock, PKTHREAD self);
  void WorkerMain(Lock& lock, PKTHREAD self);
  void WakeHostAfterStop(PKTHREAD self);
  void Shutdown();
  std::string DescribeWait(PKTHREAD thread) const;

  std::mutex lock_;  // the dispatcher lock: every scheduler and dispatcher-object field
  // Mutex or driver lock -> the mutexes and driver locks some thread waited for while holding it.
  std::unordered_map<const void*, std::vector<const void*>> lockOrder_;
  ClockMode mode_;
  std::atomic<uint64_t> virtualNow_{0};
  std::chrono::steady_clock::time_point realStart_;
  uint64_t systemTimeBase_ = 0;
  ULONG timerResolution_ = 156250;
  ULONG timerResolutionRequests_ = 0;

  PKTHREAD running_ = nullptr;
  PKTHREAD hostThread_ = nullptr;  // the thread that created the machine
  PKTHREAD driving_ = nullptr;     // the host thread while in RunUntil
  PKTHREAD dpcProcessor_ = nullptr;
  LIST_ENTRY readyQueues_[MAXIMUM_PRIORITY];
  uint32_t readyMask_ = 0;
  uint64_t scheduleSeed_ = 0;
  std::atomic<int> preemptionHolds_{0};  // taken without the dispatcher lock
  uint64_t switches_ = 0;  // times the processor went from one thread to another
  uint64_t randomState_ = 0;
  LIST_ENTRY dpcQueue_;
  LIST_ENTRY timerList_;
  LIST_ENTRY threads_;
  ULONG nextThreadId_ = 8;

  LIST_ENTRY workQueue_;
  std::vector<PKTHREAD> idleWorkers_;
  std::vector<PKTHREAD> workers_;

  std::unique_ptr<Fiber> hostFiber_;  // the stack of the host thread that made the machine
  std::vector<std::unique_ptr<Fiber>> fibers_;  // one per other thread, freed after it ends
  bool dying_ = false;

  std::atomic<bool> stopped_{false};
  StopInfo stop_;
  bool bugCheckExpected_ = false;
  ULONG expectedBugCheck_ = 0;

  PoolTracker pool_;
  FailureSchedule mappingFailures_;
  FailureSchedule lockFailures_;
  UserMappingTable userMappings_;
  TraceRing trace_;
  ObjectManager objects_;
  PEPROCESS systemProcess_ = nullptr;
  std::vector<PKTHREAD> hostStarted_;  // threads started through HostKernel, referenced
  HostKernel* host_ = nullptr;
};

// A synchronisation point outside the dispatcher (interlocked operations): with a schedule
// seed the running thread may be preempted here.
void SynchronisationPoint();

// Bug checks from API code that does not hold the dispatcher lock.
[[noreturn]] void Verify(ULONG code, const char* reason, ULONG_PTR p1 = 0, ULONG_PTR p2 = 0,
                         ULONG_PTR p3 = 0, ULONG_PTR p4 = 0);

}  // namespace tarnlink::kernel
