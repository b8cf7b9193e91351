// The trace ring and the kernel entry point of TRACE_POINT.
#include "kernel/trace_ring.h"

#include <cinttypes>
#include <cstdio>

#include "kernel/machine.h"
#include "kernel/trace.h"

namespace tarnlink::kernel {

void TraceRing::Record(uint64_t time, uint32_t thread, uint32_t id, uint32_t count,
                       const uint64_t* args) {
  std::lock_guard<std::mutex> guard(mutex_);
  TraceEntry& entry = entries_[next_ % entries_.size()];
  entry.sequence = next_++;
  entry.time = time;
  entry.thread = thread;
  entry.id = id;
  entry.argumentCount = count > TRACE_POINT_MAX_ARGS ? TRACE_POINT_MAX_ARGS : count;
  for (uint32_t i = 0; i < TRACE_POINT_MAX_ARGS; ++i)
    entry.arguments[i] = i < entry.argumentCount ? args[i] : 0;
}

std::vector<TraceEntry> TraceRing::Snapshot() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<TraceEntry> out;
  const uint64_t size = entries_.size();
  const uint64_t first = next_ > size ? next_ - size : 0;
  for (uint64_t i = first; i < next_; ++i) out.push_back(entries_[i % size]);
  return out;
}

size_t TraceRing::Count(uint32_t id) const {
  size_t n = 0;
  for (const TraceEntry& entry : Snapshot()) n += entry.id == id ? 1 : 0;
  return n;
}

void TraceRing::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  next_ = 0;
}

std::string FormatTrace(const std::vector<TraceEntry>& entries) {
  std::string out;
  char line[320];
  for (const TraceEntry& entry : entries) {
    int n = std::snprintf(line, sizeof line,
                          "  #%" PRIu64 " t=%" PRIu64 " thread %" PRIu32 " point %" PRIu32,
                          entry.sequence, entry.time, entry.thread, entry.id);
    for (uint32_t i = 0; i < entry.argumentCount && n > 0 && n < static_cast<int>(sizeof line); ++i)
      n += std::snprintf(line + n, sizeof line - n, " 0x%" PRIX64, entry.arguments[i]);
    out += line;
    out += '\n';
  }
  return out;
}

}  // namespace tarnlink::kernel

VOID TraceRecordPoint(ULONG Id, ULONG ArgumentCount, const ULONG64* Arguments) {
  // Code that traces outside a machine (a converter's unit test, say) traces into nothing.
  tarnlink::kernel::Machine* machine = tarnlink::kernel::Machine::CurrentOrNull();
  if (machine == nullptr) return;
  PKTHREAD thread = tarnlink::kernel::Machine::CurrentThreadOrNull();
  machine->trace().Record(machine->Now(), thread != nullptr ? thread->id : 0, Id, ArgumentCount,
                          Arguments);
}
