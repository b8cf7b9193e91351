// The machine's kernel, host side. A test or the simulated machine creates one HostKernel (one
// at a time per process); it owns the clock, the scheduler, the pool, the trace ring, the
// verifier and the object manager. Product code never includes this header.
//
// Scheduling: every thread the kernel knows runs on a fiber of the host thread that created
// the machine, so only one of them runs at any moment. The running thread hands the processor
// on when it blocks (waits, delays, ending), when a DPC becomes due while it runs below
// DISPATCH_LEVEL, or when it drives the machine from the host side (RunUntil). The next thread
// is chosen deterministically: queued DPCs first, then ready threads by priority, first readied
// first. In virtual time the clock moves only when nothing can run, straight to the earliest
// deadline; when nothing can run and nothing is due, the machine has deadlocked and stops with
// a report.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "kernel/ke_types.h"
#include "kernel/ntstatus.h"

namespace tarnlink::kernel {

class Machine;

enum class ClockMode { Virtual, Real };

struct TraceEntry {
  uint64_t sequence = 0;
  uint64_t time = 0;  // interrupt time, 100 ns units
  uint32_t thread = 0;
  uint32_t id = 0;
  uint32_t argumentCount = 0;
  uint64_t arguments[8] = {};
};

// Why the machine stopped.
struct StopInfo {
  enum class Kind { BugCheck, Deadlock } kind = Kind::BugCheck;
  ULONG code = 0;  // bug check code; 0 for a deadlock
  ULONG_PTR parameters[4] = {};
  std::string reason;
  std::string thread;  // name of the thread that stopped the machine
  uint64_t time = 0;
  std::vector<TraceEntry> trace;  // the ring at the moment of the stop, oldest first
  std::string report;             // everything above, printable
};

struct PoolTagStats {
  uint64_t liveCount = 0;
  uint64_t liveBytes = 0;
  uint64_t totalCount = 0;
  uint64_t totalBytes = 0;
  uint64_t failedCount = 0;
};

struct PoolAllocationInfo {
  ULONG tag = 0;
  uint64_t bytes = 0;
  uint64_t sequence = 0;  // allocation number since the machine started
  const void* address = nullptr;
};

struct ThreadInfo {
  uint32_t id = 0;
  std::string name;
  std::string state;  // "running", "ready", "waiting for ...", "ended", "parked"
};

class HostKernel {
 public:
  struct Options {
    ClockMode clock = ClockMode::Virtual;
    size_t traceCapacity = 4096;
    // Non-zero: the scheduler preempts at synchronisation points and picks among ready threads
    // in an order drawn from this seed, as a multiprocessor would interleave them. 0 takes the
    // seed from the environment variable TARNLINK_SCHEDULE_SEED, and without it the schedule
    // is the deterministic one described above.
    uint64_t scheduleSeed = 0;
  };

  HostKernel();
  explicit HostKernel(const Options& options);
  ~HostKernel();
  HostKernel(const HostKernel&) = delete;
  HostKernel& operator=(const HostKernel&) = delete;

  // The machine alive in this process, or null.
  static HostKernel* Current();

  // Starts a known PASSIVE_LEVEL thread in the System process. It runs when the calling thread
  // next gives up the processor. The returned pointer stays valid while the machine lives.
  PKTHREAD StartThread(std::function<void()> body, std::string name = "thread",
                       KPRIORITY priority = 8);

  // Drives the machine from the calling (test) thread: lets every other thread run, and
  // advances time when they all wait, until done() holds at a quiet instant. Returns false
  // when the machine stopped instead (bug check or deadlock).
  bool RunUntil(const std::function<bool()>& done);
  // Runs for a span of machine time (100 ns units) from now.
  bool RunFor(uint64_t duration100ns);
  // Runs until every listed thread has ended.
  bool RunUntilThreadsEnd(std::initializer_list<PKTHREAD> threads);
  bool RunUntilThreadsEnd(const std::vector<PKTHREAD>& threads);
  // Lets everything that can run at the current instant run, without advancing time.
  bool RunPending();

  // Clock.
  ClockMode Mode() const;
  uint64_t InterruptTime() const;  // 100 ns units since boot
  // The resolution requested through ExSetTimerResolution (100 ns units) and how many
  // requests are outstanding.
  ULONG TimerResolution() const;
  ULONG TimerResolutionRequests() const;

  // Stop state.
  bool Stopped() const;
  const StopInfo* Stop() const;  // null while running
  // Marks a bug check as expected, so the fixture does not report it as a failure.
  void ExpectBugCheck(ULONG code);
  bool BugCheckExpected() const;
  ULONG ExpectedBugCheck() const;

  // The seed of this machine's preemptions; 0 when it runs the default schedule.
  uint64_t ScheduleSeed() const;
  // How often the processor went from one thread to another, for measuring the scheduler.
  uint64_t ThreadSwitches() const;

  // Threads.
  std::vector<ThreadInfo> Threads() const;
  bool ThreadEnded(PKTHREAD thread) const;
  std::string ThreadName(PKTHREAD thread) const;

  // Pool accounting.
  PoolTagStats PoolStats(ULONG tag) const;
  PoolTagStats PoolTotals() const;
  std::vector<PoolAllocationInfo> LivePoolAllocations() const;
  std::string PoolLeakReport() const;
  // Makes the nth matching allocation from now fail (n = 1: the next one). tag 0 matches any.
  void FailPoolAllocation(uint64_t nth, ULONG tag = 0);
  void ClearPoolFailures();
  // Makes the nth kernel mapping of an MDL from now fail (MmGetSystemAddressForMdlSafe then
  // gives null), or the nth MmProbeAndLockPages raise as a buffer it cannot lock would.
  void FailMdlMapping(uint64_t nth);
  void FailPageLocking(uint64_t nth);

  // Checks what a driver must have given back when it unloads: pool, kernel handles and
  // object references. A leak stops the machine with a bug check and returns false.
  bool DeclareDriverUnloaded();

  // Trace ring.
  std::vector<TraceEntry> Trace() const;
  bool HasTracePoint(uint32_t id) const;
  size_t CountTracePoint(uint32_t id) const;
  void ClearTrace();

  Machine& machine() { return *machine_; }

 private:
  std::unique_ptr<Machine> machine_;
};

// Multi-character pool tag in the byte order Windows prints it: PoolTag("USBA").
constexpr ULONG PoolTag(const char (&text)[5]) {
  return static_cast<ULONG>(static_cast<unsigned char>(text[0])) |
         static_cast<ULONG>(static_cast<unsigned char>(text[1])) << 8 |
         static_cast<ULONG>(static_cast<unsigned char>(text[2])) << 16 |
         static_cast<ULONG>(static_cast<unsigned char>(text[3])) << 24;
}

}  // namespace tarnlink::kernel
