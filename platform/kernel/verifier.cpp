// Stopping the machine: bug checks and deadlocks. The machine records why it stopped, with the
// recent trace points, parks the thread that stopped it and wakes whoever drives the machine.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "kernel/bugcheck.h"
#include "kernel/driver_checks.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

namespace {

const char* ObjectKind(UCHAR type) {
  switch (type) {
    case EventNotificationObject:
      return "notification event";
    case EventSynchronizationObject:
      return "synchronization event";
    case MutantObject:
      return "mutex";
    case ProcessObject:
      return "process";
    case SemaphoreObject:
      return "semaphore";
    case ThreadObject:
      return "thread";
    case TimerNotificationObject:
      return "notification timer";
    case TimerSynchronizationObject:
      return "synchronization timer";
    default:
      return "object";
  }
}

const char* StateName(ThreadState state) {
  switch (state) {
    case ThreadState::Initialized:
      return "not started";
    case ThreadState::Ready:
      return "ready";
    case ThreadState::Running:
      return "running";
    case ThreadState::Waiting:
      return "waiting";
    case ThreadState::Driving:
      return "driving the machine";
    case ThreadState::Idle:
      return "idle";
    case ThreadState::Terminated:
      return "ended";
    case ThreadState::Parked:
      return "parked after the bug check";
  }
  return "?";
}

}  // namespace

std::string Machine::DescribeWait(PKTHREAD thread) const {
  std::ostringstream out;
  out << StateName(thread->state);
  if (thread->state != ThreadState::Waiting) return out.str();
  if (thread->waitCount == 0) out << " in a delay";
  if (thread->waitCount > 1)
    out << (thread->waitType == WaitAll ? " for all of" : " for any of");
  else if (thread->waitCount == 1)
    out << " for";
  for (ULONG i = 0; i < thread->waitCount; ++i) {
    auto* header = static_cast<PDISPATCHER_HEADER>(thread->waitBlocks[i].Object);
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void*>(header));
    out << (i ? ", " : " ") << ObjectKind(header->Type) << ' ' << address << " (state "
        << header->SignalState;
    if (header->Type == MutantObject) {
      auto* mutex = reinterpret_cast<PKMUTANT>(header);
      if (mutex->OwnerThread != nullptr) out << ", owned by " << mutex->OwnerThread->name;
    }
    if (header->Type == ThreadObject)
      out << ", thread " << reinterpret_cast<PKTHREAD>(header)->name;
    out << ')';
  }
  if (thread->waitTimer.timer.Inserted)
    out << ", time-out at " << thread->waitTimer.timer.DueTime.QuadPart;
  return out.str();
}

std::vector<ThreadInfo> Machine::ThreadInfos() const {
  std::vector<ThreadInfo> infos;
  for (PLIST_ENTRY e = threads_.Flink; e != &threads_; e = e->Flink) {
    PKTHREAD thread = reinterpret_cast<const ThreadLink*>(e)->thread;
    infos.push_back({thread->id, thread->name, DescribeWait(thread)});
  }
  return infos;
}

std::string Machine::DescribeThreads() const {
  std::ostringstream out;
  for (const ThreadInfo& info : ThreadInfos())
    out << "  thread " << info.id << " '" << info.name << "': " << info.state << '\n';
  return out.str();
}

void Machine::StopLocked(Lock&, StopInfo::Kind kind, ULONG code, const std::string& reason,
                         const ULONG_PTR (&params)[4]) {
  if (stopped_) return;
  stop_.kind = kind;
  stop_.code = code;
  for (int i = 0; i < 4; ++i) stop_.parameters[i] = params[i];
  stop_.reason = reason;
  stop_.thread = CurrentThreadName();
  stop_.time = Now();
  stop_.trace = trace_.Snapshot();
  std::ostringstream out;
  if (kind == StopInfo::Kind::BugCheck) {
    char head[160];
    std::snprintf(head, sizeof head,
                  "*** BUG CHECK 0x%08" PRIX32 " (0x%" PRIXPTR ", 0x%" PRIXPTR ", 0x%" PRIXPTR
                  ", 0x%" PRIXPTR ")\n",
                  static_cast<uint32_t>(code), params[0], params[1], params[2], params[3]);
    out << head;
  } else {
    out << "*** DEADLOCK\n";
  }
  out << "reason: " << reason << "\nthread: " << stop_.thread << "\ntime: " << stop_.time
      << " (100 ns units since boot)\n";
  if (scheduleSeed_ != 0) out << "schedule seed: " << scheduleSeed_ << '\n';
  out << "threads:\n"
      << DescribeThreads() << "recent trace points (oldest first):\n"
      << FormatTrace(stop_.trace);
  stop_.report = out.str();
  stopped_ = true;
  const bool expected = kind == StopInfo::Kind::BugCheck && bugCheckExpected_ &&
                        (expectedBugCheck_ == 0 || expectedBugCheck_ == code);
  if (!expected) std::fprintf(stderr, "%s", stop_.report.c_str());
}

