// The kernel's thread record (host side). Drivers see PKTHREAD only as an opaque pointer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kernel/ke_types.h"
#include "kernel/ntstatus.h"

namespace tarnlink::kernel {

class Fiber;

enum class ThreadState {
  Initialized,  // created, never ran
  Ready,        // may run, queued by priority
  Running,      // holds the processor
  Waiting,      // in a kernel wait
  Driving,      // the host side waits for a quiet instant (RunUntil)
  Idle,         // a DPC processor or system worker with nothing to do
  Terminated,   // ended
  Parked,       // stopped the machine with a bug check; never runs again
};

enum class ThreadRole { Host, System, DpcProcessor, Worker };

// Internal timer kinds beside the drivers' KTIMERs in the timer list.
enum : UCHAR { WaitTimeoutTimerObject = 0x7E };

constexpr int kMaxHeldSpinLocks = 16;

// Links of a thread in the scheduler's lists and its wait timer; standard-layout records, so
// that the owning thread is found from the link.
struct ThreadLink {
  LIST_ENTRY link;
  PKTHREAD thread;
};
struct WaitTimer {
  KTIMER timer;
  PKTHREAD thread;
};

struct HeldSpinLock {
  PKSPIN_LOCK lock;
  KIRQL oldIrql;
  bool restoresIrql;  // acquired with KeAcquireSpinLock (not AtDpcLevel)
};

}  // namespace tarnlink::kernel

struct _KTHREAD {
  DISPATCHER_HEADER Header;  // signalled when the thread has ended

  ULONG id = 0;
  std::string name;
  tarnlink::kernel::ThreadRole role = tarnlink::kernel::ThreadRole::System;
  tarnlink::kernel::ThreadState state = tarnlink::kernel::ThreadState::Initialized;
  KIRQL irql = PASSIVE_LEVEL;
  KIRQL baseIrql = PASSIVE_LEVEL;  // the lowest IRQL this thread may run at
  KPRIORITY priority = 8;
  tarnlink::kernel::ThreadLink readyLink{};
  tarnlink::kernel::ThreadLink threadListLink{};

  // Current wait.
  KWAIT_BLOCK ownWaitBlocks[THREAD_WAIT_OBJECTS + 1]{};
  PKWAIT_BLOCK waitBlocks = nullptr;
  ULONG waitCount = 0;
  WAIT_TYPE waitType = WaitAny;
  NTSTATUS waitStatus = STATUS_SUCCESS;
  tarnlink::kernel::WaitTimer waitTimer{};  // time-out of the current wait (or of RunUntil)

  // Mutexes owned, for abandonment when the thread ends.
  LIST_ENTRY mutantList{};
  // Locks of the driver's own making that the thread holds (driver_locks.h), in taking order.
  std::vector<const void*> driverLocks;
  tarnlink::kernel::HeldSpinLock held[tarnlink::kernel::kMaxHeldSpinLocks]{};
  int heldCount = 0;

  PEPROCESS process = nullptr;
  PEPROCESS attachedProcess = nullptr;

  PKSTART_ROUTINE startRoutine = nullptr;
  PVOID startContext = nullptr;
  std::function<void()> body;
  NTSTATUS exitStatus = STATUS_SUCCESS;
  tarnlink::kernel::Fiber* fiber = nullptr;  // owned by the machine: it outlives the record
};
