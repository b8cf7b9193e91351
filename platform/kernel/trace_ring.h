// The bounded ring of recent trace points.
#pragma once

#include <mutex>
#include <vector>

#include "kernel/host_kernel.h"

namespace tarnlink::kernel {

class TraceRing {
 public:
  explicit TraceRing(size_t capacity) : entries_(capacity == 0 ? 1 : capacity) {}

  void Record(uint64_t time, uint32_t thread, uint32_t id, uint32_t count, const uint64_t* args);
  std::vector<TraceEntry> Snapshot() const;  // oldest first
  size_t Count(uint32_t id) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<TraceEntry> entries_;
  uint64_t next_ = 0;
};

std::string FormatTrace(const std::vector<TraceEntry>& entries);

}  // namespace tarnlink::kernel
