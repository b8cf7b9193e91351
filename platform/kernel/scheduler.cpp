// The scheduler: one processor, handed from thread to thread at blocking points. Queued DPCs
// run first, then ready threads by priority in the order they became ready; when nothing can
// run the clock moves to the next deadline, and when nothing is due the machine deadlocked.
#include <pthread.h>

#include "kernel/bugcheck.h"
#include "kernel/machine.h"

namespace tarnlink::kernel {

namespace {
thread_local PKTHREAD t_current = nullptr;
}

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
  const int priority = 31 - __builtin_clz(readyMask_);
  return reinterpret_cast<ThreadLink*>(readyQueues_[priority].Flink)->thread;
}

void Machine::HandTo(PKTHREAD next) {
  if (next->state == ThreadState::Ready) Dequeue(next);
  running_ = next;
  next->state = ThreadState::Running;
  next->sync->baton = true;
  next->sync->cv.notify_one();
}

void Machine::WaitForBaton(Lock& lock, PKTHREAD self) {
  std::shared_ptr<HostThreadSync> sync = self->sync;
  sync->cv.wait(lock, [&] { return sync->baton || sync->die; });
  if (!sync->die) return;
  // The machine is going away. Service threads idle in their own loop return from it; a thread
  // blocked anywhere in driver code has no way back and ends where it stands.
  if (self->state == ThreadState::Idle || self->state == ThreadState::Initialized) return;
  lock.unlock();
  pthread_exit(nullptr);
}

void Machine::SwitchAway(Lock& lock, PKTHREAD self) {
  self->sync->baton = false;
  for (;;) {
    ExpireTimers();
    if (PKTHREAD next = PickNext()) {
      HandTo(next);
      break;
    }
    if (driving_ != nullptr) {
      HandTo(driving_);
      break;
    }
    if (!AdvanceClock(lock)) {
      ReportDeadlock(lock);
      break;
    }
  }
  if (self->state != ThreadState::Terminated) WaitForBaton(lock, self);
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
  thread->sync = std::make_shared<HostThreadSync>();
  if (role == ThreadRole::DpcProcessor) thread->irql = thread->baseIrql = DISPATCH_LEVEL;
  InsertTailList(&threads_, &thread->threadListLink.link);
  if (role != ThreadRole::Host) StartHostThread(thread);
  return thread;
}

void Machine::StartHostThread(PKTHREAD thread) {
  std::shared_ptr<HostThreadSync> sync = thread->sync;
  syncs_.push_back(sync);
  hostThreads_.emplace_back([this, thread, sync] {
    t_current = thread;
    Lock lock(lock_);
    WaitForBaton(lock, thread);
    if (sync->die) return;
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
    // The body lives on this stack: the thread record may go while it still runs (when it
    // ends through PsTerminateSystemThread).
    std::function<void()> body = std::move(thread->body);
    lock.unlock();
    body();
    lock.lock();
    ExitThread(lock, thread, STATUS_SUCCESS);
    // The thread record may be gone now: only the local sync is touched from here on.
  });
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
  SwitchAway(lock, self);
  // Drop the reference the thread held while it ran. The next thread waits for the dispatcher
  // lock, so it sees the object already gone if this was the last reference.
  ULONG error;
  if (objects_.DereferenceKeepingBody(self, &error)) {
    RemoveEntryList(&self->threadListLink.link);
    self->~KTHREAD();
    objects_.Free(self);
  }
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