void Machine::WakeHostAfterStop(PKTHREAD self) {
  if (self == hostThread_ &&
      (self->state == ThreadState::Running || self->state == ThreadState::Driving))
    return;
  if (driving_ != nullptr) {
    HandTo(driving_);
    return;
  }
  if (hostThread_->state == ThreadState::Ready) {
    HandTo(hostThread_);
    return;
  }
  // The host thread itself is blocked in a kernel wait: nobody is left to report to.
  std::fprintf(stderr, "%s\nthe host thread is blocked in a kernel wait; stopping the process\n",
               stop_.report.c_str());
  std::fflush(stderr);
  std::abort();
}

void Machine::ReportDeadlock(Lock& lock) {
  StopLocked(lock, StopInfo::Kind::Deadlock, 0,
             "deadlock: every thread waits and no deadline is pending", {0, 0, 0, 0});
  WakeHostAfterStop(CurrentThreadOrNull());
}

void Machine::BugCheckLocked(Lock& lock, ULONG code, const std::string& reason,
                             const ULONG_PTR (&params)[4]) {
  PKTHREAD self = CurrentThreadOrNull();
  StopLocked(lock, StopInfo::Kind::BugCheck, code, reason, params);
  if (self == nullptr || self == hostThread_) {
    // Driver code on the host thread cannot be parked: the test's own thread would hang.
    std::fprintf(stderr, "%s\nbug check on the host thread; stopping the process\n",
                 stop_.report.c_str());
    std::fflush(stderr);
    std::abort();
  }
  WakeHostAfterStop(self);
  self->state = ThreadState::Parked;
  // Resumed only when the machine goes, which unwinds the parked stack.
  for (;;) RunOther(lock, self);
}

void Machine::BugCheck(ULONG code, const char* reason, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3,
                       ULONG_PTR p4) {
  Lock lock(lock_);
  BugCheckLocked(lock, code, reason != nullptr ? reason : "bug check raised by the driver",
                 {p1, p2, p3, p4});
}

void Verify(ULONG code, const char* reason, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3,
            ULONG_PTR p4) {
  Machine::Current().BugCheck(code, reason, p1, p2, p3, p4);
}

}  // namespace tarnlink::kernel

using tarnlink::kernel::Machine;

VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR BugCheckParameter1, ULONG_PTR BugCheckParameter2,
                  ULONG_PTR BugCheckParameter3, ULONG_PTR BugCheckParameter4) {
  Machine::Current().BugCheck(BugCheckCode, nullptr, BugCheckParameter1, BugCheckParameter2,
                              BugCheckParameter3, BugCheckParameter4);
}

VOID KeBugCheck(ULONG BugCheckCode) {
  KeBugCheckEx(BugCheckCode, 0, 0, 0, 0);
}

void RtlpListCorrupted(PLIST_ENTRY entry) {
  tarnlink::kernel::Verify(KERNEL_SECURITY_CHECK_FAILURE, "linked list corrupted", 3,
                           reinterpret_cast<ULONG_PTR>(entry));
}

VOID KiPagedCodeAtRaisedIrql(KIRQL irql) {
  tarnlink::kernel::Verify(IRQL_NOT_LESS_OR_EQUAL, "paged code ran at DISPATCH_LEVEL or above", 0,
                           irql);
}

VOID KiAssertionFailed(const char* what, ULONG line) {
  tarnlink::kernel::Verify(KMODE_EXCEPTION_NOT_HANDLED, what, STATUS_ASSERTION_FAILURE, line);
}
