// Pool bookkeeping of one machine: every live block with its tag, per-tag counts, injected
// failures, and the addresses freed since, to tell a double free from a stray pointer.
#pragma once

#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/host_kernel.h"

namespace tarnlink::kernel {

class PoolTracker {
 public:
  ~PoolTracker();

  struct Block {
    ULONG tag;
    SIZE_T bytes;
    uint64_t sequence;
  };
  enum class FreeResult { Ok, NeverAllocated, DoubleFree, WrongTag };

  // Returns null when the allocation fails (injected or out of memory).
  void* Allocate(SIZE_T bytes, ULONG tag, bool zero);
  FreeResult Free(void* p, ULONG tag, bool checkTag, Block* freed);
  bool Find(const void* p, Block* block) const;

  void FailNth(uint64_t nth, ULONG tag);
  void ClearFailures();

  PoolTagStats Stats(ULONG tag) const;
  PoolTagStats Totals() const;
  std::vector<PoolAllocationInfo> Live() const;

 private:
  bool ShouldFail(ULONG tag);

  struct FailureRule {
    uint64_t remaining;
    ULONG tag;
  };
  mutable std::mutex mutex_;
  std::unordered_map<void*, Block> live_;
  std::unordered_set<uintptr_t> freed_;  // addresses only: never dereferenced
  std::map<ULONG, PoolTagStats> stats_;
  std::vector<FailureRule> failures_;
  uint64_t sequence_ = 0;
};

}  // namespace tarnlink::kernel
