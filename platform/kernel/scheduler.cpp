// The scheduler: one processor, handed from thread to thread at blocking points. Queued DPCs
// run first, then ready threads by priority in the order they became ready; when nothing can
// run the clock moves to the next deadline, and when nothing is due the machine deadlocked.
// Every thread is a fiber on the host thread that made the machine; the dispatcher lock is held
// across each switch and passes with the processor to the thread that resumes.
#include <exception>

#include "kernel/bugcheck.h"
#include "kernel/fiber.h"
#include "kernel/machine.h"
#include "kernel/preemption_hold.h"

namespace tarnlink::kernel {

namespace {

thread_local PKTHREAD t_current = nullptr;

// Under a schedule seed, one synchronisation point in this many preempts the running thread.
constexpr uint64_t kPreemptOneIn = 4;

// Thrown on a thread's own stack to unwind it to the thread's entry: when the thread ends
// itself, or when the machine goes while the thread is blocked.
struct ThreadUnwind {
  NTSTATUS status;
};

}  // namespace

PKTHREAD Machine::CurrentThreadOrNull() {
  return t_current;
}
void Machine::SetCurrentThread(PKTHREAD thread) {
  t_current = thread;
}

void Machine::ReadyThread(PKTHREAD thread) {
  thread->state = ThreadState::Ready;
  InsertTailList(&readyQueues_[thread->priority], &thread->readyLink.link);
  readyMask_ |= 1u << thread->priority;
}

void Machine::Dequeue(PKTHREAD thread) {
  RemoveEntryList(&thread->readyLink.link);
  if (IsListEmpty(&readyQueues_[thread->priority])) readyMask_ &= ~(1u << thread->priority);
}

void Machine::SetPriority(PKTHREAD thread, KPRIORITY priority) {
  if (thread->state != ThreadState::Ready) {
    thread->priority = priority;
    return;
  }
  Dequeue(thread);
  thread->priority = priority;
  ReadyThread(thread);
}

PKTHREAD Machine::PickNext() {
  if (!IsListEmpty(&dpcQueue_) && dpcProcessor_->state == ThreadState::Idle) return dpcProcessor_;
  if (readyMask_ == 0) return nullptr;
  if (scheduleSeed_ != 0) return PickReadyAtRandom();
  const int priority = 31 - __builtin_clz(readyMask_);
  return reinterpret_cast<ThreadLink*>(readyQueues_[priority].Flink)->thread;
}

PKTHREAD Machine::PickReadyAtRandom() {
  // With more than one processor, any ready thread may be the next to get one, whatever its
  // priority.
  uint64_t count = 0;
  for (const LIST_ENTRY& queue : readyQueues_)
    for (PLIST_ENTRY e = queue.Flink; e != &queue; e = e->Flink) ++count;
  uint64_t pick = NextRandom() % count;
  for (const LIST_ENTRY& queue : readyQueues_)
    for (PLIST_ENTRY e = queue.Flink; e != &queue; e = e->Flink)
      if (pick-- == 0) return reinterpret_cast<ThreadLink*>(e)->thread;
  return nullptr;
}

uint64_t Machine::NextRandom() {
  // splitmix64: the whole state is the seed's walk, so a seed replays its schedule exactly.
  uint64_t z = (randomState_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void Machine::Yield(Lock& lock, PKTHREAD self) {
  ReadyThread(self);
  SwitchAway(lock, self);
}

void Machine::PreemptionPoint(Lock& lock) {
  PKTHREAD self = t_current;
  // The host thread runs the test itself, which expects the machine to stand still meanwhile.
  if (scheduleSeed_ == 0 || self == nullptr || self == hostThread_ || self != running_ ||
      stopped_ || dying_ || preemptionHolds_ != 0)
    return;
  if (NextRandom() % kPreemptOneIn == 0) Yield(lock, self);
}

bool Machine::SpinOn(Lock& lock, ULONG_PTR ownerWord) {
  if (scheduleSeed_ == 0 || stopped_ || dying_) return false;
  for (PLIST_ENTRY e = threads_.Flink; e != &threads_; e = e->Flink) {
    PKTHREAD holder = reinterpret_cast<ThreadLink*>(e)->thread;
    if ((reinterpret_cast<ULONG_PTR>(holder) | 1) != ownerWord) continue;
    if (holder->state != ThreadState::Ready) return false;
    Yield(lock, t_current);
    return true;
  }
  return false;
}

void Machine::FlushDpcs(Lock& lock, PKTHREAD self) {
  PreemptForDpcs(lock, self);
  // A DPC preempted in its routine is still running, as on another processor.
  while (!stopped_ && !dying_ && (DpcsPending() || dpcProcessor_->state == ThreadState::Ready))
    Yield(lock, self);
}

void SynchronisationPoint() {
  Machine* machine = Machine::CurrentOrNull();
  if (machine == nullptr || machine->scheduleSeed() == 0 || t_current == nullptr) return;
  // Platform code may reach here holding the dispatcher lock; that is no place to switch.
  Lock lock(machine->dispatcherLock(), std::try_to_lock);
  if (lock.owns_lock()) machine->PreemptionPoint(lock);
}

void HoldPreemption() {
  if (Machine* machine = Machine::CurrentOrNull()) machine->HoldPreemption();
}

void ReleasePreemption() {
  if (Machine* machine = Machine::CurrentOrNull()) machine->ReleasePreemption();
}

void Machine::HandTo(PKTHREAD next) {
  if (next->state == ThreadState::Ready) Dequeue(next);
  running_ = next;
  next->state = ThreadState::Running;
}

void Machine::Dispatch(Lock& lock) {
  for (;;) {
    ExpireTimers();
    if (PKTHREAD next = PickNext()) {
      HandTo(next);
      return;
    }
    if (driving_ != nullptr) {
      HandTo(driving_);
      return;
    }
    if (!AdvanceClock(lock)) {
      ReportDeadlock(lock);
      return;
    }
  }
}

void Machine::SwitchAway(Lock& lock, PKTHREAD self) {
  if (dying_) {
    UnwindForShutdown(lock, self);
    return;
  }
  Dispatch(lock);
  RunOther(lock, self);
}

void Machine::RunOther(Lock& lock, PKTHREAD self) {
  if (running_ != self) {
    // The dispatcher lock stays held across the switch: it passes with the processor.
    ++switches_;
    running_->fiber->Resume();
    t_current = self;
  }
  if (dying_) UnwindForShutdown(lock, self);
}

void Machine::UnwindForShutdown(Lock& lock, PKTHREAD self) {
  // Service threads idle in their own loop return from it. A thread blocked anywhere else
  // unwinds its stack to its entry; one whose unwinding waits again just returns.
  if (self == hostThread_ || self->state == ThreadState::Idle ||
      self->state == ThreadState::Initialized || std::uncaught_exceptions() > 0)
    return;
  lock.unlock();
  throw ThreadUnwind{STATUS_SUCCESS};
}

void Machine::PreemptForDpcs(Lock& lock, PKTHREAD self) {
  if (self == dpcProcessor_ || self->irql >= DISPATCH_LEVEL || !DpcsPending() || stopped_) return;
  // The interrupted thread resumes first among its priority once the DPCs have run.
  self->state = ThreadState::Ready;
  InsertHeadList(&readyQueues_[self->priority], &self->readyLink.link);
  readyMask_ |= 1u << self->priority;
  SwitchAway(lock, self);
}

PKTHREAD Machine::CreateThread(Lock&, ThreadRole role, std::string name, KPRIORITY priority,
                               std::function<void()> body, ULONG objectFlags) {
  PVOID storage = nullptr;
  if (!NT_SUCCESS(objects_.Create(*PsThreadType, sizeof(KTHREAD), objectFlags, &storage)))
    return nullptr;
  PKTHREAD thread = new (storage) KTHREAD();
  thread->Header.Type = ThreadObject;
  InitializeListHead(&thread->Header.WaitListHead);
  thread->id = nextThreadId_;
  nextThreadId_ += 4;
  thread->name = std::move(name);
  thread->role = role;
  thread->priority = priority;
  thread->readyLink.thread = thread;
  thread->threadListLink.thread = thread;
  thread->waitTimer.thread = thread;
  thread->waitTimer.timer.Header.Type = WaitTimeoutTimerObject;
  InitializeListHead(&thread->waitTimer.timer.Header.WaitListHead);
  InitializeListHead(&thread->mutantList);
  thread->process = systemProcess_;
  thread->body = std::move(body);
  if (role == ThreadRole::DpcProcessor) thread->irql = thread->baseIrql = DISPATCH_LEVEL;
  InsertTailList(&threads_, &thread->threadListLink.link);
  if (role == ThreadRole::Host) {
    thread->fiber = hostFiber_.get();
  } else {
    // The stacks of ended threads go now, when none of them can be running.
    std::erase_if(fibers_, [](const std::unique_ptr<Fiber>& f) { return f->finished(); });
    fibers_.push_back(std::make_unique<Fiber>(&Machine::ThreadEntry, thread));
    thread->fiber = fibers_.back().get();
  }
  return thread;
}

void Machine::ThreadEntry(void* argument) {
  PKTHREAD thread = static_cast<PKTHREAD>(argument);
  t_current = thread;
  Machine& machine = Current();
  // The thread was switched to with the dispatcher lock held: it holds it now.
  Lock lock(machine.lock_, std::adopt_lock);
  NTSTATUS status = STATUS_SUCCESS;
  try {
    machine.RunThreadBody(lock, thread);
  } catch (const ThreadUnwind& unwind) {
    status = unwind.status;
  }
  if (!lock.owns_lock()) lock.lock();
  if (!machine.dying_) {
    try {
      machine.ExitThread(lock, thread, status);
    } catch (const ThreadUnwind&) {
      // Parked by a bug check at its end, and now the machine goes.
    }
    if (!lock.owns_lock()) lock.lock();
  }
  lock.release();
  Fiber::Exit(*machine.hostFiber_);
}

void Machine::RunThreadBody(Lock& lock, PKTHREAD thread) {
  switch (thread->role) {
    case ThreadRole::DpcProcessor:
      DpcProcessorMain(lock, thread);
      return;
    case ThreadRole::Worker:
      WorkerMain(lock, thread);
      return;
    default:
      break;
  }
  // The body lives on this stack: the thread record may go while it still runs (when it ends
  // through PsTerminateSystemThread).
  std::function<void()> body = std::move(thread->body);
  lock.unlock();
  body();
  lock.lock();
}

void Machine::TerminateCurrentThread(NTSTATUS status) {
  // Unwinds to the thread's entry, which ends it with this status.
  throw ThreadUnwind{status};
}

void Machine::ExitThread(Lock& lock, PKTHREAD self, NTSTATUS status) {
  if (self->role == ThreadRole::Host)
    BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                   "the host thread cannot end through the kernel", {0x1100, 0, 0, 0});
  if (self->irql != PASSIVE_LEVEL || self->heldCount != 0)
    BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                   "system thread ended above PASSIVE_LEVEL or holding a spin lock",
                   {0x1101, self->irql, static_cast<ULONG_PTR>(self->heldCount), 0});
  AbandonMutexes(self);
  self->exitStatus = status;
  self->state = ThreadState::Terminated;
  self->Header.SignalState = 1;
  WaitTest(&self->Header);
  Dispatch(lock);
  Fiber& next = *running_->fiber;
  // Drop the reference the thread held while it ran; the next thread finds the object already
  // gone if this was the last reference.
  ULONG error;
  if (objects_.DereferenceKeepingBody(self, &error)) {
    RemoveEntryList(&self->threadListLink.link);
    self->~KTHREAD();
    objects_.Free(self);
  }
  lock.release();
  ++switches_;
  Fiber::Exit(next);
}

bool Machine::RunUntil(const std::function<bool()>& done, const uint64_t* deadline) {
  Lock lock(lock_);
  PKTHREAD self = t_current;
  if (self != hostThread_ || running_ != self || self->irql != PASSIVE_LEVEL)
    BugCheckLocked(lock, DRIVER_VERIFIER_DETECTED_VIOLATION,
                   "the machine is driven only by its host thread at PASSIVE_LEVEL",
                   {0x1102, 0, 0, 0});
  bool result = false;
  if (deadline != nullptr) InsertTimer(&self->waitTimer.timer, *deadline);
  for (;;) {
    if (stopped_) break;
    lock.unlock();
    const bool finished = done();
    lock.lock();
    if (finished) {
      result = !stopped_;
      break;
    }
    driving_ = self;
    self->state = ThreadState::Driving;
    SwitchAway(lock, self);
    driving_ = nullptr;
    if (stopped_) break;
    // Quiet at this instant: nothing can run until time moves.
    lock.unlock();
    const bool quietDone = done();
    lock.lock();
    if (quietDone) {
      result = true;
      break;
    }
    if (!AdvanceClock(lock)) {
      self->state = ThreadState::Driving;  // as the report should show it
      ReportDeadlock(lock);
      self->state = ThreadState::Running;
      break;
    }
  }
  RemoveTimer(&self->waitTimer.timer);
  return result;
}

}  // namespace tarnlink::kernel
