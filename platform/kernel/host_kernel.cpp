// HostKernel: the host-side face of the machine.
#include "kernel/host_kernel.h"

#include "kernel/io_state.h"

#include <sstream>
#include <utility>

#include "kernel/bugcheck.h"
#include "kernel/machine.h"
#include "kernel/ob_host.h"

namespace tarnlink::kernel {

HostKernel::HostKernel() : HostKernel(Options{}) {}

HostKernel::HostKernel(const Options& options) : machine_(std::make_unique<Machine>(options)) {
  machine_->host_ = this;
  // A new machine starts with an empty namespace, no device nodes and an empty registry.
  io::ResetIoState();
}

HostKernel::~HostKernel() = default;

HostKernel* HostKernel::Current() {
  Machine* machine = Machine::CurrentOrNull();
  return machine != nullptr ? machine->host_ : nullptr;
}

PKTHREAD HostKernel::StartThread(std::function<void()> body, std::string name, KPRIORITY priority) {
  Lock lock(machine_->lock_);
  PKTHREAD thread = machine_->CreateThread(lock, ThreadRole::System, std::move(name), priority,
                                           std::move(body), OB_FLAG_MACHINE_OWNED);
  if (thread == nullptr) return nullptr;
  lock.unlock();
  ObReferenceObject(thread);  // kept until the machine goes, so the pointer stays valid
  lock.lock();
  machine_->hostStarted_.push_back(thread);
  machine_->ReadyThread(thread);
  return thread;
}

bool HostKernel::RunUntil(const std::function<bool()>& done) {
  return machine_->RunUntil(done, nullptr);
}

bool HostKernel::RunFor(uint64_t duration100ns) {
  const uint64_t deadline = machine_->Now() + duration100ns;
  return machine_->RunUntil([&] { return machine_->Now() >= deadline; }, &deadline);
}

bool HostKernel::RunUntilThreadsEnd(std::initializer_list<PKTHREAD> threads) {
  return RunUntilThreadsEnd(std::vector<PKTHREAD>(threads));
}

bool HostKernel::RunUntilThreadsEnd(const std::vector<PKTHREAD>& threads) {
  return RunUntil([&] {
    for (PKTHREAD thread : threads)
      if (!ThreadEnded(thread)) return false;
    return true;
  });
}

bool HostKernel::RunPending() {
  bool quiet = false;
  // The first check runs before anything else ran; the second comes at the quiet instant.
  return machine_->RunUntil([&] { return std::exchange(quiet, true); }, nullptr);
}

ClockMode HostKernel::Mode() const {
  return machine_->mode();
}
uint64_t HostKernel::InterruptTime() const {
  return machine_->Now();
}

ULONG HostKernel::TimerResolution() const {
  Lock lock(machine_->lock_);
  return machine_->timerResolution();
}

ULONG HostKernel::TimerResolutionRequests() const {
  Lock lock(machine_->lock_);
  return machine_->timerResolutionRequests();
}

bool HostKernel::Stopped() const {
  return machine_->stopped();
}
const StopInfo* HostKernel::Stop() const {
  return machine_->stopInfo();
}
void HostKernel::ExpectBugCheck(ULONG code) {
  machine_->ExpectBugCheck(code);
}
bool HostKernel::BugCheckExpected() const {
  return machine_->bugCheckExpected();
}
ULONG HostKernel::ExpectedBugCheck() const {
  return machine_->expectedBugCheck();
}

uint64_t HostKernel::ScheduleSeed() const {
  return machine_->scheduleSeed();
}

uint64_t HostKernel::ThreadSwitches() const {
  Lock lock(machine_->lock_);
  return machine_->switches();
}

std::vector<ThreadInfo> HostKernel::Threads() const {
  Lock lock(machine_->lock_);
  return machine_->ThreadInfos();
}

bool HostKernel::ThreadEnded(PKTHREAD thread) const {
  Lock lock(machine_->lock_);
  return thread->state == ThreadState::Terminated;
}

std::string HostKernel::ThreadName(PKTHREAD thread) const {
  Lock lock(machine_->lock_);
  return thread->name;
}

PoolTagStats HostKernel::PoolStats(ULONG tag) const {
  return machine_->pool().Stats(tag);
}
PoolTagStats HostKernel::PoolTotals() const {
  return machine_->pool().Totals();
}

std::vector<PoolAllocationInfo> HostKernel::LivePoolAllocations() const {
  return machine_->pool().Live();
}

std::string HostKernel::PoolLeakReport() const {
  std::ostringstream out;
  for (const PoolAllocationInfo& info : machine_->pool().Live()) {
    char tag[5] = {static_cast<char>(info.tag), static_cast<char>(info.tag >> 8),
                   static_cast<char>(info.tag >> 16), static_cast<char>(info.tag >> 24), 0};
    out << "  pool '" << tag << "' " << info.bytes << " bytes, allocation #" << info.sequence
        << " at " << info.address << '\n';
  }
  return out.str();
}

void HostKernel::FailPoolAllocation(uint64_t nth, ULONG tag) {
  machine_->pool().FailNth(nth, tag);
}
void HostKernel::ClearPoolFailures() {
  machine_->pool().ClearFailures();
}
void HostKernel::FailMdlMapping(uint64_t nth) {
  machine_->mappingFailures().FailNth(nth);
}
void HostKernel::FailPageLocking(uint64_t nth) {
  machine_->lockFailures().FailNth(nth);
}

bool HostKernel::DeclareDriverUnloaded() {
  const std::vector<PoolAllocationInfo> live = machine_->pool().Live();
  const SIZE_T handles = ObHostKernelHandleCount();
  const SIZE_T objects = ObHostDriverObjectCount();
  if (live.empty() && handles == 0 && objects == 0) return true;
  std::ostringstream reason;
  reason << "driver unloaded leaving " << live.size() << " pool allocation(s), " << handles
         << " kernel handle(s) and " << objects << " object(s) behind\n"
         << PoolLeakReport();
  // The verifier stops the machine as Windows does; the report goes with the stop.
  Lock lock(machine_->lock_);
  machine_->StopLocked(lock, StopInfo::Kind::BugCheck, DRIVER_VERIFIER_DETECTED_VIOLATION,
                       reason.str(), {0x62, live.size(), handles, objects});
  return false;
}

std::vector<TraceEntry> HostKernel::Trace() const {
  return machine_->trace().Snapshot();
}
bool HostKernel::HasTracePoint(uint32_t id) const {
  return machine_->trace().Count(id) != 0;
}
size_t HostKernel::CountTracePoint(uint32_t id) const {
  return machine_->trace().Count(id);
}
void HostKernel::ClearTrace() {
  machine_->trace().Clear();
}

}  // namespace tarnlink::kernel
