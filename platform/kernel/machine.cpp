// Creating and tearing down the machine.
#include "kernel/machine.h"

#include "kernel/ps.h"

#include <cstdio>
#include <cstdlib>

namespace tarnlink::kernel {

namespace {

Machine* g_machine = nullptr;

// 2026-01-01T00:00:00Z in 100 ns units since 1601-01-01: the virtual machine's boot time.
constexpr uint64_t kVirtualBootSystemTime = 134116992000000000ull;
// 1970-01-01 in 100 ns units since 1601-01-01.
constexpr uint64_t kUnixEpochSystemTime = 116444736000000000ull;

[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "host kernel: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

Machine* Machine::CurrentOrNull() {
  return g_machine;
}

Machine& Machine::Current() {
  if (g_machine == nullptr) Fatal("kernel call while no machine exists (create a HostKernel)");
  return *g_machine;
}

PKTHREAD Machine::CurrentThread() {
  PKTHREAD thread = CurrentThreadOrNull();
  if (thread == nullptr || g_machine == nullptr)
    Fatal("kernel call from a host thread the machine does not know");
  return thread;
}

std::string Machine::CurrentThreadName() {
  PKTHREAD thread = CurrentThreadOrNull();
  return thread != nullptr ? thread->name : std::string("an unknown host thread");
}

Machine::Machine(const HostKernel::Options& options)
    : mode_(options.clock), trace_(options.traceCapacity) {
  if (g_machine != nullptr) Fatal("only one machine may exist at a time");
  g_machine = this;
  for (LIST_ENTRY& queue : readyQueues_) InitializeListHead(&queue);
  InitializeListHead(&dpcQueue_);
  InitializeListHead(&timerList_);
  InitializeListHead(&threads_);
  InitializeListHead(&workQueue_);
  scheduleSeed_ = options.scheduleSeed;
  if (scheduleSeed_ == 0)
    if (const char* seed = std::getenv("TARNLINK_SCHEDULE_SEED"))
      scheduleSeed_ = std::strtoull(seed, nullptr, 0);
  randomState_ = scheduleSeed_;
  realStart_ = std::chrono::steady_clock::now();
  if (mode_ == ClockMode::Virtual) {
    systemTimeBase_ = kVirtualBootSystemTime;
  } else {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    systemTimeBase_ =
        kUnixEpochSystemTime +
        static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100);
  }
  if (!NT_SUCCESS(PsHostCreateProcess("System", &systemProcess_)))
    Fatal("cannot create the System process");
  hostFiber_ = std::make_unique<Fiber>();
  Lock lock(lock_);
  hostThread_ = CreateThread(lock, ThreadRole::Host, "host", 8, nullptr, OB_FLAG_MACHINE_OWNED);
  hostThread_->state = ThreadState::Running;
  running_ = hostThread_;
  SetCurrentThread(hostThread_);
  dpcProcessor_ = CreateThread(lock, ThreadRole::DpcProcessor, "dpc processor 0", HIGH_PRIORITY,
                               nullptr, OB_FLAG_MACHINE_OWNED);
  dpcProcessor_->state = ThreadState::Idle;
}

Machine::~Machine() {
  Shutdown();
  SetCurrentThread(nullptr);
  g_machine = nullptr;
}

void Machine::Shutdown() {
  {
    Lock lock(lock_);
    dying_ = true;
    // Each thread that ran and has not ended gets the processor once more, to unwind its stack
    // and come back here; threads that never ran have nothing on theirs.
    for (const std::unique_ptr<Fiber>& fiber : fibers_) {
      if (!fiber->started() || fiber->finished()) continue;
      fiber->Resume();
      SetCurrentThread(hostThread_);
    }
  }
  fibers_.clear();
  // Every other thread is gone: what is still alive is freed without calling any driver.
  objects_.DiscardAll();
  systemProcess_ = nullptr;
  PsInitialSystemProcess = nullptr;
}

}  // namespace tarnlink::kernel
